#include "desktop_context.h"

#include "common/paths.h"
#include "platform/process.h"
#include "shell_open.h"

namespace mdb::desktop {

DesktopContext MakeProgramContext() {
    DesktopContext ctx;
    ctx.exeDirectory = [](std::string& dir) { return mdb::GetExeDirectory(dir); };
    ctx.startProgram = [](const std::vector<std::string>& argv) {
        const platform::SpawnResult r = platform::SpawnProcess(argv);
        if (!r.Started()) return 0;
        platform::ReapInBackground(r.pid);
        return 1;
    };
    ctx.showFileInFolder = [](const std::string& path) { return ShowFileInFolder(path); };
    return ctx;
}

}  // namespace mdb::desktop
