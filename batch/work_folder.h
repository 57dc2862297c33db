// The working folders of the batch in the backup area: one per file under way, holding
// its working copy and the compacted copy, and held by a lock while a process works in
// it, so that the clean-up of a batch sharing the backup area leaves it alone.
#pragma once

#include <filesystem>
#include <string>

#include "platform/files.h"
#include "platform/safe_files.h"

namespace mdb::batch {

// A working folder is kWorkFolderPrefix + a unique part; inside it the working copy
// kOldCopy, the compacted copy kNewCopy, the lock file kWorkLock and, while the engine
// writes, its own temporary file (kEngineTempPrefix + six characters, and its spill
// files ".spill-N" in a large compaction).
inline constexpr char kWorkFolderPrefix[] = "work_";
inline constexpr char kOldCopy[] = "old.mdb";
inline constexpr char kNewCopy[] = "new.mdb";
inline constexpr char kWorkLock[] = ".lock";
inline constexpr char kEngineTempPrefix[] = ".new.mdb.compact-";

// The folder that holds the working folders of the program directory `programDir` below
// the backup area `backupRoot`: temp/ + a name of its own per program directory, so that
// installs sharing a backup root keep their working folders apart.
std::filesystem::path WorkRootFor(const std::filesystem::path& backupRoot,
                                  const std::filesystem::path& programDir);

// A new working folder below `parent` (created when missing), locked for its life;
// removed with its contents when it goes out of scope.
class WorkFolder {
  public:
    explicit WorkFolder(const std::filesystem::path& parent);
    ~WorkFolder();
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    bool Valid() const { return dir_.Valid(); }
    const platform::FileHandle& Handle() const { return dir_; }
    std::filesystem::path Path(const char* name) const { return path_ / name; }

  private:
    platform::FileHandle parent_;
    platform::FileHandle dir_;
    std::string name_;
    std::filesystem::path path_;
    platform::SharedFile lock_;
};

// True when `name` is one a working folder is given (this version's unique part, or
// the six characters of older versions).
bool IsWorkFolderName(const std::string& name);

// True when `name` is one of the files a working folder holds (the lock file aside).
bool IsWorkFileName(const std::string& name);

// True while a process holds the lock of the working folder `work`. A folder made by an
// older version has no lock: the probe makes one (the caller removes it).
bool WorkFolderAlive(const std::filesystem::path& work);

}  // namespace mdb::batch
