// The reason a file was not compacted, as the list shows it: a short text that fits the
// narrow "压缩率" column, and the full text (kind and the engine's own detail) for the
// tooltip, the "查看原因" box and the log; both in the user's language (Tr) where the
// catalog knows the kind, the stored text staying Chinese.
#pragma once

#include <string>
#include <string_view>

namespace mdb::desktop {

// True when a stored fileinfo text is a failure reason ("未压缩..."), not a result.
bool IsFailureReason(std::string_view stored);

// The short mark of a compacted file whose stored text says it was repaired first
// (the batch's "已修复并压缩（...）" notes): "已修复", or "有损修复" when data was lost;
// empty for any other text.
std::string RepairMark(std::string_view stored);

// "未压缩：" + a short kind, e.g. "未压缩：数据库设有密码". A text that is no
// failure reason is returned unchanged.
std::string ShortFailureText(std::string_view stored);

// "未压缩，原因：" + the kind in words + "（" + the engine's detail + "）". A text
// without an engine detail (the batch's own refusals), of a kind not known here, or
// that is no failure reason is returned unchanged.
std::string FullFailureText(std::string_view stored);

}  // namespace mdb::desktop
