#include "platform/console_window.h"

#include "platform/process.h"

namespace mdb::platform {

bool StartInConsoleWindow(const std::vector<std::string>& argv) {
    if (argv.empty() || argv.front().empty()) return false;
    const SpawnResult started = SpawnProcess(argv, ChildOutput::OwnConsole);
    if (!started.Started()) return false;
    ReapInBackground(started.pid);
    return true;
}

}  // namespace mdb::platform
