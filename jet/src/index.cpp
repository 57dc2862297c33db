#include "jet/index.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cstring>
#include <functional>
#include <map>
#include <unordered_set>

namespace jet {

namespace {

// Whether `a` sorts before `b`, bytes compared as unsigned (as
// std::lexicographical_compare does), inline rather than by a library call per entry.
bool BytesLess(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
    const std::size_t n = std::min(a.size(), b.size());
    const std::size_t at = CommonPrefix(a.data(), b.data(), n);
    return at < n ? a[at] < b[at] : a.size() < b.size();
}

}  // namespace

void ReadIndexPage(PageFile& file, std::uint32_t number, IndexPage& p) {
    if (!file.Contains(number))
        ThrowFormat("index page " + std::to_string(number) + " lies past the end of the file");
    Page pg = file.Read(number);
    Bytes b = pg.bytes();
    p.number = number;
    p.type = pg.type();
    if (p.type != kPageIndexNode && p.type != kPageIndexLeaf)
        ThrowFormat("page " + std::to_string(number) + " is not an index page (type " +
                    std::to_string(p.type) + ")");
    auto lay = IndexPageLayout::For(file.jet3());
    p.free_space = U16(b, lay.free_space);
    p.owner = U32(b, lay.owner);
    p.prev = U32(b, lay.prev);
    p.next = U32(b, lay.next);
    p.tail = U32(b, lay.tail);
    p.prefix_size = lay.prefix_size == 1 ? U8(b, lay.prefix) : U16(b, lay.prefix);
    // Each set bit of the mask marks the end of an entry, counted from the first entry.
    std::size_t mask_bytes = lay.first_entry - lay.mask;
    std::size_t start = 0;
    const std::size_t area = b.size() - lay.first_entry;
    const std::size_t tail_size =
        kIndexRowPointerSize + (p.type == kPageIndexLeaf ? 0 : kIndexChildSize);
    // Entries already in `p` are overwritten in place (their buffers kept); the count
    // is trimmed at the end.
    std::size_t count = 0;
    const std::uint8_t* mask = b.data() + lay.mask;
    // The mask is read 64 bits at a time: most of its bytes are zero or hold one bit.
    for (std::size_t w = 0; w < mask_bytes; w += 8) {
        std::uint64_t m = 0;
        if (w + 8 <= mask_bytes && std::endian::native == std::endian::little) {
            std::memcpy(&m, mask + w, 8);
        } else {
            for (std::size_t k = 0; k < 8 && w + k < mask_bytes; ++k)
                m |= std::uint64_t{mask[w + k]} << (8 * k);
        }
        // The set bits of this word, lowest first.
        for (; m != 0; m &= m - 1) {
            std::size_t end = w * 8 + static_cast<unsigned>(std::countr_zero(m));
            if (end > area)
                ThrowFormat("index page " + std::to_string(number) + " has an entry past the page");
            if (end <= start)
                ThrowFormat("index page " + std::to_string(number) + " has an empty entry");
            if (count == p.entries.size()) p.entries.emplace_back();
            IndexEntry& e = p.entries[count];
            e.offset = static_cast<std::uint32_t>(lay.first_entry + start);
            e.stored_size = static_cast<std::uint32_t>(end - start);
            Bytes stored = b.subspan(e.offset, e.stored_size);
            // Every entry after the first starts with the first entry's prefix, which
            // outlives this entry's rewrite.
            const std::size_t prefix = count == 0 ? 0 : p.prefix_size;
            e.bytes.resize(prefix + stored.size());
            std::uint8_t* to = e.bytes.data();
            CopyShort(to, p.entries.front().bytes.data(), prefix);
            CopyShort(to + prefix, stored.data(), stored.size());
            if (count == 0 && p.prefix_size > e.bytes.size())
                ThrowFormat("index page " + std::to_string(number) +
                            " has a prefix longer than its first entry");
            if (e.bytes.size() < tail_size)
                ThrowFormat("index page " + std::to_string(number) +
                            " has an entry too short for its pointer");
            assert(e.bytes.size() >= tail_size);
            e.key_size = e.bytes.size() - tail_size;
            Bytes eb(e.bytes);
            e.row = {BE24(eb, e.key_size), U8(eb, e.key_size + kIndexEntryRowAt)};
            e.child = p.leaf() ? 0 : BE32(eb, e.key_size + kIndexRowPointerSize);
            ++count;
            start = end;
        }
    }
    // Pages of one level hold about as many entries each, so the few entries dropped
    // here (and allocated again for a fuller page) cost little.
    p.entries.resize(count);
    p.used_bytes = static_cast<std::uint32_t>(start);
}

IndexPage ReadIndexPage(PageFile& file, std::uint32_t number) {
    IndexPage p;
    ReadIndexPage(file, number, p);
    return p;
}

namespace {

constexpr unsigned kMaxDepth = 32;

std::string Hex(const std::vector<std::uint8_t>& v) {
    static const char d[] = "0123456789ABCDEF";
    std::string s;
    for (auto c : v) {
        s.push_back(d[c >> 4]);
        s.push_back(d[c & 15]);
    }
    return s;
}

class Walker {
  public:
    // At most one of `visit` and `visit_page` is given; with neither the leaf entries
    // are kept in `out`.
    // `past_damage`: a subtree that cannot be read is passed over, and the walk goes on.
    Walker(PageFile& f, std::uint32_t owner, IndexWalk& out, const LeafVisitor* visit,
           const LeafPageVisitor* visit_page, bool past_damage = false)
        : file_(f), owner_(owner), out_(out), visit_(visit), visit_page_(visit_page),
          past_damage_(past_damage) {}

