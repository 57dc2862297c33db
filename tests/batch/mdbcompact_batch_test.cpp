// "mdbcompact batch" end to end: a temporary program directory filled by the real
// scanner, recording companion programs, the real command as a separate process.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "../desktop/program_dir.h"
#include "common/manifest.h"
#include "batch/compact_mdb_file.h"
#include "batch/stored_path.h"
#include "file_bytes.h"
#include "tests/jet_repair/damage.h"
#include "jet/header.h"

namespace fs = std::filesystem;
using mdb::desktop::testing::ProgramDir;

namespace {

std::string Quote(const fs::path& p) {
    return "'" + p.string() + "'";
}

struct Outcome {
    int exitCode = -1;
    std::string out;  // standard output and error
};

class CommandBatchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        site_ = prog_.Path() / "sites" / "www";
        fs::create_directories(site_);
        fs::create_directories(prog_.Path() / "config");
        log_ = prog_.Path() / "companions.log";
        std::ofstream manifest(prog_.Path() / mdb::kManifestFileName);
        for (const char* name : {"mdbscout_iisreset", "mdbscout_xconfig"}) {
            const fs::path p = prog_.Path() / name;
            std::ofstream(p) << "#!/bin/sh\necho \"$(basename \"$0\") $*\" >> " + Quote(log_) + "\n";
            fs::permissions(p, fs::perms::owner_all);
            manifest << mdb::Sha256OfFile(p) << "  " << name << "\n";
        }
    }

    fs::path AddSiteFile(const std::string& corpusFile, const std::string& name) {
        fs::copy_file(fs::path(MDB_CORPUS_DIR) / corpusFile, site_ / name);
        return site_ / name;
    }

    // Records the site's databases with a real scanner run (ended once its rows are
    // committed: it counts down 30 seconds at the end).
    void Scan() {
        fs::copy_file(fs::path(MDB_DIST_DIR) / "mdbscout", prog_.Path() / "mdbscout",
                      fs::copy_options::overwrite_existing);
        std::ofstream(prog_.Path() / "config" / "ScanDir.txt") << site_.string() << "\r\n";
        const std::string cmd =
            "cd " + Quote(prog_.Path()) +
            " && (timeout -s TERM 120 ./mdbscout /FileScan > scan.out 2>&1 & pid=$!; "
            "for i in $(seq 1200); do grep -q 秒自动关闭 scan.out && break; sleep 0.1; done; "
            "kill $pid 2>/dev/null; wait) > /dev/null 2>&1";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }

    std::vector<std::string> Args(std::vector<std::string> extra) {
        std::vector<std::string> args = {(fs::path(MDB_DIST_DIR) / "mdbcompact").string(),
                                          "batch",
                                          "--store",
                                          prog_.DbPath().string(),
                                          "--backup-root",
                                          (prog_.Path() / "backup").string()};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }

    // Starts the command with its output going to a file; the process id.
    pid_t Start(const std::vector<std::string>& args) {
        const pid_t pid = fork();
        if (pid == 0) {
            const int out = open(OutPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(out, 1);
            dup2(out, 2);
            std::vector<char*> argv;
            for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        return pid;
    }

    Outcome Finish(pid_t pid) {
        int status = 0;
        waitpid(pid, &status, 0);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
                ReadBytes(OutPath())};
    }

    Outcome Run(std::vector<std::string> extra) { return Finish(Start(Args(std::move(extra)))); }

    fs::path OutPath() { return prog_.Path() / "batch.out"; }
    std::string Log() { return ReadBytes(log_); }

    ProgramDir prog_;
    fs::path site_, log_;
};

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST_F(CommandBatchTest, DryRunAllNamedAndAPasswordFile) {
    const fs::path a = AddSiteFile("jet4/testV2000.mdb", "a.mdb");
    const fs::path b = AddSiteFile("jet3/testV1997.mdb", "b.mdb");
    // A copy with a database password (in the scrambled header block, from 0x42).
    std::string bytes = ReadBytes(fs::path(MDB_CORPUS_DIR) / "jet4" / "delTestV2000.mdb");
    const std::vector<std::uint8_t> image(bytes.begin(), bytes.end());
    const auto block = jet::DescrambledBlock(image, jet::Format::Jet4);
    const std::uint8_t secret[] = {'s', 0x55, 'c', 0x55};
    for (std::size_t i = 0; i < sizeof secret; ++i)
        bytes[0x42 + i] = static_cast<char>(image[0x42 + i] ^
                                            block[0x42 - jet::kHeaderBlockOffset + i] ^ secret[i]);
    const fs::path locked = site_ / "locked.mdb";
    WriteBytes(locked, bytes);
    Scan();
    const std::string originalA = ReadBytes(a);

    Outcome dry = Run({"--dry-run", "--all"});
    EXPECT_EQ(dry.exitCode, 1) << "the password file would not be compacted: " << dry.out;
    EXPECT_TRUE(Contains(dry.out, "dry run: 3 files")) << dry.out;
    EXPECT_TRUE(Contains(dry.out, "数据库设有密码")) << dry.out;
    EXPECT_TRUE(ReadBytes(a) == originalA) << "a dry run changes nothing";
    EXPECT_EQ(Log(), "");
    // In English the reason, Chinese as the store keeps it, is shown translated.
    setenv("MDBWARDEN_LANG", "en", 1);
    Outcome english = Run({"--dry-run", "--all"});
    setenv("MDBWARDEN_LANG", "zh_CN", 1);
    EXPECT_TRUE(Contains(english.out, "Not compacted, reason: the database has a password ("))
        << english.out;

    // Named files, one of them not yet recorded.
    const fs::path c = AddSiteFile("jet4/delTestV2000.mdb", "c.mdb");
    Outcome named = Run({a.string(), c.string(), locked.string()});
    EXPECT_EQ(named.exitCode, 1) << named.out;
    EXPECT_TRUE(Contains(named.out, "数据库设有密码")) << named.out;
    EXPECT_TRUE(Contains(named.out, "compacted 2, not compacted 1")) << named.out;
    EXPECT_LT(fs::file_size(a), originalA.size());
    EXPECT_EQ(ReadBytes(locked), bytes);
    EXPECT_TRUE(Contains(Log(), "mdbscout_iisreset /stop\n")) << Log();
    EXPECT_TRUE(Log().ends_with("mdbscout_iisreset /start\n")) << Log();

    fs::remove(locked);
    fs::remove(log_);
    Outcome all = Run({"--all", "--no-web-server"});
    EXPECT_EQ(all.exitCode, 0) << "the removed file is named once and forgotten: " << all.out;
    EXPECT_TRUE(Contains(all.out, "locked.mdb  文件不存在")) << all.out;
    EXPECT_TRUE(Contains(all.out, "compacted 3, not compacted 0")) << all.out;
    EXPECT_TRUE(Contains(all.out, "sites stay up")) << all.out;
    EXPECT_FALSE(Contains(Log(), "iisreset")) << Log();
    EXPECT_LT(fs::file_size(b), fs::file_size(fs::path(MDB_CORPUS_DIR) / "jet3/testV1997.mdb"));
    Outcome again = Run({"--all", "--no-web-server"});
    EXPECT_FALSE(Contains(again.out, "locked.mdb")) << again.out;
}

