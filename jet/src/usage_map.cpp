#include "jet/usage_map.h"

#include <algorithm>
#include <bit>

#include "jet/data_page.h"

namespace jet {

bool UsageMap::Contains(std::uint32_t page) const {
    return std::binary_search(pages.begin(), pages.end(), page);
}

namespace {

// Appends the pages whose bits are set, in ascending order. A table's map lists up
// to hundreds of thousands of pages and is read once per part of its rows, so the
// set bits are found by counting trailing zeros rather than testing all eight.
void AddBits(Bytes bits, std::uint64_t first_page, std::uint32_t max_page,
             std::vector<std::uint32_t>& out) {
    for (std::size_t i = 0; i < bits.size(); ++i) {
        for (unsigned b = bits[i]; b != 0; b &= b - 1) {
            const std::uint64_t p = first_page + i * 8 + static_cast<unsigned>(std::countr_zero(b));
            if (p < max_page) out.push_back(static_cast<std::uint32_t>(p));
        }
    }
}

}  // namespace

UsageMap ReadUsageMap(PageFile& file, RowAddr where, std::uint32_t max_page) {
    UsageMap m;
    m.where = where;
    if (!file.Contains(where.page))
        ThrowFormat("usage map at " + where.ToString() + " points outside the file");
    Page pg = file.Read(where.page);
    if (pg.type() != kPageData)
        ThrowFormat("usage map at " + where.ToString() + " is not on a data page");
    auto page_bytes = pg.bytes();
    Bytes row = RowBytes(page_bytes, file.jet3(), where.row);
    if (row.empty()) ThrowFormat("usage map at " + where.ToString() + " is empty");
    std::uint32_t row_offset = static_cast<std::uint32_t>(row.data() - page_bytes.data());
    const UsageMapLayout lay = UsageMapLayout::For(file.jet3());
    switch (row[lay.kind]) {
        case kMapInline: {
            m.kind = UsageMap::Kind::Inline;
            m.start_page = U32(row, lay.start_page);
            AddBits(row.subspan(std::min<std::size_t>(lay.bitmap, row.size())), m.start_page,
                    max_page, m.pages);
            break;
        }
        case kMapReference: {
            m.kind = UsageMap::Kind::Reference;
            m.pages_per_bitmap_page = PagesPerBitmapPage(file.page_size());
            std::size_t slots = (row.size() - lay.pointers) / lay.pointer_size;
            for (std::size_t i = 0; i < slots; ++i) {
                std::size_t at = lay.pointers + lay.pointer_size * i;
                std::uint32_t p = U32(row, at);
                m.bitmap_pages.push_back(p);
                m.bitmap_page_pos.push_back(
                    {where.page, row_offset + static_cast<std::uint32_t>(at)});
                // 0 and "negative" values mean no page.
                if (p == 0 || p >= kNoBitmapPage) continue;
                if (!file.Contains(p))
                    ThrowFormat("usage map at " + where.ToString() + " refers to page " +
                                std::to_string(p) + " past the end of the file");
                Page bp = file.Read(p);
                if (bp.type() != kPageUsageBitmap)
                    ThrowFormat("usage map at " + where.ToString() + " refers to page " +
                                std::to_string(p) + " which is not a usage bitmap page");
                std::uint64_t first = std::uint64_t{m.pages_per_bitmap_page} * i;
                if (first >= max_page) continue;
                AddBits(bp.bytes().subspan(kBitmapPageDataAt), first, max_page, m.pages);
            }
            break;
        }
        default:
            ThrowFormat("usage map at " + where.ToString() + " has unknown type " +
                        std::to_string(row[lay.kind]));
    }
    // Bitmaps are read in page order, so the list comes sorted; sorting it again cost
    // a table's rows comparison as much as reading the map.
    if (!std::is_sorted(m.pages.begin(), m.pages.end())) std::sort(m.pages.begin(), m.pages.end());
    return m;
}

}  // namespace jet
