#include "jet/row.h"

#include <cassert>

namespace jet {

namespace {

inline void CheckVarOffset(std::uint32_t offset, std::uint32_t prior, std::size_t limit) {
    if (offset > limit) ThrowFormat("variable column offset past the row");
    if (offset < prior) ThrowFormat("variable column offsets out of order");
}

// Jet 3 rows keep one-byte offsets; each jump-table entry names the first variable
// column (or the end entry) whose offset is jump_span further on. The table has
// (row size - 1) / jump_span entries even when the last one is not needed (then 0xFF).
void ReadVarOffsetsJet3(Bytes row, std::size_t mask_size, unsigned count,
                        std::vector<std::uint32_t>& out) {
    constexpr RowLayout lay = kJet3Row;
    static_assert(lay.var_entry_size == 1);
    std::size_t n = row.size();
    std::size_t jumps = (n - 1) / lay.jump_span;
    // Positions counted from the row's end: null mask, var count byte, jump table, offsets.
    if (mask_size + 1 + jumps + count + 1 > n)
        ThrowFormat("variable-column table does not fit in the row");
    std::size_t jump_base = n - mask_size - 1;         // jump j at jump_base - 1 - j
    std::size_t off_base = n - mask_size - 1 - jumps;  // offset i at off_base - 1 - i
    out.resize(count + 1);
    std::size_t used = 0;
    for (unsigned i = 0; i <= count; ++i) {
        while (used < jumps && row[jump_base - 1 - used] == i) ++used;
        out[i] = row[off_base - 1 - i] + static_cast<std::uint32_t>(lay.jump_span * used);
    }
}

// Reads the offsets and checks them as it goes: in order, none past `limit`.
void ReadVarOffsetsJet4(Bytes row, std::size_t mask_size, unsigned count, std::size_t limit,
                        std::vector<std::uint32_t>& out) {
    constexpr RowLayout lay = kJet4Row;
    constexpr std::size_t e = lay.var_entry_size;
    std::size_t n = row.size();
    // Column count at the start; from the end: null mask, var count, count + 1 offsets.
    if (mask_size + e + e * (std::size_t{count} + 1) + lay.count_size > n)
        ThrowFormat("variable-column table does not fit in the row");
    std::size_t base = n - mask_size - e;  // the count; offset i at base - e - e * i
    out.resize(count + 1);
    // Every entry lies inside the row (checked above): read without a check each.
    const std::uint8_t* at = row.data() + base - e;
    std::uint32_t prior = 0;
    for (unsigned i = 0; i <= count; ++i, at -= e) {
        const auto offset = static_cast<std::uint32_t>(at[0] | (at[1] << 8));
        CheckVarOffset(offset, prior, limit);
        out[i] = prior = offset;
    }
}

std::size_t FixedSize(const Column& c) {
    const std::size_t n = TypeSize(c.type);
    return n ? n : c.length;
}

}  // namespace

CrackedRow CrackRow(const TableDef& t, Bytes row, bool jet3) {
    CrackedRow r;
    RowCracker(t, jet3).Crack(row, r);
    return r;
}

void CrackRow(const TableDef& t, Bytes row, bool jet3, CrackedRow& r) {
    RowCracker(t, jet3).Crack(row, r);
}

RowCracker::RowCracker(const TableDef& table, bool jet3) : table_(table), jet3_(jet3) {
    columns_.reserve(table.columns.size());
    for (std::size_t i = 0; i < table.columns.size(); ++i) Place(i);
}

RowCracker::RowCracker(const TableDef& table, bool jet3, std::span<const std::size_t> columns)
    : table_(table), jet3_(jet3) {
    for (std::size_t i : columns) {
        assert(i < table.columns.size());
        Place(i);
    }
}

void RowCracker::Place(std::size_t field) {
    const std::size_t head = RowLayout::For(jet3_).count_size;
    const Column& c = table_.columns[field];
    ColumnPlace p;
    p.field = static_cast<std::uint32_t>(field);
    p.number = c.number;
    p.mask_byte = static_cast<std::uint16_t>(c.number / 8);
    p.mask_bit = static_cast<std::uint8_t>(1u << (c.number % 8));
    p.var_index = c.var_index;
    if (c.type == kColBool) {
        p.kind = Kind::Bool;
    } else if (c.fixed()) {
        p.kind = Kind::Fixed;
        p.begin = static_cast<std::uint32_t>(head + c.fixed_offset);
        p.size = static_cast<std::uint32_t>(FixedSize(c));
    } else {
        p.kind = Kind::Variable;
    }
    columns_.push_back(p);
}

void RowCracker::Crack(Bytes row, CrackedRow& r) const {
    const TableDef& t = table_;
    const bool jet3 = jet3_;
    r.stored_columns = 0;
    r.stored_var_columns = 0;
    const RowLayout lay = RowLayout::For(jet3);
    const std::size_t head = lay.count_size;
    if (row.size() < head + 1) ThrowFormat("row is too short");
    r.stored_columns = jet3 ? U8(row, lay.count) : U16(row, lay.count);
    std::size_t mask_size = (std::size_t{r.stored_columns} + 7) / 8;
    if (mask_size + head > row.size()) ThrowFormat("row null mask does not fit in the row");
    const std::uint8_t* mask = row.data() + (row.size() - mask_size);
    std::size_t var_end_limit = row.size() - mask_size;
    // The offsets are read over those of the row before: no buffer is cleared and
    // filled again per row.
    if (t.var_column_count == 0) r.var_offsets.clear();
    if (t.var_column_count > 0) {
        if (jet3) {
            r.stored_var_columns = U8(row, row.size() - mask_size - lay.var_entry_size);
            ReadVarOffsetsJet3(row, mask_size, r.stored_var_columns, r.var_offsets);
            std::uint32_t prior = 0;
            for (const std::uint32_t offset : r.var_offsets) {
                CheckVarOffset(offset, prior, var_end_limit);
                prior = offset;
            }
        } else {
            if (mask_size + lay.var_entry_size > row.size()) ThrowFormat("row is too short");
            r.stored_var_columns = U16(row, row.size() - mask_size - lay.var_entry_size);
            ReadVarOffsetsJet4(row, mask_size, r.stored_var_columns, var_end_limit,
                               r.var_offsets);
        }
    }
    if (r.fields.size() != t.columns.size()) r.fields.assign(t.columns.size(), FieldRef{});
    const std::uint32_t* var = r.var_offsets.data();
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        const ColumnPlace& c = columns_[i];
        // The mask holds a bit for each stored column (mask_size bytes cover them).
        const bool bit = c.number < r.stored_columns && (mask[c.mask_byte] & c.mask_bit);
        FieldRef f;
        switch (c.kind) {
            case Kind::Bool:
                f.null = false;
                f.bool_value = bit;
                break;
            case Kind::Fixed:
                if (!bit) break;
                if (c.begin + std::size_t{c.size} > var_end_limit)
                    ThrowFormat("fixed column '" + t.columns[c.field].name + "' lies past the row");
                f.null = false;
                f.begin = c.begin;
                f.size = c.size;
                break;
            case Kind::Variable:
                if (!bit || c.var_index >= r.stored_var_columns) break;
                assert(c.var_index + 1u < r.var_offsets.size());
                f.null = false;
                f.begin = var[c.var_index];
                f.size = var[c.var_index + 1] - f.begin;
                break;
        }
        r.fields[c.field] = f;
    }
}

