#include "desktop/win32/win32_main_view.h"

#include "common/i18n.h"
#include "desktop/main_window_texts.h"
#include "desktop/site.h"
#include "desktop/win32/dialog_text.h"
#include "desktop/win32/message_box.h"
#include "desktop/win32/resource_ids.h"
#include "desktop/win32/page_rtf.h"
#include "platform/win32/wide.h"

#include <commctrl.h>
#include <richedit.h>
#include <windowsx.h>

#include <algorithm>
#include <cstring>
#include <thread>
#include <utility>

namespace mdb::desktop::win32 {
namespace {

using platform::win32::Utf8;
using platform::win32::Wide;

// Carries a call from another thread to the user-interface thread (lParam: the call).
constexpr UINT kRunOnUiThread = WM_APP + 1;

// Below the list: the help and text panes (180 pixels) and the gaps around them.
constexpr int kListBottomGap = 195;
// A header and a few rows.
constexpr int kMinListHeight = 80;
// The failure reasons are long: the tip wraps them at this width (pixels).
constexpr int kTooltipWidth = 600;

// Grid lines, check boxes and full-row selection, replacing every other extended style.
constexpr DWORD kListStyles = LVS_EX_GRIDLINES | LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT;

const std::string& Cell(const ListRow& row, int column) {
    switch (column) {
        case 0: return row.number;
        case 1: return row.fileName;
        case 2: return row.originalSize;
        case 3: return row.compactedSize;
        case 4: return row.ratio;
        case 5: return row.filePath;
        case 6: return row.recordKey;
        default: return row.reason;
    }
}

// Edit controls break lines at CR LF only.
std::wstring WithCrLf(const std::string& text) {
    std::wstring wide = Wide(text);
    std::wstring out;
    out.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        if (wide[i] == L'\n' && (i == 0 || wide[i - 1] != L'\r')) out += L'\r';
        out += wide[i];
    }
    return out;
}

struct ConfirmDialog {
    std::wstring files;
    static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
        switch (message) {
            case WM_INITDIALOG:
                TranslateDialog(dialog);
                SetDlgItemTextW(dialog, IDC_CHOSEN_FILES, reinterpret_cast<ConfirmDialog*>(lParam)->files.c_str());
                // The focus on the confirm button, the list shown unselected.
                SetFocus(GetDlgItem(dialog, IDOK));
                return FALSE;
            case WM_COMMAND:
                if (LOWORD(wParam) == IDOK) {
                    // No leaves the dialog open.
                    if (RunMessageBox(dialog, Tr(kAskCompactChosen), Tr(kConfirmCaption), MessageIcon::Question,
                                      BoxButtons::YesNo, true) == IDYES)
                        EndDialog(dialog, IDOK);
                    return TRUE;
                }
                if (LOWORD(wParam) == IDCANCEL) {
                    EndDialog(dialog, IDCANCEL);
                    return TRUE;
                }
                return FALSE;
        }
        return FALSE;
    }
};

// Feeds a rich edit control from a string (EM_STREAMIN).
struct StreamSource {
    const std::string& bytes;
    std::size_t offset = 0;
    static DWORD CALLBACK Read(DWORD_PTR cookie, LPBYTE buffer, LONG capacity, LONG* read) {
        auto* source = reinterpret_cast<StreamSource*>(cookie);
        const std::size_t count =
            std::min(static_cast<std::size_t>(capacity), source->bytes.size() - source->offset);
        std::memcpy(buffer, source->bytes.data() + source->offset, count);
        source->offset += count;
        *read = static_cast<LONG>(count);
        return 0;
    }
};

// The notice: closed by its button or its close box, without an answer.
INT_PTR CALLBACK NoticeProc(HWND notice, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        DestroyWindow(notice);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

Win32MainView::Win32MainView(HINSTANCE instance)
    : instance_(instance),
      uiThread_(GetCurrentThreadId()),
      // The help pane's class, RICHEDIT50W, must be registered before the dialog is made.
      richEdit_(LoadLibraryW(L"Msftedit.dll")) {
    CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_MDBWARDEN_DIALOG), nullptr, DialogProc,
                       reinterpret_cast<LPARAM>(this));
}

