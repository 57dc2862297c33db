// Rewrites a table definition for the new file: the definition's pages are copied
// and every field holding a page number or a row pointer is patched in place
// (continuation links, usage-map pointers, index roots, related tables).
#pragma once

#include <cstdint>
#include <vector>

#include "jet/page_file.h"
#include "jet/row_addr.h"
#include "jet/tdef.h"

namespace jet {

class TdefRewriter {
  public:
    // Copies the pages of `def` from `file`.
    TdefRewriter(PageFile& file, const TableDef& def);

    // Stores a u32 at definition offset `at` (the field may cross a page boundary).
    void PutU32At(std::size_t at, std::uint32_t value);
    // Stores a row pointer (row byte + 3-byte page) at definition offset `at`.
    void PutRowPointerAt(std::size_t at, RowAddr addr);
    // Stores one byte at definition offset `at`.
    void PutByteAt(std::size_t at, std::uint8_t value);

    // Returns the pages with the continuation links set to new_pages.
    // REQUIRES: new_pages.size() == number of pages of the definition
    std::vector<std::vector<std::uint8_t>> Finish(const std::vector<std::uint32_t>& new_pages);

  private:
    const TableDef& def_;
    bool jet3_;
    std::vector<std::vector<std::uint8_t>> pages_;  // copies, in chain order
};

}  // namespace jet
