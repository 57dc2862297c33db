#include "mdbwarden_dlg.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/gauge.h>
#include <wx/listctrl.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/thread.h>
#include <wx/timer.h>
#include <wx/webview.h>

#include <array>
#include <atomic>
#include <fstream>
#include <future>
#include <iterator>
#include <sstream>

#include "desktop/file_list.h"
#include "desktop/help_pages.h"
#include "desktop/record_commands.h"
#include "desktop/refresh_watcher.h"
#include "desktop/site.h"
#include "desktop/thread_start.h"
#include "mdbwarden.xpm"
#include "message_boxes.h"
#include "rename_file_dlg.h"
#include "scan_config_dlg.h"

namespace dk = mdb::desktop;

namespace {

constexpr int kFallbackTimerId = 1;

struct ColumnSpec {
    const char* caption;
    int width;
    wxListColumnFormat format;
};
constexpr ColumnSpec kColumns[dk::kColumnCount] = {
    {MDB_TEXT("序号"), 60, wxLIST_FORMAT_LEFT},
    {MDB_TEXT("文件名"), 180, wxLIST_FORMAT_LEFT},
    {MDB_TEXT("原始文件大小"), 100, wxLIST_FORMAT_RIGHT},
    {MDB_TEXT("压缩后文件大小"), 100, wxLIST_FORMAT_RIGHT},
    {MDB_TEXT("压缩率"), 100, wxLIST_FORMAT_RIGHT},
    {MDB_TEXT("路径"), 800, wxLIST_FORMAT_LEFT},
    {"fid", 1, wxLIST_FORMAT_LEFT},
};

struct ButtonSpec {
    int id;
    const char* label;
    int x, y, w, h;
};
constexpr ButtonSpec kButtons[] = {
    {IDC_SCAN, MDB_TEXT("扫描数据库文件"), 8, 37, 70, 21},
    {IDC_COMPACT_ALL, MDB_TEXT("压缩全部数据库"), 83, 37, 70, 21},
    {IDC_COMPACT_CHECKED, MDB_TEXT("压缩选择数据库"), 158, 37, 70, 21},
    {IDC_STOP_COMPACT, MDB_TEXT("停止压缩"), 233, 37, 70, 21},
    {IDC_REFRESH, MDB_TEXT("刷新记录"), 308, 37, 70, 21},
    {IDC_CLEAR_RECORDS, MDB_TEXT("清空记录"), 383, 37, 70, 21},
    {IDC_WEB_SITE, MDB_TEXT("官方网站"), 458, 37, 70, 21},
    {IDC_UNCHECK_ALL, MDB_TEXT("清除已选 √"), 8, 68, 58, 14},
    {IDC_CHECK_ALL, MDB_TEXT("全选 √"), 70, 68, 58, 14},
};

// The start page used when neither the online help nor a local page can be shown.
const char* const kBuiltInStartPage = MDB_TEXT(
    "<!DOCTYPE html><html lang=\"zh-CN\"><head><meta charset=\"utf-8\"><title>Veloran MDB "
    "助手</title></head><body style=\"font-family:sans-serif;margin:16px\"><h3>Veloran MDB "
    "助手 V3.00</h3><p>暂时无法打开在线帮助。请先点击“扫描数据库文件”查找网站目录中的 "
    "Access 数据库，再勾选需要压缩的文件并点击“压缩选择数据库”。</p></body></html>");

}  // namespace

