// The pages a repair changes in its source or adds after it, kept in a side file
// that the compaction then reads the source through (PageOverlay) instead of a
// copy of the source. Pages of the source that change are kept in memory until they
// are written into the side file at the end; pages added (a table's new index trees
// and map rows, written once each) go into the side file at once: kept, the new
// trees of a large table took 40 MB an index.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "jet/bytes.h"
#include "jet/page_file.h"
#include "jet/page_overlay.h"

namespace jet {

class OverlayPages {
  public:
    // `side`: the side file, made anew (empty); the caller removes it.
    OverlayPages(PageFile& source, const std::filesystem::path& side);
    bool is_open() const { return file_.is_open(); }

    // The source's page `p` as changed so far, to change in place.
    std::vector<std::uint8_t>& Page(std::uint32_t p);
    // `n` new pages after the source's and those added before; the first one's number.
    std::uint32_t TakeRun(std::uint32_t n);
    // Page `p` (the source's, or one taken) becomes `bytes`, a whole page.
    void Put(std::uint32_t p, std::vector<std::uint8_t> bytes);
    // The source's page `p` as it stands, to read: `holder` keeps a source page alive.
    Bytes Peek(std::uint32_t p, jet::Page& holder);

    // Writes the changed pages into the side file and closes it. The overlay through
    // which the source reads as changed (pages taken but never written read as
    // zeros), or null with `err` set when the side file cannot be written.
    std::shared_ptr<const PageOverlay> Finish(std::string* err);

  private:
    // Added pages come mostly one after the other (a tree's pages in the order they
    // are made): consecutive ones are gathered and written together, up to this many
    // bytes. Written a page at a time, the 80 MB tree of a 20 million-row index cost
    // over a second of the kernel's time more than the same bytes in large writes.
    static constexpr std::size_t kRunBytes = std::size_t{2} << 20;
    void WriteRun();

    PageFile& src_;
    std::uint32_t next_;
    std::map<std::uint32_t, std::vector<std::uint8_t>> pages_;
    PageOverlay overlay_;
    std::ofstream file_;
    std::uint32_t run_first_ = 0;      // the page the gathered bytes begin with
    std::vector<std::uint8_t> run_;    // added pages gathered, not yet written
};

}  // namespace jet
