// The on-disk layout of Jet 3 (Access 97) and Jet 4 (Access 2000-2003) files: every
// offset and size the reader and the compactor use, Jet 3 and Jet 4 side by side. No
// other file spells a byte offset of a page; they all name the fields defined here.
//
// All numbers are little-endian unless marked BE. Offsets are hexadecimal, counted
// from the start of the page (or of the structure a drawing shows).
//
// A file is a sequence of pages of one size: 2048 bytes (Jet 3) or 4096 (Jet 4).
// The first byte of every page gives its kind (PageType); the second byte is 0x01 on
// every page but the header.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace jet {

// Page types (first byte of a page).
enum PageType : std::uint8_t {
    kPageHeader = 0x00,  // page 0, and pages never written
    kPageData = 0x01,    // table rows, long-value rows, usage-map rows
    kPageTdef = 0x02,    // table definition (and its continuation pages)
    kPageIndexNode = 0x03,
    kPageIndexLeaf = 0x04,
    kPageUsageBitmap = 0x05,  // bitmap page of a reference usage map
};

// Every page: [0] type, [1] 0x01.
constexpr std::size_t kPageTypeAt = 0x00;
constexpr std::size_t kPageMarkerAt = 0x01;
constexpr std::uint8_t kPageMarker = 0x01;
// Data and index pages: [2] u16 free bytes, [4] u32 owner (see their layouts).
constexpr std::size_t kPageFreeSpaceAt = 0x02;
constexpr std::size_t kPageOwnerAt = 0x04;

constexpr std::uint32_t kJet3PageSize = 2048;
constexpr std::uint32_t kJet4PageSize = 4096;
constexpr std::uint32_t PageSizeOf(bool jet3) {
    return jet3 ? kJet3PageSize : kJet4PageSize;
}

// Well-known places.
constexpr std::uint32_t kHeaderPage = 0;
constexpr std::uint32_t kGlobalMapPage = 1;  // row 0 of page 1: the global usage map
constexpr std::uint32_t kCatalogPage = 2;    // definition of MSysObjects

// (page, row) pointers in rows, definitions and maps: a little-endian u32 with the row
// number in the low byte and the page in the upper three bytes (see row_addr.h).
constexpr std::size_t kRowPointerSize = 4;

// ---------------------------------------------------------------------------------
// Page 0, the header.
//
//   00  page type 0x00
//   04  "Standard Jet DB" (15 bytes; "Standard ACE DB" in newer files)
//   14  version: 0 = Jet 3, 1 = Jet 4, 2 and above = ACE
//   18  RC4-scrambled block, 126 (Jet 3) / 128 (Jet 4) bytes, fixed key C7 DA 39 6B;
//       the fields below lie inside it and are given as page offsets:
//                         Jet 3        Jet 4
//       sort order        3A (u16)     6E (u32)
//       code page         3C (u16)     3C (u16)
//       db key            3E (u32)     3E (u32)   non-zero: pages 1.. are RC4-encrypted
//       password          42 (20 B)    42 (40 B)  Jet 4 masks it with the creation date
//       creation date     -            72 (f64)
constexpr std::size_t kHeaderBlockOffset = 0x18;
struct HeaderLayout {
    std::size_t signature = 0x04;
    std::size_t signature_size = 15;
    std::size_t version = 0x14;
    std::size_t block = kHeaderBlockOffset;  // start of the scrambled block
    std::size_t block_size;
    std::size_t sort_order;
    std::size_t sort_order_size;  // 2 or 4 bytes
    std::size_t code_page = 0x3C;
    std::size_t db_key = 0x3E;
    std::size_t password = 0x42;
    std::size_t password_size;
    std::size_t creation_date;  // 0: none (Jet 3)
    static constexpr HeaderLayout For(bool jet3);
};
inline constexpr HeaderLayout kJet3Header{.block_size = 126,
                                          .sort_order = 0x3A,
                                          .sort_order_size = 2,
                                          .password_size = 20,
                                          .creation_date = 0};
inline constexpr HeaderLayout kJet4Header{.block_size = 128,
                                          .sort_order = 0x6E,
                                          .sort_order_size = 4,
                                          .password_size = 40,
                                          .creation_date = 0x72};
constexpr HeaderLayout HeaderLayout::For(bool jet3) {
    return jet3 ? kJet3Header : kJet4Header;
}
// Bytes of page 0 that tell whether a file is a Jet file at all (signature, version).
constexpr std::size_t kHeaderProbeSize = 0x20;
// RC4 key of the scrambled block.
constexpr std::array<std::uint8_t, 4> kHeaderKey{0xC7, 0xDA, 0x39, 0x6B};

