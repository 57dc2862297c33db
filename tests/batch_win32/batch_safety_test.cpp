// The batch's per-file procedure on Windows with real files and our engine: a successful
// compaction replaces the site file and keeps the original as backup, a damaged database
// and a database another process holds open stay exactly as they were, at Chinese names
// and at paths beyond 260 characters.
#include "batch/backup_compact_replace.h"
#include "batch/batch_leftovers.h"
#include "batch/compact_mdb_file.h"
#include "batch/stored_path.h"
#include "common/filestore.h"
#include "platform/arguments.h"
#include "platform/files.h"
#include "platform/process.h"
#include "tests/common/output_to_file_win32.h"
#include "tests/common/test_support.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace mdb;
using namespace mdb::batch;

std::string Utf8(const fs::path& path) { return platform::Utf8OfPath(path); }
// The path with the long-path prefix, for the test's own reads and directory making.
fs::path Long(const fs::path& path) { return platform::PathFromUtf8("\\\\?\\" + Utf8(path)); }
std::string Read(const fs::path& path) { return test::ReadWholeFile(Long(path)); }

const fs::path kSample = fs::path(MDB_CORPUS_DIR) / "jet4" / "delTestV2000.mdb";

fs::path BesideThisProgram(const wchar_t* name) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return fs::path(self).parent_path() / name;
}

// hold_file_open.exe holding `path` open, ended and waited for on destruction. It is
// held once the program has made its ready file, `path` with ".held" added, in a folder of
// its own (`readyDir`) so that the site folder keeps only the database. (Probing the file
// instead raced with the program: a probe open at the moment it opened the file made it
// fail for sharing.)
class Holder {
  public:
    Holder(const fs::path& path, const wchar_t* mode, const fs::path& readyDir) {
        const fs::path ready = readyDir / (path.filename().wstring() + L".held");
        std::error_code ignored;
        fs::remove(Long(ready), ignored);
        std::wstring line = L"\"" + BesideThisProgram(L"hold_file_open.exe").wstring() + L"\" \"" +
                            Long(path).wstring() + L"\" " + mode + L" \"" + Long(ready).wstring() + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &process_))
            return;
        // A minute: Wine on a busy machine has taken over ten seconds to start a program.
        for (int i = 0; i < 3000; ++i) {
            if (fs::exists(Long(ready), ignored)) {
                holding_ = true;
                return;
            }
            if (WaitForSingleObject(process_.hProcess, 20) == WAIT_OBJECT_0) return;
        }
    }
    ~Holder() {
        if (!process_.hProcess) return;
        TerminateProcess(process_.hProcess, 0);
        WaitForSingleObject(process_.hProcess, INFINITE);
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }
    bool Holding() const { return holding_; }

  private:
    PROCESS_INFORMATION process_{};
    bool holding_ = false;
};

// Removes the tree at the long path `path` (the library's remove_all stops at paths
// beyond 260 characters).
void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW found;
    const HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path + L"\\" + name);
            else
                DeleteFileW((path + L"\\" + name).c_str());
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
}

class BatchSafetyTest : public ::testing::Test {
  protected:
    void TearDown() override { RemoveTree(Long(temp_.path()).wstring()); }
    void SetUp() override {
        root_ = temp_.path() / u8"网站数据";
        site_ = root_ / "www" / u8"商城";
        backupRoot_ = root_ / u8"备份";
        runDir_ = backupRoot_ / "2026-12-08" / "10-00-00";
        // The store in a program directory's config folder, where the batch keeps its lock.
        const fs::path config = root_ / "prog" / "config";
        for (const fs::path& dir : {site_, runDir_, config}) fs::create_directories(dir);
        store_ = Utf8(config / "FileInfo.dat");
        env_.backupRoot = backupRoot_;
        env_.openStore = [this] { return FileInfoDb::Open(store_); };
        env_.compact = [](const fs::path& source, const fs::path& destination) {
            return CompactDatabaseFile(source, destination);
        };
    }

