// The choice of the engine that compacts each file of a batch: our own Jet engine
// (jet/, verified, the same on every system) or, on Windows, Windows' own Jet engine
// through JRO (batch/win32/jro_compact.h).
#pragma once

#include <optional>
#include <string_view>

#include "batch/backup_compact_replace.h"
#include "batch/compact_mdb_file.h"

namespace mdb::batch {

enum class CompactionEngine {
    Jet,  // ours: CompactMdbFile
    Jro,  // JRO.JetEngine's CompactDatabase (Windows only)
};

// Our engine on every build: it verifies each result against the source before the
// batch may use it, and needs nothing installed. JRO must be asked for.
inline constexpr CompactionEngine kDefaultCompactionEngine = CompactionEngine::Jet;

// "jet" or "jro" (any case); nothing for another word.
std::optional<CompactionEngine> ParseCompactionEngine(std::string_view name);

// The compactor of `engine`; an empty function when this build has no such engine
// (JRO on Linux). `damaged` says what our engine does with a file that fails its check
// (JRO repairs as it compacts, by its own rules).
CompactFn CompactorFor(CompactionEngine engine,
                       DamagedFiles damaged = DamagedFiles::RepairLossless);

}  // namespace mdb::batch