// ---------------------------------------------------------------------------------
// Data page (type 0x01): table rows, long-value (LVAL) rows, usage-map rows.
//
//            Jet 3   Jet 4
//   type       00      00    0x01
//   free       02      02    u16 bytes free: page size - header - 2 x rows - row bytes
//   owner      04      04    u32 TDEF page; "LVAL" on long-value pages; 0 for map rows
//   rows       08      0C    u16 number of row slots
//   slots      0A      0E    u16 per slot: row offset (low 13 bits) + flags
//
//   +--------+--------+--------+-- ... --+------------+-- ... --+-------+-------+
//   | header | slot 0 | slot 1 |  slots  | free space |  rows   | row 1 | row 0 |
//   +--------+--------+--------+-- ... --+------------+-- ... --+-------+-------+
//                                                                    end of page ^
//   Rows are packed from the end of the page downwards: row i spans from its offset
//   to the offset of row i-1 (row 0 to the end of the page).
struct DataPageLayout {
    std::size_t free_space = kPageFreeSpaceAt;  // u16
    std::size_t owner = kPageOwnerAt;           // u32
    std::size_t row_count;                      // u16
    std::size_t row_table;                      // u16 per slot; also the size of the header
    constexpr std::size_t header_size() const { return row_table; }
    static constexpr DataPageLayout For(bool jet3);
};
inline constexpr DataPageLayout kJet3DataPage{.row_count = 0x08, .row_table = 0x0A};
inline constexpr DataPageLayout kJet4DataPage{.row_count = 0x0C, .row_table = 0x0E};
constexpr DataPageLayout DataPageLayout::For(bool jet3) {
    return jet3 ? kJet3DataPage : kJet4DataPage;
}
constexpr std::size_t kRowSlotSize = 2;

// Slot word flags.
constexpr std::uint16_t kRowDeleted = 0x8000;
constexpr std::uint16_t kRowOverflow = 0x4000;  // the row is a pointer to the real row
constexpr std::uint16_t kRowOffsetMask = 0x1FFF;
// Owner field of a long-value page: "LVAL" read as a little-endian u32.
constexpr std::uint32_t kLvalOwner = 0x4C41564C;

// An overflow row: one row pointer, at the start of the row.
constexpr std::size_t kOverflowTargetAt = 0;

// Rows as stored on data pages (what CrackRow splits into columns).
//
//            Jet 3   Jet 4
//   count     u8      u16   at 00: columns stored in the row
//   fixed part follows the count; variable columns follow the fixed part
//   at the end of the row, backwards:  null mask ((count + 7) / 8 bytes, last),
//     variable-column count (u8 / u16), [Jet 3: jump table, one byte per 256 bytes of
//     row], variable-column offsets (u8 / u16 each, first column nearest the end),
//     end-of-data offset.
struct RowLayout {
    std::size_t count = 0x00;     // the column count at the row's start
    std::size_t count_size;       // u8 or u16
    std::size_t var_entry_size;   // variable-column count and each offset
    std::size_t jump_span = 256;  // Jet 3: a jump-table entry per 256 bytes of row
    static constexpr RowLayout For(bool jet3);
};
inline constexpr RowLayout kJet3Row{.count_size = 1, .var_entry_size = 1};
inline constexpr RowLayout kJet4Row{.count_size = 2, .var_entry_size = 2};
constexpr RowLayout RowLayout::For(bool jet3) {
    return jet3 ? kJet3Row : kJet4Row;
}

// Long values (memo / OLE): the column's value in the row starts with a 12-byte header.
//
//   00  u32 length; top bits: 0x80 inline (data follows the header), 0x40 one LVAL
//       row, neither: a chain of LVAL rows
//   04  row pointer of the (first) LVAL row
//   08  4 bytes, unused here
// A chain row starts with the row pointer of the next row (0 ends the chain); its data
// follows. A single row holds only data.
constexpr std::size_t kLongValueHeaderSize = 12;
constexpr std::size_t kLongValueLengthAt = 0x00;
constexpr std::size_t kLongValuePointerAt = 0x04;
constexpr std::uint32_t kLongValueInline = 0x80000000u;
constexpr std::uint32_t kLongValueSingle = 0x40000000u;
constexpr std::uint32_t kLongValueLengthMask = 0x3FFFFFFFu;
constexpr std::size_t kChainNextAt = 0x00;
constexpr std::size_t kChainDataAt = 0x04;

