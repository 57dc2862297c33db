// Old backup runs: each run directory (root/%Y-%m-%d/%H-%M-%S) that a batch makes holds a
// marker file, so that removing old runs never touches anything the program did not make.
#pragma once

#include <ctime>
#include <filesystem>

namespace mdb::batch {

inline constexpr char kRunMarker[] = ".mdbwarden-run";

// Puts the marker into the run directory `runDir`.
void MarkRunDirectory(const std::filesystem::path& runDir);

// Removes the marked run directories below `root` whose name says they are more than
// `days` days older than `now`, except `current`; then date directories left empty.
// Links are never followed. Returns how many runs were removed.
int RemoveOldBackupRuns(const std::filesystem::path& root, int days,
                        const std::filesystem::path& current, std::time_t now);

}  // namespace mdb::batch
