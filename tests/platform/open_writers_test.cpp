// Whether some process has a file open for writing: the read lease and the walk of every
// process's descriptors must give the same answer, and the public call with them.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/posix/open_writers.h"
#include "platform/safe_files.h"

namespace mdb::platform {
namespace {

FileStatus StatusOf(int fd) {
    struct stat st {};
    EXPECT_EQ(fstat(fd, &st), 0);
    FileStatus status;
    status.device = st.st_dev;
    status.inode = st.st_ino;
    return status;
}

TEST(OpenWriters, LeaseAndWalkAgreeOnWritersAnywhere) {
    char name[] = "/tmp/mdb-writers-XXXXXX";
    const int created = mkstemp(name);
    ASSERT_GE(created, 0);
    close(created);
    const int reader = open(name, O_RDONLY);  // the caller's own descriptor, as in the batch
    ASSERT_GE(reader, 0);
    const FileStatus file = StatusOf(reader);

    // Nobody writes: the lease is granted (this test owns the file).
    EXPECT_EQ(posix::WriterByLease(file), std::optional<bool>(false));
    EXPECT_EQ(posix::WriterByProcessWalk(file), posix::WalkResult::NoWriter);
    EXPECT_FALSE(OpenForWritingByAProcess(file));

    // A writer in another process: both see it, and it stays unharmed by the probe.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        const int fd = open(name, O_WRONLY | O_APPEND);
        (void)!write(ready[1], "x", 1);
        pause();
        _exit(fd >= 0 ? 0 : 1);
    }
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    EXPECT_EQ(posix::WriterByLease(file), std::optional<bool>(true));
    EXPECT_EQ(posix::WriterByProcessWalk(file), posix::WalkResult::Writer);
    EXPECT_TRUE(OpenForWritingByAProcess(file));
    kill(writer, SIGKILL);
    int status = 0;
    waitpid(writer, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status)) << "the writer ended by itself";

    // A writer that mapped the file shared and writable, then closed its descriptor.
    ASSERT_EQ(truncate(name, 4096), 0);
    const pid_t mapper = fork();
    ASSERT_GE(mapper, 0);
    if (mapper == 0) {
        const int fd = open(name, O_RDWR);
        void* map = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        close(fd);
        (void)!write(ready[1], "x", 1);
        pause();
        _exit(map != MAP_FAILED ? 0 : 1);
    }
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    EXPECT_EQ(posix::WriterByLease(file), std::optional<bool>(true));
    EXPECT_EQ(posix::WriterByProcessWalk(file), posix::WalkResult::Writer);
    kill(mapper, SIGKILL);
    waitpid(mapper, &status, 0);
    close(ready[0]);
    close(ready[1]);

    // The writer is gone. A writer that opens while the lease is held makes the kernel
    // send SIGIO, whose default action would end this process: it must survive one.
    EXPECT_FALSE(OpenForWritingByAProcess(file));
    raise(SIGIO);
    close(reader);

    // Without a descriptor of its own the lease cannot be asked: the walk answers.
    EXPECT_EQ(posix::WriterByLease(file), std::nullopt);
    EXPECT_FALSE(OpenForWritingByAProcess(file));
    unlink(name);
}

}  // namespace
}  // namespace mdb::platform
