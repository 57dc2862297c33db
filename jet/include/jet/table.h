// Reading a table's rows (in place, overflow resolved) and its long values.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "jet/page_file.h"
#include "jet/row.h"
#include "jet/tdef.h"
#include "jet/usage_map.h"

namespace jet {

// A live row. `slot` is where the table's row table lists it; `addr` where its bytes
// are (differs from slot for an overflow row). `bytes` stay valid while `page` is held.
struct RowRef {
    RowAddr slot;
    RowAddr addr;
    bool overflow = false;
    Page page;
    Bytes bytes;
};

struct LongValue {
    std::vector<std::uint8_t> data;
    std::vector<RowAddr> rows;  // LVAL rows that hold it, in chain order
};

// Limits that bound what a hostile file can make us do.
struct ReadLimits {
    std::size_t max_long_value = 256u << 20;  // bytes
    std::size_t max_chain_rows = 1u << 20;
    unsigned max_overflow_hops = 8;
};

class TableReader {
  public:
    TableReader(PageFile& file, const TableDef& table, ReadLimits limits = {});

    // Pages of the owned map that hold this table's rows (type 1, owner = TDEF page).
    // Throws FormatError when the map cannot be read.
    const std::vector<std::uint32_t>& DataPages();

    // Calls `visit` for every live row in (page, row) order of the row tables;
    // overflow rows are followed. Return false from visit to stop. Throws FormatError.
    void ForEachRow(const std::function<bool(const RowRef&)>& visit);

    // Follows an overflow pointer chain from a slot to the row bytes.
    RowRef Resolve(RowAddr slot);

    LongValue ReadLongValue(Bytes field);

    PageFile& file() { return file_; }
    const TableDef& table() const { return table_; }

  private:
    PageFile& file_;
    const TableDef& table_;
    ReadLimits limits_;
    bool have_pages_ = false;
    std::vector<std::uint32_t> pages_;
};

// The bytes of row `addr` on a long-value page; throws FormatError.
Bytes LvalRowBytes(PageFile& file, RowAddr addr, Page& holder);

}  // namespace jet
