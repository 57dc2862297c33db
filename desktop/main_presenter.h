// The main window's behaviour, written once for the wx and the Win32 window: which
// command each button and menu item runs, the start-up and close sequences, the sort
// arrow, the failure-reason tooltip and the help pane's start page. The window reports
// its user's actions here (MainWindowEvents) and shows what the commands ask of it
// (MainView).
#pragma once

#include <string>

#include "desktop/compaction/compaction_commands.h"
#include "desktop/desktop_state.h"
#include "desktop/main_view.h"
#include "desktop/scan_command.h"
#include "desktop/thread_start.h"

namespace mdb::desktop {

enum class Command {
    Scan,
    CompactAll,
    CompactChecked,
    StopCompact,
    Refresh,
    ClearRecords,
    WebSite,
    UncheckAll,
    CheckAll,
    OpenContainingFolder,
    ShowReason,
};

struct ControlCommand {
    int id;  // control_ids.h
    Command command;
};
// The wiring of the window's buttons and row-menu items.
extern const ControlCommand kControlCommands[11];

class MainPresenter final : public MainWindowEvents {
  public:
    // `view` and `state` outlive the presenter; the scan context carries the
    // compaction context, which carries the desktop context.
    MainPresenter(MainView& view, DesktopState& state, ScanContext scan);
    ~MainPresenter() override;
    MainPresenter(const MainPresenter&) = delete;
    MainPresenter& operator=(const MainPresenter&) = delete;

    // The list, the sort arrow, the two background threads (list refresh watcher and
    // compaction supervisor) and the help pane's start page. Runs once.
    void StartUp() override;
    bool OnControl(int id) override;
    void Run(Command command);
    void OnColumnClick(int column) override;
    RowMenu OnRowRightClick(int row) override;
    void OnRowHover(int row) override;
    // A batch under way stops after its current file (and starts the web server again);
    // a request not yet taken up is withdrawn; the background threads are joined.
    void OnClose() override;

    // The background threads running (two once started, and one per open of a folder
    // or the web site; none after the close).
    std::size_t BackgroundThreadCount() const { return threads_.Count(); }

  private:
    void ShowSortArrow();

    MainView& view_;
    DesktopState& state_;
    const ScanContext scan_;
    const CompactionContext& compaction_ = scan_.compaction;
    const DesktopContext& desktop_ = scan_.compaction.desktop;
    CompactionState run_;
    bool started_ = false;
    int menuRow_ = -1;       // the row of the last row menu
    std::string tooltip_;    // the tooltip text the view was last given
    // Declared last: joined before anything the threads use goes.
    BackgroundThreads threads_;
};

}  // namespace mdb::desktop
