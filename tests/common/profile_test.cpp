#include "platform/profile.h"
#include "common/settings.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace mdb {
namespace {

using platform::GetProfileInt;
using platform::WriteProfileString;

TEST(Profile, MissingFileSectionOrKeyReadsAsTheDefault) {
    test::TempDir dir;
    const std::string ini = dir / "mdbscout.ini";
    EXPECT_EQ(ReadSettingKey(ini, kKeyRefScanLog), 0u);
    EXPECT_EQ(GetProfileInt("mdbscout", "refscanlog", 7, ini), 7u);
    test::WriteWholeFile(ini, "[other]\r\nrefscanlog=1\r\n");
    EXPECT_EQ(ReadSettingKey(ini, kKeyRefScanLog), 0u);
    test::WriteWholeFile(ini, "[mdbscout]\r\nCompactDatabase=1\r\n");
    EXPECT_EQ(ReadSettingKey(ini, kKeyRefScanLog), 0u);
    EXPECT_TRUE(SettingIsSet(ini, kKeyCompactDatabase));
}

TEST(Profile, NamesCompareWithoutCaseAndIntegersParseLikeWindows) {
    test::TempDir dir;
    const std::string ini = dir / "mdbscout.ini";
    test::WriteWholeFile(ini,
                         "; comment\r\n[MdbScout]\r\nREFSCANLOG = 12abc\r\ncompactdatabase=  -3\r\n"
                         "empty=\r\nword=yes\r\nquoted=\"1\"\r\n");
    EXPECT_EQ(ReadSettingKey(ini, kKeyRefScanLog), 12u);
    EXPECT_FALSE(SettingIsSet(ini, kKeyRefScanLog));  // only 1 means yes
    EXPECT_EQ(ReadSettingKey(ini, kKeyCompactDatabase), 0u);
    EXPECT_EQ(GetProfileInt("mdbscout", "empty", 5, ini), 5u);
    EXPECT_EQ(GetProfileInt("mdbscout", "word", 5, ini), 0u);
    EXPECT_EQ(GetProfileInt("mdbscout", "quoted", 0, ini), 1u);
}

TEST(Profile, WritingCreatesTheFileAndSectionAndKeepsEverythingElse) {
    test::TempDir dir;
    const std::string ini = dir / "mdbscout.ini";
    ASSERT_EQ(WriteSettingKey(ini, kKeyRefScanLog, "1"), 1);
    EXPECT_EQ(test::ReadWholeFile(ini), "[mdbscout]\r\nrefscanlog=1\r\n");

    test::WriteWholeFile(
        ini, "; keep me\r\n[a]\r\nx=1\r\n\r\n[MDBSCOUT]\r\nRefScanLog=1\r\n\r\n[b]\r\ny=2\r\n");
    ASSERT_EQ(WriteSettingKey(ini, kKeyRefScanLog, "0"), 1);
    ASSERT_EQ(WriteSettingKey(ini, kKeyCompactDatabase, "1"), 1);
    std::string expected =
        "; keep me\r\n[a]\r\nx=1\r\n\r\n[MDBSCOUT]\r\nRefScanLog=0\r\nCompactDatabase=1\r\n"
        "\r\n[b]\r\ny=2\r\n";
    std::string written = test::ReadWholeFile(ini);
#ifdef _WIN32
    // The system's profile functions lay out blank lines in their own way (Wine drops them).
    for (std::string* text : {&expected, &written})
        for (std::size_t at; (at = text->find("\r\n\r\n")) != std::string::npos;)
            text->erase(at, 2);
#endif
    EXPECT_EQ(written, expected);
    EXPECT_EQ(ReadSettingKey(ini, kKeyRefScanLog), 0u);
    EXPECT_EQ(ReadSettingKey(ini, kKeyCompactDatabase), 1u);
    EXPECT_EQ(GetProfileInt("b", "y", 0, ini), 2u);
}

#ifndef _WIN32  // /proc, and processes made by fork
TEST(Profile, WriteIntoAnUnwritableDirectoryFails) {
    EXPECT_EQ(WriteSettingKey("/proc/mdbscout.ini", kKeyRefScanLog, "1"), 0);
}

// Two writer processes update different keys of the same file while a third reads; no
// update may be lost and no reader may ever see a half-written file.
TEST(Profile, ConcurrentProcessesNeitherLoseUpdatesNorSeeTornFiles) {
    test::TempDir dir;
    const std::string ini = dir / "mdbscout.ini";
    test::WriteWholeFile(ini, "[mdbscout]\r\nalpha=0\r\nbeta=0\r\n");
    constexpr unsigned kRounds = 400;
    auto writer = [&](const char* key) {
        return [&, key] {
            for (unsigned i = 1; i <= kRounds; ++i)
                if (!WriteProfileString("mdbscout", key, std::to_string(i), ini)) return 2;
            return 0;
        };
    };
    auto reader = [&] {
        unsigned lastAlpha = 0, lastBeta = 0;
        for (int i = 0; i < 2000; ++i) {
            // Every read must find both keys (a torn file would lose one) and see a value
            // no older than the previous one.
            const unsigned alpha = GetProfileInt("mdbscout", "alpha", 100000, ini);
            const unsigned beta = GetProfileInt("mdbscout", "beta", 100000, ini);
            if (alpha > kRounds || beta > kRounds) return 3;
            if (alpha < lastAlpha || beta < lastBeta) return 4;
            lastAlpha = alpha;
            lastBeta = beta;
        }
        return 0;
    };
    const pid_t a = fork();
    if (a == 0) _exit(writer("alpha")());
    const pid_t b = fork();
    if (b == 0) _exit(writer("beta")());
    const int readerStatus = test::RunInChild(reader);
    int statusA = 0, statusB = 0;
    waitpid(a, &statusA, 0);
    waitpid(b, &statusB, 0);
    EXPECT_EQ(readerStatus, 0);
    ASSERT_TRUE(WIFEXITED(statusA) && WIFEXITED(statusB));
    EXPECT_EQ(WEXITSTATUS(statusA), 0);
    EXPECT_EQ(WEXITSTATUS(statusB), 0);
    EXPECT_EQ(GetProfileInt("mdbscout", "alpha", 0, ini), kRounds);
    EXPECT_EQ(GetProfileInt("mdbscout", "beta", 0, ini), kRounds);
}

#endif

}  // namespace
}  // namespace mdb