// ---------------------------------------------------------------------------------
// Table definition (type 0x02). A definition may continue on more pages; each
// continuation page repeats the first 8 bytes (type, marker, next page) and its data
// follows from byte 8. Offsets below are into the definition's bytes: the first page
// whole, then each continuation page from byte 8.
//
//                          Jet 3   Jet 4
//   type                     00      00    0x02
//   next page                04      04    u32 continuation page, 0 = last
//   definition length        08      08    u32
//   row count                0C      10    u32
//   autonumber               10      14    u32 next value
//   table type               14      28    u8 (the base of the fields below)
//   max columns              15      29    u16
//   variable columns         17      2B    u16
//   columns                  19      2D    u16
//   logical indexes          1B      2F    u32
//   real indexes             1F      33    u32
//   owned-pages map          23      37    row pointer
//   free-space map           27      3B    row pointer
//   real-index headers       2B      3F    8 / 12 bytes each: row count at +4
//   then: column blocks, column names, real-index blocks, logical-index blocks,
//   logical-index names, and the long-value column list ended by u16 0xFFFF.
struct TdefLayout {
    std::size_t next_page = 0x04;
    std::size_t continuation_data = 0x08;  // where a continuation page's bytes start
    std::size_t definition_length = 0x08;
    std::size_t row_count;
    std::size_t autonumber;
    std::size_t table_type;
    std::size_t max_columns;
    std::size_t var_columns;
    std::size_t column_count;
    std::size_t logical_index_count;
    std::size_t real_index_count;
    std::size_t owned_map;
    std::size_t free_map;
    std::size_t real_index_headers;
    std::size_t real_index_header_size;
    std::size_t real_index_header_rows = 4;  // u32 row count inside each header
    std::size_t name_length_size;            // u8 (Jet 3) / u16 (Jet 4) before each name
    static constexpr TdefLayout For(bool jet3);
};
inline constexpr TdefLayout kJet3Tdef{.row_count = 0x0C,
                                      .autonumber = 0x10,
                                      .table_type = 0x14,
                                      .max_columns = 0x15,
                                      .var_columns = 0x17,
                                      .column_count = 0x19,
                                      .logical_index_count = 0x1B,
                                      .real_index_count = 0x1F,
                                      .owned_map = 0x23,
                                      .free_map = 0x27,
                                      .real_index_headers = 0x2B,
                                      .real_index_header_size = 8,
                                      .name_length_size = 1};
inline constexpr TdefLayout kJet4Tdef{.row_count = 0x10,
                                      .autonumber = 0x14,
                                      .table_type = 0x28,
                                      .max_columns = 0x29,
                                      .var_columns = 0x2B,
                                      .column_count = 0x2D,
                                      .logical_index_count = 0x2F,
                                      .real_index_count = 0x33,
                                      .owned_map = 0x37,
                                      .free_map = 0x3B,
                                      .real_index_headers = 0x3F,
                                      .real_index_header_size = 12,
                                      .name_length_size = 2};
constexpr TdefLayout TdefLayout::For(bool jet3) {
    return jet3 ? kJet3Tdef : kJet4Tdef;
}

// Column block, one per column (18 bytes Jet 3, 25 bytes Jet 4).
//
//                 Jet 3   Jet 4
//   type            00      00    ColumnType
//   number          01      05    u16: null-mask bit and column order
//   var index       03      07    u16: slot in the variable-column table
//   precision       0B      0B    u8 (Numeric)
//   scale           0C      0C    u8 (Numeric)
//   sort order      09      0B    u16 (text, memo): collation, 1033 = "General";
//                                 0 = the database's
//   sort version     -      0E    u8 (text, memo): 0 = Access 2000-2007 form of
//                                 "General", 1 = Access 2010's
//   flags           0D      0F    u8: 0x01 fixed length
//   fixed offset    0E      15    u16: offset in the fixed part of a row
//   length          10      17    u16
struct ColumnLayout {
    std::size_t size;
    std::size_t type = 0x00;
    std::size_t number;
    std::size_t var_index;
    std::size_t precision = 0x0B;
    std::size_t scale = 0x0C;
    std::size_t sort_order;
    std::size_t sort_version;  // 0: none (Jet 3)
    std::size_t flags;
    std::size_t fixed_offset;
    std::size_t length;
    static constexpr ColumnLayout For(bool jet3);
};
inline constexpr ColumnLayout kJet3Column{.size = 18,
                                          .number = 0x01,
                                          .var_index = 0x03,
                                          .sort_order = 0x09,
                                          .sort_version = 0,
                                          .flags = 0x0D,
                                          .fixed_offset = 0x0E,
                                          .length = 0x10};
