// Index pages (0x03 node, 0x04 leaf) and walking an index tree.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "jet/format.h"
#include "jet/page_file.h"
#include "jet/row_addr.h"

namespace jet {

struct IndexEntry {
    std::vector<std::uint8_t> bytes;  // whole entry, prefix restored: key + row pointer (+ child)
    std::uint32_t offset = 0;         // where its stored (prefix-less) bytes start in the page
    std::uint32_t stored_size = 0;
    std::size_t key_size = 0;  // bytes before the row pointer
    RowAddr row;               // BE 3-byte page + row byte
    std::uint32_t child = 0;   // node entries: BE u32 child page
    // Key and row pointer without the child page: what a node entry must equal.
    std::vector<std::uint8_t> KeyAndRow() const {
        return {bytes.begin(),
                bytes.begin() + static_cast<std::ptrdiff_t>(key_size + kIndexRowPointerSize)};
    }
};

struct IndexPage {
    std::uint32_t number = 0;
    std::uint8_t type = 0;  // kPageIndexNode or kPageIndexLeaf
    std::uint16_t free_space = 0;
    std::uint32_t owner = 0, prev = 0, next = 0, tail = 0;
    std::uint16_t prefix_size = 0;
    std::uint32_t used_bytes = 0;  // bytes from the first entry to the end of the last
    std::vector<IndexEntry> entries;
    bool leaf() const { return type == kPageIndexLeaf; }
};

// Decodes one index page; throws FormatError.
IndexPage ReadIndexPage(PageFile& file, std::uint32_t page);
// The same into `into`, reusing its entries' buffers: a walk that reads page after
// page into one IndexPage allocates nothing per entry once the buffers have grown.
void ReadIndexPage(PageFile& file, std::uint32_t page, IndexPage& into);

// A finding while walking an index.
struct IndexProblem {
    std::uint32_t page = 0;
    std::string text;
};

// What the walk read of one page's header, so that its free-space field can be
// checked without reading the page again.
struct WalkedPage {
    bool read = false;  // decoded whole; false when the walk could not read it
    bool leaf = false;
    std::uint16_t free_space = 0;  // as recorded in the page
    std::uint32_t used_bytes = 0;  // IndexPage::used_bytes
};

struct IndexWalk {
    std::vector<std::uint32_t> pages;       // every page reached, in walk order
    std::vector<WalkedPage> walked;         // for each of `pages`, what was read of it
    std::vector<IndexEntry> leaf_entries;   // in tree order
    std::vector<std::uint32_t> leaf_pages;  // page of each leaf entry
    std::vector<IndexProblem> problems;
    bool complete = true;  // false when the walk had to stop early
    bool in_order = true;  // the leaf entries read grew strictly (else a problem says where)
};

// Walks the tree from `root` depth first: each node entry's child, then the node's tail
// page. Checks page types and owners, node entries against their child's last entry,
// the order of all leaf entries, and the leaf sibling links. Bounded by a visited set
// and a depth limit; never throws.
IndexWalk WalkIndex(PageFile& file, std::uint32_t root, std::uint32_t owner_tdef);

// Receives each leaf entry in tree order with the page that holds it.
using LeafVisitor = std::function<void(const IndexEntry& entry, std::uint32_t page)>;
// The same walk with the leaf entries handed to `visit` instead of kept in
// IndexWalk::leaf_entries / leaf_pages: memory bounded by the tree's depth.
IndexWalk WalkIndex(PageFile& file, std::uint32_t root, std::uint32_t owner_tdef,
                    const LeafVisitor& visit);

// Receives the entries of each leaf page in tree order with the page that holds them:
// for a visitor that does little per entry, one call per page instead of one per
// entry. The entries are valid during the call.
using LeafPageVisitor =
    std::function<void(std::span<const IndexEntry> entries, std::uint32_t page)>;
// The same walk with each leaf page's entries handed to `visit` at once (after the
// walk has checked their order).
IndexWalk WalkIndex(PageFile& file, std::uint32_t root, std::uint32_t owner_tdef,
                    const LeafPageVisitor& visit);
// The same walk, going on past a page that cannot be read (the walk is then not
// complete, and its problems say why): every entry of the pages that can be read,
// for a repair that completes the index with the entries of the rows it lacks.
IndexWalk WalkIndexPastDamage(PageFile& file, std::uint32_t root, std::uint32_t owner_tdef,
                              const LeafPageVisitor& visit);

// Reads an index's leaf entries in order along its leaf level (the leftmost leaf,
// then each leaf's next link), one page at a time: for comparing two indexes entry
// by entry. Checking the tree above the leaves is WalkIndex's job. Throws FormatError.
class LeafCursor {
  public:
    LeafCursor(PageFile& file, std::uint32_t root);
    // The next entry, or null after the last. Valid until the next call. Inline for
    // the entries of the page at hand: a comparison calls it once per entry.
    const IndexEntry* Next() {
        return at_ < page_.entries.size() ? &page_.entries[at_++] : NextPage();
    }

  private:
    // Next, past the end of the page at hand: the next page that has entries.
    const IndexEntry* NextPage();
    PageFile& file_;
    IndexPage page_;
    std::size_t at_ = 0;
    std::uint32_t pages_read_ = 1;
};

}  // namespace jet
