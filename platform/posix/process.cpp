#include "platform/process.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <cstring>
#include <memory>
#include <thread>

extern char** environ;

namespace mdb::platform {
namespace {

// Short command names are cut to this many bytes by the kernel.
constexpr std::size_t kCommLength = 15;

// How long a process gets to vanish after SIGKILL before we call it a failure.
constexpr std::chrono::milliseconds kKillWait{5000};

// False when the file cannot be read whole. A process that ends while its entry is
// read makes the read fail (ESRCH): that is an answer (it has gone), not an error to
// throw, as a stream reading through istreambuf_iterator would.
bool ReadSmallFile(const std::string& path, std::string& out) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    out.clear();
    char buf[4096];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, static_cast<std::size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            ok = n == 0;
            break;
        }
    }
    ::close(fd);
    return ok;
}

std::string BaseName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The state letter of /proc/<pid>/stat: it follows the last ')' (the command name between
// the parentheses may itself hold blanks and parentheses). '\0' when unreadable.
char ProcessState(const std::string& dir) {
    std::string stat;
    if (!ReadSmallFile(dir + "/stat", stat)) return '\0';
    const auto close = stat.rfind(')');
    if (close == std::string::npos || close + 2 >= stat.size()) return '\0';
    return stat[close + 2];
}

bool IsAllDigits(const char* s) {
    if (*s == '\0') return false;
    for (; *s != '\0'; ++s) {
        if (*s < '0' || *s > '9') return false;
    }
    return true;
}

// Name and executable of the process whose /proc directory is `dir`; the name stays
// empty when the process has ended or cannot be examined.
ProcessEntry EntryFromDirectory(const std::string& dir, int pid) {
    ProcessEntry entry;
    entry.pid = pid;
    const char state = ProcessState(dir);
    // 'Z' zombie, 'X' dead: the program has ended even though its entry is still there.
    if (state == '\0' || state == 'Z' || state == 'X') return entry;

    char target[4096];
    const ssize_t n = readlink((dir + "/exe").c_str(), target, sizeof target - 1);
    if (n > 0) {
        std::string path(target, static_cast<std::size_t>(n));
        // A program whose file was replaced or removed while it runs.
        constexpr std::string_view kDeleted = " (deleted)";
        if (path.size() > kDeleted.size() && path.ends_with(kDeleted)) {
            path.resize(path.size() - kDeleted.size());
        }
        entry.name = BaseName(path);
        entry.executable = std::move(path);
        return entry;
    }

    std::string comm;
    if (!ReadSmallFile(dir + "/comm", comm)) return entry;
    while (!comm.empty() && comm.back() == '\n') comm.pop_back();
    if (comm.size() == kCommLength) {
        // Possibly cut short: the first command-line word completes it when it agrees.
        std::string cmdline;
        if (ReadSmallFile(dir + "/cmdline", cmdline)) {
            const std::string first = BaseName(std::string(cmdline.c_str()));
            if (first.size() > comm.size() && first.starts_with(comm)) {
                entry.name = first;
                return entry;
            }
        }
    }
    entry.name = std::move(comm);
    return entry;
}

bool Gone(int pid, const std::string& root) {
    return DescribeProcess(pid, root).name.empty();
}

// Waits until the process behind `pidfd` (or, without a pidfd, `pid`) has ended.
bool WaitEnded(int pidfd, int pid, const std::string& root, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (pidfd >= 0) {
            pollfd p{pidfd, POLLIN, 0};
            const int rc = poll(&p, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
            if (rc > 0) return true;
            if (rc < 0 && errno != EINTR) return false;
        } else {
            if (Gone(pid, root)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return pidfd < 0 && Gone(pid, root);
        }
    }
}

int OpenPidFd(int pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
    errno = ENOSYS;
    return -1;
#endif
}

int SendSignal(int pidfd, int pid, int sig) {
#ifdef SYS_pidfd_send_signal
    if (pidfd >= 0) return static_cast<int>(syscall(SYS_pidfd_send_signal, pidfd, sig, nullptr, 0));
#endif
    return kill(pid, sig);
}

struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0) close(fd);
    }
};

}  // namespace

ProcessEntry DescribeProcess(int pid, const std::string& root) {
    if (pid <= 0) return {};
    return EntryFromDirectory(root + "/" + std::to_string(pid), pid);
}

