#include "jet/compact/index_tree_builder.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "jet/bytes.h"
#include "jet/compact/put_bytes.h"

namespace jet {

IndexTreeBuilder::IndexTreeBuilder(const PageLayout& layout, std::uint32_t tdef,
                                   std::uint32_t first_page, PageSink sink)
    : layout_(layout),
      tdef_(tdef),
      first_page_(first_page),
      sink_(std::move(sink)),
      leaf_(layout, true, tdef),
      next_page_(first_page) {}

namespace {

// Writes key + row pointer (3-byte page big-endian, then the row) into `to`.
// REQUIRES: to.size() == key.size() + kIndexRowPointerSize
void PutLeafEntry(std::span<std::uint8_t> to, std::span<const std::uint8_t> key, RowAddr row) {
    CopyShort(to.data(), key.data(), key.size());
    PutBE24(to, key.size(), row.page);
    to[key.size() + kIndexEntryRowAt] = row.row;
}

}  // namespace

void IndexTreeBuilder::Add(std::span<const std::uint8_t> entry) {
    std::span<std::uint8_t> room = leaf_.Stage(entry.size());
    std::memcpy(room.data(), entry.data(), entry.size());
    const bool added = AddStaged();
    assert(added);
    (void)added;
}

bool IndexTreeBuilder::AddLeaf(std::span<const std::uint8_t> key, RowAddr row) {
    PutLeafEntry(leaf_.Stage(key.size() + kIndexRowPointerSize), key, row);
    return AddStaged();
}

bool IndexTreeBuilder::AddStaged() {
    const IndexPageBuilder::Staged r = leaf_.TryAddStaged();
    if (r != IndexPageBuilder::Staged::kFull) [[likely]]
        return r == IndexPageBuilder::Staged::kAdded;
    return AddStagedToNextLeaf();
}

bool IndexTreeBuilder::AddStagedToNextLeaf() {
    // Another leaf follows, so this one's next page is known. Finishing it drops the
    // staged entry (it lies in the leaf's buffer), so it is kept aside and staged again
    // on the empty leaf, where it always fits.
    std::uint32_t page = next_page_++;
    leaves_.push_back({{leaf_.last().begin(), leaf_.last().end()}, page});
    const std::span<const std::uint8_t> staged = leaf_.staged();
    staged_copy_.assign(staged.begin(), staged.end());
    sink_(page, leaf_.Finish(prev_leaf_, next_page_, 0));
    prev_leaf_ = page;
    std::span<std::uint8_t> room = leaf_.Stage(staged_copy_.size());
    std::memcpy(room.data(), staged_copy_.data(), staged_copy_.size());
    return leaf_.TryAddStaged() == IndexPageBuilder::Staged::kAdded;
}

std::vector<IndexTreeBuilder::Child> IndexTreeBuilder::BuildNodeLevel(
    const std::vector<Child>& children) {
    // Group children per node page: every child but the last of a group is an entry.
    std::vector<std::size_t> group_end;  // one past the last child of each group
    {
        IndexPageBuilder probe(layout_, false, tdef_);
        std::size_t start = 0;
        for (std::size_t i = 0; i < children.size(); ++i) {
            if (i == start) continue;  // the first child of a group waits as a candidate
            std::vector<std::uint8_t> e = children[i - 1].last;
            e.resize(e.size() + kIndexChildSize);
            PutBE32(e, e.size() - kIndexChildSize, children[i - 1].page);
            if (probe.empty() || probe.Fits(e)) {
                probe.Add(e);
            } else {
                probe.Finish(0, 0, 0);
                group_end.push_back(i);  // child i-1 becomes the tail of this group
                start = i;
            }
        }
        group_end.push_back(children.size());
        // A node needs at least one entry: borrow a child from the previous group.
        std::size_t n = group_end.size();
        if (n >= 2) {
            std::size_t last_start = group_end[n - 2];
            if (children.size() - last_start < 2) group_end[n - 2] -= 1;
        }
    }
    std::vector<Child> parents;
    std::size_t start = 0;
    std::uint32_t prev = 0;
    for (std::size_t g = 0; g < group_end.size(); ++g) {
        std::size_t end = group_end[g];
        assert(end - start >= 2);
        IndexPageBuilder node(layout_, false, tdef_);
        for (std::size_t i = start; i + 1 < end; ++i) {
            std::vector<std::uint8_t> e = children[i].last;
            e.resize(e.size() + kIndexChildSize);
            PutBE32(e, e.size() - kIndexChildSize, children[i].page);
            node.Add(e);
        }
        std::uint32_t page = next_page_++;
        std::uint32_t next = g + 1 < group_end.size() ? next_page_ : 0;
        sink_(page, node.Finish(prev, next, children[end - 1].page));
        parents.push_back({children[end - 1].last, page});
        prev = page;
        start = end;
    }
    return parents;
}

IndexTreeBuilder::Tree IndexTreeBuilder::Finish() {
    std::uint32_t page = next_page_++;
    if (!leaf_.empty())
        leaves_.push_back({{leaf_.last().begin(), leaf_.last().end()}, page});
    else
        leaves_.push_back({{}, page});
    sink_(page, leaf_.Finish(prev_leaf_, 0, 0));
    std::vector<Child> level = std::move(leaves_);
    leaves_.clear();
    while (level.size() > 1) level = BuildNodeLevel(level);
    Tree t;
    t.root = level.front().page;
    t.first_page = first_page_;
    t.page_count = next_page_ - first_page_;
    return t;
}

}  // namespace jet
