#include "jet/resident_pool.h"

#include <cassert>

namespace jet {

ResidentPool::~ResidentPool() {
    for (const Block& b : kept_) unmap_(b.data, b.bytes);
}

std::uint8_t* ResidentPool::Take(std::size_t bytes) {
    std::vector<Block> drop;
    {
        std::lock_guard lock(mu_);
        // The newest first: it is the likeliest to be still in the processor's caches.
        for (std::size_t i = kept_.size(); i-- > 0;) {
            if (kept_[i].bytes != bytes) continue;
            std::uint8_t* data = kept_[i].data;
            kept_.erase(kept_.begin() + static_cast<std::ptrdiff_t>(i));
            kept_bytes_ -= bytes;
            return data;
        }
        std::size_t freed = 0;
        while (!kept_.empty() && freed < bytes) {
            drop.push_back(kept_.front());
            freed += kept_.front().bytes;
            kept_bytes_ -= kept_.front().bytes;
            kept_.erase(kept_.begin());
        }
    }
    for (const Block& b : drop) unmap_(b.data, b.bytes);
    return nullptr;
}

void ResidentPool::Give(std::uint8_t* data, std::size_t bytes) {
    {
        std::lock_guard lock(mu_);
        if (kept_bytes_ + bytes <= capacity_) {
            kept_.push_back({data, bytes});
            kept_bytes_ += bytes;
            return;
        }
    }
    unmap_(data, bytes);
}

std::size_t ResidentPool::kept_bytes() const {
    std::lock_guard lock(mu_);
    return kept_bytes_;
}

}  // namespace jet
