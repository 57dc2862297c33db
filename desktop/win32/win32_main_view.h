// The main window on Windows: dialog template 102 of mdbwarden.rc, made with the Win32
// API and common controls, implementing the view the desktop commands talk to. It
// reports its user's actions to the presenter (MainWindowEvents); it knows nothing of
// what the commands do.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "desktop/main_view.h"

namespace mdb::desktop::win32 {

class Win32MainView final : public MainView {
  public:
    // Creates the dialog, hidden. REQUIRES: called on the thread that will run the
    // message loop (the user-interface thread); the common controls are initialised.
    explicit Win32MainView(HINSTANCE instance);
    ~Win32MainView() override;
    Win32MainView(const Win32MainView&) = delete;
    Win32MainView& operator=(const Win32MainView&) = delete;

    HWND Window() const { return dialog_; }
    bool Valid() const { return dialog_ != nullptr; }
    // Where the user's actions go (on the user-interface thread); it outlives the
    // window. Its OnClose runs on a thread of its own while this thread keeps answering
    // (calls from other threads return at once from then on).
    void SetEvents(MainWindowEvents* events) { events_ = events; }
    // Runs the scan settings dialog (owned by `owner`); true when it saved the list
    // and the user confirmed the scan.
    void OnScanDialog(std::function<bool(HWND owner)> run) { scanDialog_ = std::move(run); }
    // Starts the events (MainWindowEvents::StartUp), shows the window and runs the
    // message loop until the window is closed.
    int RunMessageLoop();
    // Dispatches the messages of this thread until `done` is signalled (a waiting that
    // lets calls from other threads through).
    static void PumpUntil(HANDLE done);

    // MainView. Callable from any thread: a call from another thread is carried out on
    // the user-interface thread, and returns once it is done there.
    void ShowMessage(const std::string& text, MessageIcon icon) override;
    bool AskYesNo(const std::string& text) override;
    void ShowNotice(const std::string& text) override;
    void CloseNotice() override;
    void ReplaceRows(std::vector<ListRow> rows) override;
    int ItemCount() override;
    bool IsChecked(int row) override;
    void SetChecked(int row, bool checked) override;
    std::string ColumnText(int row, int column) override;
    std::vector<ListRow> CheckedRows() override;
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

    // The tooltip control over the list's rows (tests).
    HWND RowTooltip() const { return tooltip_; }

  private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void StartUp();
    void Layout(int width, int height);
    void ShowRowMenu(int row);
    void StreamIntoHelpPane(const std::string& rtf);
    static LRESULT CALLBACK ListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam,
                                     UINT_PTR id, DWORD_PTR self);
    // Runs `fn` on the user-interface thread and waits for it.
    void OnUiThread(const std::function<void()>& fn);
    HWND Control(int id) const { return GetDlgItem(dialog_, id); }

    HINSTANCE instance_;
    DWORD uiThread_;
    HMODULE richEdit_;  // the help pane's control library, freed after the window
    HWND dialog_ = nullptr;  // null once the window is gone (user-interface thread)
    std::atomic<HWND> window_ = nullptr;  // the window's handle for other threads
    HWND notice_ = nullptr;
    HWND tooltip_ = nullptr;
    bool trackingLeave_ = false;  // the list reports the mouse leaving it
    HFONT titleFont_ = nullptr;
    HICON icon_ = nullptr;
    int sizeNotifications_ = 0;
    POINT minTrackSize_{0, 0};  // the smallest window the user can make, set at start-up
    std::vector<ListRow> rows_;  // as the list was given them
    MainWindowEvents* events_ = nullptr;
    std::function<bool(HWND)> scanDialog_;
    std::atomic<bool> closing_{false};
};

}  // namespace mdb::desktop::win32
