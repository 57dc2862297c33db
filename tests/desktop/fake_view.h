// A scripted stand-in for the main window: records what the commands show and
// answers questions from a queue.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "desktop/main_view.h"

namespace mdb::desktop::testing {

struct ShownMessage {
    std::string text;
    MessageIcon icon;
    bool underNotice = false;  // the "started" notice was still open
};

class FakeView : public MainView {
  public:
    void ShowMessage(const std::string& text, MessageIcon icon) override {
        // What the user does while this box is open (not under the lock: it may show
        // boxes of its own).
        if (auto whileOpen = std::exchange(whileMessageOpen, nullptr)) whileOpen(text);
        std::lock_guard lock(mutex);
        messages.push_back({text, icon, noticeOpen});
    }
    bool AskYesNo(const std::string& text) override {
        std::lock_guard lock(mutex);
        questions.push_back(text);
        if (answers.empty()) return false;
        const bool yes = answers.front();
        answers.pop_front();
        return yes;
    }
    void ShowNotice(const std::string& text) override {
        std::lock_guard lock(mutex);
        notices.push_back(text);
        noticeOpen = true;
    }
    void CloseNotice() override {
        std::lock_guard lock(mutex);
        noticeOpen = false;
    }
    void ReplaceRows(std::vector<ListRow> newRows) override {
        std::lock_guard lock(mutex);
        rows = std::move(newRows);
        checked.assign(rows.size(), false);
        history.push_back(rows);
        ++replaceCount;
    }
    int ItemCount() override {
        std::lock_guard lock(mutex);
        return static_cast<int>(rows.size());
    }
    bool IsChecked(int row) override {
        std::lock_guard lock(mutex);
        return row >= 0 && row < static_cast<int>(checked.size()) && checked[row];
    }
    void SetChecked(int row, bool state) override {
        std::lock_guard lock(mutex);
        ++setCheckedCalls;
        if (row >= 0 && row < static_cast<int>(checked.size())) checked[row] = state;
        if (shrinkAfterSetChecked > 0 && setCheckedCalls == shrinkAfterSetChecked) {
            rows.resize(rows.size() / 2);
            checked.resize(rows.size());
        }
    }
    std::string ColumnText(int row, int column) override {
        std::lock_guard lock(mutex);
        if (row < 0 || row >= static_cast<int>(rows.size())) return {};
        const ListRow& r = rows[row];
        switch (column) {
            case 0:
                return r.number;
            case 1:
                return r.fileName;
            case 2:
                return r.originalSize;
            case 3:
                return r.compactedSize;
            case 4:
                return r.ratio;
            case 5:
                return r.filePath;
            case 6:
                return r.recordKey;
            case kReasonText:
                return r.reason;
        }
        return {};
    }
    std::vector<ListRow> CheckedRows() override {
        std::lock_guard lock(mutex);
        std::vector<ListRow> out;
        for (std::size_t i = 0; i < rows.size(); ++i)
            if (checked[i]) out.push_back(rows[i]);
        return out;
    }
    void SetProgressRange(int max) override { progressMax = max; }
    void SetProgressPos(int pos) override { progressPos = pos; }
    void SetPaneText(const std::string& text) override {
        std::lock_guard lock(mutex);
        paneText = text;
        ++paneTextCalls;
    }
    void ShowHelpPaneInsteadOfText() override { ++helpPaneShownCalls; }
    bool RunCompactConfirmDialog(const std::vector<std::string>& paths) override {
        std::lock_guard lock(mutex);
        confirmedPaths.push_back(paths);
        if (confirmAnswers.empty()) return false;
        const bool yes = confirmAnswers.front();
        confirmAnswers.pop_front();
        return yes;
    }
    bool RunScanConfigDialog() override {
        std::lock_guard lock(mutex);
        ++scanConfigRuns;
        if (scanConfigAnswers.empty()) return false;
        const bool ok = scanConfigAnswers.front();
        scanConfigAnswers.pop_front();
        return ok;
    }
    void NavigateHelp(const std::string& url) override {
        std::lock_guard lock(mutex);
        navigations.push_back(url);
    }

    void ShowSortArrow(int column, bool ascending) override {
        std::lock_guard lock(mutex);
        sortArrows.emplace_back(column, ascending);
    }
    void SetRowTooltip(const std::string& text) override {
        std::lock_guard lock(mutex);
        tooltips.push_back(text);
    }
    void ShowHelpHtml(const std::string& html) override {
        std::lock_guard lock(mutex);
        helpPages.push_back(html);
    }

    int Replaces() {
        std::lock_guard lock(mutex);
        return replaceCount;
    }

    std::mutex mutex;
    std::vector<ShownMessage> messages;
    std::vector<std::string> questions;
    std::vector<std::string> notices;
    bool noticeOpen = false;
    std::deque<bool> answers;
    // Called once, with the text, as the next message box opens.
    std::function<void(const std::string&)> whileMessageOpen;
    std::deque<bool> confirmAnswers;  // answers of the compaction confirmation dialog
    std::vector<std::vector<std::string>> confirmedPaths;
    std::deque<bool> scanConfigAnswers;  // answers of the scan settings dialog
    int scanConfigRuns = 0;
    std::vector<ListRow> rows;
    std::vector<bool> checked;
    std::vector<std::vector<ListRow>> history;
    int replaceCount = 0;
    int setCheckedCalls = 0;
    int shrinkAfterSetChecked = 0;
    int progressMax = 0;
    int progressPos = 0;
    std::string paneText = "unchanged";
    int paneTextCalls = 0;
    int helpPaneShownCalls = 0;
    std::vector<std::string> navigations;
    std::vector<std::pair<int, bool>> sortArrows;  // column, ascending
    std::vector<std::string> tooltips;
    std::vector<std::string> helpPages;             // pages shown without an address
};

}  // namespace mdb::desktop::testing
