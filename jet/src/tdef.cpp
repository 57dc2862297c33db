#include "jet/tdef.h"

#include <algorithm>
#include <unordered_set>

#include "jet/text.h"

namespace jet {

bool IsLongValueType(std::uint8_t t) {
    return t == kColOle || t == kColMemo;
}

std::size_t TypeSize(std::uint8_t type) {
    switch (type) {
        case kColByte:
            return 1;
        case kColInt:
            return 2;
        case kColLong:
        case kColFloat:
            return 4;
        case kColMoney:
        case kColDouble:
        case kColDateTime:
            return 8;
        case kColGuid:
            return 16;
        case kColNumeric:
            return 17;
        default:
            return 0;
    }
}

std::vector<const Column*> TableDef::ColumnsInOrder() const {
    std::vector<const Column*> v;
    for (const auto& c : columns) v.push_back(&c);
    std::stable_sort(v.begin(), v.end(), [](auto* a, auto* b) { return a->number < b->number; });
    return v;
}

const Column* TableDef::FindColumn(std::uint16_t number) const {
    for (const auto& c : columns)
        if (c.number == number) return &c;
    return nullptr;
}

FieldPos TableDef::Where(std::size_t at) const {
    // Continuation pages repeat the page header; their data starts at the same place in
    // both versions.
    const std::size_t head = kJet4Tdef.continuation_data;
    static_assert(kJet3Tdef.continuation_data == kJet4Tdef.continuation_data);
    if (pages.empty() || page_size <= head) return {};
    if (at < page_size) return {pages[0], static_cast<std::uint32_t>(at)};
    std::size_t rest = at - page_size, k = rest / (page_size - head);
    if (k + 1 >= pages.size()) return {pages.back(), page_size};
    return {pages[k + 1], static_cast<std::uint32_t>(head + rest % (page_size - head))};
}

namespace {

std::string ReadName(Bytes b, std::size_t& at, bool jet3) {
    const std::size_t len_size = TdefLayout::For(jet3).name_length_size;
    std::size_t len = len_size == 1 ? U8(b, at) : U16(b, at);
    at += len_size;
    Bytes raw = Slice(b, at, len);
    at += len;
    return DecodeText(raw, jet3);
}

}  // namespace

TableDef ReadTableDef(PageFile& file, std::uint32_t page) {
    TableDef t;
    t.page = page;
    t.page_size = file.page_size();
    const bool j3 = file.jet3();
    const TdefLayout lay = TdefLayout::For(j3);
    const ColumnLayout col = ColumnLayout::For(j3);
    const RealIndexLayout real = RealIndexLayout::For(j3);
    const LogicalIndexLayout logical = LogicalIndexLayout::For(j3);
    const LongValueColumnLayout lvcol = kLongValueColumn;
    std::unordered_set<std::uint32_t> seen;
    std::uint32_t p = page;
    while (p != 0) {
        if (!seen.insert(p).second)
            ThrowFormat("table definition chain at page " + std::to_string(page) + " loops");
        if (seen.size() > 4096)
            ThrowFormat("table definition at page " + std::to_string(page) + " is too long");
        if (!file.Contains(p))
            ThrowFormat("table definition at page " + std::to_string(page) +
                        " continues past the end of the file");
        Page pg = file.Read(p);
        if (pg.type() != kPageTdef)
            ThrowFormat("page " + std::to_string(p) + " is not a table definition page (type " +
                        std::to_string(pg.type()) + ")");
        auto b = pg.bytes();
        if (t.pages.empty())
            t.bytes.assign(b.begin(), b.end());
        else
            t.bytes.insert(t.bytes.end(), b.begin() + lay.continuation_data, b.end());
        t.pages.push_back(p);
        p = U32(b, lay.next_page);
    }
    Bytes b(t.bytes);
    t.definition_length = U32(b, lay.definition_length);
    t.row_count_at = lay.row_count;
    t.row_count = U32(b, t.row_count_at);
    t.autonumber = U32(b, lay.autonumber);
    t.table_type = U8(b, lay.table_type);
    t.max_columns = U16(b, lay.max_columns);
    t.var_column_count = U16(b, lay.var_columns);
    t.column_count = U16(b, lay.column_count);
    t.logical_index_count = U32(b, lay.logical_index_count);
    t.real_index_count = U32(b, lay.real_index_count);
    t.owned_map_at = lay.owned_map;
    t.free_map_at = lay.free_map;
    t.owned_map = UnpackRowPtr(U32(b, t.owned_map_at));
    t.free_map = UnpackRowPtr(U32(b, t.free_map_at));

    // Counts are bounded by what the bytes can hold before anything is reserved.
    if (t.real_index_count > b.size() / lay.real_index_header_size ||
        t.column_count > b.size() / col.size || t.logical_index_count > b.size() / logical.size)
        ThrowFormat("table definition at page " + std::to_string(page) + " has impossible counts");
    std::size_t at = lay.real_index_headers;
    std::vector<std::uint32_t> real_rows;
    for (std::uint32_t i = 0; i < t.real_index_count; ++i) {
        real_rows.push_back(U32(b, at + lay.real_index_header_rows));
        at += lay.real_index_header_size;
    }
    for (std::uint16_t i = 0; i < t.column_count; ++i) {
        Column c;
        c.block_at = at;
        Need(b, at, col.size, "column definition");
        c.type = U8(b, at + col.type);
        c.number = U16(b, at + col.number);
        c.var_index = U16(b, at + col.var_index);
        c.precision = U8(b, at + col.precision);
        c.scale = U8(b, at + col.scale);
        c.flags = U8(b, at + col.flags);
        c.fixed_offset = U16(b, at + col.fixed_offset);
        c.length = U16(b, at + col.length);
        t.columns.push_back(c);
        at += col.size;
    }
    for (auto& c : t.columns) c.name = ReadName(b, at, j3);
    for (std::uint32_t i = 0; i < t.real_index_count; ++i) {
        RealIndex r;
        r.row_count = real_rows[i];
        r.block_at = at;
        Need(b, at, real.size, "index definition");
        std::size_t q = at + real.skip;
        for (std::size_t k = 0; k < real.column_slots; ++k) {
            std::size_t slot = q + real.columns + real.column_slot_size * k;
            std::uint16_t column = U16(b, slot);
            if (column != kNoIndexColumn)
                r.columns.push_back({column, U8(b, slot + real.column_order)});
        }
        r.map_at = q + real.map;
        r.root_at = q + real.root;
        r.map = UnpackRowPtr(U32(b, r.map_at));
        r.root = U32(b, r.root_at);
        r.flags_at = q + real.flags;
        r.flags = U8(b, r.flags_at);
        t.real_indexes.push_back(std::move(r));
        at += real.size;
    }
    for (std::uint32_t i = 0; i < t.logical_index_count; ++i) {
        LogicalIndex l;
        l.block_at = at;
        Need(b, at, logical.size, "logical index definition");
        std::size_t q = at + logical.skip;
        l.number = U32(b, q + logical.number);
        l.real_index = U32(b, q + logical.real_index);
        l.related_table_type = U8(b, q + logical.related_table_type);
        l.related_index = static_cast<std::int32_t>(U32(b, q + logical.related_index));
        l.related_table_at = q + logical.related_table;
        l.related_table = U32(b, l.related_table_at);
        l.cascade_updates = U8(b, q + logical.cascade_updates);
        l.cascade_deletes = U8(b, q + logical.cascade_deletes);
        l.type = U8(b, q + logical.type);
        t.logical_indexes.push_back(std::move(l));
        at += logical.size;
    }
    for (auto& l : t.logical_indexes) l.name = ReadName(b, at, j3);
    // Long-value column list: until its end mark (tolerate a definition that ends first).
    while (at + sizeof(std::uint16_t) <= b.size()) {
        std::uint16_t column = U16(b, at + lvcol.column);
        if (column == kLongValueListEnd) break;
        if (at + lvcol.size > b.size()) break;
        LongValueColumn l;
        l.column = column;
        l.at = at;
        l.owned_map_at = at + lvcol.owned_map;
        l.free_map_at = at + lvcol.free_map;
        l.owned_map = UnpackRowPtr(U32(b, l.owned_map_at));
        l.free_map = UnpackRowPtr(U32(b, l.free_map_at));
        t.long_value_columns.push_back(l);
        at += lvcol.size;
        if (t.long_value_columns.size() > t.columns.size() + 1) break;
    }
    for (const auto& l : t.logical_indexes)
        if (l.real_index >= t.real_index_count)
            ThrowFormat("table definition at page " + std::to_string(page) + ": index '" + l.name +
                        "' refers to a missing index");
    return t;
}

}  // namespace jet
