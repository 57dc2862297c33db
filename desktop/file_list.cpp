#include "file_list.h"

#include <cassert>
#include <string>

#include "file_info_access.h"

namespace mdb::desktop {

namespace {

void ReloadLocked(const DesktopContext& ctx, DesktopState& state, MainView& view,
                  MessageReporter& reporter) {
    std::vector<FileInfoRecord> records;
    if (!ReadFileListRecords(ctx, reporter, state.sortField, state.sortOrder, kListQueryLimit,
                             records)) {
        return;
    }
    assert(state.fileTable.size() == static_cast<std::size_t>(kFileTableRows));
    for (auto& entry : state.fileTable) entry.inUse = 0;

    std::size_t filled = 0;
    for (const auto& record : records) {
        if (filled >= state.fileTable.size()) break;
        FillEntry(record, state.fileTable[filled], state.batch);
        ++filled;
    }

    std::vector<ListRow> rows;
    rows.reserve(filled);
    for (std::size_t i = 0; i < state.fileTable.size(); ++i) {
        const FileListEntry& e = state.fileTable[i];
        if (e.inUse != 1) continue;
        rows.push_back(ListRow{std::to_string(i + 1), e.fileName, e.originalSize, e.compactedSize,
                               e.ratio, e.filePath, e.recordKey, e.reason});
    }
    view.ReplaceRows(std::move(rows));
}

}  // namespace

// Messages wait until the lock is released: a box shown for a background thread
// waits for the user on the window's thread, which may itself be waiting for the lock.
static void ShowCollected(const CollectingReporter& reporter, MainView& view) {
    for (const std::string& text : reporter.messages) view.ShowMessage(text, MessageIcon::Question);
}

void ReloadFileList(const DesktopContext& ctx, DesktopState& state, MainView& view) {
    CollectingReporter reporter;
    {
        std::lock_guard lock(state.reloadLock);
        ReloadLocked(ctx, state, view, reporter);
    }
    ShowCollected(reporter, view);
}

const char* SortFieldForColumn(int column) {
    switch (column) {
        case 1:
            return "filename";
        case 2:
            return "filesize";
        case 3:
            return "filesize2";
        case 4:
            return "fileinfo";
        default:
            return "filepath";
    }
}

int ColumnForSortField(const std::string& field) {
    if (field == "filename") return 1;
    if (field == "filesize") return 2;
    if (field == "filesize2") return 3;
    if (field == "fileinfo") return 4;
    return 5;
}

void OnColumnHeaderClick(const DesktopContext& ctx, DesktopState& state, MainView& view,
                         int column) {
    CollectingReporter reporter;
    {
        std::lock_guard lock(state.reloadLock);
        state.sortOrder = state.sortOrder == "desc" ? "asc" : "desc";
        state.sortField = SortFieldForColumn(column);
        ReloadLocked(ctx, state, view, reporter);
    }
    ShowCollected(reporter, view);
}

void CheckAllRows(MainView& view) {
    // The count is read anew on every step: a concurrent reload may shorten the list.
    for (int i = 0; i < view.ItemCount(); ++i) {
        if (!view.IsChecked(i)) view.SetChecked(i, true);
    }
}

void UncheckAllRows(MainView& view) {
    for (int i = 0; i < view.ItemCount(); ++i) {
        if (view.IsChecked(i)) view.SetChecked(i, false);
    }
}

}  // namespace mdb::desktop
