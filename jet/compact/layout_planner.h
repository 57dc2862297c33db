// Numbering of the new file. Pages are handed out in increasing order; a table
// definition never gets a page whose number is an Id to avoid (a stale Id), and
// the numbers skipped that way are handed to the next pages that are no table's
// definition. RowMap records where each live row went.
#pragma once

#include <cstdint>
#include <set>
#include <unordered_map>
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
// old (page, row) order, and new addresses grow with them.
class RowMap {
  public:
    // REQUIRES: old_slot and new_addr exceed every address added before.
    void Add(RowAddr old_slot, RowAddr new_addr);
    // The new address, or nullptr when old_slot held no live row.
    const RowAddr* Find(RowAddr old_slot) const;
    std::size_t size() const { return map_.size(); }

  private:
    std::unordered_map<std::uint32_t, RowAddr> map_;  // keyed by RowAddr::Packed
    RowAddr last_old_, last_new_;
    bool any_ = false;
};

}  // namespace jet
