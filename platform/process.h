#pragma once
// Processes: listing them by executable name, ending them, starting programs and waiting.

#include <chrono>
#include <span>
#include <string>
#include <vector>

namespace mdb::platform {

// Where the system publishes its processes.
inline constexpr const char* kProcessRoot = "/proc";

struct ProcessEntry {
    int pid = 0;
    // File name of the executable without its directory (for example "mdbscout").
    std::string name;
    // Full path of the executable file; empty when it cannot be read (a process of
    // another user, a kernel thread).
    std::string executable;
};

enum class ProcessListStatus {
    Ok,
    CannotOpen,  // the process table cannot be read at all
    NoEntries,   // the table was readable but not even one process could be read from it
};

struct ProcessList {
    ProcessListStatus status = ProcessListStatus::CannotOpen;
    std::vector<ProcessEntry> entries;
};

// Every live process below `root` (exited processes that have not been reaped yet are left
// out). The name is the file name of the process's executable; when that cannot be read (a
// process of another user, a kernel thread) the short command name stands in for it.
ProcessList ListProcesses(const std::string& root = kProcessRoot);

// One process as ListProcesses reports it; an empty name when the process does not
// exist, has exited or cannot be examined.
ProcessEntry DescribeProcess(int pid, const std::string& root = kProcessRoot);

enum class TerminateStatus {
    Ended,        // the process was told to end and has ended
    AlreadyGone,  // it had ended (or its id now belongs to another program) before we acted
    Failed,       // it could not be signalled, or it did not end even after SIGKILL
};

// Time a process gets to end after SIGTERM before it is killed.
inline constexpr std::chrono::milliseconds kTerminateGrace{2000};

// Ends the process `expected.pid`, which must still run the program `expected` describes
// (the same executable name and, when `expected.executable` is set, the same executable
// file), so that a process id reused in the meantime is left alone. The process is pinned
// before that check, so no later process with the same id can receive the signals:
// SIGTERM, then SIGKILL when it is still running after `grace`. Returns once the process
// has ended or after giving up.
TerminateStatus TerminateProcess(const ProcessEntry& expected,
                                 std::chrono::milliseconds grace = kTerminateGrace);

struct SpawnResult {
    int pid = -1;   // above 0 when the program started
    int error = 0;  // errno-style reason when it did not
    bool Started() const { return pid > 0; }
};

// True when `path` is a regular file this process may run as a program.
bool IsRunnableFile(const std::string& path);

enum class ChildOutput {
    Inherit,     // the child writes to the caller's standard output and error
    Discard,     // both go to the null device
    OwnConsole,  // a console window of its own on Windows, else as Discard (a terminal
                 // emulator gives one there: StartInConsoleWindow)
};

// Starts argv[0] with the arguments argv[1..] (argv[0] without a '/' is looked up in PATH).
// The child gets the caller's environment, working directory and standard input; its
// output goes where `output` says; no other open descriptor is handed down. An empty
// vector or an empty program name does not start anything.
SpawnResult SpawnProcess(std::span<const std::string> argv,
                         ChildOutput output = ChildOutput::Inherit);

#ifdef _WIN32
// Starts the program file `program` (a full path, never searched for) with the command
// line made of its quoted path, one blank and `arguments` exactly as given. For a program
// that reads its command line by rules of its own (explorer.exe), which the per-argument
// quoting of SpawnProcess does not fit. Otherwise as SpawnProcess.
SpawnResult SpawnCommandLine(const std::string& program, const std::string& arguments,
                             ChildOutput output = ChildOutput::Inherit);
#endif

// Waits without time-out until child `pid` ends and collects it. Returns its exit code,
// 128 + the signal number when a signal ended it, or -1 when it cannot be waited for.
int WaitForProcess(int pid);

// Like WaitForProcess, but gives up after `timeout`: returns kStillRunning when child
// `pid` has not ended by then (it is not collected and may be waited for again).
inline constexpr int kStillRunning = -2;
int WaitForProcessFor(int pid, std::chrono::milliseconds timeout);

// Collects child `pid` in the background once it ends, so that no exited child lingers
// while nobody waits for it.
void ReapInBackground(int pid);

// The id of this process.
int CurrentProcessId();

// For a short-lived program that allocates and frees in waves (a compaction): what
// it frees stays in the process for its next allocations instead of going back to
// the system, to be faulted in afresh (a fresh 4 KB page costs 10-20 us on a
// virtual machine). Call once, first thing. No effect where the allocator has no
// such setting.
void KeepFreedMemoryForReuse();

}  // namespace mdb::platform
