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
            return [damaged](std::u16string source, std::u16string destination, std::string& reason) {
                return CompactMdbFileWith(std::move(source), std::move(destination), reason, damaged);
            };
        case CompactionEngine::Jro:
#ifdef _WIN32
            return CompactMdbFileThroughJro;
#else
            return {};
#endif
    }
    return {};
}

}  // namespace mdb::batch