Win32MainView::~Win32MainView() {
    if (dialog_) DestroyWindow(dialog_);
    if (titleFont_) DeleteObject(titleFont_);
    if (richEdit_) FreeLibrary(richEdit_);
}

INT_PTR CALLBACK Win32MainView::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        auto* view = reinterpret_cast<Win32MainView*>(lParam);
        view->dialog_ = dialog;
        view->window_ = dialog;
        TranslateDialog(dialog);
        view->StartUp();
        return TRUE;
    }
    auto* view = reinterpret_cast<Win32MainView*>(GetWindowLongPtrW(dialog, DWLP_USER));
    return view ? view->Handle(message, wParam, lParam) : FALSE;
}

void Win32MainView::StartUp() {
    SetWindowTextW(dialog_, Wide(WindowCaption()).c_str());
    icon_ = LoadIconW(instance_, MAKEINTRESOURCEW(IDI_MDBWARDEN));
    SendMessageW(dialog_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageW(dialog_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
    titleFont_ = CreateFontW(22, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                             FF_SWISS | DEFAULT_PITCH, L"宋体");
    SendMessageW(Control(IDC_TITLE), WM_SETFONT, reinterpret_cast<WPARAM>(titleFont_), TRUE);
    SetDlgItemTextW(dialog_, IDC_TITLE, Wide(Tr(kTitleText)).c_str());
    for (const ButtonSpec& button : kCommandButtons)
        SetDlgItemTextW(dialog_, button.id, Wide(Tr(button.label)).c_str());

    const HWND list = Control(IDC_LIST_FILES);
    ListView_SetExtendedListViewStyleEx(list, ~0u, kListStyles);
    for (int i = 0; i < kColumnCount; ++i) {
        std::wstring caption = Wide(Tr(kListColumns[i].caption));
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
        column.fmt = kListColumns[i].align == ColumnAlign::Right ? LVCFMT_RIGHT : LVCFMT_LEFT;
        column.cx = i + 1 < kColumnCount ? std::max(kListColumns[i].width, ListView_GetStringWidth(list, caption.c_str()) +
                                                                            kColumnCaptionRoom)
                                         : kListColumns[i].width;
        column.pszText = caption.data();
        column.iSubItem = i;
        ListView_InsertColumn(list, i, &column);
    }
    ShowWindow(Control(IDC_HELP_PANE), SW_HIDE);

    // The failure reason over the rows: one tool, the list, whose text the presenter
    // sets for the row under the mouse; the list reports the mouse to the presenter.
    tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                               WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, dialog_, nullptr, instance_, nullptr);
    if (tooltip_) {
        TOOLINFOW tool{};
        tool.cbSize = sizeof tool;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = dialog_;
        tool.uId = reinterpret_cast<UINT_PTR>(list);
        tool.lpszText = const_cast<wchar_t*>(L"");
        SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
        SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, kTooltipWidth);
        SendMessageW(tooltip_, TTM_ACTIVATE, FALSE, 0);
    }
    SetWindowSubclass(list, ListProc, 1, reinterpret_cast<DWORD_PTR>(this));

    // The smallest size the user can give the window: the row of command buttons whole,
    // and the list, which ends kListBottomGap above the bottom, at least kMinListHeight.
    RECT window, client, listBox, lastButton;
    GetWindowRect(dialog_, &window);
    GetClientRect(dialog_, &client);
    GetWindowRect(list, &listBox);
    GetWindowRect(Control(IDC_WEB_SITE), &lastButton);
    MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&listBox), 2);
    MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&lastButton), 2);
    const int frameWidth = (window.right - window.left) - client.right;
    const int frameHeight = (window.bottom - window.top) - client.bottom;
    minTrackSize_ = {lastButton.right + listBox.left + frameWidth,
                     listBox.top + kMinListHeight + kListBottomGap + frameHeight};
}

