// The per-file procedure of a compaction run on real files: backup, working copies,
// atomic replacement, records, symbolic links, and what a crash at any point leaves.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "common/base64.h"
#include "common/filestore.h"
#include "common/utf16.h"
#include "jet/header.h"
#include "batch/backup_compact_replace.h"
#include "batch/backup_retention.h"
#include "batch/batch_leftovers.h"
#include "batch/batch_run.h"
#include "batch/compact_mdb_file.h"
#include "batch/run_report.h"
#include "batch/work_folder.h"
#include "fake_engine.h"
#include "file_bytes.h"

namespace fs = std::filesystem;
using namespace mdb;
using namespace mdb::batch;

namespace {

std::string StoredPath(const fs::path& p) {
    return Base64EncodeText(Utf16LeBytes(*Utf8ToUtf16(p.string())));
}

std::u16string Long(const fs::path& p) {
    return *Utf8ToUtf16(p.string());
}

class ReplaceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/mdbw-replace-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        site_ = root_ / "www" / "shop" / "data";
        fs::create_directories(site_);
        backupRoot_ = root_ / "backup";
        runDir_ = backupRoot_ / "2026-12-08" / "10-00-00";
        fs::create_directories(runDir_);
        fs::create_directories(root_ / "config");
        dbPath_ = (root_ / "config" / "FileInfo.dat").string();
        env_.backupRoot = backupRoot_;
        env_.openStore = [this] { return FileInfoDb::Open(dbPath_); };
        env_.compact = HalfCompactor;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    fs::path MakeSiteFile(const std::string& name, const std::string& bytes) {
        const fs::path p = site_ / name;
        WriteBytes(p, bytes);
        Queue(p);
        return p;
    }
    void Queue(const fs::path& p) {
        FileInfoRecord r;
        r.filenameid = "k" + p.filename().string();
        r.filename = "n";
        r.filepath = StoredPath(p);
        r.compactDatabase = kStateQueued;
        FileInfoDb::Open(dbPath_)->InsertRecord(r);
    }

    // A batch of the program directory root_ into backupRoot_, starting now.
    batch::BatchSettings Settings() const {
        batch::BatchSettings settings;
        settings.programDir = root_;
        settings.backupRoot = backupRoot_;
        settings.now = std::time(nullptr);
        settings.compact = HalfCompactor;
        return settings;
    }

    FileInfoRecord Record(const fs::path& p) {
        std::vector<FileInfoRecord> rows;
        FileInfoDb::Open(dbPath_)->SelectAll(rows);
        for (auto& r : rows)
            if (r.filepath == StoredPath(p)) return r;
        ADD_FAILURE() << "no record for " << p;
        return {};
    }

    unsigned Run(const fs::path& p, std::string* reasonOut = nullptr) {
        std::string reason = "left over from an earlier file";
        unsigned count = 0;
        BackupCompactReplace(StoredPath(p), Long(runDir_), reason, count, env_);
        if (reasonOut) *reasonOut = reason;
        return count;
    }

    bool TempFolderEmpty() {
        const fs::path temp = backupRoot_ / "temp";
        return !fs::exists(temp) || fs::is_empty(temp);
    }

    fs::path BackupOf(const fs::path& p) { return runDir_ / p.relative_path(); }

    fs::path root_, site_, backupRoot_, runDir_;
    std::string dbPath_;
    ReplaceEnvironment env_;
};

// A file the engine's header probe accepts: the first page of a real Jet 4 database,
// then filler the fake compactor halves (whole pages: the probe refuses a partial one).
constexpr std::size_t kHeaderBytes = 4096;
std::string JetLike(std::size_t size) {
    std::string bytes = ReadBytes(fs::path(MDB_CORPUS_DIR) / "jet4" / "testV2000.mdb");
    bytes.resize(kHeaderBytes);
    bytes.resize(size, 'A');
    return bytes;
}
const std::string kOriginal = JetLike(64 * kHeaderBytes);

