// The window as the desktop commands see it, and what the window tells of its user's
// actions. Commands never include a toolkit header; the wx dialog and the Win32 window
// implement MainView, tests implement it with a scripted fake. Every MainView method may
// be called from any thread: the window implementation moves the call to its
// user-interface thread.
#pragma once

#include <string>
#include <vector>

namespace mdb::desktop {

enum class MessageIcon { Question, Information, Error };

// One row of the file list as shown: the seven columns, in column order.
struct ListRow {
    std::string number;         // 0 "序号"
    std::string fileName;       // 1 "文件名"
    std::string originalSize;   // 2 "原始文件大小"
    std::string compactedSize;  // 3 "压缩后文件大小"
    std::string ratio;          // 4 "压缩率"
    std::string filePath;       // 5 "路径"
    std::string recordKey;      // 6 "fid"
    // Not a column: the full reason why the file was not compacted (its "压缩率" shows
    // the short form), empty when there is none.
    std::string reason;
    bool operator==(const ListRow&) const = default;
};

inline constexpr int kColumnCount = 7;
inline constexpr int kRatioColumn = 4;
inline constexpr int kPathColumn = 5;
inline constexpr int kRecordKeyColumn = 6;
// ColumnText() of this index gives ListRow::reason.
inline constexpr int kReasonText = 7;

class MainView {
  public:
    virtual ~MainView() = default;

    // Modal OK box; returns when the user has closed it.
    virtual void ShowMessage(const std::string& text, MessageIcon icon) = 0;
    // Modal Yes/No box with the question icon; true only for Yes.
    virtual bool AskYesNo(const std::string& text) = 0;
    // An information notice that does not block the window; it stays until the user
    // closes it or CloseNotice() is called. A new notice replaces the shown one.
    virtual void ShowNotice(const std::string& text) = 0;
    virtual void CloseNotice() = 0;

    // The file list. Replacing the rows leaves every row unchecked.
    virtual void ReplaceRows(std::vector<ListRow> rows) = 0;
    virtual int ItemCount() = 0;
    virtual bool IsChecked(int row) = 0;
    virtual void SetChecked(int row, bool checked) = 0;
    virtual std::string ColumnText(int row, int column) = 0;
    // The rows whose check box is ticked, in list order, as the list was given them:
    // commands act on these records, never on texts read back out of the cells.
    virtual std::vector<ListRow> CheckedRows() = 0;

    // Progress bar (range 0..max).
    virtual void SetProgressRange(int max) = 0;
    virtual void SetProgressPos(int pos) = 0;

    // Text pane below the list and the help pane on top of it.
    virtual void SetPaneText(const std::string& text) = 0;
    virtual void ShowHelpPaneInsteadOfText() = 0;
    virtual void NavigateHelp(const std::string& url) = 0;
    // The compaction confirmation dialog listing `paths`, one per line; true only when
    // the user confirmed it and then answered Yes to its question.
    virtual bool RunCompactConfirmDialog(const std::vector<std::string>& paths) = 0;
    // The scan settings dialog, modal; true only when it saved the directory list and
    // the user confirmed the start of the scan.
    virtual bool RunScanConfigDialog() = 0;

    // The arrow on the header of the column the list is sorted by.
    virtual void ShowSortArrow(int column, bool ascending) = 0;
    // The tooltip over the list's rows: `text` while the mouse is over the row it
    // belongs to; empty hides it. A new text replaces a shown tip at once.
    virtual void SetRowTooltip(const std::string& text) = 0;
    // The help pane shows `html` (a page of the program's own, without an address).
    virtual void ShowHelpHtml(const std::string& html) = 0;
};

// What a right click on a row opens.
struct RowMenu {
    bool open = false;           // false: not on a row, no menu
    bool reasonEnabled = false;  // "查看原因" can be chosen
};

// The user's actions as the window reports them, on its user-interface thread. The
// presenter (main_presenter.h) implements this; the windows know nothing of commands.
class MainWindowEvents {
  public:
    virtual ~MainWindowEvents() = default;
    // Once, when the window exists and before it is shown.
    virtual void StartUp() = 0;
    // A button or a row-menu command (control_ids.h); false for an id no command has.
    virtual bool OnControl(int id) = 0;
    virtual void OnColumnClick(int column) = 0;
    virtual RowMenu OnRowRightClick(int row) = 0;
    // The mouse is over list row `row` (-1: over no row).
    virtual void OnRowHover(int row) = 0;
    // The user closes the window. Calls to the view return at once from now on, so
    // the window's thread may wait here for the background threads to end.
    virtual void OnClose() = 0;
};

}  // namespace mdb::desktop
