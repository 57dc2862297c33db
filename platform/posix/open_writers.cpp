#include "platform/posix/open_writers.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

namespace mdb::platform::posix {
namespace {

bool AllDigits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

bool SameFile(const struct stat& st, const FileStatus& file) {
    return st.st_dev == file.device && st.st_ino == file.inode;
}

// True when /proc/<pid>/fdinfo/<fd> says the descriptor was opened for writing.
bool OpenedForWriting(const std::string& pid, const std::string& fd) {
    const std::string path = "/proc/" + pid + "/fdinfo/" + fd;
    FILE* f = fopen(path.c_str(), "re");
    if (!f) return false;
    char line[256];
    bool writing = false;
    while (fgets(line, sizeof line, f)) {
        if (std::strncmp(line, "flags:", 6) != 0) continue;
        const unsigned long flags = std::strtoul(line + 6, nullptr, 8);
        const unsigned long access = flags & O_ACCMODE;
        writing = access == O_WRONLY || access == O_RDWR;
        break;
    }
    fclose(f);
    return writing;
}

// True when /proc/<pid>/maps lists a shared writable mapping of the file: a writer that
// mapped it and closed its descriptor still writes into it.
bool MappedWritable(const std::string& pid, const FileStatus& file) {
    const std::string path = "/proc/" + pid + "/maps";
    FILE* f = fopen(path.c_str(), "re");
    if (!f) return false;
    char line[4096];
    bool found = false;
    while (!found && fgets(line, sizeof line, f)) {
        // "start-end perms offset major:minor inode path"
        char perms[8] = {};
        unsigned major = 0, minor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(line, "%*s %7s %*s %x:%x %llu", perms, &major, &minor, &inode) != 4)
            continue;
        found = perms[1] == 'w' && perms[3] == 's' && inode == file.inode &&
                makedev(major, minor) == file.device;
    }
    fclose(f);
    return found;
}

// A new read-only descriptor of the file, opened through one of this process's own
// descriptors of it; -1 when this process has none.
int ReopenOwnDescriptor(const FileStatus& file) {
    DIR* fds = opendir("/proc/self/fd");
    if (!fds) return -1;
    const int listing = dirfd(fds);
    int reopened = -1;
    while (const dirent* e = readdir(fds)) {
        if (!AllDigits(e->d_name)) continue;
        const int fd = std::atoi(e->d_name);
        struct stat st {};
        if (fd == listing || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !SameFile(st, file))
            continue;
        const std::string path = std::string("/proc/self/fd/") + e->d_name;
        reopened = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (reopened >= 0) break;
    }
    closedir(fds);
    return reopened;
}

// The kernel tells a lease holder that someone wants the file with SIGIO, whose default
// action ends the process. The lease here lasts two system calls, and a writer that
// opens in between only waits for its release, so the signal carries nothing this
// process needs: it is ignored, unless the program chose its own handling of SIGIO.
void IgnoreLeaseBreakSignal() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction current {};
        if (sigaction(SIGIO, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
            signal(SIGIO, SIG_IGN);
    });
}

}  // namespace

std::optional<bool> WriterByLease(const FileStatus& file) {
    const int fd = ReopenOwnDescriptor(file);
    if (fd < 0) return std::nullopt;
    IgnoreLeaseBreakSignal();
    std::optional<bool> writing;
    if (fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
        writing = false;
        fcntl(fd, F_SETLEASE, F_UNLCK);
    } else if (errno == EAGAIN) {
        writing = true;  // open for writing (or mapped writable) somewhere
    }
    // EACCES (not the owner), EINVAL (no leases on this file system or disabled): unknown.
    close(fd);
    return writing;
}

WalkResult WriterByProcessWalk(const FileStatus& file) {
    DIR* proc = opendir("/proc");
    if (!proc) return WalkResult::NotAllSeen;
    // With hidepid=2 other users' processes are not even listed; process 1 always exists.
    bool allSeen = getpid() == 1 || access("/proc/1", F_OK) == 0;
    bool found = false;
    while (!found) {
        const dirent* p = readdir(proc);
        if (!p) break;
        const std::string pid = p->d_name;
        if (!AllDigits(pid)) continue;
        const std::string fdDir = "/proc/" + pid + "/fd";
        DIR* fds = opendir(fdDir.c_str());
        if (!fds) {
            if (errno != ENOENT) allSeen = false;  // another user's process; ENOENT: gone
            continue;
        }
        while (const dirent* f = readdir(fds)) {
            const std::string fd = f->d_name;
            if (!AllDigits(fd)) continue;
            struct stat st {};
            if (stat((fdDir + "/" + fd).c_str(), &st) != 0 || !SameFile(st, file)) continue;
            if (OpenedForWriting(pid, fd)) {
                found = true;
                break;
            }
        }
        closedir(fds);
        found = found || MappedWritable(pid, file);
    }
    closedir(proc);
    if (found) return WalkResult::Writer;
    return allSeen ? WalkResult::NoWriter : WalkResult::NotAllSeen;
}

}  // namespace mdb::platform::posix
