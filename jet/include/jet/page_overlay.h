// Pages that stand in for a file's own when it is read (PageFile::Open): the file
// seen with changes kept beside it, in a side file, instead of in a copy of it. A
// repair changes a few pages of its source and adds others, then compacts what it
// made: copying a 2 GB source for that took as long as the compaction itself.
//
// The side file holds whole pages: first the pages added after the file's own, each
// at its place (page base_pages + k is k pages into it; pages never written there
// read as zeros), then the file's own pages that are replaced, in the order of
// `replaced`.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace jet {

struct PageOverlay {
    std::filesystem::path side;
    std::uint32_t page_size = 0;
    std::uint32_t base_pages = 0;  // the file's own pages, [0, base_pages)
    std::uint32_t page_count = 0;  // pages seen through the overlay, at least base_pages
    std::vector<std::uint32_t> replaced;  // own pages the side file replaces, sorted

    // Where page p lies in the side file. REQUIRES: p >= base_pages
    std::uint64_t AddedAt(std::uint32_t p) const {
        return std::uint64_t{p - base_pages} * page_size;
    }
    // Where the k-th replaced page lies in the side file.
    std::uint64_t ReplacedAt(std::size_t k) const {
        return (std::uint64_t{page_count - base_pages} + k) * page_size;
    }
    // The side file's size: every page it holds, the last added ones too.
    std::uint64_t side_bytes() const { return ReplacedAt(replaced.size()); }
    bool Replaces(std::uint32_t p) const {
        return std::binary_search(replaced.begin(), replaced.end(), p);
    }
};

}  // namespace jet