// Old backup runs go after a run with a failing file too; a file that saves too little
// is neither backed up nor rewritten, and a run that can replace nothing keeps the web
// server up.
TEST_F(CommandBatchTest, RetentionAfterFailuresMinimumSavingAndNoNeedlessStop) {
    const fs::path a = AddSiteFile("jet4/testV2000.mdb", "a.mdb");
    const fs::path bad = site_ / "bad.mdb";
    WriteBytes(bad, std::string(70000, 'x'));
    Scan();
    const fs::path old = prog_.Path() / "backup" / "2001-01-01" / "00-00-00";
    fs::create_directories(old);
    std::ofstream(old / ".mdbwarden-run");
    Outcome first = Run({"--keep-backups", "30", a.string(), bad.string()});
    EXPECT_EQ(first.exitCode, 1) << first.out;
    EXPECT_FALSE(fs::exists(old)) << "pruned although a file was not compacted";

    const std::string compacted = ReadBytes(a);
    fs::remove(log_);
    Outcome small = Run({"--min-saving", "5%", a.string(), bad.string()});
    EXPECT_EQ(small.exitCode, 1) << small.out;
    EXPECT_TRUE(Contains(small.out, "a.mdb  跳过：预计节省空间低于设定的最小值")) << small.out;
    EXPECT_TRUE(ReadBytes(a) == compacted);
    EXPECT_TRUE(Contains(small.out, "no file can be replaced")) << small.out;
    EXPECT_FALSE(Contains(Log(), "iisreset")) << Log();
    std::size_t backups = 0;
    for (const auto& e : fs::recursive_directory_iterator(prog_.Path() / "backup"))
        backups += e.path().filename() == "a.mdb";
    EXPECT_EQ(backups, 1u) << "the file left alone was backed up";
}

