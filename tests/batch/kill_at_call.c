/* Loaded with LD_PRELOAD into a program under a crash test: counts every call the
 * program makes that changes a file or a directory (writes, flushes, renames, removals,
 * creations, truncations, owner/mode/time changes) and kills the process with SIGKILL
 * just before the call numbered MDB_KILL_AT_CALL (from 1). With MDB_CALL_COUNT_FILE the
 * count is written there when the program exits normally. Calls on descriptors 0-2 and
 * on MDB_KILL_IGNORE_FD (the test's own reporting pipe) are not counted. The kill points
 * are the program's own calls, whatever the code that makes them: a replacement done any
 * other way than the one intended is met half-way like the intended one. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

static long calls;
static long killAt = -1;
static int ignoreFd = -1;

__attribute__((constructor)) static void Start(void) {
    const char* at = getenv("MDB_KILL_AT_CALL");
    const char* ignore = getenv("MDB_KILL_IGNORE_FD");
    if (at) killAt = atol(at);
    if (ignore) ignoreFd = atoi(ignore);
}

__attribute__((destructor)) static void Report(void) {
    const char* path = getenv("MDB_CALL_COUNT_FILE");
    if (!path) return;
    char text[32];
    const int n = snprintf(text, sizeof text, "%ld\n", calls);
    /* Raw system calls: this report is not one of the program's calls. */
    const long fd = syscall(SYS_openat, AT_FDCWD, path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) return;
    syscall(SYS_write, fd, text, (size_t)n);
    syscall(SYS_close, fd);
}

static void Point(void) {
    if (++calls == killAt) syscall(SYS_kill, getpid(), SIGKILL);
}

static void PointFd(int fd) {
    if (fd > 2 && fd != ignoreFd) Point();
}

#define REAL(name) ((__typeof__(&name))dlsym(RTLD_NEXT, #name))

