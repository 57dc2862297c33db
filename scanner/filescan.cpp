// The directory walk and the record insert.

#include "scanner/filescan.h"

#include "common/eventlog.h"
#include "common/own_files.h"
#include "common/runlog.h"
#include "common/settings.h"
#include "common/utf16.h"
#include "platform/clock.h"
#include "platform/dirwalk.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/termination.h"
#include "scanner/header.h"
#include "scanner/messages.h"
#include "scanner/notices.h"

#include <errno.h>

#include <cassert>
#include <cstdio>

namespace mdb::scanner {

namespace {

std::string Join(const std::string& directory, const std::string& name) {
    std::string path = directory;
    if (path.empty() || path.back() != platform::kSeparator) path.push_back(platform::kSeparator);
    path += name;
    return path;
}

// Number of UTF-16 units `text` takes (its byte count when that is all ASCII).
size_t Utf16Units(const std::string& text) {
    size_t units = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) != 0x80) ++units;  // a lead byte or ASCII starts a code point
        if ((c & 0xF8) == 0xF0) ++units;  // four-byte sequences need a surrogate pair
    }
    return units;
}


}  // namespace

FileScanner::FileScanner(std::string programDir, FileInfoDb* db, ConsoleSink console)
    : programDir_(std::move(programDir)), db_(db), console_(std::move(console)) {}

void FileScanner::Notice(const std::string& text) {
    if (notices_)
        notices_(text + "\n");
    else
        Print("\r\n" + text);
    WriteRunLog(text);
}

void FileScanner::ReportUnusable(const char* what, const std::string& path, int error) {
    Notice(TrFormat(what, {SanitizeUtf8(path), FileErrorText(error)}));
}

bool FileScanner::TryWritePending() {
    if (db_->Begin() != 1) return false;
    for (const FileInfoRecord& record : pending_) {
        if (db_->InsertRecord(record) != 1) {
            db_->Rollback();  // keeps the insert's error code
            return false;
        }
    }
    return db_->Commit() == 1;
}

bool FileScanner::WritePending(bool final) {
    if (pending_.empty() || db_ == nullptr) return true;
    const int busyWait = db_->BusyTimeout();
    const int attempts = final ? kFinalWriteAttempts : 1;
    bool written = false;
    for (int attempt = 0; attempt < attempts && !written; ++attempt) {
        // While the store is failing, the walk does not wait for it.
        if (storeFailing_ && !final) db_->SetBusyTimeout(0);
        written = TryWritePending();
        db_->SetBusyTimeout(busyWait);
    }
    batchStartTick_ = platform::TickCount();
    if (written) {
        if (storeFailing_)
            Notice(TrFormat("数据库已可以写入，暂存的 %s 条记录已写入数据库",
                            {std::to_string(pending_.size())}));
        storeFailing_ = false;
        pending_.clear();
        return true;
    }
    const std::string cause =
        TrFormat("原因：%s", {DescribeStoreFailure(db_->LastErrorCode(), db_->Path())});
    if (final) {
        notRecorded_ += static_cast<std::uint32_t>(pending_.size());
        Notice(Tr(kMsgDatabaseFailed));
        Notice(cause);
        Notice(TrFormat("有 %s 个数据库文件未能记录到数据库中，请稍后重新扫描！",
                        {std::to_string(pending_.size())}));
        pending_.clear();
    } else if (!storeFailing_) {
        Notice(Tr("数据库暂时无法写入，找到的数据库文件记录暂存，稍后重试"));
        Notice(cause);
    }
    storeFailing_ = true;
    return false;
}

void FileScanner::WriteIfStale() {
    if (!pending_.empty() && platform::TickCount() - batchStartTick_ > kBatchWindowMs)
        WritePending(false);
}

void FileScanner::SignalDesktop(bool final) {
    // Every row the signal announces is written before it is sent.
    if (!WritePending(final) && !final) return;
    if (signalFailed_ && !final) return;  // tried again at the end of the run only
    // The program directory is known (the entry point refused to run without it); a failed
    // write leaves the counter, so the signal is tried again after the next row.
    const std::string path = SettingsPathIn(programDir_);
    if (WriteSettingKey(path, kKeyRefScanLog, "1") == 1) {
        rowsSinceSignal_ = 0;
        return;
    }
    if (!signalFailed_)
        Notice(TrFormat("无法写入设置文件 %s：%s；桌面程序不会自动刷新文件列表，请手动刷新",
                        {SanitizeUtf8(path), SettingsErrorText(platform::LastProfileError())}));
    signalFailed_ = true;
}

