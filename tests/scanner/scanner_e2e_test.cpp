// The real mdbscout, copied into a temporary program directory, scanning a site tree built
// from copies of the sample databases.

#include "common/base64.h"
#include "common/filestore.h"
#include "common/settings.h"
#include "common/utf16.h"
#include "test_support.h"

#include <openssl/md5.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <map>
#include <regex>
#include <set>

namespace mdb {
namespace {

namespace fs = std::filesystem;

const fs::path kCorpus = MDB_CORPUS_DIR;
const fs::path kProgram = fs::path(MDB_DIST_DIR) / "mdbscout";
constexpr uid_t kNobody = 65534;
constexpr char kCountdownStart[] = "请点右上角“×”关闭当前窗口；或稍候 29 秒自动关闭 ...";

struct Outcome {
    std::string output;
    int exitCode = -1;     // -1: ended by a signal
    bool stopped = false;  // we sent SIGTERM at the marker
};

// Runs `exe` with `args`, standard input from /dev/null. With a `stopAt` marker the program
// is sent SIGTERM once its output shows the marker, as a user closing the window would. A
// program still running after `deadlineSeconds` is killed (then `exitCode` is -1). With
// `asNobody`, a test run as root runs the program as the unprivileged user nobody, for whom
// file permissions hold.
Outcome RunProgram(const fs::path& exe, const std::vector<std::string>& args,
                   const std::string& stopAt = "", int deadlineSeconds = 120,
                   bool asNobody = false) {
    int out[2];
    if (pipe(out) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        const int devnull = open("/dev/null", O_RDONLY);
        dup2(devnull, 0);
        dup2(out[1], 1);
        dup2(out[1], 2);
        close(out[0]);
        if (asNobody && geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0))
            _exit(126);
        std::vector<char*> argv;
        std::string argv0 = exe.string();
        argv.push_back(argv0.data());
        std::vector<std::string> copy = args;
        for (auto& a : copy) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv0.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    Outcome outcome;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(deadlineSeconds);
    for (;;) {
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, 1000) < 0) break;
        char buf[65536];
        const ssize_t n = (p.revents & (POLLIN | POLLHUP)) ? read(out[0], buf, sizeof buf) : 1;
        if (n <= 0) break;
        if (p.revents & (POLLIN | POLLHUP)) outcome.output.append(buf, static_cast<size_t>(n));
        if (!stopAt.empty() && !outcome.stopped &&
            outcome.output.find(stopAt) != std::string::npos) {
            kill(pid, SIGTERM);
            outcome.stopped = true;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            break;
        }
    }
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

std::string Today(int daysBack = 0) {
    const std::time_t t = std::time(nullptr) - static_cast<std::time_t>(daysBack) * 86400;
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[16];
    std::strftime(buf, sizeof buf, "%Y-%m-%d", &tm);
    return buf;
}

// MD5 text computed with OpenSSL's one-shot function, apart from the program's code.
std::string Md5Text(const std::string& s) {
    unsigned char d[MD5_DIGEST_LENGTH];
    MD5(reinterpret_cast<const unsigned char*>(s.data()), s.size(), d);
    std::string hex;
    char b[3];
    for (unsigned char c : d) {
        std::snprintf(b, sizeof b, "%02x", c);
        hex += b;
    }
    return hex;
}

std::string DecodeUtf16Base64(const std::string& text) {
    return Utf16ToUtf8(Utf16FromLeBytes(Base64Decode(text))).value_or("<undecodable>");
}

class ScannerProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(fs::exists(kProgram)) << kProgram;
        fs::create_directories(prog.path() / "config");
        exe = prog.path() / "mdbscout";
        fs::copy_file(kProgram, exe);
    }

    // The site tree; returns the paths that must be recorded and counts the files.
    std::set<std::string> BuildSite() {
        std::set<std::string> expected;
        const fs::path root = site.path();
        for (const char* kind : {"jet3", "jet4", "other"}) {
            fs::create_directories(root / kind);
            for (const auto& e : fs::directory_iterator(kCorpus / kind)) {
                fs::copy_file(e.path(), root / kind / e.path().filename());
                ++files;
                if (std::string(kind) != "other")
                    expected.insert((root / kind / e.path().filename()).string());
            }
        }
        const fs::path jet4 = kCorpus / "jet4/testV2000.mdb";
        const fs::path jet3 = kCorpus / "jet3/testV1997.mdb";
        fs::create_directories(root / "other/scripts");
        fs::copy_file(jet4, root / "other/scripts/data.asp");  // recognised by content
        expected.insert((root / "other/scripts/data.asp").string());
        fs::copy_file(jet3, root / "other/database");  // no "." in the name
        fs::create_directories(root / "站点/数据");
        fs::copy_file(jet3, root / "站点/数据/留言 本.mdb");
        expected.insert((root / "站点/数据/留言 本.mdb").string());
        // Exactly 61440 bytes with a valid header: never opened.
        test::WriteWholeFile(root / "jet4/cut.mdb", test::ReadWholeFile(jet4).substr(0, 61440));
        test::WriteWholeFile(root / "small.txt", "hello");
        test::WriteWholeFile(root / "empty.mdb", "");
        files += 6;
        // Links: a loop back to the top and a link to a database; neither is followed.
        fs::create_directory_symlink("..", root / "jet3/loop");
        fs::create_symlink(root / "jet4/testV2000.mdb", root / "link.mdb");
        files += 2;
        // A name that is not UTF-8 cannot be recorded faithfully.
        fs::copy_file(jet4, root / "other/bad\xff.mdb");
        ++files;
        // A database another process holds locked for writing.
        fs::create_directories(root / "busy");
        fs::copy_file(jet4, root / "busy/locked.mdb");
        ++files;
        return expected;
    }

    std::vector<FileInfoRecord> Rows() {
        auto db = FileInfoDb::Open(prog / "config/FileInfo.dat");
        std::vector<FileInfoRecord> rows;
        if (db) db->SelectAll(rows);
        return rows;
    }

    test::TempDir prog;
    test::TempDir site;
    fs::path exe;
    unsigned files = 0;
};

