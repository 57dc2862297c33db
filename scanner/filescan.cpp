// The directory walk and the record insert.

#include "scanner/filescan.h"

#include "common/base64.h"
#include "common/checkvalue.h"
#include "common/eventlog.h"
#include "common/runlog.h"
#include "common/settings.h"
#include "common/utf16.h"
#include "platform/clock.h"
#include "platform/dirwalk.h"
#include "platform/paths.h"
#include "platform/termination.h"
#include "scanner/header.h"
#include "scanner/messages.h"

#include <cassert>
#include <cstdio>

namespace mdb::scanner {

namespace {

constexpr char kNameReadError[] = "（读取文件名时发生错误！）";
constexpr char kCheckKey[] = "mdbscout";

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

// Base64 of the UTF-16LE form of a UTF-8 text.
std::string EncodeUtf16Base64(const std::u16string& text) {
    std::string out;
    Base64Encode(Utf16LeBytes(text), out);
    return out;
}

}  // namespace

FileScanner::FileScanner(std::string programDir, FileInfoDb* db, ConsoleSink console)
    : programDir_(std::move(programDir)), db_(db), console_(std::move(console)) {}

void FileScanner::CommitPending() {
    if (pendingRows_ == 0 || db_ == nullptr) return;
    db_->Commit();
    pendingRows_ = 0;
}

void FileScanner::CommitIfStale() {
    if (pendingRows_ > 0 && platform::TickCount() - batchStartTick_ > kBatchWindowMs)
        CommitPending();
}

void FileScanner::SignalDesktop() {
    // Every row the signal announces is committed before it is sent.
    CommitPending();
    // The program directory is known (the entry point refused to run without it); a failed
    // write leaves the counter, so the signal is tried again after the next row.
    if (WriteSettingKey(SettingsPathIn(programDir_), kKeyRefScanLog, "1") == 1)
        rowsSinceSignal_ = 0;
}

int FileScanner::RunFileScan() {
    int result = 1;
    try {
        LoadScanDirTable();
    } catch (...) {
        result = 0;
    }
    if (dirList_.empty()) {
        Print(std::string("\r\n") + kMsgNoScanDir);
        ReportToEventLog(kEventMainFlow, kMsgNoScanDir, "", "");
        WriteRunLog(kMsgNoScanDir);
        return 0;
    }
    int index = 1;
    for (const std::string& entry : dirList_) {
        const std::string line =
            "当前填写的扫描目录 " + std::to_string(index++) + " - " + SanitizeUtf8(entry);
        Print("\r\n" + line);
        WriteRunLog(line);
    }

    filesSeen_ = 0;
    databaseFiles_ = 0;
    const std::uint32_t start = platform::TickCount();
    {
        // A request to end (the window closed, the desktop program stopping the scan) is
        // honoured only after the rows inserted so far are committed.
        platform::TerminationGuard guard;
        for (const ScanDirEntry& slot : table_) {
            if (!slot.inUse || platform::TerminationGuard::Requested()) break;
            try {
                result = ScanDirectory(std::string(platform::kLongPathPrefix) + slot.path);
            } catch (...) {
                result = 0;
            }
        }
        CommitPending();
        guard.Release();
    }
    const std::uint32_t end = platform::TickCount();

    char summary[256];
    std::snprintf(summary, sizeof summary,
                  "\r\n扫描文件完成，累计扫描 %u 个文件，用时 %u 秒，其中MDB数据库文件 %u 个",
                  filesSeen_, (end - start) / 1000u, databaseFiles_);
    Print("\r\n\r\n");
    Print(summary);
    Print("\r\n\r\n\r\n\r\n");

    SignalDesktop();
    return result;
}

int FileScanner::ScanDirectory(const std::string& path) {
    if (path.empty() || !platform::IsRootedPath(path)) return 0;
    if (path.size() > kMaxWalkPathUnits && Utf16Units(path) > kMaxWalkPathUnits) return 0;
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
        if (!platform::ListDirectory(root, top.entries)) return 0;
        stack.push_back(std::move(top));
    }
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.entries.size()) {
            stack.pop_back();
            continue;
        }
        if (platform::TerminationGuard::Requested()) break;
        CommitIfStale();
        const platform::DirEntry& entry = frame.entries[frame.next++];
        if (entry.name.empty()) continue;
        std::string full = Join(frame.directory, entry.name);
        if (entry.kind == platform::EntryKind::Directory) {
            if (Utf16Units(full) > kMaxWalkPathUnits) continue;
            Frame child{std::move(full), {}, 0};
            // A directory that cannot be listed is passed over; the walk goes on.
            if (platform::ListDirectory(child.directory, child.entries))
                stack.push_back(std::move(child));  // `frame` is not used after this
            continue;
        }
        const std::uint32_t n = ++filesSeen_;
        lineBuffer_.assign("\r\n扫描文件 ");
        lineBuffer_.append(std::to_string(n)).append(" - ");
        lineBuffer_.append(SanitizeUtf8(entry.name));
        lineBuffer_.append("，长度 ").append(std::to_string(entry.size)).append(" 字节 ...");
        Print(lineBuffer_);
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
    return InsertFileRecord(fullPath, name, size);
}

