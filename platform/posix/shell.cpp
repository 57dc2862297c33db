#include "platform/shell.h"

#include <chrono>
#include <filesystem>
#include <vector>

#include "platform/process.h"

namespace mdb::platform {
namespace {

// How often a wait for xdg-open looks whether it is to give up. On a loaded machine
// xdg-open took 3 s to fail; in some desktops it waits for the program it started.
constexpr auto kGiveUpPoll = std::chrono::milliseconds(100);

int RunAndWait(const std::vector<std::string>& argv) {
    const SpawnResult started = SpawnProcess(argv);
    if (!started.Started()) return -1;
    return WaitForProcess(started.pid);
}

}  // namespace

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

bool OpenWithDesktop(const std::string& target, const GiveUpWait& giveUp) {
    const SpawnResult opener = SpawnProcess(std::vector<std::string>{"xdg-open", target});
    if (!opener.Started()) return false;
    while (true) {
        const int verdict = WaitForProcessFor(opener.pid, kGiveUpPoll);
        if (verdict != kStillRunning) return verdict == 0;
        if (giveUp && giveUp()) break;
    }
    ReapInBackground(opener.pid);
    return true;
}

bool ShowFileInFolder(const std::string& path, const GiveUpWait& giveUp) {
    if (path.empty()) return false;
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
    if (RunAndWait(dbusCall) == 0) return true;

    const std::string folder = std::filesystem::path(path).parent_path().string();
    if (folder.empty()) return false;
    return OpenWithDesktop(folder, giveUp);
}

}  // namespace mdb::platform
