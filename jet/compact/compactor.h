// Compaction of a Jet 3 / Jet 4 database by physical repack: the reachable content
// of the source is written densely to a new file, which is verified against the
// source before it replaces the destination. The source is only read.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "jet/header.h"

namespace jet {

// What the compaction is doing, reported as it goes. Stages follow each other in
// this order: Reading (the catalog and the plan), Writing (the new file, table by
// table), Verifying (the new file against the source). done/total count rows: rows
// written while writing, rows compared while verifying, out of the rows the source's
// table definitions hold. The page counters only grow.
struct CompactProgress {
    enum class Stage { Reading, Writing, Verifying };
    Stage stage = Stage::Reading;
    std::uint64_t done = 0;
    std::uint64_t total = 0;
    std::uint64_t pages_read = 0;     // pages read from the source (and, verifying, the new file)
    std::uint64_t pages_written = 0;  // pages of the new file written
    std::uint32_t source_pages = 0;   // pages of the source file
};
using CompactProgressFn = std::function<void(const CompactProgress&)>;

struct CompactResult {
    bool compacted = false;
    std::string reason;  // why the file was not compacted (empty on success)
    Format format = Format::Unknown;
    std::uint32_t pages_before = 0;
    std::uint32_t pages_after = 0;
    std::uint64_t bytes_before = 0;
    std::uint64_t bytes_after = 0;
    explicit operator bool() const { return compacted; }
};

// Compacts `source` into `destination`, which must not exist yet. On success the
// destination holds the verified, compacted file; on failure no destination is
// created and `reason` says why.
CompactResult Compact(const std::filesystem::path& source, const std::filesystem::path& destination,
                      const CompactProgressFn& progress = {});

}  // namespace jet
