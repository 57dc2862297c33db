#include "common/runlog.h"
#include "test_support.h"

#include <fcntl.h>

#include <sys/file.h>

#include <gtest/gtest.h>

#include <regex>

namespace mdb {
namespace {

class RunLog : public ::testing::Test {
  protected:
    void SetUp() override { SetRunLogDirectory(dir.dir()); }
    void TearDown() override { SetRunLogDirectory(""); }
    std::string LogPath() { return dir / kRunLogFileName; }
    test::TempDir dir;
};

TEST_F(RunLog, WritesOneTimestampedCrLfLinePerEntry) {
    ASSERT_EQ(WriteRunLog("abc"), 1);
    ASSERT_EQ(WriteRunLog("当前填写的扫描目录 1 - /var/www"), 1);
    const std::string log = test::ReadWholeFile(LogPath());
    const std::regex line(
        "\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2} - abc\r\n"
        "\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2} - 当前填写的扫描目录 1 - /var/www\r\n");
    EXPECT_TRUE(std::regex_match(log, line)) << log;
}

TEST_F(RunLog, EmptiesTheFileOnlyWhenItIsLongerThanTheCap) {
    test::WriteWholeFile(LogPath(), std::string(1048576, 'x'));
    ASSERT_EQ(WriteRunLog("kept"), 1);
    EXPECT_GT(test::ReadWholeFile(LogPath()).size(), 1048576u);

    test::WriteWholeFile(LogPath(), std::string(1048577, 'x'));
    ASSERT_EQ(WriteRunLog("first"), 1);
    const std::string log = test::ReadWholeFile(LogPath());
    EXPECT_LT(log.size(), 64u);
    EXPECT_NE(log.find(" - first\r\n"), std::string::npos);

    // A 2 MiB cap is used as given.
    test::WriteWholeFile(LogPath(), std::string(1500000, 'x'));
    ASSERT_EQ(WriteRunLog("big", "", kRunLogFileName, 2 * 1048576, 0), 1);
    EXPECT_GT(test::ReadWholeFile(LogPath()).size(), 1500000u);
}

TEST(RunLogCap, ValuesOutsideOneToFiftyMiBBecomeOneMiB) {
    EXPECT_EQ(NormaliseRunLogCap(0, 0), 1048576u);
    EXPECT_EQ(NormaliseRunLogCap(60u * 1048576u, 0), 1048576u);
    EXPECT_EQ(NormaliseRunLogCap(2 * 1048576, 1), 1048576u);
    EXPECT_EQ(NormaliseRunLogCap(2 * 1048576, 0), 2u * 1048576u);
    EXPECT_EQ(NormaliseRunLogCap(50u * 1048576u, 0), 50u * 1048576u);
    EXPECT_EQ(NormaliseRunLogCap(1048575, 0), 1048576u);
}

TEST(RunLogDirectory, NothingIsWrittenBeforeTheDirectoryIsKnown) {
    SetRunLogDirectory("");
    EXPECT_EQ(WriteRunLog("abc"), 0);
    test::TempDir dir;
    SetRunLogDirectory(dir.dir());
    EXPECT_EQ(WriteRunLog(""), 0);
    EXPECT_FALSE(std::filesystem::exists(dir / kRunLogFileName));
    // A subdirectory is created on demand.
    EXPECT_EQ(WriteRunLog("abc", "logs/today", "run.log"), 1);
    EXPECT_TRUE(std::filesystem::exists(dir / "logs/today/run.log"));
    SetRunLogDirectory("");
}

TEST_F(RunLog, WaitsForAnotherWriterAndGivesUpAfterThreeSeconds) {
    ASSERT_EQ(WriteRunLog("start"), 1);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t holder = fork();
    if (holder == 0) {
        const int fd = open(LogPath().c_str(), O_RDWR);
        flock(fd, LOCK_EX);
        char c = 1;
        (void)!write(fds[1], &c, 1);
        usleep(400 * 1000);
        _exit(0);  // the lock goes with the process
    }
    char c;
    ASSERT_EQ(read(fds[0], &c, 1), 1);
    EXPECT_EQ(WriteRunLog("after the holder"), 1);
    waitpid(holder, nullptr, 0);
    EXPECT_NE(test::ReadWholeFile(LogPath()).find("after the holder"), std::string::npos);

    const pid_t stubborn = fork();
    if (stubborn == 0) {
        const int fd = open(LogPath().c_str(), O_RDWR);
        flock(fd, LOCK_EX);
        char c = 1;
        (void)!write(fds[1], &c, 1);
        sleep(10);
        _exit(0);
    }
    ASSERT_EQ(read(fds[0], &c, 1), 1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WriteRunLog("dropped"), 0);
    const auto waited = std::chrono::steady_clock::now() - start;
    kill(stubborn, SIGKILL);
    waitpid(stubborn, nullptr, 0);
    EXPECT_GE(waited, std::chrono::milliseconds(2900));  // 31 attempts, 100 ms apart
    EXPECT_EQ(test::ReadWholeFile(LogPath()).find("dropped"), std::string::npos);
}

}  // namespace
}  // namespace mdb
