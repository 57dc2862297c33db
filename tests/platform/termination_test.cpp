// The termination guard: a request to end (Ctrl+C through the console on Windows,
// SIGTERM here on Linux) that arrives during guarded work lets the work finish, then ends
// the process as the request asked. The same child without a guard is ended at once: that
// run shows the request really arrives, so the test cannot pass with a guard that does
// nothing. The child is tests/platform/child_program.cpp.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>

#include "platform/process.h"
#endif

#include <chrono>
#include <string>
#include <thread>

#include "platform/paths.h"
#include "tests/common/test_support.h"

namespace mdb::platform {
namespace {

std::string ChildProgram() {
    const std::string self = *ModuleFileName();
    return self.substr(0, self.find_last_of(kSeparator) + 1) + "platform_child" MDB_PROGRAM_SUFFIX;
}

struct Outcome {
    std::string written;  // what the child wrote to its file
    long exitCode = -1;
};

// What ending the process through the request looks like from outside.
#ifdef _WIN32
constexpr long kEndedByRequest = static_cast<long>(STATUS_CONTROL_C_EXIT);
#else
constexpr long kEndedByRequest = 128 + SIGTERM;
#endif

// Starts the child in `mode`, waits until its work runs, asks it to end and waits for it.
Outcome RequestEndDuringWork(const std::string& mode, const test::TempDir& dir) {
    const std::string file = dir / (mode + ".txt");
    const auto waitReady = [&] {
        for (int i = 0; i < 1000 && test::ReadWholeFile(PathFromUtf8(file)).empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    };
    Outcome outcome;
#ifdef _WIN32
    // Console events travel through a console the sender shares with the child: the
    // console a test program has under CTest (Wine's stand-in for none) carries none, so
    // the test makes one of its own. The child gets a process group of its own, so the
    // event reaches it and not us. Wine delivers Ctrl+C only (Ctrl+Break is not
    // implemented in its console server); the guard treats both alike.
    FreeConsole();
    AllocConsole();
    std::wstring line =
        L"\"" + PathFromUtf8(ChildProgram()).wstring() + L"\" " + PathFromUtf8(mode).wstring() +
        L" \"" + PathFromUtf8(file).wstring() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NEW_PROCESS_GROUP,
                        nullptr, nullptr, &startup, &info)) {
        ADD_FAILURE() << "cannot start the child: " << GetLastError();
        return outcome;
    }
    waitReady();
    EXPECT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, info.dwProcessId)) << GetLastError();
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 30000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    outcome.exitCode = static_cast<long>(code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
#else
    const std::vector<std::string> argv{ChildProgram(), mode, file};
    const SpawnResult child = SpawnProcess(argv);
    if (!child.Started()) {
        ADD_FAILURE() << "cannot start the child: " << child.error;
        return outcome;
    }
    waitReady();
    EXPECT_EQ(kill(child.pid, SIGTERM), 0);
    outcome.exitCode = WaitForProcess(child.pid);
#endif
    outcome.written = test::ReadWholeFile(PathFromUtf8(file));
    return outcome;
}

TEST(TerminationGuard, ARequestToEndWaitsForTheGuardedWorkThenEndsTheProcess) {
    test::TempDir dir;
    const Outcome guarded = RequestEndDuringWork("guarded", dir);
    EXPECT_EQ(guarded.written, "ready\nfinished\n");
    EXPECT_EQ(guarded.exitCode, kEndedByRequest);

    const Outcome unguarded = RequestEndDuringWork("unguarded", dir);
    EXPECT_EQ(unguarded.written, "ready\n") << "the request did not reach the child";
}

}  // namespace
}  // namespace mdb::platform
