#include "platform/paths.h"

#include <windows.h>

#include "platform/win32/wide.h"

namespace mdb::platform {

std::optional<std::string> ModuleFileName() {
    // Long-path aware systems give paths beyond MAX_PATH: grow to the longest wide path.
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return std::nullopt;
        if (n < buf.size()) return win32::Utf8(std::wstring_view(buf.data(), n));
        if (buf.size() >= 32768) return std::nullopt;
        buf.resize(buf.size() * 2);
    }
}

bool IsRootedPath(std::string_view path) {
    const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    return path.size() >= 3 && letter(path[0]) && path[1] == ':' && path[2] == '\\';
}

std::string ExplorerPath() {
    wchar_t dir[MAX_PATH];
    const UINT n = GetWindowsDirectoryW(dir, MAX_PATH);
    // The Windows directory is no long path: a longer answer is no answer.
    if (n == 0 || n >= MAX_PATH) return {};
    std::wstring path(dir, n);
    if (path.back() != L'\\') path += L'\\';
    return win32::Utf8(path + L"explorer.exe");
}

}  // namespace mdb::platform