ProcessList ListProcesses(const std::string& root) {
    ProcessList list;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(root.c_str()), closedir);
    if (!dir) {
        list.status = ProcessListStatus::CannotOpen;
        return list;
    }
    while (const dirent* entry = readdir(dir.get())) {
        if (!IsAllDigits(entry->d_name)) continue;
        ProcessEntry process =
            EntryFromDirectory(root + "/" + entry->d_name, std::atoi(entry->d_name));
        if (process.name.empty()) continue;
        list.entries.push_back(std::move(process));
    }
    list.status = list.entries.empty() ? ProcessListStatus::NoEntries : ProcessListStatus::Ok;
    return list;
}

TerminateStatus TerminateProcess(const ProcessEntry& expected, std::chrono::milliseconds grace) {
    const int pid = expected.pid;
    if (pid <= 0) return TerminateStatus::Failed;
    // The pidfd pins the process: signals sent through it can never reach a later process
    // that happens to get the same id.
    FdCloser pidfd{OpenPidFd(pid)};
    if (pidfd.fd < 0 && errno == ESRCH) return TerminateStatus::AlreadyGone;
    const ProcessEntry now = DescribeProcess(pid);
    if (now.name != expected.name) return TerminateStatus::AlreadyGone;
    if (!expected.executable.empty() && now.executable != expected.executable) {
        return TerminateStatus::AlreadyGone;
    }

    if (SendSignal(pidfd.fd, pid, SIGTERM) != 0) {
        return errno == ESRCH ? TerminateStatus::AlreadyGone : TerminateStatus::Failed;
    }
    if (WaitEnded(pidfd.fd, pid, kProcessRoot, grace)) return TerminateStatus::Ended;

    if (SendSignal(pidfd.fd, pid, SIGKILL) != 0) {
        return errno == ESRCH ? TerminateStatus::Ended : TerminateStatus::Failed;
    }
    return WaitEnded(pidfd.fd, pid, kProcessRoot, kKillWait) ? TerminateStatus::Ended
                                                             : TerminateStatus::Failed;
}

bool IsRunnableFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

SpawnResult SpawnProcess(std::span<const std::string> argv, ChildOutput output) {
    SpawnResult result;
    if (argv.empty() || argv.front().empty()) {
        result.error = EINVAL;
        return result;
    }
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv) {
        if (a.find('\0') != std::string::npos) {  // would be cut short silently
            result.error = EINVAL;
            return result;
        }
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // Only the standard streams are handed down.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif
    if (output != ChildOutput::Inherit) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    }
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        result.error = rc;
        return result;
    }
    result.pid = pid;
    return result;
}

int WaitForProcess(int pid) {
    if (pid <= 0) return -1;
    int status = 0;
    for (;;) {
        const pid_t r = waitpid(pid, &status, 0);
        if (r == pid) break;
        if (r < 0 && errno == EINTR) continue;
        return -1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

int WaitForProcessFor(int pid, std::chrono::milliseconds timeout) {
    if (pid <= 0) return -1;
    // Polled: a child's end raises no event this thread could wait on with a time-out
    // (pidfd_open would, but is not available on every kernel we run on).
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            if (WIFEXITED(status)) return WEXITSTATUS(status);
            if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
            return -1;
        }
        if (r < 0 && errno != EINTR) return -1;
        if (std::chrono::steady_clock::now() >= deadline) return kStillRunning;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void ReapInBackground(int pid) {
    if (pid <= 0) return;
    try {
        std::thread([pid] { WaitForProcess(pid); }).detach();
    } catch (const std::system_error&) {
        // No thread to spare: the exited child stays listed as a zombie until we exit.
    }
}

int CurrentProcessId() {
    return static_cast<int>(getpid());
}

void KeepFreedMemoryForReuse() {
#if defined(__GLIBC__)
    // glibc gives the free top of its heap back past a threshold (128 KB at first),
    // and serves blocks from 128 KB up with maps of their own, unmapped when freed
    // (both thresholds then grow with what is freed, up to 32 MB): a compaction's page lists and buffers came
    // back as fresh pages again and again. Up to these sizes they now stay. A
    // compaction's large tables take their memory elsewhere (ResidentPool), so the
    // peak grows little: the bloated sample's stayed at 33 MB, narrow-20m's went from
    // 132 to 139 MB.
    constexpr int kTrimThreshold = 256 << 20;  // keep up to 256 MB free at the heap's top
    constexpr int kMapThreshold = 32 << 20;    // the largest the adaptive threshold reaches
    mallopt(M_TRIM_THRESHOLD, kTrimThreshold);
    mallopt(M_MMAP_THRESHOLD, kMapThreshold);
#endif
}

}  // namespace mdb::platform
