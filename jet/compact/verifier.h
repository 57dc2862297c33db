// Verification of a compacted file against its source, before the file may
// replace anything: every row, long value and index entry must read the same
// (row pointers and moved table Ids aside), and the new file's own structure must
// hold (maps describe exactly their pages, every page has one role, the global
// map marks no used page free).
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "jet/bytes.h"
#include "jet/compact/compactor.h"
#include "jet/compact/id_map.h"
#include "jet/database.h"

namespace jet {

// fillers: pages of the new file that are deliberately free.
Status VerifyCompacted(Database& source, const std::filesystem::path& compacted, const IdMap& ids,
                       const std::vector<std::uint32_t>& fillers,
                       const CompactProgressFn& progress);

}  // namespace jet
