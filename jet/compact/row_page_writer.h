// Places a table's rows on consecutive new pages in the order they come and writes
// each page when it is full.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "jet/compact/data_page_builder.h"
#include "jet/row_addr.h"

namespace jet {

class RowPageWriter {
  public:
    // Hands out the next page number (consecutive numbers keep addresses increasing).
    using NextPage = std::function<std::uint32_t()>;
    // Writes a finished page.
    using PageSink = std::function<void(std::uint32_t page, std::vector<std::uint8_t> bytes)>;

    RowPageWriter(const PageLayout& layout, std::uint32_t owner, NextPage next_page, PageSink sink);

    // Places one row and returns its address. REQUIRES: row fits an empty page
    RowAddr Place(std::span<const std::uint8_t> row);

    // Writes the page being filled, if any.
    void Flush();

    // Pages written so far, ascending, and the free space of each.
    const std::vector<std::uint32_t>& pages() const { return pages_; }
    const std::vector<std::size_t>& free_space() const { return free_; }

  private:
    DataPageBuilder builder_;
    NextPage next_page_;
    PageSink sink_;
    std::uint32_t current_ = 0;  // number of the page being filled (valid when not empty)
    std::vector<std::uint32_t> pages_;
    std::vector<std::size_t> free_;
};

}  // namespace jet
