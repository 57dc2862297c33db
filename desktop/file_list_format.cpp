#include "file_list_format.h"

#include <cinttypes>
#include <cstdio>

#include "common/base64.h"
#include "common/i18n.h"
#include "common/utf16.h"
#include "failure_reason.h"
#include "long_path_text.h"

namespace mdb::desktop {

std::optional<std::string> DecodeStoredName(std::string_view base64) {
    const std::vector<std::uint8_t> bytes = Base64Decode(base64);
    if (bytes.empty() || bytes.size() >= kMaxDecodedNameBytes) return std::nullopt;
    return Utf16ToUtf8(Utf16FromLeBytes(bytes));
}

std::string DisplayName(std::string_view base64) {
    auto name = DecodeStoredName(base64);
    return name ? std::move(*name) : std::string(kBadNameText);
}

std::string DisplayPath(std::string_view base64) {
    auto path = DecodeStoredName(base64);
    return path ? RemoveLongPathPrefixes(std::move(*path)) : std::string(kBadNameText);
}

std::string FormatSizeText(std::uint64_t size) {
    if (size <= 1024) return "? KB";
    char buf[40];
    std::snprintf(buf, sizeof buf, "%" PRIu64 " KB", size / 1024);
    return buf;
}

std::string FormatCompactedSizeText(std::uint64_t size) {
    if (size == 0) return "---";
    return FormatSizeText(size);
}

std::string FormatRatioText(const FileInfoRecord& record) {
    if (record.compactDatabase == kStateCompacted) {
        const std::uint64_t original = record.filesize;
        const std::uint64_t compacted = record.filesize2;
        float ratio = 0.0f;
        if (compacted < original) {
            ratio = static_cast<float>(static_cast<double>(original - compacted) /
                                       static_cast<double>(original) * 100.0);
        }
        char buf[40];
        std::snprintf(buf, sizeof buf, "%2.2f %%", static_cast<double>(ratio));
        const std::string repaired = RepairMark(record.fileinfo);
        return repaired.empty() ? std::string(buf) : std::string(buf) + " " + repaired;
    }
    if (!record.fileinfo.empty()) return ShortFailureText(record.fileinfo);
    return "---";
}

void FillEntry(const FileInfoRecord& record, FileListEntry& entry, const BatchProgress& batch) {
    entry.inUse = 1;
    entry.fileName = DisplayName(record.filename);
    entry.filePath = DisplayPath(record.filepath);
    entry.originalSize = FormatSizeText(record.filesize);
    entry.compactedSize = FormatCompactedSizeText(record.filesize2);
    entry.ratio = FormatRatioText(record);
    const bool failed =
        record.compactDatabase != kStateCompacted && IsFailureReason(record.fileinfo);
    entry.reason = failed ? FullFailureText(record.fileinfo) : std::string();
    // A file refused at its last step (changed during its compaction, say) keeps the
    // compacted size the batch recorded before; that file was never put in place.
    if (failed) entry.compactedSize = "---";
    // A repaired file's note (what was made anew or lost) shows where a reason would.
    if (record.compactDatabase == kStateCompacted && !RepairMark(record.fileinfo).empty())
        entry.reason = TrWithDetail(record.fileinfo, "");
    if (const auto left = batch.leftAlone.find(record.filepath);
        left != batch.leftAlone.end() && record.compactDatabase != kStateCompacted && !failed) {
        entry.compactedSize = "---";
        entry.ratio = entry.reason = Tr(left->second);
    }
    entry.recordKey = record.filenameid;
    if (batch.active && record.compactDatabase == kStateQueued && !batch.done.contains(record.filepath)) {
        entry.compactedSize = "---";
        entry.ratio = Tr(record.filepath == batch.current ? kCompactingText : kWaitingText);
        entry.reason.clear();
    }
}

}  // namespace mdb::desktop
