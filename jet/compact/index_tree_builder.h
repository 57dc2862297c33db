// Builds a whole index tree from its entries in sorted order: leaves linked through
// previous/next, node levels above them whose entries equal the last entry below
// each child, the rightmost child of a node reached through its tail pointer.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "jet/compact/index_page_builder.h"
#include "jet/row_addr.h"

namespace jet {

class IndexTreeBuilder {
  public:
    // Receives each finished page with its page number.
    using PageSink = std::function<void(std::uint32_t page, std::vector<std::uint8_t> bytes)>;

    // Pages are numbered from first_page on, contiguously.
    IndexTreeBuilder(const PageLayout& layout, std::uint32_t tdef, std::uint32_t first_page,
                     PageSink sink);

    // REQUIRES: entries arrive strictly increasing; each is key bytes + row pointer.
    void Add(std::span<const std::uint8_t> entry);
    // Adds the leaf entry `key` + the row pointer of `row`, written straight onto the
    // page being built. Returns false, adding nothing, when it does not sort strictly
    // after the entry added before (the caller's input is out of order or repeats).
    // REQUIRES: key is not empty
    bool AddLeaf(std::span<const std::uint8_t> key, RowAddr row);

    struct Tree {
        std::uint32_t root = 0;
        std::uint32_t first_page = 0;
        std::uint32_t page_count = 0;
    };
    // Emits the remaining pages. An index without entries is one empty leaf.
    Tree Finish();

  private:
    struct Child {
        std::vector<std::uint8_t> last;  // last leaf entry below the child
        std::uint32_t page = 0;
    };
    // Adds the entry staged on leaf_, finishing the leaf first when it is full.
    // False, adding nothing, when it does not sort after the last entry.
    bool AddStaged();
    // AddStaged's way when the leaf is full (once per leaf, kept out of its way).
    bool AddStagedToNextLeaf();
    std::vector<Child> BuildNodeLevel(const std::vector<Child>& children);

    const PageLayout& layout_;
    std::uint32_t tdef_;
    std::uint32_t first_page_;
    PageSink sink_;
    IndexPageBuilder leaf_;
    std::uint32_t next_page_;      // number of the page being built
    std::uint32_t prev_leaf_ = 0;  // previous leaf's number, 0 for the first
    std::vector<Child> leaves_;    // finished leaves
    std::vector<std::uint8_t> staged_copy_;  // an entry moving to the next leaf
};

}  // namespace jet
