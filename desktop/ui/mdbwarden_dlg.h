// The main window of mdbwarden. It lays the controls out at their dialog-unit
// positions, reports every button, menu item and list event to the presenter and
// implements the view the commands talk to. Calls from background threads are moved
// to the user-interface thread.
#pragma once

#include <wx/dialog.h>
#include <wx/weakref.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "desktop/control_ids.h"
#include "desktop/desktop_context.h"
#include "desktop/desktop_state.h"
#include "desktop/main_presenter.h"
#include "desktop/main_view.h"

class FileListCtrl;
class wxButton;
class wxGauge;
class wxListEvent;
class wxStaticText;
class wxTextCtrl;
class wxWebView;

class CMdbwardenDlg : public wxDialog, public mdb::desktop::MainView {
  public:
    CMdbwardenDlg(mdb::desktop::DesktopContext ctx, mdb::desktop::DesktopState& state);
    ~CMdbwardenDlg() override;

    // Start-up after the window exists: list, background threads, help page. Runs once
    // (not named InitDialog: wx calls that virtual again from Show()).
    void StartUp();
    // The background threads running for this window (the refresh watcher and the
    // compaction supervisor once started; none after the window was closed).
    std::size_t BackgroundThreadCount() const { return presenter_->BackgroundThreadCount(); }

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
    void ShowSortArrow(int column, bool ascending) override;
    void SetRowTooltip(const std::string& text) override;
    void ShowHelpHtml(const std::string& html) override;

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
    std::shared_ptr<Gate> gate_;
    // Declared after everything its threads use: they are joined before any of it goes.
    std::unique_ptr<mdb::desktop::MainPresenter> presenter_;
    wxWeakRef<wxDialog> notice_;
    int openBoxes_ = 0;  // modal boxes open on the user-interface thread
    std::deque<std::function<void()>> waitingBoxes_;

    wxStaticText* title_ = nullptr;
    wxGauge* progress_ = nullptr;
    FileListCtrl* list_ = nullptr;
    wxTextCtrl* textPane_ = nullptr;
    wxWebView* helpPane_ = nullptr;
    wxWindow* rowsWindow_ = nullptr;  // the list's child window that draws the rows
    int sizeNotifications_ = 0;
};
