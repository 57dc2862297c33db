#pragma once
// Finding, ending and starting programs.

#include "platform/process.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace mdb::desktop {

// Longest executable name (in bytes) the process look-ups accept, exclusive.
inline constexpr std::size_t kMaxProcessName = 260;

// What the process look-ups log when the process table cannot be read.
inline constexpr char kMsgListSnapshotFailed[] =
    "qorGetProcessList - hProcessSnap == INVALID_HANDLE_VALUE - CreateToolhelp32Snapshot (of "
    "processes)";
inline constexpr char kMsgListFirstFailed[] =
    "qorGetProcessList - !Process32First( hProcessSnap, &pe32 ) - Process32First";
inline constexpr char kMsgTerminateSnapshotFailed[] =
    "qorTerminateProcess - hProcessSnap == INVALID_HANDLE_VALUE - CreateToolhelp32Snapshot (of "
    "processes)";
inline constexpr char kMsgTerminateFirstFailed[] =
    "qorTerminateProcess - !Process32First( hProcessSnap, &pe32 ) - Process32First";

struct ProcessToolOptions {
    // Where the process table is read.
    std::string processRoot = platform::kProcessRoot;
    // Time a process gets after the polite request to end before it is killed.
    std::chrono::milliseconds grace = platform::kTerminateGrace;
    // Receives error messages; when empty they go to the event log (event 60001).
    std::function<void(const std::string& message)> report;
    // When set, the full path of the one program meant (for example the scanner of this
    // program directory): only processes running that very file count and are ended;
    // another installation's program of the same name is left alone.
    std::string executable;
};

// 1 a process whose executable is named `exeName` (exact, case counts) runs (and is the
// file `options.executable` when that is set); 2 none runs;
// 0 an empty or too long name, or the process table could not be read (logged).
int qorGetProcessList(const std::string& exeName, const ProcessToolOptions& options = {});

// Ends every process whose executable is named `exeName` (and is the file
// `options.executable` when that is set). 1 at least one was ended and
// none failed; 2 none of that name; 0 failure (a process that cannot be ended stops the
// run at once, even when more of that name follow).
int qorTerminateProcess(const std::string& exeName, const ProcessToolOptions& options = {});

// Starts the program argv[0] with the arguments argv[1..] (each one passed as it is, so
// blanks need no quoting). With `wait` exactly 1, returns only after the program has ended.
// Nonzero when it was started; 0 when not (an empty vector or program name included).
int RunProgram(const std::vector<std::string>& argv, int wait);

}  // namespace mdb::desktop
