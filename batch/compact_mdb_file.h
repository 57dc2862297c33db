// Compaction of one database file into a new file by our Jet engine.
#pragma once

#include "platform/text_mark.h"

#include <cstdint>
#include <span>
#include <string>

namespace mdb::batch {

// Prefix of every failure text.
inline constexpr char kNotCompactedPrefix[] = MDB_TEXT("未压缩，原因：");

// Compacts the database `source` into the new file `destination` (both long paths;
// every long-path prefix is removed first). `reason` is emptied on entry and receives
// "未压缩，原因：..." on failure. 1 compacted, 0 not compacted. The source is only
// read; on failure no destination is left behind.
int CompactMdbFile(std::u16string source, std::u16string destination, std::string& reason);

// Reads the file's header the way the engine does before it changes anything: true
// when the engine would refuse the file (a password, page encryption, not a Jet 3/4
// file, truncated); `reason` then receives the same "未压缩，原因：..." text
// CompactMdbFile would give. `firstPage` is the start of the file (a page or less).
bool EngineRefusesFile(std::span<const std::uint8_t> firstPage, std::uint64_t fileSize,
                       std::string& reason);

// Bytes of the file start EngineRefusesFile needs: one page of the larger format.
inline constexpr std::size_t kHeaderProbeBytes = 4096;

// The user's text for an engine failure: a Chinese explanation of the kind of
// failure followed by the engine's own detail.
std::string DescribeEngineFailure(const std::string& engineReason);

}  // namespace mdb::batch
