// The file list: reload from the store, sort by column header, check and uncheck all.
#pragma once

#include <string>
#include <vector>

#include "desktop_context.h"
#include "desktop_state.h"
#include "file_list_format.h"
#include "main_view.h"

namespace mdb::desktop {

// Rebuilds the file table and the list from fileinfo (at most 10000 records in the
// current sort order). A failure to read leaves the list as it was, silently.
// Safe to call from any thread; concurrent reloads run one after the other.
void ReloadFileList(const DesktopContext& ctx, DesktopState& state, MainView& view);

// Column header click: toggles the direction, picks the field for the column and
// reloads.
void OnColumnHeaderClick(const DesktopContext& ctx, DesktopState& state, MainView& view,
                         int column);

// The sort field of a list column: 1 filename, 2 filesize, 3 filesize2, 4 fileinfo,
// every other column filepath.
const char* SortFieldForColumn(int column);
// The list column that shows a sort field (its header carries the sort arrow).
int ColumnForSortField(const std::string& field);

void CheckAllRows(MainView& view);
void UncheckAllRows(MainView& view);

}  // namespace mdb::desktop
