// mdbwarden on Windows: the main window of mdbwarden.rc, driven by the presenter the wx
// window shares.
#include "common/eventlog.h"
#include "common/i18n.h"
#include "desktop/compaction/compaction_commands.h"
#include "desktop/desktop_context.h"
#include "desktop/desktop_state.h"
#include "desktop/main_presenter.h"
#include "desktop/scan_command.h"
#include "desktop/win32/scan_config_dialog.h"
#include "desktop/win32/win32_main_view.h"

#include <commctrl.h>
#include <objbase.h>
#include <windows.h>

namespace dk = mdb::desktop;

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    mdb::SetEventSource("mdbwarden");
    mdb::i18n::UseUserLanguage();
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    // The folder picker needs COM on this thread.
    OleInitialize(nullptr);

    // Declared in the order they must outlive each other: the presenter joins its
    // threads before the view and the state go.
    dk::DesktopState state;
    const dk::DesktopContext ctx = dk::MakeProgramContext();
    dk::win32::Win32MainView view(instance);
    if (!view.Valid()) return 1;
    view.OnScanDialog([&](HWND owner) { return dk::win32::RunScanConfigDialog(instance, owner, ctx); });
    dk::CompactionContext compaction = dk::MakeProgramCompactionContext();
    compaction.desktop = ctx;
    dk::MainPresenter presenter(view, state, dk::MakeProgramScanContext(std::move(compaction)));
    view.SetEvents(&presenter);

    const int result = view.RunMessageLoop();
    OleUninitialize();
    return result;
}