// The file list as a virtual list: the rows live here and the control asks for the
// texts of the rows it draws, so a reload of 10,000 rows costs next to nothing.
class FileListCtrl : public wxListCtrl {
  public:
    FileListCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size)
        : wxListCtrl(parent, id, pos, size,
                     wxLC_REPORT | wxLC_VIRTUAL | wxLC_HRULES | wxLC_VRULES | wxBORDER_SUNKEN |
                         wxTAB_TRAVERSAL) {
        EnableCheckBoxes(true);
        // A click on a check box toggles it through CheckItem; keep our copy in step.
        Bind(wxEVT_LIST_ITEM_CHECKED, [this](wxListEvent& e) {
            Store(e.GetIndex(), true);
            e.Skip();
        });
        Bind(wxEVT_LIST_ITEM_UNCHECKED, [this](wxListEvent& e) {
            Store(e.GetIndex(), false);
            e.Skip();
        });
    }

    void SetRows(const std::vector<dk::ListRow>& rows) {
        records_ = rows;
        rows_.clear();
        rows_.reserve(rows.size());
        for (const dk::ListRow& r : rows) {
            rows_.push_back({U8(r.number), U8(r.fileName), U8(r.originalSize), U8(r.compactedSize),
                             U8(r.ratio), U8(r.filePath), U8(r.recordKey), U8(r.reason)});
        }
        checked_.assign(rows_.size(), 0);
        SetItemCount(static_cast<long>(rows_.size()));
        Refresh();
    }
    int Count() const { return static_cast<int>(rows_.size()); }
    bool Checked(int row) const { return row >= 0 && row < Count() && checked_[row] != 0; }
    void SetCheckedRow(int row, bool checked) {
        if (row < 0 || row >= Count()) return;
        checked_[row] = checked ? 1 : 0;
        RefreshItem(row);
    }
    std::vector<dk::ListRow> CheckedRecords() const {
        std::vector<dk::ListRow> out;
        for (int row = 0; row < Count(); ++row)
            if (checked_[row]) out.push_back(records_[row]);
        return out;
    }
    wxString Text(int row, int column) const {
        if (row < 0 || row >= Count() || column < 0 || column >= kStoredTexts) return {};
        return rows_[row][column];
    }

  protected:
    wxString OnGetItemText(long item, long column) const override {
        return Text(static_cast<int>(item), static_cast<int>(column));
    }
    bool OnGetItemIsChecked(long item) const override { return Checked(static_cast<int>(item)); }

  private:
    void Store(long item, bool checked) {
        if (item >= 0 && item < Count()) checked_[item] = checked ? 1 : 0;
    }

    // The seven columns and the full failure reason (dk::kReasonText).
    static constexpr int kStoredTexts = dk::kReasonText + 1;
    std::vector<std::array<wxString, kStoredTexts>> rows_;
    std::vector<dk::ListRow> records_;  // the rows as given, for the commands
    std::vector<char> checked_;
};

struct CMdbwardenDlg::Gate {
    std::atomic<bool> alive{true};
};

