// Builds one index page (leaf or node) from whole, already sorted entries:
// the first entry is stored whole, later ones without the shared prefix, and the
// entry-end bitmask marks where each later entry starts and where the last ends.
//
// An entry can be written in place: Stage(len) gives room after the page's entries,
// the caller fills it, TryAddStaged() adds it when it fits. An index copy adds
// millions of entries this way without building each one elsewhere first.
#pragma once

#include <algorithm>
#include <cassert>
#include <cstring>
#include <cstdint>
#include <span>
#include <vector>

#include "jet/bytes.h"
#include "jet/compact/page_layout.h"

namespace jet {

class IndexPageBuilder {
  public:
    // leaf: type 0x04 page whose entries end in a 4-byte row pointer; otherwise a
    // node (type 0x03) whose entries end in a row pointer and a 4-byte child page.
    IndexPageBuilder(const PageLayout& layout, bool leaf, std::uint32_t tdef);

    // True when the entry still fits with the prefix the page would then share.
    bool Fits(std::span<const std::uint8_t> entry) const;

    // REQUIRES: entry sorts after every entry added since the last Finish,
    //           entry is longer than its trailing pointer bytes, Fits(entry) or empty()
    void Add(std::span<const std::uint8_t> entry);
    // Adds the entry when it fits (always on an empty page) and returns true; else
    // adds nothing and returns false. Fits and Add in one, the prefix found once.
    // REQUIRES: as Add, but for fitting
    bool TryAdd(std::span<const std::uint8_t> entry);

    // Room for an entry of `len` bytes after the page's entries, for the caller to
    // fill; nothing is added yet. Valid until the next Stage, Add or Finish.
    std::span<std::uint8_t> Stage(std::size_t len) {
        if (bytes_.size() < used_ + len) bytes_.resize(std::max(2 * bytes_.size(), used_ + len));
        staged_ = len;
        return {bytes_.data() + used_, len};
    }
    enum class Staged { kAdded, kFull, kNotAfterLast };
    // Adds the staged entry when it sorts strictly after the last entry and fits
    // (always on an empty page); else adds nothing and says why (kFull only for an
    // entry in order). The order and the shared prefix come from one comparison with
    // the last entry: in sorted entries, what the first shares with the new one is
    // what it shares with the last, cut where the last and the new one part.
    // REQUIRES: Stage was called and filled since the last Add or Finish; the staged
    // entry is longer than its trailing pointer bytes
    // Defined here: an index copy adds millions of entries, and the call would cost
    // as much as the work.
    [[gnu::always_inline]] Staged TryAddStaged() {
        const std::uint8_t* e = bytes_.data() + used_;
        const std::size_t len = staged_;
        assert(len > pointer_bytes_);
        std::size_t prefix = len - pointer_bytes_;
        if (!ends_.empty()) {
            const std::uint8_t* prev = bytes_.data() + last_begin_;
            const std::size_t prev_len = used_ - last_begin_;
            const std::size_t both = std::min(prev_len, len);
            const std::size_t shared = CommonPrefix(prev, e, both);
            if (shared == both ? len <= prev_len : e[shared] < prev[shared])
                return Staged::kNotAfterLast;
            prefix = std::min({prefix_, shared, prefix, max_prefix_});
            if (StoredBytes(prefix, len) > room_) return Staged::kFull;
        }
        last_begin_ = used_;
        used_ += len;
        ends_.push_back(used_);
        prefix_ = prefix;
        staged_ = 0;
        return Staged::kAdded;
    }

    // The staged entry. REQUIRES: Stage was called since the last Add or Finish
    std::span<const std::uint8_t> staged() const { return {bytes_.data() + used_, staged_}; }

    bool empty() const { return ends_.empty(); }
    // The last entry added (whole); valid until the next Add or Finish.
    std::span<const std::uint8_t> last() const {
        return {bytes_.data() + last_begin_, used_ - last_begin_};
    }

    // Returns the finished page and resets the builder.
    std::vector<std::uint8_t> Finish(std::uint32_t prev, std::uint32_t next, std::uint32_t tail);

  private:
    std::size_t PointerBytes() const { return pointer_bytes_; }
    // Shared prefix when entry e joins, capped so that it never covers pointer bytes.
    std::size_t PrefixWith(std::span<const std::uint8_t> e) const;
    // Bytes the page's entries take stored, with one of extra_len more (0: none): the
    // first whole, every later one less the prefix.
    std::size_t StoredBytes(std::size_t prefix, std::size_t extra_len) const {
        const std::size_t count = ends_.size() + (extra_len ? 1 : 0);
        return used_ + extra_len - (count > 0 ? (count - 1) * prefix : 0);
    }
    std::span<const std::uint8_t> Entry(std::size_t i) const {
        std::size_t begin = i == 0 ? 0 : ends_[i - 1];
        return {bytes_.data() + begin, ends_[i] - begin};
    }

    const PageLayout& layout_;
    bool leaf_;
    std::uint32_t tdef_;
    // From the layout, read once: every entry added consults them.
    std::size_t pointer_bytes_;  // trailing row pointer (and child page on a node)
    std::size_t max_prefix_;     // what the page's prefix field holds
    std::size_t room_;           // bytes for entries on a page
    // The page's whole entries one after another (the first used_ bytes; a staged
    // entry follows them), and where each ends: buffers that keep their size from
    // page to page, so adding an entry allocates nothing.
    std::vector<std::uint8_t> bytes_;
    std::size_t used_ = 0;
    std::size_t staged_ = 0;  // length of the staged entry
    std::vector<std::size_t> ends_;
    std::size_t last_begin_ = 0;  // where the last entry added begins in bytes_
    std::size_t prefix_ = 0;      // shared prefix of the entries
};

}  // namespace jet