    // Walks the subtree at `page`; returns the last entry (key + row) of the subtree.
    std::vector<std::uint8_t> Visit(std::uint32_t page, unsigned depth) {
        if (depth > kMaxDepth) {
            Fail(page, "index tree is deeper than " + std::to_string(kMaxDepth) + " levels");
            return {};
        }
        if (!seen_.insert(page).second) {
            Fail(page,
                 "index page " + std::to_string(page) + " is reached twice (loop or shared page)");
            return {};
        }
        out_.pages.push_back(page);
        out_.walked.emplace_back();
        // One page buffer per level: the page of this level stays valid while its
        // children are walked, and its entries' buffers serve the level's next page.
        IndexPage& p = pages_[depth];
        try {
            ReadIndexPage(file_, page, p);
        } catch (const FormatError& e) {
            Fail(page, e.what());
            return {};
        }
        out_.walked.back() = {true, p.leaf(), p.free_space, p.used_bytes};
        if (p.owner != owner_)
            out_.problems.push_back({page, "index page " + std::to_string(page) +
                                               " belongs to table page " + std::to_string(p.owner) +
                                               ", not " + std::to_string(owner_)});
        std::vector<std::uint8_t> last;
        // Pages of one level are chained by their previous / next links, in tree order.
        Link(p.leaf() ? -1 : static_cast<int>(depth), p);
        if (p.leaf()) {
            for (std::size_t i = 0; i < p.entries.size(); ++i) {
                const IndexEntry& e = p.entries[i];
                // Entries grow strictly along the leaf level, across pages too. Within
                // a page the one before is still there; only a page's last is kept.
                const std::vector<std::uint8_t>* before =
                    i > 0 ? &p.entries[i - 1].bytes : have_prev_ ? &prev_ : nullptr;
                if (before && !BytesLess(*before, e.bytes) && (out_.in_order = false, true))
                    out_.problems.push_back(
                        {page, "index entry at page " + std::to_string(page) + " offset " +
                                   std::to_string(e.offset) +
                                   " is not greater than the entry before it"});
                if (visit_) {
                    (*visit_)(e, page);
                } else if (!visit_page_) {
                    out_.leaf_entries.push_back(e);
                    out_.leaf_pages.push_back(page);
                }
            }
            if (visit_page_) (*visit_page_)(std::span<const IndexEntry>(p.entries), page);
            if (!p.entries.empty()) {
                prev_.assign(p.entries.back().bytes.begin(), p.entries.back().bytes.end());
                have_prev_ = true;
                last = p.entries.back().KeyAndRow();
            }
            return last;
        }
        for (const auto& e : p.entries) {
            if (e.child == 0 || !file_.Contains(e.child)) {
                Fail(page, "node page " + std::to_string(page) + " points to child page " +
                               std::to_string(e.child) + " outside the file");
                continue;
            }
            auto child_last = Visit(e.child, depth + 1);
            if (!out_.complete && !past_damage_) return {};
            if (child_last != e.KeyAndRow())
                out_.problems.push_back(
                    {page, "node entry at page " + std::to_string(page) + " offset " +
                               std::to_string(e.offset) + " (" + Hex(e.KeyAndRow()) +
                               ") does not equal the last entry of child page " +
                               std::to_string(e.child) + " (" + Hex(child_last) + ")"});
            last = e.KeyAndRow();
        }
        if (p.tail != 0) {
            if (!file_.Contains(p.tail)) {
                Fail(page, "node page " + std::to_string(page) + " has tail page " +
                               std::to_string(p.tail) + " outside the file");
                return {};
            }
            auto tail_last = Visit(p.tail, depth + 1);
            if (!tail_last.empty()) last = tail_last;
        }
        return last;
    }

