#include "file_info_access.h"
#include "common/i18n.h"

#include <algorithm>
#include <numeric>
#include <string_view>

#include "common/paths.h"
#include "common/reporter.h"
#include "file_list_format.h"
#include "takeover/store_takeover.h"

namespace mdb::desktop {

namespace {

enum class SortColumn { FileName, FilePath, FileSize, FileSize2, FileInfo };

bool ParseSortColumn(std::string_view field, SortColumn& column) {
    if (field == "filename")
        column = SortColumn::FileName;
    else if (field == "filepath")
        column = SortColumn::FilePath;
    else if (field == "filesize")
        column = SortColumn::FileSize;
    else if (field == "filesize2")
        column = SortColumn::FileSize2;
    else if (field == "fileinfo")
        column = SortColumn::FileInfo;
    else
        return false;
    return true;
}

struct SortItem {
    std::size_t index;
    std::string name;  // decoded name as shown
    std::string path;  // decoded path as shown (only when sorting by path)
};

// -1, 0, 1 comparison of two records on one column.
int CompareOn(SortColumn column, const SortItem& a, const SortItem& b,
              const std::vector<FileInfoRecord>& records) {
    const FileInfoRecord& ra = records[a.index];
    const FileInfoRecord& rb = records[b.index];
    switch (column) {
        case SortColumn::FileName:
            return a.name.compare(b.name);
        case SortColumn::FilePath:
            return a.path.compare(b.path);
        case SortColumn::FileSize:
            return ra.filesize < rb.filesize ? -1 : (ra.filesize > rb.filesize ? 1 : 0);
        case SortColumn::FileSize2:
            return ra.filesize2 < rb.filesize2 ? -1 : (ra.filesize2 > rb.filesize2 ? 1 : 0);
        case SortColumn::FileInfo:
            return ra.fileinfo.compare(rb.fileinfo);
    }
    return 0;
}

}  // namespace

void ViewReporter::ShowMessage(std::string_view text) {
    view_.ShowMessage(std::string(text), MessageIcon::Question);
}

std::unique_ptr<FileInfoDb> OpenFileInfoStore(const DesktopContext& ctx,
                                              MessageReporter& reporter) {
    std::string programDir;
    if (!ctx.exeDirectory || ctx.exeDirectory(programDir) != 1) {
        reporter.ShowMessage(kMsgExeDirFailed);
        return nullptr;
    }
    std::string configDir;
    if (EnsureConfigDirIn(programDir, reporter, configDir) != 1) return nullptr;
    return takeover::OpenStore(configDir + "/" + kFileInfoDbName, reporter);
}

bool SortFileListRecords(std::vector<FileInfoRecord>& records, const std::string& sortField,
                         const std::string& sortOrder) {
    SortColumn primary;
    if (!ParseSortColumn(sortField, primary)) return false;
    const bool descending = sortOrder == "desc";

    std::vector<SortItem> items(records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        items[i].index = i;
        items[i].name = DisplayName(records[i].filename);
        if (primary == SortColumn::FilePath) items[i].path = DisplayPath(records[i].filepath);
    }
    std::stable_sort(items.begin(), items.end(), [&](const SortItem& a, const SortItem& b) {
        int c = CompareOn(primary, a, b, records);
        if (descending) c = -c;
        if (c != 0) return c < 0;
        // Then by file name ascending; equal rows keep the order of their ids.
        return a.name < b.name;
    });

    std::vector<FileInfoRecord> sorted;
    sorted.reserve(records.size());
    for (const SortItem& item : items) sorted.push_back(std::move(records[item.index]));
    records = std::move(sorted);
    return true;
}

bool ReadFileListRecords(const DesktopContext& ctx, MessageReporter& reporter,
                         const std::string& sortField, const std::string& sortOrder,
                         std::size_t limit, std::vector<FileInfoRecord>& records) {
    records.clear();
    auto db = OpenFileInfoStore(ctx, reporter);
    if (!db) return false;
    // Every row is read so that the first `limit` rows are chosen in the order the
    // user sees (decoded names), not in the order of the stored Base64 texts.
    std::vector<FileInfoRecord> all;
    if (db->SelectAll(all) != 1) return false;
    db.reset();
    if (!SortFileListRecords(all, sortField, sortOrder)) return false;
    if (all.size() > limit) all.resize(limit);
    records = std::move(all);
    return true;
}

std::unique_ptr<FileInfoDb> OpenFileInfoStore(const DesktopContext& ctx, MainView& view) {
    ViewReporter reporter(view);
    return OpenFileInfoStore(ctx, reporter);
}

std::optional<std::string> LookupFilePathByKey(const DesktopContext& ctx, MainView& view,
                                               const std::string& key) {
    ViewReporter reporter(view);
    auto db = OpenFileInfoStore(ctx, reporter);
    std::string storedPath;
    if (!db || db->LookupFilepath(key, storedPath) != 1) return std::nullopt;
    return storedPath;
}

bool DeleteAllRecords(const DesktopContext& ctx, MainView& view) {
    ViewReporter reporter(view);
    auto db = OpenFileInfoStore(ctx, reporter);
    return db && db->DeleteAll() == 1;
}

}  // namespace mdb::desktop