bool RowCracker::AllNull(Bytes row) const {
    const RowLayout lay = RowLayout::For(jet3_);
    if (row.size() < lay.count_size + 1) return false;
    const unsigned stored = jet3_ ? U8(row, lay.count) : U16(row, lay.count);
    const std::size_t mask_size = (std::size_t{stored} + 7) / 8;
    if (mask_size + lay.count_size > row.size()) return false;
    const std::uint8_t* mask = row.data() + (row.size() - mask_size);
    for (const ColumnPlace& c : columns_)
        if (c.kind == Kind::Bool || (c.number < stored && (mask[c.mask_byte] & c.mask_bit)))
            return false;
    return true;
}

LongValueHeader ParseLongValueHeader(Bytes field) {
    if (field.size() < kLongValueHeaderSize)
        ThrowFormat("long-value header is shorter than 12 bytes");
    LongValueHeader h;
    std::uint32_t v = U32(field, kLongValueLengthAt);
    h.length = v & kLongValueLengthMask;
    if (v & kLongValueInline)
        h.kind = LongValueHeader::Kind::Inline;
    else if (v & kLongValueSingle)
        h.kind = LongValueHeader::Kind::Single;
    else
        h.kind = LongValueHeader::Kind::Chain;
    h.first = UnpackRowPtr(U32(field, kLongValuePointerAt));
    return h;
}

}  // namespace jet
