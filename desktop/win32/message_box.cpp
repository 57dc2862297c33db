#include "desktop/win32/message_box.h"

#include "desktop/box_text.h"
#include "desktop/win32/dialog_text.h"
#include "desktop/win32/resource_ids.h"
#include "platform/win32/wide.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace mdb::desktop::win32 {
namespace {

using platform::win32::Wide;

// The widest line: as many average characters as a system box shows, and never more than
// half the screen.
constexpr int kMaxLineChars = 60;

struct Box {
    std::wstring text;  // CR LF line breaks
    std::string utf8;
    std::wstring caption;
    MessageIcon icon;
    BoxButtons buttons;
    bool noByDefault;
    std::vector<std::wstring> lines;  // as drawn
    int lineHeight = 0;
};

// The box whose Ctrl+C is being watched (one modal box at a time on the window's thread).
HWND gCopyBox = nullptr;
const Box* gCopyText = nullptr;

void CopyToClipboard(HWND owner, const std::wstring& text) {
    if (!OpenClipboard(owner)) return;
    EmptyClipboard();
    const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes)) {
        std::memcpy(GlobalLock(memory), text.c_str(), bytes);
        GlobalUnlock(memory);
        if (!SetClipboardData(CF_UNICODETEXT, memory)) GlobalFree(memory);
    }
    CloseClipboard();
}

// Ctrl+C reaches the focused button, not the box: it is taken from the dialog's message
// loop here.
LRESULT CALLBACK CopyFilter(int code, WPARAM wParam, LPARAM lParam) {
    const auto* message = reinterpret_cast<const MSG*>(lParam);
    if (code == MSGF_DIALOGBOX && gCopyBox && message->message == WM_KEYDOWN && message->wParam == 'C' &&
        GetKeyState(VK_CONTROL) < 0 && (message->hwnd == gCopyBox || IsChild(gCopyBox, message->hwnd))) {
        CopyToClipboard(gCopyBox, gCopyText->text);
        return 1;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LPCWSTR SystemIcon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Question: return IDI_QUESTION;
        case MessageIcon::Error: return IDI_ERROR;
        case MessageIcon::Information: break;
    }
    return IDI_INFORMATION;
}

// The width the title bar needs for the caption, its icon and its buttons: a box as
// narrow as a short question ("Clear all records?") had its caption cut.
int CaptionWidth(HWND box, const std::wstring& caption) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) return 0;
    const HFONT font = CreateFontIndirectW(&metrics.lfCaptionFont);
    const HDC dc = GetDC(box);
    const HGDIOBJ old = SelectObject(dc, font);
    SIZE size{};
    GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(box, dc);
    DeleteObject(font);
    // The system's icon and three buttons, and the gaps around the text. The text is
    // counted half again: under Wine the desktop's window manager draws the title bar,
    // in a bolder and larger font than the system's caption font.
    return static_cast<int>(size.cx) * 3 / 2 + GetSystemMetrics(SM_CXSMICON) + 3 * GetSystemMetrics(SM_CXSIZE) +
           4 * GetSystemMetrics(SM_CXEDGE) + 16;
}

POINT DialogUnits(HWND box, int x, int y) {
    RECT r{0, 0, x, y};
    MapDialogRect(box, &r);
    return {r.right, r.bottom};
}

// Breaks the text into lines and sizes and places the controls and the box.
void LayOut(HWND box, Box& content) {
    const HWND text = GetDlgItem(box, IDC_BOX_TEXT);
    const HDC dc = GetDC(text);
    const HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(box, WM_GETFONT, 0, 0)));
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    const auto width = [&](std::wstring_view piece) {
        SIZE size{};
        GetTextExtentPoint32W(dc, piece.data(), static_cast<int>(piece.size()), &size);
        return static_cast<int>(size.cx);
    };
    const int maxWidth = std::min(static_cast<int>(metrics.tmAveCharWidth) * kMaxLineChars,
                                  GetSystemMetrics(SM_CXSCREEN) / 2);
    int textWidth = 0;
    for (const std::string& line :
         WrapBoxText(content.utf8, maxWidth, [&](std::string_view piece) { return width(Wide(std::string(piece))); })) {
        content.lines.push_back(Wide(line));
        textWidth = std::max(textWidth, width(content.lines.back()));
    }
    SelectObject(dc, oldFont);
    ReleaseDC(text, dc);
    content.lineHeight = metrics.tmHeight;

    const POINT margin = DialogUnits(box, 10, 10);
    const POINT gap = DialogUnits(box, 8, 10);
    const POINT button = DialogUnits(box, 56, 14);
    const int iconSize = GetSystemMetrics(SM_CXICON);
    const int textHeight = content.lineHeight * static_cast<int>(content.lines.size());
    const int bodyHeight = std::max(iconSize, textHeight);
    const int buttonCount = content.buttons == BoxButtons::YesNo ? 2 : 1;
    const int buttonsWidth = buttonCount * button.x + (buttonCount - 1) * gap.x;
    const int clientWidth = std::max({static_cast<int>(margin.x + iconSize + gap.x + textWidth + margin.x),
                                      static_cast<int>(2 * margin.x + buttonsWidth), CaptionWidth(box, content.caption)});
    const int clientHeight = margin.y + bodyHeight + gap.y + button.y + margin.y;

    MoveWindow(GetDlgItem(box, IDC_BOX_ICON), margin.x, margin.y, iconSize, iconSize, FALSE);
    MoveWindow(text, margin.x + iconSize + gap.x, margin.y + (bodyHeight - textHeight) / 2, textWidth,
               textHeight, FALSE);
    int x = (clientWidth - buttonsWidth) / 2;
    const int y = margin.y + bodyHeight + gap.y;
    for (const int id : {IDYES, IDNO, IDOK}) {
        const bool used = (id == IDOK) == (content.buttons == BoxButtons::Ok);
        const HWND control = GetDlgItem(box, id);
        // Gone rather than hidden: a box has the buttons it shows, for whoever looks.
        if (!used) {
            DestroyWindow(control);
            continue;
        }
        MoveWindow(control, x, y, button.x, button.y, FALSE);
        x += button.x + gap.x;
    }

    RECT frame{0, 0, clientWidth, clientHeight};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(box, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(box, GWL_EXSTYLE)));
    const int boxWidth = frame.right - frame.left, boxHeight = frame.bottom - frame.top;
    RECT over{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (const HWND owner = GetWindow(box, GW_OWNER); owner && IsWindowVisible(owner)) GetWindowRect(owner, &over);
    SetWindowPos(box, nullptr, over.left + (over.right - over.left - boxWidth) / 2,
                 over.top + (over.bottom - over.top - boxHeight) / 2, boxWidth, boxHeight, SWP_NOZORDER);
}

