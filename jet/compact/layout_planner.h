// Numbering of the new file. Pages are handed out in increasing order; a table
// definition never gets a page whose number is an Id to avoid (a stale Id), and
// the numbers skipped that way are handed to the next pages that are no table's
// definition. RowMap records where each live row went.
#pragma once

#include <array>
#include <cassert>
#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <vector>

#include "jet/resident_buffer.h"
#include "jet/row_addr.h"

namespace jet {

class PageAllocator {
  public:
    // Pages below `first` are taken already (header, global map).
    explicit PageAllocator(std::uint32_t first) : next_(first) {}

    // Numbers a table definition must not start on.
    void Avoid(std::uint32_t page) { avoid_.insert(page); }

    // A page for the start of a table definition (never an avoided number).
    std::uint32_t TakeDefinition();
    // Any other page: a skipped number first, else the next one.
    std::uint32_t Take();
    // `n` consecutive pages that are no table definition. Skipped numbers are not
    // used here (they stay for Take).
    std::uint32_t TakeRun(std::uint32_t n);

    // Gives back every page taken since page_count() was `count` (placed rows that
    // are dropped). REQUIRES: only TakeRun took pages since then
    void Rewind(std::uint32_t count) {
        assert(count <= next_);
        next_ = count;
    }

    // Skipped numbers not handed out yet: the caller fills them (they are free).
    const std::vector<std::uint32_t>& spare() const { return spare_; }
    std::uint32_t page_count() const { return next_; }

  private:
    std::uint32_t next_;
    std::set<std::uint32_t> avoid_;     // numbers no definition may start on
    std::vector<std::uint32_t> spare_;  // skipped numbers, ascending, not handed out
};

// Old slot address of a live row -> its address in the new file. Rows are added in
// old (page, row) order, and new addresses grow with them, so the map is kept per old
// page instead of per row: its live slots as bits and where its rows went, as the
// runs of consecutive new slots they fill. The live rows of one page fit on one new
// page or spill onto the next, so two runs hold them nearly always; a page whose rows
// take more keeps the rest in a table of its own. Memory follows the pages, not the
// rows: 32 bytes per old page from the table's first to its last page with live
// rows, 8 bytes per 64 slots past a page's first 64 up to its last live row, so a
// table of 20 million narrow rows costs some 13 MB and no Jet file (2 GB at most,
// 2^19 pages) more than about 30 MB. A lookup in index order (random rows) reads one
// cache line, the old page's entry, and a second only for a slot past the 64th.
class RowMap {
  public:
    // Room for the rows of `pages` old pages numbered over `span` numbers, taken at
    // once: the tables grow with the pages and would otherwise move to fresh memory
    // again and again. The span of a Jet file is 2^19 pages at most (16 MB here).
    void Reserve(std::size_t span, std::size_t pages);
    // REQUIRES: old_slot and new_addr exceed every address added before;
    // new_addr.page < 2^24 (as in every row pointer)
    void Add(RowAddr old_slot, RowAddr new_addr);
    // The new address, or nothing when old_slot held no live row. Inline: an index
    // copy calls it once per entry, and the call would cost as much as the lookup.
    std::optional<RowAddr> Find(RowAddr old_slot) const;
    // Find for many addresses at once: out[i] = *Find(old[i]) for each i in order,
    // up to the first address that holds no live row. Returns how many were found
    // (old.size() when all were; out[result] and after are left as they were). The
    // lookups overlap: the entry each one reads is fetched from memory for the
    // addresses ahead while earlier ones are computed, so a batch of random rows
    // waits for its cache misses a few at a time instead of one after another.
    // `out` may be `old` itself. REQUIRES: out.size() >= old.size()
    std::size_t FindMany(std::span<const RowAddr> old, std::span<RowAddr> out) const;
    std::size_t size() const { return size_; }
    // Adds every row of `later` after those added here, as if added one by one (maps
    // of consecutive stretches of a table, made apart, joined in order).
    // REQUIRES: later's first old page and new address exceed every one added here
    void Append(RowMap&& later);

