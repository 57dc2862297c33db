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
#include <wx/webview.h>

#include <array>
#include <atomic>
#include <algorithm>
#include <fstream>
#include <future>
#include <iterator>
#include <sstream>

#include "desktop/help_pages.h"
#include "desktop/main_window_texts.h"
#include "desktop/site.h"
#include "mdbwarden.xpm"
#include "gtk_style.h"
#include "message_boxes.h"
#include "rename_file_dlg.h"
#include "scan_config_dlg.h"

namespace dk = mdb::desktop;

namespace {

wxListColumnFormat Format(dk::ColumnAlign align) {
    return align == dk::ColumnAlign::Right ? wxLIST_FORMAT_RIGHT : wxLIST_FORMAT_LEFT;
}

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
    : ctx_(std::move(ctx)), gate_(std::make_shared<Gate>()) {
    dk::CompactionContext compaction = dk::MakeProgramCompactionContext();
    compaction.desktop = ctx_;
    presenter_ = std::make_unique<dk::MainPresenter>(*this, state,
                                                     dk::MakeProgramScanContext(std::move(compaction)));
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
    // Buttons and row-menu items run the command wired to their id.
    for (const dk::ControlCommand& wired : dk::kControlCommands) {
        const bool menuItem = wired.id == ID_OPEN_CONTAINING_FOLDER || wired.id == ID_SHOW_REASON;
        Bind(
            menuItem ? wxEVT_MENU : wxEVT_BUTTON,
            [this, command = wired.command](wxCommandEvent&) { presenter_->Run(command); }, wired.id);
    }
}

CMdbwardenDlg::~CMdbwardenDlg() {
    gate_->alive = false;
    presenter_.reset();
}

void CMdbwardenDlg::CreateControls() {
    auto at = [this](int x, int y) { return ConvertDialogToPixels(wxPoint(x, y)); };
    auto size = [this](int w, int h) { return ConvertDialogToPixels(wxSize(w, h)); };

    title_ = new wxStaticText(this, IDC_TITLE, UiText(dk::kTitleText), at(11, 13), size(361, 14),
                              wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE);
    title_->SetFont(wxFont(wxSize(0, 22), wxFONTFAMILY_SWISS, wxFONTSTYLE_NORMAL,
                           wxFONTWEIGHT_NORMAL, false, U8("宋体")));
    title_->Refresh();

    for (const dk::ButtonSpec& b : dk::kCommandButtons) {
        auto* button = new wxButton(this, b.id, UiText(b.label), at(b.x, b.y), size(b.width, b.height));
        if (b.id == IDC_SCAN) button->SetDefault();
    }

    MakeProgressBarsFillTheirHeight();
    progress_ = new wxGauge(this, IDC_PROGRESS, 100, at(135, 74), size(386, 8),
                            static_cast<long>(wxGA_HORIZONTAL) | wxBORDER_SIMPLE);

    list_ = new FileListCtrl(this, IDC_LIST_FILES, at(5, 88), size(668, 259));
    for (int c = 0; c < dk::kColumnCount; ++c) {
        const dk::ColumnSpec& column = dk::kListColumns[c];
        const wxString caption = UiText(column.caption);
        const int width = c + 1 < dk::kColumnCount
                              ? std::max(column.width, list_->GetTextExtent(caption).x + dk::kColumnCaptionRoom)
                              : column.width;
        list_->InsertColumn(c, caption, Format(column.align), width);
    }
    // The list draws its header and its rows in two child windows, which get the mouse.
    for (wxWindow* child : list_->GetChildren()) {
        child->Bind(wxEVT_MOTION, &CMdbwardenDlg::OnListMouseMove, this);
        child->Bind(wxEVT_LEAVE_WINDOW, [this](wxMouseEvent& e) {
            e.Skip();
            presenter_->OnRowHover(-1);
        });
    }

    textPane_ = new wxTextCtrl(this, IDC_TEXT_PANE, wxString(), at(5, 350), size(668, 117),
                               wxTE_MULTILINE | wxTE_READONLY | wxVSCROLL | wxBORDER_SUNKEN);
    helpPane_ = wxWebView::New(this, IDC_HELP_PANE, wxString(), at(5, 352), size(668, 115));
}

void CMdbwardenDlg::StartUp() {
    list_->SetRows({});
    textPane_->Hide();
    helpPane_->Show();
    presenter_->StartUp();
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
            presenter_->OnControl(IDC_SCAN);
            return;
        }
    }
    event.Skip();
}

void CMdbwardenDlg::OnClose(wxCloseEvent&) {
    // Closing the window ends the program without a question. The threads' calls to
    // the window return at once from here on.
    gate_->alive = false;
    Hide();
    presenter_->OnClose();
    Destroy();
    wxTheApp->ExitMainLoop();
}

void CMdbwardenDlg::OnColumnClick(wxListEvent& event) {
    presenter_->OnColumnClick(event.GetColumn());
}

void CMdbwardenDlg::OnItemRightClick(wxListEvent& event) {
    const dk::RowMenu rowMenu = presenter_->OnRowRightClick(static_cast<int>(event.GetIndex()));
    if (!rowMenu.open) return;
    wxMenu menu;
    menu.Append(ID_OPEN_CONTAINING_FOLDER, UiText(dk::kMenuOpenFolder));
    menu.Append(ID_SHOW_REASON, UiText(dk::kMenuShowReason));
    menu.Enable(ID_SHOW_REASON, rowMenu.reasonEnabled);
    PopupMenu(&menu);
}

void CMdbwardenDlg::OnListMouseMove(wxMouseEvent& event) {
    event.Skip();
    // The header sits at the top of the list, the rows' window below it; HitTest takes
    // the rows' window's coordinates.
    auto* rows = dynamic_cast<wxWindow*>(event.GetEventObject());
    if (rows == nullptr || rows->GetPosition().y <= 0) {
        presenter_->OnRowHover(-1);
        return;
    }
    rowsWindow_ = rows;
    int flags = 0;
    presenter_->OnRowHover(static_cast<int>(list_->HitTest(event.GetPosition(), flags)));
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

void CMdbwardenDlg::ShowSortArrow(int column, bool ascending) {
    RunOnGui([this, column, ascending] { list_->ShowSortIndicator(column, ascending); });
}

void CMdbwardenDlg::SetRowTooltip(const std::string& text) {
    RunOnGui([this, text] {
        if (!rowsWindow_) return;
        if (text.empty()) {
            rowsWindow_->UnsetToolTip();
        } else {
            rowsWindow_->SetToolTip(U8(text));
        }
    });
}

void CMdbwardenDlg::ShowHelpHtml(const std::string& html) {
    RunOnGuiAndWait([&] { helpPane_->SetPage(U8(html), wxString()); });
}