// The store of the Windows original (an Access file): a dry run reads it where it is, a
// run takes it over first and records its files after the original's rows.
TEST_F(CommandBatchTest, TheWindowsOriginalsStoreIsReadByADryRunAndTakenOverByARun) {
    const std::string original =
        ReadBytes(fs::path(MDB_SOURCE_DIR) / "tests/fixtures/FileInfo-access.dat");
    WriteBytes(prog_.DbPath(), original);
    const fs::path a = AddSiteFile("jet4/testV2000.mdb", "a.mdb");

    Outcome dry = Run({"--dry-run", a.string()});
    EXPECT_TRUE(Contains(dry.out, "dry run: 1 files")) << dry.out;
    EXPECT_EQ(ReadBytes(prog_.DbPath()), original);
    EXPECT_FALSE(fs::exists(prog_.DbPath().parent_path() / "FileInfo.access.mdb"));

    Outcome ran = Run({"--no-web-server", a.string()});
    EXPECT_EQ(ran.exitCode, 0) << ran.out;
    const fs::path kept = prog_.DbPath().parent_path() / "FileInfo.access.mdb";
    EXPECT_TRUE(Contains(ran.out, "(Access format, 40 records) was taken over; the original is "
                                  "kept as " + kept.string()))
        << ran.out;
    EXPECT_EQ(ReadBytes(kept), original);
    std::vector<mdb::FileInfoRecord> rows;
    ASSERT_EQ(mdb::FileInfoDb::Open(prog_.DbPath().string())->SelectAll(rows), 1);
    ASSERT_EQ(rows.size(), 41u);
    EXPECT_EQ(rows.back().compactDatabase, mdb::kStateCompacted);
}

TEST_F(CommandBatchTest, LockHeldByASecondProcessRefusesAndNamesTheHolder) {
    AddSiteFile("jet4/testV2000.mdb", "a.mdb");
    Scan();
    const fs::path lock = prog_.Path() / "config" / "compaction.lock";
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t holder = fork();
    if (holder == 0) {
        const int fd = open(lock.c_str(), O_RDWR | O_CREAT, 0600);
        flock(fd, LOCK_EX);
        (void)!write(fd, "mdbwarden, process 4242\n", 24);
        (void)!write(ready[1], "x", 1);
        pause();
        _exit(0);
    }
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    Outcome refused = Run({"--all"});
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    EXPECT_EQ(refused.exitCode, 2) << refused.out;
    EXPECT_TRUE(Contains(refused.out, "mdbwarden, process 4242")) << refused.out;
    EXPECT_EQ(Log(), "") << "the web server is not touched";

    // Free again; old run folders go only when asked, and only the program's own.
    const fs::path backup = prog_.Path() / "backup";
    fs::create_directories(backup / "2020-01-01" / "10-00-00");
    std::ofstream(backup / "2020-01-01" / "10-00-00" / ".mdbwarden-run");
    fs::create_directories(backup / "2020-01-01" / "11-00-00");  // not made by the program
    Outcome kept = Run({"--all"});
    EXPECT_EQ(kept.exitCode, 0) << kept.out;
    EXPECT_TRUE(fs::exists(backup / "2020-01-01" / "10-00-00"));
    Outcome cleaned = Run({"--all", "--keep-backups", "30"});
    EXPECT_EQ(cleaned.exitCode, 0) << cleaned.out;
    EXPECT_FALSE(fs::exists(backup / "2020-01-01" / "10-00-00"));
    EXPECT_TRUE(fs::exists(backup / "2020-01-01" / "11-00-00"));
    int runs = 0;
    for (const auto& date : fs::directory_iterator(backup))
        if (date.path().filename() != "2020-01-01" && date.path().filename() != "temp")
            runs += static_cast<int>(std::distance(fs::directory_iterator(date.path()),
                                                   fs::directory_iterator()));
    EXPECT_GE(runs, 1) << "this run's folder stays";

    // A lock file that cannot be opened is no other copy at work, and says so.
    fs::remove(lock);
    fs::create_directory(lock);
    Outcome unopenable = Run({"--all"});
    EXPECT_EQ(unopenable.exitCode, 2) << unopenable.out;
    EXPECT_TRUE(Contains(unopenable.out, "cannot take the lock")) << unopenable.out;
    EXPECT_FALSE(Contains(unopenable.out, "another copy")) << unopenable.out;
}

