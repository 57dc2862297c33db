#include "desktop/util/whole_file.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <vector>

namespace mdb::desktop {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

// Another process that holds an advisory lock on a file until told to let go.
class LockHolder {
  public:
    LockHolder(const fs::path& path, int lockKind) {
        int ready[2], release[2];
        if (pipe(ready) != 0 || pipe(release) != 0) throw std::runtime_error("pipe");
        pid_ = fork();
        if (pid_ < 0) throw std::runtime_error("fork");
        if (pid_ == 0) {
            // Only async-signal-safe calls from here on.
            close(ready[0]);
            close(release[1]);
            const int fd = open(path.c_str(), O_RDONLY);
            const char ok = (fd >= 0 && flock(fd, lockKind) == 0) ? 'L' : 'E';
            if (write(ready[1], &ok, 1) != 1) _exit(2);
            char c;
            while (read(release[0], &c, 1) < 0) {
            }
            _exit(0);
        }
        close(ready[1]);
        close(release[0]);
        releaseFd_ = release[1];
        char c = 0;
        if (read(ready[0], &c, 1) != 1 || c != 'L') throw std::runtime_error("lock not taken");
        close(ready[0]);
    }
    ~LockHolder() { Release(); }

    // Ends the other process, which drops its lock.
    void Release() {
        if (pid_ <= 0) return;
        close(releaseFd_);
        int status;
        waitpid(pid_, &status, 0);
        pid_ = -1;
    }

