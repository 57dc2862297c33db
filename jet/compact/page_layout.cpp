#include "jet/compact/page_layout.h"

#include <cassert>

namespace jet {

PageLayout PageLayout::For(Format f) {
    assert(f == Format::Jet3 || f == Format::Jet4);
    PageLayout l;
    l.jet3 = f == Format::Jet3;
    if (l.jet3) {
        l.page_size = 2048;
        l.data_row_count = 0x08;
        l.data_slots = 0x0A;
        l.index_prev = 0x08;
        l.index_next = 0x0C;
        l.index_tail = 0x10;
        l.index_prefix = 0x14;
        l.index_mask = 0x16;
        l.index_first = 0xF8;
        l.inline_map_bytes = 128;
        l.reference_pointers = 33;
    } else {
        l.page_size = 4096;
        l.data_row_count = 0x0C;
        l.data_slots = 0x0E;
        l.index_prev = 0x0C;
        l.index_next = 0x10;
        l.index_tail = 0x14;
        l.index_prefix = 0x18;
        l.index_mask = 0x1B;
        l.index_first = 0x1E0;
        l.inline_map_bytes = 64;
        l.reference_pointers = 17;
    }
    return l;
}

}  // namespace jet
