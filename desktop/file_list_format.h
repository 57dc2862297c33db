// Turning one fileinfo record into the texts of one list row.
#pragma once

#include "platform/text_mark.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/filestore.h"
#include "desktop_state.h"

namespace mdb::desktop {

inline constexpr const char* kBadNameText = MDB_TEXT("（文件名有错误）");
inline constexpr std::size_t kMaxDecodedNameBytes = 102400;
// The "压缩率" of a queued file while its batch runs.
inline constexpr const char* kWaitingText = MDB_TEXT("等待压缩");
inline constexpr const char* kCompactingText = MDB_TEXT("正在压缩…");

// Base64 text -> UTF-16LE bytes -> UTF-8. Nothing when the decoded length is 0 or
// 102400 bytes or more, or the text is not valid UTF-16.
std::optional<std::string> DecodeStoredName(std::string_view base64);

// The decoded name, or kBadNameText.
std::string DisplayName(std::string_view base64);
// The decoded path without long-path prefixes, or kBadNameText.
std::string DisplayPath(std::string_view base64);

// "? KB" up to 1024 bytes, else size/1024 as "%u KB".
std::string FormatSizeText(std::uint64_t size);
// "---" for 0 (not compacted yet), else as FormatSizeText.
std::string FormatCompactedSizeText(std::uint64_t size);
// The saving as "%2.2f %%" for a compacted record, else the short failure reason (or
// any other stored text) or "---".
std::string FormatRatioText(const FileInfoRecord& record);

// Fills one file-table row from a record; a file the running batch has still to do
// (`batch`) shows that it waits or is being compacted, without the sizes and reasons of
// an earlier run.
void FillEntry(const FileInfoRecord& record, FileListEntry& entry, const BatchProgress& batch = {});

}  // namespace mdb::desktop
