// Reading a table's rows (in place, overflow resolved) and its long values.
#pragma once

#include <cstdint>
#include <functional>
#include <unordered_set>
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
    // It and the two below plan the file's reads (PageFile::PlanReads) with the
    // pages of the table's map they go through, where its rows and their overflow
    // parts are: pages of the map that lie close together then come in one read, and
    // pages it does not list are not kept.
    void ForEachRow(const std::function<bool(const RowRef&)>& visit);
    // The same, picking the data pages from the owned map as it goes when they are
    // not known yet, and showing each page of the map to `seen` (once, in map order,
    // before that page's rows): a caller that looks at every page of the map and then
    // at every row reads each page once, not twice. A bad page met late in the map
    // throws after the rows before it were visited.
    using PageSeen = std::function<void(std::uint32_t number, const Page& page)>;
    void ForEachRow(const std::function<bool(const RowRef&)>& visit, const PageSeen& seen);

    // The same for the data pages numbered in [first, end) only: one part of the
    // table, whose other pages are not read (the map is).
    void ForEachRowIn(std::uint32_t first, std::uint32_t end,
                      const std::function<bool(const RowRef&)>& visit);

    // Passes over the rows also plan the pages that the long-value columns' maps
    // list, for a reader that reads the long values of the rows it visits.
    void set_plan_long_values(bool on) { plan_long_values_ = on; }

    // Follows an overflow pointer chain from a slot to the row bytes.
    RowRef Resolve(RowAddr slot);

    LongValue ReadLongValue(Bytes field);

    PageFile& file() { return file_; }
    const TableDef& table() const { return table_; }
    const ReadLimits& limits() const { return limits_; }

  private:
    bool IsDataPage(const Page& page) const;
    // Plans the file's reads for a pass over `pages` (the table's).
    void Plan(const std::vector<std::uint32_t>& pages);
    // Visits the live rows of data page `p`; false when `visit` asked to stop.
    bool VisitRows(std::uint32_t p, const Page& page, const std::function<bool(const RowRef&)>& visit);

    PageFile& file_;
    const TableDef& table_;
    ReadLimits limits_;
    bool have_pages_ = false;
    std::vector<std::uint32_t> pages_;
    bool plan_long_values_ = false, have_lv_pages_ = false;
    std::vector<std::uint32_t> lv_pages_;  // what the long-value columns' maps list
};

// The bytes of row `addr` on a long-value page; throws FormatError.
Bytes LvalRowBytes(PageFile& file, RowAddr addr, Page& holder);

// The rows of one long value stored outside its row (Single or Chain), one at a time,
// checked as they come: a value larger than the limits, a row that is missing,
// deleted, not on a long-value page or shorter than the value needs, and a chain that
// ends early, loops or runs too long throw FormatError. ReadLongValue gathers what it
// yields; readers that only compare or count the value walk it without a copy.
class LongValueRows {
  public:
    // REQUIRES: h.kind != Inline
    LongValueRows(PageFile& file, const LongValueHeader& h, const ReadLimits& limits);

    // The next row of the value: its address, its bytes and those of them that belong
    // to the value (all its data up to the value's length). The bytes stay valid until
    // the next call. False once the value is complete.
    bool Next(RowAddr* at, Bytes* row, Bytes* data);

  private:
    PageFile& file_;
    const LongValueHeader h_;
    const ReadLimits limits_;  // a copy: a walk may outlive the limits it was given
    Page holder_;              // the page of the row last yielded
    RowAddr next_;             // the row to yield next
    std::size_t have_ = 0;     // bytes of the value yielded so far
    bool single_done_ = false;
    std::unordered_set<std::uint32_t> seen_;  // a chain's rows so far (loops)
};

}  // namespace jet
