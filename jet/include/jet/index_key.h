// Index keys made from a row's values: the bytes Jet writes before the row pointer
// of an index entry (an entry is the key, then the BE 3-byte data page and the row
// byte of the row it indexes). For checking an index against its rows and for
// building an index afresh from rows.
//
// A key is the concatenation of one part per index column, in the index's column
// order. Each part starts with a flag byte: 0x7F (ascending) / 0x80 (descending) for
// a value, 0x00 (ascending) / 0xFF (descending) for a null. The value that follows:
//   integers, currency   big-endian, sign bit flipped; descending: all bits flipped
//   byte                 as it is; descending: flipped
//   float, double, date  big-endian IEEE: positive sign bit flipped, negative all bits
//                        flipped; descending: all of that flipped again
//   decimal (numeric)    sign byte then the 16-byte big-endian magnitude; Jet 3 / 4
//                        put negative values first in a descending index too
//   yes/no               00 yes, FF no (never null: the null mask holds the value);
//                        descending: swapped
//   GUID, binary         8-byte groups each followed by a length byte (9 = more follows);
//                        GUID in its textual byte order
//   text, memo           collation codes of the column's sort order (up to 255
//                        characters, trailing spaces dropped)
//
// Supported text sort orders (the column's, from its definition; Jet 3's from the
// database header): Jet 4 "General" (1033, version 1), its legacy form (1033,
// version 0, what Access 2000-2003 write) and Jet 3's general order (1033). Every
// other sort order (the national ones, e.g. Chinese PRC stroke or pinyin order) is
// not supported: IndexKeyEncoder::Make says so with a reason.
// The collation codes are generated into text_key_tables.cpp by
// scripts/gen-text-key-tables. Every entry of the corpus and of Jackcess's Jet 3 / 4
// test files is remade byte-identical (legacy and Jet 3 orders, Unicode text among
// them); the 2010 form of "General" is made from its tables alone, no file at hand
// having it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "jet/bytes.h"
#include "jet/row.h"
#include "jet/tdef.h"

namespace jet {

class TableReader;

// Text sort orders a key can be made in.
enum class TextSortOrder : std::uint8_t {
    General97,      // Jet 3 "General"
    GeneralLegacy,  // Jet 4 "General", Access 2000-2007
    General,        // Jet 4 "General", Access 2010 and later
    Unsupported,
};

// The sort order of a text or memo column of a table in a Jet 3 (`jet3`) or Jet 4
// file; `database_order` is the header's sort order (Header::sort_order), which Jet 3
// columns follow.
TextSortOrder ColumnSortOrder(const TableDef& table, const Column& column, bool jet3,
                              std::uint32_t database_order);

// One index column's value as the encoder takes it.
struct KeyValue {
    bool null = true;
    bool yes = false;  // yes/no columns: the value (they are never null)
    // The value's bytes as the row stores them: a fixed column's bytes, text as stored
    // (Jet 4: UCS-2, compressed or not; Jet 3: the code page's bytes), a memo's whole
    // data (read through its long-value header), binary as it is.
    Bytes bytes;
};

// Makes the keys of one real index. Built once per index; Encode then allocates
// nothing once `out` has grown. Cheap to copy.
class IndexKeyEncoder {
  public:
    // An encoder for real index `index` of `table`, or nullopt with `why` set when an
    // index column's type or text sort order is not supported (or the index names a
    // column the table lacks). `database_order` as for ColumnSortOrder.
    // REQUIRES: index < table.real_indexes.size()
    static std::optional<IndexKeyEncoder> Make(const TableDef& table, std::size_t index,
                                               bool jet3, std::uint32_t database_order,
                                               std::string* why);

    // Positions in TableDef::columns of the index's columns, in key order.
    std::span<const std::size_t> fields() const { return fields_; }

    // Whether the index leaves out rows whose index columns are all null (its
    // "ignore nulls" flag); such a row has no entry.
    bool ignores_nulls() const { return ignore_nulls_; }
    // Whether a row with these values has an entry in the index.
    // REQUIRES: values.size() == fields().size()
    bool HasEntry(std::span<const KeyValue> values) const;

    // Replaces `out` with the key of the given values (one per field, in key order).
    // REQUIRES: values.size() == fields().size(); each value's bytes have the size
    // its column type stores (a malformed value is encoded from what is there)
    void Encode(std::span<const KeyValue> values, std::vector<std::uint8_t>& out) const;

    // The values of the index's columns in a row that `CrackRow` split: memo values
    // stored outside the row are read through `reader` into `scratch` (which must
    // outlive the use of `values`). Throws FormatError when a memo cannot be read.
    void ValuesOf(Bytes row, const CrackedRow& cracked, TableReader& reader,
                  std::vector<KeyValue>& values,
                  std::vector<std::vector<std::uint8_t>>& scratch) const;

  private:
    struct Part {
        std::uint8_t type = 0;
        bool ascending = true;
        TextSortOrder order = TextSortOrder::Unsupported;
    };
    IndexKeyEncoder() = default;
    std::vector<std::size_t> fields_;
    std::vector<Part> parts_;
    bool ignore_nulls_ = false;
    bool jet3_ = false;
};

// The real-index flags (RealIndex::flags).
constexpr std::uint8_t kIndexUnique = 0x01;
constexpr std::uint8_t kIndexIgnoreNulls = 0x02;
constexpr std::uint8_t kIndexRequired = 0x08;
// A logical index of this type is its table's primary key.
constexpr std::uint8_t kPrimaryKeyIndex = 1;

// Whether real index `index` of `table` holds each key once: its unique flag, or a
// primary key over it. Access lets any number of rows leave a unique index's columns
// empty: a key with a null column may repeat.
bool IsUniqueIndex(const TableDef& table, std::size_t index);

}  // namespace jet