    void Finish() {
        if (out_.complete)
            for (const auto& [level, l] : levels_)
                if (l.last_next != 0)
                    out_.problems.push_back(
                        {l.last, std::string("last ") + (level < 0 ? "leaf" : "node") + " page " +
                                     std::to_string(l.last) + " of its level links on to page " +
                                     std::to_string(l.last_next)});
    }

  private:
    void Fail(std::uint32_t page, std::string text) {
        out_.problems.push_back({page, std::move(text)});
        out_.complete = false;
    }

    PageFile& file_;
    std::uint32_t owner_;
    IndexWalk& out_;
    const LeafVisitor* visit_;
    const LeafPageVisitor* visit_page_;
    bool past_damage_;
    std::vector<std::uint8_t> prev_;  // the last leaf entry seen
    std::array<IndexPage, kMaxDepth + 1> pages_;  // by depth
    bool have_prev_ = false;
    std::unordered_set<std::uint32_t> seen_;
    struct Level {
        std::uint32_t last = 0, last_next = 0;
        bool any = false;
    };
    std::map<int, Level> levels_;  // leaves under -1, nodes under their depth

    void Link(int level, const IndexPage& p) {
        Level& l = levels_[level];
        const char* kind = level < 0 ? "leaf" : "node";
        std::uint32_t expect_prev = l.any ? l.last : 0;
        if (p.prev != expect_prev)
            out_.problems.push_back({p.number, std::string(kind) + " page " +
                                                   std::to_string(p.number) +
                                                   " links back to page " + std::to_string(p.prev) +
                                                   ", not " + std::to_string(expect_prev)});
        if (l.any && l.last_next != p.number)
            out_.problems.push_back({l.last, std::string(kind) + " page " + std::to_string(l.last) +
                                                 " links on to page " +
                                                 std::to_string(l.last_next) + ", not " +
                                                 std::to_string(p.number)});
        l = {p.number, p.next, true};
    }
};

}  // namespace

namespace {

IndexWalk Walk(PageFile& file, std::uint32_t root, std::uint32_t owner_tdef,
               const LeafVisitor* visit, const LeafPageVisitor* visit_page, bool past_damage = false) {
    IndexWalk w;
    Walker walker(file, owner_tdef, w, visit, visit_page, past_damage);
    if (root == 0 || !file.Contains(root)) {
        w.problems.push_back(
            {root, "index root page " + std::to_string(root) + " lies outside the file"});
        w.complete = false;
        return w;
    }
    walker.Visit(root, 0);
    walker.Finish();
    return w;
}

}  // namespace

IndexWalk WalkIndex(PageFile& file, std::uint32_t root, std::uint32_t owner_tdef,
                    const LeafVisitor& visit) {
    return Walk(file, root, owner_tdef, visit ? &visit : nullptr, nullptr);
}

IndexWalk WalkIndex(PageFile& file, std::uint32_t root, std::uint32_t owner_tdef,
                    const LeafPageVisitor& visit) {
    return Walk(file, root, owner_tdef, nullptr, visit ? &visit : nullptr);
}

IndexWalk WalkIndex(PageFile& file, std::uint32_t root, std::uint32_t owner_tdef) {
    return WalkIndex(file, root, owner_tdef, LeafVisitor());
}

IndexWalk WalkIndexPastDamage(PageFile& file, std::uint32_t root, std::uint32_t owner_tdef,
                              const LeafPageVisitor& visit) {
    return Walk(file, root, owner_tdef, nullptr, visit ? &visit : nullptr, true);
}

LeafCursor::LeafCursor(PageFile& file, std::uint32_t root) : file_(file) {
    ReadIndexPage(file_, root, page_);
    for (unsigned depth = 0; !page_.leaf(); ++depth) {
        std::uint32_t child = page_.entries.empty() ? page_.tail : page_.entries.front().child;
        if (child == 0 || depth >= kMaxDepth)
            ThrowFormat("index node page " + std::to_string(page_.number) + " leads to no leaf");
        ReadIndexPage(file_, child, page_);
        ++pages_read_;
    }
}

const IndexEntry* LeafCursor::NextPage() {
    while (at_ >= page_.entries.size()) {
        if (page_.next == 0) return nullptr;
        if (++pages_read_ > file_.page_count())
            ThrowFormat("the leaf pages of an index link in a loop");
        ReadIndexPage(file_, page_.next, page_);
        at_ = 0;
    }
    return &page_.entries[at_++];
}

}  // namespace jet
