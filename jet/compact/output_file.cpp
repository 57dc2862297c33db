#include "jet/compact/output_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <cstring>
#include <vector>

#include "jet/compact/write_behind.h"

namespace jet {

static std::string Errno() {
    return std::strerror(errno);
}

bool OutputFile::Create(const std::filesystem::path& destination, std::uint32_t page_size,
                        std::string* error) {
    assert(fd_ < 0);
    destination_ = destination;
    page_size_ = page_size;
    std::filesystem::path dir = destination.parent_path();
    if (dir.empty()) dir = ".";
    std::string pattern =
        (dir / ("." + destination.filename().string() + ".compact-XXXXXX")).string();
    // Another run's clean-up may take the new file for a dead run's leftover in the
    // moment before it is locked, and remove it: then a new name is taken. A few
    // attempts are plenty for so short a moment.
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        fd_ = ::mkstemp(buf.data());
        if (fd_ < 0) {
            *error = "cannot write a temporary file in '" + dir.string() + "': " + Errno();
            return false;
        }
        temp_ = buf.data();
        // Held until the descriptor closes, by any exit: a run that died no longer holds
        // it, which is how InUse tells its leftovers from a live run's files. A clean-up
        // holding it now is about to remove the file: take another. On a file system
        // without locks the file stays unlocked, and no clean-up can remove it either.
        const bool taken = ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
        struct stat held {}, named {};
        if ((taken || errno != EWOULDBLOCK) && ::fstat(fd_, &held) == 0 &&
            ::stat(temp_.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
            held.st_ino == named.st_ino)
            return true;
        ::close(fd_);
        fd_ = -1;
    }
    *error = "cannot keep a temporary file in '" + dir.string() + "'";
    temp_.clear();
    return false;
}

bool OutputFile::InUse(const std::filesystem::path& temp) {
    int fd = ::open(temp.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno != ENOENT;
    const bool unlocked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);  // drops the lock taken just now
    return !unlocked;
}

namespace {

// A leftover is removed only when it is a file of this user's: a run as root in a
// shared directory leaves other users' files alone, dead or not.
bool OwnFile(const struct stat& st) {
    return S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
}

bool OwnFile(const std::filesystem::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && OwnFile(st);
}

}  // namespace

bool OutputFile::RemoveLeftover(const std::filesystem::path& temp,
                                const std::filesystem::path& leftover) {
    const int fd = ::open(temp.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        // The temporary file went with its run; a new run makes its spill files only
        // after it has locked a temporary file of its own.
        return errno == ENOENT && leftover != temp && OwnFile(leftover) &&
               ::unlink(leftover.c_str()) == 0;
    }
    // Removed only while this lock is held, and only when the name still leads to the
    // locked file: a run that locks the file after this sees it gone and takes another
    // name (Create), and a new file of the same name is never touched.
    bool removed = false;
    struct stat locked {}, named {};
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &locked) == 0 && OwnFile(locked) &&
        ::stat(temp.c_str(), &named) == 0 && locked.st_dev == named.st_dev &&
        locked.st_ino == named.st_ino && (leftover == temp || OwnFile(leftover)))
        removed = ::unlink(leftover.c_str()) == 0;
    ::close(fd);
    return removed;
}

void OutputFile::CopyPermissionsFrom(const std::filesystem::path& source) {
    struct stat st {};
    if (fd_ >= 0 && ::stat(source.c_str(), &st) == 0)
        ::fchmod(fd_, (st.st_mode & 07777) | S_IWUSR);
}

bool OutputFile::WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes,
                         std::string* error) {
    const off_t at = static_cast<off_t>(offset);
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n =
            ::pwrite(fd_, bytes.data() + done, bytes.size() - done, at + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *error = "cannot write '" + temp_.string() + "': " + Errno();
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    // Written back as the file grows, not all at the end: by the final sync most of the
    // file is on disk. 16 MiB a time keeps the calls few and the disk busy.
    constexpr std::uint64_t kWriteBackBytes = 16u << 20;
    not_written_back_ += done;
    if (not_written_back_ >= kWriteBackBytes) StartWriteBack();
    return true;
}

void OutputFile::StartWriteBack() {
    not_written_back_ = 0;
#ifdef SYNC_FILE_RANGE_WRITE
    // Starts writing every dirty page of the file and returns; pages already on their
    // way are left alone. A failure here is seen again by the final fsync, which still
    // decides.
    ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
}

bool OutputFile::SyncToDisk(std::string* error) {
    if (::fsync(fd_) != 0) {
        *error = "cannot write '" + temp_.string() + "' to disk: " + Errno();
        return false;
    }
    return true;
}

bool OutputFile::Commit(std::string* error) {
    assert(fd_ >= 0);
    if (!Sync(error)) return false;
    writer_.reset();  // idle after the sync; joined before its file closes
    if (::close(fd_) != 0) {
        fd_ = -1;
        *error = "cannot finish writing '" + temp_.string() + "': " + Errno();
        return false;
    }
    fd_ = -1;
    // Never replace a file that appeared at the destination meanwhile.
    int rc = ::renameat2(AT_FDCWD, temp_.c_str(), AT_FDCWD, destination_.c_str(), RENAME_NOREPLACE);
    if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) {
        // A file system without that flag: a hard link fails the same way on an existing name.
        rc = ::link(temp_.c_str(), destination_.c_str());
        if (rc == 0) ::unlink(temp_.c_str());
    }
    if (rc != 0) {
        *error = errno == EEXIST ? "the destination '" + destination_.string() + "' already exists"
                                 : "cannot rename the compacted file to '" + destination_.string() +
                                       "': " + Errno();
        return false;
    }
    committed_ = true;
    std::filesystem::path dir = destination_.parent_path();
    if (dir.empty()) dir = ".";
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

void OutputFile::Discard() {
    writer_.reset();  // stopped (what it still holds is dropped) and joined
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!committed_ && !temp_.empty()) {
        std::error_code ec;
        std::filesystem::remove(temp_, ec);
        temp_.clear();
    }
}

}  // namespace jet
