#include "desktop/util/long_path.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <vector>

namespace mdb::desktop {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::WriteBytes;

std::u16string Long(const fs::path& path) {
    return path.u16string();
}

TEST(LongPathPrefix, RemovesEveryOccurrence) {
    std::u16string windowsStyle = u"\\\\?\\C:\\site\\\\\\?\\db.mdb";
    EXPECT_EQ(RemoveAllOccurrences(windowsStyle, u"\\\\?\\"), 2);
    EXPECT_EQ(windowsStyle, u"C:\\site\\db.mdb");

    // This platform has no prefix: paths stay as they are.
    std::u16string path = u"/var/www/site/db.mdb";
    EXPECT_EQ(StripLongPathPrefix(path), 0);
    EXPECT_EQ(path, u"/var/www/site/db.mdb");
}

TEST(ProbeLongPath, TellsFilesDirectoriesAndWhatIsMissing) {
    TempDir tmp;
    WriteBytes(tmp / "db.mdb", "x");
    fs::create_directory(tmp / "sub");
    ASSERT_EQ(mkfifo((tmp / "pipe").c_str(), 0600), 0);

    EXPECT_EQ(ProbeLongPath(Long(tmp / "db.mdb")), kProbeFile);
    EXPECT_EQ(ProbeLongPath(Long(tmp / "sub")), kProbeDirectory);
    EXPECT_EQ(ProbeLongPath(Long(tmp / "sub/missing.mdb")), kProbeNotFound);
    EXPECT_EQ(ProbeLongPath(Long(tmp / "nodir/missing.mdb")), kProbePathMissing);
    EXPECT_EQ(ProbeLongPath(Long(tmp / "nodir/deeper/missing.mdb")), kProbePathMissing);
    // A file where a directory is expected.
    EXPECT_EQ(ProbeLongPath(Long(tmp / "db.mdb/inner.mdb")), kProbePathMissing);
    // Only regular files count as files.
    EXPECT_EQ(ProbeLongPath(Long(tmp / "pipe")), kProbeFailed);
}

TEST(ProbeLongPath, RefusesWhatIsNotALongPath) {
    TempDir tmp;
    WriteBytes(tmp / "db.mdb", "x");
    const fs::path previous = fs::current_path();
    fs::current_path(tmp.path());
    const int relative = ProbeLongPath(u"db.mdb");
    fs::current_path(previous);
    EXPECT_EQ(relative, kProbeFailed);  // exists, but not in the long form

    EXPECT_EQ(ProbeLongPath(u""), kProbeFailed);
    EXPECT_EQ(ProbeLongPath(u"/"), kProbeFailed);  // shorter than two units
    EXPECT_EQ(ProbeLongPath(u"/tmp"), kProbeDirectory);
    std::string native;
    EXPECT_TRUE(LongPathToNative(u"/tmp" + std::u16string(32763, u'/'), native));
    EXPECT_FALSE(LongPathToNative(u"/tmp" + std::u16string(32764, u'/'), native));
    EXPECT_TRUE(native.empty());
    // Text that is no valid UTF-16, or that would be cut short at a zero unit.
    EXPECT_EQ(ProbeLongPath(Long(tmp.path()) + u"/\xD800"), kProbeFailed);
    EXPECT_EQ(ProbeLongPath(Long(tmp / "db.mdb") + std::u16string(1, u'\0') + u"x"), kProbeFailed);
}

TEST(GetLongPathFileSize, SizesFilesAndDirectories) {
    TempDir tmp;
    WriteBytes(tmp / "db.mdb", std::string(12345, 'a'));
    std::uint64_t size = 99;
    EXPECT_EQ(GetLongPathFileSize(Long(tmp / "db.mdb"), size), 1);
    EXPECT_EQ(size, 12345u);
    size = 99;
    EXPECT_EQ(GetLongPathFileSize(Long(tmp.path()), size), 2);
    EXPECT_EQ(size, 0u);
    size = 99;
    EXPECT_EQ(GetLongPathFileSize(Long(tmp / "missing"), size), 0);
    EXPECT_EQ(size, 0u);
    size = 99;
    EXPECT_EQ(GetLongPathFileSize(u"db.mdb", size), 0);
    EXPECT_EQ(size, 0u);
}

fs::perms Mode(const fs::path& p) {
    return fs::status(p).permissions();
}

TEST(ClearLongPathAttributes, MakesOwnerWritableAndKeepsOtherBits) {
    using P = fs::perms;
    TempDir tmp;
    WriteBytes(tmp / "ro.mdb", "x");
    fs::permissions(tmp / "ro.mdb", P::owner_read | P::group_read | P::others_read);
    EXPECT_EQ(ClearLongPathAttributes(Long(tmp / "ro.mdb")), 1);
    EXPECT_EQ(Mode(tmp / "ro.mdb"),
              P::owner_read | P::owner_write | P::group_read | P::others_read);

    WriteBytes(tmp / "rw.mdb", "x");
    const P rw = P::owner_read | P::owner_write | P::group_read;
    fs::permissions(tmp / "rw.mdb", rw);
    EXPECT_EQ(ClearLongPathAttributes(Long(tmp / "rw.mdb")), 1);
    EXPECT_EQ(Mode(tmp / "rw.mdb"), rw);

    fs::create_directory(tmp / "dir");
    fs::permissions(tmp / "dir", P::owner_read | P::owner_exec | P::group_exec);
    EXPECT_EQ(ClearLongPathAttributes(Long(tmp / "dir")), 1);
    EXPECT_EQ(Mode(tmp / "dir"), P::owner_all | P::group_exec);

    EXPECT_EQ(ClearLongPathAttributes(Long(tmp / "missing")), 0);
    EXPECT_EQ(ClearLongPathAttributes(u"ro.mdb"), 0);
}

// Counts the pauses instead of sleeping.
struct PauseLog {
    std::vector<std::chrono::milliseconds> pauses;
    desktop::Sleeper Sleeper() {
        return [this](std::chrono::milliseconds d) { pauses.push_back(d); };
    }
};

TEST(EnsureLongPathParentDirs, CreatesMissingLevelsAndPausesAfterEach) {
    TempDir tmp;
    PauseLog log;
    EXPECT_EQ(EnsureLongPathParentDirs(Long(tmp / "a/b/c/db.mdb"), log.Sleeper()), 1);
    EXPECT_TRUE(fs::is_directory(tmp / "a/b/c"));
    EXPECT_FALSE(fs::exists(tmp / "a/b/c/db.mdb"));
    EXPECT_EQ(log.pauses, std::vector<std::chrono::milliseconds>(3, kCreateLevelPause));

    // Doubled separators make no empty levels.
    log.pauses.clear();
    EXPECT_EQ(EnsureLongPathParentDirs(Long(tmp.path()) + u"//a//b/d/db.mdb", log.Sleeper()), 1);
    EXPECT_TRUE(fs::is_directory(tmp / "a/b/d"));
    EXPECT_EQ(log.pauses.size(), 1u);

    // Everything there already: nothing created, no pause.
    log.pauses.clear();
    EXPECT_EQ(EnsureLongPathParentDirs(Long(tmp / "a/b/c/other.mdb"), log.Sleeper()), 1);
    EXPECT_TRUE(log.pauses.empty());
}

TEST(EnsureLongPathParentDirs, FailsWhereNoDirectoryCanBe) {
    TempDir tmp;
    PauseLog log;
    EXPECT_EQ(EnsureLongPathParentDirs(u"/db.mdb", log.Sleeper()), 0);  // directly in the root
    EXPECT_EQ(EnsureLongPathParentDirs(u"/a", log.Sleeper()), 0);
    EXPECT_EQ(EnsureLongPathParentDirs(u"relative/dir/db.mdb", log.Sleeper()), 0);

    WriteBytes(tmp / "file", "x");
    EXPECT_EQ(EnsureLongPathParentDirs(Long(tmp / "file/sub/db.mdb"), log.Sleeper()), 0);
    EXPECT_FALSE(fs::is_directory(tmp / "file"));

    // A level of 260 units is refused before anything is created.
    const std::u16string tooLong = Long(tmp / "fresh") + u"/" + std::u16string(260, u'd') + u"/x";
    EXPECT_EQ(EnsureLongPathParentDirs(tooLong, log.Sleeper()), 0);
    EXPECT_FALSE(fs::exists(tmp / "fresh"));
    EXPECT_TRUE(log.pauses.empty());
}

TEST(EnsureLongPathParentDirs, AcceptsAtMost887LevelsCountingTheRoot) {
    TempDir tmp;
    PauseLog log;
    std::size_t levels = 1;  // the root
    for (const auto& part : tmp.path()) {
        if (part != "/") ++levels;
    }
    std::u16string deepest = Long(tmp / "d");
    ++levels;
    while (levels < kMaxPathComponents) {
        deepest += u"/d";
        ++levels;
    }
    EXPECT_EQ(EnsureLongPathParentDirs(deepest + u"/x/db.mdb", log.Sleeper()), 0);
    EXPECT_FALSE(fs::exists(tmp / "d"));
    EXPECT_EQ(EnsureLongPathParentDirs(deepest + u"/db.mdb", log.Sleeper()), 1);
    std::string native = fs::path(deepest).string();
    EXPECT_TRUE(fs::is_directory(native));
}

}  // namespace
}  // namespace mdb::desktop
