// Compaction of a Jet 3 / Jet 4 database by physical repack: the reachable content
// of the source is written densely to a new file, which is verified against the
// source before it replaces the destination. The source is only read.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "jet/bytes.h"
#include "jet/compact/compact_progress.h"
#include "jet/header.h"
#include "jet/page_overlay.h"
#include "jet/row_addr.h"

namespace jet {

struct CompactResult {
    bool compacted = false;
    std::string reason;  // why the file was not compacted (empty on success)
    Format format = Format::Unknown;
    std::uint32_t pages_before = 0;
    std::uint32_t pages_after = 0;
    std::uint64_t bytes_before = 0;
    std::uint64_t bytes_after = 0;
    bool spilled = false;  // work went to spill files: the memory budget was too small for it
    explicit operator bool() const { return compacted; }
};

// What the compaction keeps in memory for work that grows with the rows (today the
// long-value rows to place): 128 MB, so that with the rest it keeps (which grows
// only with the pages, some 100 MB for a 2 GB file) a compaction stays within
// 256 MB on a small server whatever the file holds.
constexpr std::uint64_t kDefaultMemoryBudget = std::uint64_t{128} << 20;

// An index of the source: its table's definition page and its number among that
// table's real indexes.
struct SourceIndex {
    std::uint32_t table = 0;
    std::uint32_t index = 0;
    auto operator<=>(const SourceIndex&) const = default;
};

struct CompactOptions {
    // Past this many bytes, that work is sorted on disk, in files beside the
    // destination (named after its temporary file and removed on every exit). The
    // output is the same bytes whatever the budget.
    std::uint64_t memory_budget = kDefaultMemoryBudget;
    // The source is read with these pages in place of its own and after them (a
    // repair's changes, kept beside the source instead of in a copy of it); every
    // handle on the source, the verification's too, reads it so. Null: as it is.
    std::shared_ptr<const PageOverlay> source_overlay;
    // Indexes whose entries may name rows that are gone (rows a repair gave up,
    // whose entries it leaves in place): such entries are left out of the new file,
    // and the verification lets exactly those be missing from it. An entry of any
    // other index that names no live row refuses the file, as always.
    std::set<SourceIndex> drop_entries_of_missing_rows;
    // Told of each entry so left out, in its index's order: the index, the row it
    // named and its key as the source holds them. Called on the compacting thread.
    std::function<void(const SourceIndex& index, RowAddr row, Bytes key)> entry_dropped;
};

// Compacts `source` into `destination`, which must not exist yet. On success the
// destination holds the verified, compacted file; on failure no destination is
// created and `reason` says why.
CompactResult Compact(const std::filesystem::path& source, const std::filesystem::path& destination,
                      const CompactProgressFn& progress = {}, const CompactOptions& options = {});

}  // namespace jet