int FileScanner::RunFileScan() {
    int result = 1;
    try {
        LoadScanDirTable();
    } catch (...) {
        result = 0;
    }
    for (const std::string& notice : listNotices_) Notice(notice);
    if (dirList_.empty()) {
        if (notices_) notices_(Tr(kMsgNoScanDir) + "\n");
        Print("\r\n" + Tr(kMsgNoScanDir));
        ReportToEventLog(kEventMainFlow, kMsgNoScanDir, "", "");
        WriteRunLog(Tr(kMsgNoScanDir));
        return 0;
    }
    int index = 1;
    for (const std::string& entry : dirList_) {
        const std::string line = TrFormat("当前填写的扫描目录 %s - %s",
                                          {std::to_string(index++), SanitizeUtf8(entry)});
        Print("\r\n" + line);
        WriteRunLog(line);
    }
    for (const std::string& notice : tableNotices_) Notice(notice);

    filesSeen_ = 0;
    databaseFiles_ = 0;
    const std::uint32_t start = platform::TickCount();
    {
        // A request to end (the window closed, the desktop program stopping the scan) is
        // honoured only after the rows found so far are written.
        platform::TerminationGuard guard;
        for (const ScanDirEntry& slot : table_) {
            if (!slot.inUse || platform::TerminationGuard::Requested()) break;
            try {
                result = ScanDirectory(std::string(platform::kLongPathPrefix) + slot.path);
            } catch (...) {
                result = 0;
            }
            ++dirsScanned_;
            dirsFailed_ += result != 1;
        }
        WritePending(true);
        guard.Release();
    }
    const std::uint32_t end = platform::TickCount();

    const std::string summary =
        TrFormat("扫描文件完成，累计扫描 %s 个文件，用时 %s 秒，其中MDB数据库文件 %s 个",
                 {std::to_string(filesSeen_), std::to_string((end - start) / 1000u),
                  std::to_string(databaseFiles_)});
    Print("\r\n\r\n");
    Print(std::string("\r\n") + summary);
    Print("\r\n\r\n\r\n\r\n");
    // The run log keeps the outcome too, for scans nobody watches (started from cron).
    WriteRunLog(summary);

    SignalDesktop(true);
    return notRecorded_ > 0 ? kResultRowsNotRecorded : result;
}

int FileScanner::ScanDirectory(const std::string& path) {
    if (path.empty()) return 0;
    // The walk is given the long-path form (Windows: "\\?\d:\..."); the rest is rooted.
    if (!platform::IsRootedPath(platform::WithoutLongPathPrefix(path))) {
        Notice(TrFormat("无法扫描目录 %s：不是绝对路径（应以“%s”开头）",
                        {SanitizeUtf8(path), std::string(1, platform::kSeparator)}));
        return 0;
    }
    if (path.size() > kMaxWalkPathUnits && Utf16Units(path) > kMaxWalkPathUnits) {
        ReportUnusable(MDB_TEXT("无法扫描目录 %s：%s"), path, ENAMETOOLONG);
        return 0;
    }
    std::string root = path;
    // "dir/*" lists dir itself.
    if (root.size() > 1 && root.back() == '*' && root[root.size() - 2] == platform::kSeparator)
        root.pop_back();

    // An explicit stack of listed directories instead of recursion: a deep tree costs heap,
    // not stack. Entries are handled in listing order, a subdirectory as soon as it is met.
    struct Frame {
        std::string directory;
        std::vector<platform::DirEntry> entries;
        size_t next = 0;
    };
    std::vector<Frame> stack;
    {
        Frame top{root, {}, 0};
        int error = 0;
        if (!platform::ListDirectory(root, top.entries, &error)) {
            ReportUnusable(MDB_TEXT("无法扫描目录 %s：%s"), root, error);
            return 0;
        }
        stack.push_back(std::move(top));
    }
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.entries.size()) {
            stack.pop_back();
            continue;
        }
        if (platform::TerminationGuard::Requested()) break;
        WriteIfStale();
        const platform::DirEntry& entry = frame.entries[frame.next++];
        if (entry.name.empty()) continue;
        std::string full = Join(frame.directory, entry.name);
        if (entry.kind == platform::EntryKind::Directory) {
            if (Utf16Units(full) > kMaxWalkPathUnits) {
                ReportUnusable(MDB_TEXT("无法打开目录 %s：%s"), full, ENAMETOOLONG);
                continue;
            }
            Frame child{std::move(full), {}, 0};
            // A directory that cannot be listed is reported and passed over; the walk goes on.
            int error = 0;
            if (platform::ListDirectory(child.directory, child.entries, &error))
                stack.push_back(std::move(child));  // `frame` is not used after this
            else
                ReportUnusable(MDB_TEXT("无法打开目录 %s：%s"), child.directory, error);
            continue;
        }
        const std::uint32_t n = ++filesSeen_;
        Print(FormatText(fileLine_, {std::to_string(n), SanitizeUtf8(entry.name),
                                     std::to_string(entry.size)}));
        if (entry.size > kMinDatabaseSize) {
            try {
                ProcessFoundFile(frame.directory, entry.name, full, entry.size);
            } catch (...) {
            }
        }
    }
    return 1;
}