CMdbwardenDlg::CMdbwardenDlg(dk::DesktopContext ctx, dk::DesktopState& state)
    : ctx_(std::move(ctx)),
      state_(state),
      compactCtx_(dk::MakeProgramCompactionContext()),
      gate_(std::make_shared<Gate>()) {
    compactCtx_.desktop = ctx_;
    scanCtx_ = dk::MakeProgramScanContext(compactCtx_);
    // Dialog units depend on the font, so the font comes before anything is placed.
    SetFont(wxFont(9, wxFONTFAMILY_DEFAULT, wxFONTSTYLE_NORMAL, wxFONTWEIGHT_NORMAL, false,
                   U8("宋体")));
    Create(nullptr, wxID_ANY, U8(dk::WindowCaption()), wxDefaultPosition, wxDefaultSize,
           wxCAPTION | wxRESIZE_BORDER | wxSYSTEM_MENU | wxMINIMIZE_BOX | wxMAXIMIZE_BOX |
               wxCLOSE_BOX);
    SetIcon(wxIcon(mdbwarden_xpm));
    CreateControls();
    SetClientSize(ConvertDialogToPixels(wxSize(678, 472)));

    Bind(wxEVT_SIZE, &CMdbwardenDlg::OnSize, this);
    Bind(wxEVT_CHAR_HOOK, &CMdbwardenDlg::OnCharHook, this);
    Bind(wxEVT_CLOSE_WINDOW, &CMdbwardenDlg::OnClose, this);
    Bind(wxEVT_LIST_COL_CLICK, &CMdbwardenDlg::OnColumnClick, this, IDC_LIST_FILES);
    Bind(wxEVT_LIST_ITEM_RIGHT_CLICK, &CMdbwardenDlg::OnItemRightClick, this, IDC_LIST_FILES);
    Bind(wxEVT_WEBVIEW_ERROR, &CMdbwardenDlg::OnHelpError, this, IDC_HELP_PANE);
    fallbackTimer_.SetOwner(this, kFallbackTimerId);
    Bind(
        wxEVT_TIMER, [this](wxTimerEvent&) { ShowStartPageFallback(); }, kFallbackTimerId);
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { dk::OnOpenContainingFolder(ctx_, state_, *this); },
        ID_OPEN_CONTAINING_FOLDER);
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { dk::OnShowReason(*this, menuRow_); }, ID_SHOW_REASON);

    Bind(
        wxEVT_BUTTON,
        [this](wxCommandEvent&) { dk::OnScanDatabases(scanCtx_, compaction_, state_, *this); },
        IDC_SCAN);
    Bind(
        wxEVT_BUTTON,
        [this](wxCommandEvent&) { dk::OnCompactAll(compactCtx_, compaction_, state_, *this); },
        IDC_COMPACT_ALL);
    Bind(
        wxEVT_BUTTON,
        [this](wxCommandEvent&) {
            dk::OnCompactSelected(compactCtx_, compaction_, state_, *this);
        },
        IDC_COMPACT_CHECKED);
    Bind(
        wxEVT_BUTTON,
        [this](wxCommandEvent&) { dk::OnStopCompact(compactCtx_, compaction_, *this); },
        IDC_STOP_COMPACT);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { dk::OnRefreshRecords(ctx_, state_, *this); },
        IDC_REFRESH);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { dk::OnClearRecords(ctx_, state_, *this); },
        IDC_CLEAR_RECORDS);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { dk::OnOfficialSite(ctx_, *this); }, IDC_WEB_SITE);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { dk::UncheckAllRows(*this); }, IDC_UNCHECK_ALL);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { dk::CheckAllRows(*this); }, IDC_CHECK_ALL);
}

CMdbwardenDlg::~CMdbwardenDlg() {
    gate_->alive = false;
    threads_.Stop();
}

void CMdbwardenDlg::CreateControls() {
    auto at = [this](int x, int y) { return ConvertDialogToPixels(wxPoint(x, y)); };
    auto size = [this](int w, int h) { return ConvertDialogToPixels(wxSize(w, h)); };

    title_ = new wxStaticText(this, IDC_TITLE, UiText("Veloran MDB 助手"), at(11, 13), size(361, 14),
                              wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE);
    title_->SetFont(wxFont(wxSize(0, 22), wxFONTFAMILY_SWISS, wxFONTSTYLE_NORMAL,
                           wxFONTWEIGHT_NORMAL, false, U8("宋体")));
    title_->Refresh();

    for (const ButtonSpec& b : kButtons) {
        auto* button = new wxButton(this, b.id, UiText(b.label), at(b.x, b.y), size(b.w, b.h));
        if (b.id == IDC_SCAN) button->SetDefault();
    }

    progress_ = new wxGauge(this, IDC_PROGRESS, 100, at(135, 74), size(386, 8),
                            static_cast<long>(wxGA_HORIZONTAL) | wxBORDER_SIMPLE);

    list_ = new FileListCtrl(this, IDC_LIST_FILES, at(5, 88), size(668, 259));
    for (int c = 0; c < dk::kColumnCount; ++c) {
        list_->InsertColumn(c, UiText(kColumns[c].caption), kColumns[c].format, kColumns[c].width);
    }
    // The list draws its header and its rows in two child windows, which get the mouse.
    for (wxWindow* child : list_->GetChildren()) {
        child->Bind(wxEVT_MOTION, &CMdbwardenDlg::OnListMouseMove, this);
    }

    textPane_ = new wxTextCtrl(this, IDC_TEXT_PANE, wxString(), at(5, 350), size(668, 117),
                               wxTE_MULTILINE | wxTE_READONLY | wxVSCROLL | wxBORDER_SUNKEN);
    helpPane_ = wxWebView::New(this, IDC_HELP_PANE, wxString(), at(5, 352), size(668, 115));
}

