#include "platform/files.h"

#include <errno.h>
#include <fcntl.h>
#include <glob.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace mdb::platform {

namespace {

// The reason a file open as `fd` is not to be used: 0 for a regular file.
int NotRegularReason(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0) return errno;
    if (S_ISREG(st.st_mode)) return 0;
    return S_ISDIR(st.st_mode) ? EISDIR : kErrorNotRegularFile;
}

}  // namespace

bool FindFirst(const std::string& path) {
    if (path.empty()) return false;
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0) return true;
    if (path.find_first_of("*?") == std::string::npos) return false;
    glob_t g{};
    const int rc = glob(path.c_str(), GLOB_NOSORT | GLOB_NOESCAPE, nullptr, &g);
    const bool found = rc == 0 && g.gl_pathc > 0;
    globfree(&g);
    return found;
}

bool MakeDirectory(const std::string& path) {
    if (mkdir(path.c_str(), 0755) == 0) return true;
    struct stat st {};
    return errno == EEXIST && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void SharedFile::Close() {
    if (fd_ >= 0) {
        close(fd_);  // releases the lock
        fd_ = -1;
    }
}

OpenResult SharedFile::Open(const std::string& path, OpenMode mode) {
    Close();
    // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused just below.
    int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
    int lock = LOCK_SH;
    if (mode == OpenMode::WriteExclusiveCreate) {
        flags |= O_RDWR | O_CREAT;
        lock = LOCK_EX;
    } else {
        flags |= O_RDONLY;
    }
    const int fd = open(path.c_str(), flags, 0644);
    if (fd < 0) {
        lastError_ = errno;
        return OpenResult::Failed;
    }
    if (const int reason = NotRegularReason(fd); reason != 0) {
        lastError_ = reason;
        close(fd);
        return OpenResult::Failed;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (flock(fd, lock | LOCK_NB) != 0) {
        lastError_ = errno;
        close(fd);
        return lastError_ == EWOULDBLOCK ? OpenResult::SharingViolation : OpenResult::Failed;
    }
    lastError_ = 0;
    fd_ = fd;
    return OpenResult::Ok;
}

std::int64_t SharedFile::Length() const {
    struct stat st {};
    if (fd_ < 0 || fstat(fd_, &st) != 0) return -1;
    return st.st_size;
}

bool SharedFile::Truncate() {
    return fd_ >= 0 && ftruncate(fd_, 0) == 0;
}

bool SharedFile::Append(std::span<const char> bytes) {
    if (fd_ < 0 || lseek(fd_, 0, SEEK_END) < 0) return false;
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool SharedFile::ReadAll(std::string& out) {
    out.clear();
    if (fd_ < 0 || lseek(fd_, 0, SEEK_SET) < 0) return false;
    char buf[16384];
    for (;;) {
        const ssize_t n = read(fd_, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return true;
        out.append(buf, static_cast<size_t>(n));
    }
}

HeaderResult ReadFileStart(const std::string& path, std::span<std::uint8_t> buffer,
                           std::uint64_t& fileSize, std::size_t& bytesRead, int* error) {
    fileSize = 0;
    bytesRead = 0;
    int failure = 0;
    HeaderResult result = HeaderResult::Failed;
    // O_NONBLOCK: a FIFO must not stall the walk; O_NOFOLLOW: links are never opened.
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        failure = errno;
    } else if ((failure = NotRegularReason(fd)) != 0) {
    } else if (flock(fd, LOCK_SH | LOCK_NB) != 0) {
        failure = errno;
        if (failure == EWOULDBLOCK) result = HeaderResult::SharingViolation;
    } else {
        ssize_t n;
        do {
            n = pread(fd, buffer.data(), buffer.size(), 0);
        } while (n < 0 && errno == EINTR);
        struct stat st {};
        // The size of the file as it is now, not as it was when its directory was listed.
        if (n < 0 || fstat(fd, &st) != 0) {
            failure = errno;
        } else if (n > 0) {
            fileSize = static_cast<std::uint64_t>(st.st_size);
            bytesRead = static_cast<size_t>(n);
            result = HeaderResult::Ok;
        }
    }
    if (fd >= 0) close(fd);
    if (error != nullptr) *error = failure;
    return result;
}

namespace {

bool WriteAllTo(int fd, std::span<const char> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool SyncDirectoryOf(const std::string& dir) {
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

}  // namespace

OpenResult ReplaceFileContent(const std::string& path, std::span<const char> bytes) {
    struct stat old {};
    const bool exists = lstat(path.c_str(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode)) return OpenResult::Failed;
    if (!exists && errno != ENOENT) return OpenResult::Failed;
    std::filesystem::path target(path);
    std::string dir = target.parent_path().string();
    if (dir.empty()) dir = ".";
    // A hidden name of our own beside the file: the rename must not cross file systems.
    std::string temp = dir + "/." + target.filename().string() + ".XXXXXX";
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return OpenResult::Failed;
    bool ok = WriteAllTo(fd, bytes);
    if (exists) {
        if (fchown(fd, old.st_uid, old.st_gid) != 0) {
            // Not permitted for a user who does not own the file: it becomes theirs.
        }
        ok = ok && fchmod(fd, old.st_mode & 07777) == 0;
    } else {
        ok = ok && fchmod(fd, 0644) == 0;
    }
    ok = ok && fsync(fd) == 0;
    if (close(fd) != 0) ok = false;
    if (ok && rename(temp.c_str(), path.c_str()) == 0) {
        SyncDirectoryOf(dir);  // the new name is in place; a failed flush changes nothing now
        return OpenResult::Ok;
    }
    unlink(temp.c_str());
    return OpenResult::Failed;
}

}  // namespace mdb::platform
