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
};

// The hooks of the real program: its executable path, real sleeping, standard output and
// the terminal's key wait.
EntryHooks SystemHooks();

// Runs the program with its command line; returns the exit code.
int ScannerMain(int argc, const char* const* argv, const EntryHooks& hooks);

// The closing countdown: 30 lines from 29 down to 0, one second apart; returns 1.
int ShowCloseCountdown(const ConsoleSink& console, const std::function<void()>& flush,
                       const std::function<void(unsigned ms)>& sleep);

// The program directory of an executable path (up to its last separator, with a trailing
// separator), or nothing when the executable is not this program or the path is unusable.
std::optional<std::string> ScannerProgramDir(const std::string& modulePath);

}  // namespace mdb::scanner
