// What the desktop commands need from their surroundings, gathered so that tests
// can point the commands at a temporary program directory and record the programs
// they would start.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "thread_start.h"

namespace mdb::desktop {

struct DesktopContext {
    // Program directory with a trailing '/'; returns 1 on success, 0 on failure.
    std::function<int(std::string& dir)> exeDirectory;
    // Opens an address in the default browser; false when the opener failed. Both
    // wait for the opener's verdict unless `giveUp` (may be null) is signalled first.
    std::function<bool(const std::string& url, StopSignal* giveUp)> openUrl;
    // Opens a file's folder with the file selected; false when that failed.
    std::function<bool(const std::string& path, StopSignal* giveUp)> showFileInFolder;
};

// The context of the real program: the directory of /proc/self/exe and real
// process starts.
DesktopContext MakeProgramContext();

}  // namespace mdb::desktop
