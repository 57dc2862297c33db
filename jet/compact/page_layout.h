// The layout of the pages the compactor writes, for one format (Jet 3 or Jet 4): the
// page size and the layouts of data, index and usage-map pages from jet/format.h.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>

#include "jet/format.h"
#include "jet/header.h"

namespace jet {

struct PageLayout {
    std::uint32_t page_size = 0;
    bool jet3 = false;
    DataPageLayout data;    // data, long-value and usage-map row pages
    IndexPageLayout index;  // index node and leaf pages
    UsageMapLayout map;     // usage-map rows
    std::size_t DataHeaderSize() const { return data.header_size(); }
    // Pages one type-5 bitmap page describes.
    std::uint32_t PagesPerBitmapPage() const { return jet::PagesPerBitmapPage(page_size); }
    // Bytes of a usage-map row (both kinds have the same length).
    std::size_t MapRowSize() const { return map.row_size(); }

    static PageLayout For(Format f) {
        assert(f == Format::Jet3 || f == Format::Jet4);
        const bool jet3 = f == Format::Jet3;
        return {PageSizeOf(jet3), jet3, DataPageLayout::For(jet3), IndexPageLayout::For(jet3),
                UsageMapLayout::For(jet3)};
    }
};

}  // namespace jet
