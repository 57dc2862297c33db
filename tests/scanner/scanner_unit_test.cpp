#include "common/base64.h"
#include "common/filestore.h"
#include "common/i18n.h"
#include "common/runlog.h"
#include "common/settings.h"
#include "common/utf16.h"
#include "scanner/entry.h"
#include "scanner/filescan.h"
#include "scanner/header.h"
#include "test_support.h"

#include <pthread.h>

#include <gtest/gtest.h>

namespace mdb::scanner {
namespace {

namespace fs = std::filesystem;

const fs::path kCorpus = MDB_CORPUS_DIR;

std::vector<std::uint8_t> FirstBytes(const fs::path& path, size_t n) {
    const std::string data = test::ReadWholeFile(path).substr(0, n);
    return {data.begin(), data.end()};
}

TEST(JetSignature, AcceptsJet3AndJet4AndRefusesLaterFormats) {
    for (const char* dir : {"jet3", "jet4"})
        for (const auto& entry : fs::directory_iterator(kCorpus / dir))
            EXPECT_TRUE(IsJetSignature(FirstBytes(entry.path(), 64))) << entry.path();
    for (const auto& entry : fs::directory_iterator(kCorpus / "other"))
        EXPECT_FALSE(IsJetSignature(FirstBytes(entry.path(), 64))) << entry.path();

    auto header = FirstBytes(kCorpus / "jet4/testV2000.mdb", 64);
    EXPECT_FALSE(IsJetSignature(std::span(header).first(22)));
    header[0x14] = 2;  // a version byte no Jet 3/4 file has
    EXPECT_FALSE(IsJetSignature(header));
    header[0x14] = 0;
    EXPECT_TRUE(IsJetSignature(header));
    header[6] = 'x';
    EXPECT_FALSE(IsJetSignature(header));
}

TEST(ReadFileHeader, ReadsRegularFilesOnlyAndNeverThroughLinks) {
    test::TempDir dir;
    fs::copy_file(kCorpus / "jet4/emptyJet4.mdb", dir / "a.mdb");
    fs::create_symlink(dir / "a.mdb", dir / "link.mdb");
    mkfifo((dir / "pipe.mdb").c_str(), 0644);
    std::array<std::uint8_t, kHeaderBytes> buffer{};
    std::uint64_t size = 0;
    size_t n = 0;
    ASSERT_EQ(ReadFileHeader(dir / "a.mdb", buffer, size, n), 1);
    EXPECT_EQ(n, 64u);
    EXPECT_EQ(size, fs::file_size(dir / "a.mdb"));
    EXPECT_TRUE(IsJetSignature(buffer));
    EXPECT_EQ(ReadFileHeader(dir / "link.mdb", buffer, size, n), 0);
    EXPECT_EQ(ReadFileHeader(dir / "pipe.mdb", buffer, size, n), 0);  // must not block
    EXPECT_EQ(ReadFileHeader("a.mdb", buffer, size, n), 0);
}

TEST(Countdown, CountsFrom29DownTo0OneSecondApart) {
    std::string out;
    std::vector<unsigned> sleeps;
    int flushes = 0;
    EXPECT_EQ(ShowCloseCountdown([&](std::string_view t) { out.append(t); }, [&] { ++flushes; },
                                 [&](unsigned ms) { sleeps.push_back(ms); }),
              1);
    EXPECT_EQ(sleeps, std::vector<unsigned>(30, 1000));
    std::string expected = "\r\n\r\n\r\n";
    for (int v = 29; v >= 0; --v) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%2d", v);
        expected += std::string("请点右上角“×”关闭当前窗口；或稍候 ") + buf + " 秒自动关闭 ...\r";
    }
    EXPECT_EQ(out, expected);
    EXPECT_GE(flushes, 30);
}

// The line is redrawn after a bare "\r": one longer than the console (80 columns unless
// the user widened it) wraps, and every redraw then starts a new line. "×" takes two
// columns on a Chinese console.
TEST(Countdown, TheEnglishLineFitsAnEightyColumnConsole) {
    ASSERT_EQ(i18n::UseLanguage("en", MDB_DIST_DIR), "en");
    std::vector<std::string> parts;
    ShowCloseCountdown([&](std::string_view t) { parts.emplace_back(t); }, [] {}, [](unsigned) {});
    i18n::UseLanguage("zh_CN", MDB_DIST_DIR);
    ASSERT_GE(parts.size(), 2u);
    const std::string& line = parts[1];
    std::size_t columns = 0;
    for (const char c : line) columns += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    columns += line.find("×") != std::string::npos;
    EXPECT_LT(columns, 80u) << line;
}

struct FakeRun {
    std::string console;
    int keyWaits = 0;
    std::vector<unsigned> sleeps;
    EntryHooks Hooks(std::optional<std::string> module) {
        EntryHooks h;
        h.moduleFileName = [module] { return module; };
        h.sleep = [this](unsigned ms) { sleeps.push_back(ms); };
        h.console = [this](std::string_view t) { console.append(t); };
        h.flush = [] {};
        h.waitForKey = [this] { ++keyWaits; };
        return h;
    }
};

TEST(ScannerEntry, CommandLineFailuresPrintWaitForAKeyAndEndWithZero) {
    struct Case {
        std::vector<const char*> argv;
        std::string text;
    };
    const Case cases[] = {
        {{"mdbscout"}, "\r\n未输入启动参数，运行失败！"},
        {{"mdbscout", "/FileScan", "extra"}, "\r\n未输入启动参数，运行失败！"},
        {{"mdbscout", nullptr}, "\r\n输入的启动参数有错误（argv[1] == NULL），运行失败！"},
        {{"mdbscout", "/Scan"}, "\r\n输入的启动参数有错误，命令未知，运行失败！"},
        {{"mdbscout", "FileScan"}, "\r\n输入的启动参数有错误，命令未知，运行失败！"},
    };
    for (const Case& c : cases) {
        FakeRun run;
        EXPECT_EQ(ScannerMain(static_cast<int>(c.argv.size()), c.argv.data(),
                              run.Hooks("/opt/x/mdbscout")),
                  0);
        EXPECT_EQ(run.console, c.text);
        EXPECT_EQ(run.keyWaits, 1);
        EXPECT_TRUE(run.sleeps.empty());
    }
}

TEST(ScannerEntry, MissingModuleNameFailsAfterTheBanner) {
    FakeRun run;
    const char* argv[] = {"mdbscout", "/filescan"};
    EXPECT_EQ(ScannerMain(2, argv, run.Hooks(std::nullopt)), 0);
    EXPECT_NE(run.console.find("Veloran Quarnet·MDB 文件扫描服务"), std::string::npos);
    EXPECT_TRUE(run.console.ends_with(
        "\r\n函数 GetModuleFileName( NULL, szPathTemp, sizeof(szPathTemp)) 失败！"));
    EXPECT_EQ(run.keyWaits, 1);
}

TEST(ScannerEntry, ACopyUnderAnotherNameEndsSilently) {
    test::TempDir dir;
    FakeRun run;
    const char* argv[] = {"x", "/FileScan"};
    EXPECT_EQ(ScannerMain(2, argv, run.Hooks(dir / "scanner-copy")), 0);
    EXPECT_EQ(run.keyWaits, 0);
    EXPECT_TRUE(run.sleeps.empty());
    EXPECT_TRUE(run.console.ends_with("┛\r\n\r\n\r\n"));  // the banner, nothing after it
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(ScannerProgramDir, ComparesOnlyTheEndOfTheName) {
    EXPECT_EQ(ScannerProgramDir("/opt/tools/mdbscout"), "/opt/tools/");
    EXPECT_EQ(ScannerProgramDir("/opt/tools/OLDMDBSCOUT"), "/opt/tools/");
    EXPECT_EQ(ScannerProgramDir("/opt/mdbscout/scanner"), std::nullopt);
    EXPECT_EQ(ScannerProgramDir("/opt/tools/mdbscout.bak"), std::nullopt);
    EXPECT_EQ(ScannerProgramDir("/" + std::string(260, 'a') + "/mdbscout"), std::nullopt);
}

class ScannerRun : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(prog.path() / "config");
        db = FileInfoDb::Open(prog / "config/FileInfo.dat");
        ASSERT_TRUE(db);
    }
    FileScanner MakeScanner() {
        return FileScanner(prog.dir(), db.get(), [this](std::string_view t) { console.append(t); });
    }
    void WriteList(const std::string& text) {
        test::WriteWholeFile(prog / "config/ScanDir.txt", text);
    }
    size_t RowCount() {
        std::vector<FileInfoRecord> rows;
        auto reader = FileInfoDb::Open(prog / "config/FileInfo.dat");  // a second connection
        reader->SelectAll(rows);
        return rows.size();
    }
    test::TempDir prog;
    test::TempDir site;
    std::unique_ptr<FileInfoDb> db;
    std::string console;
};