INT_PTR Win32MainView::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case kRunOnUiThread:
            if (!closing_) (*reinterpret_cast<const std::function<void()>*>(lParam))();
            return TRUE;
        case WM_GETMINMAXINFO:
            if (minTrackSize_.x == 0) return FALSE;  // the window is still being made
            reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = minTrackSize_;
            return TRUE;
        case WM_SIZE:
            // The first notification comes while the window is made.
            if (sizeNotifications_++ > 0 && wParam != SIZE_MINIMIZED) Layout(LOWORD(lParam), HIWORD(lParam));
            return TRUE;
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            // Esc (IDCANCEL) and Enter (IDOK) never close the window; Enter goes to the
            // default button through the dialog manager.
            if (id == IDCANCEL || id == IDOK) return TRUE;
            if (HIWORD(wParam) == BN_CLICKED && lParam != 0) {
                if (events_) events_->OnControl(id);
                return TRUE;
            }
            return FALSE;
        }
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->idFrom != IDC_LIST_FILES) return FALSE;
            if (header->code == LVN_COLUMNCLICK) {
                if (events_) events_->OnColumnClick(reinterpret_cast<const NMLISTVIEW*>(lParam)->iSubItem);
            } else if (header->code == NM_RCLICK) {
                const int row = reinterpret_cast<const NMITEMACTIVATE*>(lParam)->iItem;
                if (row >= 0) ShowRowMenu(row);
            }
            SetWindowLongPtrW(dialog_, DWLP_MSGRESULT, 0);
            return TRUE;
        }
        case WM_CLOSE:
            closing_ = true;
            if (events_) {
                // The background threads are joined while this thread keeps answering
                // their calls (which return at once now).
                HANDLE closed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
                std::thread closer([&] {
                    events_->OnClose();
                    SetEvent(closed);
                });
                PumpUntil(closed);
                closer.join();
                CloseHandle(closed);
            }
            DestroyWindow(dialog_);
            return TRUE;
        case WM_DESTROY:
            dialog_ = nullptr;
            PostQuitMessage(0);
            return TRUE;
    }
    return FALSE;
}

void Win32MainView::Layout(int width, int height) {
    const auto place = [&](int id, auto size) {
        const HWND control = Control(id);
        if (!control) return;
        RECT r;
        GetWindowRect(control, &r);
        MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&r), 2);
        const RECT to = size(r);
        MoveWindow(control, to.left, to.top, to.right - to.left, to.bottom - to.top, TRUE);
    };
    // The list keeps equal side margins and ends kListBottomGap pixels above the bottom;
    // the two panes are the last 190 pixels but 10.
    place(IDC_LIST_FILES, [&](RECT r) { return RECT{r.left, r.top, width - r.left, height - kListBottomGap}; });
    for (int pane : {IDC_TEXT_PANE, IDC_HELP_PANE})
        place(pane, [&](RECT r) { return RECT{r.left, height - 190, width - r.left, height - 10}; });
}

LRESULT CALLBACK Win32MainView::ListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR, DWORD_PTR self) {
    auto* view = reinterpret_cast<Win32MainView*>(self);
    if (message == WM_MOUSEMOVE && view->events_) {
        if (!view->trackingLeave_) {
            TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, list, 0};
            view->trackingLeave_ = TrackMouseEvent(&track) != FALSE;
        }
        LVHITTESTINFO hit{};
        hit.pt = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        const int row = ListView_HitTest(list, &hit);
        view->events_->OnRowHover((hit.flags & LVHT_ONITEM) ? row : -1);
    } else if (message == WM_MOUSELEAVE && view->events_) {
        view->trackingLeave_ = false;
        view->events_->OnRowHover(-1);
    } else if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(list, ListProc, 1);
    }
    return DefSubclassProc(list, message, wParam, lParam);
}

void Win32MainView::ShowRowMenu(int row) {
    if (!events_) return;
    const RowMenu rowMenu = events_->OnRowRightClick(row);
    if (!rowMenu.open) return;
    HMENU menu = LoadMenuW(instance_, MAKEINTRESOURCEW(IDR_LIST_MENU));
    if (!menu) return;
    TranslateMenu(menu);
    EnableMenuItem(menu, ID_SHOW_REASON, MF_BYCOMMAND | (rowMenu.reasonEnabled ? MF_ENABLED : MF_GRAYED));
    POINT at;
    GetCursorPos(&at);
    const int command = TrackPopupMenu(GetSubMenu(menu, 0), TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x,
                                       at.y, 0, dialog_, nullptr);
    DestroyMenu(menu);
    if (command != 0) events_->OnControl(command);
}

