#include "batch/backup_compact_replace.h"

#include <array>
#include <cstdio>
#include <cctype>
#include <optional>
#include <set>

#include "batch/compact_mdb_file.h"
#include "batch/stored_path.h"
#include "common/own_files.h"
#include "common/paths.h"
#include "common/utf16.h"
#include "platform/arguments.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/safe_files.h"

namespace mdb::batch {
namespace fs = std::filesystem;
using platform::FileHandle;
using platform::FileStatus;

namespace {

// Names this program gives its temporary files: StagingPrefixFor(the name they stand
// beside) + a unique part + kStagingSuffix (beside site files and backups, common/own_files.h),
// and the working folders kWorkPrefix + a unique part in the backup area's temp folder.
constexpr char kTempSuffix[] = ".tmp";
static_assert(std::string_view(kTempSuffix) == kStagingSuffix);
constexpr char kWorkPrefix[] = "work_";
constexpr char kOldCopy[] = "old.mdb";
constexpr char kNewCopy[] = "new.mdb";
// Held by the process that works in the folder.
constexpr char kWorkLock[] = ".lock";
// The engine's own temporary file beside the compacted copy (".new.mdb.compact-XXXXXX").
constexpr char kEngineTempPrefix[] = ".new.mdb.compact-";

std::u16string ToLongPath(const std::string& native) {
    const std::string text = std::string(platform::kLongPathPrefix) + native;
    return Utf8ToUtf16(text).value_or(std::u16string());
}

// True when `path` lies inside `root` (both absolute, compared level by level).
bool IsBelow(const fs::path& path, const fs::path& root) {
    auto p = path.lexically_normal();
    auto r = root.lexically_normal();
    auto pi = p.begin();
    for (auto ri = r.begin(); ri != r.end(); ++ri) {
        if (ri->empty()) continue;  // trailing separator of the root
        if (pi == p.end() || *pi != *ri) return false;
        ++pi;
    }
    return true;
}

// The site file, opened without following links, with the directory that holds it and
// the state it was backed up and compacted in.
struct SiteFile {
    fs::path path;
    FileHandle directory;
    std::string name;
    FileHandle file;
    FileStatus status;
};

std::optional<SiteFile> OpenSiteFile(const fs::path& path) {
    SiteFile site;
    site.path = path;
    site.name = platform::Utf8OfPath(path.filename());
    if (site.name == "." || site.name == "..") return std::nullopt;
    site.directory = platform::OpenDirectoryNoLinks(path.parent_path());
    site.file = platform::OpenForReading(site.directory, site.name);
    if (!platform::StatusOf(site.file, site.status) || !site.status.regular) return std::nullopt;
    return site;
}

// True when another process holds the site file open so that it cannot be read at all
// (on Windows, a program that opened it without sharing, or a writer refusing others).
bool HeldByAnotherProcess(const fs::path& path) {
    const FileHandle directory = platform::OpenDirectoryNoLinks(path.parent_path());
    return directory.Valid() &&
           platform::ReadingRefusedByAnotherProcess(directory, platform::Utf8OfPath(path.filename()));
}

// True when `path` or one of its parent directories is a symbolic link now.
bool PassesThroughLink(const fs::path& path) {
    std::error_code ec;
    for (fs::path at = path; at.has_relative_path(); at = at.parent_path()) {
        if (fs::is_symlink(fs::symlink_status(at, ec))) return true;
    }
    return false;
}

std::string TempPrefixFor(const std::string& name) {
    return StagingPrefixFor(name);
}

void Reach(const ReplaceEnvironment& env, ReplaceStep step) {
    if (env.checkpoint) env.checkpoint(step);
}

// The directory `relativeDir` below the run directory, its missing levels created one by
// one relative to the level above: never through a link, and at any path length (the
// site's own path may be longer than the path functions take).
FileHandle OpenBackupDirectory(const fs::path& runDir, const fs::path& relativeDir) {
    FileHandle dir = platform::OpenDirectoryNoLinks(runDir);
    for (const fs::path& level : relativeDir) {
        if (!dir.Valid()) break;
        dir = platform::OpenOrCreateSubdirectory(dir, platform::Utf8OfPath(level));
    }
    return dir;
}

// Writes the backup copy of the site file at `relativePath` below the run directory:
// under a temporary name, with the original's owner, mode and time, flushed, then named.
// An earlier copy of the same file in this run (a file recorded twice) is kept: it holds
// the bytes from before this run touched the file; the later copy gets a unique name
// beside it.
bool WriteBackup(const SiteFile& site, const fs::path& runDir, const fs::path& relativePath,
                 const ReplaceEnvironment& env) {
    FileHandle dir = OpenBackupDirectory(runDir, relativePath.parent_path());
    if (!dir.Valid()) return false;
    const std::string name = platform::Utf8OfPath(relativePath.filename());
    std::string tempName;
    FileHandle out = platform::CreateUniqueFile(dir, TempPrefixFor(name), kTempSuffix, 0600,
                                                tempName);
    if (!out.Valid()) return false;
    const bool written = platform::CopyAll(site.file, out) &&
                         platform::CopyOwnerModeTime(out, site.status) && platform::Sync(out);
    out = FileHandle();
    if (!written) {
        platform::RemoveFile(dir, tempName);
        return false;
    }
    Reach(env, ReplaceStep::BackupStaged);
    platform::RenameResult named = platform::RenameNoReplace(dir, tempName, name);
    if (named == platform::RenameResult::Exists) {
        std::string uniqueName;
        // The placeholder reserves the name; the rename puts the backup in its place.
        if (platform::CreateUniqueFile(dir, name + ".", "", 0600, uniqueName).Valid() &&
            platform::Rename(dir, tempName, uniqueName))
            named = platform::RenameResult::Done;
    }
    if (named != platform::RenameResult::Done) {
        platform::RemoveFile(dir, tempName);
        return false;
    }
    return platform::Sync(dir);
}

enum class Replacement { Done, Failed, BeingWritten, WritersUnseen, Modified };

// True when the file `site` describes is still in the state it was compacted from. The
// exchange itself sets the change time of both files, so from the exchange on the file
// counts as unchanged when it is the same file with the same size and modification time.
bool Unchanged(const SiteFile& site, const std::string& name) {
    FileStatus now;
    return platform::StatusAt(site.directory, name, now) && platform::SameFile(site.status, now) &&
           now.size == site.status.size && now.mtimeSec == site.status.mtimeSec &&
           now.mtimeNsec == site.status.mtimeNsec;
}

// Puts the file `stagedName` (the compacted bytes, flushed) in place of the site file.
// Before the exchange the site file must be unchanged and have no writer; after it, the
// original (now under `stagedName`) must still be unchanged and have no writer, else the
// names are exchanged back. On any result but Done the site file is as its last writer
// left it.
// `leftAside` receives the name of the original when it was put aside and could not be
// removed afterwards (see platform::Rename).
Replacement Install(const SiteFile& site, const std::string& stagedName,
                    const ReplaceEnvironment& env, std::string& leftAside) {
    FileStatus now;
    switch (platform::WritersOf(site.status)) {
        case platform::Writers::None:
            break;
        case platform::Writers::Writing:
            return Replacement::BeingWritten;
        case platform::Writers::Unseen:
            return Replacement::WritersUnseen;
    }
    if (!platform::StatusAt(site.directory, site.name, now) ||
        !platform::SameFileState(site.status, now))
        return Replacement::Modified;
    Reach(env, ReplaceStep::LastCheckPassed);

    const platform::ExchangeResult exchanged =
        env.exchangeNames ? platform::Exchange(site.directory, stagedName, site.name)
                          : platform::ExchangeResult::Unsupported;
    if (exchanged == platform::ExchangeResult::Failed) return Replacement::Failed;
    if (exchanged == platform::ExchangeResult::Unsupported) {
        // A plain rename replaces whatever the name holds: check once more right before.
        if (!platform::StatusAt(site.directory, site.name, now) ||
            !platform::SameFileState(site.status, now) ||
            platform::WritersOf(site.status) != platform::Writers::None)
            return Replacement::Modified;
        if (!platform::Rename(site.directory, stagedName, site.name, &leftAside))
            return Replacement::Failed;
        Reach(env, ReplaceStep::Exchanged);
        Reach(env, ReplaceStep::OriginalRemoved);
        platform::Sync(site.directory);
        return Replacement::Done;
    }
    Reach(env, ReplaceStep::Exchanged);
    // A process that opened the site file after the last check holds the original now: it
    // is seen here while it holds it open for writing or mapped, or by what it changed.
    // One that opens the site's name from here on opens the compacted file.
    if (!Unchanged(site, stagedName) ||
        platform::WritersOf(site.status) != platform::Writers::None) {
        if (platform::Exchange(site.directory, stagedName, site.name) !=
                platform::ExchangeResult::Exchanged &&
            !platform::Rename(site.directory, stagedName, site.name))
            return Replacement::Failed;  // cannot happen short of a vanished directory
        platform::Sync(site.directory);
        return Replacement::Modified;
    }
    platform::RemoveFile(site.directory, stagedName);
    Reach(env, ReplaceStep::OriginalRemoved);
    platform::Sync(site.directory);
    return Replacement::Done;
}

// Stages the compacted bytes beside the site file and installs them.
Replacement ReplaceAtomically(const SiteFile& site, const FileHandle& compacted,
                              const ReplaceEnvironment& env, std::string& leftAside) {
    std::string stagedName;
    FileHandle staged = platform::CreateUniqueFile(site.directory, TempPrefixFor(site.name),
                                                   kTempSuffix, 0600, stagedName);
    if (!staged.Valid()) return Replacement::Failed;
    Reach(env, ReplaceStep::StagingCreated);
    // The compacted file is writable by its owner, as the original is made before it is
    // replaced; every other mode bit is the original's.
    const std::uint32_t mode = site.status.mode | 0200;
    const bool written = platform::CopyAll(compacted, staged) &&
                         platform::SetOwnerAndMode(staged, site.status, mode) &&
                         platform::Sync(staged);
    staged = FileHandle();
    Replacement result = Replacement::Failed;
    if (written) {
        Reach(env, ReplaceStep::ReplacementStaged);
        result = Install(site, stagedName, env, leftAside);
    }
    // After a success the name is gone already; otherwise it holds the compacted copy.
    if (result != Replacement::Done) platform::RemoveFile(site.directory, stagedName);
    return result;
}

// Attempts of a statement the store refuses, each with the store's own wait for a lock
// (kStoreBusyTimeoutMs): a store another program holds for up to about half a minute is
// waited out, as the scanner does.
constexpr int kStatementAttempts = 3;

// Runs `op` on the store; false when it failed every attempt. A failed statement never
// ends the procedure.
bool RunStatement(const ReplaceEnvironment& env, const std::function<int(FileInfoDb&)>& op) {
    for (int attempt = 0; attempt < kStatementAttempts; ++attempt) {
        try {
            if (env.store) {
                if (op(*env.store) == 1) return true;
            } else if (auto db = env.openStore ? env.openStore() : nullptr) {
                if (op(*db) == 1) return true;
            }
        } catch (...) {
        }
    }
    return false;
}

// The working folder in the backup area's temp folder, holding the working copy and
// the compacted copy; removed with its contents when the procedure ends.
// Its lock file is held while the procedure uses it, so the clean-up of a batch that
// shares the backup area leaves it alone.
class WorkFolder {
  public:
    explicit WorkFolder(const fs::path& tempDir) {
        if (CreateDirectoryChain(platform::Utf8OfPath(tempDir)) != 1) return;
        temp_ = platform::OpenDirectoryNoLinks(tempDir);
        dir_ = platform::CreateUniqueDirectory(temp_, kWorkPrefix, name_);
        path_ = tempDir / name_;
        if (dir_.Valid() &&
            lock_.Open(platform::Utf8OfPath(path_ / kWorkLock),
                       platform::OpenMode::WriteExclusiveCreate) != platform::OpenResult::Ok) {
            platform::RemoveDirectory(temp_, name_);
            dir_ = FileHandle();
        }
    }
    ~WorkFolder() {
        if (!dir_.Valid()) return;
        platform::RemoveFile(dir_, kOldCopy);
        platform::RemoveFile(dir_, kNewCopy);
        lock_.Close();  // Windows removes no file that is open
        platform::RemoveFile(dir_, kWorkLock);
        platform::RemoveDirectory(temp_, name_);
    }
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    bool Valid() const { return dir_.Valid(); }
    const FileHandle& Handle() const { return dir_; }
    fs::path Path(const char* name) const { return path_ / name; }

