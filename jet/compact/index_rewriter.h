// Carries one index over to the new file: its entries are read in order from the
// source tree, their row pointers (and, for Id indexes, their leading Id keys)
// rewritten, and a new tree is built from them. Key bytes are never re-encoded.
#pragma once

#include <cstdint>

#include "jet/compact/id_map.h"
#include "jet/compact/index_tree_builder.h"
#include "jet/compact/layout_planner.h"
#include "jet/page_file.h"

namespace jet {

// Adds the source index's entries, with new row pointers, to `tree` in order. Entries
// stream from the source walk to the tree, so memory does not grow with the index.
// Throws FormatError when the source tree is damaged or an entry points at a row that
// is not live. ids: non-null when the index's first key column holds object Ids.
void CopyIndexEntries(PageFile& source, std::uint32_t root, std::uint32_t source_tdef,
                      const RowMap& rows, const IdMap* ids, IndexTreeBuilder& tree);

}  // namespace jet
