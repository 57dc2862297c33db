#include "desktop/util/list_files.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace mdb::desktop {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::WriteBytes;

using Names = std::vector<std::string>;

TEST(MatchesWildcard, StarsAndQuestionMarks) {
    EXPECT_TRUE(MatchesWildcard("db.mdb", "*.mdb"));
    EXPECT_FALSE(MatchesWildcard("db.mdb.bak", "*.mdb"));
    EXPECT_TRUE(MatchesWildcard("noext", "*.*"));
    EXPECT_FALSE(MatchesWildcard("noext", "*.?*"));
    EXPECT_TRUE(MatchesWildcard("a1.mdb", "a?.mdb"));
    EXPECT_FALSE(MatchesWildcard("a.mdb", "a?.mdb"));
    EXPECT_TRUE(MatchesWildcard("abcabd", "*ab?"));
    EXPECT_FALSE(MatchesWildcard("DB.MDB", "*.mdb"));
    EXPECT_TRUE(MatchesWildcard("[x].mdb", "[x].mdb"));  // brackets are plain characters
    EXPECT_FALSE(MatchesWildcard("x.mdb", "[x].mdb"));
}

class ListFilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteBytes(tmp_ / "b.mdb", std::string(10, 'b'));
        WriteBytes(tmp_ / "a.mdb", std::string(100, 'a'));
        WriteBytes(tmp_ / "small.mdb", std::string(9, 's'));  // too small to list
        WriteBytes(tmp_ / ".hidden.mdb", std::string(50, 'h'));
        WriteBytes(tmp_ / "notes.txt", std::string(20, 'n'));
        WriteBytes(tmp_ / "noext", std::string(20, 'n'));
        fs::create_directory(tmp_ / "dir.mdb");
        fs::create_symlink(tmp_ / "a.mdb", tmp_ / "link.mdb");
    }
    std::string Pattern(const std::string& mask) const { return (tmp_ / mask).string(); }
    TempDir tmp_;
};

TEST_F(ListFilesTest, ListsMatchingRegularFilesBySize) {
    Names names{"stale"}, paths{"stale"};
    EXPECT_EQ(ListFiles(Pattern("*.mdb"), names, paths), 1);
    EXPECT_EQ(names, (Names{".hidden.mdb", "a.mdb", "b.mdb"}));
    EXPECT_EQ(paths, (Names{Pattern(".hidden.mdb"), Pattern("a.mdb"), Pattern("b.mdb")}));

    EXPECT_EQ(ListFiles(Pattern("*.*"), names, paths), 1);
    EXPECT_EQ(names, (Names{".hidden.mdb", "a.mdb", "b.mdb", "noext", "notes.txt"}));

    EXPECT_EQ(ListFiles(Pattern("a.mdb"), names, paths), 1);
    EXPECT_EQ(names, (Names{"a.mdb"}));
}

TEST_F(ListFilesTest, EmptiesTheListsWhenNothingMatches) {
    Names names{"stale"}, paths{"stale"};
    EXPECT_EQ(ListFiles(Pattern("*.accdb"), names, paths), 0);
    EXPECT_TRUE(names.empty());
    EXPECT_TRUE(paths.empty());
    names = paths = Names{"stale"};
    EXPECT_EQ(ListFiles(Pattern("small.mdb"), names, paths), 0);
    EXPECT_EQ(ListFiles(Pattern("missing/*.mdb"), names, paths), 0);
    EXPECT_EQ(ListFiles(tmp_.path().string() + "/", names, paths), 0);
    EXPECT_EQ(ListFiles("*.mdb", names, paths), 0);  // not rooted
    EXPECT_EQ(ListFiles("/a", names, paths), 0);     // too short
    EXPECT_EQ(ListFiles("/" + std::string(260, 'a'), names, paths), 0);
    EXPECT_TRUE(names.empty());
    EXPECT_TRUE(paths.empty());
}

TEST_F(ListFilesTest, UpperSizeLimitIs888MiB) {
    const std::uintmax_t limit = 888ull * 1024 * 1024;
    fs::create_directory(tmp_ / "big");
    WriteBytes(tmp_ / "big/at-limit.mdb", "");
    fs::resize_file(tmp_ / "big/at-limit.mdb", limit);  // sparse: no real disk space used
    WriteBytes(tmp_ / "big/over-limit.mdb", "");
    fs::resize_file(tmp_ / "big/over-limit.mdb", limit + 1);
    Names names, paths;
    EXPECT_EQ(ListFiles(Pattern("big/*"), names, paths), 1);
    EXPECT_EQ(names, (Names{"at-limit.mdb"}));
}

}  // namespace
}  // namespace mdb::desktop