int Win32MainView::RunMessageLoop() {
    if (events_) events_->StartUp();
    ShowWindow(dialog_, SW_SHOW);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (dialog_ && IsDialogMessageW(dialog_, &message)) continue;
        if (notice_ && IsWindow(notice_) && IsDialogMessageW(notice_, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

void Win32MainView::PumpUntil(HANDLE done) {
    while (MsgWaitForMultipleObjects(1, &done, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

void Win32MainView::OnUiThread(const std::function<void()>& fn) {
    if (GetCurrentThreadId() == uiThread_) {
        if (dialog_) fn();
        return;
    }
    if (closing_) return;
    // SendMessage runs it in the window procedure of the user-interface thread and
    // returns when it is done (boxes it opens block this thread until they are
    // closed); to a window that is gone it returns at once.
    SendMessageW(window_, kRunOnUiThread, 0, reinterpret_cast<LPARAM>(&fn));
}

void Win32MainView::ShowMessage(const std::string& text, MessageIcon icon) {
    OnUiThread([&] { RunMessageBox(dialog_, text, Tr(kBoxCaption), icon, BoxButtons::Ok); });
}

bool Win32MainView::AskYesNo(const std::string& text) {
    bool yes = false;
    OnUiThread([&] {
        // No by default, as in the wx window: a stray Enter starts no batch and clears nothing.
        yes = RunMessageBox(dialog_, text, Tr(kBoxCaption), MessageIcon::Question, BoxButtons::YesNo, true) == IDYES;
    });
    return yes;
}

void Win32MainView::ShowNotice(const std::string& text) {
    OnUiThread([&] {
        if (notice_ && IsWindow(notice_)) DestroyWindow(notice_);
        notice_ = CreateDialogParamW(instance_, MAKEINTRESOURCEW(IDD_NOTICE), dialog_, NoticeProc, 0);
        if (!notice_) return;
        TranslateDialog(notice_);
        SetDlgItemTextW(notice_, IDC_NOTICE_TEXT, WithCrLf(text).c_str());
        ShowWindow(notice_, SW_SHOW);
    });
}

void Win32MainView::CloseNotice() {
    OnUiThread([&] {
        if (notice_ && IsWindow(notice_)) DestroyWindow(notice_);
        notice_ = nullptr;
    });
}

void Win32MainView::ReplaceRows(std::vector<ListRow> rows) {
    OnUiThread([&] {
        const HWND list = Control(IDC_LIST_FILES);
        SendMessageW(list, WM_SETREDRAW, FALSE, 0);
        ListView_DeleteAllItems(list);
        ListView_SetItemCountEx(list, static_cast<int>(rows.size()), LVSICF_NOINVALIDATEALL);
        for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
            std::wstring text = Wide(rows[i].number);
            LVITEMW item{};
            item.mask = LVIF_TEXT;
            item.iItem = i;
            item.pszText = text.data();
            ListView_InsertItem(list, &item);
            for (int column = 1; column < kColumnCount; ++column) {
                std::wstring cell = Wide(Cell(rows[i], column));
                ListView_SetItemText(list, i, column, cell.data());
            }
        }
        rows_ = std::move(rows);
        SendMessageW(list, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(list, nullptr, TRUE);
    });
}

int Win32MainView::ItemCount() {
    int count = 0;
    OnUiThread([&] { count = ListView_GetItemCount(Control(IDC_LIST_FILES)); });
    return count;
}

bool Win32MainView::IsChecked(int row) {
    bool checked = false;
    OnUiThread([&] { checked = ListView_GetCheckState(Control(IDC_LIST_FILES), row) != 0; });
    return checked;
}

void Win32MainView::SetChecked(int row, bool checked) {
    OnUiThread([&] { ListView_SetCheckState(Control(IDC_LIST_FILES), row, checked ? TRUE : FALSE); });
}

std::string Win32MainView::ColumnText(int row, int column) {
    std::string text;
    OnUiThread([&] {
        if (row >= 0 && row < static_cast<int>(rows_.size()) && column >= 0 && column <= kReasonText)
            text = Cell(rows_[row], column);
    });
    return text;
}

std::vector<ListRow> Win32MainView::CheckedRows() {
    std::vector<ListRow> checked;
    OnUiThread([&] {
        const HWND list = Control(IDC_LIST_FILES);
        for (int i = 0; i < static_cast<int>(rows_.size()); ++i)
            if (ListView_GetCheckState(list, i)) checked.push_back(rows_[i]);
    });
    return checked;
}

void Win32MainView::SetProgressRange(int max) {
    OnUiThread([&] { SendMessageW(Control(IDC_PROGRESS), PBM_SETRANGE32, 0, max); });
}

void Win32MainView::SetProgressPos(int pos) {
    OnUiThread([&] { SendMessageW(Control(IDC_PROGRESS), PBM_SETPOS, pos, 0); });
}

void Win32MainView::SetPaneText(const std::string& text) {
    OnUiThread([&] { SetDlgItemTextW(dialog_, IDC_TEXT_PANE, WithCrLf(text).c_str()); });
}

void Win32MainView::ShowHelpPaneInsteadOfText() {
    OnUiThread([&] {
        ShowWindow(Control(IDC_TEXT_PANE), SW_HIDE);
        ShowWindow(Control(IDC_HELP_PANE), SW_SHOW);
    });
}

void Win32MainView::StreamIntoHelpPane(const std::string& rtf) {
    OnUiThread([&] {
        StreamSource source{rtf};
        EDITSTREAM stream{reinterpret_cast<DWORD_PTR>(&source), 0, &StreamSource::Read};
        SendMessageW(Control(IDC_HELP_PANE), EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&stream));
    });
}

void Win32MainView::NavigateHelp(const std::string& url) { StreamIntoHelpPane(HelpPaneRtf(url)); }

void Win32MainView::ShowHelpHtml(const std::string& html) { StreamIntoHelpPane(RtfOfHtml(html)); }

void Win32MainView::ShowSortArrow(int column, bool ascending) {
    OnUiThread([&] {
        const HWND header = ListView_GetHeader(Control(IDC_LIST_FILES));
        for (int i = 0; i < Header_GetItemCount(header); ++i) {
            HDITEMW item{};
            item.mask = HDI_FORMAT;
            if (!Header_GetItem(header, i, &item)) continue;
            item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
            if (i == column) item.fmt |= ascending ? HDF_SORTUP : HDF_SORTDOWN;
            Header_SetItem(header, i, &item);
        }
    });
}

void Win32MainView::SetRowTooltip(const std::string& text) {
    OnUiThread([&] {
        if (!tooltip_) return;
        // A shown tip goes at once: the next one comes up with its own text.
        SendMessageW(tooltip_, TTM_POP, 0, 0);
        std::wstring wide = WithCrLf(text);
        TOOLINFOW tool{};
        tool.cbSize = sizeof tool;
        tool.hwnd = dialog_;
        tool.uId = reinterpret_cast<UINT_PTR>(Control(IDC_LIST_FILES));
        tool.lpszText = wide.data();
        SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
        SendMessageW(tooltip_, TTM_ACTIVATE, text.empty() ? FALSE : TRUE, 0);
    });
}

bool Win32MainView::RunCompactConfirmDialog(const std::vector<std::string>& paths) {
    bool confirmed = false;
    OnUiThread([&] {
        ConfirmDialog confirm;
        std::string files;
        for (const std::string& path : paths) files += path + "\r\n";
        confirm.files = Wide(files);
        confirmed = DialogBoxParamW(instance_, MAKEINTRESOURCEW(IDD_COMPACT_CONFIRM), dialog_,
                                    ConfirmDialog::Proc, reinterpret_cast<LPARAM>(&confirm)) == IDOK;
    });
    return confirmed;
}

bool Win32MainView::RunScanConfigDialog() {
    bool confirmed = false;
    OnUiThread([&] { confirmed = scanDialog_ && scanDialog_(dialog_); });
    return confirmed;
}

}  // namespace mdb::desktop::win32
