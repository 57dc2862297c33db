#include "desktop_context.h"

#include "common/paths.h"
#include "shell_open.h"

namespace mdb::desktop {

DesktopContext MakeProgramContext() {
    DesktopContext ctx;
    ctx.exeDirectory = [](std::string& dir) { return mdb::GetExeDirectory(dir); };
    ctx.openUrl = [](const std::string& url, StopSignal* giveUp) { return OpenWithDesktop(url, giveUp); };
    ctx.showFileInFolder = [](const std::string& path, StopSignal* giveUp) {
        return ShowFileInFolder(path, giveUp);
    };
    return ctx;
}

}  // namespace mdb::desktop