// Named files need no scan: the store is made and they are recorded first. Before
// that, a backup root that cannot be written refuses the batch with nothing changed.
TEST_F(CommandBatchTest, NamedFilesWithoutAStoreAndAnUnwritableBackupRoot) {
    const fs::path a = AddSiteFile("jet4/testV2000.mdb", "a.mdb");
    const std::string original = ReadBytes(a);
    // A file where the backup root should be: no one can write below it, not even root.
    std::ofstream(prog_.Path() / "backup") << "in the way";
    Outcome dry = Run({"--dry-run", a.string()});
    EXPECT_EQ(dry.exitCode, 0) << dry.out;
    EXPECT_FALSE(fs::exists(prog_.DbPath())) << "a dry run records nothing";
    Outcome refused = Run({a.string()});
    EXPECT_EQ(refused.exitCode, 2) << refused.out;
    EXPECT_TRUE(Contains(refused.out, "backup root " + (prog_.Path() / "backup").string() +
                                          " cannot be written")) << refused.out;
    EXPECT_TRUE(ReadBytes(a) == original);
    EXPECT_FALSE(fs::exists(prog_.DbPath())) << "nothing recorded";
    EXPECT_EQ(Log(), "") << "the web server is not touched";

    fs::remove(prog_.Path() / "backup");
    // Windows' own engine exists only in Windows builds; the default is ours.
    Outcome noJro = Run({"--engine", "jro", a.string()});
    EXPECT_EQ(noJro.exitCode, 2) << noJro.out;
    EXPECT_TRUE(Contains(noJro.out, "no JRO engine")) << noJro.out;
    EXPECT_FALSE(fs::exists(prog_.DbPath())) << "nothing recorded";
    Outcome ran = Run({"--engine", "JET", a.string()});
    EXPECT_EQ(ran.exitCode, 0) << ran.out;
    EXPECT_LT(fs::file_size(a), original.size());
    std::vector<mdb::FileInfoRecord> rows;
    ASSERT_EQ(prog_.OpenDb()->SelectAll(rows), 1);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].compactDatabase, "1");
    EXPECT_EQ(rows[0].filesize, original.size()) << "the size before this run";
    EXPECT_EQ(rows[0].filesize2, fs::file_size(a));
    EXPECT_FALSE(rows[0].filechkval.empty()) << "recorded as the scanner would";
}

