#include "batch/backup_retention.h"

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
bool RemoveTree(const platform::FileHandle& dir, const std::string& name) {
    {
        const platform::FileHandle sub = platform::OpenSubdirectory(dir, name);
        std::vector<platform::DirectoryEntry> entries;
        if (!sub.Valid() || !platform::ListDirectory(sub, entries)) return false;
        for (const auto& entry : entries) {
            const bool gone = IsRealDirectory(entry) ? RemoveTree(sub, entry.name)
                                                     : platform::RemoveFile(sub, entry.name);
            if (!gone) return false;
        }
    }  // closed before its removal: Windows removes a directory when its last handle goes
    return platform::RemoveDirectory(dir, name);
}

}  // namespace

void MarkRunDirectory(const fs::path& runDir) {
    std::ofstream(runDir / kRunMarker) << "made by mdbwarden / mdbcompact batch\n";
}

int RemoveOldBackupRuns(const fs::path& root, int days, const fs::path& current, std::time_t now) {
    int removed = 0;
    const platform::FileHandle rootDir = platform::OpenDirectoryNoLinks(root);
    std::vector<platform::DirectoryEntry> dates, runs;
    if (!rootDir.Valid() || !platform::ListDirectory(rootDir, dates)) return 0;
    const std::time_t limit = now - static_cast<std::time_t>(days) * 24 * 3600;
    for (const auto& date : dates) {
        if (!IsRealDirectory(date)) continue;
        std::size_t left = 1;
        {
            const platform::FileHandle dateDir = platform::OpenSubdirectory(rootDir, date.name);
            if (!dateDir.Valid() || !platform::ListDirectory(dateDir, runs)) continue;
            left = runs.size();
            for (const auto& run : runs) {
                const fs::path p =
                    root / platform::PathFromUtf8(date.name) / platform::PathFromUtf8(run.name);
                if (!IsRealDirectory(run) || p.lexically_normal() == current.lexically_normal())
                    continue;
                const std::time_t made = RunTime(date.name, run.name);
                if (made < 0 || made >= limit || !MarkedAsRun(dateDir, run.name)) continue;
                if (RemoveTree(dateDir, run.name)) {
                    ++removed;
                    --left;
                }
            }
        }  // closed first, as in RemoveTree
        if (left == 0) platform::RemoveDirectory(rootDir, date.name);
    }
    return removed;
}

}  // namespace mdb::batch
