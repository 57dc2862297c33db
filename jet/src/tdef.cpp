#include "jet/tdef.h"

#include <algorithm>
#include <unordered_set>

#include "jet/text.h"

namespace jet {

const char* ColumnTypeName(std::uint8_t t) {
    switch (t) {
        case kColBool:
            return "Boolean";
        case kColByte:
            return "Byte";
        case kColInt:
            return "Integer";
        case kColLong:
            return "Long Integer";
        case kColMoney:
            return "Currency";
        case kColFloat:
            return "Single";
        case kColDouble:
            return "Double";
        case kColDateTime:
            return "DateTime";
        case kColBinary:
            return "Binary";
        case kColText:
            return "Text";
        case kColOle:
            return "OLE";
        case kColMemo:
            return "Memo";
        case kColGuid:
            return "Replication ID";
        case kColNumeric:
            return "Numeric";
        default:
            return "Unknown";
    }
}

bool IsLongValueType(std::uint8_t t) {
    return t == kColOle || t == kColMemo;
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

const LongValueColumn* TableDef::LongValueMapsOf(std::uint16_t column) const {
    for (const auto& l : long_value_columns)
        if (l.column == column) return &l;
    return nullptr;
}

FieldPos TableDef::Where(std::size_t at) const {
    if (pages.empty() || page_size <= 8) return {};
    if (at < page_size) return {pages[0], static_cast<std::uint32_t>(at)};
    std::size_t rest = at - page_size, k = rest / (page_size - 8);
    if (k + 1 >= pages.size()) return {pages.back(), page_size};
    return {pages[k + 1], static_cast<std::uint32_t>(8 + rest % (page_size - 8))};
}

namespace {

std::string ReadName(Bytes b, std::size_t& at, bool jet3) {
    std::size_t len;
    if (jet3) {
        len = U8(b, at);
        at += 1;
    } else {
        len = U16(b, at);
        at += 2;
    }
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
            t.bytes.insert(t.bytes.end(), b.begin() + 8, b.end());
        t.pages.push_back(p);
        p = U32(b, 4);
    }
    Bytes b(t.bytes);
    t.definition_length = U32(b, 8);
    t.row_count_at = j3 ? 0x0C : 0x10;
    t.row_count = U32(b, t.row_count_at);
    t.autonumber = U32(b, j3 ? 0x10 : 0x14);
    std::size_t base = j3 ? 0x14 : 0x28;
    t.table_type = U8(b, base);
    t.max_columns = U16(b, base + 1);
    t.var_column_count = U16(b, base + 3);
    t.column_count = U16(b, base + 5);
    t.logical_index_count = U32(b, base + 7);
    t.real_index_count = U32(b, base + 11);
    t.owned_map_at = base + 15;
    t.free_map_at = base + 19;
    t.owned_map = UnpackRowPtr(U32(b, t.owned_map_at));
    t.free_map = UnpackRowPtr(U32(b, t.free_map_at));

    // Counts are bounded by what the bytes can hold before anything is reserved.
    const std::size_t real_hdr = j3 ? 8 : 12, col_size = j3 ? 18 : 25, real_size = j3 ? 39 : 52,
                      logical_size = j3 ? 20 : 28;
    if (t.real_index_count > b.size() / real_hdr || t.column_count > b.size() / col_size ||
        t.logical_index_count > b.size() / logical_size)
        ThrowFormat("table definition at page " + std::to_string(page) + " has impossible counts");
    std::size_t at = base + 23;
    std::vector<std::uint32_t> real_rows;
    for (std::uint32_t i = 0; i < t.real_index_count; ++i) {
        real_rows.push_back(U32(b, at + (j3 ? 4 : 4)));
        at += real_hdr;
    }
    for (std::uint16_t i = 0; i < t.column_count; ++i) {
        Column c;
        c.block_at = at;
        Need(b, at, col_size, "column definition");
        c.type = U8(b, at);
        if (j3) {
            c.number = U16(b, at + 1);
            c.var_index = U16(b, at + 3);
            c.precision = U8(b, at + 11);
            c.scale = U8(b, at + 12);
            c.flags = U8(b, at + 13);
            c.fixed_offset = U16(b, at + 14);
            c.length = U16(b, at + 16);
        } else {
            c.number = U16(b, at + 5);
            c.var_index = U16(b, at + 7);
            c.precision = U8(b, at + 11);
            c.scale = U8(b, at + 12);
            c.flags = U8(b, at + 15);
            c.fixed_offset = U16(b, at + 21);
            c.length = U16(b, at + 23);
        }
        t.columns.push_back(c);
        at += col_size;
    }
    for (auto& c : t.columns) c.name = ReadName(b, at, j3);
    for (std::uint32_t i = 0; i < t.real_index_count; ++i) {
        RealIndex r;
        r.row_count = real_rows[i];
        r.block_at = at;
        Need(b, at, real_size, "index definition");
        std::size_t q = at + (j3 ? 0 : 4);
        for (int k = 0; k < 10; ++k) {
            std::uint16_t col = U16(b, q + 3 * k);
            if (col != 0xFFFF) r.columns.push_back({col, U8(b, q + 3 * k + 2)});
        }
        r.map_at = q + 30;
        r.root_at = q + 34;
        r.map = UnpackRowPtr(U32(b, r.map_at));
        r.root = U32(b, r.root_at);
        r.flags = U8(b, q + 38);
        t.real_indexes.push_back(std::move(r));
        at += real_size;
    }
    for (std::uint32_t i = 0; i < t.logical_index_count; ++i) {
        LogicalIndex l;
        l.block_at = at;
        Need(b, at, logical_size, "logical index definition");
        std::size_t q = at + (j3 ? 0 : 4);
        l.number = U32(b, q);
        l.real_index = U32(b, q + 4);
        l.related_table_type = U8(b, q + 8);
        l.related_index = static_cast<std::int32_t>(U32(b, q + 9));
        l.related_table_at = q + 13;
        l.related_table = U32(b, q + 13);
        l.cascade_updates = U8(b, q + 17);
        l.cascade_deletes = U8(b, q + 18);
        l.type = U8(b, q + 19);
        t.logical_indexes.push_back(std::move(l));
        at += logical_size;
    }
    for (auto& l : t.logical_indexes) l.name = ReadName(b, at, j3);
    // Long-value column list: until 0xFFFF (tolerate a definition that ends first).
    while (at + 2 <= b.size()) {
        std::uint16_t col = U16(b, at);
        if (col == 0xFFFF) break;
        if (at + 10 > b.size()) break;
        LongValueColumn l;
        l.column = col;
        l.at = at;
        l.owned_map = UnpackRowPtr(U32(b, at + 2));
        l.free_map = UnpackRowPtr(U32(b, at + 6));
        t.long_value_columns.push_back(l);
        at += 10;
        if (t.long_value_columns.size() > t.columns.size() + 1) break;
    }
    for (const auto& l : t.logical_indexes)
        if (l.real_index >= t.real_index_count)
            ThrowFormat("table definition at page " + std::to_string(page) + ": index '" + l.name +
                        "' refers to a missing index");
    return t;
}

}  // namespace jet
