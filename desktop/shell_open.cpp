#include "shell_open.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "platform/process.h"

namespace mdb::desktop {

std::string FileUri(std::string_view absolutePath) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (unsigned char c : absolutePath) {
        const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~' ||
                          c == '/';
        if (keep) {
            uri += static_cast<char>(c);
        } else {
            uri += '%';
            uri += kHex[c >> 4];
            uri += kHex[c & 0xF];
        }
    }
    return uri;
}

#ifdef _WIN32
namespace {

// explorer.exe reads its command line by rules of its own: a comma ends an unquoted path
// as a blank does, so the target always goes in double quotes. A Windows path never holds
// a quote and our address holds none; a target with one could not be passed whole.
// explorer.exe hands the work to the running shell and ends with a code that does not say
// whether it succeeded: a started explorer counts as done.
int StartExplorer(const std::string& explorer, const std::string& arguments,
                  const std::string& target) {
    if (explorer.empty() || target.find('"') != std::string::npos) return 0;
    const platform::SpawnResult started = platform::SpawnCommandLine(
        explorer, arguments + "\"" + target + "\"", platform::ChildOutput::Discard);
    if (!started.Started()) return 0;
    platform::ReapInBackground(started.pid);
    return 1;
}

}  // namespace

int OpenInExplorer(const std::string& explorer, const std::string& target) {
    return StartExplorer(explorer, "", target);
}

int ShowInExplorer(const std::string& explorer, const std::string& path) {
    if (path.empty()) return 0;
    return StartExplorer(explorer, "/select, ", path);
}

int OpenWithDesktop(const std::string& target, StopSignal*) {
    return OpenInExplorer(platform::ExplorerPath(), target);
}

int ShowFileInFolder(const std::string& path, StopSignal*) {
    return ShowInExplorer(platform::ExplorerPath(), path);
}

#else
namespace {

int RunAndWait(const std::vector<std::string>& argv) {
    const platform::SpawnResult started = platform::SpawnProcess(argv);
    if (!started.Started()) return -1;
    return platform::WaitForProcess(started.pid);
}

// How often a wait for xdg-open looks whether it is to give up. On a loaded machine
// xdg-open took 3 s to fail; in some desktops it waits for the program it started.
constexpr auto kGiveUpPoll = std::chrono::milliseconds(100);

}  // namespace

int OpenWithDesktop(const std::string& target, StopSignal* giveUp) {
    const platform::SpawnResult opener =
        platform::SpawnProcess(std::vector<std::string>{"xdg-open", target});
    if (!opener.Started()) return 0;
    while (true) {
        const int verdict = platform::WaitForProcessFor(opener.pid, kGiveUpPoll);
        if (verdict != platform::kStillRunning) return verdict == 0 ? 1 : 0;
        if (giveUp != nullptr && giveUp->WaitFor(std::chrono::milliseconds(0))) break;
    }
    platform::ReapInBackground(opener.pid);
    return 1;
}

int ShowFileInFolder(const std::string& path, StopSignal* giveUp) {
    if (path.empty()) return 0;
    // gdbus quotes: the argument is a GVariant text array of one string; the URI is
    // percent-encoded, so it holds no quote or backslash.
    const std::vector<std::string> dbusCall = {"gdbus",
                                               "call",
                                               "--session",
                                               "--timeout",
                                               "5",
                                               "--dest",
                                               "org.freedesktop.FileManager1",
                                               "--object-path",
                                               "/org/freedesktop/FileManager1",
                                               "--method",
                                               "org.freedesktop.FileManager1.ShowItems",
                                               "['" + FileUri(path) + "']",
                                               ""};
    if (RunAndWait(dbusCall) == 0) return 1;

    const std::string folder = std::filesystem::path(path).parent_path().string();
    if (folder.empty()) return 0;
    return OpenWithDesktop(folder, giveUp);
}
#endif

}  // namespace mdb::desktop
