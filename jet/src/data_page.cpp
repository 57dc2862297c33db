#include "jet/data_page.h"

namespace jet {

DataPageInfo ReadDataPage(Bytes page, bool jet3) {
    auto lay = DataPageLayout::For(jet3);
    DataPageInfo info;
    info.free_space = U16(page, lay.free_space);
    info.owner = U32(page, lay.owner);
    std::uint32_t count = U16(page, lay.row_count);
    std::uint32_t table_end = static_cast<std::uint32_t>(lay.row_table + kRowSlotSize * count);
    if (table_end > page.size()) {
        info.slots_valid = false;
        info.first_problem = "row count " + std::to_string(count) + " does not fit in the page";
        return info;
    }
    info.slots.reserve(count);
    std::uint32_t prev_begin = static_cast<std::uint32_t>(page.size());
    for (std::uint32_t i = 0; i < count; ++i) {
        RowSlot s;
        s.raw = U16(page, lay.row_table + kRowSlotSize * i);
        s.begin = s.raw & kRowOffsetMask;
        s.end = prev_begin;
        bool ok = s.begin >= table_end && s.begin <= s.end && s.end <= page.size();
        if (!ok) {
            if (info.slots_valid)
                info.first_problem = "row " + std::to_string(i) + " has offset " +
                                     std::to_string(s.begin) + " outside its space " +
                                     std::to_string(table_end) + ".." + std::to_string(s.end);
            info.slots_valid = false;
            s.begin = s.end =
                std::min<std::uint32_t>(prev_begin, static_cast<std::uint32_t>(page.size()));
            // Keep later slots measured against something sane.
        }
        // A 0x1FFF-masked offset past the page is clamped above; the next row ends here.
        prev_begin = s.begin;
        info.slots.push_back(s);
    }
    return info;
}

Bytes RowBytes(Bytes page, bool jet3, unsigned row) {
    auto lay = DataPageLayout::For(jet3);
    std::uint32_t count = U16(page, lay.row_count);
    if (row >= count) ThrowFormat("row " + std::to_string(row) + " does not exist on its page");
    std::uint32_t table_end = static_cast<std::uint32_t>(lay.row_table + kRowSlotSize * count);
    std::uint32_t begin = U16(page, lay.row_table + kRowSlotSize * row) & kRowOffsetMask;
    std::uint32_t end =
        row == 0 ? static_cast<std::uint32_t>(page.size())
                 : (U16(page, lay.row_table + kRowSlotSize * (row - 1)) & kRowOffsetMask);
    if (begin < table_end || begin > end || end > page.size())
        ThrowFormat("row " + std::to_string(row) + " has an invalid offset " +
                    std::to_string(begin));
    return page.subspan(begin, end - begin);
}

std::uint32_t ComputedFreeSpace(const DataPageInfo& info, std::uint32_t page_size, bool jet3) {
    auto lay = DataPageLayout::For(jet3);
    std::uint64_t used = lay.row_table + kRowSlotSize * info.slots.size();
    for (const auto& s : info.slots) used += s.size();
    return used > page_size ? 0 : static_cast<std::uint32_t>(page_size - used);
}

}  // namespace jet
