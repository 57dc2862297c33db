#include "jet/compact/layout_planner.h"

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
    assert(!any_ || (last_old_ < old_slot && last_new_ < new_addr));
    map_.emplace(old_slot.Packed(), new_addr);
    last_old_ = old_slot;
    last_new_ = new_addr;
    any_ = true;
}

const RowAddr* RowMap::Find(RowAddr old_slot) const {
    auto it = map_.find(old_slot.Packed());
    return it == map_.end() ? nullptr : &it->second;
}

}  // namespace jet
