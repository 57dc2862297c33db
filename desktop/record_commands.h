// Commands that keep the records current or act on one listed file: refresh,
// clear records, the web-site button, the row context menu and "open folder".
#pragma once

#include <string>

#include "desktop_context.h"
#include "desktop_state.h"
#include "main_view.h"

namespace mdb::desktop {

inline constexpr std::size_t kMaxRecordKeyLength = 1024;
inline constexpr std::size_t kMaxCurrentFileLength = 32767;

// "刷新记录": local page HelpReadLog.dat, empty text pane, reload.
void OnRefreshRecords(const DesktopContext& ctx, DesktopState& state, MainView& view);

// "清空记录": question, delete every record, reload, completion notice.
void OnClearRecords(const DesktopContext& ctx, DesktopState& state, MainView& view);

// "官方网站": opens the product's home page in the default browser; when no browser
// takes it, a box gives the address to open by hand. Waits for the opener (run it off
// the window's thread) unless `giveUp` is signalled first.
void OnOfficialSite(const DesktopContext& ctx, MainView& view, StopSignal* giveUp = nullptr);

// Right click on list row `row`: looks up the row's record and remembers its file
// in currentFile. Returns false when the click was not on a row (no menu then).
bool OnRowRightClick(const DesktopContext& ctx, DesktopState& state, MainView& view, int row);

// "打开文件所在目录": shows the remembered file in the file manager; when that fails, a
// box gives the folder to open by hand. Waits as OnOfficialSite does.
void OnOpenContainingFolder(const DesktopContext& ctx, DesktopState& state, MainView& view,
                            StopSignal* giveUp = nullptr);

// "查看原因": the full reason why the file of list row `row` was not compacted.
void OnShowReason(MainView& view, int row);

}  // namespace mdb::desktop