ssize_t write(int fd, const void* b, size_t n) { PointFd(fd); return REAL(write)(fd, b, n); }
ssize_t pwrite(int fd, const void* b, size_t n, off_t o) { PointFd(fd); return REAL(pwrite)(fd, b, n, o); }
ssize_t pwrite64(int fd, const void* b, size_t n, off64_t o) { PointFd(fd); return REAL(pwrite64)(fd, b, n, o); }
ssize_t writev(int fd, const struct iovec* v, int n) { PointFd(fd); return REAL(writev)(fd, v, n); }
ssize_t pwritev(int fd, const struct iovec* v, int n, off_t o) { PointFd(fd); return REAL(pwritev)(fd, v, n, o); }
ssize_t copy_file_range(int in, off64_t* io, int out, off64_t* oo, size_t n, unsigned f) {
    PointFd(out);
    return REAL(copy_file_range)(in, io, out, oo, n, f);
}
ssize_t sendfile(int out, int in, off_t* o, size_t n) { PointFd(out); return REAL(sendfile)(out, in, o, n); }
ssize_t sendfile64(int out, int in, off64_t* o, size_t n) { PointFd(out); return REAL(sendfile64)(out, in, o, n); }
int ftruncate(int fd, off_t l) { PointFd(fd); return REAL(ftruncate)(fd, l); }
int ftruncate64(int fd, off64_t l) { PointFd(fd); return REAL(ftruncate64)(fd, l); }
int truncate(const char* p, off_t l) { Point(); return REAL(truncate)(p, l); }
int truncate64(const char* p, off64_t l) { Point(); return REAL(truncate64)(p, l); }
int fallocate(int fd, int m, off_t o, off_t l) { PointFd(fd); return REAL(fallocate)(fd, m, o, l); }
int fsync(int fd) { PointFd(fd); return REAL(fsync)(fd); }
int fdatasync(int fd) { PointFd(fd); return REAL(fdatasync)(fd); }
int fchown(int fd, uid_t u, gid_t g) { PointFd(fd); return REAL(fchown)(fd, u, g); }
int fchownat(int d, const char* p, uid_t u, gid_t g, int f) { Point(); return REAL(fchownat)(d, p, u, g, f); }
int lchown(const char* p, uid_t u, gid_t g) { Point(); return REAL(lchown)(p, u, g); }
int chown(const char* p, uid_t u, gid_t g) { Point(); return REAL(chown)(p, u, g); }
int fchmod(int fd, mode_t m) { PointFd(fd); return REAL(fchmod)(fd, m); }
int fchmodat(int d, const char* p, mode_t m, int f) { Point(); return REAL(fchmodat)(d, p, m, f); }
int chmod(const char* p, mode_t m) { Point(); return REAL(chmod)(p, m); }
int futimens(int fd, const struct timespec t[2]) { PointFd(fd); return REAL(futimens)(fd, t); }
int utimensat(int d, const char* p, const struct timespec t[2], int f) { Point(); return REAL(utimensat)(d, p, t, f); }
int rename(const char* a, const char* b) { Point(); return REAL(rename)(a, b); }
int renameat(int da, const char* a, int db, const char* b) { Point(); return REAL(renameat)(da, a, db, b); }
int renameat2(int da, const char* a, int db, const char* b, unsigned f) {
    Point();
    return REAL(renameat2)(da, a, db, b, f);
}
int link(const char* a, const char* b) { Point(); return REAL(link)(a, b); }
int linkat(int da, const char* a, int db, const char* b, int f) { Point(); return REAL(linkat)(da, a, db, b, f); }
int symlink(const char* a, const char* b) { Point(); return REAL(symlink)(a, b); }
int symlinkat(const char* a, int d, const char* b) { Point(); return REAL(symlinkat)(a, d, b); }
int unlink(const char* p) { Point(); return REAL(unlink)(p); }
int unlinkat(int d, const char* p, int f) { Point(); return REAL(unlinkat)(d, p, f); }
int rmdir(const char* p) { Point(); return REAL(rmdir)(p); }
int mkdir(const char* p, mode_t m) { Point(); return REAL(mkdir)(p, m); }
int mkdirat(int d, const char* p, mode_t m) { Point(); return REAL(mkdirat)(d, p, m); }

/* Opening changes the file system only when it creates or truncates. __O_TMPFILE includes
   O_DIRECTORY's bit: a plain directory open is not an O_TMPFILE one. */
static int MakesFile(int flags) {
    return (flags & O_CREAT) || (flags & __O_TMPFILE) == __O_TMPFILE;
}
static mode_t ModeArgument(int flags, va_list args) {
    return MakesFile(flags) ? va_arg(args, mode_t) : 0;
}
static void OpenPoint(int flags) {
    if (MakesFile(flags) || (flags & O_TRUNC)) Point();
}
int open(const char* p, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeArgument(flags, args);
    va_end(args);
    OpenPoint(flags);
    return REAL(open)(p, flags, mode);
}
int open64(const char* p, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeArgument(flags, args);
    va_end(args);
    OpenPoint(flags);
    return REAL(open64)(p, flags, mode);
}
int openat(int d, const char* p, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeArgument(flags, args);
    va_end(args);
    OpenPoint(flags);
    return REAL(openat)(d, p, flags, mode);
}
int openat64(int d, const char* p, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeArgument(flags, args);
    va_end(args);
    OpenPoint(flags);
    return REAL(openat64)(d, p, flags, mode);
}
int creat(const char* p, mode_t m) { Point(); return REAL(creat)(p, m); }
static void StreamPoint(const char* mode) {
    if (strpbrk(mode, "wa+")) Point();
}
FILE* fopen(const char* p, const char* m) { StreamPoint(m); return REAL(fopen)(p, m); }
FILE* fopen64(const char* p, const char* m) { StreamPoint(m); return REAL(fopen64)(p, m); }
