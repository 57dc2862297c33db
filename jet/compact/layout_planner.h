// Numbering of the new file. Pages are handed out in increasing order; a table
// definition never gets a page whose number is an Id to avoid (a stale Id), and
// the numbers skipped that way are handed to the next pages that are no table's
// definition. RowMap records where each live row went.
#pragma once

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
// old (page, row) order, and new addresses grow with them. Costs 4 bytes per row
// slot of the old pages (deleted slots between live ones included) and 8 bytes per
// old page, whatever the row count: a table of 20 million rows needs about 80 MB.
class RowMap {
  public:
    // REQUIRES: old_slot and new_addr exceed every address added before.
    void Add(RowAddr old_slot, RowAddr new_addr);
    // The new address, or nothing when old_slot held no live row.
    std::optional<RowAddr> Find(RowAddr old_slot) const;
    std::size_t size() const { return size_; }

  private:
    std::vector<std::uint32_t> pages_;  // old pages with live rows, ascending
    std::vector<std::uint32_t> first_;  // per page: index of its slot 0 in new_
    std::vector<std::uint32_t> new_;    // per slot: packed new address, 0 = no live row
    RowAddr last_old_, last_new_;
    std::size_t size_ = 0;
};

}  // namespace jet
