// The verification of a compacted file as tasks in a fixed order (per table: its
// rows, in parts at some of the repack's splits, each of its indexes, its maps; last
// the soundness check of the new file on its own: its table pass, then each index
// tree), which the calling thread (from the end of that order) and one more worker
// (from its start) take as they come free. Of several faults the one first in that
// order is reported, whichever worker found it when.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <set>

#include "jet/checker.h"
#include "jet/compact/compact_progress.h"
#include "jet/compact/id_map.h"
#include "jet/compact/long_value_packer.h"
#include "jet/compact/verifier.h"
#include "jet/database.h"

namespace jet {

// Pages of the new file kept cached while it is verified: more than a group of a
// column's long-value pages (LongValuePacker::kGroupPages), among which the rows in
// order jump about, with the data pages read meanwhile. 24 MB of Jet 4 pages.
constexpr std::size_t kVerifyCachePages = LongValuePacker::kGroupPages + 2048;

struct VerifyRun {
    Database& src;
    Database& out;  // the new file, its cache set up for the verification
    // The second worker reads both files through handles of its own opened from these.
    const std::filesystem::path& src_path;
    const std::filesystem::path& out_path;
    bool loaded = false;  // `out` reads the new file from memory (set_loaded), to be shared
    const IdMap& ids;
    const std::set<std::uint32_t>& fillers;  // pages of the new file deliberately free
    const CompactProgressFn& progress;
    const VerifyOptions& options;
};

// Compares the files (verify_compare) in tasks on two workers and checks the new
// file's soundness; throws FormatError with the first fault of the comparison, else
// returns the soundness check's report.
CheckReport RunVerification(const VerifyRun& run);

}  // namespace jet