// SIGTERM while the batch runs: the file under way finishes, no further file starts,
// the web server is started again, exit 130; every site file is its original or a
// complete compacted file.
TEST_F(CommandBatchTest, SigtermMidBatchEndsCleanlyWith130) {
    std::vector<fs::path> files;
    // Enough files that the batch is still under way when the signal comes: a small
    // file takes only milliseconds.
    constexpr int kFiles = 40;
    for (int i = 0; i < kFiles; ++i)
        files.push_back(AddSiteFile("jet4/testV2000.mdb", "copy" + std::to_string(i) + ".mdb"));
    Scan();
    const std::string original = ReadBytes(files[0]);
    const pid_t pid = Start(Args({"--all"}));
    // The first file line: the batch is under way.
    for (int i = 0; i < 30000 && !Contains(ReadBytes(OutPath()), " bytes, saved"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    kill(pid, SIGTERM);
    const Outcome o = Finish(pid);
    EXPECT_EQ(o.exitCode, 130) << o.out;
    EXPECT_TRUE(Contains(o.out, "(interrupted)")) << o.out;
    EXPECT_TRUE(Log().ends_with("mdbscout_iisreset /start\n")) << Log();
    int compacted = 0;
    for (const auto& f : files) {
        const std::string now = ReadBytes(f);
        if (now == original) continue;
        ++compacted;
        const std::string check = (fs::path(MDB_DIST_DIR) / "mdbcompact").string() + " check " +
                                  Quote(f) + " > /dev/null 2>&1";
        EXPECT_EQ(std::system(check.c_str()), 0) << f << " is neither original nor sound";
    }
    EXPECT_GE(compacted, 1);
    EXPECT_LT(compacted, kFiles) << "the batch went on after SIGTERM";
}

// The run's backup folder is opened to the administrators only by an intact
// mdbscout_xconfig: a changed one refuses the run before any file is touched.
TEST_F(CommandBatchTest, AChangedXconfigRefusesTheRun) {
    const fs::path a = AddSiteFile("jet4/testV2000.mdb", "a.mdb");
    const std::string original = ReadBytes(a);
    std::ofstream(prog_.Path() / "mdbscout_xconfig", std::ios::app) << "# changed\n";
    const Outcome run = Run({a.string()});
    EXPECT_EQ(run.exitCode, 2) << run.out;
    EXPECT_TRUE(Contains(run.out, "mdbscout_xconfig fails its integrity check")) << run.out;
    EXPECT_TRUE(ReadBytes(a) == original);
    EXPECT_EQ(Log(), "mdbscout_iisreset /stop\nmdbscout_iisreset /start\n");
}

// A web server that cannot be started again (a broken configuration) fails the run at
// error priority whatever became of the files; the next batch starts what is still down
// even when it has nothing to replace.
TEST_F(CommandBatchTest, AWebServerThatCannotBeStartedAgainFailsTheRun) {
    const fs::path a = AddSiteFile("jet4/testV2000.mdb", "a.mdb");
    Scan();
    const fs::path iisreset = prog_.Path() / "mdbscout_iisreset";
    const fs::path state = prog_.Path() / "config" / "iisreset.state";
    std::ofstream(iisreset) << "#!/bin/sh\necho \"$(basename \"$0\") $*\" >> " + Quote(log_) +
                                   "\n[ \"$1\" = /stop ] && echo nginx > " + Quote(state) + "\nexit 0\n";
    std::ofstream manifest(prog_.Path() / mdb::kManifestFileName);
    for (const char* name : {"mdbscout_iisreset", "mdbscout_xconfig"})
        manifest << mdb::Sha256OfFile(prog_.Path() / name) << "  " << name << "\n";
    manifest.close();

    Outcome down = Run({"--all", "--json"});
    EXPECT_EQ(down.exitCode, 3) << down.out;
    EXPECT_TRUE(Contains(down.out, "the web server could not be started again (nginx)")) << down.out;
    EXPECT_TRUE(Contains(down.out, "\"units_not_started\":[\"nginx\"]")) << down.out;
    EXPECT_TRUE(Log().ends_with("mdbscout_iisreset /start\n")) << Log();

    fs::remove(log_);
    Outcome next = Run({"--all", "--min-saving", "1G"});
    EXPECT_EQ(next.exitCode, 0) << next.out;
    EXPECT_EQ(Log(), "mdbscout_iisreset /start\n") << "what the last run left down is started";
}


std::string Export(const fs::path& file, const std::string& table) {
    const std::string cmd = Quote(fs::path(MDB_DIST_DIR) / "mdbcompact") + " export " +
                            Quote(file) + " " + Quote(table) + " 2>/dev/null";
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[4096];
        for (std::size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
        pclose(p);
    }
    return out;
}

// A damaged file is checked before its compaction and repaired when nothing is lost (the
// compaction alone would drop the rows of a page its usage map no longer lists, and call
// that success); one whose repair would lose rows stays as it is unless --repair-lossy.
TEST_F(CommandBatchTest, DamagedFilesAreRepairedOnlyWhenNothingIsLostUnlessAsked) {
    const fs::path corpus = fs::path(MDB_CORPUS_DIR) / "jet4" / "testV2000.mdb";
    const fs::path unlisted = site_ / "unlisted.mdb", zeroed = site_ / "zeroed.mdb";
    const auto lossless = damage::Apply(corpus, damage::Kind::UnlistedPage, unlisted, 7);
    const auto lossy = damage::Apply(corpus, damage::Kind::ZeroDataPage, zeroed, 7);
    ASSERT_TRUE(lossless && lossy);
    const std::string zeroedBytes = ReadBytes(zeroed);
    const std::string rows = Export(corpus, lossless->table);
    ASSERT_NE(Export(unlisted, lossless->table), rows) << "the damage hides rows from the maps";

    // A dry run names the damage; a minimum saving never leaves a damaged file out.
    Outcome dry = Run({"--dry-run", "--min-saving", "100%", unlisted.string()});
    EXPECT_TRUE(Contains(dry.out, "damaged (")) << dry.out;
    Outcome first = Run({"--no-web-server", "--min-saving", "100%", "--json", unlisted.string(),
                         zeroed.string()});
    EXPECT_EQ(first.exitCode, 1) << first.out;
    EXPECT_TRUE(Contains(first.out, "\"repaired\":true")) << first.out;
    EXPECT_TRUE(Contains(first.out, "\"code\":\"repair_lossy\"")) << first.out;
    EXPECT_EQ(Export(unlisted, lossless->table), rows) << "every row is in the repaired file";
    EXPECT_EQ(ReadBytes(zeroed), zeroedBytes) << "a lossy repair is not automatic";
    std::vector<mdb::FileInfoRecord> records;
    ASSERT_EQ(prog_.OpenDb()->SelectAll(records), 1);
    auto recordOf = [&](const fs::path& p) {
        for (const auto& r : records)
            if (mdb::batch::StoredPathText(r.filepath) == p.string()) return r;
        return mdb::FileInfoRecord{};
    };
    EXPECT_EQ(recordOf(unlisted).compactDatabase, "1");
    EXPECT_TRUE(recordOf(unlisted).fileinfo.starts_with(mdb::batch::kRepairedNote))
        << recordOf(unlisted).fileinfo;
    EXPECT_NE(recordOf(zeroed).compactDatabase, "1");
    EXPECT_TRUE(Contains(recordOf(zeroed).fileinfo, mdb::batch::kRepairWouldLose) &&
                Contains(recordOf(zeroed).fileinfo, "rows recovered"))
        << recordOf(zeroed).fileinfo;

    Outcome asked = Run({"--no-web-server", "--repair-lossy", zeroed.string()});
    EXPECT_EQ(asked.exitCode, 0) << asked.out;
    ASSERT_EQ(prog_.OpenDb()->SelectAll(records), 1);
    EXPECT_EQ(recordOf(zeroed).compactDatabase, "1");
    EXPECT_TRUE(recordOf(zeroed).fileinfo.starts_with(mdb::batch::kRepairedLossyNote))
        << recordOf(zeroed).fileinfo;
    bool backedUp = false;
    for (const auto& e : fs::recursive_directory_iterator(prog_.Path() / "backup"))
        if (e.path().filename() == "zeroed.mdb" && ReadBytes(e.path()) == zeroedBytes) backedUp = true;
    EXPECT_TRUE(backedUp) << "the damaged original stays in the backup";
}

}  // namespace
