#include "batch/compaction_engine.h"

#include "batch/compact_mdb_file.h"
#ifdef _WIN32
#include "batch/win32/jro_compact.h"
#endif

#include <algorithm>
#include <cctype>
#include <string>

namespace mdb::batch {

std::optional<CompactionEngine> ParseCompactionEngine(std::string_view name) {
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower == "jet") return CompactionEngine::Jet;
    if (lower == "jro") return CompactionEngine::Jro;
    return std::nullopt;
}

CompactFn CompactorFor(CompactionEngine engine, DamagedFiles damaged) {
    switch (engine) {
        case CompactionEngine::Jet:
            return [damaged](const std::filesystem::path& source,
                             const std::filesystem::path& destination) {
                return CompactDatabaseFile(source, destination, damaged);
            };
        case CompactionEngine::Jro:
#ifdef _WIN32
            return [](const std::filesystem::path& source, const std::filesystem::path& destination) {
                CompactOutcome outcome;
                outcome.compacted = CompactMdbFileThroughJro(source.u16string(), destination.u16string(),
                                                             outcome.reason) == 1;
                return outcome;
            };
#else
            return {};
#endif
    }
    return {};
}

}  // namespace mdb::batch
