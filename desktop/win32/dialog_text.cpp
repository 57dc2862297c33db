#include "desktop/win32/dialog_text.h"

#include "common/i18n.h"
#include "platform/win32/wide.h"

namespace mdb::desktop {
namespace {

using platform::win32::Utf8;
using platform::win32::Wide;

void TranslateWindowText(HWND window) {
    wchar_t text[1024];
    const int length = GetWindowTextW(window, text, 1024);
    if (length <= 0) return;
    const std::wstring translated = WideText(std::wstring_view(text, length));
    if (translated != std::wstring_view(text, length)) SetWindowTextW(window, translated.c_str());
}

}  // namespace

std::wstring WideText(std::wstring_view chinese) {
    return Wide(Tr(Utf8(chinese)));
}

void TranslateDialog(HWND dialog) {
    TranslateWindowText(dialog);
    EnumChildWindows(
        dialog,
        [](HWND child, LPARAM) -> BOOL {
            // An edit control's text is the user's, not ours.
            wchar_t kind[16];
            if (GetClassNameW(child, kind, 16) && lstrcmpiW(kind, L"Edit") == 0) return TRUE;
            TranslateWindowText(child);
            return TRUE;
        },
        0);
}

void TranslateMenu(HMENU menu) {
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        wchar_t text[256];
        MENUITEMINFOW item{};
        item.cbSize = sizeof item;
        item.fMask = MIIM_STRING | MIIM_SUBMENU;
        item.dwTypeData = text;
        item.cch = 256;
        if (!GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &item)) continue;
        if (item.hSubMenu) TranslateMenu(item.hSubMenu);
        if (item.cch == 0) continue;
        std::wstring translated = WideText(std::wstring_view(text, item.cch));
        MENUITEMINFOW change{};
        change.cbSize = sizeof change;
        change.fMask = MIIM_STRING;
        change.dwTypeData = translated.data();
        SetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &change);
    }
}

}  // namespace mdb::desktop
