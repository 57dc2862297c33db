#include "jet/compact/long_value_packer.h"

#include <algorithm>
#include <cassert>
#include <numeric>
#include <unordered_set>

#include "jet/compact/data_page_builder.h"
#include "jet/compact/put_bytes.h"

namespace jet {
namespace {

// The room left on each page opened so far, in a tree whose inner nodes hold the
// largest room below them, so that the first page with room for a row is found in
// O(log pages) rather than by trying every page.
class FirstFitTree {
  public:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

    explicit FirstFitTree(std::size_t max_pages) {
        while (leaves_ < max_pages) leaves_ *= 2;
        best_.assign(2 * leaves_, kClosed);
    }

    // The first page whose room is at least `need`, or kNone.
    std::size_t Find(std::int64_t need) const {
        if (best_[1] < need) return kNone;
        std::size_t i = 1;
        while (i < leaves_) i = best_[2 * i] >= need ? 2 * i : 2 * i + 1;
        return i - leaves_;
    }

    // Sets a page's room; kClosed for a page that takes no more rows.
    void Set(std::size_t page, std::int64_t room) {
        std::size_t i = page + leaves_;
        best_[i] = room;
        for (i /= 2; i > 0; i /= 2) best_[i] = std::max(best_[2 * i], best_[2 * i + 1]);
    }

    static constexpr std::int64_t kClosed = -1;

  private:
    std::size_t leaves_ = 1;
    std::vector<std::int64_t> best_;  // 1-based heap layout; leaves from leaves_ on
};

}  // namespace

void LongValuePacker::AddRow(RowAddr source, std::size_t size, bool chain) {
    if (size == 0 || size > DataPageBuilder::MaxRowSize(layout_))
        ThrowFormat("long-value row " + source.ToString() + " has an impossible size");
    Row r;
    r.source = source.Packed();
    r.size = static_cast<std::uint16_t>(size);
    r.chain = chain;
    rows_.push_back(r);
}

std::size_t LongValuePacker::AddValue(PageFile& file, const LongValueHeader& header,
                                      const ReadLimits& limits) {
    assert(header.kind != LongValueHeader::Kind::Inline && pages_ == 0);
    if (header.length > limits.max_long_value) ThrowFormat("long value is larger than allowed");
    const std::size_t first = rows_.size();
    if (header.kind == LongValueHeader::Kind::Single) {
        Page holder;
        Bytes b = LvalRowBytes(file, header.first, holder);
        if (b.size() < header.length)
            ThrowFormat("long value at " + header.first.ToString() +
                        " is shorter than its header says");
        AddRow(header.first, b.size(), false);
    } else {
        // A chain: every row starts with the address of the next one.
        std::unordered_set<std::uint32_t> seen;
        std::size_t have = 0;
        RowAddr at = header.first;
        while (have < header.length || rows_.size() == first) {
            if (at.null()) ThrowFormat("long-value chain ends early");
            if (!seen.insert(at.Packed()).second)
                ThrowFormat("long-value chain loops at " + at.ToString());
            if (seen.size() > limits.max_chain_rows) ThrowFormat("long-value chain is too long");
            Page holder;
            Bytes b = LvalRowBytes(file, at, holder);
            if (b.size() < kChainDataAt)
                ThrowFormat("long-value chain row " + at.ToString() + " is too short");
            have += b.size() - kChainDataAt;
            AddRow(at, b.size(), true);
            at = UnpackRowPtr(U32(b, kChainNextAt));
        }
    }
    rows_.back().last = true;
    values_.push_back(static_cast<std::uint32_t>(first));
    return values_.size() - 1;
}

std::uint32_t LongValuePacker::PlaceNextFit() {
    const std::size_t room = layout_.page_size - layout_.DataHeaderSize();
    std::uint32_t pages = 0;
    std::size_t free = 0, on_page = 0;
    for (Row& r : rows_) {
        std::size_t cost = r.size + kRowSlotSize;
        if (pages == 0 || on_page >= DataPageBuilder::kMaxRows || cost > free) {
            ++pages;
            free = room;
            on_page = 0;
        }
        r.page = pages - 1;
        r.slot = static_cast<std::uint8_t>(on_page++);
        free -= cost;
    }
    return pages;
}

std::uint32_t LongValuePacker::PlaceFirstFitDecreasing() {
    const std::int64_t room =
        static_cast<std::int64_t>(layout_.page_size - layout_.DataHeaderSize());
    std::vector<std::uint32_t> order(rows_.size());
    std::iota(order.begin(), order.end(), 0u);
    // Largest first; equal sizes keep their source order, so the result is deterministic.
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        return rows_[a].size > rows_[b].size;
    });
    FirstFitTree tree(rows_.size());
    std::vector<std::int64_t> free;  // per page opened
    std::vector<std::size_t> count;  // rows per page
    for (std::uint32_t i : order) {
        Row& r = rows_[i];
        const std::int64_t cost = static_cast<std::int64_t>(r.size + kRowSlotSize);
        std::size_t page = tree.Find(cost);
        if (page == FirstFitTree::kNone) {
            page = free.size();
            free.push_back(room);
            count.push_back(0);
        }
        assert(free[page] >= cost && count[page] < DataPageBuilder::kMaxRows);
        r.page = static_cast<std::uint32_t>(page);
        r.slot = static_cast<std::uint8_t>(count[page]++);
        free[page] -= cost;
        tree.Set(page,
                 count[page] < DataPageBuilder::kMaxRows ? free[page] : FirstFitTree::kClosed);
    }
    return static_cast<std::uint32_t>(free.size());
}