  private:
    // 32 bytes on a 32-byte boundary: one cache line per lookup.
    struct alignas(32) OldPage {
        std::uint64_t word0 = 0;    // live slots 0-63
        std::uint32_t first = 0;    // ordinal of its first live row (live rows before it)
        std::uint32_t bits_at = 0;  // its words past word0 in more_bits_
        // Its first two runs: where each starts (RowAddr::Packed) and how many of
        // its rows lie there, in order; rows past those are in more_runs_.
        std::array<std::uint32_t, 2> start{};
        std::array<std::uint16_t, 2> count{};
        std::uint8_t words = 0;  // bit words up to its last live slot (0: none); 4 at most
        // Live rows before its words 1, 2 and 3: one bit count per lookup, not a loop.
        std::array<std::uint8_t, 3> before{};
    };
    static_assert(sizeof(OldPage) == 32);
    // Find, writing the new address into `to` (left as it was when old_slot held no
    // live row). Find and FindMany both come here: a caller that stores the result
    // straight into its own memory spares the optional's round trip through the
    // stack, whose 8-byte reload of a 4-byte and a 1-byte store cannot be forwarded
    // and stalled FindMany for about as long as its cache misses.
    bool FindInto(RowAddr old_slot, RowAddr& to) const {
        return FindIn(PageOf(old_slot), old_slot, to);
    }
    // FindInto with the old page's entry (PageOf) at hand.
    bool FindIn(const OldPage* at, RowAddr old_slot, RowAddr& to) const;
    // The old page's entry, or null when the page lies outside the map.
    const OldPage* PageOf(RowAddr old_slot) const {
        const std::size_t i = std::size_t{old_slot.page} - first_page_;  // wraps when below
        return old_slot.page < first_page_ || i >= old_pages_.size() ? nullptr : &old_pages_[i];
    }
    // The new address of the row of `ordinal`, from more_runs_. REQUIRES: it lies in
    // the third or a later run of its old page
    RowAddr FindInMoreRuns(std::uint32_t ordinal) const;
    struct Run {
        std::uint32_t first = 0;  // ordinal of its first row
        RowAddr start;            // first slot; the run continues on the same page
    };
    // Its tables take megabytes for a large table, touched once as rows are added.
    template <class T>
    using Table = std::vector<T, ResidentAllocator<T>>;
    // By old page number less first_page_, up to the last page with live rows.
    Table<OldPage> old_pages_;
    std::uint32_t first_page_ = 0;
    Table<std::uint64_t> more_bits_;  // per old page, words 1.. up to its last live slot
    Table<Run> more_runs_;            // third and later runs of a page, ascending
    bool page_past_two_runs_ = false;  // the last page's rows went past its two runs
    RowAddr last_old_, last_new_;
    // A table of a 2 GB file holds far fewer than 2^32 rows (each costs a 2-byte slot).
    std::uint32_t size_ = 0;
};

// Set bits of a word, by adding neighbouring bit counts in parallel. std::popcount
// becomes a library call on the baseline x86-64 target (no POPCNT instruction is
// assumed there), which costs a lookup in RowMap::Find twice what this does.
inline unsigned CountBits(std::uint64_t v) {
    v = v - ((v >> 1) & 0x5555555555555555ull);
    v = (v & 0x3333333333333333ull) + ((v >> 2) & 0x3333333333333333ull);
    v = (v + (v >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    return static_cast<unsigned>((v * 0x0101010101010101ull) >> 56);
}

inline bool RowMap::FindIn(const OldPage* at, RowAddr old_slot, RowAddr& to) const {
    const unsigned k = old_slot.row / 64u;
    if (!at || k >= at->words) return false;
    const OldPage& page = *at;
    const std::uint64_t word = k ? more_bits_[page.bits_at + k - 1] : page.word0;
    const unsigned bit = old_slot.row % 64u;
    if (!((word >> bit) & 1)) return false;
    // Its rank among the page's live rows, then the run that holds it.
    unsigned rank =
        (k ? page.before[k - 1] : 0u) + CountBits(word & ((std::uint64_t{1} << bit) - 1));
    for (unsigned r = 0; r < 2; ++r) {
        if (rank < page.count[r]) {
            to.page = page.start[r] >> 8;
            to.row = static_cast<std::uint8_t>((page.start[r] & 0xFF) + rank);
            return true;
        }
        rank -= page.count[r];
    }
    to = FindInMoreRuns(page.first + page.count[0] + page.count[1] + rank);
    return true;
}

inline std::optional<RowAddr> RowMap::Find(RowAddr old_slot) const {
    RowAddr to;
    if (!FindInto(old_slot, to)) return std::nullopt;
    return to;
}

}  // namespace jet