TEST_F(ScannerProgram, RecordsEveryJetDatabaseOfTheSiteTree) {
    const std::set<std::string> expected = BuildSite();
    test::WriteWholeFile(
        prog / "config/ScanDir.txt",
        "; sites\r\n" + site.path().string() + "\r\n  " + site.path().string() + "  \r\n");
    // An old row goes, one dated exactly 30 days back stays, today's rows are replaced.
    {
        auto db = FileInfoDb::Open(prog / "config/FileInfo.dat");
        ASSERT_TRUE(db);
        FileInfoRecord r;
        r.regdate = Today(31);
        r.filenameid = "old";
        db->InsertRecord(r);
        r.regdate = Today(30);
        r.filenameid = "kept";
        db->InsertRecord(r);
        r.regdate = Today();
        r.filenameid = "earlier-today";
        db->InsertRecord(r);
    }
    const int lockFd = open((site / "busy/locked.mdb").c_str(), O_RDWR);
    ASSERT_EQ(flock(lockFd, LOCK_EX), 0);

    const Outcome run = RunProgram(exe, {"/FILESCAN"}, kCountdownStart);
    close(lockFd);
    ASSERT_TRUE(run.stopped) << run.output;
    const std::string& out = run.output;

    // Console: banner, the listed directory, one line per file, the summary.
    EXPECT_TRUE(
        out.starts_with("\r\n\r\n┏━━━━━━━━━━━━━━━━━━━━━━┓\r\n┃   Veloran Quarnet·MDB "
                        "文件扫描服务   ┃\r\n┗━━━━━━━━━━━━━━━━━━━━━━┛\r\n\r\n\r\n"))
        << out.substr(0, 400);
    EXPECT_NE(out.find("\r\n当前填写的扫描目录 1 - " + site.path().string()), std::string::npos);
    EXPECT_EQ(out.find("当前填写的扫描目录 2"), std::string::npos);
    EXPECT_NE(out.find("，长度 118784 字节 ..."), std::string::npos);
    EXPECT_NE(out.find(" - data.asp，长度 3043328 字节 ..."), std::string::npos);
    EXPECT_NE(out.find(" - 留言 本.mdb，长度 118784 字节 ..."), std::string::npos);
    EXPECT_NE(out.find(" - bad?.mdb，长度 3043328 字节 ..."), std::string::npos);
    EXPECT_NE(out.find("\r\n扫描文件 " + std::to_string(files) + " - "), std::string::npos);
    EXPECT_EQ(out.find("\r\n扫描文件 " + std::to_string(files + 1) + " - "), std::string::npos);
    EXPECT_NE(out.find("跳过文件"), std::string::npos);
    const std::regex summary(
        "\r\n\r\n\r\n扫描文件完成，累计扫描 (\\d+) 个文件，用时 (\\d+) 秒，其中MDB数据库文件 "
        "(\\d+) "
        "个\r\n\r\n\r\n\r\n\r\n\r\n\r\n");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(out, m, summary)) << out.substr(out.size() - 600);
    EXPECT_EQ(std::stoul(m[1]), files);
    EXPECT_EQ(std::stoul(m[3]), expected.size() + 1)
        << out;  // the non-UTF-8 name is a database too

    // Rows: exactly the expected files, each decoding back to its real name and path.
    std::set<std::string> recorded;
    std::set<std::string> sequence;
    const std::regex key("(\\d+)_(\\d{14})_(\\d+)");
    for (const FileInfoRecord& r : Rows()) {
        if (r.filenameid == "kept") continue;
        EXPECT_NE(r.filenameid, "old");
        EXPECT_NE(r.filenameid, "earlier-today");
        const std::string path = DecodeUtf16Base64(r.filepath);
        recorded.insert(path);
        EXPECT_EQ(DecodeUtf16Base64(r.filename), fs::path(path).filename().string());
        EXPECT_EQ(r.filesize, fs::file_size(path));
        EXPECT_EQ(r.fid, "1");
        EXPECT_EQ(r.regdate, Today());
        EXPECT_EQ(r.filesize2, 0u);
        EXPECT_EQ(r.compactDatabase, "0");
        EXPECT_EQ(r.fileinfo, "");
        EXPECT_EQ(r.filechkval, Md5Text(Md5Text(r.filepath) + "_(r)pkq.vhml.orx_4903_mdbscout"));
        std::smatch k;
        ASSERT_TRUE(std::regex_match(r.filenameid, k, key)) << r.filenameid;
        sequence.insert(k[1]);
    }
    EXPECT_EQ(recorded, expected);
    EXPECT_EQ(sequence.size(), expected.size());
    EXPECT_EQ(Rows().size(), expected.size() + 1);  // + the row of 30 days ago

    EXPECT_EQ(ReadSettingKey(SettingsPathIn(prog.dir()), kKeyRefScanLog), 1u);
    const std::string log = test::ReadWholeFile(prog / "__mdbscout.log");
    std::string separator;
    for (int i = 0; i < 49; ++i) separator += "━";
    EXPECT_NE(log.find(" - " + separator + "\r\n"), std::string::npos);
    EXPECT_NE(log.find(" - 当前填写的扫描目录 1 - " + site.path().string() + "\r\n"),
              std::string::npos);
    EXPECT_EQ(log.find("扫描文件 1 - "), std::string::npos);  // per-file lines are console only
    // The outcome stays readable afterwards (a scan started from cron has no console).
    EXPECT_NE(log.find(" - 扫描文件完成，累计扫描 " + std::to_string(files) + " 个文件，用时 "),
              std::string::npos)
        << log;
    EXPECT_NE(out.find("\r\n无法读取文件 " + site / "busy/locked.mdb" + "：正被其他程序写入"),
              std::string::npos);

    // A second scan the same day replaces the first one's rows.
    const Outcome again = RunProgram(exe, {"/FileScan"}, kCountdownStart);
    ASSERT_TRUE(again.stopped);
    EXPECT_EQ(Rows().size(), expected.size() + 2);  // the formerly locked file is recorded now
}

