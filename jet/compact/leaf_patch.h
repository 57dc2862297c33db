// An index whose only damage is leaf pages that cannot be read (a page written as
// zeros, say) is mended where it stands: each such page is written anew, in place,
// with the entries of the rows it lacks, between the same neighbours and under the
// same node entry. The rest of the tree is kept as it is, instead of a new tree
// being made from every entry, which for a large index is most of the repair's work
// on it.
//
// Usage: LeafGap::Find on the walk past the damage (WalkIndexPastDamage) tells
// whether the walk's every problem is one that unreadable leaves cause, and where
// those leaves stand; FillLeafGaps then lays the entries made for the rows the index
// lacks into those places, or says they do not fit them exactly.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "jet/compact/page_layout.h"
#include "jet/index.h"
#include "jet/page_file.h"

namespace jet {

// A leaf page of an index that could not be read, and what stands around it.
struct LeafGap {
    std::uint32_t page = 0;
    std::uint32_t prev = 0, next = 0;  // the leaves before and after it (0: none)
    // Whole entries (key and row pointer) that bound it: the last of the leaf read
    // before its run, the first of the leaf read after, and the node entry that names
    // it, which its last entry must equal. Empty where there is none (then it is the
    // root, alone).
    std::vector<std::uint8_t> after, before, last;

    // The unreadable leaves of the walk `walk` of an index through `file`, when the
    // walk's problems are exactly those they cause: the page that cannot be read, the
    // node entry naming it that finds no last entry, and the links of its neighbours
    // that skip it. Leaves side by side form a run, linked to one another in walk
    // order, whose neighbours link to its first and last pages. nullopt when any other
    // problem stands beside them, or when a run is not bounded by leaves that link to
    // it (or is not the tree's only page), or a page of it is reached as a node's tail
    // (its last entry is bound further up).
    // REQUIRES: `walk` was taken past damage, and its entries are in order
    static std::optional<std::vector<LeafGap>> Find(PageFile& file, const IndexWalk& walk);
};

// The new leaf pages, page number and bytes, that fill `gaps` (LeafGap::Find) with
// `entries` (whole, sorted, strictly ascending), or nullopt unless every entry falls
// into a gap, every gap gets at least one, each gap's entries end with its node
// entry's, fit one page and, for a unique index (`unique`), share no key with the
// entries beside the gap.
// `tdef`: the table's definition page, the pages' owner.
std::optional<std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>>> FillLeafGaps(
    const PageLayout& layout, std::uint32_t tdef, const std::vector<LeafGap>& gaps,
    const std::vector<std::span<const std::uint8_t>>& entries, bool unique);

}  // namespace jet