void CMdbwardenDlg::StartUp() {
    // A second supervisor could not take the batch lock and would report another
    // copy of the program on every batch.
    wxCHECK_RET(!started_, "the window is started once");
    started_ = true;
    list_->SetRows({});
    dk::ReloadFileList(ctx_, state_, *this);

    ShowSortArrow();
    threads_.Start(&dk::RefreshWatcherThread,
                   dk::WatcherParams{ctx_, &state_, this, threads_.Signal()});
    threads_.Start(&dk::CompactionSupervisor,
                   dk::SupervisorParams{compactCtx_, &compaction_, &state_, this, threads_.Signal()});

    state_.helpPaneShown = 1;
    textPane_->Hide();
    helpPane_->Show();
    helpPane_->LoadURL(U8(dk::OnlineHelpUrl()));
    list_->SetFocus();
}

void CMdbwardenDlg::OnSize(wxSizeEvent& event) {
    event.Skip();
    // The first notification arrives while the window is being created.
    if (sizeNotifications_++ == 0) return;
    const wxSize client = GetClientSize();
    const int cx = client.x;
    const int cy = client.y;
    if (list_) {
        const wxPoint pos = list_->GetPosition();
        list_->SetSize(pos.x, pos.y, cx - 2 * pos.x, cy - pos.y - 195);
        list_->Refresh();
    }
    for (wxWindow* pane : {static_cast<wxWindow*>(textPane_), static_cast<wxWindow*>(helpPane_)}) {
        if (!pane) continue;
        const int left = pane->GetPosition().x;
        pane->SetSize(left, cy - 190, cx - 2 * left, 180);
        pane->Refresh();
    }
}

void CMdbwardenDlg::OnCharHook(wxKeyEvent& event) {
    const int key = event.GetKeyCode();
    if (key == WXK_ESCAPE) {
        // Esc goes to the focused control and never closes the window.
        event.DoAllowNextEvent();
        return;
    }
    if ((key == WXK_RETURN || key == WXK_NUMPAD_ENTER) && !event.HasAnyModifiers()) {
        wxWindow* focus = FindFocus();
        if (dynamic_cast<wxButton*>(focus) == nullptr) {
            // Enter runs the default button, wherever the focus is.
            wxCommandEvent click(wxEVT_BUTTON, IDC_SCAN);
            click.SetEventObject(FindWindow(IDC_SCAN));
            ProcessWindowEvent(click);
            return;
        }
    }
    event.Skip();
}

void CMdbwardenDlg::OnClose(wxCloseEvent&) {
    // Closing the window ends the program without a question. A batch under way stops
    // after its current file and starts the web server again; a request not yet taken
    // up is withdrawn. The threads' calls to the window return at once from here on.
    gate_->alive = false;
    Hide();
    dk::CancelCompaction(compactCtx_, compaction_, *this);
    threads_.Stop();
    Destroy();
    wxTheApp->ExitMainLoop();
}

void CMdbwardenDlg::OnColumnClick(wxListEvent& event) {
    dk::OnColumnHeaderClick(ctx_, state_, *this, event.GetColumn());
    ShowSortArrow();
}

void CMdbwardenDlg::ShowSortArrow() {
    int column = 0;
    bool ascending = true;
    {
        std::lock_guard lock(state_.reloadLock);
        column = dk::ColumnForSortField(state_.sortField);
        ascending = state_.sortOrder != "desc";
    }
    list_->ShowSortIndicator(column, ascending);
}

void CMdbwardenDlg::OnItemRightClick(wxListEvent& event) {
    const int row = static_cast<int>(event.GetIndex());
    if (!dk::OnRowRightClick(ctx_, state_, *this, row)) return;
    menuRow_ = row;
    wxMenu menu;
    menu.Append(ID_OPEN_CONTAINING_FOLDER, UiText("打开文件所在目录"));
    menu.Append(ID_SHOW_REASON, UiText("查看原因"));
    menu.Enable(ID_SHOW_REASON, !list_->Text(row, dk::kReasonText).empty());
    PopupMenu(&menu);
}