int FileScanner::ProcessFoundFile(const std::string& directory, const std::string& name,
                                  const std::string& fullPath, std::uint64_t size) {
    if (size == 0 || name.find('.') == std::string::npos) return 0;
    // The batch's own temporary copies and originals put aside are no site's database.
    if (IsOwnFileName(name)) return 0;
    return InsertFileRecord(fullPath, name, size);
}

int FileScanner::InsertFileRecord(const std::string& fullPath, const std::string& name,
                                  std::uint64_t size) {
    if (size <= kMinDatabaseSize) return 0;
    std::array<std::uint8_t, kHeaderBytes> header{};
    std::uint64_t headerSize = 0;
    std::size_t bytesRead = 0;
    int error = 0;
    if (ReadFileHeader(fullPath, header, headerSize, bytesRead, &error) != 1) {
        // Only what kept the file from being read is worth a line; an empty file is not.
        if (error != 0 && error != platform::kErrorNotRegularFile)
            ReportUnusable(MDB_TEXT("无法读取文件 %s：%s"), fullPath, error);
        return 0;
    }
    // The file may have changed since its directory was listed: what was read counts.
    size = headerSize;
    if (size <= kMinDatabaseSize || bytesRead <= kSignatureBytes ||
        !IsJetSignature(std::span(header).first(bytesRead)))
        return 0;
    ++databaseFiles_;

    // A row must decode back to the file's real path: names that are not UTF-8 and paths
    // longer than the record encoding holds are left out rather than stored garbled or cut.
    const auto path16 = Utf8ToUtf16(fullPath);
    const auto name16 = Utf8ToUtf16(name);
    if (!path16 || !name16) {
        Notice(TrFormat("跳过文件（路径不是有效的 UTF-8 文本，无法记录）- %s", {SanitizeUtf8(fullPath)}));
        return 0;
    }
    if (path16->size() > kMaxRecordPathUnits) {
        Notice(TrFormat("跳过文件（路径超过 %s 个字符，无法记录）- %s",
                        {std::to_string(kMaxRecordPathUnits), SanitizeUtf8(fullPath)}));
        return 0;
    }

    FileInfoRecord record =
        FoundFileRecord(*path16, name.empty() ? std::u16string() : *name16, size, rowSequence_++);
    // Rows are written in groups: at the latest with the signal that announces them (every
    // 10 rows and at the end of the run) or when the group has waited for a second.
    if (db_ != nullptr) {
        if (pending_.empty()) batchStartTick_ = platform::TickCount();
        pending_.push_back(std::move(record));
    }

    if (++rowsSinceSignal_ >= kRowsPerSignal) SignalDesktop(false);
    return 1;
}

}  // namespace mdb::scanner
