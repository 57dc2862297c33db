#include "jet/compact/layout_planner.h"

#include <algorithm>
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

void RowMap::Reserve(std::size_t span, std::size_t pages) {
    // A page with live rows needs at least one bit word; its rows mostly go to one
    // new page, so about one run each.
    old_pages_.reserve(span);
    live_bits_.reserve(pages);
    new_runs_.reserve(pages);
}

void RowMap::Add(RowAddr old_slot, RowAddr new_addr) {
    assert(size_ == 0 || (last_old_ < old_slot && last_new_ < new_addr));
    assert(!new_addr.null());
    const bool continues = size_ > 0 && new_addr.page == last_new_.page &&
                           new_addr.row == last_new_.row + 1;
    if (!continues) new_runs_.push_back({new_addr, size_});
    if (size_ == 0) first_page_ = old_slot.page;
    const std::size_t at = old_slot.page - first_page_;
    if (size_ == 0 || last_old_.page != old_slot.page) {
        old_pages_.resize(at + 1);
        old_pages_[at] = {size_, static_cast<std::uint32_t>(live_bits_.size()),
                          static_cast<std::uint32_t>(new_runs_.size() - 1), 0};
    }
    OldPage& page = old_pages_[at];
    // A row number is a byte: four words hold every slot of a page.
    const unsigned k = old_slot.row / 64u;
    for (unsigned j = page.words; j <= k; ++j) {
        if (j > 0) {
            const unsigned prior = j > 1 ? page.before[j - 2] : 0u;
            page.before[j - 1] = static_cast<std::uint8_t>(
                prior + CountBits(live_bits_[page.bits_at + j - 1]));
        }
        live_bits_.push_back(0);
    }
    if (page.words <= k) page.words = static_cast<std::uint8_t>(k + 1);
    live_bits_[page.bits_at + k] |= std::uint64_t{1} << (old_slot.row % 64u);
    last_old_ = old_slot;
    last_new_ = new_addr;
    ++size_;
}

}  // namespace jet
