#include "jet/index_key.h"

#include <algorithm>

#include "jet/format.h"
#include "jet/table.h"
#include "text_key.h"

namespace jet {

namespace {

// Flag bytes that start each column's part of a key.
constexpr std::uint8_t kAscendingValue = 0x7F;
constexpr std::uint8_t kDescendingValue = 0x80;
constexpr std::uint8_t kAscendingNull = 0x00;
constexpr std::uint8_t kDescendingNull = 0xFF;
// A yes/no value in an ascending key (descending keys swap them).
constexpr std::uint8_t kAscendingYes = 0x00;
constexpr std::uint8_t kAscendingNo = 0xFF;
// Binary and GUID keys: data in groups of this many bytes, each followed by a byte
// that says how many of them hold data, or kMoreGroups when another group follows.
constexpr std::size_t kGroupSize = 8;
constexpr std::uint8_t kMoreGroups = 9;
// The collation name both "General" orders go by (a Windows locale id, US English).
constexpr std::uint16_t kGeneralSortOrder = 1033;

// The first `n` bytes of a little-endian value, most significant first (missing bytes
// of a malformed value read as zero).
void BigEndian(Bytes b, std::size_t n, std::uint8_t* to) {
    for (std::size_t i = 0; i < n; ++i) to[i] = n - 1 - i < b.size() ? b[n - 1 - i] : 0;
}

void Flip(std::uint8_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) p[i] = static_cast<std::uint8_t>(~p[i]);
}

void AppendGroups(const std::uint8_t* data, std::size_t size, bool ascending,
                  std::vector<std::uint8_t>& out) {
    while (size > kGroupSize) {
        const std::size_t at = out.size();
        out.insert(out.end(), data, data + kGroupSize);
        // A descending key flips the data but not the "more follows" mark.
        if (!ascending) Flip(out.data() + at, kGroupSize);
        out.push_back(kMoreGroups);
        data += kGroupSize;
        size -= kGroupSize;
    }
    if (size == 0) return;
    const std::size_t at = out.size();
    out.insert(out.end(), data, data + size);
    out.resize(at + kGroupSize, 0);
    out.push_back(static_cast<std::uint8_t>(size));
    if (!ascending) Flip(out.data() + at, kGroupSize + 1);
}

}  // namespace

TextSortOrder ColumnSortOrder(const TableDef& table, const Column& column, bool jet3,
                              std::uint32_t database_order) {
    const ColumnLayout lay = ColumnLayout::For(jet3);
    Bytes b(table.bytes);
    std::uint16_t value = 0;
    std::uint8_t version = 0;
    if (column.block_at + lay.size <= b.size()) {
        value = U16(b, column.block_at + lay.sort_order);
        if (lay.sort_version != 0) version = U8(b, column.block_at + lay.sort_version);
    }
    if (value == 0) {
        // The database's order: Jet 4 keeps its version in the top byte of the field.
        value = static_cast<std::uint16_t>(database_order & 0xFFFF);
        version = static_cast<std::uint8_t>(database_order >> 24);
    }
    if (value != kGeneralSortOrder) return TextSortOrder::Unsupported;
    if (jet3) return TextSortOrder::General97;
    if (version == 0) return TextSortOrder::GeneralLegacy;
    if (version == 1) return TextSortOrder::General;
    return TextSortOrder::Unsupported;
}

std::optional<IndexKeyEncoder> IndexKeyEncoder::Make(const TableDef& table, std::size_t index,
                                                     bool jet3, std::uint32_t database_order,
                                                     std::string* why) {
    const RealIndex& ri = table.real_indexes[index];
    IndexKeyEncoder e;
    e.jet3_ = jet3;
    e.ignore_nulls_ = ri.flags & kIndexIgnoreNulls;
    auto fail = [&](const std::string& reason) -> std::optional<IndexKeyEncoder> {
        if (why) *why = reason;
        return std::nullopt;
    };
    for (const IndexColumn& ic : ri.columns) {
        auto it = std::find_if(table.columns.begin(), table.columns.end(),
                               [&](const Column& c) { return c.number == ic.column; });
        if (it == table.columns.end())
            return fail("the index names column " + std::to_string(ic.column) +
                        ", which the table does not have");
        Part part;
        part.type = it->type;
        part.ascending = ic.order == 1;
        switch (it->type) {
            case kColBool:
            case kColByte:
            case kColInt:
            case kColLong:
            case kColMoney:
            case kColFloat:
            case kColDouble:
            case kColDateTime:
            case kColNumeric:
            case kColGuid:
            case kColBinary:
                break;
            case kColText:
            case kColMemo:
                part.order = ColumnSortOrder(table, *it, jet3, database_order);
                if (part.order == TextSortOrder::Unsupported || !TextKeysSupported(part.order))
                    return fail("column '" + it->name + "' has a text sort order keys cannot be "
                                "made in");
                break;
            default:
                return fail("column '" + it->name + "' has a type keys cannot be made of (" +
                            std::to_string(it->type) + ")");
        }
        e.fields_.push_back(static_cast<std::size_t>(it - table.columns.begin()));
        e.parts_.push_back(part);
    }
    return e;
}

