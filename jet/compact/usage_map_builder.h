// Builds usage maps for the new file: a table's owned and free-space maps, the
// maps of long-value columns and indexes, and the global map on page 1.
//
// An inline map (type 0) is a row holding a start page and a bitmap; a reference
// map (type 1) is a row of pointers to type-5 bitmap pages, pointer i describing
// pages [i * PagesPerBitmapPage(), (i + 1) * PagesPerBitmapPage()).
#pragma once

#include <cstdint>
#include <vector>

#include "jet/compact/page_layout.h"

namespace jet {

// A set of page numbers given as sorted, disjoint half-open ranges.
struct PageRange {
    std::uint32_t first = 0;
    std::uint32_t end = 0;  // one past the last page
};

class UsageMapBuilder {
  public:
    // row_bitmap_bytes: bitmap size of the inline row (64 Jet 4 / 128 Jet 3 for table
    // maps; the global map grows its row with the file).
    UsageMapBuilder(const PageLayout& layout, std::size_t row_bitmap_bytes);

    // Marks pages [first, end).
    void AddRange(std::uint32_t first, std::uint32_t end);
    void AddPage(std::uint32_t page) { AddRange(page, page + 1); }

    // True when every marked page fits one inline row of this builder's size.
    bool FitsInline() const;

    // Number of type-5 pages a reference map of these pages needs.
    std::size_t BitmapPagesNeeded() const;

    // The inline row. REQUIRES: FitsInline()
    std::vector<std::uint8_t> InlineRow() const;

    // The reference row and its bitmap pages, numbered bitmap_pages[i] for the
    // i-th needed slot (in slot order). REQUIRES: bitmap_pages.size() == BitmapPagesNeeded()
    std::vector<std::uint8_t> ReferenceRow(const std::vector<std::uint32_t>& bitmap_pages) const;
    std::vector<std::vector<std::uint8_t>> BitmapPages() const;

    // The global map, whose set bits are the pages NOT in this set: every page not
    // marked is free, pages past the end of the file included, as Jet writes it.
    // Inline: a row starting at page 0 with this builder's bitmap size.
    std::vector<std::uint8_t> InlineFreeRow() const;
    // Reference: type-5 pages for slots [0, slots) and the row pointing at them.
    std::vector<std::vector<std::uint8_t>> FreeBitmapPages(std::size_t slots) const;
    std::vector<std::uint8_t> FreeReferenceRow(
        const std::vector<std::uint32_t>& bitmap_pages) const;

  private:
    std::vector<std::uint32_t> Slots() const;  // reference slots with a marked page

    const PageLayout& layout_;
    std::size_t bitmap_bytes_;       // bitmap bytes of an inline row
    std::vector<PageRange> ranges_;  // marked pages, sorted, merged
};

}  // namespace jet