std::uint32_t LongValuePacker::Pack() {
    if (rows_.empty()) return 0;
    // Next-fit first, to compare: first-fit-decreasing nearly always needs fewer pages,
    // but nothing guarantees it for every set of rows.
    std::uint32_t next_fit = PlaceNextFit();
    std::vector<Row> kept = rows_;
    pages_ = PlaceFirstFitDecreasing();
    if (next_fit < pages_) {
        rows_ = std::move(kept);
        pages_ = next_fit;
    }
    return pages_;
}

RowAddr LongValuePacker::Address(std::size_t value, std::uint32_t first_page) const {
    assert(pages_ > 0 && value < values_.size());
    const Row& r = rows_[values_[value]];
    return {first_page + r.page, r.slot};
}

void LongValuePacker::WritePages(PageFile& file, std::uint32_t first_page, const PageSink& sink) {
    // Rows of each page in slot order: counted per page, then laid out page after page.
    std::vector<std::uint32_t> start(pages_ + 1, 0);
    for (const Row& r : rows_) ++start[r.page + 1];
    std::partial_sum(start.begin(), start.end(), start.begin());
    std::vector<std::uint32_t> by_page(rows_.size());
    for (std::uint32_t i = 0; i < rows_.size(); ++i)
        by_page[start[rows_[i].page] + rows_[i].slot] = i;

    DataPageBuilder builder(layout_, kLvalOwner);
    std::vector<std::uint8_t> bytes;
    free_.clear();
    for (std::uint32_t p = 0; p < pages_; ++p) {
        for (std::uint32_t k = start[p]; k < start[p + 1]; ++k) {
            const std::uint32_t i = by_page[k];
            const Row& r = rows_[i];
            Page holder;
            Bytes b = LvalRowBytes(file, UnpackRowPtr(r.source), holder);
            if (b.size() != r.size)
                ThrowFormat("long-value row " + UnpackRowPtr(r.source).ToString() +
                            " changed while it was copied");
            bytes.assign(b.begin(), b.end());
            if (r.chain) {
                // Rows of a value follow each other in rows_.
                std::uint32_t next = 0;
                if (!r.last)
                    next = RowAddr{first_page + rows_[i + 1].page, rows_[i + 1].slot}.Packed();
                PutU32(bytes, kChainNextAt, next);
            }
            std::uint8_t slot = builder.Add(bytes);
            assert(slot == r.slot);
            (void)slot;
        }
        free_.push_back(builder.free_space());
        sink(first_page + p, builder.Finish());
    }
}

}  // namespace jet