void CMdbwardenDlg::OnListMouseMove(wxMouseEvent& event) {
    event.Skip();
    // The header sits at the top of the list; the rows' window below it.
    auto* rows = dynamic_cast<wxWindow*>(event.GetEventObject());
    if (rows == nullptr || rows->GetPosition().y <= 0) return;
    int flags = 0;
    const long row = list_->HitTest(event.GetPosition(), flags);
    if (row == tooltipRow_) return;
    tooltipRow_ = row;
    // The full reason of a file that was not compacted; nothing on other rows.
    const wxString reason = list_->Text(static_cast<int>(row), dk::kReasonText);
    if (reason.empty()) {
        rows->UnsetToolTip();
    } else {
        rows->SetToolTip(reason);
    }
}

void CMdbwardenDlg::OnHelpError(wxWebViewEvent& event) {
    // Only a failure of the online page is replaced; local pages are ours.
    const std::string url = ToU8(event.GetURL());
    if (url.rfind("http", 0) != 0 || onlineHelpFailed_) return;
    onlineHelpFailed_ = true;
    // WebKit puts its own error page up right after this event; ours replaces it a
    // moment later.
    fallbackTimer_.StartOnce(300);
}

void CMdbwardenDlg::ShowStartPageFallback() {
    const std::string url = dk::FallbackStartPageUrl(ctx_);
    if (!url.empty()) {
        NavigateHelp(url);
    } else {
        helpPane_->SetPage(UiText(kBuiltInStartPage), wxString());
    }
}

// ---- marshalling -------------------------------------------------------------

void CMdbwardenDlg::RunOnGuiAndWait(const std::function<void()>& fn, bool isBox) {
    if (wxThread::IsMain()) {
        if (!gate_->alive) return;
        if (isBox) {
            RunBox(fn);
        } else {
            fn();
        }
        return;
    }
    if (!gate_->alive) return;
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    // `fn` is only touched while the window lives. The gate closes on the window's
    // thread, where this call runs, so a call that sees it open has a caller still
    // waiting below.
    auto task = [this, gate = gate_, fnPtr = &fn, done, isBox] {
        if (gate->alive) {
            if (isBox) {
                RunBox(*fnPtr);
            } else {
                (*fnPtr)();
            }
        }
        done->set_value();
    };
    if (isBox) {
        PostBox(std::move(task));
    } else {
        wxTheApp->CallAfter(std::move(task));
    }
    // While the window closes, its thread joins this one and runs no more calls.
    while (finished.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
        if (!gate_->alive) return;
    }
}

void CMdbwardenDlg::PostBox(std::function<void()> task) {
    wxTheApp->CallAfter([this, gate = gate_, task = std::move(task)]() mutable {
        // A box of a background thread waits until the boxes open before it are closed;
        // shown at once it would come up inside their modal loop, under them.
        if (gate->alive && openBoxes_ > 0) {
            waitingBoxes_.push_back(std::move(task));
            return;
        }
        task();
    });
}

void CMdbwardenDlg::RunBox(const std::function<void()>& show) {
    ++openBoxes_;
    show();
    --openBoxes_;
    if (openBoxes_ == 0 && !waitingBoxes_.empty()) {
        std::function<void()> next = std::move(waitingBoxes_.front());
        waitingBoxes_.pop_front();
        PostBox(std::move(next));
    }
}

void CMdbwardenDlg::RunOnGui(std::function<void()> fn) {
    if (wxThread::IsMain()) {
        if (gate_->alive) fn();
        return;
    }
    wxTheApp->CallAfter([gate = gate_, fn = std::move(fn)] {
        if (gate->alive) fn();
    });
}

// ---- the view ----------------------------------------------------------------

void CMdbwardenDlg::ShowMessageNow(const std::string& text, dk::MessageIcon icon) {
    ShowMessageBox(this, text, icon);
}

bool CMdbwardenDlg::AskYesNoNow(const std::string& text) {
    return AskYesNoBox(this, text, true);
}

void CMdbwardenDlg::ShowMessage(const std::string& text, dk::MessageIcon icon) {
    RunOnGuiAndWait([&] { ShowMessageNow(text, icon); }, true);
}

