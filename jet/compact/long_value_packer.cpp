#include "jet/compact/long_value_packer.h"

#include <algorithm>
#include <cassert>
#include <limits>
#include <unordered_set>

#include "jet/compact/data_page_builder.h"
#include "jet/compact/put_bytes.h"

namespace jet {
namespace {

// The room left on each page opened so far, in a tree whose inner nodes hold the
// largest room below them, so that the first page with room for a row is found in
// O(log pages) rather than by trying every page. It grows with the pages opened
// (8 bytes a page), not with the rows.
class FirstFitTree {
  public:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    static constexpr std::int32_t kClosed = -1;

    // The first page whose room is at least `need`, or kNone.
    std::size_t Find(std::int32_t need) const {
        if (best_.size() < 2 || best_[1] < need) return kNone;
        std::size_t i = 1;
        while (i < leaves_) i = best_[2 * i] >= need ? 2 * i : 2 * i + 1;
        return i - leaves_;
    }

    // Sets a page's room; kClosed for a page that takes no more rows.
    void Set(std::size_t page, std::int32_t room) {
        while (page >= leaves_) Grow();
        std::size_t i = page + leaves_;
        best_[i] = room;
        for (i /= 2; i > 0; i /= 2) best_[i] = std::max(best_[2 * i], best_[2 * i + 1]);
    }

  private:
    // Doubles the leaves, keeping the rooms set so far.
    void Grow() {
        const std::size_t leaves = leaves_ == 0 ? 64 : 2 * leaves_;
        std::vector<std::int32_t> best(2 * leaves, kClosed);
        std::copy(best_.begin() + static_cast<std::ptrdiff_t>(leaves_), best_.end(),
                  best.begin() + static_cast<std::ptrdiff_t>(leaves));
        for (std::size_t i = leaves - 1; i > 0; --i) best[i] = std::max(best[2 * i], best[2 * i + 1]);
        best_.swap(best);
        leaves_ = leaves;
    }

