// Places the long-value (LVAL) rows of one memo / OLE column on as few new pages as
// it can. Every row is planned first (its source address and size), then the rows are
// packed first-fit-decreasing: largest first, each into the first page that still has
// room. When next-fit in source order (rows on consecutive pages as they come) would
// need fewer pages, that placement is kept instead. Finally the pages are written one
// after the other, chain links rewritten for the rows' new places. The placement
// depends only on the rows, so the output is deterministic.
//
// Locality: a column's values are packed in groups of about kGroupPages pages' worth,
// in the order they were added (their rows' order), each group first-fit-decreasing
// on pages of its own. A value's rows then lie within one group's pages, and a reader
// going through the rows in order (the verification, any later reader) visits the long
// values one group of pages after the other instead of all over the column. A group
// leaves at most part of a page unused beside what packing the whole column at once
// would, and no column below kGroupPages pages is affected.
//
// Writing reads the rows of kGroupPages new pages at a time from the source in the
// order of their source pages, so the source is read in runs rather than page by page
// in the order of the new pages.
//
// Memory: what is kept per row goes through external sorts (external_sorter.h), so
// past its budget the packer works from spill files and keeps in memory only the
// free room of the pages opened. The sorts are stable and the placement reads the
// rows in the same order either way, so a budget never changes a byte of the output.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "jet/compact/external_sorter.h"
#include "jet/compact/page_layout.h"
#include "jet/compact/spill_file.h"
#include "jet/page_file.h"
#include "jet/resident_buffer.h"
#include "jet/row.h"
#include "jet/table.h"

namespace jet {

class DataPageBuilder;

class LongValuePacker {
  public:
    // Pages' worth of rows packed together, and the new pages whose rows are read at
    // once while writing (their bytes are held meanwhile: 16 MB of Jet 4 pages).
    // Large enough that packing loses next to nothing against the whole column, small
    // enough that a group's pages stay cached while a reader goes through its rows.
    static constexpr std::uint32_t kGroupPages = 4096;

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
    // row no longer reads as planned. The rows of a batch are gathered in `rows`, grown
    // when too small and left as it is for the next column: one buffer made resident
    // for all the columns of a run instead of one per column (null: a buffer of the
    // call's own). REQUIRES: Pack() was called, once only
    void WritePages(PageFile& file, std::uint32_t first_page, const PageSink& sink,
                    ResidentBuffer* rows = nullptr);

    // Free bytes of each page written, in page order.
    const std::vector<std::size_t>& free_space() const { return free_; }

    // True when a sort went to disk (the budget was too small for the rows).
    bool spilled() const { return spilled_; }

  private:
    static constexpr std::uint8_t kChain = 1;  // the row starts with the link to the next
    static constexpr std::uint8_t kLast = 2;   // the last row of its value

    // A row as planned, in first-fit-decreasing order within its group: larger rows
    // first, then the order they were added in (their index).
    struct Planned {
        std::uint32_t group = 0;
        std::uint32_t index = 0;   // rows of all values, numbered as added (chain order)
        std::uint32_t source = 0;  // RowAddr::Packed() of the row in the source
        std::uint16_t size = 0;
        std::uint8_t flags = 0;
        std::uint8_t unused = 0;
        bool operator<(const Planned& o) const {
            if (group != o.group) return group < o.group;
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
    // Copies the rows of one batch of new pages (in place order) to the builder,
    // reading them from the source in source order.
    void WriteBatch(PageFile& file, std::uint32_t first_page, std::span<const Copy> batch,
                    DataPageBuilder& builder, std::uint32_t& page, const PageSink& sink,
                    ResidentBuffer& rows);
    // Places the rows first-fit-decreasing into placed_; returns the pages needed.
    std::uint32_t PlaceFirstFitDecreasing();

    const PageLayout& layout_;
    ExternalSorter<Planned> planned_;
    ExternalSorter<Placed> placed_;
    ExternalSorter<Copy> copies_;
    ExternalSorter<ValuePlace> value_places_;
    std::uint32_t rows_ = 0;
    std::uint32_t group_ = 0;         // group of the values being added
    std::size_t group_cost_ = 0;      // bytes (rows and slots) in it so far
    std::optional<Planned> pending_;  // the latest row, not in planned_ yet
    std::size_t values_ = 0;
    // Next-fit in added order, counted as the rows come: pages, room and rows on the last.
    std::uint32_t next_fit_pages_ = 0;
    std::size_t next_fit_free_ = 0, next_fit_on_page_ = 0;
    std::uint32_t pages_ = 0;
    bool packed_ = false, spilled_ = false;
    std::vector<std::size_t> free_;
    // Kept from batch to batch: where each row starts, the reading order.
    std::vector<std::size_t> batch_at_;
    std::vector<std::uint32_t> batch_order_;
};

}  // namespace jet