TEST_F(ReplaceTest, ReplacesWithCompactedFileKeepingOwnerModeAndARestorableBackup) {
    std::string original = kOriginal;
    original[kHeaderBytes + 1] = 'B';
    const fs::path db = MakeSiteFile("orders.mdb", original);
    chmod(db.c_str(), 0444);  // read-only, as site files sometimes are
    // The site's owner (another user when the test may give files away).
    const uid_t owner = geteuid() == 0 ? 4321 : geteuid();
    const gid_t group = geteuid() == 0 ? 4322 : getegid();
    ASSERT_EQ(chown(db.c_str(), owner, group), 0);
    struct stat before {};
    ASSERT_EQ(lstat(db.c_str(), &before), 0);

    EXPECT_EQ(Run(db), 1u);
    EXPECT_EQ(ReadBytes(db), original.substr(0, original.size() / 2));
    EXPECT_EQ(ReadBytes(BackupOf(db)), original);
    struct stat st {};
    ASSERT_EQ(lstat(db.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u) << "writable by its owner, other bits kept";
    EXPECT_EQ(st.st_uid, owner);
    EXPECT_EQ(st.st_gid, group);
    // The backup restores with "cp -p" as the file was: owner, group, mode, time.
    struct stat backup {};
    ASSERT_EQ(lstat(BackupOf(db).c_str(), &backup), 0);
    EXPECT_EQ(backup.st_uid, owner);
    EXPECT_EQ(backup.st_gid, group);
    EXPECT_EQ(backup.st_mode & 07777, 0444u);
    EXPECT_EQ(backup.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(backup.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(std::distance(fs::directory_iterator(BackupOf(db).parent_path()),
                            fs::directory_iterator()),
              1)
        << "no temporary name left beside the backup";

    const FileInfoRecord r = Record(db);
    EXPECT_EQ(r.compactDatabase, kStateCompacted);
    EXPECT_EQ(r.filesize2, original.size() / 2);
    EXPECT_TRUE(TempFolderEmpty());
    // Nothing but the database is left in the site directory (no temporary file).
    EXPECT_EQ(std::distance(fs::directory_iterator(site_), fs::directory_iterator()), 1);
}

// Site paths longer than the 260 characters the path functions take (deep trees with
// long names): the backup is made below the run directory all the same.
TEST_F(ReplaceTest, BacksUpAndReplacesFilesBelowLongPaths) {
    site_ = site_ / std::string(200, 'l') / std::string(200, 'm');
    fs::create_directories(site_);
    const fs::path db = MakeSiteFile("deep.mdb", kOriginal);
    ASSERT_GT(BackupOf(db).native().size(), 260u);
    EXPECT_EQ(Run(db), 1u);
    EXPECT_EQ(ReadBytes(BackupOf(db)), kOriginal);
    EXPECT_EQ(ReadBytes(db), kOriginal.substr(0, kOriginal.size() / 2));
}

TEST_F(ReplaceTest, FailedCompactionKeepsSiteFileAndStoresReason) {
    const fs::path db = MakeSiteFile("broken.mdb", kOriginal);
    env_.compact = [](const fs::path&, const fs::path&) {
        return CompactOutcome{false, "未压缩，原因：it's broken"};
    };
    std::string reason;
    EXPECT_EQ(Run(db, &reason), 0u);
    EXPECT_EQ(ReadBytes(db), kOriginal);
    EXPECT_EQ(ReadBytes(BackupOf(db)), kOriginal) << "the backup is kept";
    const FileInfoRecord r = Record(db);
    EXPECT_EQ(r.fileinfo, "未压缩，原因：it's broken") << "quote stored as it is";
    EXPECT_EQ(r.compactDatabase, kStateQueued);
    EXPECT_TRUE(TempFolderEmpty());
}

// Files the engine refuses from their header, and files another process is writing,
// are left alone before anything is copied: no backup, no working copy.
TEST_F(ReplaceTest, RefusedAndBusyFilesGetAReasonAndNoBackup) {
    std::string password = kOriginal;
    const std::vector<std::uint8_t> image(password.begin(), password.end());
    // The database password lives in the scrambled header block, from 0x42.
    const auto block = jet::DescrambledBlock(image, jet::Format::Jet4);
    const std::uint8_t secret[] = {'s', 0x55, 'c', 0x55, 'r', 0x55};
    for (std::size_t i = 0; i < sizeof secret; ++i)
        password[0x42 + i] =
            static_cast<char>(image[0x42 + i] ^ block[0x42 - jet::kHeaderBlockOffset + i] ^ secret[i]);
    const fs::path locked = MakeSiteFile("locked.mdb", password);
    const fs::path notJet = MakeSiteFile("notjet.mdb", std::string(200000, 'x'));
    const fs::path busy = MakeSiteFile("busy.mdb", kOriginal);

    std::string reason;
    EXPECT_EQ(Run(locked, &reason), 0u);
    EXPECT_NE(reason.find("数据库设有密码"), std::string::npos) << reason;
    EXPECT_EQ(Record(locked).fileinfo, reason);
    EXPECT_EQ(Run(notJet, &reason), 0u);
    EXPECT_EQ(reason.rfind(kNotCompactedPrefix, 0), 0u) << reason;

    // A writer that keeps the file open, in another process.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        const int fd = open(busy.c_str(), O_WRONLY | O_APPEND);
        (void)!write(ready[1], "x", 1);
        pause();
        _exit(fd >= 0 ? 0 : 1);
    }
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    EXPECT_EQ(Run(busy, &reason), 0u);
    kill(writer, SIGKILL);
    waitpid(writer, nullptr, 0);
    close(ready[0]);
    close(ready[1]);
    EXPECT_EQ(reason, std::string(kNotCompactedPrefix) + kReasonBeingWritten);
    EXPECT_EQ(Record(busy).fileinfo, reason);

    EXPECT_FALSE(fs::exists(runDir_ / site_.relative_path())) << "no backups made";
    EXPECT_TRUE(TempFolderEmpty());
    EXPECT_EQ(ReadBytes(locked), password);
    EXPECT_EQ(ReadBytes(busy), kOriginal);
}

TEST_F(ReplaceTest, SkipsWhatMustNotBeTouched) {
    // Missing file, a directory, a file inside the backup area, a malformed stored text.
    std::string reason;
    unsigned count = 0;
    BackupCompactReplace("", Long(runDir_), reason, count, env_);
    BackupCompactReplace("====", Long(runDir_), reason, count, env_);
    BackupCompactReplace(StoredPath(site_ / "missing.mdb"), Long(runDir_), reason, count, env_);
    BackupCompactReplace(StoredPath(site_), Long(runDir_), reason, count, env_);
    BackupCompactReplace(StoredPath("relative/a.mdb"), Long(runDir_), reason, count, env_);
    fs::create_directories(backupRoot_ / "old");
    WriteBytes(backupRoot_ / "old" / "a.mdb", kOriginal);
    BackupCompactReplace(StoredPath(backupRoot_ / "old" / "a.mdb"), Long(runDir_), reason, count,
                         env_);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(ReadBytes(backupRoot_ / "old" / "a.mdb"), kOriginal);
    EXPECT_TRUE(fs::is_empty(runDir_)) << "no backup made for skipped records";
}

TEST_F(ReplaceTest, SymbolicLinksAreNeverFollowed) {
    const fs::path outside = root_ / "outside";
    fs::create_directories(outside);
    WriteBytes(outside / "victim.mdb", kOriginal);

    // A link planted as the database itself.
    const fs::path link = site_ / "planted.mdb";
    fs::create_symlink(outside / "victim.mdb", link);
    Queue(link);
    EXPECT_EQ(Run(link), 0u);

    // A directory on the way swapped for a link after the scan.
    const fs::path swappedDir = root_ / "www" / "uploads";
    fs::create_directories(swappedDir);
    const fs::path recorded = swappedDir / "victim.mdb";
    fs::remove(swappedDir);
    fs::create_directory_symlink(outside, swappedDir);
    Queue(recorded);
    EXPECT_EQ(Run(recorded), 0u);

    EXPECT_EQ(ReadBytes(outside / "victim.mdb"), kOriginal);
    EXPECT_FALSE(fs::exists(BackupOf(recorded)));
    // The user learns why from the record, as for every other file left alone.
    for (const fs::path& p : {link, recorded})
        EXPECT_EQ(Record(p).fileinfo, std::string(kNotCompactedPrefix) + kReasonSymbolicLink);
}

// A file with a second name elsewhere (a hard link) would be split by a replacement: the
// other name would keep the old bytes and any write through it would be lost to the site.
TEST_F(ReplaceTest, AFileWithSeveralHardLinksIsRefused) {
    const fs::path db = MakeSiteFile("linked.mdb", kOriginal);
    fs::create_hard_link(db, root_ / "other-name.mdb");
    std::string reason;
    EXPECT_EQ(Run(db, &reason), 0u);
    EXPECT_EQ(reason, std::string(kNotCompactedPrefix) + kReasonHardLinks);
    EXPECT_EQ(Record(db).fileinfo, reason);
    EXPECT_TRUE(fs::equivalent(db, root_ / "other-name.mdb")) << "the file was split";
    EXPECT_FALSE(fs::exists(BackupOf(db)));
}

TEST_F(ReplaceTest, FileRecordedTwiceKeepsTheFirstBackup) {
    const fs::path db = MakeSiteFile("twice.mdb", kOriginal);
    EXPECT_EQ(Run(db), 1u);
    EXPECT_EQ(Run(db), 1u);  // compacts the compacted file again
    EXPECT_EQ(ReadBytes(BackupOf(db)), kOriginal) << "the original bytes stay backed up";
    EXPECT_EQ(ReadBytes(db).size(), kOriginal.size() / 4);
}

bool InsideReplacement(int step) {
    return step >= static_cast<int>(ReplaceStep::StagingCreated) &&
           step < static_cast<int>(ReplaceStep::Replaced);
}

// A write by another program while the procedure runs (opened, written, closed).
const std::string kMarker = "late order";
constexpr std::size_t kInPlaceAt = 5000;

void WriteLate(const fs::path& db, bool append) {
    const int fd = open(db.c_str(), O_WRONLY | (append ? O_APPEND : 0));
    if (append) {
        ASSERT_EQ(write(fd, kMarker.data(), kMarker.size()), ssize_t(kMarker.size()));
    } else {
        ASSERT_EQ(pwrite(fd, kMarker.data(), kMarker.size(), kInPlaceAt), ssize_t(kMarker.size()));
    }
    close(fd);
}

// An append or an in-place write at every step of the procedure, on file systems that
// exchange names and on the rename fallback: the write is always in the site file
// afterwards; up to the exchange the file is not replaced at all.
TEST_F(ReplaceTest, AWriteAtAnyStepSurvivesInTheSiteFile) {
    int writes = 0;
    int lost = 0;
    for (const bool exchange : {true, false}) {
        env_.exchangeNames = exchange;
        for (int step = static_cast<int>(ReplaceStep::PathAccepted);
             step <= static_cast<int>(ReplaceStep::Recorded); ++step) {
            for (const bool append : {true, false}) {
                SCOPED_TRACE("exchange " + std::to_string(exchange) + " step " +
                             std::to_string(step) + " append " + std::to_string(append));
                const fs::path db = MakeSiteFile(
                    "w" + std::to_string(exchange) + std::to_string(step) + std::to_string(append) +
                        ".mdb",
                    kOriginal);
                // An old modification time, as site files have: any write changes it.
                const timespec old[2] = {{1577836800, 0}, {1577836800, 0}};
                ASSERT_EQ(utimensat(AT_FDCWD, db.c_str(), old, 0), 0);
                env_.checkpoint = [&](ReplaceStep reached) {
                    if (static_cast<int>(reached) == step) WriteLate(db, append);
                };
                std::string reason;
                const unsigned replaced = Run(db, &reason);
                const std::string now = ReadBytes(db);
                const bool survived =
                    append ? now.ends_with(kMarker) : now.compare(kInPlaceAt, kMarker.size(), kMarker) == 0;
                ++writes;
                lost += !survived;
                EXPECT_TRUE(survived);
                if (step < static_cast<int>(ReplaceStep::Exchanged)) {
                    std::string expected = kOriginal;
                    if (append)
                        expected += kMarker;
                    else
                        expected.replace(kInPlaceAt, kMarker.size(), kMarker);
                    EXPECT_EQ(replaced, 0u);
                    EXPECT_EQ(now, expected);
                    EXPECT_EQ(reason, std::string(kNotCompactedPrefix) + kReasonModified);
                }
                EXPECT_TRUE(TempFolderEmpty());
            }
        }
    }
    std::cout << "late writes: " << writes << ", lost: " << lost << "\n";
    EXPECT_EQ(lost, 0);
}

// Another program, in a process of its own, that opens the site file when told and
// writes into it when told: through its descriptor, or through a shared mapping it made
// before closing the descriptor.
class LateWriter {
  public:
    LateWriter(const fs::path& db, bool mapped) {
        if (pipe(orders_) != 0 || pipe(done_) != 0) return;
        pid_ = fork();
        if (pid_ != 0) {
            close(orders_[0]);
            close(done_[1]);
            return;
        }
        close(orders_[1]);
        close(done_[0]);
        char order;
        int fd = -1;
        char* map = nullptr;
        while (read(orders_[0], &order, 1) == 1) {
            if (order == 'o') {
                fd = open(db.c_str(), O_RDWR);
                if (mapped && fd >= 0) {
                    void* m = mmap(nullptr, kInPlaceAt + kMarker.size(), PROT_READ | PROT_WRITE,
                                   MAP_SHARED, fd, 0);
                    map = m == MAP_FAILED ? nullptr : static_cast<char*>(m);
                    close(fd);
                }
            } else if (map) {
                std::memcpy(map + kInPlaceAt, kMarker.data(), kMarker.size());
                msync(map, kInPlaceAt + kMarker.size(), MS_SYNC);
            } else {
                (void)!pwrite(fd, kMarker.data(), kMarker.size(), kInPlaceAt);
            }
            (void)!write(done_[1], &order, 1);
        }
        _exit(0);
    }
    ~LateWriter() {
        close(orders_[1]);
        waitpid(pid_, nullptr, 0);
        close(done_[0]);
    }
    void Tell(char order) {
        char done;
        ASSERT_EQ(write(orders_[1], &order, 1), 1);
        ASSERT_EQ(read(done_[0], &done, 1), 1);
    }

  private:
    int orders_[2] = {-1, -1}, done_[2] = {-1, -1};
    pid_t pid_ = -1;
};

// The writer opens the site file after the last check and before the exchange, so it
// holds the original; it writes once the procedure has checked that original after the
// exchange (when the original is removed, or when the procedure has ended). The write
// must be in the site file: the names are exchanged back.
TEST_F(ReplaceTest, AWriterOpeningJustBeforeTheExchangeKeepsItsWrite) {
    for (const bool mapped : {false, true}) {
        SCOPED_TRACE(mapped ? "shared writable mapping" : "descriptor open for writing");
        const fs::path db = MakeSiteFile(mapped ? "mapped.mdb" : "opened.mdb", kOriginal);
        LateWriter writer(db, mapped);
        bool written = false;
        env_.checkpoint = [&](ReplaceStep reached) {
            if (reached == ReplaceStep::LastCheckPassed) writer.Tell('o');
            if (reached == ReplaceStep::OriginalRemoved && !written) {
                writer.Tell('w');
                written = true;
            }
        };
        std::string reason;
        const unsigned replaced = Run(db, &reason);
        if (!written) writer.Tell('w');
        const std::string now = ReadBytes(db);
        EXPECT_EQ(now.compare(kInPlaceAt, kMarker.size(), kMarker), 0) << "the write was lost";
        EXPECT_EQ(replaced, 0u);
        EXPECT_EQ(reason, std::string(kNotCompactedPrefix) + kReasonModified);
        EXPECT_EQ(Record(db).fileinfo, reason);
        EXPECT_EQ(Record(db).compactDatabase, kStateQueued);
        EXPECT_EQ(std::distance(fs::directory_iterator(site_), fs::directory_iterator()),
                  mapped ? 2 : 1)
            << "no temporary file left beside the site file";
    }
}

// A batch run by a user who neither owns the site file nor is root can neither take a
// lease on it nor see the descriptors of the site owner's processes: a writer would be
// invisible, so the file is refused with the reason rather than compacted.
TEST_F(ReplaceTest, AFileWhoseWritersCannotBeSeenIsRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run the batch as another user";
    constexpr uid_t kNobody = 65534;
    const fs::path db = MakeSiteFile("foreign.mdb", kOriginal);
    for (const auto& e : fs::recursive_directory_iterator(root_))
        ASSERT_EQ(lchown(e.path().c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(chown(root_.c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(chown(db.c_str(), 0, 0), 0);  // the site owner's file, writable by the batch
    ASSERT_EQ(chmod(db.c_str(), 0666), 0);
    LateWriter writer(db, false);  // the site owner's process, holding it for writing
    writer.Tell('o');

    int answer[2];
    ASSERT_EQ(pipe(answer), 0);
    const pid_t batch = fork();
    ASSERT_GE(batch, 0);
    if (batch == 0) {
        if (setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(2);
        std::string reason;
        const unsigned replaced = Run(db, &reason);
        (void)!write(answer[1], reason.data(), reason.size());
        _exit(replaced == 0 ? 0 : 1);
    }
    close(answer[1]);
    int status = 0;
    waitpid(batch, &status, 0);
    char text[512];
    const ssize_t n = read(answer[0], text, sizeof text);
    close(answer[0]);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the file was replaced";
    EXPECT_EQ(std::string(text, n > 0 ? n : 0),
              std::string(kNotCompactedPrefix) + kReasonWritersUnseen);
    writer.Tell('w');
    std::string expected = kOriginal;
    expected.replace(kInPlaceAt, kMarker.size(), kMarker);
    EXPECT_TRUE(ReadBytes(db) == expected) << "the writer's file was changed";
    EXPECT_FALSE(fs::exists(BackupOf(db))) << "refused before any copy";
}

struct KillFigures {
    int kills = 0;
    int insideReplacement = 0;
    std::vector<std::string> violations;
};

// Runs the procedure in a child process that is killed (SIGKILL) when it reaches
// `killAt`, then checks what is on disk: the site file is the original or the complete
// compacted file (the compacted one from the exchange on), a backup under its final
// name is complete, and the next batch's clean-up leaves no temporary file. With
// `inPlaceMutant` the child first does what a replacement that overwrites the site file
// in place leaves when it is killed half-way: the checks must catch it.
class KillTest : public ReplaceTest {
  public:
    void KillAt(const fs::path& db, int killAt, bool inPlaceMutant, KillFigures& fig) {
        const std::string compacted = kOriginal.substr(0, kOriginal.size() / 2);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            env_.checkpoint = [&](ReplaceStep reached) {
                if (static_cast<int>(reached) != killAt) return;
                if (inPlaceMutant && InsideReplacement(killAt))
                    WriteBytes(db, compacted.substr(0, compacted.size() / 2));
                raise(SIGKILL);
            };
            Run(db);
            _exit(0);
        }
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "not killed at step " << killAt;
        ++fig.kills;
        fig.insideReplacement += InsideReplacement(killAt);
        CheckAfterKill(db, killAt, "step " + std::to_string(killAt), fig);
    }

    // What must hold on disk after a kill once the procedure had reached `lastStep`.
    void CheckAfterKill(const fs::path& db, int lastStep, const std::string& where,
                        KillFigures& fig) {
        const std::string compacted = kOriginal.substr(0, kOriginal.size() / 2);
        auto violation = [&](const std::string& what) {
            fig.violations.push_back(where + ": " + what);
        };
        const std::string now = ReadBytes(db);
        if (now != kOriginal && now != compacted)
            violation("partial site file, " + std::to_string(now.size()) + " bytes");
        if (now != kOriginal && ReadBytes(BackupOf(db)) != kOriginal)
            violation("site file changed without a complete backup");
        if (lastStep >= static_cast<int>(ReplaceStep::Exchanged) && now != compacted)
            violation("not the compacted file after the exchange");
        if (Record(db).compactDatabase == kStateCompacted && now != compacted)
            violation("recorded as compacted, not replaced");
        if (fs::exists(BackupOf(db)) && ReadBytes(BackupOf(db)) != kOriginal)
            violation("partial backup under the backup's name");
        RemoveBatchLeftovers(DecodeRecordedFiles({StoredPath(db)}), backupRoot_);
        for (const auto& e : fs::directory_iterator(site_))
            if (e.path().filename().string().find(".mdbwarden-") != std::string::npos)
                violation("left over: " + e.path().string());
        if (!TempFolderEmpty()) violation("working copies left in temp/");
        if (ReadBytes(db) != now) violation("the clean-up changed the site file");
    }

    // Runs the procedure in replace_child with kill_at_call loaded: killed just before
    // its call number `killAt` that changes a file (never, when 0). Returns the number of
    // such calls when it ran to its end, or -1 when it was killed, with `lastStep` the
    // last step it reported.
    long RunChild(const fs::path& db, bool exchange, long killAt, int& lastStep) {
        int steps[2];
        if (pipe(steps) != 0) return -2;
        const std::string countFile = (root_ / "calls").string();
        fs::remove(countFile);
        const pid_t child = fork();
        if (child == 0) {
            close(steps[0]);
            setenv("LD_PRELOAD", MDB_KILL_AT_CALL_LIB, 1);
            setenv("ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=0", 1);
            setenv("MDB_KILL_IGNORE_FD", std::to_string(steps[1]).c_str(), 1);
            setenv("MDB_KILL_AT_CALL", std::to_string(killAt).c_str(), 1);
            setenv("MDB_CALL_COUNT_FILE", countFile.c_str(), 1);
            execl(MDB_REPLACE_CHILD, MDB_REPLACE_CHILD, exchange ? "1" : "0",
                  StoredPath(db).c_str(), runDir_.c_str(), backupRoot_.c_str(), dbPath_.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        close(steps[1]);
        char b;
        lastStep = -1;
        while (read(steps[0], &b, 1) == 1) lastStep = b;
        close(steps[0]);
        int status = 0;
        waitpid(child, &status, 0);
        if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) return -1;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -2;
        return std::stol(ReadBytes(countFile));
    }
};

TEST_F(KillTest, KillAtEveryStepLeavesOriginalOrCompactedFileAndNoLeftovers) {
    KillFigures real;
    KillFigures mutant;
    for (const bool exchange : {true, false}) {
        env_.exchangeNames = exchange;
        for (int step = static_cast<int>(ReplaceStep::PathAccepted);
             step <= static_cast<int>(ReplaceStep::Recorded); ++step) {
            const std::string name = std::to_string(exchange) + "-" + std::to_string(step);
            KillAt(MakeSiteFile("crash" + name + ".mdb", kOriginal), step, false, real);
            if (InsideReplacement(step))
                KillAt(MakeSiteFile("mutant" + name + ".mdb", kOriginal), step, true, mutant);
        }
    }
    std::cout << "kills: " << real.kills << ", inside the replacement: " << real.insideReplacement
              << "\n";
    for (const auto& v : real.violations) ADD_FAILURE() << v;
    // The same checks catch a replacement that overwrites the site file in place.
    EXPECT_EQ(mutant.insideReplacement, mutant.kills);
    EXPECT_GE(mutant.violations.size(), static_cast<std::size_t>(mutant.kills));
}

// A kill just before each call of the procedure that changes a file (each write, flush,
// rename, removal, creation, truncation, owner, mode or time change), found by
// kill_at_call in the procedure's own process rather than at named steps: whatever way
// the procedure goes about it, each state it leaves between two calls is checked.
TEST_F(KillTest, KillBeforeEveryCallThatChangesAFile) {
    for (const bool exchange : {true, false}) {
        int lastStep = -1;
        const long calls = RunChild(MakeSiteFile("count" + std::to_string(exchange) + ".mdb",
                                                 kOriginal),
                                    exchange, 0, lastStep);
        ASSERT_GT(calls, 0) << "the procedure did not run to its end";
        ASSERT_EQ(lastStep, static_cast<int>(ReplaceStep::Recorded));
        KillFigures fig;
        // The count may differ by a call or two from run to run (the store's file grows):
        // kills go on until a run gets to its end.
        for (long at = 1; at <= 2 * calls; ++at) {
            const std::string where =
                "exchange " + std::to_string(exchange) + " call " + std::to_string(at);
            const fs::path db = MakeSiteFile("call" + std::to_string(exchange) + "-" +
                                                 std::to_string(at) + ".mdb",
                                             kOriginal);
            const long ran = RunChild(db, exchange, at, lastStep);
            if (ran >= 0) {
                EXPECT_EQ(ReadBytes(db), kOriginal.substr(0, kOriginal.size() / 2)) << where;
                break;
            }
            ASSERT_EQ(ran, -1) << where << ": the child failed";
            ++fig.kills;
            fig.insideReplacement += InsideReplacement(lastStep);
            CheckAfterKill(db, lastStep, where, fig);
        }
        std::cout << "exchange " << exchange << ": " << calls << " calls, " << fig.kills
                  << " kills, " << fig.insideReplacement << " inside the replacement\n";
        EXPECT_GE(fig.kills, calls - 2);
        for (const auto& v : fig.violations) ADD_FAILURE() << v;
    }
}

// Kills at moments spread over the replacement of a larger file (copy and flush under
// way, between the named points), with the step each kill landed after.
TEST_F(KillTest, KillAtSpreadMomentsNeverLeavesAPartialFile) {
    const std::string jetBig = kOriginal.substr(0, kHeaderBytes) + std::string(8 << 20, 'Z');
    const std::string compacted = jetBig.substr(0, jetBig.size() / 2);
    // When an undisturbed run starts and ends its replacement.
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    Clock::duration from{}, to{};
    env_.checkpoint = [&](ReplaceStep reached) {
        if (reached == ReplaceStep::SizeRecorded) from = Clock::now() - start;
        if (reached == ReplaceStep::Replaced) to = Clock::now() - start;
    };
    ASSERT_EQ(Run(MakeSiteFile("timing.mdb", jetBig)), 1u);

    constexpr int kKills = 8;
    int inside = 0;
    for (int i = 0; i < kKills; ++i) {
        const fs::path db = MakeSiteFile("random" + std::to_string(i) + ".mdb", jetBig);
        int steps[2];
        ASSERT_EQ(pipe(steps), 0);
        const auto launched = Clock::now();
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            env_.checkpoint = [&](ReplaceStep reached) {
                const char b = static_cast<char>(reached);
                (void)!write(steps[1], &b, 1);
            };
            Run(db);
            _exit(0);
        }
        close(steps[1]);
        std::this_thread::sleep_until(launched + from + (to - from) * (2 * i + 1) / (2 * kKills));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        char b;
        int last = -1;
        while (read(steps[0], &b, 1) == 1) last = b;
        close(steps[0]);
        inside += last >= static_cast<int>(ReplaceStep::SizeRecorded) &&
                  last < static_cast<int>(ReplaceStep::Replaced);
        const std::string now = ReadBytes(db);
        EXPECT_TRUE(now == jetBig || now == compacted) << "partial site file, size " << now.size();
        if (now != jetBig) {
            EXPECT_TRUE(ReadBytes(BackupOf(db)) == jetBig);
        }
    }
    std::cout << "spread kills: " << kKills << ", inside the replacement: " << inside << "\n";
}

// The clean-up at the start of a batch removes only names this program makes, only its
// own or the site file owner's, and never follows a link.
TEST_F(ReplaceTest, LeftoverCleanUpRemovesOnlyTheProgramsOwnNames) {
    const fs::path db = MakeSiteFile("a.mdb", kOriginal);
    const std::string unique = "abcdefghij12";
    WriteBytes(site_ / (".a.mdb.mdbwarden-" + unique + ".tmp"), "ours");
    WriteBytes(site_ / ".a.mdb.mdbwarden-short.tmp", "not our pattern");
    WriteBytes(site_ / (".b.mdb.mdbwarden-" + unique + ".tmp"), "another user's");
    if (geteuid() == 0) {
        ASSERT_EQ(chown((site_ / (".b.mdb.mdbwarden-" + unique + ".tmp")).c_str(), 4444, 4444), 0);
    }
    const fs::path outside = root_ / "outside.txt";
    WriteBytes(outside, "kept");
    fs::create_symlink(outside, site_ / (".c.mdb.mdbwarden-" + unique + ".tmp"));
    const fs::path work = backupRoot_ / "temp" / ("work_" + unique);
    fs::create_directories(work);
    WriteBytes(work / "old.mdb", "x");
    WriteBytes(work / "new.mdb", "x");
    WriteBytes(work / ".new.mdb.compact-Ab3xYz", "x");          // a killed engine's output
    WriteBytes(work / ".new.mdb.compact-Ab3xYz.spill-12", "x");  // and its sorted runs
    const fs::path foreign = backupRoot_ / "temp" / "work_zzzzzzzzzzzz";
    fs::create_directories(foreign);
    WriteBytes(foreign / "notes.txt", "not ours");
    // Originals put aside by a replacement: the old copy of a file compacted since goes;
    // one whose name is empty (the run ended between the renames) takes its name back.
    WriteBytes(site_ / ("a.mdb.replaced-" + unique), "old copy");
    WriteBytes(site_ / ("d.mdb.replaced-" + unique), "the only copy");

    RemoveBatchLeftovers(DecodeRecordedFiles({StoredPath(db)}), backupRoot_);
    EXPECT_FALSE(fs::exists(site_ / ("a.mdb.replaced-" + unique)));
    EXPECT_FALSE(fs::exists(site_ / ("d.mdb.replaced-" + unique)));
    EXPECT_EQ(ReadBytes(site_ / "d.mdb"), "the only copy");
    EXPECT_FALSE(fs::exists(site_ / (".a.mdb.mdbwarden-" + unique + ".tmp")));
    EXPECT_TRUE(fs::exists(site_ / ".a.mdb.mdbwarden-short.tmp"));
    EXPECT_EQ(fs::exists(site_ / (".b.mdb.mdbwarden-" + unique + ".tmp")), geteuid() == 0);
    EXPECT_TRUE(fs::is_symlink(site_ / (".c.mdb.mdbwarden-" + unique + ".tmp")));
    EXPECT_EQ(ReadBytes(outside), "kept");
    EXPECT_EQ(ReadBytes(db), kOriginal);
    EXPECT_FALSE(fs::exists(work));
    EXPECT_EQ(ReadBytes(foreign / "notes.txt"), "not ours");
}

// Two program directories share the backup root: the clean-up at the start of one's
// batch leaves the working folder of the other's file under way, and the next batch
// removes the partial backup a killed run left in its run folder (only that).
TEST_F(ReplaceTest, InstallsSharingTheBackupRootLeaveEachOthersLiveFolders) {
    const fs::path db = MakeSiteFile("shared.mdb", kOriginal);
    env_.checkpoint = [&](ReplaceStep reached) {
        if (reached == ReplaceStep::WorkingCopyMade) RemoveBatchLeftovers({}, backupRoot_);
    };
    std::string reason;
    EXPECT_EQ(Run(db, &reason), 1u) << reason;
    EXPECT_EQ(ReadBytes(db), kOriginal.substr(0, kOriginal.size() / 2));
    env_.checkpoint = nullptr;

    // A run killed while it copied a backup: marked, never ended, nobody holds it.
    const fs::path killed = backupRoot_ / "2026-12-07" / "09-00-00";
    const fs::path copies = killed / "www" / "shop" / "data";
    fs::create_directories(copies);
    WriteBytes(killed / ".mdbwarden-run", "made by mdbwarden / mdbcompact batch\n");
    const std::string partial = ".orders.mdb.mdbwarden-abcdefghij12.tmp";
    WriteBytes(copies / partial, kOriginal.substr(0, 1000));
    WriteBytes(copies / "kept.mdb", kOriginal);
    WriteBytes(copies / ".orders.mdb.mdbwarden-short.tmp", "not our pattern");
    batch::BatchSettings settings = Settings();
    BatchObserver quiet;
    const auto store = FileInfoDb::Open(dbPath_);
    EXPECT_EQ(RunBatch({}, settings, *store, quiet).start, BatchStart::Ran);
    EXPECT_FALSE(fs::exists(copies / partial)) << "the partial backup stays for good";
    EXPECT_EQ(ReadBytes(copies / "kept.mdb"), kOriginal);
    EXPECT_TRUE(fs::exists(copies / ".orders.mdb.mdbwarden-short.tmp"));
}

// Another install's batch started in the same second and holds that second's run
// folder: this batch takes a folder of its own, so when the other ends and its next
// run's retention (--keep-backups 0) passes, this run's folder is still seen alive and
// keeps its backup. A shared folder lost the backup under the running batch.
TEST_F(ReplaceTest, BatchesStartingInTheSameSecondTakeRunFoldersOfTheirOwn) {
    const fs::path db = MakeSiteFile("same.mdb", kOriginal);
    batch::BatchSettings settings = Settings();
    const fs::path otherDir = batch::BackupRunDirectory(backupRoot_, settings.now);
    fs::create_directories(otherDir);
    std::optional<batch::RunDirectoryLock> other(batch::MarkRunDirectory(otherDir));
    ASSERT_TRUE(other->Held());
    settings.checkpoint = [&](ReplaceStep reached) {
        if (reached != ReplaceStep::BackupWritten) return;
        other.reset();
        batch::RemoveOldBackupRuns(backupRoot_, 0, otherDir.parent_path() / "23-59-59",
                                   settings.now + 3600);
    };
    BatchObserver quiet;
    const auto store = FileInfoDb::Open(dbPath_);
    const batch::BatchRun run = RunBatch(DecodeRecordedFiles({StoredPath(db)}), settings, *store, quiet);
    EXPECT_NE(run.runDir, otherDir);
    EXPECT_EQ(ReadBytes(run.runDir / db.relative_path()), kOriginal)
        << "the backup was removed under the running batch";
    EXPECT_EQ(ReadBytes(db), kOriginal.substr(0, kOriginal.size() / 2));
}

// A file left alone because its backup or its working copy could not be made keeps its
// record as it was, but the run's results say why: each file's line in the report and
// in the JSON document carries the reason and its code.
TEST_F(ReplaceTest, AFailedBackupOrWorkingCopyIsReportedWithItsReason) {
    const fs::path a = MakeSiteFile("a.mdb", kOriginal);
    const fs::path other = root_ / "www" / "blog";
    fs::create_directories(other);
    WriteBytes(other / "b.mdb", kOriginal);
    Queue(other / "b.mdb");
    batch::BatchSettings settings = Settings();
    // A file where a's backup folder goes, and where this install's working folders go.
    const fs::path runDir = batch::BackupRunDirectory(backupRoot_, settings.now);
    fs::create_directories(runDir / site_.relative_path().parent_path());
    WriteBytes(runDir / site_.relative_path(), "in the way");
    const fs::path workRoot = batch::WorkRootFor(backupRoot_, root_);
    fs::create_directories(workRoot.parent_path());
    WriteBytes(workRoot, "in the way");

    BatchObserver quiet;
    batch::RunReport report;
    batch::RecordingObserver recording(quiet, report);
    const auto store = FileInfoDb::Open(dbPath_);
    const batch::BatchRun run = RunBatch(
        DecodeRecordedFiles({StoredPath(a), StoredPath(other / "b.mdb")}), settings, *store,
        recording);
    ASSERT_EQ(run.runDir, runDir);
    EXPECT_EQ(run.totals.notCompacted, 2u);
    ASSERT_EQ(report.files.size(), 2u);
    EXPECT_EQ(report.files[0].reason, kSkipBackupFailed);
    EXPECT_EQ(report.files[1].reason, kSkipWorkingCopy);
    const std::string json = batch::RunReportJson(report).Dump();
    EXPECT_NE(json.find("backup_failed"), std::string::npos) << json;
    EXPECT_NE(json.find("working_copy_failed"), std::string::npos) << json;
    for (const fs::path& p : {a, other / "b.mdb"}) {
        EXPECT_EQ(ReadBytes(p), kOriginal);
        EXPECT_EQ(Record(p).fileinfo, "") << "a skip stays out of the record";
    }
}

// A backup root longer than the 260 characters the path functions take: the batch makes
// its run directory and working folders there, backs up and compacts.
TEST_F(ReplaceTest, ABatchRunsBelowABackupRootLongerThan260Characters) {
    const fs::path db = MakeSiteFile("orders.mdb", kOriginal);
    batch::BatchSettings settings = Settings();
    settings.backupRoot = root_ / std::string(150, 'b') / std::string(150, 'c') / "备份";
    std::string why;
    EXPECT_TRUE(BackupRootWritable(settings.backupRoot, why)) << why;
    BatchObserver quiet;
    const BatchRun run = RunBatch(DecodeRecordedFiles({StoredPath(db)}), settings, *FileInfoDb::Open(dbPath_), quiet);
    ASSERT_EQ(run.start, BatchStart::Ran) << run.message;
    EXPECT_EQ(run.totals.compacted, 1u);
    EXPECT_EQ(ReadBytes(run.runDir / db.relative_path()), kOriginal);
    EXPECT_EQ(ReadBytes(db), kOriginal.substr(0, kOriginal.size() / 2));
}

// The store locked by another program while the procedure records: a lock that goes
// within the retries is waited out; one that stays is reported, not dropped unseen.
TEST_F(ReplaceTest, AStoreLockedWhileRecordingIsWaitedForOrReported) {
    env_.openStore = [this] {
        auto db = FileInfoDb::Open(dbPath_);
        if (db) db->SetBusyTimeout(200);  // the store's 10 s, shortened for the test
        return db;
    };
    const auto locker = FileInfoDb::Open(dbPath_);
    for (const bool released : {true, false}) {
        const fs::path db = MakeSiteFile(released ? "soon.mdb" : "never.mdb", kOriginal);
        std::thread release;
        env_.checkpoint = [&](ReplaceStep reached) {
            if (reached != ReplaceStep::Compacted) return;
            ASSERT_EQ(locker->Begin(), 1);
            if (released)
                release = std::thread([&] {
                    std::this_thread::sleep_for(std::chrono::milliseconds(300));
                    locker->Rollback();
                });
        };
        ReplaceResult result;
        std::string reason;
        unsigned count = 0;
        BackupCompactReplace(StoredPath(db), Long(runDir_), reason, count, env_, &result);
        if (release.joinable()) release.join();
        if (!released) locker->Rollback();
        EXPECT_TRUE(result.Replaced());
        EXPECT_EQ(result.recordNotWritten, !released);
        if (released) {
            EXPECT_EQ(Record(db).compactDatabase, kStateCompacted);
            EXPECT_EQ(Record(db).filesize2, kOriginal.size() / 2);
        }
    }
}

// The real engine on a real database.
TEST_F(ReplaceTest, RealEngineCompactsACorpusDatabase) {
    const fs::path source = fs::path(MDB_CORPUS_DIR) / "jet4" / "testV2000.mdb";
    if (!fs::exists(source)) GTEST_SKIP() << "corpus missing";
    const std::string original = ReadBytes(source);
    const fs::path db = MakeSiteFile("testV2000.mdb", original);
    env_.compact = [](const fs::path& source, const fs::path& destination) {
        return CompactDatabaseFile(source, destination);
    };
    std::string reason;
    EXPECT_EQ(Run(db, &reason), 1u) << reason;
    EXPECT_LT(fs::file_size(db), original.size());
    EXPECT_EQ(ReadBytes(BackupOf(db)), original);
    EXPECT_EQ(Record(db).filesize2, fs::file_size(db));
}

TEST(CompactMdbFileTest, RefusalGivesReasonAndNoDestination) {
    char pattern[] = "/tmp/mdbw-cmf-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const fs::path dir = pattern;
    WriteBytes(dir / "not-a-database.mdb", std::string(70000, 'x'));
    std::string reason = "old text";
    EXPECT_EQ(CompactMdbFile(Long(dir / "not-a-database.mdb"), Long(dir / "out.mdb"), reason), 0);
    EXPECT_EQ(reason.rfind(kNotCompactedPrefix, 0), 0u) << reason;
    EXPECT_EQ(reason.find("old text"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "out.mdb"));

    const fs::path accdb = fs::path(MDB_CORPUS_DIR) / "other" / "testV2007.accdb";
    if (fs::exists(accdb)) {
        EXPECT_EQ(CompactMdbFile(Long(accdb), Long(dir / "out.mdb"), reason), 0);
        EXPECT_NE(reason.find("Access 2007"), std::string::npos) << reason;
        EXPECT_FALSE(fs::exists(dir / "out.mdb"));
    }
    fs::remove_all(dir);
}

}  // namespace
