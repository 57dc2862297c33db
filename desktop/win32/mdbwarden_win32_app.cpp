// mdbwarden on Windows: the main window of mdbwarden.rc over the toolkit-free commands,
// wired as the wx window wires them.
#include "common/eventlog.h"
#include "common/i18n.h"
#include "desktop/compaction/compaction_commands.h"
#include "desktop/desktop_context.h"
#include "desktop/desktop_state.h"
#include "desktop/file_list.h"
#include "desktop/record_commands.h"
#include "desktop/refresh_watcher.h"
#include "desktop/scan_command.h"
#include "desktop/site.h"
#include "desktop/thread_start.h"
#include "desktop/win32/resource_ids.h"
#include "desktop/win32/scan_config_dialog.h"
#include "desktop/win32/win32_main_view.h"

#include <commctrl.h>
#include <objbase.h>
#include <windows.h>

#include <thread>

namespace dk = mdb::desktop;

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    mdb::SetEventSource("mdbwarden");
    mdb::i18n::UseUserLanguage();
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    // The folder picker needs COM on this thread.
    OleInitialize(nullptr);

    // Declared in the order they must outlive each other: the threads are joined
    // before the view and the state go.
    dk::DesktopState state;
    const dk::DesktopContext ctx = dk::MakeProgramContext();
    dk::CompactionContext compactCtx = dk::MakeProgramCompactionContext();
    compactCtx.desktop = ctx;
    const dk::ScanContext scanCtx = dk::MakeProgramScanContext(compactCtx);
    dk::CompactionState compaction;
    dk::win32::Win32MainView view(instance);
    if (!view.Valid()) return 1;
    dk::BackgroundThreads threads;

    int menuRow = -1;
    view.OnButton(IDC_SCAN, [&] { dk::OnScanDatabases(scanCtx, compaction, state, view); });
    view.OnButton(IDC_COMPACT_ALL, [&] { dk::OnCompactAll(compactCtx, compaction, state, view); });
    view.OnButton(IDC_COMPACT_CHECKED, [&] { dk::OnCompactSelected(compactCtx, compaction, state, view); });
    view.OnButton(IDC_STOP_COMPACT, [&] { dk::OnStopCompact(compactCtx, compaction, view); });
    view.OnButton(IDC_REFRESH, [&] { dk::OnRefreshRecords(ctx, state, view); });
    view.OnButton(IDC_CLEAR_RECORDS, [&] { dk::OnClearRecords(ctx, state, view); });
    view.OnButton(IDC_WEB_SITE, [&] { dk::OnOfficialSite(ctx, view); });
    view.OnButton(IDC_UNCHECK_ALL, [&] { dk::UncheckAllRows(view); });
    view.OnButton(IDC_CHECK_ALL, [&] { dk::CheckAllRows(view); });
    view.OnColumnClick([&](int column) { dk::OnColumnHeaderClick(ctx, state, view, column); });
    view.OnRowMenu([&](int row) {
        menuRow = row;
        return dk::OnRowRightClick(ctx, state, view, row);
    });
    view.OnMenuCommand(ID_OPEN_CONTAINING_FOLDER, [&](int) { dk::OnOpenContainingFolder(ctx, state, view); });
    view.OnMenuCommand(ID_SHOW_REASON, [&](int) { dk::OnShowReason(view, menuRow); });
    view.OnScanDialog([&](HWND owner) { return dk::win32::RunScanConfigDialog(instance, owner, ctx); });
    view.OnClose([&] {
        // Closing ends the program without a question; a batch under way stops after
        // its current file. The threads are joined while this thread keeps answering
        // their calls (which return at once now).
        dk::CancelCompaction(compactCtx, compaction, view);
        HANDLE stopped = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        std::thread stopper([&] {
            threads.Stop();
            SetEvent(stopped);
        });
        dk::win32::Win32MainView::PumpUntil(stopped);
        stopper.join();
        CloseHandle(stopped);
    });

    // Start-up: the list, the two background threads, the help page.
    dk::ReloadFileList(ctx, state, view);
    threads.Start(&dk::RefreshWatcherThread, dk::WatcherParams{ctx, &state, &view, threads.Signal()});
    threads.Start(&dk::CompactionSupervisor,
                  dk::SupervisorParams{compactCtx, &compaction, &state, &view, threads.Signal()});
    state.helpPaneShown = 1;
    view.ShowHelpPaneInsteadOfText();
    view.NavigateHelp(dk::OnlineHelpUrl());

    const int result = view.RunMessageLoop();
    threads.Stop();
    OleUninitialize();
    return result;
}
