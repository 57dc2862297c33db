// A child for the process tests: "exit N" ends with code N, "sleep MS" waits that long and
// ends with 0, "echo TEXT" writes TEXT to standard output; "args" writes each argument on a
// line of its own. "guarded FILE" and "unguarded FILE" stand for work that must not be cut
// short, with and without a termination guard: each writes "ready" to FILE, works until a
// request to end arrives (at most 20 s) and a little longer, writes "finished" and lets
// the guard end the process as the request asked. "console TEXT FILE" (Windows, started with
// a console of its own) writes TEXT with the scanner's console output and then writes the
// characters the console shows on that line to FILE, in UTF-8.
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

#include <string>

#include <vector>

#include "platform/arguments.h"
#include "platform/console.h"
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

#ifdef _WIN32
int ShowOnConsole(const std::string& text, const std::string& file) {
    mdb::platform::ConsoleWrite(text);
    mdb::platform::FlushConsole();
    const HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(console, &info)) return 2;
    std::wstring line(info.dwSize.X, L' ');
    DWORD read = 0;
    if (!ReadConsoleOutputCharacterW(console, line.data(), static_cast<DWORD>(line.size()),
                                     COORD{0, info.dwCursorPosition.Y}, &read))
        return 3;
    line.resize(line.find_last_not_of(L' ') + 1);
    std::string utf8(line.size() * 3, '\0');
    utf8.resize(WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()),
                                    utf8.data(), static_cast<int>(utf8.size()), nullptr, nullptr));
    std::ofstream(mdb::platform::PathFromUtf8(file), std::ios::binary) << utf8;
    return 0;
}
#endif

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
#ifdef _WIN32
    if (argc >= 4 && std::strcmp(argv[1], "console") == 0) {
        const std::vector<std::string> args = mdb::platform::CommandLineArguments(argc, argv);
        return ShowOnConsole(args[1], args[2]);
    }
#endif
    return 99;
}
