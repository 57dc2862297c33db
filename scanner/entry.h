#pragma once
// The scanner's entry point: command line, start-up checks, purge, scan and countdown.

#include "scanner/filescan.h"

#include <functional>
#include <optional>
#include <string>

namespace mdb::scanner {

// What the entry point takes from its surroundings, so that tests can stand in for them.
struct EntryHooks {
    std::function<std::optional<std::string>()> moduleFileName;
    std::function<void(unsigned ms)> sleep;
    ConsoleSink console;
    std::function<void()> flush;
    std::function<void()> waitForKey;
    // Standard output and error of a quiet or JSON run (the console when unset).
    ConsoleSink output;
    ConsoleSink errors;
};

// Exit codes of a run with --quiet or --json (timers, cron, configuration tools): the
// conventional ones. Without them the window's contract holds: 1 when the last listed
// directory could be read, 0 otherwise, 2 when found databases were not recorded.
inline constexpr int kServiceScanned = 0;           // every listed directory walked, all recorded
inline constexpr int kServiceDirectoryFailed = 1;   // a listed directory could not be walked, or none is listed
inline constexpr int kServiceRowsNotRecorded = 2;   // databases found but not recorded in the store
inline constexpr int kServiceCouldNotStart = 3;     // bad arguments, unusable location or store

// The scan's metrics textfile in the metrics directory (common/metrics_textfile.h).
inline constexpr char kScanMetricsFile[] = "mdbscout.prom";

// The hooks of the real program: its executable path, real sleeping, standard output and
// the terminal's key wait.
EntryHooks SystemHooks();

// Runs the program with its command line; returns the exit code. Besides "/FileScan" the
// command line may hold --quiet (no banner, no per-file lines, no countdown, no key wait;
// problems on standard error), --json (as quiet, and the summary as one JSON document on
// standard output) and --version (prints the version, nothing else).
int ScannerMain(int argc, const char* const* argv, const EntryHooks& hooks);

// The closing countdown: 30 lines from 29 down to 0, one second apart; returns 1.
int ShowCloseCountdown(const ConsoleSink& console, const std::function<void()>& flush,
                       const std::function<void(unsigned ms)>& sleep);

// The program directory of an executable path (up to its last separator, with a trailing
// separator), or nothing when the executable is not this program or the path is unusable.
std::optional<std::string> ScannerProgramDir(const std::string& modulePath);

}  // namespace mdb::scanner
