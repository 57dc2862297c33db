#include "record_commands.h"
#include "common/i18n.h"

#include <filesystem>

#include "file_info_access.h"
#include "file_list.h"
#include "file_list_format.h"
#include "help_pages.h"
#include "long_path_text.h"
#include "platform/arguments.h"
#include "site.h"

namespace mdb::desktop {

void OnRefreshRecords(const DesktopContext& ctx, DesktopState& state, MainView& view) {
    if (!ShowLocalPageInHelpPane(ctx, state, view, kPageReadLog)) return;
    view.SetPaneText("");
    ReloadFileList(ctx, state, view);
}

void OnClearRecords(const DesktopContext& ctx, DesktopState& state, MainView& view) {
    if (!view.AskYesNo(Tr("确定清空数据库中的日志记录吗？"))) return;
    view.SetPaneText("");
    if (!DeleteAllRecords(ctx, view)) return;
    ReloadFileList(ctx, state, view);
    // The bar belonged to files that are no longer listed.
    view.SetProgressPos(0);
    view.ShowMessage(
        Tr("数据库中的日志记录已经清空！\r\n\r\n\r\n下一步，请重新扫描网站目录中的MDB数据库文件。"),
        MessageIcon::Information);
}

void OnOfficialSite(const DesktopContext& ctx, MainView& view, StopSignal* giveUp) {
    const std::string url = HomePageUrl();
    if (ctx.openUrl && ctx.openUrl(url, giveUp)) return;
    view.ShowMessage(TrFormat("无法打开浏览器，请手动访问官方网站：\r\n\r\n%s", {url}),
                     MessageIcon::Information);
}

bool OnRowRightClick(const DesktopContext& ctx, DesktopState& state, MainView& view, int row) {
    if (row < 0) return false;
    const std::string key = view.ColumnText(row, kRecordKeyColumn);
    if (key.empty() || key.size() >= kMaxRecordKeyLength) return true;
    const std::optional<std::string> storedPath = LookupFilePathByKey(ctx, view, key);
    if (!storedPath) return true;
    auto path = DecodeStoredName(*storedPath);
    if (!path) return true;
    std::lock_guard lock(state.currentFileLock);
    state.currentFile = std::move(*path);
    return true;
}

void OnOpenContainingFolder(const DesktopContext& ctx, DesktopState& state, MainView& view,
                            StopSignal* giveUp) {
    std::string file;
    {
        std::lock_guard lock(state.currentFileLock);
        file = state.currentFile;
    }
    if (file.empty() || file.size() > kMaxCurrentFileLength) {
        view.ShowMessage(Tr("请先选择文件！"), MessageIcon::Question);
        return;
    }
    file = RemoveLongPathPrefixes(file);
    if (!ctx.showFileInFolder || !ctx.showFileInFolder(file, giveUp)) {
        // No file manager took it: the folder, so that the user can open it by hand.
        const std::string folder = platform::Utf8OfPath(platform::PathFromUtf8(file).parent_path());
        view.ShowMessage(TrFormat("打开文件所在目录失败，请重试！\r\n\r\n文件所在目录：%s", {folder}),
                         MessageIcon::Question);
    }
}

void OnShowReason(MainView& view, int row) {
    if (row < 0 || row >= view.ItemCount()) return;
    const std::string reason = view.ColumnText(row, kReasonText);
    if (reason.empty()) return;
    view.ShowMessage(view.ColumnText(row, kPathColumn) + "\r\n\r\n" + reason,
                     MessageIcon::Information);
}

}  // namespace mdb::desktop
