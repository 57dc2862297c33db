// Stands in for explorer.exe where the tests hand files and addresses to the shell:
// appends its whole command line, as the shell would parse it, in UTF-8 and one line per
// call to explorer-calls.txt in its current directory.
#include <windows.h>

#include <cstdio>
#include <string>

int main() {
    const wchar_t* line = GetCommandLineW();
    const int size = WideCharToMultiByte(CP_UTF8, 0, line, -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line, -1, utf8.data(), size, nullptr, nullptr);
    utf8.resize(utf8.size() - 1);
    FILE* log = _wfopen(L"explorer-calls.txt", L"ab");
    if (!log) return 1;
    std::fprintf(log, "%s\n", utf8.c_str());
    std::fclose(log);
    return 0;
}
