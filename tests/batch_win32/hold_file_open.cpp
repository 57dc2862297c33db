// Stands in for a web server's process that has a site's database open: opens the file
// named by its first argument and holds it until it is ended (two minutes at most, so a
// test that fails half-way leaves nothing running). "none" as the second argument lets
// no other process open the file at all; "read" is a writer that lets others read.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>

int main() {
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!args || count != 3) return 2;
    const bool readersWelcome = std::wcscmp(args[2], L"read") == 0;
    const HANDLE file = CreateFileW(args[1], GENERIC_READ | GENERIC_WRITE,
                                    readersWelcome ? FILE_SHARE_READ : 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    Sleep(120 * 1000);
    CloseHandle(file);
    return 0;
}
