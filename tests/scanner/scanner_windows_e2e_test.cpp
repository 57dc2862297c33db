// The real mdbscout.exe under Wine, put where the Windows original's store (an Access
// file) lies, which it takes over, scanning a site tree on a Wine drive (Z:\, the build
// tree): the directory list in GBK names the site with upper-case letters; below it lie a
// Chinese directory and levels that take the path over 260 characters. The store records
// the list entry lower-cased and the names below as the file system spells them, in the
// long-path form, and the redirected console output is UTF-8 text with CR LF line ends
// (as mdbcompact.exe's). "mdbcompact batch --dry-run --all" reads the recorded files (a
// Chinese directory on their paths), "--all" then backs them up below a long backup root
// and compacts them through our engine, the long-path one included.
#include "common/base64.h"
#include "common/filestore.h"
#include "common/utf16.h"
#include "platform/arguments.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/safe_files.h"
#include "output_to_file_win32.h"
#include "test_support.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>

namespace mdb {
namespace {

namespace fs = std::filesystem;

const fs::path kCorpus = fs::path(MDB_CORPUS_DIR).make_preferred();
const fs::path kDist = fs::path(MDB_DIST_DIR).make_preferred();

std::string Gbk(const std::string& utf8) {
    return platform::SystemCodePageFromUtf8(utf8);
}

bool WriteFile(const std::string& path, const std::string& bytes) {
    platform::SharedFile file;
    return file.Open(path, platform::OpenMode::WriteExclusiveCreate) == platform::OpenResult::Ok &&
           file.Truncate() && file.Append(bytes);
}

TEST(ScannerOnWindows, RecordsLowerCasedLongPathsBelowAWineDriveForTheBatch) {
    std::random_device random;
    // On drive Z: (Wine's view of the host's root), beside the program directory.
    const std::string root =
        platform::Utf8OfPath(kDist.parent_path()) + "\\e2e-" + std::to_string(random());
    const std::string program = root + "\\prog\\";
    const std::string site = root + "\\Sites\\SiteA";
    std::string below = "\\数据库\\" + std::string(100, 'L') + "\\" + std::string(100, 'm');
    for (const std::string& dir : {root, program, program + "config", root + "\\Sites", site})
        ASSERT_TRUE(platform::MakeDirectory(dir)) << dir;
    std::string level = "\\\\?\\" + site;
    for (const std::string& part :
         {std::string("\\数据库"), "\\" + std::string(100, 'L'), "\\" + std::string(100, 'm')}) {
        level += part;
        ASSERT_TRUE(platform::MakeDirectory(level)) << level;
    }
    const std::string database = level + "\\Data.MDB";
    ASSERT_GT(database.size() - 4, 260u);
    const std::string original = test::ReadWholeFile(kCorpus / "jet4" / "delTestV2000.mdb");
    ASSERT_TRUE(WriteFile(database, original));
    ASSERT_TRUE(WriteFile(site + "\\Short.mdb", original));
    ASSERT_TRUE(
        fs::copy_file(kDist / "mdbscout.exe", platform::PathFromUtf8(program + "mdbscout.exe")));
    ASSERT_TRUE(WriteFile(program + "config\\ScanDir.txt", Gbk(site + "\r\n")));
    // Put where the Windows original ran: its store (an Access file) is taken over first.
    const fs::path accessStore = fs::path(MDB_SOURCE_DIR) / "tests/fixtures/FileInfo-access.dat";
    ASSERT_TRUE(WriteFile(program + "config\\FileInfo.dat", test::ReadWholeFile(accessStore)));

    const std::string output = root + "\\output.txt";
    const platform::SpawnResult scan =
        test::StartWithOutputTo({program + "mdbscout.exe", "/FileScan"}, output);
    ASSERT_TRUE(scan.Started()) << scan.error;
    // The scan is over when the closing countdown begins; the window is then closed.
    const std::string countdown = "秒自动关闭";
    std::string console;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (console.find(countdown) == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        platform::SleepMilliseconds(200);
        console = test::ReadWholeFile(platform::PathFromUtf8(output));
    }
    EXPECT_NE(console.find(countdown), std::string::npos) << console;
    EXPECT_NE(console.find(" - Data.MDB"), std::string::npos) << console;
    EXPECT_NE(console.find("（Access 格式，40 条记录）转换为本程序的格式，原文件保留为“" + program +
                           "config\\FileInfo.access.mdb”"),
              std::string::npos)
        << console;
    EXPECT_TRUE(test::ReadWholeFile(platform::PathFromUtf8(
                    program + "config\\FileInfo.access.mdb")) == test::ReadWholeFile(accessStore));
    // Every line ends with CR LF once, as on Linux.
    EXPECT_NE(console.find("\r\n"), std::string::npos);
    EXPECT_EQ(console.find("\r\r"), std::string::npos) << console;
    platform::TerminateProcess(platform::DescribeProcess(scan.pid));
    platform::WaitForProcess(scan.pid);

    auto store = FileInfoDb::Open(program + "config\\FileInfo.dat");
    ASSERT_TRUE(store);
    std::vector<FileInfoRecord> rows;
    ASSERT_EQ(store->SelectAll(rows), 1);
    ASSERT_EQ(rows.size(), 2u);
    std::string lowered = site;
    for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::vector<std::string> paths;
    for (const auto& row : rows)
        paths.push_back(Utf16ToUtf8(Utf16FromLeBytes(Base64Decode(row.filepath))).value_or(""));
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (std::vector<std::string>{"\\\\?\\" + lowered + "\\Short.mdb",
                                               "\\\\?\\" + lowered + below + "\\Data.MDB"}));
    store.reset();

