// Numbering of the new file. Pages are handed out in increasing order; a table
// definition never gets a page whose number is an Id to avoid (a stale Id), and
// the numbers skipped that way are handed to the next pages that are no table's
// definition. RowMap records where each live row went.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <set>
#include <vector>

#include "jet/row_addr.h"

namespace jet {

class PageAllocator {
  public:
    // Pages below `first` are taken already (header, global map).
    explicit PageAllocator(std::uint32_t first) : next_(first) {}

    // Numbers a table definition must not start on.
    void Avoid(std::uint32_t page) { avoid_.insert(page); }

    // A page for the start of a table definition (never an avoided number).
    std::uint32_t TakeDefinition();
    // Any other page: a skipped number first, else the next one.
    std::uint32_t Take();
    // `n` consecutive pages that are no table definition. Skipped numbers are not
    // used here (they stay for Take).
    std::uint32_t TakeRun(std::uint32_t n);

    // Skipped numbers not handed out yet: the caller fills them (they are free).
    const std::vector<std::uint32_t>& spare() const { return spare_; }
    std::uint32_t page_count() const { return next_; }

  private:
    std::uint32_t next_;
    std::set<std::uint32_t> avoid_;     // numbers no definition may start on
    std::vector<std::uint32_t> spare_;  // skipped numbers, ascending, not handed out
};

// Old slot address of a live row -> its address in the new file. Rows are added in
// old (page, row) order, and new addresses grow with them, so the map is kept as two
// page-level tables instead of one entry per row: per old page its live slots as bits
// and the ordinal of its first live row, per run of consecutive new slots its start
// and first ordinal. A row's ordinal (how many live rows precede it) joins the two.
// Memory follows the pages, not the rows: 16 bytes per old page from the table's first
// to its last page with live rows, 8 bytes per 64 slots up to each page's last live
// row and 12 bytes per new page, so a table of 20 million narrow rows costs some 15 MB
// and no Jet file (2 GB at most) more than about 45 MB. The old pages are indexed by
// number, so a lookup in index order (random rows) touches three places: the old
// page's entry (16 bytes, one cache line), its bit word and the new run.
class RowMap {
  public:
    // Room for the rows of `pages` old pages numbered over `span` numbers, taken at
    // once: the tables grow with the pages and would otherwise move to fresh memory
    // again and again. The span of a Jet file is 2^19 pages at most (8 MB here).
    void Reserve(std::size_t span, std::size_t pages);
    // REQUIRES: old_slot and new_addr exceed every address added before.
    void Add(RowAddr old_slot, RowAddr new_addr);
    // The new address, or nothing when old_slot held no live row.
    std::optional<RowAddr> Find(RowAddr old_slot) const;
    std::size_t size() const { return size_; }

  private:
    struct OldPage {
        std::uint32_t first = 0;    // ordinal of its first live row
        std::uint32_t bits_at = 0;  // its first word in live_bits_
        std::uint32_t run_at = 0;   // the run in new_runs_ that holds its first live row
        std::uint8_t words = 0;     // its words in live_bits_ (0: no live row); 4 at most
        // Live rows before its words 1, 2 and 3: one popcount per lookup, not a loop.
        std::array<std::uint8_t, 3> before{};
    };
    struct NewRun {
        RowAddr start;             // first slot; the run continues on the same page
        std::uint32_t first = 0;   // ordinal of that slot's row
    };
    // By old page number less first_page_, up to the last page with live rows.
    std::vector<OldPage> old_pages_;
    std::uint32_t first_page_ = 0;
    std::vector<std::uint64_t> live_bits_;  // per old page, words up to its last live slot
    std::vector<NewRun> new_runs_;          // ascending
    RowAddr last_old_, last_new_;
    // A table of a 2 GB file holds far fewer than 2^32 rows (each costs a 2-byte slot).
    std::uint32_t size_ = 0;
};

}  // namespace jet
