#include "desktop/main_presenter.h"

#include <cassert>
#include <mutex>

#include "common/i18n.h"
#include "desktop/file_list.h"
#include "desktop/help_pages.h"
#include "desktop/main_window_texts.h"
#include "desktop/record_commands.h"
#include "desktop/refresh_watcher.h"
#include "desktop/site.h"

namespace mdb::desktop {

const ControlCommand kControlCommands[11] = {
    {IDC_SCAN, Command::Scan},
    {IDC_COMPACT_ALL, Command::CompactAll},
    {IDC_COMPACT_CHECKED, Command::CompactChecked},
    {IDC_STOP_COMPACT, Command::StopCompact},
    {IDC_REFRESH, Command::Refresh},
    {IDC_CLEAR_RECORDS, Command::ClearRecords},
    {IDC_WEB_SITE, Command::WebSite},
    {IDC_UNCHECK_ALL, Command::UncheckAll},
    {IDC_CHECK_ALL, Command::CheckAll},
    {ID_OPEN_CONTAINING_FOLDER, Command::OpenContainingFolder},
    {ID_SHOW_REASON, Command::ShowReason},
};

MainPresenter::MainPresenter(MainView& view, DesktopState& state, ScanContext scan)
    : view_(view), state_(state), scan_(std::move(scan)) {}

MainPresenter::~MainPresenter() { threads_.Stop(); }

void MainPresenter::StartUp() {
    // A second supervisor could not take the batch lock and would report another copy
    // of the program on every batch.
    assert(!started_);
    if (started_) return;
    started_ = true;
    ReloadFileList(desktop_, state_, view_);
    ShowSortArrow();
    threads_.Start(&RefreshWatcherThread, WatcherParams{desktop_, &state_, &view_, threads_.Signal()});
    threads_.Start(&CompactionSupervisor,
                   SupervisorParams{compaction_, &run_, &state_, &view_, threads_.Signal()});

    // The shipped start page tells a newcomer the first steps; it is shown without a
    // box when it cannot be (the pane then shows the built-in page).
    state_.helpPaneShown = 1;
    view_.ShowHelpPaneInsteadOfText();
    const std::string start = StartPageUrl(desktop_);
    if (start.empty()) {
        view_.ShowHelpHtml(TrFormat(kBuiltInStartPage, {kCaptionVersion}));
    } else {
        view_.NavigateHelp(start);
    }
}

bool MainPresenter::OnControl(int id) {
    for (const ControlCommand& wired : kControlCommands) {
        if (wired.id != id) continue;
        Run(wired.command);
        return true;
    }
    return false;
}

void MainPresenter::Run(Command command) {
    switch (command) {
        case Command::Scan:
            OnScanDatabases(scan_, run_, state_, view_);
            return;
        case Command::CompactAll:
            OnCompactAll(compaction_, run_, state_, view_);
            return;
        case Command::CompactChecked:
            OnCompactSelected(compaction_, run_, state_, view_);
            return;
        case Command::StopCompact:
            OnStopCompact(compaction_, run_, view_);
            return;
        case Command::Refresh:
            OnRefreshRecords(desktop_, state_, view_);
            return;
        case Command::ClearRecords:
            OnClearRecords(desktop_, state_, view_);
            return;
        case Command::WebSite:
            // The openers are waited for off the window's thread: xdg-open may take
            // seconds to fail, and then the user is told.
            threads_.Run([this] { OnOfficialSite(desktop_, view_, threads_.Signal()); });
            return;
        case Command::UncheckAll:
            UncheckAllRows(view_);
            return;
        case Command::CheckAll:
            CheckAllRows(view_);
            return;
        case Command::OpenContainingFolder:
            threads_.Run([this] { OnOpenContainingFolder(desktop_, state_, view_, threads_.Signal()); });
            return;
        case Command::ShowReason:
            OnShowReason(view_, menuRow_);
            return;
    }
}

void MainPresenter::OnColumnClick(int column) {
    OnColumnHeaderClick(desktop_, state_, view_, column);
    ShowSortArrow();
}

void MainPresenter::ShowSortArrow() {
    int column = 0;
    bool ascending = true;
    {
        std::lock_guard lock(state_.reloadLock);
        column = ColumnForSortField(state_.sortField);
        ascending = state_.sortOrder != "desc";
    }
    view_.ShowSortArrow(column, ascending);
}

RowMenu MainPresenter::OnRowRightClick(int row) {
    if (!mdb::desktop::OnRowRightClick(desktop_, state_, view_, row)) return {};
    menuRow_ = row;
    return {true, !view_.ColumnText(row, kReasonText).empty()};
}

void MainPresenter::OnRowHover(int row) {
    // The text decides, not the row: after a reload the same row may hold another
    // file, and two failed rows side by side have texts of their own.
    const std::string text = row < 0 ? std::string() : view_.ColumnText(row, kReasonText);
    if (text == tooltip_) return;
    tooltip_ = text;
    view_.SetRowTooltip(text);
}

void MainPresenter::OnClose() {
    CancelCompaction(compaction_, run_, view_);
    threads_.Stop();
}

}  // namespace mdb::desktop
