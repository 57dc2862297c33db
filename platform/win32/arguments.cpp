#include "platform/arguments.h"

#include <windows.h>
#include <shellapi.h>

#include <climits>

#include "platform/win32/wide.h"

namespace mdb::platform {

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc)
                               : std::vector<std::string>{};
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i) args.push_back(win32::Utf8(wide[i]));
    LocalFree(wide);
    return args;
}

std::string Utf8FromSystemCodePage(std::string_view bytes) {
    // MultiByteToWideChar counts in int: a longer text is not converted.
    if (bytes.empty() || bytes.size() > INT_MAX) return {};
    const int size = static_cast<int>(bytes.size());
    const int n = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, bytes.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, bytes.data(), size, wide.data(), n);
    return win32::Utf8(wide);
}

std::string SystemCodePageFromUtf8(std::string_view utf8) {
    return win32::ToCodePage(utf8, CP_ACP);
}

}  // namespace mdb::platform
