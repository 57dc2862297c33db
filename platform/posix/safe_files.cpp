#include "platform/safe_files.h"

#include "platform/posix/open_writers.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>

namespace mdb::platform {
namespace {

// Attempts at a unique name before giving up: with 36^12 names a clash is a sign of
// something other than chance.
constexpr int kUniqueNameAttempts = 100;

void FillStatus(const struct stat& st, FileStatus& out) {
    out.device = st.st_dev;
    out.inode = st.st_ino;
    out.size = static_cast<std::uint64_t>(st.st_size);
    out.mtimeSec = st.st_mtim.tv_sec;
    out.mtimeNsec = st.st_mtim.tv_nsec;
    out.ctimeSec = st.st_ctim.tv_sec;
    out.ctimeNsec = st.st_ctim.tv_nsec;
    out.owner = st.st_uid;
    out.group = st.st_gid;
    out.mode = st.st_mode & 07777;
    out.links = st.st_nlink;
    out.regular = S_ISREG(st.st_mode);
    out.directory = S_ISDIR(st.st_mode);
}

std::string RandomPart() {
    static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    thread_local std::mt19937_64 random = [] {
        std::random_device device;
        return std::mt19937_64((static_cast<std::uint64_t>(device()) << 32) ^ device() ^
                               static_cast<std::uint64_t>(getpid()));
    }();
    std::string part;
    for (std::size_t i = 0; i < kUniqueNameChars; ++i) part += kDigits[random() % 36];
    return part;
}

}  // namespace

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) close(fd_);
        fd_ = other.Release();
    }
    return *this;
}

FileHandle::~FileHandle() {
    if (fd_ >= 0) close(fd_);
}

bool StatusOf(const FileHandle& file, FileStatus& status) {
    struct stat st {};
    if (!file.Valid() || fstat(file.Get(), &st) != 0) return false;
    FillStatus(st, status);
    return true;
}

