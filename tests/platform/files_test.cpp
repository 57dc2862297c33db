// The platform's file, directory, path and profile calls, on the system the build is for:
// Windows' own rules (drive letters, the long-path prefix, case-insensitive profile names,
// sharing modes) run under Wine.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/arguments.h"
#include "platform/dirwalk.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "tests/platform/scratch.h"

namespace mdb::platform {
namespace {

namespace fs = std::filesystem;

TEST(Paths, RootedPathsFollowThePlatformRule) {
#ifdef _WIN32
    EXPECT_TRUE(IsRootedPath("d:\\home"));
    EXPECT_TRUE(IsRootedPath("Z:\\"));
    for (const char* p : {"d:", "d:/home", "\\\\server\\share", "home", "/var/www", "1:\\x"})
        EXPECT_FALSE(IsRootedPath(p)) << p;
    const auto exe = ModuleFileName();
    ASSERT_TRUE(exe);
    EXPECT_TRUE(IsRootedPath(*exe)) << *exe;
    EXPECT_EQ(exe->substr(exe->size() - 4), ".exe");
#else
    EXPECT_TRUE(IsRootedPath("/var/www"));
    EXPECT_FALSE(IsRootedPath("var/www"));
    EXPECT_FALSE(IsRootedPath("d:\\home"));
#endif
}

TEST(Files, LongAndChineseNamesAreCreatedWrittenFoundAndListed) {
    Scratch scratch;
    // An upper-case level, a Chinese name and more than 260 characters in all.
    std::string dir = std::string(kLongPathPrefix) + scratch.Text();
    const std::string levels[] = {"SiteA", "数据库", std::string(120, 'x'), std::string(120, 'y')};
    for (const std::string& level : levels) {
        dir += kSeparator + level;
        ASSERT_TRUE(MakeDirectory(dir)) << dir;
        EXPECT_TRUE(MakeDirectory(dir)) << "an existing directory counts as made";
    }
    ASSERT_GT(dir.size(), 260u);
    const std::string file = dir + kSeparator + "中文.mdb";
    {
        SharedFile writer;
        ASSERT_EQ(writer.Open(file, OpenMode::WriteExclusiveCreate), OpenResult::Ok);
        ASSERT_TRUE(writer.Append(std::span<const char>("Standard Jet DB", 15)));
        // A writer that opened exclusively refuses every other opener until it closes.
        SharedFile reader;
        EXPECT_EQ(reader.Open(file, OpenMode::ReadDenyWrite), OpenResult::SharingViolation);
    }
    EXPECT_TRUE(FindFirst(file));
    EXPECT_TRUE(FindFirst(dir + kSeparator + "*.mdb"));
    EXPECT_FALSE(FindFirst(dir + kSeparator + "*.ldb"));
    std::vector<DirEntry> entries;
    ASSERT_TRUE(ListDirectory(dir, entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "中文.mdb");
    EXPECT_EQ(entries[0].kind, EntryKind::RegularFile);
    EXPECT_EQ(entries[0].size, 15u);
    std::uint8_t head[4];
    std::uint64_t size = 0;
    std::size_t read = 0;
    EXPECT_EQ(ReadFileStart(file, head, size, read), HeaderResult::Ok);
    EXPECT_EQ(size, 15u);
    EXPECT_EQ(read, 4u);
    int error = 0;
    EXPECT_EQ(ReadFileStart(dir, head, size, read, &error), HeaderResult::Failed);
    EXPECT_NE(error, 0);
}

TEST(Profile, KeysAreWrittenAndReadWithoutRegardToCase) {
    Scratch scratch;
    const std::string ini = scratch.Text() + kSeparator + "mdbscout.ini";
    EXPECT_EQ(GetProfileInt("mdbscout", "refscanlog", 7, ini), 7u);
    ASSERT_TRUE(WriteProfileString("mdbscout", "refscanlog", "1", ini));
    ASSERT_TRUE(WriteProfileString("mdbscout", "CompactDatabase", "-3", ini));
    EXPECT_EQ(GetProfileInt("MDBSCOUT", "RefScanLog", 0, ini), 1u);
    EXPECT_EQ(GetProfileInt("mdbscout", "compactdatabase", 5, ini), 0u);  // negative: 0
    EXPECT_EQ(GetProfileInt("other", "refscanlog", 4, ini), 4u);
    ASSERT_TRUE(WriteProfileString("mdbscout", "REFSCANLOG", "0", ini));
    EXPECT_EQ(GetProfileInt("mdbscout", "refscanlog", 9, ini), 0u);
}

}  // namespace
}  // namespace mdb::platform