    // A copy of the sample at `path` (its directories made level by level, long or not),
    // queued in the store.
    std::string Place(const fs::path& path, std::string bytes = test::ReadWholeFile(kSample)) {
        std::string level = "\\\\?\\" + Utf8(site_);
        for (const auto& part : path.parent_path().lexically_relative(site_)) {
            if (part == ".") continue;
            level += "\\" + Utf8(part);
            EXPECT_TRUE(platform::MakeDirectory(level) || fs::is_directory(platform::PathFromUtf8(level)));
        }
        test::WriteWholeFile(Long(path), bytes);
        FileInfoRecord record;
        record.filenameid = "k" + std::to_string(++queued_);
        record.filename = "n";
        record.filepath = StoredPathOf(path);
        record.compactDatabase = kStateQueued;
        FileInfoDb::Open(store_)->InsertRecord(record);
        return bytes;
    }

    ReplaceResult Run(const fs::path& path, std::string& reason) {
        reason = "left over from an earlier file";
        unsigned count = 0;
        ReplaceResult result;
        BackupCompactReplace(StoredPathOf(path), Long(runDir_).u16string(), reason, count, env_,
                             &result);
        EXPECT_EQ(count, result.Replaced() ? 1u : 0u);
        return result;
    }

    FileInfoRecord Record(const fs::path& path) {
        std::vector<FileInfoRecord> rows;
        FileInfoDb::Open(store_)->SelectAll(rows);
        for (const auto& row : rows)
            if (row.filepath == StoredPathOf(path)) return row;
        ADD_FAILURE() << "no record for " << Utf8(path);
        return {};
    }

    fs::path BackupOf(const fs::path& path) { return runDir_ / path.relative_path(); }

    // Nothing of the procedure is left: no working folder, nothing beside the site file.
    void ExpectNoLeftovers(const fs::path& path) {
        const fs::path temp = backupRoot_ / "temp";
        EXPECT_TRUE(!fs::exists(temp) || fs::is_empty(temp));
        // (The system's own listing: the library's iterator does not take long paths.)
        std::vector<std::string> names;
        WIN32_FIND_DATAW found;
        const HANDLE find = FindFirstFileW((Long(path.parent_path()) / "*").c_str(), &found);
        ASSERT_NE(find, INVALID_HANDLE_VALUE);
        do {
            const std::wstring name = found.cFileName;
            if (name != L"." && name != L"..") names.push_back(Utf8(name));
        } while (FindNextFileW(find, &found));
        FindClose(find);
        EXPECT_EQ(names, std::vector<std::string>{Utf8(path.filename())});
    }

    test::TempDir temp_;
    fs::path root_, site_, backupRoot_, runDir_;
    std::string store_;
    ReplaceEnvironment env_;
    int queued_ = 0;
};

TEST_F(BatchSafetyTest, CompactionReplacesTheFileAndTheBackupHoldsTheOriginal) {
    const fs::path chinese = site_ / u8"订单.mdb";
    const fs::path deep = site_ / std::string(120, 'l') / u8"数据库" / std::string(120, 'm') / "Deep.MDB";
    ASSERT_GT(Utf8(BackupOf(deep)).size(), 260u);
    for (const fs::path& path : {chinese, deep}) {
        SCOPED_TRACE(Utf8(path));
        const std::string original = Place(path);
        std::string reason;
        const ReplaceResult result = Run(path, reason);
        ASSERT_TRUE(result.Replaced()) << result.reason << " / " << reason;
        const std::string compacted = Read(path);
        EXPECT_LT(compacted.size(), original.size());
        EXPECT_EQ(compacted.substr(0, 32), original.substr(0, 32)) << "the same format";
        EXPECT_TRUE(Read(BackupOf(path)) == original);
        const FileInfoRecord record = Record(path);
        EXPECT_EQ(record.compactDatabase, kStateCompacted);
        EXPECT_EQ(record.filesize2, compacted.size());
        ExpectNoLeftovers(path);
    }
}

