// Table definitions (type-0x02 pages and their continuation chain).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "jet/page_file.h"
#include "jet/row_addr.h"

namespace jet {

enum ColumnType : std::uint8_t {
    kColBool = 0x01,
    kColByte = 0x02,
    kColInt = 0x03,
    kColLong = 0x04,
    kColMoney = 0x05,
    kColFloat = 0x06,
    kColDouble = 0x07,
    kColDateTime = 0x08,
    kColBinary = 0x09,
    kColText = 0x0A,
    kColOle = 0x0B,
    kColMemo = 0x0C,
    kColGuid = 0x0F,
    kColNumeric = 0x10,
};

bool IsLongValueType(std::uint8_t type);
// Bytes a value of a fixed-size type takes in a row; 0 for the types whose size the
// column's length gives (text, binary, and yes/no, which lives in the null mask).
std::size_t TypeSize(std::uint8_t type);

constexpr std::uint8_t kColFlagFixed = 0x01;

// All offsets named *_at are offsets into TableDef::bytes; TableDef::Where maps them to
// a page and an offset inside that page.
struct Column {
    std::string name;
    std::uint8_t type = 0;
    std::uint16_t number = 0;        // col_num: null-mask bit, order of the columns
    std::uint16_t var_index = 0;     // slot in a row's variable-column table
    std::uint16_t fixed_offset = 0;  // offset in the fixed part of a row
    std::uint16_t length = 0;
    std::uint8_t flags = 0;
    std::uint8_t precision = 0;
    std::uint8_t scale = 0;
    std::size_t block_at = 0;
    bool fixed() const { return flags & kColFlagFixed; }
};

struct IndexColumn {
    std::uint16_t column = 0;  // col_num
    std::uint8_t order = 0;    // 1 ascending
};

struct RealIndex {
    std::uint32_t row_count = 0;  // from the per-index header block
    std::vector<IndexColumn> columns;
    RowAddr map;             // usage map of the index pages
    std::uint32_t root = 0;  // first index page
    std::uint8_t flags = 0;
    std::size_t block_at = 0;  // start of its 39 (Jet 3) / 52 (Jet 4) byte block
    std::size_t map_at = 0;
    std::size_t root_at = 0;
    std::size_t flags_at = 0;
};

struct LogicalIndex {
    std::string name;
    std::uint32_t number = 0;
    std::uint32_t real_index = 0;
    std::uint8_t related_table_type = 0;
    std::int32_t related_index = -1;
    std::uint32_t related_table = 0;  // TDEF page of the other table, 0 none
    std::uint8_t cascade_updates = 0;
    std::uint8_t cascade_deletes = 0;
    std::uint8_t type = 0;  // 1 primary key, 2 foreign key
    std::size_t block_at = 0;
    std::size_t related_table_at = 0;
};

struct LongValueColumn {
    std::uint16_t column = 0;
    RowAddr owned_map;
    RowAddr free_map;
    std::size_t at = 0;  // start of its entry in the list
    std::size_t owned_map_at = 0, free_map_at = 0;
};

struct TableDef {
    std::uint32_t page = 0;
    std::uint32_t page_size = 0;
    std::vector<std::uint32_t> pages;  // the chain, first page first
    // First page whole, then every continuation page from byte 8.
    std::vector<std::uint8_t> bytes;

    std::uint32_t definition_length = 0;
    std::uint32_t row_count = 0;
    std::uint32_t autonumber = 0;
    std::uint8_t table_type = 0;
    std::uint16_t max_columns = 0;
    std::uint16_t var_column_count = 0;
    std::uint16_t column_count = 0;
    std::uint32_t logical_index_count = 0;
    std::uint32_t real_index_count = 0;
    RowAddr owned_map;
    RowAddr free_map;
    std::size_t row_count_at = 0, owned_map_at = 0, free_map_at = 0;

    std::vector<Column> columns;  // as stored in the definition
    std::vector<RealIndex> real_indexes;
    std::vector<LogicalIndex> logical_indexes;
    std::vector<LongValueColumn> long_value_columns;

    // Columns sorted by their number (the order rows and exports use).
    std::vector<const Column*> ColumnsInOrder() const;
    const Column* FindColumn(std::uint16_t number) const;

    FieldPos Where(std::size_t at) const;
};

// Reads the definition starting at `page`. Throws FormatError for a definition that
// cannot be right (bad page type, loop in the chain, counts past the data).
TableDef ReadTableDef(PageFile& file, std::uint32_t page);

}  // namespace jet
