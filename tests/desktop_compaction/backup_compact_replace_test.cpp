// The per-file procedure of a compaction run on real files: backup, working copies,
// atomic replacement, records, symbolic links, and what a crash at any point leaves.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "common/base64.h"
#include "common/filestore.h"
#include "common/utf16.h"
#include "desktop/compaction/backup_compact_replace.h"
#include "desktop/compaction/compact_mdb_file.h"
#include "file_bytes.h"

namespace fs = std::filesystem;
using namespace mdb;
using namespace mdb::desktop;

namespace {

std::string StoredPath(const fs::path& p) {
    return Base64EncodeText(Utf16LeBytes(*Utf8ToUtf16(p.string())));
}

std::u16string Long(const fs::path& p) {
    return *Utf8ToUtf16(p.string());
}

// A fake engine: the compacted file is the first half of the source, so that tests
// can tell original and compacted bytes apart.
int HalfCompactor(std::u16string source, std::u16string destination, std::string& reason) {
    reason.clear();
    const std::string bytes = ReadBytes(*Utf16ToUtf8(source));
    WriteBytes(*Utf16ToUtf8(destination), bytes.substr(0, bytes.size() / 2));
    return 1;
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
        auto db = FileInfoDb::Open(dbPath_);
        FileInfoRecord r;
        r.filenameid = "k" + name;
        r.filename = "n";
        r.filepath = StoredPath(p);
        r.compactDatabase = kStateQueued;
        db->InsertRecord(r);
        return p;
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

const std::string kOriginal(200000, 'A');

TEST_F(ReplaceTest, ReplacesWithCompactedFileKeepingBackupOwnerAndMode) {
    std::string original = kOriginal;
    original[1] = 'B';
    const fs::path db = MakeSiteFile("orders.mdb", original);
    chmod(db.c_str(), 0444);  // read-only, as site files sometimes are

    EXPECT_EQ(Run(db), 1u);
    EXPECT_EQ(ReadBytes(db), original.substr(0, original.size() / 2));
    EXPECT_EQ(ReadBytes(BackupOf(db)), original);
    struct stat st {};
    ASSERT_EQ(lstat(db.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u) << "writable by its owner, other bits kept";
    EXPECT_EQ(st.st_uid, geteuid());

    const FileInfoRecord r = Record(db);
    EXPECT_EQ(r.compactDatabase, kStateCompacted);
    EXPECT_EQ(r.filesize2, original.size() / 2);
    EXPECT_TRUE(TempFolderEmpty());
    // Nothing but the database is left in the site directory (no temporary file).
    EXPECT_EQ(std::distance(fs::directory_iterator(site_), fs::directory_iterator()), 1);
}

TEST_F(ReplaceTest, FailedCompactionKeepsSiteFileAndStoresReason) {
    const fs::path db = MakeSiteFile("broken.mdb", kOriginal);
    env_.compact = [](std::u16string, std::u16string, std::string& reason) {
        reason = "未压缩，原因：it's broken";
        return 0;
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
    MakeSiteFile("real.mdb", kOriginal);  // gives the store its table
    EXPECT_EQ(Run(link), 0u);

    // A directory on the way swapped for a link after the scan.
    const fs::path swappedDir = root_ / "www" / "uploads";
    fs::create_directories(swappedDir);
    const fs::path recorded = swappedDir / "victim.mdb";
    fs::remove(swappedDir);
    fs::create_directory_symlink(outside, swappedDir);
    EXPECT_EQ(Run(recorded), 0u);

    EXPECT_EQ(ReadBytes(outside / "victim.mdb"), kOriginal);
    EXPECT_FALSE(fs::exists(BackupOf(recorded)));
}

TEST_F(ReplaceTest, FileChangedDuringCompactionIsNotReplaced) {
    const fs::path db = MakeSiteFile("busy.mdb", kOriginal);
    env_.checkpoint = [&](ReplaceStep step) {
        if (step == ReplaceStep::Compacted) WriteBytes(db, kOriginal + "new order");
    };
    EXPECT_EQ(Run(db), 0u);
    EXPECT_EQ(ReadBytes(db), kOriginal + "new order") << "the newer bytes must survive";
    EXPECT_EQ(Record(db).compactDatabase, kStateQueued);
    EXPECT_TRUE(TempFolderEmpty());
}

TEST_F(ReplaceTest, FileRecordedTwiceKeepsTheFirstBackup) {
    const fs::path db = MakeSiteFile("twice.mdb", kOriginal);
    EXPECT_EQ(Run(db), 1u);
    EXPECT_EQ(Run(db), 1u);  // compacts the compacted file again
    EXPECT_EQ(ReadBytes(BackupOf(db)), kOriginal) << "the original bytes stay backed up";
    EXPECT_EQ(ReadBytes(db).size(), kOriginal.size() / 4);
}

// Kills a child process at each point of the procedure and checks what is on disk:
// the site file is either the original or the complete compacted file, and it is
// never changed before a complete backup exists.
TEST_F(ReplaceTest, CrashAtAnyPointLeavesOriginalOrCompactedFile) {
    const std::string compacted = kOriginal.substr(0, kOriginal.size() / 2);
    for (int step = static_cast<int>(ReplaceStep::PathAccepted);
         step <= static_cast<int>(ReplaceStep::Recorded); ++step) {
        SCOPED_TRACE("killed at step " + std::to_string(step));
        const fs::path db = MakeSiteFile("crash" + std::to_string(step) + ".mdb", kOriginal);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            env_.checkpoint = [step](ReplaceStep reached) {
                if (static_cast<int>(reached) == step) raise(SIGKILL);
            };
            Run(db);
            _exit(0);
        }
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));
        const std::string now = ReadBytes(db);
        EXPECT_TRUE(now == kOriginal || now == compacted);
        if (now != kOriginal) {
            EXPECT_EQ(ReadBytes(BackupOf(db)), kOriginal);
        }
        if (step >= static_cast<int>(ReplaceStep::Replaced)) {
            EXPECT_EQ(now, compacted);
        }
    }
}

// The same with kills at arbitrary moments, while the copies are under way.
TEST_F(ReplaceTest, KillAtRandomMomentsNeverLeavesAPartialFile) {
    const std::string big(8 << 20, 'Z');
    const std::string compacted = big.substr(0, big.size() / 2);
    for (int i = 0; i < 12; ++i) {
        const fs::path db = MakeSiteFile("random" + std::to_string(i) + ".mdb", big);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            Run(db);
            _exit(0);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500 + i * 1500));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        const std::string now = ReadBytes(db);
        EXPECT_TRUE(now == big || now == compacted) << "partial site file, size " << now.size();
        if (now != big) {
            EXPECT_EQ(ReadBytes(BackupOf(db)).size(), big.size());
        }
    }
}

// The real engine on a real database.
TEST_F(ReplaceTest, RealEngineCompactsACorpusDatabase) {
    const fs::path source = fs::path(MDB_CORPUS_DIR) / "jet4" / "testV2000.mdb";
    if (!fs::exists(source)) GTEST_SKIP() << "corpus missing";
    const std::string original = ReadBytes(source);
    const fs::path db = MakeSiteFile("testV2000.mdb", original);
    env_.compact = CompactMdbFile;
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