TEST_F(ScannerRun, TheScanTableHolds999UsableEntriesInListOrder) {
    std::string list = ";comment\r\n" + std::string(300, 'x') + "\r\nrelative/dir\r\n";
    for (int i = 0; i < 1005; ++i) list += "/srv/site" + std::to_string(i) + "\r\n";
    WriteList(list);
    FileScanner scanner = MakeScanner();
    EXPECT_EQ(scanner.LoadScanDirTable(), 1);
    EXPECT_EQ(scanner.DirectoryList().size(), 1007u);
    const auto& table = scanner.ScanTable();
    EXPECT_EQ(table[0].path, "relative/dir");
    EXPECT_EQ(table[1].path, "/srv/site0");
    EXPECT_EQ(table[998].path, "/srv/site997");
    EXPECT_TRUE(std::all_of(table.begin(), table.end(), [](auto& s) { return s.inUse; }));
    EXPECT_EQ(scanner.ScanDirectory("relative/dir"), 0);
    EXPECT_EQ(scanner.ScanDirectory("/srv/site0-does-not-exist"), 0);
    EXPECT_NE(console.find("\r\n无法扫描目录 relative/dir：不是绝对路径"), std::string::npos);
    EXPECT_NE(console.find("\r\n无法扫描目录 /srv/site0-does-not-exist：不存在"), std::string::npos);

    // Every entry is listed; what is left out of the walk is said.
    FileScanner run = MakeScanner();
    run.RunFileScan();
    EXPECT_NE(console.find("当前填写的扫描目录 1007 - /srv/site1004"), std::string::npos);
    EXPECT_NE(console.find("\r\n扫描目录 1 超过 259 个字节，未扫描：xxx"), std::string::npos);
    EXPECT_NE(console.find("\r\n目录列表共有 1007 个目录，只扫描前 999 个可用目录，从第 1001 "
                           "个起未扫描"),
              std::string::npos);
}

