// Places the long-value (LVAL) rows of one memo / OLE column on as few new pages as
// it can. Every row is planned first (its source address and size), then all rows are
// packed first-fit-decreasing: largest first, each into the first page that still has
// room. When next-fit in source order (rows on consecutive pages as they come) would
// need fewer pages, that placement is kept instead. Finally the pages are written one
// after the other, each row read again from the source, chain links rewritten for the
// rows' new places. The placement depends only on the rows, so the output is
// deterministic.
//
// Memory: what is kept per row goes through external sorts (external_sorter.h), so
// past its budget the packer works from spill files and keeps in memory only the
// free room of the pages opened. The sorts are stable and the placement reads the
// rows in the same order either way, so a budget never changes a byte of the output.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "jet/compact/external_sorter.h"
#include "jet/compact/page_layout.h"
#include "jet/compact/spill_file.h"
#include "jet/page_file.h"
#include "jet/row.h"
#include "jet/table.h"

namespace jet {

class LongValuePacker {
  public:
    using PageSink = std::function<void(std::uint32_t page, std::vector<std::uint8_t> bytes)>;

    // `spill`: the memory the packer's sorts may use and where they spill past it
    // (at most three of them hold memory at any one time, each a third of it).
    explicit LongValuePacker(const PageLayout& layout, const SpillSettings& spill = {});

    // Plans the rows of one value stored outside its row (Single or Chain), reading its
    // chain from `file`, and returns the value's handle. Throws FormatError for a
    // broken chain (a loop, a missing or deleted row, a chain shorter than the header
    // says). REQUIRES: header.kind != Inline, Pack() not called yet
    std::size_t AddValue(PageFile& file, const LongValueHeader& header, const ReadLimits& limits);

    // Values added so far; their handles are 0 .. value_count() - 1 in order.
    std::size_t value_count() const { return values_; }

    // Places every planned row and returns the number of pages they need.
    std::uint32_t Pack();

    // New address of the next value's first row (handles 0, 1, 2, ... in turn) when
    // the pages are numbered from first_page on. REQUIRES: Pack() was called, fewer
    // calls than value_count()
    RowAddr NextAddress(std::uint32_t first_page);

    // Writes the pages first_page, first_page + 1, ... Throws FormatError when a source
    // row no longer reads as planned. REQUIRES: Pack() was called, once only
    void WritePages(PageFile& file, std::uint32_t first_page, const PageSink& sink);

    // Free bytes of each page written, in page order.
    const std::vector<std::size_t>& free_space() const { return free_; }

    // True when a sort went to disk (the budget was too small for the rows).
    bool spilled() const { return spilled_; }

  private:
    static constexpr std::uint8_t kChain = 1;  // the row starts with the link to the next
    static constexpr std::uint8_t kLast = 2;   // the last row of its value

    // A row as planned, in first-fit-decreasing order: larger rows first, then the
    // order they were added in (their index).
    struct Planned {
        std::uint32_t index = 0;   // rows of all values, numbered as added (chain order)
        std::uint32_t source = 0;  // RowAddr::Packed() of the row in the source
        std::uint16_t size = 0;
        std::uint8_t flags = 0;
        std::uint8_t unused = 0;
        bool operator<(const Planned& o) const {
            return size != o.size ? size > o.size : index < o.index;
        }
    };
    // A row with its place, back in added order.
    struct Placed {
        std::uint32_t index = 0;
        std::uint32_t source = 0;
        std::uint32_t place = 0;  // RowAddr::Packed() of (page index, slot)
        std::uint16_t size = 0;
        std::uint8_t flags = 0;
        std::uint8_t unused = 0;
        bool operator<(const Placed& o) const { return index < o.index; }
    };
    // A row to copy, in the order of the new pages.
    struct Copy {
        std::uint32_t place = 0;
        std::uint32_t source = 0;
        std::uint32_t next = 0;  // place of the value's next row (chain rows but the last)
        std::uint16_t size = 0;
        std::uint8_t flags = 0;
        std::uint8_t unused = 0;
        bool operator<(const Copy& o) const { return place < o.place; }
    };
    // The place of a value's first row, in value order.
    struct ValuePlace {
        std::uint32_t value = 0;
        std::uint32_t place = 0;
        bool operator<(const ValuePlace& o) const { return value < o.value; }
    };

    // Rows reach planned_ one late, so that the last of a value can be marked.
    void AddRow(RowAddr source, std::size_t size, bool chain);
    void FlushPending(bool last);
    // Places the rows first-fit-decreasing into placed_; returns the pages needed.
    std::uint32_t PlaceFirstFitDecreasing();

    const PageLayout& layout_;
    ExternalSorter<Planned> planned_;
    ExternalSorter<Placed> placed_;
    ExternalSorter<Copy> copies_;
    ExternalSorter<ValuePlace> value_places_;
    std::uint32_t rows_ = 0;
    std::optional<Planned> pending_;  // the latest row, not in planned_ yet
    std::size_t values_ = 0;
    // Next-fit in added order, counted as the rows come: pages, room and rows on the last.
    std::uint32_t next_fit_pages_ = 0;
    std::size_t next_fit_free_ = 0, next_fit_on_page_ = 0;
    std::uint32_t pages_ = 0;
    bool packed_ = false, spilled_ = false;
    std::vector<std::size_t> free_;
};

}  // namespace jet