    std::size_t leaves_ = 0;
    std::vector<std::int32_t> best_;  // 1-based heap layout; leaves from leaves_ on
};

RowAddr PlaceAddr(std::uint32_t place, std::uint32_t first_page) {
    RowAddr a = UnpackRowPtr(place);
    return {first_page + a.page, a.row};
}

}  // namespace

LongValuePacker::LongValuePacker(const PageLayout& layout, const SpillSettings& spill)
    : layout_(layout),
      planned_(spill.Share(3)),
      placed_(spill.Share(3)),
      copies_(spill.Share(3)),
      value_places_(spill.Share(3)) {}

void LongValuePacker::FlushPending(bool last) {
    if (!pending_) return;
    if (last) pending_->flags |= kLast;
    planned_.Add(*pending_);
    pending_.reset();
}

void LongValuePacker::AddRow(RowAddr source, std::size_t size, bool chain) {
    if (size == 0 || size > DataPageBuilder::MaxRowSize(layout_))
        ThrowFormat("long-value row " + source.ToString() + " has an impossible size");
    if (rows_ == std::numeric_limits<std::uint32_t>::max())
        ThrowFormat("too many long-value rows");
    FlushPending(false);
    Planned r;
    r.group = group_;
    r.index = rows_++;
    r.source = source.Packed();
    r.size = static_cast<std::uint16_t>(size);
    r.flags = chain ? kChain : 0;
    pending_ = r;
    // Next-fit, counted as the rows come.
    const std::size_t cost = size + kRowSlotSize;
    if (next_fit_pages_ == 0 || next_fit_on_page_ >= DataPageBuilder::kMaxRows ||
        cost > next_fit_free_) {
        ++next_fit_pages_;
        next_fit_free_ = layout_.page_size - layout_.DataHeaderSize();
        next_fit_on_page_ = 0;
    }
    ++next_fit_on_page_;
    next_fit_free_ -= cost;
    group_cost_ += cost;
}

std::size_t LongValuePacker::AddValue(PageFile& file, const LongValueHeader& header,
                                      const ReadLimits& limits) {
    assert(header.kind != LongValueHeader::Kind::Inline && !packed_);
    if (header.length > limits.max_long_value) ThrowFormat("long value is larger than allowed");
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
        while (have < header.length || seen.empty()) {
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
    FlushPending(true);
    // A group closes after the value that fills it: values never straddle groups.
    if (group_cost_ >= std::size_t{kGroupPages} * (layout_.page_size - layout_.DataHeaderSize())) {
        ++group_;
        group_cost_ = 0;
    }
    return values_++;
}

std::uint32_t LongValuePacker::PlaceFirstFitDecreasing() {
    const std::int32_t room = static_cast<std::int32_t>(layout_.page_size - layout_.DataHeaderSize());
    // The pages of the current group only: earlier groups take no more rows.
    FirstFitTree tree;
    std::vector<std::int32_t> free;   // per page of the group
    std::vector<std::uint8_t> count;  // rows per page of the group
    std::uint32_t group = 0, base = 0;  // the group and its first page
    planned_.Finish();
    Planned r;
    while (planned_.Next(&r)) {
        if (r.group != group) {
            assert(r.group > group);
            group = r.group;
            base += static_cast<std::uint32_t>(free.size());
            tree = FirstFitTree();
            free.clear();
            count.clear();
        }
        const std::int32_t cost = static_cast<std::int32_t>(r.size + kRowSlotSize);
        std::size_t page = tree.Find(cost);
        if (page == FirstFitTree::kNone) {
            page = free.size();
            free.push_back(room);
            count.push_back(0);
        }
        assert(free[page] >= cost && count[page] < DataPageBuilder::kMaxRows);
        const RowAddr place{base + static_cast<std::uint32_t>(page), count[page]++};
        free[page] -= cost;
        tree.Set(page, count[page] < DataPageBuilder::kMaxRows ? free[page] : FirstFitTree::kClosed);
        placed_.Add({r.index, r.source, place.Packed(), r.size, r.flags, 0});
    }
    spilled_ = spilled_ || planned_.spilled();
    planned_.Reset();  // its memory is not needed any more
    return base + static_cast<std::uint32_t>(free.size());
}

std::uint32_t LongValuePacker::Pack() {
    assert(!packed_);
    packed_ = true;
    if (rows_ == 0) {
        // Nothing to place; the sorters are finished empty, so reads find nothing.
        copies_.Finish();
        value_places_.Finish();
        return 0;
    }
    // First-fit-decreasing nearly always needs fewer pages than next-fit, but nothing
    // guarantees it for every set of rows; next-fit is kept when it needs fewer.
    const std::uint32_t first_fit = PlaceFirstFitDecreasing();
    const bool next_fit = next_fit_pages_ < first_fit;
    pages_ = next_fit ? next_fit_pages_ : first_fit;
    if (pages_ >= (1u << 24)) ThrowFormat("too many long-value pages");

    // Back in added order: each row learns where the next row of its value went, each
    // value where its first row went.
    placed_.Finish();
    const std::size_t room = layout_.page_size - layout_.DataHeaderSize();
    std::uint32_t nf_page = 0;
    std::size_t nf_free = 0, nf_on_page = 0;
    auto place_of = [&](Placed& p) {
        if (!next_fit) return;
        const std::size_t cost = p.size + kRowSlotSize;
        if (nf_on_page == 0 || nf_on_page >= DataPageBuilder::kMaxRows || cost > nf_free) {
            if (nf_on_page != 0) ++nf_page;
            nf_free = room;
            nf_on_page = 0;
        }
        p.place = RowAddr{nf_page, static_cast<std::uint8_t>(nf_on_page++)}.Packed();
        nf_free -= cost;
    };
    Placed cur, next;
    bool have = placed_.Next(&cur);
    if (have) place_of(cur);
    bool first_of_value = true;
    std::uint32_t value = 0;
    while (have) {
        const bool more = placed_.Next(&next);
        if (more) place_of(next);
        if (first_of_value) value_places_.Add({value++, cur.place});
        std::uint32_t link = 0;
        if ((cur.flags & kChain) && !(cur.flags & kLast)) {
            if (!more) ThrowFormat("a long-value chain lost its end");
            link = next.place;
        }
        copies_.Add({cur.place, cur.source, link, cur.size, cur.flags, 0});
        first_of_value = (cur.flags & kLast) != 0;
        cur = next;
        have = more;
    }
    assert(value == values_);
    spilled_ = spilled_ || placed_.spilled();
    placed_.Reset();
    copies_.Finish();
    value_places_.Finish();
    spilled_ = spilled_ || copies_.spilled() || value_places_.spilled();
    return pages_;
}

RowAddr LongValuePacker::NextAddress(std::uint32_t first_page) {
    assert(packed_);
    ValuePlace v;
    if (!value_places_.Next(&v)) ThrowFormat("more long values asked for than were planned");
    return PlaceAddr(v.place, first_page);
}

void LongValuePacker::WritePages(PageFile& file, std::uint32_t first_page, const PageSink& sink,
                                 ResidentBuffer* rows) {
    assert(packed_);
    ResidentBuffer own;
    if (!rows) rows = &own;
    DataPageBuilder builder(layout_, kLvalOwner);
    std::vector<Copy> batch;
    free_.clear();
    std::uint32_t page = 0;
    Copy c;
    bool have = copies_.Next(&c);
    while (have) {
        // The rows of the next kGroupPages new pages.
        batch.clear();
        const std::uint32_t end = UnpackRowPtr(c.place).page + kGroupPages;
        while (have && UnpackRowPtr(c.place).page < end) {
            batch.push_back(c);
            have = copies_.Next(&c);
        }
        WriteBatch(file, first_page, batch, builder, page, sink, *rows);
    }
    assert(page == pages_);
    copies_.Reset();
    std::vector<std::size_t>().swap(batch_at_);
    std::vector<std::uint32_t>().swap(batch_order_);
}

void LongValuePacker::WriteBatch(PageFile& file, std::uint32_t first_page,
                                 std::span<const Copy> batch, DataPageBuilder& builder,
                                 std::uint32_t& page, const PageSink& sink, ResidentBuffer& rows) {
    // Where each row goes in `rows`, in place order: the rows of a batch fit on
    // its pages, so it holds at most kGroupPages pages' worth.
    batch_at_.resize(batch.size() + 1);
    batch_at_[0] = 0;
    for (std::size_t i = 0; i < batch.size(); ++i) batch_at_[i + 1] = batch_at_[i] + batch[i].size;
    // Not cleared: every byte up to batch_at_.back() is copied in below. Resident at
    // once: the batch is megabytes, filled once, and faulted in page by page its
    // memory cost more than the copying.
    if (rows.size() < batch_at_.back()) rows = ResidentBuffer(batch_at_.back());
    // Read in source order (page, then row): consecutive pages are fetched in runs.
    batch_order_.resize(batch.size());
    for (std::size_t i = 0; i < batch.size(); ++i) batch_order_[i] = static_cast<std::uint32_t>(i);
    std::sort(batch_order_.begin(), batch_order_.end(), [&](std::uint32_t a, std::uint32_t b) {
        return batch[a].source < batch[b].source;
    });
    // Exactly these pages are read: each run of them with one read.
    std::vector<std::uint32_t> pages;
    for (std::uint32_t i : batch_order_) {
        const std::uint32_t p = UnpackRowPtr(batch[i].source).page;
        if (pages.empty() || pages.back() != p) pages.push_back(p);
    }
    file.PlanReads(std::move(pages));
    Page holder;
    for (std::uint32_t i : batch_order_) {
        const RowAddr source = UnpackRowPtr(batch[i].source);
        Bytes b = LvalRowBytes(file, source, holder);
        if (b.size() != batch[i].size)
            ThrowFormat("long-value row " + source.ToString() + " changed while it was copied");
        std::copy(b.begin(), b.end(), rows.data() + batch_at_[i]);
    }
    holder = Page();
    for (std::size_t i = 0; i < batch.size(); ++i) {
        const Copy& c = batch[i];
        assert(UnpackRowPtr(c.place).page == page);
        std::span<std::uint8_t> bytes(rows.data() + batch_at_[i], c.size);
        if (c.flags & kChain) {
            const bool last = (c.flags & kLast) != 0;
            PutU32(bytes, kChainNextAt, last ? 0 : PlaceAddr(c.next, first_page).Packed());
        }
        const std::uint8_t slot = builder.Add(bytes);
        assert(slot == UnpackRowPtr(c.place).row);
        (void)slot;
        if (i + 1 == batch.size() || UnpackRowPtr(batch[i + 1].place).page != page) {
            free_.push_back(builder.free_space());
            sink(first_page + page, builder.Finish());
            ++page;
        }
    }
}

}  // namespace jet
