// Reading the directory list and filling the scan table.

#include "common/eventlog.h"
#include "common/listfile.h"
#include "common/text.h"
#include "common/utf16.h"
#include "platform/arguments.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "scanner/filescan.h"
#include "scanner/notices.h"

#include <cerrno>

namespace mdb::scanner {

namespace {

constexpr int kOpenAttempts = 31;
constexpr unsigned kOpenRetryMs = 100;

// The failure cause numbers the event report has always carried.
int CauseCode(platform::OpenResult result, int error) {
    if (result == platform::OpenResult::SharingViolation) return 11;
    switch (platform::ClassifyFileError(error)) {
        case platform::FileError::NotFound:
            return 2;
        case platform::FileError::BadPath:
            return 3;
        case platform::FileError::TooManyOpen:
            return 4;
        case platform::FileError::AccessDenied:
            return 5;
        case platform::FileError::Other:
            break;
    }
    return 1;
}

}  // namespace

int FileScanner::qorReadTxtFileLine() {
    const std::string path = CollapseSeparators(programDir_ + platform::kSeparator + "config" +
                                                platform::kSeparator + kScanDirFileName);
    platform::SharedFile file;
    int violations = 0;
    const platform::OpenResult result = platform::OpenWithRetry(
        file, path, platform::OpenMode::ReadDenyWrite, kOpenAttempts, kOpenRetryMs, &violations);
    if (result != platform::OpenResult::Ok) {
        const std::string detail =
            "m_cause = " + std::to_string(CauseCode(result, file.LastError())) +
            ",m_strFileName = " + path + ",nopentime = " + std::to_string(violations);
        if (result == platform::OpenResult::SharingViolation) {
            ReportToEventLog(kEventMainFlow, "qorReadTxtFileLine() ERR",
                             "CFileException::sharingViolation > 30", detail.c_str());
        } else {
            ReportToEventLog(kEventMainFlow, "qorReadTxtFileLine() ERR", detail.c_str(), "");
        }
        // A missing list is said by the message that no directory is set.
        if (file.LastError() != ENOENT)
            listNotices_.push_back(
                TrFormat("无法读取目录列表文件 %s：%s",
                         {SanitizeUtf8(path),
                          FileErrorText(result == platform::OpenResult::SharingViolation
                                            ? EWOULDBLOCK
                                            : file.LastError())}));
        return 0;
    }
    std::string text;
    if (!file.ReadAll(text)) {
        ReportToEventLog(kEventMainFlow, "qorReadTxtFileLine() catch err", path.c_str(), "");
        listNotices_.push_back(
            TrFormat("无法读取目录列表文件 %s：%s", {SanitizeUtf8(path), FileErrorText(EIO)}));
        return 0;
    }
    // The list holds the system code page's text (GBK on Chinese Windows).
    const ParsedListFile parsed = ParseListFile(platform::Utf8FromSystemCodePage(text));
    if (parsed.crLineEnds)
        listNotices_.push_back(Tr("目录列表文件以 CR（回车符）作为换行符，已按 CR 分行读取"));
    for (const IgnoredListLine& line : parsed.ignored)
        listNotices_.push_back(IgnoredListLineText(line));
    for (const std::string& entry : parsed.entries) {
        // Keep file order and drop repeats of earlier entries.
        bool seen = false;
        for (const std::string& existing : dirList_) seen = seen || existing == entry;
        if (!seen) dirList_.push_back(entry);
    }
    return 1;
}

int FileScanner::LoadScanDirTable() {
    qorReadTxtFileLine();
    table_.fill(ScanDirEntry{});
    tableNotices_.clear();
    size_t used = 0;
    size_t number = 0;
    for (const std::string& entry : dirList_) {
        ++number;
        if (used == table_.size()) {
            tableNotices_.push_back(
                TrFormat("目录列表共有 %s 个目录，只扫描前 %s 个可用目录，从第 %s 个起未扫描",
                         {std::to_string(dirList_.size()), std::to_string(kScanTableSlots),
                          std::to_string(number)}));
            break;
        }
        // Entries are 1 to 259 bytes as the list file stores them (the system code page:
        // a Chinese character is two bytes in GBK, three in UTF-8), and so never more than
        // 259 UTF-16 units.
        const bool tooLong = platform::SystemCodePageFromUtf8(entry).size() > kMaxSlotUnits;
        if (tooLong || entry.empty() || !Utf8ToUtf16(entry)) {
            const std::string why = tooLong
                                        ? TrFormat("超过 %s 个字节", {std::to_string(kMaxSlotUnits)})
                                        : Tr("不是有效的 UTF-8 文本");
            tableNotices_.push_back(TrFormat("扫描目录 %s %s，未扫描：%s",
                                             {std::to_string(number), why, SanitizeUtf8(entry)}));
            continue;
        }
        table_[used].inUse = true;
        table_[used].path = entry;
        ++used;
    }
    return 1;
}

}  // namespace mdb::scanner
