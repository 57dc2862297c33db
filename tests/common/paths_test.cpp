#include "common/paths.h"
#include "common/filestore.h"
#include "common/settings.h"
#include "test_support.h"

#include <gtest/gtest.h>

namespace mdb {
namespace {

class RecordingReporter : public MessageReporter {
  public:
    void ShowMessage(std::string_view text) override { messages.emplace_back(text); }
    std::vector<std::string> messages;
};

TEST(ExeDirectory, IsTheExecutablesDirectoryWithATrailingSeparator) {
    std::string dir = "stale";
    EXPECT_EQ(ExeDirectoryFromModulePath("/opt/tools/mdbwarden", dir), 1);
    EXPECT_EQ(dir, "/opt/tools/");
    EXPECT_EQ(SettingsPathIn(dir), "/opt/tools/mdbscout.ini");
    EXPECT_EQ(ExeDirectoryFromModulePath("//srv//tools/mdbscout", dir), 1);
    EXPECT_EQ(dir, "/srv/tools/");

    EXPECT_EQ(ExeDirectoryFromModulePath(std::nullopt, dir), 0);
    EXPECT_EQ(dir, "");
    EXPECT_EQ(ExeDirectoryFromModulePath("mdbscout", dir), 0);        // no directory
    EXPECT_EQ(ExeDirectoryFromModulePath("tools/mdbscout", dir), 0);  // not rooted
    EXPECT_EQ(ExeDirectoryFromModulePath("/" + std::string(258, 'a') + "/x", dir), 0);
    EXPECT_EQ(ExeDirectoryFromModulePath("/x", dir), 0);  // shorter than 4

    // The running test program.
    ASSERT_EQ(GetExeDirectory(dir), 1);
    EXPECT_EQ(dir.front(), '/');
    EXPECT_EQ(dir.back(), '/');
    EXPECT_TRUE(std::filesystem::is_directory(dir));
}

TEST(ConfigDir, IsCreatedWithMissingParents) {
    test::TempDir root;
    RecordingReporter reporter;
    std::string config;
    ASSERT_EQ(EnsureConfigDirIn(root.dir() + "a/b/", reporter, config), 1);
    EXPECT_EQ(config, root / "a/b/config");
    EXPECT_TRUE(std::filesystem::is_directory(config));
    EXPECT_TRUE(reporter.messages.empty());
    // Present as a plain file: accepted here; opening the store in it fails later.
    test::TempDir other;
    test::WriteWholeFile(other / "config", "not a directory");
    ASSERT_EQ(EnsureConfigDirIn(other.dir(), reporter, config), 1);
    EXPECT_FALSE(FileInfoDb::Open(config + "/FileInfo.dat"));
}

TEST(ConfigDir, ReportsADirectoryThatCannotBeCreated) {
    test::TempDir root;
    test::WriteWholeFile(root / "blocker", "");
    RecordingReporter reporter;
    std::string config = "stale";
    EXPECT_EQ(EnsureConfigDirIn(root.dir() + "blocker/prog/", reporter, config), 0);
    EXPECT_EQ(config, "");
    ASSERT_EQ(reporter.messages.size(), 1u);
    EXPECT_EQ(reporter.messages[0],
              "建立目录“" + (root / "blocker/prog/config") + "”失败，请重试！");
}

TEST(CreateDirectoryChain, CreatesEveryLevelAndRefusesTheRootAndRelativePaths) {
    test::TempDir root;
    EXPECT_EQ(CreateDirectoryChain(root.dir() + "x//y/z/"), 1);
    EXPECT_TRUE(std::filesystem::is_directory(root / "x/y/z"));
    EXPECT_EQ(CreateDirectoryChain(root.dir() + "x/y/z"), 1);  // already there
    EXPECT_EQ(CreateDirectoryChain("/"), 0);
    EXPECT_EQ(CreateDirectoryChain("relative/dir"), 0);
    EXPECT_EQ(CreateDirectoryChain("/" + std::string(260, 'a')), 0);
    test::WriteWholeFile(root / "file", "");
    EXPECT_EQ(CreateDirectoryChain(root.dir() + "file/sub"), 0);
}

TEST(PathExists, FindsFilesDirectoriesAndWildcardsWithinTheLengthBounds) {
    test::TempDir root;
    test::WriteWholeFile(root / "data.mdb", "x");
    EXPECT_EQ(PathExists(root / "data.mdb"), 1);
    EXPECT_EQ(PathExists(root.path().string()), 1);
    EXPECT_EQ(PathExists(root / "*.mdb"), 1);
    EXPECT_EQ(PathExists(root / "*.asp"), 0);
    EXPECT_EQ(PathExists(root / "missing"), 0);
    EXPECT_EQ(PathExists("/tm"), 0);  // shorter than 4
    EXPECT_EQ(PathExists(root.dir() + std::string(300, 'a')), 0);
}

TEST(FileInfoDbPath, IsTheConfigDirectoryOfTheRunningProgram) {
    RecordingReporter reporter;
    std::string path;
    ASSERT_EQ(GetFileInfoDbPath(reporter, path), 1);
    std::string dir;
    ASSERT_EQ(GetExeDirectory(dir), 1);
    EXPECT_EQ(path, dir + "config/FileInfo.dat");
}

}  // namespace
}  // namespace mdb
