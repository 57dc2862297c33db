#include "batch/batch_run.h"

#include "batch/backup_retention.h"
#include "batch/batch_leftovers.h"
#include "batch/work_folder.h"
#include "batch/compact_mdb_file.h"
#include "batch/stored_path.h"
#include "common/utf16.h"
#include "platform/arguments.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/safe_files.h"

#include <optional>

namespace mdb::batch {
namespace fs = std::filesystem;

fs::path BackupRunDirectory(const fs::path& root, std::time_t when) {
    return root / platform::FormatLocalTime("%Y-%m-%d", when) /
           platform::FormatLocalTime("%H-%M-%S", when);
}

bool BackupRootWritable(const fs::path& root, std::string& why) {
    why = "the backup root " + platform::Utf8OfPath(root) + " cannot be written";
    const platform::FileHandle dir = platform::OpenOrCreateDirectoryNoLinks(root);
    if (!dir.Valid()) return false;
    std::string probe;
    if (!platform::CreateUniqueFile(dir, ".mdbwarden-probe-", ".tmp", 0600, probe).Valid())
        return false;
    platform::RemoveFile(dir, probe);
    why.clear();
    return true;
}

namespace {

// Batches of other program directories that share the backup root may start in the same
// second, and each run needs a directory of its own: a directory shared by two runs is
// marked alive only by the one that locked its marker, so once that one ended the
// other's backups, still being written and relied on, looked like an old run's to
// retention and were removed under it. A directory whose marker a live run holds is
// passed over for the next second's name; a marker held only for a moment (a clean-up
// or retention looking whether the run is alive) is tried again. A minute of such
// attempts is far more than there are batches (one per program directory); past it
// the run goes on unmarked, as it does where the marker cannot be locked at all.
constexpr int kRunDirectoryAttempts = 60;

// Makes the run's backup directory and marks it as this run's (the lock, held until the
// result goes). On failure sets run.start and run.message and returns nothing.
std::optional<RunDirectoryLock> TakeRunDirectory(const BatchSettings& settings, BatchRun& run) {
    std::time_t name = settings.now;
    for (int attempt = 1;; ++attempt) {
        // Normal form: the long form below takes no '/' separators and no "." or ".." levels
        // (a backup root given as "D:/backups").
        run.runDir = BackupRunDirectory(settings.backupRoot, name).lexically_normal();
        const std::string runDirText(
            platform::WithoutLongPathPrefix(platform::Utf8OfPath(run.runDir)));
        run.message = runDirText;
        // Made level by level, and then reached in the long form the procedure uses: the
        // backup root (and so the run directory) may be longer than 260 characters.
        if (!platform::OpenOrCreateDirectoryNoLinks(run.runDir).Valid()) {
            run.start = BatchStart::BackupDirFailed;
            return std::nullopt;
        }
        if (!platform::FindFirst(std::string(platform::kLongPathPrefix) + runDirText)) {
            run.start = BatchStart::BackupDirUnreachable;
            return std::nullopt;
        }
        RunDirectoryLock lock = MarkRunDirectory(run.runDir);
        if (lock.Held() || attempt == kRunDirectoryAttempts) return lock;
        if (RunAlive(run.runDir / kRunMarker)) ++name;
    }
}

}  // namespace

BatchRun RunBatch(const std::vector<RecordedFile>& files, const BatchSettings& settings,
                  FileInfoDb& store, BatchObserver& observer) {
    BatchRun run;
    // Held for the whole run: batches of other program directories that share the backup
    // root see it alive, and neither clean it up nor remove it.
    const std::optional<RunDirectoryLock> runLock = TakeRunDirectory(settings, run);
    if (!runLock) return run;
    const std::optional<std::u16string> wideRunDir =
        Utf8ToUtf16(std::string(platform::kLongPathPrefix) + run.message);
    if (!wideRunDir) {
        run.start = BatchStart::BackupDirNotConvertible;
        return run;
    }
    run.message.clear();
    // Where the files' backups go: the run directory when it is an absolute path within
    // the longest path the system takes; else none, and every file is skipped.
    const fs::path backupDir = PathFromLong(*wideRunDir).value_or(fs::path());
    if (settings.runCompanion) {
        run.companionCheck = OpenRunDirectory(platform::Utf8OfPath(settings.programDir),
                                              run.runDir, settings.runCompanion);
        if (run.companionCheck != ManifestCheck::Match) {
            run.start = BatchStart::CompanionRefused;
            run.message = ProgramPath(platform::Utf8OfPath(settings.programDir), kXconfigProgram);
            return run;
        }
    }
    ReplaceEnvironment env;
    env.workRoot = WorkRootFor(settings.backupRoot, settings.programDir);
    RemoveBatchLeftovers(files, settings.backupRoot, env.workRoot);
    RemoveDeadRunLeftovers(settings.backupRoot);

    env.backupRoot = settings.backupRoot;
    env.store = &store;
    env.compact = settings.compact ? settings.compact : CompactFn([](const fs::path& source, const fs::path& destination) {
        return CompactDatabaseFile(source, destination);
    });
    env.checkpoint = settings.checkpoint;

    const std::size_t total = files.size();
    for (std::size_t i = 0; i < total; ++i) {
        if (settings.stopRequested && settings.stopRequested()) {
            run.totals.stopped = true;
            run.totals.notReached = static_cast<unsigned>(total - i);
            break;
        }
        observer.FileStarted(i, total, files[i]);
        FileOutcome outcome;
        outcome.index = i;
        outcome.result = CompactRecordedFile(files[i], backupDir, env);
        if (outcome.result.Replaced()) {
            ++run.totals.compacted;
            if (outcome.result.sizeBefore > 0 &&
                store.SetFilesize(files[i].stored, outcome.result.sizeBefore) != 1)
                outcome.result.recordNotWritten = true;
        } else {
            ++run.totals.notCompacted;
        }
        run.totals.recordsNotWritten += outcome.result.recordNotWritten;
        observer.FileDone(outcome);
    }
    observer.BatchDone(run.totals);
    return run;
}

}  // namespace mdb::batch
