#include "platform/shell.h"

#include "platform/paths.h"
#include "platform/process.h"

namespace mdb::platform {
namespace {

// explorer.exe reads its command line by rules of its own: a comma ends an unquoted path
// as a blank does, so the target always goes in double quotes. A Windows path never holds
// a quote and our address holds none; a target with one could not be passed whole.
// explorer.exe hands the work to the running shell and ends with a code that does not say
// whether it succeeded: a started explorer counts as done.
bool StartExplorer(const std::string& explorer, const std::string& arguments,
                   const std::string& target) {
    if (explorer.empty() || target.find('"') != std::string::npos) return false;
    const SpawnResult started =
        SpawnCommandLine(explorer, arguments + "\"" + target + "\"", ChildOutput::Discard);
    if (!started.Started()) return false;
    ReapInBackground(started.pid);
    return true;
}

}  // namespace

bool OpenInExplorer(const std::string& explorer, const std::string& target) {
    return StartExplorer(explorer, "", target);
}

bool ShowInExplorer(const std::string& explorer, const std::string& path) {
    if (path.empty()) return false;
    return StartExplorer(explorer, "/select, ", path);
}

bool OpenWithDesktop(const std::string& target, const GiveUpWait&) {
    return OpenInExplorer(ExplorerPath(), target);
}

bool ShowFileInFolder(const std::string& path, const GiveUpWait&) {
    return ShowInExplorer(ExplorerPath(), path);
}

}  // namespace mdb::platform
