// Old backup runs: each run directory (root/%Y-%m-%d/%H-%M-%S) that a batch makes holds a
// marker file, so that removing old runs never touches anything the program did not make.
#pragma once

#include <ctime>
#include <filesystem>

#include "platform/files.h"

namespace mdb::batch {

inline constexpr char kRunMarker[] = ".mdbwarden-run";

// A run directory's marker, held open with an exclusive lock while the run lasts: so
// another program directory's batch sharing the backup root (or a retention run) sees the
// run is alive. When it ends normally the marker says so, and nothing of it is left to
// clean up.
class RunDirectoryLock {
  public:
    explicit RunDirectoryLock(const std::filesystem::path& runDir);
    ~RunDirectoryLock();
    RunDirectoryLock(RunDirectoryLock&&) = default;
    RunDirectoryLock& operator=(RunDirectoryLock&&) = default;
    bool Held() const { return file_.IsOpen(); }

  private:
    platform::SharedFile file_;
};

// Puts the marker into the run directory `runDir`, held until the result goes.
RunDirectoryLock MarkRunDirectory(const std::filesystem::path& runDir);

// True while a run holds the marker `marker`.
bool RunAlive(const std::filesystem::path& marker);

// Removes what killed runs left below `root`: their partial backups (temporary names of
// the batch, owned by this process's user). Only marked runs that are not alive and did not
// end normally are looked into; each is then marked as ended.
void RemoveDeadRunLeftovers(const std::filesystem::path& root);

// Removes the marked run directories below `root` whose name says they are more than
// `days` days older than `now`, except `current` and runs that are alive (another program
// directory's batch may share the root); then date directories left empty. Links are
// never followed, nor file systems mounted inside a run (the run stays). Returns how many runs were removed.
int RemoveOldBackupRuns(const std::filesystem::path& root, int days,
                        const std::filesystem::path& current, std::time_t now);

}  // namespace mdb::batch