inline constexpr ColumnLayout kJet4Column{.size = 25,
                                          .number = 0x05,
                                          .var_index = 0x07,
                                          .sort_order = 0x0B,
                                          .sort_version = 0x0E,
                                          .flags = 0x0F,
                                          .fixed_offset = 0x15,
                                          .length = 0x17};
constexpr ColumnLayout ColumnLayout::For(bool jet3) {
    return jet3 ? kJet3Column : kJet4Column;
}

// Real-index block (39 bytes Jet 3, 52 bytes Jet 4; Jet 4 starts with 4 bytes to
// skip). Offsets below count from after the skip.
//
//   00  10 x (u16 column number, 0xFFFF = none; u8 order, 1 = ascending)
//   1E  row pointer of the index's usage map
//   22  u32 first (root) index page
//   26  u8 flags (Jet 3)
//   2A  u8 flags (Jet 4, after 4 more bytes)
//       0x01 unique, 0x02 ignore nulls (a row whose key columns are all null has no
//       entry), 0x08 required
struct RealIndexLayout {
    std::size_t size;
    std::size_t skip;            // bytes before the fields below
    std::size_t columns = 0x00;  // key columns, column_slot_size each
    std::size_t column_slots = 10;
    std::size_t column_slot_size = 3;
    std::size_t column_order = 2;  // u8 inside a column slot
    std::size_t map = 0x1E;
    std::size_t root = 0x22;
    std::size_t flags;
    static constexpr RealIndexLayout For(bool jet3);
};
inline constexpr RealIndexLayout kJet3RealIndex{.size = 39, .skip = 0, .flags = 0x26};
inline constexpr RealIndexLayout kJet4RealIndex{.size = 52, .skip = 4, .flags = 0x2A};
constexpr RealIndexLayout RealIndexLayout::For(bool jet3) {
    return jet3 ? kJet3RealIndex : kJet4RealIndex;
}
constexpr std::uint16_t kNoIndexColumn = 0xFFFF;

// Logical-index block (20 bytes Jet 3, 28 bytes Jet 4; Jet 4 starts with 4 bytes to
// skip). Offsets below count from after the skip.
//
//   00  u32 index number
//   04  u32 real index it uses
//   08  u8 related table type
//   09  i32 related index (-1 none)
//   0D  u32 related table's TDEF page (0 none)
//   11  u8 cascade updates
//   12  u8 cascade deletes
//   13  u8 index type: 1 primary key, 2 foreign key
struct LogicalIndexLayout {
    std::size_t size;
    std::size_t skip;
    std::size_t number = 0x00;
    std::size_t real_index = 0x04;
    std::size_t related_table_type = 0x08;
    std::size_t related_index = 0x09;
    std::size_t related_table = 0x0D;
    std::size_t cascade_updates = 0x11;
    std::size_t cascade_deletes = 0x12;
    std::size_t type = 0x13;
    static constexpr LogicalIndexLayout For(bool jet3);
};
inline constexpr LogicalIndexLayout kJet3LogicalIndex{.size = 20, .skip = 0};
inline constexpr LogicalIndexLayout kJet4LogicalIndex{.size = 28, .skip = 4};
constexpr LogicalIndexLayout LogicalIndexLayout::For(bool jet3) {
    return jet3 ? kJet3LogicalIndex : kJet4LogicalIndex;
}

// Long-value column list at the end of a definition: one 10-byte entry per memo / OLE
// column that has long-value pages, the list ended by a u16 0xFFFF (same in both).
//
//   00  u16 column number
//   02  row pointer of the column's owned-pages map
//   06  row pointer of the column's free-space map
struct LongValueColumnLayout {
    std::size_t size = 10;
    std::size_t column = 0x00;
    std::size_t owned_map = 0x02;
    std::size_t free_map = 0x06;
};
inline constexpr LongValueColumnLayout kLongValueColumn{};
constexpr std::uint16_t kLongValueListEnd = 0xFFFF;

