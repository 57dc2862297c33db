// One compaction batch without any user interface: the run's backup directory, the
// clean-up of what an interrupted run left, and the procedure of backup_compact_replace.h
// for each file, reported to an observer. The caller stops and starts the web server
// and holds the batch lock (batch_lock.h) around it.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "batch/backup_compact_replace.h"
#include "batch/companions.h"
#include "common/filestore.h"

namespace mdb::batch {

// At most this many records in one batch: the queue the window reads is capped there.
inline constexpr std::size_t kMaxBatchFiles = 90'000;

struct BatchSettings {
    std::filesystem::path programDir;  // holds the companion programs
    std::filesystem::path backupRoot;  // root of the backup area
    std::time_t now = 0;               // names the run's backup directory
    // Asked before each file: true ends the batch there (the file under way finishes).
    std::function<bool()> stopRequested;
    CompactFn compact;                            // CompactDatabaseFile unless a test replaces it
    std::function<void(ReplaceStep)> checkpoint;  // per-file progress hook (tests)
    // Starts the companion that opens the run directory to the administrators
    // (OpenRunDirectory) and waits for it; none is started when empty.
    RunAndWait runCompanion;
};

struct FileOutcome {
    std::size_t index = 0;  // 0-based position in the batch
    ReplaceResult result;
};

struct BatchTotals {
    unsigned compacted = 0;
    unsigned notCompacted = 0;  // treated and not compacted
    unsigned notReached = 0;    // left out because the batch was stopped
    unsigned recordsNotWritten = 0;  // files whose record could not be written
    bool stopped = false;
};

class BatchObserver {
  public:
    virtual ~BatchObserver() = default;
    virtual void FileStarted(std::size_t index, std::size_t total, const RecordedFile& file) {}
    virtual void FileDone(const FileOutcome& outcome) {}
    virtual void BatchDone(const BatchTotals& totals) {}
};

enum class BatchStart {
    Ran,              // the files were treated (BatchDone was called)
    BackupDirFailed,  // the run's backup directory cannot be created
    BackupDirUnreachable,     // it was created but cannot be reached
    BackupDirNotConvertible,  // its path has no long form (not UTF-8)
    CompanionRefused,  // mdbscout_xconfig failed its integrity check (companionCheck)
};

struct BatchRun {
    BatchStart start = BatchStart::Ran;
    std::filesystem::path runDir;
    std::string message;  // what went wrong, for the user (empty when the batch ran)
    // When CompanionRefused: how mdbscout_xconfig failed its check (`message` is its path).
    ManifestCheck companionCheck = ManifestCheck::Match;
    BatchTotals totals;
};

// Treats `files` (the records' files, in order) and records the outcomes in `store`; a compacted file's row gets the size it had before this run
// beside its compacted size. The run directory is marked as one this program made
// (backup_retention.h).
BatchRun RunBatch(const std::vector<RecordedFile>& files, const BatchSettings& settings,
                  FileInfoDb& store, BatchObserver& observer);

// Whether the batch can write below `root`: creates it when missing and makes and removes
// a probe file there. False with `why` (for the user) when it cannot; nothing is left.
bool BackupRootWritable(const std::filesystem::path& root, std::string& why);

// The run's backup directory below `root` for the local time `when`: root/%Y-%m-%d/%H-%M-%S.
std::filesystem::path BackupRunDirectory(const std::filesystem::path& root, std::time_t when);

}  // namespace mdb::batch
