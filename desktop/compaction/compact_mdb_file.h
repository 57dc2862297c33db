// Compaction of one database file into a new file by our Jet engine.
#pragma once

#include <string>

namespace mdb::desktop {

// Prefix of every failure text.
inline constexpr char kNotCompactedPrefix[] = "未压缩，原因：";

// Compacts the database `source` into the new file `destination` (both long paths;
// every long-path prefix is removed first). `reason` is emptied on entry and receives
// "未压缩，原因：..." on failure. 1 compacted, 0 not compacted. The source is only
// read; on failure no destination is left behind.
int CompactMdbFile(std::u16string source, std::u16string destination, std::string& reason);

// The user's text for an engine failure: a Chinese explanation of the kind of
// failure followed by the engine's own detail.
std::string DescribeEngineFailure(const std::string& engineReason);

}  // namespace mdb::desktop