TEST_F(ScannerRun, TheResultIsThatOfTheLastListedDirectory) {
    WriteList(site.dir() + "\r\n/no/such/dir\r\n");
    EXPECT_EQ(MakeScanner().RunFileScan(), 0);
    WriteList("/no/such/dir\r\n" + site.dir() + "\r\n");
    EXPECT_EQ(MakeScanner().RunFileScan(), 1);
    WriteList("; nothing\r\n");
    EXPECT_EQ(MakeScanner().RunFileScan(), 0);
    EXPECT_NE(console.find("\r\n未设置需要扫描的目录，例如“/var/www”，请设置一个需要扫描的目录！"),
              std::string::npos);
}

// The batch's temporary copies and the originals it puts aside hold Jet files too, but
// are no site's databases: a scan records the database beside them alone.
TEST_F(ScannerRun, TheBatchsOwnTemporaryAndAsideFilesAreNotRecorded) {
    const fs::path sample = kCorpus / "jet4/emptyJet4.mdb";
    for (const std::string& name : {std::string("data.mdb"), std::string("data.mdb.replaced-abcdefghij12"),
                                    std::string(".data.mdb.mdbwarden-abcdefghij12.tmp")})
        fs::copy_file(sample, site.path() / name);
    WriteList(site.dir() + "\r\n");
    MakeScanner().RunFileScan();
    std::vector<FileInfoRecord> rows;
    ASSERT_EQ(db->SelectAll(rows), 1);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].filename, Base64EncodeText(Utf16LeBytes(u"data.mdb")));
}

TEST_F(ScannerRun, EveryTenthRowIsCommittedAndSignalled) {
    const fs::path db4 = site.path() / "a.mdb";
    fs::copy_file(kCorpus / "jet4/emptyJet4.mdb", db4);
    const std::string ini = SettingsPathIn(prog.dir());
    FileScanner scanner = MakeScanner();
    const auto size = fs::file_size(db4);
    // The size seen in the listing may be out of date by the time the file is read.
    const auto listed = size + 4096;
    for (int round = 1; round <= 2; ++round) {
        for (int i = 0; i < 9; ++i) ASSERT_EQ(scanner.InsertFileRecord(db4, "a.mdb", listed), 1);
        EXPECT_EQ(ReadSettingKey(ini, kKeyRefScanLog), 0u);
        ASSERT_EQ(scanner.InsertFileRecord(db4, "a.mdb", size), 1);
        EXPECT_EQ(ReadSettingKey(ini, kKeyRefScanLog), 1u);
        EXPECT_EQ(RowCount(), 10u * round);         // visible to another connection
        WriteSettingKey(ini, kKeyRefScanLog, "0");  // as the desktop's watcher does
    }
    EXPECT_EQ(scanner.RowSequence(), 20u);
    std::vector<FileInfoRecord> rows;
    db->SelectAll(rows);
    for (const FileInfoRecord& row : rows) EXPECT_EQ(row.filesize, size);
    // Gate: size, a dot in the name, content; a file cut below the limit since it was listed.
    EXPECT_EQ(scanner.ProcessFoundFile(site.path(), "a", db4, size), 0);
    EXPECT_EQ(scanner.InsertFileRecord(db4, "a.mdb", 61440), 0);
    fs::permissions(db4, fs::perms::owner_write, fs::perm_options::add);
    fs::resize_file(db4, 4096);
    EXPECT_EQ(scanner.InsertFileRecord(db4, "a.mdb", listed), 0);
    EXPECT_EQ(scanner.RowSequence(), 20u);
    EXPECT_EQ(scanner.DatabaseFiles(), 20u);
}