  private:
    FileHandle temp_;
    FileHandle dir_;
    std::string name_;
    fs::path path_;
    platform::SharedFile lock_;
};

bool IsUniquePart(std::string_view part, std::size_t length) {
    if (part.size() != length) return false;
    for (char c : part)
        if (!std::isalnum(static_cast<unsigned char>(c))) return false;
    return true;
}

void RemoveSiteLeftovers(const fs::path& directory) {
    FileHandle dir = platform::OpenDirectoryNoLinks(directory);
    std::vector<platform::DirectoryEntry> entries;
    if (!platform::ListDirectory(dir, entries)) return;
    const std::uint32_t me = platform::CurrentUser();
    for (const auto& entry : entries) {
        if (entry.link || !entry.status.regular) continue;
        const std::optional<std::string> staged = StagingFileTarget(entry.name);
        const std::optional<std::string> aside = AsideFileTarget(entry.name);
        if (!staged && !aside) continue;
        // Made by this user, or given the owner of the file it stands beside.
        FileStatus site;
        const bool siteThere = platform::StatusAt(dir, staged ? *staged : *aside, site);
        if (entry.status.owner != me && !(siteThere && entry.status.owner == site.owner))
            continue;
        // An original put aside is the site's database when its name is empty (the run
        // ended between the two renames): it goes back. Else it is the old copy of a
        // file compacted since, which the run's backup holds.
        if (aside && !siteThere)
            platform::RenameNoReplace(dir, entry.name, *aside);
        else
            platform::RemoveFile(dir, entry.name);
    }
}

bool IsWorkFileName(const std::string& name) {
    if (name == kOldCopy || name == kNewCopy) return true;
    const std::string prefix = kEngineTempPrefix;
    if (name.rfind(prefix, 0) != 0) return false;
    // mkstemp's six characters, then nothing or the engine's spill file number
    // (".spill-N": sorted runs of a large compaction, left behind when it was killed).
    const std::string_view rest = std::string_view(name).substr(prefix.size());
    if (rest.size() < 6 || !IsUniquePart(rest.substr(0, 6), 6)) return false;
    constexpr std::string_view kSpill = ".spill-";
    const std::string_view tail = rest.substr(6);
    if (tail.empty()) return true;
    return tail.size() > kSpill.size() && tail.starts_with(kSpill) &&
           tail.substr(kSpill.size()).find_first_not_of("0123456789") == std::string_view::npos;
}

// True while a process holds the lock of the working folder `work`.
bool WorkFolderAlive(const fs::path& work) {
    platform::SharedFile probe;
    return probe.Open(platform::Utf8OfPath(work / kWorkLock),
                      platform::OpenMode::WriteExclusiveCreate) ==
           platform::OpenResult::SharingViolation;
}

void RemoveWorkLeftovers(const fs::path& tempDir) {
    FileHandle temp = platform::OpenDirectoryNoLinks(tempDir);
    std::vector<platform::DirectoryEntry> folders;
    if (!platform::ListDirectory(temp, folders)) return;
    const std::uint32_t me = platform::CurrentUser();
    const std::string prefix = kWorkPrefix;
    for (const auto& folder : folders) {
        if (folder.link || !folder.status.directory || folder.status.owner != me) continue;
        if (folder.name.rfind(prefix, 0) != 0) continue;
        // Working folders are named with kUniqueNameChars characters; older versions
        // of the program used mkdtemp's six.
        const std::string_view unique = std::string_view(folder.name).substr(prefix.size());
        if (!IsUniquePart(unique, platform::kUniqueNameChars) && !IsUniquePart(unique, 6)) continue;
        // A folder made by an older version has no lock: the probe makes one, removed below.
        if (WorkFolderAlive(tempDir / platform::PathFromUtf8(folder.name))) continue;
        FileHandle work = platform::OpenSubdirectory(temp, folder.name);
        std::vector<platform::DirectoryEntry> files;
        if (!platform::ListDirectory(work, files)) continue;
        for (const auto& file : files)
            if (!file.link && file.status.regular && file.status.owner == me &&
                (IsWorkFileName(file.name) || file.name == kWorkLock))
                platform::RemoveFile(work, file.name);
        platform::RemoveDirectory(temp, folder.name);  // fails when anything else is inside
    }
}

}  // namespace

fs::path WorkRootFor(const fs::path& backupRoot, const fs::path& programDir) {
    // FNV-1a of the program directory's path: a short name, the same on every run.
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const unsigned char c : platform::Utf8OfPath(programDir.lexically_normal())) {
        hash ^= c;
        hash *= 0x100000001b3ull;
    }
    char name[32];
    std::snprintf(name, sizeof name, "install-%016llx", static_cast<unsigned long long>(hash));
    return backupRoot / "temp" / name;
}

