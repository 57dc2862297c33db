// Shows the Windows main window with a few rows for a while, for screenshots of the
// window under Wine (scripts/screenshot-windows): window_preview.exe SECONDS [confirm];
// with "confirm" the compaction confirmation dialog opens over it.
#include "desktop/win32/win32_main_view.h"

#include <commctrl.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

mdb::desktop::win32::Win32MainView* g_view = nullptr;

void CALLBACK OpenConfirmDialog(HWND window, UINT, UINT_PTR timer, DWORD) {
    KillTimer(window, timer);
    g_view->RunCompactConfirmDialog({"D:\\wwwroot\\site1\\data\\data.mdb", "D:\\wwwroot\\新闻中心\\db\\news.mdb"});
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    mdb::desktop::win32::Win32MainView view(GetModuleHandleW(nullptr));
    if (!view.Valid()) return 1;
    view.ReplaceRows({
        {"1", "data.mdb", "2000 KB", "1000 KB", "50.00 %", "D:\\wwwroot\\site1\\data\\data.mdb", "k1", ""},
        {"2", "留言本.mdb", "812 KB", "---", "未压缩，原因：数据库设有密码", "D:\\wwwroot\\论坛\\留言本.mdb", "k2",
         "未压缩，原因：数据库设有密码"},
        {"3", "news.mdb", "15360 KB", "---", "---", "D:\\wwwroot\\新闻中心\\db\\news.mdb", "k3", ""},
    });
    view.SetChecked(2, true);
    view.SetProgressRange(3);
    view.SetProgressPos(1);
    view.ShowHelpPaneInsteadOfText();
    view.NavigateHelp("http://www.veloran.net/mdbscouthelp.asp?from=mdbwarden&version=V300");
    g_view = &view;
    if (argc > 2 && std::strcmp(argv[2], "confirm") == 0) SetTimer(view.Window(), 2, 500, OpenConfirmDialog);
    SetTimer(view.Window(), 1, static_cast<UINT>(seconds) * 1000, [](HWND window, UINT, UINT_PTR, DWORD) {
        PostMessageW(window, WM_CLOSE, 0, 0);
    });
    return view.RunMessageLoop();
}
