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

void RowMap::Add(RowAddr old_slot, RowAddr new_addr) {
    assert(size_ == 0 || (last_old_ < old_slot && last_new_ < new_addr));
    assert(!new_addr.null());
    if (pages_.empty() || pages_.back() != old_slot.page) {
        pages_.push_back(old_slot.page);
        first_.push_back(static_cast<std::uint32_t>(new_.size()));
    }
    new_.resize(first_.back() + std::size_t{old_slot.row} + 1, 0);
    new_.back() = new_addr.Packed();
    last_old_ = old_slot;
    last_new_ = new_addr;
    ++size_;
}

std::optional<RowAddr> RowMap::Find(RowAddr old_slot) const {
    auto it = std::lower_bound(pages_.begin(), pages_.end(), old_slot.page);
    if (it == pages_.end() || *it != old_slot.page) return std::nullopt;
    std::size_t i = static_cast<std::size_t>(it - pages_.begin());
    std::size_t at = first_[i] + std::size_t{old_slot.row};
    std::size_t end = i + 1 < first_.size() ? first_[i + 1] : new_.size();
    if (at >= end || new_[at] == 0) return std::nullopt;
    return UnpackRowPtr(new_[at]);
}

}  // namespace jet
