#include "jet/compact/global_map.h"

#include <algorithm>

#include "jet/bytes.h"
#include "jet/compact/data_page_builder.h"
#include "jet/compact/usage_map_builder.h"

namespace jet {

std::uint32_t WriteGlobalMap(
    const PageLayout& layout, std::uint32_t page_count,
    const std::vector<std::uint32_t>& free_pages,
    const std::function<std::uint32_t(std::uint32_t)>& take_run,
    const std::function<void(std::uint32_t, std::vector<std::uint8_t>)>& sink) {
    // The map must describe itself and any type-5 pages it needs, so settle the page
    // count first.
    const std::size_t room = DataPageBuilder::MaxRowSize(layout);
    const std::uint32_t per = layout.PagesPerBitmapPage();
    std::uint32_t n = page_count;
    auto inline_bytes = [&](std::uint32_t pages) {
        std::size_t need = (pages + 7) / 8;
        need = (need + 31) / 32 * 32;
        return std::max(layout.map.inline_bitmap_bytes, need);
    };
    auto used = [&](std::uint32_t pages) {
        UsageMapBuilder b(layout, inline_bytes(pages));
        std::uint32_t from = 0;
        for (std::uint32_t f : free_pages) {
            b.AddRange(from, f);
            from = f + 1;
        }
        b.AddRange(from, pages);
        return b;
    };
    std::vector<std::uint8_t> row;
    if (layout.map.bitmap + inline_bytes(n) <= room) {
        row = used(n).InlineFreeRow();
    } else {
        std::uint32_t slots = (n + per - 1) / per;
        while ((n + slots + per - 1) / per > slots) ++slots;
        if (slots > layout.map.reference_pointers)
            ThrowFormat("the database is too large for its format");
        std::uint32_t first = take_run(slots);
        n = first + slots;
        UsageMapBuilder b = used(n);
        auto pages = b.FreeBitmapPages(slots);
        std::vector<std::uint32_t> numbers;
        for (std::uint32_t i = 0; i < slots; ++i) {
            numbers.push_back(first + i);
            sink(first + i, std::move(pages[i]));
        }
        row = b.FreeReferenceRow(numbers);
    }
    DataPageBuilder page1(layout, 0);
    page1.Add(row);
    sink(kGlobalMapPage, page1.Finish());
    return n;
}

}  // namespace jet