// Another program holding the store's write lock: rows wait in memory while the walk goes on
// and are written once the lock is free; rows that still cannot be written at the end are
// said, not counted as recorded, and make the run's result 2.
TEST_F(ScannerRun, RowsTheStoreRefusesAreRetriedAndNeverDroppedSilently) {
    for (int i = 0; i < 12; ++i)
        fs::copy_file(kCorpus / "jet4/emptyJet4.mdb", site.path() / ("db" + std::to_string(i) + ".mdb"));
    WriteList(site.dir() + "\r\n");
    SetRunLogDirectory(prog.dir());
    db->SetBusyTimeout(50);  // the program waits kStoreBusyTimeoutMs; a test need not
    auto holder = FileInfoDb::Open(prog / "config/FileInfo.dat");
    ASSERT_EQ(holder->Begin(), 1);

    FileScanner stuck = MakeScanner();
    EXPECT_EQ(stuck.RunFileScan(), kResultRowsNotRecorded);
    EXPECT_EQ(stuck.NotRecorded(), 12u);
    EXPECT_NE(console.find("其中MDB数据库文件 12 个"), std::string::npos);
    const std::string said = "\r\n读取数据库时发生错误，请重试！\r\n原因：数据库被其他程序锁定"
                             "，等待 10 秒后仍未释放\r\n有 12 个数据库文件未能记录到数据库中，"
                             "请稍后重新扫描！";
    EXPECT_NE(console.find(said), std::string::npos) << console;
    const std::string log = test::ReadWholeFile(prog / "__mdbscout.log");
    EXPECT_NE(log.find(" - 有 12 个数据库文件未能记录到数据库中"), std::string::npos) << log;
    EXPECT_EQ(RowCount(), 0u);

    // The lock is let go once the scanner has said it will try again.
    console.clear();
    FileScanner waiting(prog.dir(), db.get(), [&](std::string_view text) {
        console.append(text);
        if (text.find("稍后重试") != std::string_view::npos) holder->Rollback();
    });
    EXPECT_EQ(waiting.RunFileScan(), 1);
    EXPECT_NE(console.find("数据库暂时无法写入"), std::string::npos);
    EXPECT_NE(console.find("条记录已写入数据库"), std::string::npos) << console;
    EXPECT_EQ(waiting.NotRecorded(), 0u);
    EXPECT_EQ(RowCount(), 12u);
}

// The walk runs on a thread with a small stack: a walk that recursed once per level would
// overflow it long before the bottom of this tree.
TEST_F(ScannerRun, ADeepTreeDoesNotExhaustTheStack) {
    fs::path deep = site.path();
    for (int i = 0; i < 1500; ++i) {
        deep /= "d";
        fs::create_directory(deep);
    }
    fs::copy_file(kCorpus / "jet3/testV1997.mdb", deep / "bottom.mdb");
    struct Job {
        FileScanner* scanner;
        int result = -1;
    };
    WriteList(site.dir() + "\r\n");
    FileScanner scanner = MakeScanner();
    Job job{&scanner};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 64 * 1024);
    pthread_t thread;
    ASSERT_EQ(pthread_create(
                  &thread, &attr,
                  [](void* p) -> void* {
                      auto* j = static_cast<Job*>(p);
                      j->result = j->scanner->RunFileScan();
                      return nullptr;
                  },
                  &job),
              0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    EXPECT_EQ(job.result, 1);
    EXPECT_EQ(scanner.FilesSeen(), 1u);
    EXPECT_EQ(scanner.DatabaseFiles(), 1u);
    EXPECT_EQ(RowCount(), 1u);
}

// Ended from outside in the middle of a walk (the window closed, or the desktop program
// stopped the scan), the scanner keeps every row it inserted, committed or not yet.
TEST_F(ScannerRun, EndingTheProcessMidWalkKeepsTheRowsInsertedSoFar) {
    for (int i = 0; i < 15; ++i)
        fs::copy_file(kCorpus / "jet4/emptyJet4.mdb",
                      site.path() / ("db" + std::to_string(i) + ".mdb"));
    WriteList(site.dir() + "\r\n");
    const pid_t child = fork();
    if (child == 0) {
        db.reset();
        auto own = FileInfoDb::Open(prog / "config/FileInfo.dat");
        FileScanner scanner(prog.dir(), own.get(), [](std::string_view text) {
            if (text.find("扫描文件 7 - ") != std::string_view::npos) kill(getpid(), SIGTERM);
        });
        scanner.RunFileScan();
        _exit(0);  // not reached: the request to end is carried out
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
    EXPECT_EQ(RowCount(), 7u);  // the seventh file was being handled when the request came
}

}  // namespace
}  // namespace mdb::scanner