TEST_F(ScannerProgram, CountsDownAndEndsWithTheResultOfTheLastDirectory) {
    // A copy whose name merely ends with the program's name runs normally.
    const fs::path old = prog.path() / "oldmdbscout";
    fs::rename(exe, old);
    fs::copy_file(kCorpus / "jet4/emptyJet4.mdb", site / "a.mdb");
    test::WriteWholeFile(prog / "config/ScanDir.txt",
                         "/no/such/dir\r\n" + site.path().string() + "\r\n");
    const Outcome run = RunProgram(old, {"/FileScan"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.output.find("稍候  0 秒自动关闭 ...\r"), std::string::npos);
    EXPECT_EQ(Rows().size(), 1u);
}

TEST_F(ScannerProgram, AnEmptyListIsReportedAndStillCountsDown) {
    const Outcome run = RunProgram(exe, {"/FileScan"}, kCountdownStart);
    EXPECT_TRUE(run.stopped);
    EXPECT_NE(
        run.output.find("\r\n未设置需要扫描的目录，例如“/var/www”，请设置一个需要扫描的目录！"),
        std::string::npos);
    EXPECT_NE(test::ReadWholeFile(prog / "__mdbscout.log")
                  .find(" - 未设置需要扫描的目录，例如“/var/www”，请设置一个需要扫描的目录！\r\n"),
              std::string::npos);
}

TEST_F(ScannerProgram, CommandLineFailuresAndForeignNamesEndAtOnce) {
    Outcome run = RunProgram(exe, {});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, "\r\n未输入启动参数，运行失败！");
    run = RunProgram(exe, {"/FileScan", "/FileScan"});
    EXPECT_EQ(run.output, "\r\n未输入启动参数，运行失败！");
    run = RunProgram(exe, {"/list"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, "\r\n输入的启动参数有错误，命令未知，运行失败！");

    const fs::path other = prog.path() / "scanner";
    fs::rename(exe, other);
    run = RunProgram(other, {"/FileScan"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.output.ends_with("┛\r\n\r\n\r\n")) << run.output;
    EXPECT_FALSE(fs::exists(prog / "config/FileInfo.dat"));
    EXPECT_FALSE(fs::exists(prog / "__mdbscout.log"));
    EXPECT_FALSE(fs::exists(prog / "mdbscout.ini"));
}

// The texts follow the user's locale (Chinese for zh, else English from the catalog
// beside the program), and MDBWARDEN_LANG overrides the locale.
TEST_F(ScannerProgram, SpeaksTheLanguageOfTheLocaleFromItsCatalog) {
    fs::copy(fs::path(MDB_DIST_DIR) / "locale", prog.path() / "locale",
             fs::copy_options::recursive);
    const std::string language = std::getenv("MDBWARDEN_LANG") ? std::getenv("MDBWARDEN_LANG") : "";
    struct Case {
        const char* forced;
        const char* locale;
        const char* expected;
    };
    const Case cases[] = {
        {"", "en_US.UTF-8", "\r\nNo start argument given; the program cannot run!"},
        {"", "de_DE.UTF-8", "\r\nNo start argument given; the program cannot run!"},
        {"", "C", "\r\nNo start argument given; the program cannot run!"},
        {"", "zh_CN.UTF-8", "\r\n未输入启动参数，运行失败！"},
        {"en", "zh_CN.UTF-8", "\r\nNo start argument given; the program cannot run!"},
        {"zh_CN", "en_US.UTF-8", "\r\n未输入启动参数，运行失败！"},
    };
    for (const Case& c : cases) {
        if (*c.forced) setenv("MDBWARDEN_LANG", c.forced, 1);
        else unsetenv("MDBWARDEN_LANG");
        setenv("LC_ALL", c.locale, 1);
        EXPECT_EQ(RunProgram(exe, {}).output, c.expected) << c.forced << " " << c.locale;
    }
    // A whole scan in English: the list, the files, the summary, the countdown.
    unsetenv("MDBWARDEN_LANG");
    setenv("LC_ALL", "en_US.UTF-8", 1);
    fs::copy_file(kCorpus / "jet4/testV2000.mdb", site.path() / "a.mdb");
    test::WriteWholeFile(prog / "config/ScanDir.txt", site.path().string() + "\r\n");
    const Outcome run = RunProgram(exe, {"/FileScan"}, "closes in 29 seconds");
    EXPECT_TRUE(run.stopped) << run.output;
    for (const char* part : {"MDB File Scan Service", "Directory to scan 1 - ",
                             "Scanning file 1 - a.mdb, ", "1 of them MDB databases"})
        EXPECT_NE(run.output.find(part), std::string::npos) << part << "\n" << run.output;
    EXPECT_EQ(Rows().size(), 1u);
    unsetenv("LC_ALL");
    if (!language.empty()) setenv("MDBWARDEN_LANG", language.c_str(), 1);
}

// Each way the store can fail keeps the one message and says why on the next line.
TEST_F(ScannerProgram, AStoreThatCannotBeUsedStopsBeforeTheScanAndSaysWhy) {
    test::WriteWholeFile(prog / "config/ScanDir.txt", site.path().string() + "\r\n");
    const std::string store = prog / "config/FileInfo.dat";
    const std::string failed = "\r\n读取数据库时发生错误，请重试！\r\n原因：";
    auto expectFailure = [&](const std::string& cause, bool asNobody = false) {
        const Outcome run = RunProgram(exe, {"/FileScan"}, "", 60, asNobody);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_TRUE(run.output.ends_with(failed + cause)) << run.output;
        EXPECT_EQ(run.output.find("当前填写的扫描目录"), std::string::npos);
        const std::string log = test::ReadWholeFile(prog / "__mdbscout.log");
        EXPECT_NE(log.find(" - 读取数据库时发生错误，请重试！\r\n"), std::string::npos);
        EXPECT_NE(log.find(" - 原因：" + cause + "\r\n"), std::string::npos) << log;
    };
    fs::create_directories(store);
    expectFailure("“" + store + "”是一个目录，不是数据库文件");
    fs::remove(store);
    test::WriteWholeFile(store, std::string(8192, 'x'));
    expectFailure("“" + store + "”不是数据库文件（内容已损坏或被其他文件替换）");
    fs::remove(store);
    {
        auto holder = FileInfoDb::Open(store);
        ASSERT_TRUE(holder);
        ASSERT_EQ(holder->Begin(), 1);  // another program writing, for longer than the wait
        // The seconds said are the seconds waited: each of the statements at the start
        // waits for the lock (the text once said 10 after 30 s).
        const auto start = std::chrono::steady_clock::now();
        const Outcome run = RunProgram(exe, {"/FileScan"}, "", 60);
        const long waited = std::lround(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        const std::size_t at = run.output.rfind("等待 ");
        ASSERT_NE(at, std::string::npos) << run.output;
        const long said = std::atol(run.output.c_str() + at + std::string("等待 ").size());
        EXPECT_GE(said, 10);
        EXPECT_LE(std::labs(said - waited), 1) << run.output << " after " << waited << " s";
        EXPECT_TRUE(run.output.ends_with(" 秒后仍未释放")) << run.output;
    }
    // Permissions hold only for a user other than root.
    fs::permissions(store, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    if (geteuid() == 0) {
        ASSERT_EQ(system(("chown -R 65534 " + prog.path().string()).c_str()), 0);
    }
    expectFailure("数据库文件“" + store + "”是只读的，无法写入", true);
}

// Put into the Windows original's directory, the scanner finds that program's store (an
// Access file) where its own belongs: it takes it over and scans.
TEST_F(ScannerProgram, TakesOverTheWindowsOriginalsStoreAndScans) {
    const fs::path original = fs::path(MDB_SOURCE_DIR) / "tests/fixtures/FileInfo-access.dat";
    fs::copy_file(original, prog / "config/FileInfo.dat");
    fs::copy_file(kCorpus / "jet4/emptyJet4.mdb", site / "a.mdb");
    test::WriteWholeFile(prog / "config/ScanDir.txt", site.path().string() + "\r\n");
    const Outcome run = RunProgram(exe, {"/FileScan"}, kCountdownStart);
    ASSERT_TRUE(run.stopped) << run.output;
    const std::string kept = prog / "config/FileInfo.access.mdb";
    EXPECT_NE(run.output.find("已将原版程序的记录库“" + (prog / "config/FileInfo.dat") +
                              "”（Access 格式，40 条记录）转换为本程序的格式，原文件保留为“" +
                              kept + "”"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(test::ReadWholeFile(kept), test::ReadWholeFile(original));
    // The original's rows are from 2023, older than the 30 days a scan keeps.
    const std::vector<FileInfoRecord> rows = Rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].id, 41);
}

// A FIFO in place of the list or the settings file, or a settings lock another program keeps,
// must not stop the scanner: it says so and finishes the scan.
TEST_F(ScannerProgram, NeverWaitsForeverOnAFifoOrAHeldSettingsLock) {
    fs::copy_file(kCorpus / "jet4/emptyJet4.mdb", site / "a.mdb");
    const fs::path list = prog / "config/ScanDir.txt";
    const fs::path ini = prog / "mdbscout.ini";
    auto scan = [&] { return RunProgram(exe, {"/FileScan"}, kCountdownStart, 30); };

    ASSERT_EQ(mkfifo(list.c_str(), 0644), 0);
    Outcome run = scan();
    EXPECT_TRUE(run.stopped) << "no countdown: the scanner hung on the list\n" << run.output;
    EXPECT_NE(run.output.find("\r\n无法读取目录列表文件 " + list.string() + "：不是普通文件"),
              std::string::npos);
    EXPECT_NE(run.output.find("\r\n未设置需要扫描的目录"), std::string::npos);

    fs::remove(list);
    test::WriteWholeFile(list, site.path().string() + "\r\n");
    fs::remove(ini);  // the first run wrote that its scan was over
    ASSERT_EQ(mkfifo(ini.c_str(), 0644), 0);
    run = scan();
    EXPECT_TRUE(run.stopped) << "no countdown: the scanner hung on the settings file\n"
                             << run.output;
    EXPECT_NE(run.output.find("\r\n无法写入设置文件 " + ini.string() + "：不是普通文件"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(fs::status(ini).type(), fs::file_type::fifo);  // left as it was

    fs::remove(ini);
    const int lock = open((ini.string() + ".lock").c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_EQ(flock(lock, LOCK_EX), 0);
    run = scan();
    close(lock);
    EXPECT_TRUE(run.stopped) << "no countdown: the scanner hung on the settings lock\n"
                             << run.output;
    EXPECT_NE(run.output.find("\r\n无法写入设置文件 " + ini.string() +
                              "：被其他程序锁定（mdbscout.ini.lock），等待 3 秒后仍未释放"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(Rows().size(), 1u);  // the scan itself went on each time
}

// Everything the scan leaves out is said on the console and in the run log.
TEST_F(ScannerProgram, SaysWhatItLeavesOutAndWhy) {
    const fs::path root = site.path();
    const fs::path jet4 = kCorpus / "jet4/emptyJet4.mdb";
    fs::create_directories(root / "cr-a");
    fs::create_directories(root / "cr-b");
    fs::copy_file(jet4, root / "cr-a/a.mdb");
    fs::copy_file(jet4, root / "cr-b/b.mdb");
    test::WriteWholeFile(root / "file.txt", "not a directory");
    fs::create_directories(root / "walk/closed");
    fs::copy_file(jet4, root / "walk/closed/hidden.mdb");
    fs::copy_file(jet4, root / "walk/unreadable.mdb");
    fs::copy_file(jet4, root / "walk/evil\x1b[2J\n.mdb");
    // A directory whose path is longer than the system opens (PATH_MAX, 4096 bytes); the
    // temporary directory's own removal cannot reach so far down.
    std::string deep = root / "walk";
    struct RemoveTree {
        std::string path;
        ~RemoveTree() { [[maybe_unused]] int rc = system(("rm -rf " + path).c_str()); }
    } removeDeep{deep};
    {
        int fd = open(deep.c_str(), O_RDONLY | O_DIRECTORY);
        const std::string name(250, 'd');
        for (int i = 0; i < 17 && fd >= 0; ++i) {
            mkdirat(fd, name.c_str(), 0755);
            const int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
            close(fd);
            fd = next;
            deep += "/" + name;
        }
        ASSERT_GE(fd, 0);
        close(fd);
    }
    const std::string tooLong(300, 'x');
    using namespace std::string_literals;
    test::WriteWholeFile(prog / "config/ScanDir.txt",
                         "/\r\nrelative/dir\r\n" + (root / "file.txt").string() + "\r\n" +
                             (root / "missing").string() + "\r\n" + (root / "cr-a").string() +
                             "\0/etc\r\n"s + (root / "cr-a").string() + "\r" +
                             (root / "cr-b").string() + "\r/" + tooLong + "\r\n" +
                             (root / "walk").string() + "\r\n");
    if (geteuid() == 0) {
        ASSERT_EQ(system(("chown -R 65534 " + prog.path().string() + " " + root.string()).c_str()),
                  0);
    }
    fs::permissions(root / "walk/closed", fs::perms::none);
    fs::permissions(root / "walk/unreadable.mdb", fs::perms::none);

    const Outcome run = RunProgram(exe, {"/FileScan"}, kCountdownStart, 120, true);
    ASSERT_TRUE(run.stopped) << run.output;
    const std::string log = test::ReadWholeFile(prog / "__mdbscout.log");
    const std::string said[] = {
        "目录列表文件以 CR（回车符）作为换行符，已按 CR 分行读取",
        "目录列表第 1 行“/”是文件系统的根目录，不扫描整个文件系统，已忽略；请填写网站所在的目录",
        "目录列表第 5 行含有空字符（NUL），已忽略该行：" + (root / "cr-a").string() + "\\x00/etc",
        "扫描目录 6 超过 259 个字节，未扫描：/" + tooLong,
        "无法扫描目录 relative/dir：不是绝对路径（应以“/”开头）",
        "无法扫描目录 " + (root / "file.txt").string() + "：不是目录",
        "无法扫描目录 " + (root / "missing").string() + "：不存在",
        "无法打开目录 " + (root / "walk/closed").string() + "：权限不足",
        "无法读取文件 " + (root / "walk/unreadable.mdb").string() + "：权限不足",
        "无法打开目录 " + deep + "：路径太长，无法打开",
    };
    for (const std::string& line : said) {
        EXPECT_NE(run.output.find("\r\n" + line), std::string::npos) << line;
        EXPECT_NE(log.find(" - " + line + "\r\n"), std::string::npos) << line;
    }
    // The CR-separated lines are two directories, both walked.
    EXPECT_NE(run.output.find("当前填写的扫描目录 4 - " + (root / "cr-a").string() + "\r\n"),
              std::string::npos);
    EXPECT_NE(run.output.find("当前填写的扫描目录 5 - " + (root / "cr-b").string() + "\r\n"),
              std::string::npos);
    // A control character in a name is shown, not sent to the terminal.
    EXPECT_NE(run.output.find(" - evil\\x1B[2J\\x0A.mdb，长度 "), std::string::npos);
    EXPECT_EQ(run.output.find('\x1b'), std::string::npos);
    EXPECT_EQ(Rows().size(), 3u);  // a.mdb, b.mdb and the one with the odd name
}

// On a terminal a failure waits for one key press before the program ends.
TEST_F(ScannerProgram, AFailureOnATerminalWaitsForAKey) {
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        execl(exe.c_str(), exe.c_str(), "/unknown", static_cast<char*>(nullptr));
        _exit(127);
    }
    std::string output;
    auto readFor = [&](int ms) {
        pollfd p{master, POLLIN, 0};
        char buf[4096];
        while (poll(&p, 1, ms) > 0) {
            const ssize_t n = read(master, buf, sizeof buf);
            if (n <= 0) break;
            output.append(buf, static_cast<size_t>(n));
        }
    };
    readFor(500);
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, WNOHANG), 0) << "ended without waiting for a key";
    EXPECT_NE(output.find("输入的启动参数有错误，命令未知，运行失败！"), std::string::npos);
    ASSERT_EQ(write(master, "x", 1), 1);
    readFor(300);
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(output.find("x"), std::string::npos);  // the key is not echoed
    close(master);
}

}  // namespace
}  // namespace mdb
