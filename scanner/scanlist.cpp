// Reading the directory list and filling the scan table.

#include "common/eventlog.h"
#include "common/listfile.h"
#include "common/text.h"
#include "common/utf16.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "scanner/filescan.h"

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
        return 0;
    }
    std::string text;
    if (!file.ReadAll(text)) {
        ReportToEventLog(kEventMainFlow, "qorReadTxtFileLine() catch err", path.c_str(), "");
        return 0;
    }
    for (const std::string& entry : ParseListText(text)) {
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
    size_t used = 0;
    for (const std::string& entry : dirList_) {
        if (used == table_.size()) break;
        if (entry.empty() || entry.size() > kMaxSlotUnits) continue;
        const auto units = Utf8ToUtf16(entry);
        if (!units || units->empty() || units->size() > kMaxSlotUnits) continue;
        table_[used].inUse = true;
        table_[used].path = entry;
        ++used;
    }
    return 1;
}

}  // namespace mdb::scanner