// The text control is a plain static text, so that screen readers take it for one and
// read its text as given; it paints the lines as laid out, not its text as the system
// would break it.
LRESULT CALLBACK PaintLines(HWND text, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data) {
    if (message != WM_PAINT) return DefSubclassProc(text, message, wParam, lParam);
    const auto* content = reinterpret_cast<const Box*>(data);
    PAINTSTRUCT paint;
    const HDC dc = BeginPaint(text, &paint);
    RECT area;
    GetClientRect(text, &area);
    const HWND box = GetParent(text);
    auto brush = reinterpret_cast<HBRUSH>(SendMessageW(box, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                                       reinterpret_cast<LPARAM>(text)));
    FillRect(dc, &area, brush ? brush : GetSysColorBrush(COLOR_BTNFACE));
    SetBkMode(dc, TRANSPARENT);
    const HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(text, WM_GETFONT, 0, 0)));
    int y = 0;
    for (const std::wstring& line : content->lines) {
        TextOutW(dc, 0, y, line.c_str(), static_cast<int>(line.size()));
        y += content->lineHeight;
    }
    SelectObject(dc, oldFont);
    EndPaint(text, &paint);
    return 0;
}

INT_PTR CALLBACK BoxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* content = reinterpret_cast<Box*>(GetWindowLongPtrW(box, DWLP_USER));
    switch (message) {
        case WM_INITDIALOG: {
            content = reinterpret_cast<Box*>(lParam);
            SetWindowLongPtrW(box, DWLP_USER, lParam);
            gCopyBox = box;
            TranslateDialog(box);
            SetWindowTextW(box, content->caption.c_str());
            SetDlgItemTextW(box, IDC_BOX_TEXT, content->text.c_str());
            SendDlgItemMessageW(box, IDC_BOX_ICON, STM_SETICON,
                                reinterpret_cast<WPARAM>(LoadIconW(nullptr, SystemIcon(content->icon))), 0);
            LayOut(box, *content);
            SetWindowSubclass(GetDlgItem(box, IDC_BOX_TEXT), PaintLines, 0, reinterpret_cast<DWORD_PTR>(content));
            const int first = content->buttons == BoxButtons::Ok ? IDOK : content->noByDefault ? IDNO : IDYES;
            SendMessageW(box, DM_SETDEFID, static_cast<WPARAM>(first), 0);
            SetFocus(GetDlgItem(box, first));
            return FALSE;
        }
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDOK:
                case IDYES:
                case IDNO:
                    EndDialog(box, LOWORD(wParam));
                    return TRUE;
                case IDCANCEL:  // Esc or the close box: the answer that changes nothing
                    EndDialog(box, content && content->buttons == BoxButtons::YesNo ? IDNO : IDOK);
                    return TRUE;
            }
            return FALSE;
    }
    return FALSE;
}

UINT SoundOf(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Question: return MB_ICONQUESTION;
        case MessageIcon::Error: return MB_ICONERROR;
        case MessageIcon::Information: break;
    }
    return MB_ICONINFORMATION;
}

}  // namespace

int RunMessageBox(HWND owner, const std::string& text, const std::string& caption, MessageIcon icon,
                  BoxButtons buttons, bool noByDefault) {
    Box content{{}, text, Wide(caption), icon, buttons, noByDefault, {}, 0};
    for (const wchar_t c : Wide(text)) {
        if (c == L'\n' && (content.text.empty() || content.text.back() != L'\r')) content.text += L'\r';
        content.text += c;
    }
    MessageBeep(SoundOf(icon));
    const HHOOK filter = SetWindowsHookExW(WH_MSGFILTER, CopyFilter, nullptr, GetCurrentThreadId());
    const HWND outerBox = gCopyBox;
    const Box* outerText = gCopyText;
    gCopyText = &content;
    const INT_PTR answer = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_MESSAGE_BOX), owner,
                                           BoxProc, reinterpret_cast<LPARAM>(&content));
    gCopyBox = outerBox;
    gCopyText = outerText;
    if (filter) UnhookWindowsHookEx(filter);
    if (answer == IDYES || answer == IDNO || answer == IDOK) return static_cast<int>(answer);
    return buttons == BoxButtons::YesNo ? IDNO : IDOK;
}

}  // namespace mdb::desktop::win32
