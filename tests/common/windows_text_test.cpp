// Windows' own rules in the shared foundation: drive-letter paths, the lower-cased
// directory list, and the ANSI code page (GBK under the test's Chinese locale) of the
// files shared with Windows tools and users.
#include "common/listfile.h"
#include "common/paths.h"
#include "common/runlog.h"
#include "platform/arguments.h"
#include "test_support.h"

#include <gtest/gtest.h>

namespace mdb {
namespace {

// "站点" in GBK (code page 936).
const std::string kSiteGbk = "\xd5\xbe\xb5\xe3";

TEST(WindowsPaths, DriveLetterPathsAreTheProgramsAbsolutePaths) {
    std::string dir;
    ASSERT_EQ(GetExeDirectory(dir), 1);
    EXPECT_EQ(dir[1], ':');
    EXPECT_EQ(dir.back(), '\\');
    EXPECT_EQ(ExeDirectoryFromModulePath("d:\\tools\\mdbwarden.exe", dir), 1);
    EXPECT_EQ(dir, "d:\\tools\\");
    EXPECT_EQ(ExeDirectoryFromModulePath("\\\\server\\share\\mdbwarden.exe", dir), 0);

    test::TempDir root;
    EXPECT_EQ(CreateDirectoryChain(root.dir() + "x\\\\Y\\站点\\"), 1);
    EXPECT_TRUE(std::filesystem::is_directory(root.path() / platform::PathFromUtf8("x/Y/站点")));
    EXPECT_EQ(CreateDirectoryChain(root.dir() + "x\\y"), 1);  // already there, any case
    EXPECT_EQ(CreateDirectoryChain("d:\\"), 0);
    EXPECT_EQ(CreateDirectoryChain("relative\\dir"), 0);
    EXPECT_EQ(PathExists(root.dir() + "X\\*"), 1);
}

TEST(WindowsText, ListEntriesAreLowerCasedAndTheFilesHoldGbk) {
    EXPECT_EQ(ParseListText("D:\\Home\r\nd:\\home \r\nD:\\站点\\ABC\r\n"),
              (std::vector<std::string>{"d:\\home", "d:\\站点\\abc"}));

    EXPECT_EQ(platform::SystemCodePageFromUtf8("站点"), kSiteGbk);
    EXPECT_EQ(platform::Utf8FromSystemCodePage(kSiteGbk + "\\a"), "站点\\a");

    test::TempDir dir;
    SetRunLogDirectory(dir.dir());
    ASSERT_EQ(WriteRunLog("扫描站点"), 1);
    const std::string log = test::ReadWholeFile(dir.path() / kRunLogFileName);
    EXPECT_NE(log.find("\xc9\xa8\xc3\xe8" + kSiteGbk + "\r\n"), std::string::npos) << log;
    SetRunLogDirectory("");
}

}  // namespace
}  // namespace mdb
