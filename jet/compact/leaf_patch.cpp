#include "jet/compact/leaf_patch.h"

#include <algorithm>
#include <unordered_set>

#include "jet/compact/index_page_builder.h"
#include "jet/format.h"

namespace jet {
namespace {

bool Less(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
    return std::ranges::lexicographical_compare(a, b);
}

std::span<const std::uint8_t> KeyOf(std::span<const std::uint8_t> entry) {
    return entry.first(entry.size() - kIndexRowPointerSize);
}

}  // namespace

std::optional<std::vector<LeafGap>> LeafGap::Find(PageFile& file, const IndexWalk& walk) {
    const std::vector<std::uint32_t>& pages = walk.pages;
    const std::vector<WalkedPage>& walked = walk.walked;
    std::vector<LeafGap> gaps;
    // The problems the gaps account for, and the pages they are found at.
    std::size_t expected = 0;
    std::unordered_set<std::uint32_t> involved;
    IndexPage page;
    try {
        for (std::size_t z = 0; z < pages.size(); ++z) {
            if (walked[z].read) continue;
            LeafGap g;
            g.page = pages[z];
            // The nearest leaves read on either side, and the node read before it (its
            // parent, when it is a leaf: a node's earlier children are leaves then). Pages
            // that cannot be read between it and a neighbour are leaves of the same run
            // of gaps: the ones next to it are its neighbours then.
            const std::size_t none = pages.size();
            std::size_t parent = none, left = none, right = none, before_gap = none, after_gap = none;
            for (std::size_t j = z; j-- > 0 && (left == none || parent == none);) {
                if (!walked[j].read) {
                    if (left == none && before_gap == none) before_gap = j;
                    continue;
                }
                std::size_t& found = walked[j].leaf ? left : parent;
                if (found == none) found = j;
            }
            for (std::size_t j = z + 1; j < pages.size() && right == none; ++j) {
                if (!walked[j].read && after_gap == none) after_gap = j;
                if (walked[j].read && walked[j].leaf) right = j;
            }
            if (parent == none) {
                // The tree's root and only page.
                if (pages.size() != 1) return std::nullopt;
                ++expected;
                involved.insert(g.page);
                gaps.push_back(std::move(g));
                continue;
            }
            ReadIndexPage(file, pages[parent], page);
            const auto named = std::find_if(page.entries.begin(), page.entries.end(),
                                            [&](const IndexEntry& e) { return e.child == g.page; });
            // A tail's last entry is bound by the node entries above its parent.
            if (named == page.entries.end()) return std::nullopt;
            g.last = named->KeyAndRow();
            if (left == none && right == none) return std::nullopt;
            if (left != none) {
                ReadIndexPage(file, pages[left], page);
                // The leaf before the run links on to its first page.
                if ((before_gap == none && page.next != g.page) || page.entries.empty()) return std::nullopt;
                g.after = page.entries.back().KeyAndRow();
            }
            if (right != none) {
                ReadIndexPage(file, pages[right], page);
                if ((after_gap == none && page.prev != g.page) || page.entries.empty()) return std::nullopt;
                g.before = page.entries.front().KeyAndRow();
            }
            g.prev = before_gap != none ? pages[before_gap] : left != none ? pages[left] : 0;
            g.next = after_gap != none ? pages[after_gap] : right != none ? pages[right] : 0;
            // The page itself, and its node entry, which finds no last entry; once a run:
            // the leaf after it, which links back to its last page, and the leaf before,
            // which links on to its first, not to the leaf after (a walk that did not
            // complete does not check where the last leaf links on to).
            expected += 2;
            if (after_gap == none) expected += (right != none) + (left != none && right != none);
            involved.insert({g.page, pages[parent]});
            if (left != none) involved.insert(pages[left]);
            if (right != none) involved.insert(pages[right]);
            gaps.push_back(std::move(g));
        }
    } catch (const FormatError&) {
        return std::nullopt;
    }
    if (gaps.empty() || walk.problems.size() != expected) return std::nullopt;
    for (const IndexProblem& p : walk.problems)
        if (!involved.count(p.page)) return std::nullopt;
    return gaps;
}

std::optional<std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>>> FillLeafGaps(
    const PageLayout& layout, std::uint32_t tdef, const std::vector<LeafGap>& gaps,
    const std::vector<std::span<const std::uint8_t>>& entries, bool unique) {
    std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>> filled;
    IndexPageBuilder leaf(layout, true, tdef);
    std::size_t j = 0;
    for (const LeafGap& g : gaps) {
        const std::size_t first = j;
        while (j < entries.size() && (g.last.empty() ? g.before.empty() || Less(entries[j], g.before)
                                                     : !Less(g.last, entries[j])))
            ++j;
        if (j == first) return std::nullopt;
        const auto lowest = entries[first], highest = entries[j - 1];
        if (!g.last.empty() && !std::ranges::equal(highest, g.last)) return std::nullopt;
        if (!g.after.empty() && !Less(g.after, lowest)) return std::nullopt;
        if (!g.before.empty() && !Less(highest, g.before)) return std::nullopt;
        // Entries are ordered by key, then row: a key held twice stands beside itself.
        if (unique && ((!g.after.empty() && std::ranges::equal(KeyOf(g.after), KeyOf(lowest))) ||
                       (!g.before.empty() && std::ranges::equal(KeyOf(g.before), KeyOf(highest)))))
            return std::nullopt;
        // A page's entries each hold a key before their row pointer (IndexPageBuilder).
        for (std::size_t k = first; k < j; ++k)
            if (entries[k].size() <= kIndexRowPointerSize || !leaf.TryAdd(entries[k])) return std::nullopt;
        filled.emplace_back(g.page, leaf.Finish(g.prev, g.next, 0));
    }
    if (j != entries.size()) return std::nullopt;
    return filled;
}

}  // namespace jet
