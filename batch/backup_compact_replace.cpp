#include "batch/backup_compact_replace.h"

#include <array>
#include <optional>

#include "batch/compact_mdb_file.h"
#include "batch/stored_path.h"
#include "batch/work_folder.h"
#include "common/own_files.h"
#include "common/paths.h"
#include "platform/arguments.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/safe_files.h"

namespace mdb::batch {
namespace fs = std::filesystem;
using platform::FileHandle;
using platform::FileStatus;

namespace {

// Temporary files beside site files and backups are named StagingPrefixFor(the name
// they stand beside) + a unique part + kStagingSuffix (common/own_files.h).
constexpr char kTempSuffix[] = ".tmp";
static_assert(std::string_view(kTempSuffix) == kStagingSuffix);

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

// `path` as the compactor gets it: the engine opens its files by path, and one of 260
// characters or more (a working folder below a long backup root) is given in the long
// form, which Windows' file functions take up to 32767 characters.
fs::path ForTheEngine(const fs::path& path) {
    const std::string text = platform::Utf8OfPath(path.lexically_normal());
    if (platform::kLongPathPrefix.empty() || text.size() < kMaxPath ||
        text.starts_with(platform::kLongPathPrefix))
        return path;
    return platform::PathFromUtf8(std::string(platform::kLongPathPrefix) + text);
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

// One file's procedure, step by step. Each step returns false when the procedure ends
// there, with the result saying why (and the record, for a refusal or a failed
// compaction).
class FileProcedure {
  public:
    FileProcedure(const RecordedFile& file, const ReplaceEnvironment& env)
        : file_(file), env_(env) {}

    const ReplaceResult& Result() const { return out_; }

    // The site file: an existing regular file with one name, reached without any
    // symbolic link, outside the backup area.
    bool OpenSite() {
        if (!file_.path) return Skip(kSkipNotAFile);
        const fs::path& path = *file_.path;
        out_.path = path;
        site_ = OpenSiteFile(path);
        if (!site_ && PassesThroughLink(path)) return Refuse(kReasonSymbolicLink);
        if (!site_ && HeldByAnotherProcess(path)) return Refuse(kReasonBeingWritten);
        if (!site_) return Skip(kSkipNotAFile);
        out_.sizeBefore = site_->status.size;
        if (InBackupArea(site_->path, env_.backupRoot)) return Skip(kSkipBackupArea);
        if (site_->status.links > 1) return Refuse(kReasonHardLinks);
        Reach(env_, ReplaceStep::PathAccepted);
        return true;
    }

    // A file the engine refuses from its header needs neither backup nor copy; one that
    // another process is writing is left to it.
    bool WorthCopying() {
        const SiteFile& site = *site_;
        std::array<std::uint8_t, kHeaderProbeBytes> header{};
        const std::int64_t headerBytes = platform::ReadAt(site.file, 0, header);
        if (headerBytes < 0) return Skip(kSkipNotAFile);
        std::string refusal;
        if (EngineRefusesFile(std::span(header.data(), static_cast<std::size_t>(headerBytes)),
                              site.status.size, refusal))
            return RefuseWith(refusal);
        switch (platform::WritersOf(site.status)) {
            case platform::Writers::None:
                return true;
            case platform::Writers::Writing:
                return Refuse(kReasonBeingWritten);
            case platform::Writers::Unseen:
                return Refuse(kReasonWritersUnseen);
        }
        return true;
    }

    // The backup copy, below the run directory, on the disk under its final name.
    bool BackUp(const fs::path& runDir) {
        if (runDir.empty() || !WriteBackup(*site_, runDir, site_->path.relative_path(), env_))
            return Skip(kSkipBackupFailed);
        Reach(env_, ReplaceStep::BackupWritten);
        return true;
    }

    // The working copy, in a working folder of its own (unique across processes) that
    // also holds the compacted copy. It is scratch: it need not reach the disk.
    bool MakeWorkingCopy(const WorkFolder& work) {
        if (!work.Valid()) return Skip(kSkipWorkingCopy);
        FileHandle oldCopy = platform::CreateExclusive(work.Handle(), kOldCopy, 0600);
        if (!oldCopy.Valid() || !platform::CopyAll(site_->file, oldCopy))
            return Skip(kSkipWorkingCopy);
        oldCopy = FileHandle();
        Reach(env_, ReplaceStep::WorkingCopyMade);
        return true;
    }

    // The working copy compacted into the compacted copy; its size, recorded.
    bool Compact(const WorkFolder& work) {
        const CompactOutcome compacted = env_.compact
                                             ? env_.compact(ForTheEngine(work.Path(kOldCopy)),
                                                            ForTheEngine(work.Path(kNewCopy)))
                                             : CompactOutcome{};
        if (!compacted.compacted) return RefuseWith(compacted.reason);
        // A repaired file: the compactor's note is the record's reason (the state will say
        // compacted).
        out_.note = compacted.reason;
        FileStatus newStatus;
        if (!platform::StatusAt(work.Handle(), kNewCopy, newStatus) || !newStatus.regular)
            return ReplaceFailed();
        newSize_ = newStatus.size;
        Reach(env_, ReplaceStep::Compacted);
        Record([&](FileInfoDb& db) { return db.SetFilesize2(file_.stored, newSize_); });
        Reach(env_, ReplaceStep::SizeRecorded);
        return true;
    }

    // The compacted file in place of the original, atomically.
    bool PutInPlace(const WorkFolder& work) {
        const SiteFile& site = *site_;
        const FileHandle newCopy = platform::OpenForReading(work.Handle(), kNewCopy);
        if (!newCopy.Valid()) return ReplaceFailed();
        std::string leftAside;
        switch (ReplaceAtomically(site, newCopy, env_, leftAside)) {
            case Replacement::Done:
                break;
            case Replacement::BeingWritten:
                return Refuse(kReasonBeingWritten);
            case Replacement::WritersUnseen:
                return Refuse(kReasonWritersUnseen);
            case Replacement::Modified:
                return Refuse(kReasonModified);
            case Replacement::Failed:
                return ReplaceFailed();
        }
        Reach(env_, ReplaceStep::Replaced);
        out_.outcome = ReplaceOutcome::Replaced;
        out_.sizeAfter = newSize_;
        if (!leftAside.empty()) {
            // Compacted; the old copy stays in the site's folder until the next batch's
            // clean-up. Said in the record, where the window shows it.
            out_.note += (out_.note.empty() ? "" : "；") + std::string(kNoteAsideLeft) +
                         platform::Utf8OfPath(site.path.parent_path() /
                                              platform::PathFromUtf8(leftAside));
        }
        return true;
    }

    // The record says compacted. The reason of an earlier run (a failure, an earlier
    // repair) no longer holds: the record says what this run did.
    void RecordCompacted() {
        Record([&](FileInfoDb& db) { return db.SetReason(file_.stored, out_.note); });
        Record([&](FileInfoDb& db) { return db.SetCompacted(file_.stored); });
        Reach(env_, ReplaceStep::Recorded);
    }

  private:
    // Ends the procedure without a word in the record.
    bool Skip(const char* why) {
        out_.outcome = ReplaceOutcome::Skipped;
        out_.reason = why;
        return false;
    }
    bool ReplaceFailed() {
        out_.outcome = ReplaceOutcome::ReplaceFailed;
        out_.reason = kSkipReplaceFailed;
        return false;
    }
    // Ends it with one of the procedure's own reasons, or the compactor's, stored.
    bool Refuse(const char* why) { return RefuseWith(std::string(kNotCompactedPrefix) + why); }
    bool RefuseWith(const std::string& text) {
        out_.outcome = ReplaceOutcome::Refused;
        out_.reason = text;
        Record([&](FileInfoDb& db) { return db.SetReason(file_.stored, out_.reason); });
        return false;
    }
    void Record(const std::function<int(FileInfoDb&)>& op) {
        if (!RunStatement(env_, op)) out_.recordNotWritten = true;
    }

    const RecordedFile& file_;
    const ReplaceEnvironment& env_;
    ReplaceResult out_;
    std::optional<SiteFile> site_;  // from OpenSite on
    std::uint64_t newSize_ = 0;     // from Compact on
};

}  // namespace

bool InBackupArea(const fs::path& path, const fs::path& backupRoot) {
    const fs::path p = path.lexically_normal();
    const fs::path r = backupRoot.lexically_normal();
    auto pi = p.begin();
    for (auto ri = r.begin(); ri != r.end(); ++ri) {
        if (ri->empty()) continue;  // trailing separator of the root
        if (pi == p.end() || *pi != *ri) return false;
        ++pi;
    }
    return true;
}

bool IsBatchTempName(const std::string& name) {
    return StagingFileTarget(name).has_value();
}

ReplaceResult CompactRecordedFile(const RecordedFile& file, const fs::path& runDir,
                                  const ReplaceEnvironment& env) {
    FileProcedure procedure(file, env);
    if (!procedure.OpenSite() || !procedure.WorthCopying() || !procedure.BackUp(runDir))
        return procedure.Result();
    // Removed with both copies on every way out from here.
    const WorkFolder work(env.workRoot.empty() ? env.backupRoot / "temp" : env.workRoot);
    if (procedure.MakeWorkingCopy(work) && procedure.Compact(work) && procedure.PutInPlace(work))
        procedure.RecordCompacted();
    return procedure.Result();
}

void BackupCompactReplace(const std::string& storedPath, const std::u16string& backupRunDir,
                          std::string& reason, unsigned& successCount,
                          const ReplaceEnvironment& env, ReplaceResult* result) {
    ReplaceResult r = CompactRecordedFile(DecodeRecordedFile(storedPath),
                                          PathFromLong(backupRunDir).value_or(fs::path()), env);
    if (r.outcome == ReplaceOutcome::Refused) reason = r.reason;
    // Counted even when a statement of the record failed.
    if (r.Replaced()) ++successCount;
    if (result) *result = std::move(r);
}

}  // namespace mdb::batch
