#include "jet/compact/index_page_builder.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>

#include "jet/compact/put_bytes.h"

namespace jet {

IndexPageBuilder::IndexPageBuilder(const PageLayout& layout, bool leaf, std::uint32_t tdef)
    : layout_(layout), leaf_(leaf), tdef_(tdef) {}

namespace {

// Bytes a and b share from their start, at most `cap` (REQUIRES: both that long).
// Eight bytes are compared at a time: every entry added to a page is measured
// against the page's first entry.
std::size_t CommonPrefix(const std::uint8_t* a, const std::uint8_t* b, std::size_t cap) {
    std::size_t n = 0;
    for (; n + 8 <= cap; n += 8) {
        std::uint64_t x, y;
        std::memcpy(&x, a + n, 8);
        std::memcpy(&y, b + n, 8);
        if (x != y) {
            if constexpr (std::endian::native == std::endian::little)
                return n + static_cast<std::size_t>(std::countr_zero(x ^ y)) / 8;
            break;
        }
    }
    while (n < cap && a[n] == b[n]) ++n;
    return n;
}

}  // namespace

std::size_t IndexPageBuilder::PrefixWith(std::span<const std::uint8_t> e) const {
    if (ends_.empty()) return 0;
    const auto first = Entry(0);
    const std::size_t cap = std::min({prefix_, e.size() - PointerBytes(), first.size()});
    std::size_t n = CommonPrefix(first.data(), e.data(), cap);
    if (layout_.index.prefix_size == 1) n = std::min<std::size_t>(n, 255);  // one byte holds it
    return n;
}

std::size_t IndexPageBuilder::StoredBytes(std::size_t prefix, std::size_t extra_len) const {
    // The first entry is whole; every later one loses the prefix.
    std::size_t count = ends_.size() + (extra_len ? 1 : 0);
    std::size_t total = used_ + extra_len;
    return total - (count > 0 ? (count - 1) * prefix : 0);
}

bool IndexPageBuilder::Fits(std::span<const std::uint8_t> entry) const {
    std::size_t room = layout_.page_size - layout_.index.first_entry;
    return StoredBytes(PrefixWith(entry), entry.size()) <= room;
}

void IndexPageBuilder::Add(std::span<const std::uint8_t> entry) {
    assert(empty() || Fits(entry));
    const bool added = TryAdd(entry);
    assert(added);
    (void)added;
}

bool IndexPageBuilder::TryAdd(std::span<const std::uint8_t> entry) {
    std::span<std::uint8_t> room = Stage(entry.size());
    std::memcpy(room.data(), entry.data(), entry.size());
    const Staged r = TryAddStaged();
    assert(r != Staged::kNotAfterLast);
    return r == Staged::kAdded;
}

IndexPageBuilder::Staged IndexPageBuilder::TryAddStaged() {
    const std::uint8_t* e = bytes_.data() + used_;
    const std::size_t len = staged_;
    assert(len > PointerBytes());
    std::size_t prefix = len - PointerBytes();
    if (!empty()) {
        const std::span<const std::uint8_t> prev = last();
        const std::size_t both = std::min(prev.size(), len);
        const std::size_t shared = CommonPrefix(prev.data(), e, both);
        if (shared == both ? len <= prev.size() : e[shared] < prev[shared])
            return Staged::kNotAfterLast;
        prefix = std::min({prefix_, shared, prefix});
        if (layout_.index.prefix_size == 1) prefix = std::min<std::size_t>(prefix, 255);
        if (StoredBytes(prefix, len) > layout_.page_size - layout_.index.first_entry)
            return Staged::kFull;
    }
    used_ += len;
    ends_.push_back(used_);
    prefix_ = prefix;
    staged_ = 0;
    return Staged::kAdded;
}

std::vector<std::uint8_t> IndexPageBuilder::Finish(std::uint32_t prev, std::uint32_t next,
                                                   std::uint32_t tail) {
    std::vector<std::uint8_t> page(layout_.page_size, 0);
    std::span<std::uint8_t> p(page);
    std::size_t prefix = ends_.size() > 1 ? prefix_ : 0;
    p[kPageTypeAt] = leaf_ ? kPageIndexLeaf : kPageIndexNode;
    p[kPageMarkerAt] = kPageMarker;
    PutU32(p, layout_.index.owner, tdef_);
    PutU32(p, layout_.index.prev, prev);
    PutU32(p, layout_.index.next, next);
    PutU32(p, layout_.index.tail, tail);
    if (layout_.index.prefix_size == 1)
        p[layout_.index.prefix] = static_cast<std::uint8_t>(prefix);
    else
        PutU16(p, layout_.index.prefix, static_cast<std::uint32_t>(prefix));
    std::size_t pos = layout_.index.first_entry;
    for (std::size_t i = 0; i < ends_.size(); ++i) {
        const auto e = Entry(i);
        std::size_t skip = i == 0 ? 0 : prefix;
        assert(pos + e.size() - skip <= layout_.page_size);
        std::memcpy(page.data() + pos, e.data() + skip, e.size() - skip);
        pos += e.size() - skip;
        // Mark where the next entry starts (or where the last one ends).
        std::size_t bit = pos - layout_.index.first_entry;
        page[layout_.index.mask + bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
    }
    PutU16(p, layout_.index.free_space, static_cast<std::uint32_t>(layout_.page_size - pos));
    used_ = staged_ = 0;
    ends_.clear();
    prefix_ = 0;
    return page;
}

}  // namespace jet