int FileScanner::InsertFileRecord(const std::string& fullPath, const std::string& name,
                                  std::uint64_t size) {
    if (size <= kMinDatabaseSize) return 0;
    std::array<std::uint8_t, kHeaderBytes> header{};
    std::uint64_t headerSize = 0;
    std::size_t bytesRead = 0;
    if (ReadFileHeader(fullPath, header, headerSize, bytesRead) != 1) return 0;
    if (bytesRead <= kSignatureBytes || headerSize <= kSignatureBytes ||
        !IsJetSignature(std::span(header).first(bytesRead)))
        return 0;
    ++databaseFiles_;

    // A row must decode back to the file's real path: names that are not UTF-8 and paths
    // longer than the record encoding holds are left out rather than stored garbled or cut.
    const auto path16 = Utf8ToUtf16(fullPath);
    const auto name16 = Utf8ToUtf16(name);
    if (!path16 || !name16) {
        Print("\r\n跳过文件（路径不是有效的 UTF-8 文本，无法记录）- " + SanitizeUtf8(fullPath));
        return 0;
    }
    if (path16->size() > kMaxRecordPathUnits) {
        Print("\r\n跳过文件（路径超过 " + std::to_string(kMaxRecordPathUnits) +
              " 个字符，无法记录）- " + SanitizeUtf8(fullPath));
        return 0;
    }

    FileInfoRecord record;
    record.fid = "1";
    record.filename = name.empty() ? std::string(kNameReadError) : EncodeUtf16Base64(*name16);
    record.filepath = EncodeUtf16Base64(*path16);
    const std::uint32_t n = rowSequence_++;
    record.filenameid = std::to_string(n) + "_" + platform::FormatLocalNow("%Y%m%d%H%M%S") + "_" +
                        std::to_string(platform::TickCount());
    record.regdate = platform::FormatLocalNow("%Y-%m-%d");
    if (MakeCheckValue(record.filepath, kCheckKey, record.filechkval) != 1)
        record.filechkval.clear();
    record.filesize = size;
    record.filesize2 = 0;
    record.compactDatabase = kStateFound;
    record.fileinfo.clear();
    // Rows are committed in groups: at the latest with the signal that announces them (every
    // 10 rows and at the end of the run) or when the group has been open for a second.
    if (db_ != nullptr) {
        if (pendingRows_ == 0) {
            db_->Begin();
            batchStartTick_ = platform::TickCount();
        }
        db_->InsertRecord(record);
        ++pendingRows_;
    }

    if (++rowsSinceSignal_ >= kRowsPerSignal) SignalDesktop();
    return 1;
}

}  // namespace mdb::scanner
