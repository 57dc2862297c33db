#include "jet/compact/index_page_builder.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "jet/bytes.h"
#include "jet/compact/put_bytes.h"

namespace jet {

IndexPageBuilder::IndexPageBuilder(const PageLayout& layout, bool leaf, std::uint32_t tdef)
    : layout_(layout),
      leaf_(leaf),
      tdef_(tdef),
      pointer_bytes_(kIndexRowPointerSize + (leaf ? 0 : kIndexChildSize)),
      max_prefix_(layout.index.prefix_size == 1 ? 255 : 0xFFFF),
      room_(layout.page_size - layout.index.first_entry) {}

std::size_t IndexPageBuilder::PrefixWith(std::span<const std::uint8_t> e) const {
    if (ends_.empty()) return 0;
    const auto first = Entry(0);
    const std::size_t cap = std::min({prefix_, e.size() - PointerBytes(), first.size()});
    return std::min(CommonPrefix(first.data(), e.data(), cap), max_prefix_);
}

bool IndexPageBuilder::Fits(std::span<const std::uint8_t> entry) const {
    return StoredBytes(PrefixWith(entry), entry.size()) <= room_;
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
    const std::size_t first_entry = layout_.index.first_entry;
    std::uint8_t* mask = page.data() + layout_.index.mask;
    std::size_t pos = first_entry, begin = 0;
    for (std::size_t i = 0; i < ends_.size(); ++i) {
        const std::size_t skip = i == 0 ? 0 : prefix;
        const std::size_t n = ends_[i] - begin - skip;
        assert(pos + n <= layout_.page_size);
        CopyShort(page.data() + pos, bytes_.data() + begin + skip, n);
        pos += n;
        begin = ends_[i];
        // Mark where the next entry starts (or where the last one ends).
        const std::size_t bit = pos - first_entry;
        mask[bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
    }
    PutU16(p, layout_.index.free_space, static_cast<std::uint32_t>(layout_.page_size - pos));
    used_ = staged_ = last_begin_ = 0;
    ends_.clear();
    prefix_ = 0;
    return page;
}

}  // namespace jet