bool StatusAt(const FileHandle& dir, const std::string& name, FileStatus& status) {
    struct stat st {};
    if (!dir.Valid() || fstatat(dir.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    FillStatus(st, status);
    return true;
}

FileHandle OpenDirectoryNoLinks(const std::filesystem::path& path) {
    if (!path.is_absolute()) return {};
    FileHandle current(open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (const auto& level : path.relative_path()) {
        const std::string name = level.string();
        if (name.empty()) continue;  // a trailing separator
        if (name == "." || name == "..") return {};
        FileHandle next = OpenSubdirectory(current, name);
        if (!next.Valid()) return {};
        current = std::move(next);
    }
    return current;
}

FileHandle OpenSubdirectory(const FileHandle& dir, const std::string& name) {
    if (!dir.Valid()) return {};
    return FileHandle(
        openat(dir.Get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

FileHandle OpenOrCreateSubdirectory(const FileHandle& dir, const std::string& name) {
    if (!dir.Valid() || name.empty() || name == "." || name == ".." ||
        name.find('/') != std::string::npos)
        return {};
    if (mkdirat(dir.Get(), name.c_str(), 0755) != 0 && errno != EEXIST) return {};
    return OpenSubdirectory(dir, name);
}

FileHandle OpenForReading(const FileHandle& dir, const std::string& name) {
    if (!dir.Valid()) return {};
    return FileHandle(
        openat(dir.Get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
}

bool ReadingRefusedByAnotherProcess(const FileHandle&, const std::string&) {
    return false;
}

FileHandle CreateExclusive(const FileHandle& dir, const std::string& name, std::uint32_t mode) {
    if (!dir.Valid()) return {};
    return FileHandle(openat(dir.Get(), name.c_str(),
                             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
}

FileHandle CreateUniqueFile(const FileHandle& dir, const std::string& prefix,
                            const std::string& suffix, std::uint32_t mode, std::string& name) {
    if (!dir.Valid()) return {};
    for (int attempt = 0; attempt < kUniqueNameAttempts; ++attempt) {
        std::string candidate = prefix + RandomPart() + suffix;
        FileHandle fd(openat(dir.Get(), candidate.c_str(),
                             O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        if (fd.Valid()) {
            name = std::move(candidate);
            return fd;
        }
        if (errno != EEXIST) return {};
    }
    return {};
}

FileHandle CreateUniqueDirectory(const FileHandle& dir, const std::string& prefix,
                                 std::string& name) {
    if (!dir.Valid()) return {};
    for (int attempt = 0; attempt < kUniqueNameAttempts; ++attempt) {
        std::string candidate = prefix + RandomPart();
        if (mkdirat(dir.Get(), candidate.c_str(), 0700) == 0) {
            FileHandle opened = OpenSubdirectory(dir, candidate);
            if (!opened.Valid()) {
                unlinkat(dir.Get(), candidate.c_str(), AT_REMOVEDIR);
                return {};
            }
            name = std::move(candidate);
            return opened;
        }
        if (errno != EEXIST) return {};
    }
    return {};
}

bool CopyAll(const FileHandle& from, const FileHandle& to) {
    // One megabyte per call: few system calls for large databases, little memory.
    std::vector<char> buffer(1 << 20);
    off_t offset = 0;
    for (;;) {
        const ssize_t n = pread(from.Get(), buffer.data(), buffer.size(), offset);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return true;
        ssize_t written = 0;
        while (written < n) {
            const ssize_t w =
                write(to.Get(), buffer.data() + written, static_cast<size_t>(n - written));
            if (w < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            written += w;
        }
        offset += n;
    }
}

std::int64_t ReadAt(const FileHandle& file, std::uint64_t offset, std::span<std::uint8_t> buffer) {
    std::size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t n = pread(file.Get(), buffer.data() + done, buffer.size() - done,
                                static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(done);
}

bool Sync(const FileHandle& file) {
    return file.Valid() && fsync(file.Get()) == 0;
}

bool SetOwnerAndMode(const FileHandle& file, const FileStatus& like, std::uint32_t mode) {
    struct stat now {};
    if (fstat(file.Get(), &now) != 0) return false;
    if (now.st_uid != like.owner || now.st_gid != like.group) {
        if (fchown(file.Get(), like.owner, like.group) != 0) {
            if (errno != EPERM) return false;
            mode &= 0777;  // as cp -p: no set-id bits for another owner
        }
    }
    return fchmod(file.Get(), mode) == 0;
}

bool CopyOwnerModeTime(const FileHandle& file, const FileStatus& like) {
    if (!SetOwnerAndMode(file, like, like.mode)) return false;
    const struct timespec times[2] = {{0, UTIME_OMIT},
                                      {static_cast<time_t>(like.mtimeSec), like.mtimeNsec}};
    return futimens(file.Get(), times) == 0;
}

bool Rename(const FileHandle& dir, const std::string& from, const std::string& to,
            std::string* leftAside) {
    if (leftAside != nullptr) leftAside->clear();  // a rename here never puts a file aside
    return renameat(dir.Get(), from.c_str(), dir.Get(), to.c_str()) == 0;
}

RenameResult RenameNoReplace(const FileHandle& dir, const std::string& from,
                             const std::string& to) {
    if (renameat2(dir.Get(), from.c_str(), dir.Get(), to.c_str(), RENAME_NOREPLACE) == 0)
        return RenameResult::Done;
    if (errno == EEXIST) return RenameResult::Exists;
    if (errno != EINVAL && errno != ENOSYS) return RenameResult::Failed;
    // A file system without the flag: a hard link never replaces either.
    if (linkat(dir.Get(), from.c_str(), dir.Get(), to.c_str(), 0) != 0)
        return errno == EEXIST ? RenameResult::Exists : RenameResult::Failed;
    unlinkat(dir.Get(), from.c_str(), 0);
    return RenameResult::Done;
}

ExchangeResult Exchange(const FileHandle& dir, const std::string& a, const std::string& b) {
    if (renameat2(dir.Get(), a.c_str(), dir.Get(), b.c_str(), RENAME_EXCHANGE) == 0)
        return ExchangeResult::Exchanged;
    return errno == EINVAL || errno == ENOSYS ? ExchangeResult::Unsupported
                                              : ExchangeResult::Failed;
}

bool RemoveFile(const FileHandle& dir, const std::string& name) {
    return dir.Valid() && unlinkat(dir.Get(), name.c_str(), 0) == 0;
}

bool RemoveDirectory(const FileHandle& dir, const std::string& name) {
    return dir.Valid() && unlinkat(dir.Get(), name.c_str(), AT_REMOVEDIR) == 0;
}

bool ListDirectory(const FileHandle& dir, std::vector<DirectoryEntry>& entries) {
    entries.clear();
    if (!dir.Valid()) return false;
    // The stream takes its own descriptor, so `dir` stays open and usable.
    const int copy = openat(dir.Get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (copy < 0) return false;
    DIR* stream = fdopendir(copy);
    if (!stream) {
        close(copy);
        return false;
    }
    while (const dirent* e = readdir(stream)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        struct stat st {};
        if (fstatat(dir.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        DirectoryEntry entry;
        entry.name = name;
        FillStatus(st, entry.status);
        entry.link = S_ISLNK(st.st_mode);
        entries.push_back(std::move(entry));
    }
    closedir(stream);
    return true;
}

std::uint32_t CurrentUser() {
    return geteuid();
}

Writers WritersOf(const FileStatus& file) {
    // The lease answers in two system calls; the walk of every process's descriptors
    // is the answer when the lease cannot be had.
    if (const std::optional<bool> byLease = posix::WriterByLease(file))
        return *byLease ? Writers::Writing : Writers::None;
    switch (posix::WriterByProcessWalk(file)) {
        case posix::WalkResult::Writer:
            return Writers::Writing;
        case posix::WalkResult::NoWriter:
            return Writers::None;
        case posix::WalkResult::NotAllSeen:
            break;
    }
    return Writers::Unseen;
}

bool OpenForWritingByAProcess(const FileStatus& file) {
    return WritersOf(file) != Writers::None;
}

}  // namespace mdb::platform
