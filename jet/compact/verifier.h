// Verification of a compacted file against its source, before the file may
// replace anything: every row, long value and index entry must read the same
// (row pointers and moved table Ids aside), and the new file's own structure must
// hold (maps describe exactly their pages, every page has one role, the global
// map marks no used page free).
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <vector>

#include "jet/bytes.h"
#include "jet/compact/compact_progress.h"
#include "jet/compact/compactor.h"
#include "jet/compact/id_map.h"
#include "jet/database.h"
#include "jet/row_addr.h"

namespace jet {

// Where the repack began a stretch of a table's rows: a source data page and where
// the first live row of that page went. Lets the verification compare a large
// table's rows in parts that both workers take; the parts must then meet exactly
// (each pairs its source rows with exactly the new rows up to where the next part
// begins), so a hint that is wrong refuses a file and never lets a fault pass.
struct RowsSplit {
    std::uint32_t source_page = 0;
    RowAddr placed;
};
// Per table, by the page of its source definition: splits ascending in both files.
using RowsSplits = std::map<std::uint32_t, std::vector<RowsSplit>>;

struct VerifyOptions {
    // Index comparisons only on the second worker (once its soundness check is done),
    // none on the calling thread: lets a test show that a fault found there fails
    // the verification. Off, each worker takes whatever comes next.
    bool indexes_on_second_worker = false;
    // Where tables may be split for the comparison of their rows (none: each table's
    // rows are one task).
    RowsSplits splits;
    // Indexes whose entries of rows that are gone were left out of the new file
    // (CompactOptions::drop_entries_of_missing_rows): only those may be missing.
    std::set<SourceIndex> drop_entries_of_missing_rows;
};

// The comparison is split into tasks in a fixed order (per table: its rows, in parts
// at some of options.splits, each of its indexes, its maps; last the soundness check of the new file on its own:
// its table pass, then each index tree),
// which the calling thread (from the end of that order) and one more worker (from
// its start) take as they come free; the second worker reads both files through
// handles of its own (opened from `source_path` and `compacted`). Of several
// faults the one first in that order is reported.
// fillers: pages of the new file that are deliberately free.
Status VerifyCompacted(Database& source, const std::filesystem::path& source_path,
                       const std::filesystem::path& compacted, const IdMap& ids,
                       const std::vector<std::uint32_t>& fillers,
                       const CompactProgressFn& progress, const VerifyOptions& options = {});

}  // namespace jet