// A database with the read-only attribute: the system refuses to replace or delete it, so
// the original is put aside and then removed with the attribute taken off. Nothing stays
// beside it; an aside copy a crash left (read-only too) goes at the next batch's start,
// and one whose site file is missing takes its name back.
TEST_F(BatchSafetyTest, ReadOnlyDatabaseLeavesNoOldCopyBesideIt) {
    const fs::path path = site_ / u8"只读.mdb";
    const std::string original = Place(path);
    ASSERT_TRUE(SetFileAttributesW(Long(path).c_str(), FILE_ATTRIBUTE_READONLY));
    std::string reason;
    const ReplaceResult result = Run(path, reason);
    ASSERT_TRUE(result.Replaced()) << result.reason << " / " << reason;
    EXPECT_EQ(result.note, "");
    EXPECT_LT(Read(path).size(), original.size());
    ExpectNoLeftovers(path);

    const fs::path aside = site_ / (u8"只读.mdb.replaced-abcdefghij12");
    const fs::path lone = site_ / (u8"孤立.mdb.replaced-abcdefghij12");
    for (const fs::path& file : {aside, lone}) {
        test::WriteWholeFile(Long(file), original);
        ASSERT_TRUE(SetFileAttributesW(Long(file).c_str(), FILE_ATTRIBUTE_READONLY));
    }
    RemoveBatchLeftovers(DecodeRecordedFiles({StoredPathOf(path)}), backupRoot_);
    EXPECT_FALSE(fs::exists(Long(aside)));
    EXPECT_FALSE(fs::exists(Long(lone)));
    EXPECT_TRUE(Read(site_ / u8"孤立.mdb") == original);
}

// Pages past the header overwritten: the engine takes the file up, then fails on it.
TEST_F(BatchSafetyTest, DamagedDatabaseStaysAsItWasAndIsBackedUp) {
    std::string damaged = test::ReadWholeFile(kSample);
    for (std::size_t at = 4096; at < damaged.size(); at += 7) damaged[at] = '\xA5';
    const fs::path path = site_ / std::string(150, 'd') / std::string(150, 'e') / u8"损坏.mdb";
    Place(path, damaged);
    std::string reason;
    const ReplaceResult result = Run(path, reason);
    EXPECT_FALSE(result.Replaced());
    EXPECT_EQ(reason.rfind(kNotCompactedPrefix, 0), 0u) << reason;
    EXPECT_EQ(Record(path).fileinfo, reason);
    EXPECT_NE(Record(path).compactDatabase, kStateCompacted);
    EXPECT_TRUE(Read(path) == damaged);
    EXPECT_TRUE(Read(BackupOf(path)) == damaged);
    ExpectNoLeftovers(path);
}

// As a web server holds an open database: no sharing at all, or a writer that lets
// others read. The file is neither backed up nor touched, and the record says why.
TEST_F(BatchSafetyTest, FileHeldOpenByAnotherProcessIsLeftAsItIsAndReported) {
    for (const wchar_t* mode : {L"none", L"read"}) {
        const fs::path path = site_ / mode / u8"被占用.mdb";
        SCOPED_TRACE(Utf8(path));
        const std::string original = Place(path);
        std::string reason;
        ReplaceResult result;
        {
            const Holder holder(path, mode, root_);
            ASSERT_TRUE(holder.Holding());
            result = Run(path, reason);
        }
        EXPECT_FALSE(result.Replaced());
        EXPECT_EQ(result.reason, std::string(kNotCompactedPrefix) + kReasonBeingWritten);
        EXPECT_EQ(Record(path).fileinfo, result.reason);
        EXPECT_EQ(Record(path).compactDatabase, kStateQueued);
        EXPECT_TRUE(Read(path) == original);
        EXPECT_FALSE(fs::exists(Long(BackupOf(path))));
        ExpectNoLeftovers(path);
    }
}