  private:
    pid_t pid_ = -1;
    int releaseFd_ = -1;
};

// Records the pauses between attempts; runs `onPause` with the pause number (1-based).
struct Pauses {
    std::vector<std::chrono::milliseconds> seen;
    std::function<void(std::size_t)> onPause;
    desktop::Sleeper Sleeper() {
        return [this](std::chrono::milliseconds d) {
            seen.push_back(d);
            if (onPause) onPause(seen.size());
        };
    }
};

TEST(ReadWholeFile, ReadsEveryByte) {
    TempDir tmp;
    const std::string bytes("MDB\0\x01\xff\r\n tail", 14);
    WriteBytes(tmp / "data.bin", bytes);
    std::string out = "old";
    EXPECT_EQ(ReadWholeFile((tmp / "data.bin").string(), out), 1);
    EXPECT_EQ(out, bytes);
}

TEST(ReadWholeFile, FailsOnEmptyMissingAndSpecialFiles) {
    TempDir tmp;
    WriteBytes(tmp / "empty", "");
    ASSERT_EQ(mkfifo((tmp / "pipe").c_str(), 0600), 0);
    std::string out = "old";
    EXPECT_EQ(ReadWholeFile((tmp / "empty").string(), out), 0);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(ReadWholeFile((tmp / "missing").string(), out), 0);
    EXPECT_EQ(ReadWholeFile(tmp.path().string(), out), 0);
    EXPECT_EQ(ReadWholeFile((tmp / "pipe").string(), out), 0);  // must not wait for a writer
    EXPECT_EQ(ReadWholeFile(std::string(), out), 0);
}

TEST(ReadWholeFile, TakesPathsOfAnyLengthTheSystemTakes) {
    TempDir tmp;
    const fs::path dir = tmp / std::string(150, 'd');
    fs::create_directory(dir);
    const fs::path file = dir / std::string(150, 'f');
    WriteBytes(file, "content");
    ASSERT_GT(file.string().size(), 259u);
    std::string out;
    EXPECT_EQ(ReadWholeFile(file.string(), out), 1);
    EXPECT_EQ(out, "content");
}

TEST(WriteTextFile, WritesCrLfForEmptyTextAndTheTextOtherwise) {
    TempDir tmp;
    const std::string path = (tmp / "ScanDir.txt").string();
    EXPECT_EQ(WriteTextFile("", path), 1);
    EXPECT_EQ(ReadBytes(path), "\r\n");
    EXPECT_EQ(WriteTextFile("/var/www\r\n/srv/网站\r\n", path), 1);
    EXPECT_EQ(ReadBytes(path), "/var/www\r\n/srv/网站\r\n");
    // Shorter text replaces the whole content; nothing is appended.
    EXPECT_EQ(WriteTextFile("/a", path), 1);
    EXPECT_EQ(ReadBytes(path), "/a");
    EXPECT_EQ(WriteTextFile("x", (tmp / "no dir/f.txt").string()), 0);
}

TEST(WriteTextFile, OverwritesAReadOnlyFile) {
    TempDir tmp;
    const fs::path path = tmp / "ro.txt";
    WriteBytes(path, "old content");
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read);
    EXPECT_EQ(WriteTextFile("new", path.string()), 1);
    EXPECT_EQ(ReadBytes(path), "new");
    EXPECT_EQ(fs::status(path).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST(WriteWholeFile, ReplacesContentAndRefusesDirectories) {
    TempDir tmp;
    const fs::path path = tmp / "out.bin";
    const std::string bytes("a\0b", 3);
    EXPECT_EQ(WriteWholeFile(path.string(), std::span<const char>(bytes)), 1);
    EXPECT_EQ(ReadBytes(path), bytes);
    EXPECT_EQ(WriteWholeFile(path.string(), std::span<const char>()), 1);
    EXPECT_EQ(fs::file_size(path), 0u);
    EXPECT_EQ(WriteWholeFile(tmp.path().string(), std::span<const char>(bytes)), 0);
}

// The new content takes the file's name only once it is whole: a reader that had the
// file open keeps reading the old content whole (a crash or a full disk during the write
// leaves it so too), and nothing is left beside the file.
TEST(WriteWholeFile, NeverCutsTheOldContentShort) {
    TempDir tmp;
    const fs::path path = tmp / "ScanDir.txt";
    WriteBytes(path, "old content");
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const int reader = open(path.c_str(), O_RDONLY);
    ASSERT_GE(reader, 0);
    const std::string bytes = "new";
    EXPECT_EQ(WriteWholeFile(path.string(), std::span<const char>(bytes)), 1);
    char seen[32] = {};
    EXPECT_EQ(pread(reader, seen, sizeof seen, 0), 11);
    EXPECT_EQ(std::string(seen), "old content");
    close(reader);
    EXPECT_EQ(ReadBytes(path), "new");
    EXPECT_EQ(fs::status(path).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator()), 1);
}

TEST(SharingRetry, ReaderWaitsForAWriterToLetGo) {
    TempDir tmp;
    const fs::path path = tmp / "shared.txt";
    WriteBytes(path, "content");
    LockHolder writer(path, LOCK_EX);
    Pauses pauses;
    pauses.onPause = [&](std::size_t n) {
        if (n == 3) writer.Release();
    };
    std::string out;
    EXPECT_EQ(ReadWholeFile(path.string(), out, pauses.Sleeper()), 1);
    EXPECT_EQ(out, "content");
    EXPECT_EQ(pauses.seen, std::vector<std::chrono::milliseconds>(3, kShareRetryDelay));
}

TEST(SharingRetry, ReaderGivesUpAfter31Attempts) {
    TempDir tmp;
    const fs::path path = tmp / "shared.txt";
    WriteBytes(path, "content");
    LockHolder writer(path, LOCK_EX);
    Pauses pauses;
    std::string out;
    EXPECT_EQ(ReadWholeFile(path.string(), out, pauses.Sleeper()), 0);
    EXPECT_EQ(pauses.seen.size(), 30u);  // 31 attempts
}

TEST(SharingRetry, ReadersShareAFile) {
    TempDir tmp;
    const fs::path path = tmp / "shared.txt";
    WriteBytes(path, "content");
    LockHolder reader(path, LOCK_SH);
    Pauses pauses;
    std::string out;
    EXPECT_EQ(ReadWholeFile(path.string(), out, pauses.Sleeper()), 1);
    EXPECT_TRUE(pauses.seen.empty());
}

TEST(SharingRetry, WriterWaitsForAReaderWithoutCuttingTheFileShort) {
    TempDir tmp;
    const fs::path path = tmp / "shared.txt";
    WriteBytes(path, "old content");
    LockHolder reader(path, LOCK_SH);
    Pauses pauses;
    std::vector<std::string> seenWhileLocked;
    pauses.onPause = [&](std::size_t n) {
        seenWhileLocked.push_back(ReadBytes(path));
        if (n == 2) reader.Release();
    };
    EXPECT_EQ(WriteTextFile("new", path.string(), pauses.Sleeper()), 1);
    EXPECT_EQ(ReadBytes(path), "new");
    EXPECT_EQ(seenWhileLocked, (std::vector<std::string>{"old content", "old content"}));
}

TEST(SharingRetry, WriterGivesUpAfter31Attempts) {
    TempDir tmp;
    const fs::path path = tmp / "shared.txt";
    WriteBytes(path, "old content");
    LockHolder reader(path, LOCK_SH);
    Pauses pauses;
    const std::string bytes = "new";
    EXPECT_EQ(WriteWholeFile(path.string(), std::span<const char>(bytes), pauses.Sleeper()), 0);
    EXPECT_EQ(pauses.seen.size(), 30u);
    EXPECT_EQ(ReadBytes(path), "old content");
}

}  // namespace
}  // namespace mdb::desktop
