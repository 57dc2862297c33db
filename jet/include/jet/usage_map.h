// Usage maps: inline bitmaps (type 0) and reference maps (type 1) over type-5 pages.
#pragma once

#include <cstdint>
#include <vector>

#include "jet/page_file.h"
#include "jet/row_addr.h"

namespace jet {

struct UsageMap {
    enum class Kind { Inline = 0, Reference = 1 };
    Kind kind = Kind::Inline;
    RowAddr where;                 // the map's row
    std::uint32_t start_page = 0;  // inline maps: page of bit 0
    // Reference maps: the type-5 page of each slot (0 = none) and where each pointer is.
    std::vector<std::uint32_t> bitmap_pages;
    std::vector<FieldPos> bitmap_page_pos;
    std::uint32_t pages_per_bitmap_page = 0;
    // Pages whose bit is set, ascending. Pages past the end of the file are kept.
    std::vector<std::uint32_t> pages;

    bool Contains(std::uint32_t page) const;
};

// Reads the map stored in row `where`. Throws FormatError when the row or a bitmap page
// is unusable. Bits beyond `max_page` (exclusive) are ignored to bound memory.
UsageMap ReadUsageMap(PageFile& file, RowAddr where, std::uint32_t max_page);

}  // namespace jet
