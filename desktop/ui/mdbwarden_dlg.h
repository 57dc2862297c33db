// The main window of mdbwarden. It lays the controls out at their dialog-unit
// positions, forwards every button to the toolkit-free commands and implements
// the view those commands talk to. Calls from background threads are moved to the
// user-interface thread.
#pragma once

#include <wx/dialog.h>
#include <wx/timer.h>
#include <wx/weakref.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "desktop/compaction/compaction_commands.h"
#include "desktop/desktop_context.h"
#include "desktop/desktop_state.h"
#include "desktop/main_view.h"
#include "desktop/scan_command.h"
#include "desktop/thread_start.h"

class FileListCtrl;
class wxButton;
class wxGauge;
class wxListEvent;
class wxStaticText;
class wxTextCtrl;
class wxWebView;
class wxWebViewEvent;

// Control ids of the window.
enum MdbwardenControlId {
    IDC_LIST_FILES = 1018,
    IDC_TEXT_PANE = 1019,
    IDC_TITLE = 1036,
    IDC_REFRESH = 1047,
    IDC_COMPACT_CHECKED = 1048,
    IDC_COMPACT_ALL = 1050,
    IDC_CLEAR_RECORDS = 1051,
    IDC_WEB_SITE = 1062,
    IDC_PROGRESS = 1064,
    IDC_STOP_COMPACT = 1065,
    IDC_SCAN = 1066,
    IDC_UNCHECK_ALL = 1068,
    IDC_CHECK_ALL = 1073,
    IDC_HELP_PANE = 1082,
    // Menu commands "打开文件所在目录" and "查看原因" (wx takes menu ids below 0x7fff only).
    ID_OPEN_CONTAINING_FOLDER = 32766,
    ID_SHOW_REASON = 32765,
};

class CMdbwardenDlg : public wxDialog, public mdb::desktop::MainView {
  public:
    CMdbwardenDlg(mdb::desktop::DesktopContext ctx, mdb::desktop::DesktopState& state);
    ~CMdbwardenDlg() override;

    // Start-up after the window exists: list, background threads, help page. Runs once
    // (not named InitDialog: wx calls that virtual again from Show()).
    void StartUp();
    // The background threads running for this window (the refresh watcher and the
    // compaction supervisor once started; none after the window was closed).
    std::size_t BackgroundThreadCount() const { return threads_.Count(); }

    // mdb::desktop::MainView
    void ShowMessage(const std::string& text, mdb::desktop::MessageIcon icon) override;
    bool AskYesNo(const std::string& text) override;
    void ShowNotice(const std::string& text) override;
    void CloseNotice() override;
    void ReplaceRows(std::vector<mdb::desktop::ListRow> rows) override;
    int ItemCount() override;
    bool IsChecked(int row) override;
    void SetChecked(int row, bool checked) override;
    std::string ColumnText(int row, int column) override;
    std::vector<mdb::desktop::ListRow> CheckedRows() override;
    void SetProgressRange(int max) override;
    void SetProgressPos(int pos) override;
    void SetPaneText(const std::string& text) override;
    void ShowHelpPaneInsteadOfText() override;
    void NavigateHelp(const std::string& url) override;
    bool RunCompactConfirmDialog(const std::vector<std::string>& paths) override;
    bool RunScanConfigDialog() override;

    // The file list control (for the benchmark).
    FileListCtrl* FileList() const { return list_; }

  private:
    struct Gate;

    void CreateControls();
    void OnSize(wxSizeEvent& event);
    void OnCharHook(wxKeyEvent& event);
    void OnClose(wxCloseEvent& event);
    void OnColumnClick(wxListEvent& event);
    void OnItemRightClick(wxListEvent& event);
    void OnListMouseMove(wxMouseEvent& event);
    // The arrow on the header of the column the list is sorted by.
    void ShowSortArrow();
    void OnHelpError(wxWebViewEvent& event);
    void ShowStartPageFallback();

    // Runs `fn` on the user-interface thread and waits for it. A box (`isBox`) opens
    // only once the boxes opened before it are closed.
    void RunOnGuiAndWait(const std::function<void()>& fn, bool isBox = false);
    // On the user-interface thread: shows a box, then the next one that waited for it.
    void RunBox(const std::function<void()>& show);
    void PostBox(std::function<void()> task);
    // Runs `fn` on the user-interface thread; returns at once from other threads.
    void RunOnGui(std::function<void()> fn);

    void ShowMessageNow(const std::string& text, mdb::desktop::MessageIcon icon);
    bool AskYesNoNow(const std::string& text);
    void ReplaceRowsNow(const std::vector<mdb::desktop::ListRow>& rows);

    mdb::desktop::DesktopContext ctx_;
    mdb::desktop::DesktopState& state_;
    mdb::desktop::CompactionContext compactCtx_;
    mdb::desktop::ScanContext scanCtx_;
    mdb::desktop::CompactionState compaction_;
    std::shared_ptr<Gate> gate_;
    // Declared after everything the threads use: joined before any of it goes.
    mdb::desktop::BackgroundThreads threads_;
    bool started_ = false;
    wxWeakRef<wxDialog> notice_;
    int openBoxes_ = 0;  // modal boxes open on the user-interface thread
    std::deque<std::function<void()>> waitingBoxes_;

    wxStaticText* title_ = nullptr;
    wxGauge* progress_ = nullptr;
    FileListCtrl* list_ = nullptr;
    wxTextCtrl* textPane_ = nullptr;
    wxWebView* helpPane_ = nullptr;
    int sizeNotifications_ = 0;
    bool onlineHelpFailed_ = false;
    int menuRow_ = -1;     // the row of the open context menu
    long tooltipRow_ = -2;  // the row whose reason the tooltip shows
    wxTimer fallbackTimer_;
};
