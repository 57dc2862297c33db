#include "takeover/store_takeover.h"

#include <array>
#include <filesystem>
#include <system_error>
#include <vector>

#include "common/i18n.h"
#include "common/utf16.h"
#include "platform/arguments.h"
#include "platform/files.h"
#include "platform/safe_files.h"
#include "takeover/access_fileinfo.h"

namespace mdb::takeover {

namespace fs = std::filesystem;

namespace {

// Another program taking over the same store holds the lock while it reads the old rows
// and writes the new store: well under a second for a month of scans, so a minute is
// only reached when something is stuck.
constexpr int kLockAttempts = 600;
constexpr unsigned kLockDelayMs = 100;
// Names tried for the kept original before giving up (each is a takeover of its own).
constexpr int kKeptNameAttempts = 100;

bool HoldsAccessFile(const std::string& path) {
    std::array<std::uint8_t, kJetProbeBytes> start{};
    std::uint64_t size = 0;
    std::size_t read = 0;
    return platform::ReadFileStart(path, start, size, read) == platform::HeaderResult::Ok &&
           IsJetFileStart(std::span(start).first(read));
}

// Our store's directory, as the safe file functions open it: absolute, without links.
fs::path DirectoryOf(const fs::path& store) {
    std::error_code ec;
    fs::path dir = fs::canonical(store.parent_path(), ec);
    if (ec) dir = fs::absolute(store.parent_path(), ec).lexically_normal();
    return dir;
}

// Keeps a copy of the original under the first free kept name; false when none could
// be written (then no copy is left behind).
bool KeepOriginal(const platform::FileHandle& dir, const std::string& storeName,
                  std::string& keptName) {
    const platform::FileHandle original = platform::OpenForReading(dir, storeName);
    platform::FileStatus status;
    if (!original.Valid() || !platform::StatusOf(original, status)) return false;
    for (int n = 1; n <= kKeptNameAttempts; ++n) {
        keptName = kKeptStem + (n == 1 ? std::string() : "-" + std::to_string(n)) + kKeptSuffix;
        platform::FileStatus existing;
        if (platform::StatusAt(dir, keptName, existing)) continue;
        const platform::FileHandle copy = platform::CreateExclusive(dir, keptName, 0644);
        if (!copy.Valid()) continue;  // taken meanwhile, or not writable: the next tells
        const bool copied = platform::CopyAll(original, copy) && platform::Sync(copy);
        if (copied) {
            platform::CopyOwnerModeTime(copy, status);  // its date says when it was last used
            return true;
        }
        platform::RemoveFile(dir, keptName);
        return false;
    }
    return false;
}

TakeoverResult Failure(TakeoverResult::Kind kind, std::string reason) {
    TakeoverResult result;
    result.kind = kind;
    result.reason = std::move(reason);
    return result;
}

}  // namespace

TakeoverResult TakeOverAccessStore(const std::string& storePath) {
    using Kind = TakeoverResult::Kind;
    if (!HoldsAccessFile(storePath)) return {};

    // One program at a time; whoever waited finds our store afterwards and leaves it.
    platform::SharedFile lock;
    const std::string lockPath = storePath + ".takeover.lock";
    if (platform::OpenWithRetry(lock, lockPath, platform::OpenMode::WriteExclusiveCreate,
                                kLockAttempts, kLockDelayMs) != platform::OpenResult::Ok)
        return Failure(Kind::Failed, TrFormat("无法锁定“%s”", {SanitizeUtf8(lockPath)}));
    struct LockFileRemoval {
        platform::SharedFile& lock;
        const std::string& path;
        ~LockFileRemoval() {
            lock.Close();
            // Best effort: a program waiting for the lock opens (or makes) it again and
            // finds the store taken over; a lock file left behind only takes room.
            std::error_code ec;
            fs::remove(platform::PathFromUtf8(path), ec);
        }
    } removeLock{lock, lockPath};
    if (!HoldsAccessFile(storePath)) return {};

    const fs::path store = platform::PathFromUtf8(storePath);
    std::vector<FileInfoRecord> rows;
    std::string reason;
    if (!ReadAccessFileInfo(store, rows, reason)) return Failure(Kind::Unreadable, reason);

    const fs::path dirPath = DirectoryOf(store);
    const platform::FileHandle dir = platform::OpenDirectoryNoLinks(dirPath);
    if (!dir.Valid())
        return Failure(Kind::Failed, TrFormat("无法打开目录“%s”",
                                              {SanitizeUtf8(platform::Utf8OfPath(dirPath))}));
    const std::string storeName = platform::Utf8OfPath(store.filename());

    // The new store is written in full under a name of its own and closed (SQLite then
    // moves what its write-ahead log holds into the file and removes the log, which a
    // rename would leave behind).
    std::string tempName;
    if (!platform::CreateUniqueFile(dir, storeName + ".takeover-", "", 0644, tempName).Valid())
        return Failure(Kind::Failed, TrFormat("无法在目录“%s”中建立新的记录库",
                                              {SanitizeUtf8(platform::Utf8OfPath(dirPath))}));
    const std::string tempPath = platform::Utf8OfPath(dirPath / platform::PathFromUtf8(tempName));
    const auto discardTemp = [&] {
        std::error_code ec;
        for (const char* part : {"", "-wal", "-shm", "-journal"})
            fs::remove(platform::PathFromUtf8(tempPath + part), ec);
    };
    bool written = false;
    if (auto db = FileInfoDb::Open(tempPath)) {
        std::vector<FileInfoRecord> check;
        written = db->ImportRecords(rows) == 1 && db->SelectAll(check) == 1 &&
                  check.size() == rows.size();
    }
    std::error_code ec;
    if (!written || fs::exists(platform::PathFromUtf8(tempPath + "-wal"), ec)) {
        discardTemp();
        return Failure(Kind::Failed,
                       TrFormat("无法写入新的记录库“%s”", {SanitizeUtf8(tempPath)}));
    }

    std::string keptName;
    if (!KeepOriginal(dir, storeName, keptName)) {
        discardTemp();
        return Failure(Kind::Failed, TrFormat("无法在目录“%s”中保留原文件的副本",
                                              {SanitizeUtf8(platform::Utf8OfPath(dirPath))}));
    }
    if (!platform::Rename(dir, tempName, storeName)) {
        discardTemp();
        platform::RemoveFile(dir, keptName);  // the original is still in its place
        return Failure(Kind::Failed,
                       TrFormat("无法用新的记录库替换“%s”", {SanitizeUtf8(storePath)}));
    }
    platform::Sync(dir);
    TakeoverResult result;
    result.kind = Kind::TakenOver;
    result.rows = rows.size();
    result.keptAs = platform::Utf8OfPath(dirPath / platform::PathFromUtf8(keptName));
    return result;
}

std::string DescribeTakeover(const TakeoverResult& result, const std::string& storePath) {
    const std::string store = SanitizeUtf8(storePath);
    switch (result.kind) {
        case TakeoverResult::Kind::NotAccess:
            return {};
        case TakeoverResult::Kind::TakenOver:
            return TrFormat(
                "已将原版程序的记录库“%s”（Access 格式，%s 条记录）转换为本程序的格式，原文件保留为“%s”",
                {store, std::to_string(result.rows), SanitizeUtf8(result.keptAs)});
        case TakeoverResult::Kind::Unreadable:
            // The engine's reason is its own words, as in every report of a file it cannot read.
            return TrFormat("“%s”是原版程序的记录库（Access 格式），但无法读取（%s）。文件保持原样，"
                            "未作任何改动；请用 Access 修复它，或将它移到别处后重新扫描",
                            {store, result.reason});
        case TakeoverResult::Kind::Failed:
            return TrFormat("无法转换原版程序的记录库“%s”：%s。文件保持原样，未作任何改动",
                            {store, result.reason});
    }
    return {};
}

std::unique_ptr<FileInfoDb> OpenStore(const std::string& path, MessageReporter& reporter,
                                      int* errorCode) {
    const TakeoverResult takeover = TakeOverAccessStore(path);
    if (takeover.kind != TakeoverResult::Kind::NotAccess)
        reporter.ShowMessage(DescribeTakeover(takeover, path));
    if (takeover.kind == TakeoverResult::Kind::Unreadable ||
        takeover.kind == TakeoverResult::Kind::Failed) {
        if (errorCode != nullptr) *errorCode = 0;  // the message says why
        return nullptr;
    }
    return FileInfoDb::Open(path, errorCode);
}

}  // namespace mdb::takeover
