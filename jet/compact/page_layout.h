// Offsets of the page structures the compactor writes, for Jet 3 and Jet 4.
#pragma once

#include <cstddef>
#include <cstdint>

#include "jet/data_page.h"
#include "jet/header.h"

namespace jet {

struct PageLayout {
    std::uint32_t page_size = 0;
    bool jet3 = false;
    // Data pages (also long-value and usage-map row pages).
    std::size_t data_row_count = 0;  // u16 slot count
    std::size_t data_slots = 0;      // first u16 of the slot table
    // Index pages.
    std::size_t index_prev = 0;
    std::size_t index_next = 0;
    std::size_t index_tail = 0;
    std::size_t index_prefix = 0;  // 1 byte (Jet 3) or u16 (Jet 4)
    std::size_t index_mask = 0;    // entry-end bitmask
    std::size_t index_first = 0;   // first entry
    // Usage maps.
    std::size_t inline_map_bytes = 0;    // bitmap bytes of an inline (type 0) map row
    std::size_t reference_pointers = 0;  // u32 pointers of a reference (type 1) map row
    std::size_t DataHeaderSize() const { return data_slots; }
    // Pages one type-5 bitmap page describes.
    std::uint32_t PagesPerBitmapPage() const { return (page_size - 4) * 8; }
    // Bytes of a usage-map row (both kinds have the same length).
    std::size_t MapRowSize() const { return 1 + 4 + inline_map_bytes; }

    static PageLayout For(Format f);
};

}  // namespace jet