// "mdbcompact batch", as the window runs it, on a database a process holds without sharing:
// the run says the file was not compacted and why, and ends with a failure.
TEST_F(BatchSafetyTest, BatchCommandReportsAHeldDatabaseAsNotCompacted) {
    const fs::path path = site_ / u8"被占用.mdb";
    const std::string original = Place(path);
    const fs::path output = root_ / "batch.txt";
    int exitCode = -1;
    {
        const Holder holder(path, L"none", root_);
        ASSERT_TRUE(holder.Holding());
        const platform::SpawnResult batch = test::StartWithOutputTo(
            {Utf8(fs::path(MDB_DIST_DIR) / "mdbcompact.exe"), "batch", "--no-web-server",
             "--store", store_, "--backup-root", Utf8(backupRoot_), Utf8(path)},
            Utf8(output));
        ASSERT_TRUE(batch.Started());
        exitCode = platform::WaitForProcessFor(batch.pid, std::chrono::minutes(2));
    }
    const std::string printed = test::ReadWholeFile(output);
    EXPECT_EQ(exitCode, 1) << printed;
    EXPECT_NE(printed.find("compacted 0, not compacted 1"), std::string::npos) << printed;
    EXPECT_NE(printed.find(kReasonBeingWritten), std::string::npos) << printed;
    EXPECT_TRUE(Read(path) == original);
}

// The procedure in a process ended abruptly at each step (batch_step_child.exe), on the
// exchange of names and on the rename fallback: the site file is the original or the
// complete compacted file (the compacted one from the exchange on), a backup under its
// final name is complete, and the next batch's clean-up leaves no temporary file. The same
// checks run against a child that removes the site file before it ends inside the
// replacement, as a replacement that is not atomic would: they must find fault each time.
TEST_F(BatchSafetyTest, ProcessEndedAtAnyStepLeavesTheOriginalOrTheCompactedFile) {
    std::string original = test::ReadWholeFile(kSample).substr(0, 4096);
    original.resize(64 * 4096, 'A');
    const std::string compacted = original.substr(0, original.size() / 2);
    const auto inside = [](int step) {
        return step >= static_cast<int>(ReplaceStep::StagingCreated) &&
               step < static_cast<int>(ReplaceStep::Replaced);
    };
    int ended = 0, mutantRuns = 0, mutantsCaught = 0;
    for (const bool exchange : {true, false}) {
        for (int step = static_cast<int>(ReplaceStep::PathAccepted);
             step <= static_cast<int>(ReplaceStep::Recorded); ++step) {
            for (const bool removeFirst : {false, true}) {
                if (removeFirst && !inside(step)) continue;
                const std::string name = std::to_string(exchange) + "-" + std::to_string(step) +
                                         (removeFirst ? "-removed" : "");
                SCOPED_TRACE(name);
                const fs::path path = site_ / name / u8"订单.mdb";
                Place(path, original);
                const std::vector<std::string> argv = {
                    Utf8(BesideThisProgram(L"batch_step_child.exe")), store_, Utf8(backupRoot_),
                    Utf8(runDir_), StoredPathOf(path), std::to_string(step),
                    exchange ? "1" : "0", removeFirst ? "1" : "0"};
                const platform::SpawnResult child = platform::SpawnProcess(argv);
                ASSERT_TRUE(child.Started());
                ASSERT_EQ(platform::WaitForProcessFor(child.pid, std::chrono::minutes(1)), 9)
                    << "not ended at the step";
                std::vector<std::string> faults;
                const std::string now = Read(path);
                if (now != original && now != compacted) faults.push_back("partial site file");
                if (now != original && Read(BackupOf(path)) != original)
                    faults.push_back("site file changed without a complete backup");
                if (step >= static_cast<int>(ReplaceStep::Exchanged) && now != compacted)
                    faults.push_back("not the compacted file after the exchange");
                if (fs::exists(Long(BackupOf(path))) && Read(BackupOf(path)) != original)
                    faults.push_back("partial backup under the backup's name");
                RemoveBatchLeftovers(DecodeRecordedFiles({StoredPathOf(path)}), backupRoot_);
                if (Read(path) != now) faults.push_back("the clean-up changed the site file");
                if (removeFirst) {
                    ++mutantRuns;
                    mutantsCaught += !faults.empty();
                    continue;
                }
                ++ended;
                for (const auto& fault : faults) ADD_FAILURE() << fault;
                ExpectNoLeftovers(path);
            }
        }
    }
    EXPECT_EQ(ended, 2 * (static_cast<int>(ReplaceStep::Recorded) + 1));
    EXPECT_GT(mutantRuns, 0);
    EXPECT_EQ(mutantsCaught, mutantRuns);
}

}  // namespace
