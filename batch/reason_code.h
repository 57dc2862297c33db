// Stable, language-independent codes for the reasons a file was not compacted, for
// machines (JSON, metrics, the journal): the texts are Chinese and may be reworded or
// translated, the codes never change.
#pragma once

#include "platform/text_mark.h"

#include <string>
#include <string_view>

namespace mdb::batch {

// Reason of a file left out because its estimated saving is below the minimum.
inline constexpr char kSkipBelowMinimumSaving[] = MDB_TEXT("跳过：预计节省空间低于设定的最小值");

// The code of a reason text (ReplaceResult::reason, a stored "未压缩，原因：..." text or a
// skip): "password", "encrypted", "not_jet", "symbolic_link", "being_written", "modified",
// "disk_full", "out_of_memory", "not_verified", "cannot_write", "backup_failed",
// "working_copy_failed", "replace_failed", "missing", "backup_area",
// "below_minimum_saving", "damaged"; "other" for a text none of these fits.
std::string ReasonCode(std::string_view reason);

}  // namespace mdb::batch