    // The recorded databases compacted by our engine through "mdbcompact batch", as the
    // window runs it: backed up below a backup root with a Chinese name, itself longer than
    // 260 characters (its run folder, working folders and backups only in the long form)
    // and written with '/', compacted, verified, put back.
    ASSERT_TRUE(fs::copy_file(kDist / "mdbcompact.exe",
                              platform::PathFromUtf8(program + "mdbcompact.exe")));
    const std::string backupRoot =
        root + "\\备份\\" + std::string(130, 'b') + "\\" + std::string(130, 'c') + "\\";
    ASSERT_GT(backupRoot.size(), 260u);
    // The long form takes no doubled separator: its levels without the trailing one.
    const std::string longBackupRoot = "\\\\?\\" + backupRoot.substr(0, backupRoot.size() - 1);
    const std::string batchOutput = root + "\\batch.txt";
    const platform::SpawnResult dryRun = test::StartWithOutputTo(
        {program + "mdbcompact.exe", "batch", "--dry-run", "--all"}, batchOutput);
    ASSERT_TRUE(dryRun.Started());
    EXPECT_EQ(platform::WaitForProcessFor(dryRun.pid, std::chrono::minutes(2)), 0);
    const std::string dryOutput = test::ReadWholeFile(platform::PathFromUtf8(batchOutput));
    EXPECT_NE(dryOutput.find("dry run: 2 files"), std::string::npos) << dryOutput;
    EXPECT_NE(dryOutput.find(lowered.substr(3) + below + "\\Data.MDB  pages "), std::string::npos)
        << dryOutput;
    EXPECT_EQ(dryOutput.find("未压缩"), std::string::npos) << dryOutput;
    // Given with '/' separators, as administrators also write paths.
    std::string backupRootArgument = backupRoot;
    std::replace(backupRootArgument.begin(), backupRootArgument.end(), '\\', '/');
    const platform::SpawnResult batch =
        test::StartWithOutputTo({program + "mdbcompact.exe", "batch", "--no-web-server",
                                 "--backup-root", backupRootArgument, "--all"},
                                batchOutput);
    ASSERT_TRUE(batch.Started());
    EXPECT_EQ(platform::WaitForProcessFor(batch.pid, std::chrono::minutes(5)), 0)
        << test::ReadWholeFile(platform::PathFromUtf8(batchOutput));
    EXPECT_NE(test::ReadWholeFile(platform::PathFromUtf8(batchOutput))
                  .find("compacted 2, not compacted 0"),
              std::string::npos);
    // One run directory (date, then time) holding each site file at its own path without
    // the drive; the long one only through the long-path form. Listed through handles:
    // the path functions take no path this long.
    const auto list = [](const platform::FileHandle& dir) {
        std::vector<platform::DirectoryEntry> entries;
        platform::ListDirectory(dir, entries);
        return entries;
    };
    platform::FileHandle rootDir = platform::OpenDirectoryNoLinks(platform::PathFromUtf8(backupRoot));
    std::vector<std::string> runDirs;
    for (const auto& day : list(rootDir)) {
        if (day.name == "temp") continue;  // the working folders' place
        for (const auto& time : list(platform::OpenSubdirectory(rootDir, day.name)))
            if (time.status.directory)
                runDirs.push_back(longBackupRoot + "\\" + day.name + "\\" + time.name);
    }
    ASSERT_EQ(runDirs.size(), 1u);
    const std::string& runDir = runDirs[0];
    const std::string siteBelowDrive = site.substr(3);
    for (const std::string& backup : {runDir + "\\" + siteBelowDrive + "\\Short.mdb",
                                      runDir + "\\" + siteBelowDrive + below + "\\Data.MDB"})
        EXPECT_TRUE(test::ReadWholeFile(platform::PathFromUtf8(backup)) == original)
            << backup << " is not a copy of the original";
    for (const std::string& compacted : {database, site + "\\Short.mdb"}) {
        const std::string bytes = test::ReadWholeFile(platform::PathFromUtf8(compacted));
        // Our engine gives this file back smaller, in the same format.
        EXPECT_TRUE(bytes.starts_with(original.substr(0, 32))) << compacted;
        EXPECT_LT(bytes.size(), original.size()) << compacted << " was not replaced";
    }
    // The working folders are gone: each program directory's folder in temp is empty.
    platform::FileHandle temp = platform::OpenSubdirectory(rootDir, "temp");
    for (const auto& install : list(temp))
        EXPECT_TRUE(list(platform::OpenSubdirectory(temp, install.name)).empty()) << install.name;
    temp = platform::FileHandle();  // Windows removes no directory that is open
    rootDir = platform::FileHandle();

    test::RemoveTree(platform::PathFromUtf8(root));
}

}  // namespace
}  // namespace mdb
