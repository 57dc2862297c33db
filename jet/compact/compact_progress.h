// The progress a compaction (and the verification of its new file) reports as it goes.
#pragma once

#include <cstdint>
#include <functional>

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

}  // namespace jet
