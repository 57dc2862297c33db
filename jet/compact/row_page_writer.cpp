#include "jet/compact/row_page_writer.h"

#include <cassert>

namespace jet {

RowPageWriter::RowPageWriter(const PageLayout& layout, std::uint32_t owner, NextPage next_page,
                             PageSink sink)
    : builder_(layout, owner), next_page_(std::move(next_page)), sink_(std::move(sink)) {}

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
