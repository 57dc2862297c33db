// Splitting a row into its columns: null mask, fixed part, variable-column table
// (with the Jet 3 jump table), and the long-value (memo / OLE) header.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "jet/bytes.h"
#include "jet/format.h"
#include "jet/row_addr.h"
#include "jet/tdef.h"

namespace jet {

// One column of one row; begin/size are offsets into the row's bytes.
struct FieldRef {
    bool null = true;
    bool bool_value = false;  // Boolean columns live in the null mask
    std::uint32_t begin = 0;
    std::uint32_t size = 0;
};

struct CrackedRow {
    std::uint16_t stored_columns = 0;        // column count written in the row
    std::uint16_t stored_var_columns = 0;    // variable-column table entries (without the end)
    std::vector<std::uint32_t> var_offsets;  // row offsets of the variable columns, plus the end
    std::vector<FieldRef> fields;            // parallel to TableDef::columns
};

// Throws FormatError when the row's structure does not fit in its bytes.
CrackedRow CrackRow(const TableDef& table, Bytes row, bool jet3);
// The same into `into`, reusing its buffers: for loops over many rows.
void CrackRow(const TableDef& table, Bytes row, bool jet3, CrackedRow& into);

// Cracks the rows of one table as CrackRow does, with what each column needs from the
// definition (null-mask bit, kind, place and size) read once: a loop over millions
// of rows pays for the rows only. Keeps a reference to `table`.
class RowCracker {
  public:
    RowCracker(const TableDef& table, bool jet3);
    // A cracker that finds only `columns` (positions in table.columns): the others'
    // fields stay null, and a fixed column's place is checked only for those. For a
    // caller that looks at a few columns of rows whose structure was checked before.
    // REQUIRES: `into` is not shared with a cracker of other columns
    RowCracker(const TableDef& table, bool jet3, std::span<const std::size_t> columns);
    // Throws FormatError when the row's structure does not fit in its bytes.
    void Crack(Bytes row, CrackedRow& into) const;
    // True when the row's null mask marks every column this cracker finds as null
    // (none of them a yes/no column): Crack would find none of them, and a caller
    // that wants nothing else from the row may pass it over. Reads the column count
    // and the mask alone (the rest of the row is not checked); false when the mask
    // does not fit, for Crack to report.
    bool AllNull(Bytes row) const;

  private:
    enum class Kind : std::uint8_t { Bool, Fixed, Variable };
    struct ColumnPlace {
        std::uint16_t number = 0;     // null-mask bit
        std::uint16_t mask_byte = 0;  // number / 8
        std::uint8_t mask_bit = 0;    // 1 << number % 8
        std::uint16_t var_index = 0;  // Variable: slot in the variable-column table
        std::uint32_t begin = 0;      // Fixed: offset in the row
        std::uint32_t size = 0;       // Fixed: bytes
        std::uint32_t field = 0;      // position in table_.columns
        Kind kind = Kind::Fixed;
    };
    void Place(std::size_t field);
    const TableDef& table_;
    bool jet3_;
    std::vector<ColumnPlace> columns_;  // the columns cracked, in table_.columns order
};

// Memo / OLE header (12 bytes at the start of the column's value).
struct LongValueHeader {
    enum class Kind { Inline, Single, Chain };
    Kind kind = Kind::Inline;
    std::uint32_t length = 0;
    RowAddr first;  // Single and Chain
};

LongValueHeader ParseLongValueHeader(Bytes field);

}  // namespace jet
