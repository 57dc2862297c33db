#include "desktop/compaction/backup_compact_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cassert>
#include <optional>

#include "common/base64.h"
#include "common/utf16.h"
#include "desktop/compaction/safe_files.h"
#include "desktop/util/long_path.h"
#include "platform/paths.h"

namespace mdb::desktop {
namespace fs = std::filesystem;

namespace {

// Limits on the stored and the decoded path.
constexpr std::size_t kMaxStoredPath = 104'857'600;
constexpr std::size_t kMaxDecodedPathBytes = 102'400;

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

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool Unchanged(const struct stat& before, const struct stat& now) {
    return SameFile(before, now) && before.st_size == now.st_size &&
           before.st_mtim.tv_sec == now.st_mtim.tv_sec &&
           before.st_mtim.tv_nsec == now.st_mtim.tv_nsec;
}

// The site file, opened without following links, with the directory that holds it.
struct SiteFile {
    fs::path path;
    UniqueFd directory;
    std::string name;
    UniqueFd file;
    struct stat status {};
};

std::optional<SiteFile> OpenSiteFile(const std::u16string& longPath) {
    std::string native;
    if (!LongPathToNative(longPath, native)) return std::nullopt;
    native.erase(0, platform::kLongPathPrefix.size());
    SiteFile site;
    site.path = fs::path(native);
    if (!site.path.is_absolute() || !site.path.has_filename()) return std::nullopt;
    site.name = site.path.filename().string();
    if (site.name == "." || site.name == "..") return std::nullopt;
    site.directory = OpenDirectoryNoLinks(site.path.parent_path());
    if (!site.directory.Valid()) return std::nullopt;
    site.file = UniqueFd(openat(site.directory.Get(), site.name.c_str(),
                                O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!site.file.Valid()) return std::nullopt;
    if (fstat(site.file.Get(), &site.status) != 0 || !S_ISREG(site.status.st_mode))
        return std::nullopt;
    return site;
}

// Writes the backup copy of the site file below the run directory. An earlier copy
// of the same file in this run (a file recorded twice) is kept: it holds the bytes
// from before this run touched the file.
bool WriteBackup(const SiteFile& site, const fs::path& backupPath) {
    const std::u16string longBackup = ToLongPath(backupPath.string());
    if (EnsureLongPathParentDirs(longBackup) != 1) return false;
    UniqueFd dir = OpenDirectoryNoLinks(backupPath.parent_path());
    if (!dir.Valid()) return false;
    const std::string name = backupPath.filename().string();
    UniqueFd out(openat(dir.Get(), name.c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0640));
    std::string usedName = name;
    if (!out.Valid()) {
        if (errno != EEXIST) return false;
        out = CreateUniqueFile(dir.Get(), name + ".", "", 0640, usedName);
        if (!out.Valid()) return false;
    }
    if (!CopyAndSync(site.file.Get(), out.Get())) {
        unlinkat(dir.Get(), usedName.c_str(), 0);
        return false;
    }
    fsync(dir.Get());
    return true;
}

// Puts the bytes of `compacted` in place of the site file: a temporary file in the
// site file's directory gets the original's owner and mode and the compacted bytes,
// is flushed, and is renamed over the original. False leaves the site file as it was.
bool ReplaceAtomically(const SiteFile& site, int compacted,
                       const std::function<void()>& beforeRename) {
    // The file must still be the one that was backed up and compacted.
    struct stat now {};
    if (fstatat(site.directory.Get(), site.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 ||
        !Unchanged(site.status, now))
        return false;

    std::string tempName;
    UniqueFd temp = CreateUniqueFile(site.directory.Get(), "." + site.name + ".mdbwarden-", ".tmp",
                                     0600, tempName);
    if (!temp.Valid()) return false;
    auto discard = [&] {
        unlinkat(site.directory.Get(), tempName.c_str(), 0);
        return false;
    };
    // The compacted file is writable by its owner, as the original is made before it is
    // replaced; every other mode bit is the original's.
    const mode_t mode = (site.status.st_mode & 07777) | S_IWUSR;
    if ((now.st_uid != geteuid() || now.st_gid != getegid()) &&
        fchown(temp.Get(), now.st_uid, now.st_gid) != 0)
        return discard();
    if (fchmod(temp.Get(), mode) != 0) return discard();
    if (!CopyAndSync(compacted, temp.Get())) return discard();
    beforeRename();
    if (renameat(site.directory.Get(), tempName.c_str(), site.directory.Get(), site.name.c_str()) !=
        0)
        return discard();
    fsync(site.directory.Get());
    return true;
}

void RunStatement(const ReplaceEnvironment& env, const std::function<int(FileInfoDb&)>& op) {
    try {
        if (env.store) {
            op(*env.store);
        } else if (auto db = env.openStore ? env.openStore() : nullptr) {
            op(*db);
        }
    } catch (...) {
        // A failed statement never ends the procedure.
    }
}

void Reach(const ReplaceEnvironment& env, ReplaceStep step) {
    if (env.checkpoint) env.checkpoint(step);
}

}  // namespace

void BackupCompactReplace(const std::string& storedPath, const std::u16string& backupRunDir,
                          std::string& reason, unsigned& successCount,
                          const ReplaceEnvironment& env) {
    // 1-3: the stored text back to the site path.
    if (storedPath.empty() || storedPath.size() >= kMaxStoredPath) return;
    const std::vector<std::uint8_t> bytes = Base64Decode(storedPath);
    if (bytes.empty() || bytes.size() >= kMaxDecodedPathBytes) return;
    const std::u16string sitePath = Utf16FromLeBytes(bytes);

    // 4: an existing regular file, reached without any symbolic link.
    if (ProbeLongPath(sitePath) != kProbeFile) return;
    std::optional<SiteFile> site = OpenSiteFile(sitePath);
    if (!site) return;

    // 5: nothing inside the backup area is ever compacted.
    if (IsBelow(site->path, env.backupRoot)) return;
    Reach(env, ReplaceStep::PathAccepted);

    // 6-7: the backup copy, below the run directory.
    std::string runDir;
    if (!LongPathToNative(backupRunDir, runDir)) return;
    runDir.erase(0, platform::kLongPathPrefix.size());
    const fs::path backupPath = fs::path(runDir) / site->path.relative_path();
    if (!WriteBackup(*site, backupPath)) return;
    Reach(env, ReplaceStep::BackupWritten);

    // 8-10: the working copy, in a working folder of its own (unique across processes)
    // that also holds the compacted copy.
    const fs::path tempDir = env.backupRoot / "temp";
    if (EnsureLongPathParentDirs(ToLongPath((tempDir / "x").string())) != 1) return;
    std::string workPattern = (tempDir / "work_XXXXXX").string();
    if (mkdtemp(workPattern.data()) == nullptr) return;
    const fs::path workDir = workPattern;
    UniqueFd workDirFd = OpenDirectoryNoLinks(workDir);
    auto removeCopies = [&] {
        if (workDirFd.Valid()) {
            unlinkat(workDirFd.Get(), "old.mdb", 0);
            unlinkat(workDirFd.Get(), "new.mdb", 0);
        }
        rmdir(workDir.c_str());
    };
    UniqueFd oldCopy(workDirFd.Valid()
                         ? openat(workDirFd.Get(), "old.mdb",
                                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600)
                         : -1);
    // The working copy is scratch: it need not reach the disk.
    if (!oldCopy.Valid() || !CopyAll(site->file.Get(), oldCopy.Get())) {
        removeCopies();
        return;
    }
    oldCopy = UniqueFd();
    Reach(env, ReplaceStep::WorkingCopyMade);

    // 11-12: compaction.
    const std::u16string oldPath = ToLongPath((workDir / "old.mdb").string());
    const std::u16string newPath = ToLongPath((workDir / "new.mdb").string());
    const int compacted = env.compact ? env.compact(oldPath, newPath, reason) : 0;
    if (compacted != 1) {
        RunStatement(env, [&](FileInfoDb& db) { return db.SetReason(storedPath, reason); });
        removeCopies();
        return;
    }

    // 13-14: the size of the compacted copy.
    std::uint64_t newSize = 0;
    if (GetLongPathFileSize(newPath, newSize) != 1) {
        removeCopies();
        return;
    }
    Reach(env, ReplaceStep::Compacted);
    RunStatement(env, [&](FileInfoDb& db) { return db.SetFilesize2(storedPath, newSize); });
    Reach(env, ReplaceStep::SizeRecorded);

    // 15-17: the compacted file in place of the original, atomically.
    UniqueFd newCopy(openat(workDirFd.Get(), "new.mdb", O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!newCopy.Valid()) {
        removeCopies();
        return;
    }
    const bool replaced = ReplaceAtomically(*site, newCopy.Get(),
                                            [&] { Reach(env, ReplaceStep::ReplacementStaged); });
    newCopy = UniqueFd();
    removeCopies();
    if (!replaced) return;
    Reach(env, ReplaceStep::Replaced);

    // 18: counted even when the statement fails.
    RunStatement(env, [&](FileInfoDb& db) { return db.SetCompacted(storedPath); });
    ++successCount;
    Reach(env, ReplaceStep::Recorded);
}

}  // namespace mdb::desktop
