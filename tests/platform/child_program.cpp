// A child for the process tests: "exit N" ends with code N, "sleep MS" waits that long and
// ends with 0, "echo TEXT" writes TEXT to standard output; "args" writes each argument on a
// line of its own. "guarded FILE" and "unguarded FILE" stand for work that must not be cut
// short, with and without a termination guard: each writes "ready" to FILE, works until a
// request to end arrives (at most 20 s) and a little longer, writes "finished" and lets
// the guard end the process as the request asked.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <thread>

#include "platform/termination.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

int GuardedWork(const char* file, bool guarded) {
#ifdef _WIN32
    // Started in a process group of its own, which ignores Ctrl+C until it asks for it.
    SetConsoleCtrlHandler(nullptr, FALSE);
#endif
    std::optional<mdb::platform::TerminationGuard> guard;
    if (guarded) guard.emplace();
    std::ofstream(file, std::ios::app | std::ios::binary) << "ready\n";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!mdb::platform::TerminationGuard::Requested() &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::ofstream(file, std::ios::app | std::ios::binary) << "finished\n";
    if (guard) guard->Release();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "exit") == 0) return std::atoi(argv[2]);
    if (argc >= 3 && std::strcmp(argv[1], "sleep") == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[2])));
        return 0;
    }
    if (argc >= 3 && std::strcmp(argv[1], "echo") == 0) {
        std::puts(argv[2]);
        return 0;
    }
    if (argc >= 3 && std::strcmp(argv[1], "guarded") == 0) return GuardedWork(argv[2], true);
    if (argc >= 3 && std::strcmp(argv[1], "unguarded") == 0) return GuardedWork(argv[2], false);
    return 99;
}
