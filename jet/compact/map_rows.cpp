#include "jet/compact/map_rows.h"

#include <algorithm>
#include <cassert>

#include "jet/compact/data_page_builder.h"

namespace jet {

MapRows::MapRows(const PageLayout& layout) : layout_(layout) {}

std::size_t MapRows::Reserve() {
    maps_.emplace_back(layout_, layout_.map.inline_bitmap_bytes);
    return maps_.size() - 1;
}

std::size_t MapRows::RowsPerPage() const {
    std::size_t room = layout_.page_size - layout_.DataHeaderSize();
    return std::min(DataPageBuilder::kMaxRows, room / (layout_.MapRowSize() + kRowSlotSize));
}

std::uint32_t MapRows::PagesNeeded() const {
    return static_cast<std::uint32_t>((maps_.size() + RowsPerPage() - 1) / RowsPerPage());
}

void MapRows::PlacePages(std::vector<std::uint32_t> pages) {
    assert(pages.size() == PagesNeeded());
    pages_ = std::move(pages);
}

RowAddr MapRows::Address(std::size_t handle) const {
    assert(handle < maps_.size() && !pages_.empty());
    return {pages_[handle / RowsPerPage()], static_cast<std::uint8_t>(handle % RowsPerPage())};
}

void MapRows::Finish(const std::function<std::uint32_t(std::uint32_t)>& take_run,
                     const std::function<void(std::uint32_t, std::vector<std::uint8_t>)>& sink) {
    DataPageBuilder page(layout_, 0);
    std::size_t per = RowsPerPage();
    for (std::size_t h = 0; h < maps_.size(); ++h) {
        const UsageMapBuilder& m = maps_[h];
        std::vector<std::uint8_t> row;
        if (m.FitsInline()) {
            row = m.InlineRow();
        } else {
            std::uint32_t n = static_cast<std::uint32_t>(m.BitmapPagesNeeded());
            std::uint32_t first = take_run(n);
            std::vector<std::uint32_t> numbers;
            for (std::uint32_t i = 0; i < n; ++i) numbers.push_back(first + i);
            row = m.ReferenceRow(numbers);
            auto bitmaps = m.BitmapPages();
            for (std::uint32_t i = 0; i < n; ++i) sink(first + i, std::move(bitmaps[i]));
        }
        assert(row.size() == layout_.MapRowSize());
        std::uint8_t r = page.Add(row);
        assert(r == h % per);
        (void)r;
        if ((h + 1) % per == 0 || h + 1 == maps_.size()) sink(pages_[h / per], page.Finish());
    }
}

}  // namespace jet
