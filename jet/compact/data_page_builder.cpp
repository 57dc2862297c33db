#include "jet/compact/data_page_builder.h"

#include <cassert>
#include <cstring>

#include "jet/compact/put_bytes.h"

namespace jet {

DataPageBuilder::DataPageBuilder(const PageLayout& layout, std::uint32_t owner)
    : layout_(layout), owner_(owner), page_(layout.page_size, 0), low_(layout.page_size) {}

std::size_t DataPageBuilder::free_space() const {
    std::size_t used_head = layout_.DataHeaderSize() + kRowSlotSize * offsets_.size();
    return low_ - used_head;
}

bool DataPageBuilder::Fits(std::size_t len) const {
    if (offsets_.size() >= kMaxRows) return false;
    return len + kRowSlotSize <= free_space();
}

std::uint8_t DataPageBuilder::Add(std::span<const std::uint8_t> row) {
    assert(!row.empty() && Fits(row.size()));
    low_ -= row.size();
    std::memcpy(page_.data() + low_, row.data(), row.size());
    offsets_.push_back(static_cast<std::uint16_t>(low_));
    return static_cast<std::uint8_t>(offsets_.size() - 1);
}

std::vector<std::uint8_t> DataPageBuilder::Finish() {
    std::span<std::uint8_t> p(page_);
    p[kPageTypeAt] = kPageData;
    p[kPageMarkerAt] = kPageMarker;
    PutU16(p, layout_.data.free_space, static_cast<std::uint32_t>(free_space()));
    PutU32(p, layout_.data.owner, owner_);
    PutU16(p, layout_.data.row_count, static_cast<std::uint32_t>(offsets_.size()));
    for (std::size_t i = 0; i < offsets_.size(); ++i)
        PutU16(p, layout_.data.row_table + kRowSlotSize * i, offsets_[i]);
    std::vector<std::uint8_t> out(layout_.page_size, 0);
    out.swap(page_);
    offsets_.clear();
    low_ = layout_.page_size;
    return out;
}

std::size_t DataPageBuilder::MaxRowSize(const PageLayout& layout) {
    return layout.page_size - layout.DataHeaderSize() - kRowSlotSize;
}

}  // namespace jet
