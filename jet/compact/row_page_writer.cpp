#include "jet/compact/row_page_writer.h"

#include <cassert>

namespace jet {

RowPageWriter::RowPageWriter(const PageLayout& layout, std::uint32_t owner, NextPage next_page,
                             PageSink sink)
    : layout_(layout),
      builder_(layout, owner),
      next_page_(std::move(next_page)),
      sink_(std::move(sink)) {}

std::vector<RowAddr> RowPageWriter::Plan(std::span<const std::size_t> lengths,
                                         std::uint32_t upcoming) const {
    // Mirrors DataPageBuilder::Fits on a copy of its state.
    std::vector<RowAddr> out;
    bool open = !builder_.empty();
    std::uint32_t page = current_;
    std::uint32_t next_new = upcoming;
    std::size_t free = builder_.free_space();
    std::size_t rows = open ? builder_.next_row() : 0;
    for (std::size_t len : lengths) {
        if (!open || rows >= DataPageBuilder::kMaxRows || len + kRowSlotSize > free) {
            page = next_new++;
            free = layout_.page_size - layout_.DataHeaderSize();
            rows = 0;
            open = true;
        }
        out.push_back({page, static_cast<std::uint8_t>(rows)});
        free -= len + kRowSlotSize;
        ++rows;
    }
    return out;
}

RowAddr RowPageWriter::Place(std::span<const std::uint8_t> row) {
    if (!builder_.empty() && !builder_.Fits(row.size())) Flush();
    if (builder_.empty()) current_ = next_page_();
    assert(builder_.Fits(row.size()));
    std::uint8_t r = builder_.Add(row);
    return {current_, r};
}

void RowPageWriter::Flush() {
    if (builder_.empty()) return;
    pages_.push_back(current_);
    free_.push_back(builder_.free_space());
    sink_(current_, builder_.Finish());
}

}  // namespace jet
