// Compaction of one database file into a new file by our Jet engine.
#pragma once

#include "platform/text_mark.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace mdb::batch {

// Prefix of every failure text.
inline constexpr char kNotCompactedPrefix[] = MDB_TEXT("未压缩，原因：");

// What becomes of a file that fails the check made before its compaction (a crash or
// a power cut left it inconsistent). The compaction alone follows the usage maps and
// would leave out rows that no map lists, so such a file is repaired instead.
enum class DamagedFiles {
    // Repaired only when the repair keeps every row and value (only structures derived
    // from the rows are made anew); otherwise refused with what a repair would keep.
    RepairLossless,
    // Repaired even when rows or values are lost (mdbcompact batch --repair-lossy);
    // the damaged original stays in the run's backup.
    RepairAlways,
};

// Stored as the record's reason of a repaired and compacted file (its state says
// compacted), followed by what was made anew or lost in full-width brackets.
inline constexpr char kRepairedNote[] = MDB_TEXT("已修复并压缩");
inline constexpr char kRepairedLossyNote[] = MDB_TEXT("已修复并压缩，但有数据丢失");
// The kind of the refusal of a damaged file whose repair would lose data.
inline constexpr char kRepairWouldLose[] =
    MDB_TEXT("数据库已损坏，自动修复会丢失数据，请用 mdbcompact repair 修复");
// The kind of the refusal of a damaged file that cannot be repaired at all.
inline constexpr char kCannotRepair[] = MDB_TEXT("数据库已损坏，无法修复");

// What a compactor did with one file.
struct CompactOutcome {
    bool compacted = false;
    // Not compacted: "未压缩，原因：..."; compacted after a repair: kRepairedNote or
    // kRepairedLossyNote with what was done, the note the record keeps; else empty.
    std::string reason;
};

// A compactor: compacts the database `source` into the new file `destination`. The
// source is only read; on failure no destination is left behind.
using CompactFn = std::function<CompactOutcome(const std::filesystem::path& source,
                                               const std::filesystem::path& destination)>;

// Our engine as a compactor. The file is checked first; a damaged one is repaired
// instead as `damaged` allows.
CompactOutcome CompactDatabaseFile(const std::filesystem::path& source,
                                   const std::filesystem::path& destination,
                                   DamagedFiles damaged = DamagedFiles::RepairLossless);

// CompactDatabaseFile for two long paths (every long-path prefix is removed first),
// `RepairLossless`: `reason` receives the outcome's reason (emptied on entry);
// 1 compacted (or repaired), 0 not compacted.
int CompactMdbFile(std::u16string source, std::u16string destination, std::string& reason);

// True when a stored reason is the note of a repair (the file was compacted).
bool IsRepairNote(std::string_view stored);

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
