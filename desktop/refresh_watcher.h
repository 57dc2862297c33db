// The list refresh watcher: reloads the list whenever the scanner has set
// refscanlog to 1 in mdbscout.ini, then resets the key to 0. Polls every 3 seconds.
#pragma once

#include <string>

#include "desktop_context.h"
#include "desktop_state.h"
#include "main_view.h"
#include "thread_start.h"

namespace mdb::desktop {

struct WatcherParams {
    DesktopContext ctx;
    DesktopState* state;
    MainView* view;
    StopSignal* stop;  // ends the loop; the owner then joins the thread
};

// One poll: returns true when it reloaded the list.
bool PollRefreshRequest(const DesktopContext& ctx, DesktopState& state, MainView& view,
                        const std::string& iniPath);

// Thread procedure (start it with StartThreadWithHandshake); polls until `stop` is
// signalled.
void RefreshWatcherThread(ThreadStartBlock<WatcherParams>* block);

}  // namespace mdb::desktop
