// The real mdbscout.exe under Wine, scanning a site tree on a Wine drive (Z:\, the build
// tree): the directory list in GBK names the site with upper-case letters; below it lie a
// Chinese directory and levels that take the path over 260 characters. The store records
// the list entry lower-cased and the names below as the file system spells them, in the
// long-path form, and the console output is GBK text. "mdbcompact batch" then compacts
// the recorded file through our engine.
#include "common/base64.h"
#include "common/filestore.h"
#include "common/utf16.h"
#include "platform/arguments.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "test_support.h"

#include <windows.h>

#include <gtest/gtest.h>

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

// Starts `argv` with its standard output going to the file `outputPath`.
platform::SpawnResult StartWithOutputTo(const std::vector<std::string>& argv,
                                        const std::string& outputPath) {
    HANDLE out =
        CreateFileW(platform::PathFromUtf8(outputPath).c_str(), GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS, 0, nullptr);
    const HANDLE saved = GetStdHandle(STD_OUTPUT_HANDLE);
    SetStdHandle(STD_OUTPUT_HANDLE, out);
    const platform::SpawnResult started = platform::SpawnProcess(argv);
    SetStdHandle(STD_OUTPUT_HANDLE, saved);
    CloseHandle(out);
    return started;
}

TEST(ScannerOnWindows, RecordsLowerCasedLongPathsBelowAWineDriveForTheBatch) {
    std::random_device random;
    // On drive Z: (Wine's view of the host's root), beside the program directory.
    const std::string root =
        platform::Utf8OfPath(kDist.parent_path()) + "\\e2e-" + std::to_string(random());
    const std::string longRoot = "\\\\?\\" + root;
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
    const std::string original = test::ReadWholeFile(kCorpus / "jet4" / "adox_jet4.mdb");
    ASSERT_TRUE(WriteFile(database, original));
    ASSERT_TRUE(
        fs::copy_file(kDist / "mdbscout.exe", platform::PathFromUtf8(program + "mdbscout.exe")));
    ASSERT_TRUE(WriteFile(program + "config\\ScanDir.txt", Gbk(site + "\r\n")));

    const std::string output = root + "\\output.txt";
    const platform::SpawnResult scan =
        StartWithOutputTo({program + "mdbscout.exe", "/FileScan"}, output);
    ASSERT_TRUE(scan.Started()) << scan.error;
    // The scan is over when the closing countdown begins; the window is then closed.
    const std::string countdown = Gbk("秒自动关闭");
    std::string console;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (console.find(countdown) == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        platform::SleepMilliseconds(200);
        console = test::ReadWholeFile(platform::PathFromUtf8(output));
    }
    EXPECT_NE(console.find(countdown), std::string::npos) << console;
    EXPECT_NE(console.find(Gbk("扫描文件 1 - Data.MDB")), std::string::npos) << console;
    platform::TerminateProcess(platform::DescribeProcess(scan.pid));
    platform::WaitForProcess(scan.pid);

    auto store = FileInfoDb::Open(program + "config\\FileInfo.dat");
    ASSERT_TRUE(store);
    std::vector<FileInfoRecord> rows;
    ASSERT_EQ(store->SelectAll(rows), 1);
    ASSERT_EQ(rows.size(), 1u);
    std::string lowered = site;
    for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string expected = "\\\\?\\" + lowered + below + "\\Data.MDB";
    EXPECT_EQ(Utf16ToUtf8(Utf16FromLeBytes(Base64Decode(rows[0].filepath))), expected);
    EXPECT_EQ(Utf16ToUtf8(Utf16FromLeBytes(Base64Decode(rows[0].filename))), "Data.MDB");
    store.reset();

    std::error_code ec;
    // A database of the site compacted by our engine through "mdbcompact batch", as the
    // window runs it: backed up below the backup root, compacted, verified, put back.
    ASSERT_TRUE(WriteFile(site + "\\Short.mdb", original));
    ASSERT_TRUE(fs::copy_file(kDist / "mdbcompact.exe",
                              platform::PathFromUtf8(program + "mdbcompact.exe")));
    const std::string backupRoot = root + "\\backup\\";
    const platform::SpawnResult batch = StartWithOutputTo(
        {program + "mdbcompact.exe", "batch", "--no-web-server", "--backup-root", backupRoot,
         site + "\\Short.mdb"},
        root + "\\batch.txt");
    ASSERT_TRUE(batch.Started());
    EXPECT_EQ(platform::WaitForProcessFor(batch.pid, std::chrono::minutes(5)), 0)
        << test::ReadWholeFile(platform::PathFromUtf8(root + "\\batch.txt"));
    bool backedUp = false;
    for (const auto& entry : fs::recursive_directory_iterator(
             platform::PathFromUtf8("\\\\?\\" + backupRoot), ec))
        backedUp = backedUp || (entry.path().filename() == L"Short.mdb" &&
                                test::ReadWholeFile(entry.path()) == original);
    EXPECT_TRUE(backedUp) << "no backup equal to the original";
    EXPECT_TRUE(test::ReadWholeFile(platform::PathFromUtf8(site + "\\Short.mdb"))
                    .starts_with(original.substr(0, 32)));

    fs::remove_all(platform::PathFromUtf8(longRoot), ec);
}

}  // namespace
}  // namespace mdb
