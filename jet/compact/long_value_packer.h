// Places the long-value (LVAL) rows of one memo / OLE column on as few new pages as
// it can. Every row is planned first (its source address and size), then all rows are
// packed first-fit-decreasing: largest first, each into the first page that still has
// room. When next-fit in source order (rows on consecutive pages as they come) would
// need fewer pages, that placement is kept instead. Finally the pages are written one
// after the other, each row read again from the source, chain links rewritten for the
// rows' new places. The placement depends only on the rows, so the output is
// deterministic.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "jet/compact/page_layout.h"
#include "jet/page_file.h"
#include "jet/row.h"
#include "jet/table.h"

namespace jet {

class LongValuePacker {
  public:
    using PageSink = std::function<void(std::uint32_t page, std::vector<std::uint8_t> bytes)>;

    explicit LongValuePacker(const PageLayout& layout) : layout_(layout) {}

    // Plans the rows of one value stored outside its row (Single or Chain), reading its
    // chain from `file`, and returns the value's handle. Throws FormatError for a
    // broken chain (a loop, a missing or deleted row, a chain shorter than the header
    // says). REQUIRES: header.kind != Inline, Pack() not called yet
    std::size_t AddValue(PageFile& file, const LongValueHeader& header, const ReadLimits& limits);

    // Values added so far; their handles are 0 .. value_count() - 1 in order.
    std::size_t value_count() const { return values_.size(); }

    // Places every planned row and returns the number of pages they need.
    std::uint32_t Pack();

    // New address of a value's first row when the pages are numbered from first_page
    // on. REQUIRES: Pack() was called
    RowAddr Address(std::size_t value, std::uint32_t first_page) const;

    // Writes the pages first_page, first_page + 1, ... Throws FormatError when a source
    // row no longer reads as planned. REQUIRES: Pack() was called
    void WritePages(PageFile& file, std::uint32_t first_page, const PageSink& sink);

    // Free bytes of each page written, in page order.
    const std::vector<std::size_t>& free_space() const { return free_; }

  private:
    struct Row {
        std::uint32_t source = 0;  // RowAddr::Packed() of the row in the source
        std::uint16_t size = 0;
        bool chain = false;      // starts with the link to the next row of its value
        bool last = false;       // last row of its value
        std::uint32_t page = 0;  // page index after Pack
        std::uint8_t slot = 0;   // row number on that page
    };
    void AddRow(RowAddr source, std::size_t size, bool chain);
    // Each returns the number of pages and sets Row::page / Row::slot.
    std::uint32_t PlaceNextFit();
    std::uint32_t PlaceFirstFitDecreasing();

    const PageLayout& layout_;
    std::vector<Row> rows_;              // every value's rows, in chain order
    std::vector<std::uint32_t> values_;  // index in rows_ of each value's first row
    std::uint32_t pages_ = 0;
    std::vector<std::size_t> free_;
};

}  // namespace jet
