// Process-wide state of mdbwarden: the file table behind the list, the sort keys,
// the help-pane flag and the file of the last right-clicked row. One instance lives
// for the whole process (the application leaks it on purpose: the background
// threads are never joined and may still use it while the process ends).
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace mdb::desktop {

inline constexpr int kFileTableRows = 99999;
inline constexpr int kListQueryLimit = 10000;

struct FileListEntry {
    int inUse = 0;
    std::string fileName;
    std::string filePath;
    std::string originalSize;
    std::string compactedSize;
    std::string ratio;
    std::string recordKey;
    std::string reason;  // full failure reason behind a short ratio text, or empty
};

// The batch under way as the list shows it: its queued files wait, one is being
// compacted, and each done file shows its new values (its stored `filepath` texts).
// A file the batch left alone for a reason its record does not keep (its backup or its
// working copy could not be made, the replacement failed) shows that reason until the
// next batch starts.
struct BatchProgress {
    bool active = false;
    std::string current;          // being compacted; empty between files
    std::set<std::string> done;   // treated in this batch
    std::map<std::string, std::string> leftAlone;  // path -> reason, kept after the batch
};

struct DesktopState {
    DesktopState() : fileTable(kFileTableRows) {}

    // Held for a whole reload (read, fill the table, hand the rows to the list), so
    // reloads from the dialog and from the background threads never mix rows.
    std::mutex reloadLock;
    std::vector<FileListEntry> fileTable;  // guarded by reloadLock; always 99999 rows
    std::string sortField = "filename";    // guarded by reloadLock
    std::string sortOrder = "asc";         // guarded by reloadLock
    BatchProgress batch;                   // guarded by reloadLock

    std::atomic<int> helpPaneShown{0};

    std::mutex currentFileLock;
    std::string currentFile;  // guarded by currentFileLock
};

}  // namespace mdb::desktop
