// Removing old backup runs, on every system: only the program's own runs past their
// time, with whatever they hold however deep, and nothing a link points to.
#include "batch/backup_retention.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "platform/arguments.h"
#include "platform/files.h"
#include "platform/safe_files.h"
#include "tests/common/test_support.h"

namespace mdb {
namespace {

namespace fs = std::filesystem;

// A backup run `date`/`time` below `root`, marked as the program's when `marked`, holding
// a site's copy below folders deep enough to pass 260 characters (made through handles,
// which know no length limit).
fs::path MakeRun(const fs::path& root, const std::string& date, const std::string& time,
                 bool marked) {
    const fs::path run = root / date / time;
    fs::create_directories(run);
    if (marked) batch::MarkRunDirectory(run);
    platform::FileHandle dir = platform::OpenDirectoryNoLinks(run);
    for (int level = 0; level < 12 && dir.Valid(); ++level)
        dir = platform::OpenOrCreateSubdirectory(dir, "网站数据目录-" + std::to_string(level) + "-abcdefghij");
    std::string name;
    EXPECT_TRUE(platform::CreateUniqueFile(dir, "data", ".mdb", 0644, name).Valid());
    return run;
}

std::time_t Day(int year, int month, int day) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = 12;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

TEST(BackupRetention, OldRunsOfTheProgramGoWholeAndNothingElse) {
    test::TempDir temp;
    const fs::path root = temp.path() / "qor_mdb_backup";
    const fs::path oldRun = MakeRun(root, "2020-01-01", "10-00-00", true);
    const fs::path foreign = MakeRun(root, "2020-01-01", "11-00-00", false);
    const fs::path aloneOld = MakeRun(root, "2020-01-03", "09-00-00", true);
    const fs::path current = MakeRun(root, "2020-01-04", "08-00-00", true);
    const fs::path recent = MakeRun(root, "2020-02-20", "10-00-00", true);
#ifndef _WIN32
    // A link inside an old run to a site folder: the link goes, the site file stays.
    const fs::path site = temp.path() / "site";
    fs::create_directories(site);
    test::WriteWholeFile(site / "live.mdb", "live");
    fs::create_directory_symlink(site, oldRun / "link");
#endif

    EXPECT_EQ(batch::RemoveOldBackupRuns(root, 30, current, Day(2020, 3, 1)), 2);
    EXPECT_FALSE(fs::exists(oldRun)) << "an old run goes with its deep folders";
    EXPECT_FALSE(fs::exists(aloneOld.parent_path())) << "a date folder left empty goes";
    EXPECT_TRUE(fs::exists(foreign)) << "a folder the program did not mark stays";
    EXPECT_TRUE(fs::exists(current)) << "the batch's own run stays";
    EXPECT_TRUE(fs::exists(recent)) << "a run younger than the limit stays";
#ifndef _WIN32
    EXPECT_EQ(test::ReadWholeFile(site / "live.mdb"), "live");
#endif
}

// Another program directory's batch shares the backup root: its run, however old its
// name (a clock set back, --keep-backups 0), stays while its marker is held.
TEST(BackupRetention, ARunThatIsStillGoingStays) {
    test::TempDir temp;
    const fs::path root = temp.path() / "qor_mdb_backup";
    const fs::path going = MakeRun(root, "2020-01-01", "10-00-00", true);
    const fs::path current = MakeRun(root, "2020-01-04", "08-00-00", true);
    {
        platform::SharedFile held;  // as the other batch holds it
        ASSERT_EQ(held.Open(platform::Utf8OfPath(going / batch::kRunMarker),
                            platform::OpenMode::WriteExclusiveCreate),
                  platform::OpenResult::Ok);
        EXPECT_EQ(batch::RemoveOldBackupRuns(root, 0, current, Day(2020, 3, 1)), 0);
        EXPECT_TRUE(fs::exists(going / batch::kRunMarker));
    }
    EXPECT_EQ(batch::RemoveOldBackupRuns(root, 0, current, Day(2020, 3, 1)), 1);
    EXPECT_FALSE(fs::exists(going));
}

// Another install's batch sharing the root has just made a level and is about to make
// the next one in it: the date of its run directory, or temp/ of its working folders.
// Neither the clean-up of a killed run nor retention removes such an empty level; they
// did, and the other batch's next level failed (its working copy: its file was left
// uncompacted with 跳过：无法建立工作副本).
TEST(BackupRetention, LevelsAnotherBatchIsMakingStay) {
    test::TempDir temp;
    const fs::path root = temp.path() / "qor_mdb_backup";
    const fs::path old = MakeRun(root, "2020-01-01", "10-00-00", true);
    const fs::path current = MakeRun(root, "2020-01-04", "08-00-00", true);
    fs::create_directories(root / "temp");
    fs::create_directories(root / "2020-01-05");
    batch::RemoveDeadRunLeftovers(root);
    EXPECT_EQ(batch::RemoveOldBackupRuns(root, 0, current, Day(2020, 3, 1)), 1);
    EXPECT_FALSE(fs::exists(old.parent_path())) << "the date folder retention emptied goes";
    EXPECT_TRUE(fs::is_directory(root / "temp"));
    EXPECT_TRUE(fs::is_directory(root / "2020-01-05"));
}

#ifndef _WIN32
// A file system mounted inside an old run (by mistake, or a backup disk) is not entered.
TEST(BackupRetention, AFileSystemMountedInsideARunIsLeftWhole) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to mount";
    test::TempDir temp;
    const fs::path root = temp.path() / "qor_mdb_backup";
    const fs::path old = MakeRun(root, "2020-01-01", "10-00-00", true);
    const fs::path mount = old / "mounted";
    fs::create_directories(mount);
    if (std::system(("mount -t tmpfs mdbw-test " + mount.string() + " 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "cannot mount here";
    test::WriteWholeFile(mount / "other.mdb", "not the run's");
    batch::RemoveOldBackupRuns(root, 30, root / "none", Day(2020, 3, 1));
    const bool kept = fs::exists(mount / "other.mdb");
    std::system(("umount " + mount.string()).c_str());
    EXPECT_TRUE(kept) << "retention removed files of another file system";
}
#endif

}  // namespace
}  // namespace mdb