// ---------------------------------------------------------------------------------
// Index page (0x03 node, 0x04 leaf).
//
//                   Jet 3       Jet 4
//   type              00          00     0x03 / 0x04
//   free              02          02     u16 page size - first entry - entry bytes
//   owner             04          04     u32 TDEF page
//   previous          08          0C     u32 page on the same level, 0 none
//   next              0C          10     u32
//   tail              10          14     u32 nodes: rightmost child (has no entry)
//   prefix length     14 (u8)     18 (u16)  bytes later entries omit
//   entry-end mask    16          1B     one bit per byte of the entry area
//   first entry       F8          1E0
//
//   An entry: key bytes, BE 3-byte data page + 1-byte row (the row pointer); node
//   entries add a BE u32 child page. The first entry is stored whole, later ones
//   without the prefix; bit k of the mask set = an entry ends k bytes after the first.
struct IndexPageLayout {
    std::size_t free_space = kPageFreeSpaceAt;
    std::size_t owner = kPageOwnerAt;
    std::size_t prev;
    std::size_t next;
    std::size_t tail;
    std::size_t prefix;
    std::size_t prefix_size;  // 1 or 2 bytes
    std::size_t mask;
    std::size_t first_entry;
    static constexpr IndexPageLayout For(bool jet3);
};
inline constexpr IndexPageLayout kJet3IndexPage{.prev = 0x08,
                                                .next = 0x0C,
                                                .tail = 0x10,
                                                .prefix = 0x14,
                                                .prefix_size = 1,
                                                .mask = 0x16,
                                                .first_entry = 0xF8};
inline constexpr IndexPageLayout kJet4IndexPage{.prev = 0x0C,
                                                .next = 0x10,
                                                .tail = 0x14,
                                                .prefix = 0x18,
                                                .prefix_size = 2,
                                                .mask = 0x1B,
                                                .first_entry = 0x1E0};
constexpr IndexPageLayout IndexPageLayout::For(bool jet3) {
    return jet3 ? kJet3IndexPage : kJet4IndexPage;
}
// Trailing bytes of an index entry: the BE row pointer (3-byte page, row), and on node
// pages the BE u32 child page after it.
constexpr std::size_t kIndexRowPointerSize = 4;
constexpr std::size_t kIndexChildSize = 4;
constexpr std::size_t kIndexEntryRowAt = 3;  // row byte inside the row pointer

// ---------------------------------------------------------------------------------
// Usage maps: rows on data pages whose owner is 0.
//
//   inline (type 0):     00 0x00 | 01 u32 page of bit 0 | 05 bitmap, 128 B (Jet 3) /
//                        64 B (Jet 4)
//   reference (type 1):  00 0x01 | 01 u32 type-5 page per slot: 33 (Jet 3) / 17 (Jet 4)
//                        slots; slot i covers pages [i x n, (i + 1) x n), n = bits of
//                        a bitmap page; 0 or a negative value = no page
//   bitmap page (0x05):  00 0x05 | 01 0x01 | 04 bitmap to the end of the page
//
// A set bit means the page is in the set; in the global map (page 1, row 0) a set bit
// means the page is FREE.
struct UsageMapLayout {
    std::size_t kind = 0x00;        // u8 0 inline, 1 reference
    std::size_t start_page = 0x01;  // inline: u32 page of bit 0
    std::size_t bitmap = 0x05;      // inline: first bitmap byte
    std::size_t pointers = 0x01;    // reference: first u32 page pointer
    std::size_t pointer_size = 4;
    std::size_t inline_bitmap_bytes;
    std::size_t reference_pointers;
    // Bytes of a table's map row (both kinds have the same length).
    constexpr std::size_t row_size() const { return bitmap + inline_bitmap_bytes; }
    static constexpr UsageMapLayout For(bool jet3);
};
inline constexpr UsageMapLayout kJet3UsageMap{.inline_bitmap_bytes = 128, .reference_pointers = 33};
inline constexpr UsageMapLayout kJet4UsageMap{.inline_bitmap_bytes = 64, .reference_pointers = 17};
constexpr UsageMapLayout UsageMapLayout::For(bool jet3) {
    return jet3 ? kJet3UsageMap : kJet4UsageMap;
}
constexpr std::uint8_t kMapInline = 0;
constexpr std::uint8_t kMapReference = 1;
// A type-5 bitmap page: its bitmap starts after the 4-byte header.
constexpr std::size_t kBitmapPageDataAt = 0x04;
// Pages one type-5 bitmap page describes.
constexpr std::uint32_t PagesPerBitmapPage(std::uint32_t page_size) {
    return (page_size - static_cast<std::uint32_t>(kBitmapPageDataAt)) * 8;
}
// A reference-map pointer at or above this value (a negative i32) names no page.
constexpr std::uint32_t kNoBitmapPage = 0x80000000u;

}  // namespace jet