bool CMdbwardenDlg::AskYesNo(const std::string& text) {
    bool yes = false;
    RunOnGuiAndWait([&] { yes = AskYesNoNow(text); }, true);
    return yes;
}

void CMdbwardenDlg::ShowNotice(const std::string& text) {
    RunOnGui([this, text] {
        CloseNotice();
        notice_ = CreateNoticeBox(this, text);
        notice_->Show();
    });
}

void CMdbwardenDlg::CloseNotice() {
    RunOnGuiAndWait([this] {
        if (notice_) notice_->Destroy();
        notice_ = nullptr;
    });
}

void CMdbwardenDlg::ReplaceRowsNow(const std::vector<dk::ListRow>& rows) {
    // A reload loses selection and check marks.
    if (list_->GetItemCount() > 0) list_->SetItemState(-1, 0, wxLIST_STATE_SELECTED);
    list_->SetRows(rows);
    // The list only reports right clicks on rows once some row has the focus.
    if (!rows.empty()) list_->SetItemState(0, wxLIST_STATE_FOCUSED, wxLIST_STATE_FOCUSED);
}

void CMdbwardenDlg::ReplaceRows(std::vector<dk::ListRow> rows) {
    if (wxThread::IsMain()) {
        ReplaceRowsNow(rows);
        return;
    }
    // Reloads on other threads hand over a complete set of rows; the list shows the
    // sets in the order the reloads finished.
    RunOnGui([this, rows = std::move(rows)] { ReplaceRowsNow(rows); });
}

int CMdbwardenDlg::ItemCount() {
    int count = 0;
    RunOnGuiAndWait([&] { count = list_->Count(); });
    return count;
}

bool CMdbwardenDlg::IsChecked(int row) {
    bool checked = false;
    RunOnGuiAndWait([&] { checked = list_->Checked(row); });
    return checked;
}

void CMdbwardenDlg::SetChecked(int row, bool checked) {
    RunOnGuiAndWait([&] { list_->SetCheckedRow(row, checked); });
}

std::string CMdbwardenDlg::ColumnText(int row, int column) {
    std::string text;
    RunOnGuiAndWait([&] { text = ToU8(list_->Text(row, column)); });
    return text;
}

std::vector<dk::ListRow> CMdbwardenDlg::CheckedRows() {
    std::vector<dk::ListRow> rows;
    RunOnGuiAndWait([&] { rows = list_->CheckedRecords(); });
    return rows;
}

void CMdbwardenDlg::SetProgressRange(int max) {
    RunOnGui([this, max] { progress_->SetRange(max); });
}

void CMdbwardenDlg::SetProgressPos(int pos) {
    RunOnGui([this, pos] { progress_->SetValue(pos); });
}

void CMdbwardenDlg::SetPaneText(const std::string& text) {
    RunOnGuiAndWait([&] { textPane_->ChangeValue(U8(text)); });
}

void CMdbwardenDlg::ShowHelpPaneInsteadOfText() {
    RunOnGuiAndWait([&] {
        textPane_->Hide();
        helpPane_->Show();
    });
}

void CMdbwardenDlg::NavigateHelp(const std::string& url) {
    RunOnGuiAndWait([&] {
        // A local page is handed over as HTML: WebKit would not treat a ".dat" file
        // as a web page by itself.
        const std::string local = dk::LocalPathOfPageUrl(url);
        if (local.empty()) {
            helpPane_->LoadURL(U8(url));
            return;
        }
        std::ifstream in(local, std::ios::binary);
        const std::string html((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        helpPane_->SetPage(U8(html), U8(url));
    });
}

bool CMdbwardenDlg::RunCompactConfirmDialog(const std::vector<std::string>& paths) {
    bool confirmed = false;
    RunOnGuiAndWait([&] {
        CReNameFileDlg dlg(this, paths);
        confirmed = dlg.ShowModal() == wxID_OK;
    }, true);
    return confirmed;
}

bool CMdbwardenDlg::RunScanConfigDialog() {
    bool confirmed = false;
    RunOnGuiAndWait([&] {
        CScanConfigDlg dlg(this, ctx_);
        confirmed = dlg.ShowModal() == wxID_OK;
    }, true);
    return confirmed;
}
