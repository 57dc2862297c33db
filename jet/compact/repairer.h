// Repair of a damaged Jet 3 / Jet 4 database: a new, sound file from everything the
// source still holds. The source is only read.
//
// How: the pages the repair changes or adds are kept in a side file beside the
// destination (OverlayPages), through which the source reads as a file that holds
// exactly the rows that could be salvaged (PageOverlay): slots of rows that cannot be
// read are marked deleted, rows whose home slot was lost are made live where they lie,
// long values that cannot be read whole are made null in their rows, tables whose
// usage map misses pages get a new map, indexes that do not match the salvaged rows
// get new trees made from the rows, and the catalog rows of tables whose definition
// cannot be read are deleted. The source seen so is then compacted
// into the destination, which rebuilds every usage map, free-space count and row count
// and is verified against it (every row, value and index entry) and checked on its
// own before it is named. The side file is removed on every exit.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "jet/compact/compactor.h"
#include "jet/salvage.h"

namespace jet {

// What the repair did with one table.
struct TableRepair {
    std::string name;
    std::uint32_t definition_rows = 0;  // the row count the source's definition holds
    std::uint64_t rows_salvaged = 0;    // rows in the new file
    std::vector<SalvageLoss> losses;    // rows, values and pages that were lost
    std::uint32_t indexes = 0;          // real indexes of the table
    std::uint32_t indexes_rebuilt = 0;  // of those, made anew from the rows
    bool map_rebuilt = false;           // its usage map missed pages that hold its rows
    // Nothing was lost: only structures derived from the rows were made anew.
    bool lossless() const { return losses.empty() && rows_salvaged >= definition_rows; }
};

// A table of the catalog that could not be carried over at all.
struct LostTable {
    std::string name;
    std::string reason;
};

struct RepairResult {
    bool repaired = false;
    std::string reason;  // why no file was made (empty on success)
    std::vector<TableRepair> tables;    // catalog order of their definitions, system tables too
    std::vector<LostTable> lost_tables;
    std::vector<SalvageLoss> catalog_losses;  // catalog rows that could not be read
    CompactResult compaction;                 // of the salvaged source into the destination
    // The first compaction failed after the walks of the indexes after the salvage
    // were spared, and the repair ran again with them (the slower way).
    bool ran_again = false;
    bool lossless() const;
    explicit operator bool() const { return repaired; }
};

// Repairs `source` into `destination`, which must not exist yet. On failure no
// destination is created and `reason` says why.
RepairResult Repair(const std::filesystem::path& source, const std::filesystem::path& destination,
                    const CompactProgressFn& progress = {}, const CompactOptions& options = {});

}  // namespace jet
