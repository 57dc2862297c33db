#include "batch/companions.h"

#include <fstream>

#include "common/manifest.h"
#include "common/paths.h"
#include "common/text.h"
#include "platform/arguments.h"

namespace mdb::batch {

std::string ProgramPath(const std::string& programDir, const std::string& name) {
    return CollapseSeparators(programDir + platform::kSeparator + name);
}

bool CompanionIntact(const std::string& programDir, const std::string& name) {
    return CheckAgainstManifest(platform::PathFromUtf8(programDir), name) == ManifestCheck::Match;
}

bool RunWebServerControl(const std::string& programDir, const RunAndWait& run,
                         const char* command) {
    if (!CompanionIntact(programDir, kIisResetProgram)) return false;
    const std::string path = ProgramPath(programDir, kIisResetProgram);
    if (PathExists(path) != 1) return false;
    run({path, command});
    return true;
}

ManifestCheck OpenRunDirectory(const std::string& programDir, const std::filesystem::path& runDir,
                               const RunAndWait& run) {
    const std::string xconfig = ProgramPath(programDir, kXconfigProgram);
    if (PathExists(xconfig) != 1) return ManifestCheck::Match;  // nothing to open on this system
    const ManifestCheck check =
        CheckAgainstManifest(platform::PathFromUtf8(programDir), kXconfigProgram);
    if (check != ManifestCheck::Match) return check;
    run({xconfig, platform::Utf8OfPath(runDir), "/T", "/C", "/G", "administrators:F", "/Y"});
    return ManifestCheck::Match;
}

std::vector<std::string> WebServerUnitsLeftStopped(const std::string& programDir) {
    std::vector<std::string> units;
    std::ifstream in(platform::PathFromUtf8(programDir) / "config" / "iisreset.state");
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) units.push_back(line);
    return units;
}

}  // namespace mdb::batch
