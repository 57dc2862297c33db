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
    const bool continues = size_ > 0 && new_addr.page == last_new_.page &&
                           new_addr.row == last_new_.row + 1;
    if (!continues) new_runs_.push_back({new_addr, size_});
    if (size_ == 0 || last_old_.page != old_slot.page) {
        if (page_index_.size() <= old_slot.page) page_index_.resize(old_slot.page + 1, kNoPage);
        page_index_[old_slot.page] = static_cast<std::uint32_t>(old_pages_.size());
        old_pages_.push_back({size_, static_cast<std::uint32_t>(live_bits_.size()),
                              static_cast<std::uint32_t>(new_runs_.size() - 1)});
    }
    const std::size_t word = old_pages_.back().bits_at + old_slot.row / 64u;
    if (live_bits_.size() <= word) live_bits_.resize(word + 1, 0);
    live_bits_[word] |= std::uint64_t{1} << (old_slot.row % 64u);
    last_old_ = old_slot;
    last_new_ = new_addr;
    ++size_;
}

std::optional<RowAddr> RowMap::Find(RowAddr old_slot) const {
    if (old_slot.page >= page_index_.size() || page_index_[old_slot.page] == kNoPage)
        return std::nullopt;
    const std::size_t i = page_index_[old_slot.page];
    const OldPage& page = old_pages_[i];
    const std::size_t words_end =
        i + 1 < old_pages_.size() ? old_pages_[i + 1].bits_at : live_bits_.size();
    const std::size_t word = page.bits_at + old_slot.row / 64u;
    if (word >= words_end) return std::nullopt;
    const unsigned bit = old_slot.row % 64u;
    if (!((live_bits_[word] >> bit) & 1)) return std::nullopt;
    std::uint32_t ordinal = page.first;
    for (std::size_t w = page.bits_at; w < word; ++w)
        ordinal += static_cast<std::uint32_t>(std::popcount(live_bits_[w]));
    ordinal += static_cast<std::uint32_t>(
        std::popcount(live_bits_[word] & ((std::uint64_t{1} << bit) - 1)));
    // The rows of one old page lie in the run of its first row and the few after it.
    std::size_t run = page.run_at;
    while (run + 1 < new_runs_.size() && new_runs_[run + 1].first <= ordinal) ++run;
    const NewRun& r = new_runs_[run];
    assert(r.first <= ordinal);
    return RowAddr{r.start.page, static_cast<std::uint8_t>(r.start.row + (ordinal - r.first))};
}

}  // namespace jet