bool IsUniqueIndex(const TableDef& table, std::size_t index) {
    if (table.real_indexes[index].flags & kIndexUnique) return true;
    for (const LogicalIndex& li : table.logical_indexes)
        if (li.real_index == index && li.type == kPrimaryKeyIndex) return true;
    return false;
}

bool IndexKeyEncoder::HasEntry(std::span<const KeyValue> values) const {
    if (!ignore_nulls_) return true;
    for (std::size_t i = 0; i < values.size(); ++i)
        if (parts_[i].type == kColBool || !values[i].null) return true;
    return false;
}

void IndexKeyEncoder::Encode(std::span<const KeyValue> values,
                             std::vector<std::uint8_t>& out) const {
    out.clear();
    for (std::size_t i = 0; i < parts_.size(); ++i) {
        const Part& p = parts_[i];
        const KeyValue& v = values[i];
        if (p.type == kColBool) {
            out.push_back(p.ascending ? kAscendingValue : kDescendingValue);
            const std::uint8_t yes = p.ascending ? kAscendingYes : kAscendingNo;
            const std::uint8_t no = p.ascending ? kAscendingNo : kAscendingYes;
            out.push_back(v.yes ? yes : no);
            continue;
        }
        if (v.null) {
            out.push_back(p.ascending ? kAscendingNull : kDescendingNull);
            continue;
        }
        out.push_back(p.ascending ? kAscendingValue : kDescendingValue);
        const std::size_t at = out.size();
        switch (p.type) {
            case kColByte:
                out.push_back(v.bytes.empty() ? 0 : v.bytes[0]);
                if (!p.ascending) Flip(out.data() + at, 1);
                break;
            case kColInt:
            case kColLong:
            case kColMoney: {
                // Two's complement with the sign bit flipped sorts as unsigned bytes.
                const std::size_t n = TypeSize(p.type);
                out.resize(at + n);
                BigEndian(v.bytes, n, out.data() + at);
                out[at] ^= 0x80;
                if (!p.ascending) Flip(out.data() + at, n);
                break;
            }
            case kColFloat:
            case kColDouble:
            case kColDateTime: {
                // IEEE sign and magnitude: a negative value's bits all flipped sort in
                // reverse, a positive value's sign bit flipped sorts above them.
                const std::size_t n = TypeSize(p.type);
                out.resize(at + n);
                BigEndian(v.bytes, n, out.data() + at);
                const bool negative = out[at] & 0x80;
                if (!negative) out[at] ^= 0x80;
                if (negative == p.ascending) Flip(out.data() + at, n);
                break;
            }
            case kColNumeric: {
                // A sign byte, then the magnitude's four 32-bit words, each stored
                // little-endian, most significant word first: keyed big-endian, with
                // the sign byte 0xFF for positive values and 0x00 for negative ones
                // (Jet 3 / 4 order the descending negative values this way too).
                out.resize(at + 17);
                const bool negative = !v.bytes.empty() && (v.bytes[0] & 0x80);
                for (std::size_t w = 0; w < 4; ++w)
                    BigEndian(v.bytes.size() >= 1 + 4 * (w + 1) ? v.bytes.subspan(1 + 4 * w, 4)
                                                                : Bytes{},
                              4, out.data() + at + 1 + 4 * w);
                if (negative == p.ascending) Flip(out.data() + at, 17);
                out[at] = negative ? 0x00 : 0xFF;
                break;
            }
            case kColGuid: {
                // The GUID's first three fields are stored little-endian; the key
                // takes them in their textual (big-endian) order.
                std::uint8_t g[16] = {};
                std::copy_n(v.bytes.begin(), std::min<std::size_t>(16, v.bytes.size()), g);
                std::reverse(g, g + 4);
                std::reverse(g + 4, g + 6);
                std::reverse(g + 6, g + 8);
                AppendGroups(g, 16, p.ascending, out);
                break;
            }
            case kColBinary:
                AppendGroups(v.bytes.data(), v.bytes.size(), p.ascending, out);
                break;
            case kColText:
            case kColMemo:
                AppendTextKey(p.order, v.bytes, jet3_, p.ascending, out);
                break;
            default:
                break;
        }
    }
}

void IndexKeyEncoder::ValuesOf(Bytes row, const CrackedRow& cracked, TableReader& reader,
                               std::vector<KeyValue>& values,
                               std::vector<std::vector<std::uint8_t>>& scratch) const {
    values.resize(fields_.size());
    scratch.resize(fields_.size());
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        const FieldRef& f = cracked.fields[fields_[i]];
        KeyValue& v = values[i];
        v = KeyValue{};
        if (parts_[i].type == kColBool) {
            v.null = false;
            v.yes = f.bool_value;
            continue;
        }
        if (f.null) continue;
        v.null = false;
        v.bytes = Slice(row, f.begin, f.size);
        if (parts_[i].type == kColMemo) {
            scratch[i] = reader.ReadLongValue(v.bytes).data;
            v.bytes = scratch[i];
        }
    }
}

}  // namespace jet
