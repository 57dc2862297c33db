#include "jet/compact/usage_map_builder.h"

#include <algorithm>
#include <cassert>

#include "jet/compact/put_bytes.h"

namespace jet {

UsageMapBuilder::UsageMapBuilder(const PageLayout& layout, std::size_t row_bitmap_bytes)
    : layout_(layout), bitmap_bytes_(row_bitmap_bytes) {}

void UsageMapBuilder::AddRange(std::uint32_t first, std::uint32_t end) {
    if (first >= end) return;
    assert(ranges_.empty() || first >= ranges_.back().end);
    if (!ranges_.empty() && ranges_.back().end == first)
        ranges_.back().end = end;
    else
        ranges_.push_back({first, end});
}

bool UsageMapBuilder::FitsInline() const {
    if (ranges_.empty()) return true;
    std::uint64_t span = std::uint64_t{ranges_.back().end} - ranges_.front().first;
    return span <= bitmap_bytes_ * 8;
}

static void SetBits(std::vector<std::uint8_t>& row, std::size_t bitmap_at, std::uint64_t from,
                    std::uint64_t to) {
    for (std::uint64_t b = from; b < to; ++b)
        row[bitmap_at + b / 8] |= static_cast<std::uint8_t>(1u << (b % 8));
}

std::vector<std::uint8_t> UsageMapBuilder::InlineRow() const {
    assert(FitsInline());
    const UsageMapLayout& m = layout_.map;
    std::vector<std::uint8_t> row(m.bitmap + bitmap_bytes_, 0);
    row[m.kind] = kMapInline;
    std::uint32_t start = ranges_.empty() ? 0 : ranges_.front().first;
    PutU32(row, m.start_page, start);
    for (const auto& r : ranges_) SetBits(row, m.bitmap, r.first - start, r.end - start);
    return row;
}

std::vector<std::uint32_t> UsageMapBuilder::Slots() const {
    std::vector<std::uint32_t> slots;
    const std::uint32_t per = layout_.PagesPerBitmapPage();
    for (const auto& r : ranges_) {
        for (std::uint32_t s = r.first / per; s <= (r.end - 1) / per; ++s)
            if (slots.empty() || slots.back() != s) slots.push_back(s);
    }
    return slots;
}

std::size_t UsageMapBuilder::BitmapPagesNeeded() const {
    return Slots().size();
}

std::vector<std::uint8_t> UsageMapBuilder::ReferenceRow(
    const std::vector<std::uint32_t>& bitmap_pages) const {
    std::vector<std::uint32_t> slots = Slots();
    assert(bitmap_pages.size() == slots.size());
    const UsageMapLayout& m = layout_.map;
    std::vector<std::uint8_t> row(m.pointers + m.pointer_size * m.reference_pointers, 0);
    row[m.kind] = kMapReference;
    for (std::size_t i = 0; i < slots.size(); ++i) {
        assert(slots[i] < m.reference_pointers);
        PutU32(row, m.pointers + m.pointer_size * slots[i], bitmap_pages[i]);
    }
    return row;
}

std::vector<std::vector<std::uint8_t>> UsageMapBuilder::BitmapPages() const {
    const std::uint32_t per = layout_.PagesPerBitmapPage();
    std::vector<std::vector<std::uint8_t>> pages;
    for (std::uint32_t s : Slots()) {
        std::vector<std::uint8_t> page(layout_.page_size, 0);
        page[kPageTypeAt] = kPageUsageBitmap;
        page[kPageMarkerAt] = kPageMarker;
        std::uint64_t lo = std::uint64_t{s} * per, hi = lo + per;
        for (const auto& r : ranges_) {
            std::uint64_t a = std::max<std::uint64_t>(r.first, lo);
            std::uint64_t b = std::min<std::uint64_t>(r.end, hi);
            if (a < b) SetBits(page, kBitmapPageDataAt, a - lo, b - lo);
        }
        pages.push_back(std::move(page));
    }
    return pages;
}

// Clears the bits of marked pages in a bitmap describing [lo, lo + bits).
static void ClearMarked(std::vector<std::uint8_t>& buf, std::size_t bitmap_at, std::uint64_t lo,
                        std::uint64_t bits, const std::vector<PageRange>& ranges) {
    for (const auto& r : ranges) {
        std::uint64_t a = std::max<std::uint64_t>(r.first, lo);
        std::uint64_t b = std::min<std::uint64_t>(r.end, lo + bits);
        for (std::uint64_t p = a; p < b; ++p)
            buf[bitmap_at + (p - lo) / 8] &= static_cast<std::uint8_t>(~(1u << ((p - lo) % 8)));
    }
}

std::vector<std::uint8_t> UsageMapBuilder::InlineFreeRow() const {
    const UsageMapLayout& m = layout_.map;
    std::vector<std::uint8_t> row(m.bitmap + bitmap_bytes_, 0);
    row[m.kind] = kMapInline;
    PutU32(row, m.start_page, 0);
    const std::uint64_t bits = bitmap_bytes_ * 8;
    SetBits(row, m.bitmap, 0, bits);
    ClearMarked(row, m.bitmap, 0, bits, ranges_);
    return row;
}

std::vector<std::vector<std::uint8_t>> UsageMapBuilder::FreeBitmapPages(std::size_t slots) const {
    const std::uint32_t per = layout_.PagesPerBitmapPage();
    std::vector<std::vector<std::uint8_t>> pages;
    for (std::size_t s = 0; s < slots; ++s) {
        std::vector<std::uint8_t> page(layout_.page_size, 0);
        page[kPageTypeAt] = kPageUsageBitmap;
        page[kPageMarkerAt] = kPageMarker;
        SetBits(page, kBitmapPageDataAt, 0, per);
        ClearMarked(page, kBitmapPageDataAt, std::uint64_t{s} * per, per, ranges_);
        pages.push_back(std::move(page));
    }
    return pages;
}

std::vector<std::uint8_t> UsageMapBuilder::FreeReferenceRow(
    const std::vector<std::uint32_t>& bitmap_pages) const {
    const UsageMapLayout& m = layout_.map;
    assert(bitmap_pages.size() <= m.reference_pointers);
    std::vector<std::uint8_t> row(m.pointers + m.pointer_size * m.reference_pointers, 0);
    row[m.kind] = kMapReference;
    for (std::size_t i = 0; i < bitmap_pages.size(); ++i)
        PutU32(row, m.pointers + m.pointer_size * i, bitmap_pages[i]);
    return row;
}

}  // namespace jet
