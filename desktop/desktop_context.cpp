#include "desktop_context.h"

#include <chrono>

#include "common/paths.h"
#include "platform/shell.h"

namespace mdb::desktop {

namespace {

// An opener's wait gives up once the window's stop signal is set.
platform::GiveUpWait UntilSignalled(StopSignal* signal) {
    if (signal == nullptr) return {};
    return [signal] { return signal->WaitFor(std::chrono::milliseconds(0)); };
}

}  // namespace

DesktopContext MakeProgramContext() {
    DesktopContext ctx;
    ctx.exeDirectory = [](std::string& dir) { return mdb::GetExeDirectory(dir); };
    ctx.openUrl = [](const std::string& url, StopSignal* giveUp) {
        return platform::OpenWithDesktop(url, UntilSignalled(giveUp));
    };
    ctx.showFileInFolder = [](const std::string& path, StopSignal* giveUp) {
        return platform::ShowFileInFolder(path, UntilSignalled(giveUp));
    };
    return ctx;
}

}  // namespace mdb::desktop
