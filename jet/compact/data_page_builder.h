// Builds one data page (table rows, long-value rows or usage-map rows): rows are
// packed from the end of the page downwards, the slot table grows from the header.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "jet/compact/page_layout.h"

namespace jet {

class DataPageBuilder {
  public:
    // Row numbers are one byte in every pointer, and Jet keeps fewer per page.
    static constexpr std::size_t kMaxRows = 255;

    // owner: the TDEF page of the table, kLvalOwner for long values, 0 for maps.
    DataPageBuilder(const PageLayout& layout, std::uint32_t owner);

    // True when a row of len bytes (and its slot) still fits on this page.
    bool Fits(std::size_t len) const;

    // Appends a row and returns its row number on the page.
    // REQUIRES: Fits(row.size()), !row.empty()
    std::uint8_t Add(std::span<const std::uint8_t> row);

    // Row number the next Add will return.
    std::uint8_t next_row() const { return static_cast<std::uint8_t>(offsets_.size()); }
    bool empty() const { return offsets_.empty(); }
    std::size_t free_space() const;

    // Returns the finished page and resets the builder for the next page.
    std::vector<std::uint8_t> Finish();

    // Largest row a page of this layout can hold.
    static std::size_t MaxRowSize(const PageLayout& layout);

  private:
    const PageLayout& layout_;
    std::uint32_t owner_;                 // value of the owner field
    std::vector<std::uint8_t> page_;      // the page being built
    std::vector<std::uint16_t> offsets_;  // start of each row, row 0 first
    std::size_t low_ = 0;                 // lowest byte used by rows (page end when empty)
};

}  // namespace jet
