#include "platform/win32/wide.h"

#include <windows.h>

#include <climits>

namespace mdb::platform::win32 {

// The conversion functions count in int: texts beyond INT_MAX units are not converted.
std::wstring Wide(std::string_view text) {
    if (text.empty() || text.size() > INT_MAX) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::wstring WidePath(std::string_view path) {
    std::wstring wide = Wide(path);
    if (wide.size() >= MAX_PATH && wide[1] == L':' && wide[2] == L'\\')
        wide.insert(0, L"\\\\?\\");
    return wide;
}

static std::string FromWide(std::wstring_view text, unsigned codePage) {
    if (text.empty() || text.size() > INT_MAX) return {};
    const int n = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

std::string Utf8(std::wstring_view text) {
    return FromWide(text, CP_UTF8);
}

std::string ToCodePage(std::string_view utf8, unsigned codePage) {
    return FromWide(Wide(utf8), codePage);
}

}  // namespace mdb::platform::win32
