#include "platform/language.h"

#include <windows.h>

#include "platform/win32/wide.h"

namespace mdb::platform {

std::string UserLanguage() {
    wchar_t forced[64];
    const DWORD n = GetEnvironmentVariableW(L"MDBWARDEN_LANG", forced, 64);
    if (n > 0 && n < 64) return win32::Utf8(std::wstring_view(forced, n));
    // "zh-CN" -> "zh_CN", as the catalogs are named.
    wchar_t name[LOCALE_NAME_MAX_LENGTH];
    if (LCIDToLocaleName(MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT), name,
                         LOCALE_NAME_MAX_LENGTH, 0) == 0)
        return {};
    std::string language = win32::Utf8(name);
    for (char& c : language)
        if (c == '-') c = '_';
    return language;
}

}  // namespace mdb::platform
