// The companion programs of the program directory as a batch uses them: found by path,
// checked against the integrity manifest, started and waited for. Shared by the window
// and "mdbcompact batch".
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/manifest.h"
#include "platform/paths.h"

namespace mdb::batch {

inline constexpr char kIisResetProgram[] = "mdbscout_iisreset" MDB_PROGRAM_SUFFIX;
inline constexpr char kXconfigProgram[] = "mdbscout_xconfig" MDB_PROGRAM_SUFFIX;

// Starts a program and waits until it has ended; nonzero when it was started.
using RunAndWait = std::function<int(const std::vector<std::string>& argv)>;

// Program directory + name, with doubled separators collapsed.
std::string ProgramPath(const std::string& programDir, const std::string& name);

// True when the program file matches the integrity manifest of `programDir`.
bool CompanionIntact(const std::string& programDir, const std::string& name);

// Runs "mdbscout_iisreset /start" (or "/stop") of `programDir`, waiting: true when it was
// run; false when the program is missing or fails its integrity check.
bool RunWebServerControl(const std::string& programDir, const RunAndWait& run,
                        const char* command);

// Opens a run's backup directory to the administrators' group: runs
// "mdbscout_xconfig RUNDIR /T /C /G administrators:F /Y" of `programDir` and waits for it.
// Match when that was done or there is nothing to do (the program directory has no
// mdbscout_xconfig); else the integrity check that mdbscout_xconfig failed, and it was
// not run.
ManifestCheck OpenRunDirectory(const std::string& programDir,
                               const std::filesystem::path& runDir, const RunAndWait& run);

// The web-server units the control has stopped and not started again, from its state
// file (config/iisreset.state): after "/start", those that could not be started; before a
// batch, those a killed batch left stopped. Empty where the control keeps no such file.
std::vector<std::string> WebServerUnitsLeftStopped(const std::string& programDir);

}  // namespace mdb::batch
