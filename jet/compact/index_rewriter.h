// Carries one index over to the new file: its entries are read in order from the
// source tree, their row pointers (and, for Id indexes, their leading Id keys)
// rewritten, and a new tree is built from them. Key bytes are never re-encoded.
#pragma once

#include <cstdint>
#include <functional>

#include "jet/compact/background_index_walk.h"
#include "jet/compact/id_map.h"
#include "jet/compact/index_tree_builder.h"
#include "jet/bytes.h"
#include "jet/compact/layout_planner.h"
#include "jet/page_file.h"

namespace jet {

// Told of an index entry left out because its row is not among the rows: the row
// address it names and its key, as the source holds them.
using DroppedEntryFn = std::function<void(RowAddr row, Bytes key)>;

// Adds the source index's entries, with new row pointers, to `tree` in order. Entries
// stream from the source walk to the tree, so memory does not grow with the index.
// Throws FormatError when the source tree is damaged or an entry points at a row that
// is not live. ids: non-null when the index's first key column holds object Ids.
//
// background: null, or a worker on a second handle of the same source. Then the
// source tree is walked on the worker while this thread rewrites the entries and
// builds the new tree; the entries and their order, and so the new tree, are the
// same either way. The worker is idle again when this returns or throws.
//
// progress: when given, told the number of entries copied since it was last told,
// every few thousand entries and at the end.
//
// drop_missing: null, or an index whose entries may name rows that are gone (a
// repair gave them up): an entry whose row `rows` does not hold is then left out
// (and told to *drop_missing, when that holds a function) instead of refused. When
// `background` walks the index, it must have been planned to go on past such rows.
void CopyIndexEntries(PageFile& source, std::uint32_t root, std::uint32_t source_tdef,
                      const RowMap& rows, const IdMap* ids, IndexTreeBuilder& tree,
                      BackgroundIndexWalk* background = nullptr,
                      const std::function<void(std::size_t entries)>& progress = nullptr,
                      const DroppedEntryFn* drop_missing = nullptr);

}  // namespace jet
