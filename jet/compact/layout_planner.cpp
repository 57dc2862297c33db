#include "jet/compact/layout_planner.h"

#include <algorithm>
#include <bit>
#include <cassert>

namespace jet {

std::uint32_t PageAllocator::TakeDefinition() {
    while (avoid_.count(next_)) spare_.push_back(next_++);
    return next_++;
}

std::uint32_t PageAllocator::Take() {
    if (!spare_.empty()) {
        std::uint32_t p = spare_.front();
        spare_.erase(spare_.begin());
        return p;
    }
    return next_++;
}

std::uint32_t PageAllocator::TakeRun(std::uint32_t n) {
    std::uint32_t first = next_;
    next_ += n;
    return first;
}

void RowMap::Add(RowAddr old_slot, RowAddr new_addr) {
    assert(size_ == 0 || (last_old_ < old_slot && last_new_ < new_addr));
    assert(!new_addr.null());
    if (old_pages_.empty() || old_pages_.back().page != old_slot.page)
        old_pages_.push_back({old_slot.page, size_, static_cast<std::uint32_t>(live_bits_.size())});
    const std::size_t word = old_pages_.back().bits_at + old_slot.row / 64u;
    if (live_bits_.size() <= word) live_bits_.resize(word + 1, 0);
    live_bits_[word] |= std::uint64_t{1} << (old_slot.row % 64u);
    const bool continues = size_ > 0 && new_addr.page == last_new_.page &&
                           new_addr.row == last_new_.row + 1;
    if (!continues) new_runs_.push_back({new_addr, size_});
    last_old_ = old_slot;
    last_new_ = new_addr;
    ++size_;
}

std::optional<RowAddr> RowMap::Find(RowAddr old_slot) const {
    auto page = std::lower_bound(old_pages_.begin(), old_pages_.end(), old_slot.page,
                                 [](const OldPage& p, std::uint32_t n) { return p.page < n; });
    if (page == old_pages_.end() || page->page != old_slot.page) return std::nullopt;
    const std::size_t words_end =
        page + 1 != old_pages_.end() ? (page + 1)->bits_at : live_bits_.size();
    const std::size_t word = page->bits_at + old_slot.row / 64u;
    if (word >= words_end) return std::nullopt;
    const unsigned bit = old_slot.row % 64u;
    if (!((live_bits_[word] >> bit) & 1)) return std::nullopt;
    std::uint32_t ordinal = page->first;
    for (std::size_t w = page->bits_at; w < word; ++w)
        ordinal += static_cast<std::uint32_t>(std::popcount(live_bits_[w]));
    ordinal += static_cast<std::uint32_t>(
        std::popcount(live_bits_[word] & ((std::uint64_t{1} << bit) - 1)));
    // The last run that starts at or before the ordinal holds it.
    auto run = std::upper_bound(new_runs_.begin(), new_runs_.end(), ordinal,
                                [](std::uint32_t o, const NewRun& r) { return o < r.first; });
    assert(run != new_runs_.begin());
    --run;
    return RowAddr{run->start.page,
                   static_cast<std::uint8_t>(run->start.row + (ordinal - run->first))};
}

}  // namespace jet
