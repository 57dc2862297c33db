#include "batch/backup_retention.h"

#include "batch/backup_compact_replace.h"
#include "platform/arguments.h"
#include "platform/safe_files.h"

#include <fstream>
#include <vector>

namespace mdb::batch {
namespace fs = std::filesystem;

namespace {

// The time a run directory's names stand for, or -1 when they are not a run's names.
std::time_t RunTime(const std::string& date, const std::string& time) {
    std::tm tm{};
    if (std::sscanf(date.c_str(), "%4d-%2d-%2d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday) != 3 ||
        date.size() != 10 || time.size() != 8 ||
        std::sscanf(time.c_str(), "%2d-%2d-%2d", &tm.tm_hour, &tm.tm_min, &tm.tm_sec) != 3)
        return -1;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

// A directory entry to go into: a directory itself, not a link to one.
bool IsRealDirectory(const platform::DirectoryEntry& entry) {
    return entry.status.directory && !entry.link;
}

// True when the directory `name` in `dir` holds the run marker (a file, not a link).
bool MarkedAsRun(const platform::FileHandle& dir, const std::string& name) {
    const platform::FileHandle run = platform::OpenSubdirectory(dir, name);
    platform::FileStatus marker;
    return run.Valid() && platform::StatusAt(run, kRunMarker, marker) && marker.regular;
}

// Removes the directory `name` in `dir` with everything below it, through handles level
// by level: no path is ever spelt out, so no path length limit applies (a backup copies
// a site's folders, which may be deep), and a link is removed itself, never followed.
// A directory on another device than `device` (a file system mounted there) is left with
// all it holds, and so are the levels above it.
bool RemoveTree(const platform::FileHandle& dir, const std::string& name, std::uint64_t device) {
    {
        const platform::FileHandle sub = platform::OpenSubdirectory(dir, name);
        platform::FileStatus status;
        std::vector<platform::DirectoryEntry> entries;
        if (!sub.Valid() || !platform::StatusOf(sub, status) || status.device != device ||
            !platform::ListDirectory(sub, entries))
            return false;
        bool all = true;
        for (const auto& entry : entries) {
            const bool gone = IsRealDirectory(entry) ? RemoveTree(sub, entry.name, device)
                                                     : platform::RemoveFile(sub, entry.name);
            all = all && gone;
        }
        if (!all) return false;
    }  // closed before its removal: Windows removes a directory when its last handle goes
    return platform::RemoveDirectory(dir, name);
}

// Removes the batch's temporary files (partial backups) below `dir`, owned by `user`.
void RemoveTempFilesBelow(const platform::FileHandle& dir, std::uint64_t device,
                          std::uint32_t user) {
    platform::FileStatus status;
    std::vector<platform::DirectoryEntry> entries;
    if (!platform::StatusOf(dir, status) || status.device != device ||
        !platform::ListDirectory(dir, entries))
        return;
    for (const auto& entry : entries) {
        if (IsRealDirectory(entry)) {
            RemoveTempFilesBelow(platform::OpenSubdirectory(dir, entry.name), device, user);
        } else if (!entry.link && entry.status.regular && entry.status.owner == user &&
                   IsBatchTempName(entry.name)) {
            platform::RemoveFile(dir, entry.name);
        }
    }
}

constexpr char kMarkerText[] = "made by mdbwarden / mdbcompact batch\n";
constexpr char kEndedText[] = "ended\n";

// Calls `visit(dateDir, date, run)` for every run directory (date/time, real
// directories) below `rootDir`, then removes a date directory once `visit` removed every
// run it held. A directory found empty stays: it may be a level another batch sharing the
// root has just made and is about to make the next one in (the date of its run, or temp/
// of its working folders); removed between the two, its run or its file failed.
template <typename Visit>
void ForEachRun(const platform::FileHandle& rootDir, Visit visit) {
    std::vector<platform::DirectoryEntry> dates, runs;
    if (!rootDir.Valid() || !platform::ListDirectory(rootDir, dates)) return;
    for (const auto& date : dates) {
        if (!IsRealDirectory(date)) continue;
        std::size_t removed = 0;
        {
            const platform::FileHandle dateDir = platform::OpenSubdirectory(rootDir, date.name);
            if (!dateDir.Valid() || !platform::ListDirectory(dateDir, runs)) continue;
            for (const auto& run : runs)
                if (IsRealDirectory(run) && visit(dateDir, date.name, run.name)) ++removed;
            if (removed == 0 || removed != runs.size()) continue;
        }  // closed first, as in RemoveTree
        platform::RemoveDirectory(rootDir, date.name);  // fails when a run was made since
    }
}

}  // namespace

RunDirectoryLock::RunDirectoryLock(const fs::path& runDir) {
    // Locked a few microseconds after it is made: a run of this second is too young for
    // retention anyway, and the clean-up passes a marker still empty.
    if (file_.Open(platform::Utf8OfPath(runDir / kRunMarker), platform::OpenMode::WriteExclusiveCreate) !=
        platform::OpenResult::Ok)
        return;
    file_.Truncate();
    file_.Append(std::string_view(kMarkerText));
}

RunDirectoryLock::~RunDirectoryLock() {
    if (file_.IsOpen()) file_.Append(std::string_view(kEndedText));
}

RunDirectoryLock MarkRunDirectory(const fs::path& runDir) {
    return RunDirectoryLock(runDir);
}

bool RunAlive(const fs::path& marker) {
    platform::SharedFile probe;
    const platform::OpenResult opened =
        probe.Open(platform::Utf8OfPath(marker), platform::OpenMode::WriteExclusiveCreate);
    return opened == platform::OpenResult::SharingViolation;
}

void RemoveDeadRunLeftovers(const fs::path& root) {
    const platform::FileHandle rootDir = platform::OpenDirectoryNoLinks(root);
    platform::FileStatus rootStatus;
    if (!platform::StatusOf(rootDir, rootStatus)) return;
    const std::uint32_t me = platform::CurrentUser();
    ForEachRun(rootDir, [&](const platform::FileHandle& dateDir, const std::string& date,
                            const std::string& name) {
        const fs::path marker =
            root / platform::PathFromUtf8(date) / platform::PathFromUtf8(name) / kRunMarker;
        if (!MarkedAsRun(dateDir, name)) return false;
        platform::SharedFile held;
        std::string text;
        if (held.Open(platform::Utf8OfPath(marker), platform::OpenMode::WriteExclusiveCreate) !=
                platform::OpenResult::Ok ||
            !held.ReadAll(text) || text.empty() || text.ends_with(kEndedText))
            return false;
        RemoveTempFilesBelow(platform::OpenSubdirectory(dateDir, name), rootStatus.device, me);
        held.Append(std::string_view(kEndedText));
        return false;
    });
}

int RemoveOldBackupRuns(const fs::path& root, int days, const fs::path& current, std::time_t now) {
    int removed = 0;
    const platform::FileHandle rootDir = platform::OpenDirectoryNoLinks(root);
    platform::FileStatus rootStatus;
    if (!platform::StatusOf(rootDir, rootStatus)) return 0;
    const std::time_t limit = now - static_cast<std::time_t>(days) * 24 * 3600;
    ForEachRun(rootDir, [&](const platform::FileHandle& dateDir, const std::string& date,
                            const std::string& name) {
        const fs::path p = root / platform::PathFromUtf8(date) / platform::PathFromUtf8(name);
        if (p.lexically_normal() == current.lexically_normal()) return false;
        const std::time_t made = RunTime(date, name);
        if (made < 0 || made >= limit || !MarkedAsRun(dateDir, name) || RunAlive(p / kRunMarker))
            return false;
        if (!RemoveTree(dateDir, name, rootStatus.device)) return false;
        ++removed;
        return true;
    });
    return removed;
}

}  // namespace mdb::batch
