#include "refresh_watcher.h"

#include <chrono>

#include "common/i18n.h"
#include "common/paths.h"
#include "common/settings.h"
#include "file_list.h"

namespace mdb::desktop {

bool PollRefreshRequest(const DesktopContext& ctx, DesktopState& state, MainView& view,
                        const std::string& iniPath) {
    if (ReadSettingKey(iniPath, kKeyRefScanLog) != 1) return false;
    try {
        ReloadFileList(ctx, state, view);
    } catch (...) {
        // A failed reload must not end the watcher; the key is reset all the same.
    }
    WriteSettingKey(iniPath, kKeyRefScanLog, "0");
    return true;
}

void RefreshWatcherThread(ThreadStartBlock<WatcherParams>* block) {
    const WatcherParams params = *block->params;
    block->started->Signal();

    std::string exeDir;
    if (!params.ctx.exeDirectory || params.ctx.exeDirectory(exeDir) != 1) {
        params.view->ShowMessage(Tr(kMsgExeDirFailed), MessageIcon::Question);
        return;
    }
    const std::string iniPath = SettingsPathIn(exeDir);
    do {
        PollRefreshRequest(params.ctx, *params.state, *params.view, iniPath);
    } while (!params.stop->WaitFor(std::chrono::seconds(3)));
}

}  // namespace mdb::desktop
