#include "platform/console_window.h"

#include <cstdlib>
#include <filesystem>

#include "platform/process.h"

namespace mdb::platform {
namespace {

// xterm and its wrappers draw with a bitmap font that has no Chinese characters unless
// they are given a scalable one; fontconfig then finds the glyphs.
bool IsXtermFamily(const std::string& terminal) {
    std::error_code ec;
    const std::filesystem::path real = std::filesystem::canonical(terminal, ec);
    const std::string name = (ec ? std::filesystem::path(terminal) : real).filename().string();
    return name == "xterm" || name == "uxterm" || name == "lxterm";
}

bool HaveDisplay() {
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (wayland && *wayland);
}

}  // namespace

std::string FindTerminalProgram(const std::string& searchPath) {
    for (const std::string& program : kTerminalPrograms) {
        std::size_t start = 0;
        while (start <= searchPath.size()) {
            std::size_t end = searchPath.find(':', start);
            if (end == std::string::npos) end = searchPath.size();
            const std::string dir = searchPath.substr(start, end - start);
            start = end + 1;
            if (dir.empty() || dir.front() != '/') continue;  // only absolute entries
            const std::filesystem::path candidate = std::filesystem::path(dir) / program;
            if (IsRunnableFile(candidate.string())) return candidate.string();
        }
    }
    return {};
}

std::vector<std::string> ConsoleLaunchCommand(const std::vector<std::string>& argv,
                                              const std::string& terminal) {
    std::vector<std::string> command;
    if (!terminal.empty()) {
        command = {terminal};
        if (IsXtermFamily(terminal) && !argv.empty()) {
            const std::string title = std::filesystem::path(argv.front()).filename().string();
            command.insert(command.end(), {"-T", title, "-u8", "-fa", "Monospace", "-fs", "11"});
        }
        command.push_back("-e");
    } else {
        // The shell only redirects the streams and then becomes the program; the
        // program and its arguments stay separate words, so blanks need no quoting.
        command = {"/bin/sh", "-c", "exec \"$0\" \"$@\" </dev/null >/dev/null 2>&1"};
    }
    command.insert(command.end(), argv.begin(), argv.end());
    return command;
}

bool StartInConsoleWindow(const std::vector<std::string>& argv) {
    if (argv.empty() || argv.front().empty()) return false;
    std::string terminal;
    if (HaveDisplay()) {
        const char* path = std::getenv("PATH");
        terminal = FindTerminalProgram(path ? path : "/usr/local/bin:/usr/bin:/bin");
    }
    const SpawnResult started = SpawnProcess(ConsoleLaunchCommand(argv, terminal));
    if (!started.Started()) return false;
    ReapInBackground(started.pid);
    return true;
}

}  // namespace mdb::platform