bool IsBatchTempName(const std::string& name) {
    return StagingFileTarget(name).has_value();
}

void RemoveBatchLeftovers(const std::vector<std::string>& storedPaths, const fs::path& backupRoot,
                          const fs::path& workRoot) {
    std::set<fs::path> directories;
    for (const auto& stored : storedPaths) {
        const std::optional<fs::path> path = DecodeStoredPath(stored);
        if (path && !IsBelow(*path, backupRoot)) directories.insert(path->parent_path());
    }
    for (const auto& directory : directories) RemoveSiteLeftovers(directory);
    RemoveWorkLeftovers(backupRoot / "temp");
    if (!workRoot.empty()) RemoveWorkLeftovers(workRoot);
}

void BackupCompactReplace(const std::string& storedPath, const std::u16string& backupRunDir,
                          std::string& reason, unsigned& successCount,
                          const ReplaceEnvironment& env, ReplaceResult* result) {
    ReplaceResult scratch;
    ReplaceResult& out = result ? *result : scratch;
    out = ReplaceResult();
    auto skip = [&](const std::string& why) { out.reason = why; };
    auto record = [&](const std::function<int(FileInfoDb&)>& op) {
        if (!RunStatement(env, op)) out.recordNotWritten = true;
    };
    auto refuse = [&](const std::string& text) {
        reason = text;
        record([&](FileInfoDb& db) { return db.SetReason(storedPath, reason); });
        out.reason = reason;
    };

    // 1-4: the stored text back to the site path: an existing regular file, reached
    // without any symbolic link.
    const std::optional<fs::path> path = DecodeStoredPath(storedPath);
    if (!path) return skip(kSkipNotAFile);
    out.path = *path;
    std::optional<SiteFile> site = OpenSiteFile(*path);
    if (!site && PassesThroughLink(*path))
        return refuse(std::string(kNotCompactedPrefix) + kReasonSymbolicLink);
    if (!site && HeldByAnotherProcess(*path))
        return refuse(std::string(kNotCompactedPrefix) + kReasonBeingWritten);
    if (!site) return skip(kSkipNotAFile);
    out.sizeBefore = site->status.size;

    // 5: nothing inside the backup area is ever compacted.
    if (IsBelow(site->path, env.backupRoot)) return skip(kSkipBackupArea);
    if (site->status.links > 1) return refuse(std::string(kNotCompactedPrefix) + kReasonHardLinks);
    Reach(env, ReplaceStep::PathAccepted);

    // A file the engine refuses from its header needs neither backup nor copy; one that
    // another process is writing is left to it.
    std::array<std::uint8_t, kHeaderProbeBytes> header{};
    const std::int64_t headerBytes = platform::ReadAt(site->file, 0, header);
    if (headerBytes < 0) return skip(kSkipNotAFile);
    std::string refusal;
    if (EngineRefusesFile(std::span(header.data(), static_cast<std::size_t>(headerBytes)),
                          site->status.size, refusal))
        return refuse(refusal);
    switch (platform::WritersOf(site->status)) {
        case platform::Writers::None:
            break;
        case platform::Writers::Writing:
            return refuse(std::string(kNotCompactedPrefix) + kReasonBeingWritten);
        case platform::Writers::Unseen:
            return refuse(std::string(kNotCompactedPrefix) + kReasonWritersUnseen);
    }

    // 6-7: the backup copy, below the run directory.
    const std::optional<fs::path> runDir = PathFromLong(backupRunDir);
    if (!runDir) return skip(kSkipBackupFailed);
    if (!WriteBackup(*site, *runDir, site->path.relative_path(), env))
        return skip(kSkipBackupFailed);
    Reach(env, ReplaceStep::BackupWritten);

    // 8-10: the working copy, in a working folder of its own (unique across processes)
    // that also holds the compacted copy. It is scratch: it need not reach the disk.
    WorkFolder work(env.workRoot.empty() ? env.backupRoot / "temp" : env.workRoot);
    if (!work.Valid()) return skip(kSkipWorkingCopy);
    {
        FileHandle oldCopy = platform::CreateExclusive(work.Handle(), kOldCopy, 0600);
        if (!oldCopy.Valid() || !platform::CopyAll(site->file, oldCopy))
            return skip(kSkipWorkingCopy);
    }
    Reach(env, ReplaceStep::WorkingCopyMade);

    // 11-12: compaction.
    const std::u16string oldPath = ToLongPath(platform::Utf8OfPath(work.Path(kOldCopy)));
    const std::u16string newPath = ToLongPath(platform::Utf8OfPath(work.Path(kNewCopy)));
    const int compacted = env.compact ? env.compact(oldPath, newPath, reason) : 0;
    if (compacted != 1) {
        record([&](FileInfoDb& db) { return db.SetReason(storedPath, reason); });
        out.reason = reason;
        return;
    }

    // A repaired file: the compactor's note is the record's reason (the state will say
    // compacted).
    out.note = reason;

    // 13-14: the size of the compacted copy.
    FileStatus newStatus;
    if (!platform::StatusAt(work.Handle(), kNewCopy, newStatus) || !newStatus.regular)
        return skip(kSkipReplaceFailed);
    const std::uint64_t newSize = newStatus.size;
    Reach(env, ReplaceStep::Compacted);
    record([&](FileInfoDb& db) { return db.SetFilesize2(storedPath, newSize); });
    Reach(env, ReplaceStep::SizeRecorded);

    // 15-17: the compacted file in place of the original, atomically.
    const FileHandle newCopy = platform::OpenForReading(work.Handle(), kNewCopy);
    if (!newCopy.Valid()) return skip(kSkipReplaceFailed);
    std::string leftAside;
    switch (ReplaceAtomically(*site, newCopy, env, leftAside)) {
        case Replacement::Done:
            break;
        case Replacement::BeingWritten:
            return refuse(std::string(kNotCompactedPrefix) + kReasonBeingWritten);
        case Replacement::WritersUnseen:
            return refuse(std::string(kNotCompactedPrefix) + kReasonWritersUnseen);
        case Replacement::Modified:
            return refuse(std::string(kNotCompactedPrefix) + kReasonModified);
        case Replacement::Failed:
            return skip(kSkipReplaceFailed);
    }
    Reach(env, ReplaceStep::Replaced);
    out.replaced = true;
    out.sizeAfter = newSize;
    if (!leftAside.empty()) {
        // Compacted; the old copy stays in the site's folder until the next batch's
        // clean-up. Said in the record, where the window shows it.
        out.note += (out.note.empty() ? "" : "；") + std::string(kNoteAsideLeft) +
                    platform::Utf8OfPath(site->path.parent_path() /
                                         platform::PathFromUtf8(leftAside));
    }
    // The reason of an earlier run (a failure, an earlier repair) no longer holds: the
    // record says what this run did.
    record([&](FileInfoDb& db) { return db.SetReason(storedPath, out.note); });

    // 18: counted even when the statement fails.
    record([&](FileInfoDb& db) { return db.SetCompacted(storedPath); });
    ++successCount;
    Reach(env, ReplaceStep::Recorded);
}

}  // namespace mdb::batch
