// Stands in for a web server's process that has a site's database open: opens the file
// named by its first argument and holds it until it is ended (two minutes at most, so a
// test that fails half-way leaves nothing running). "none" as the second argument lets
// no other process open the file at all; "read" is a writer that lets others read. A third
// argument names a file created once the database is held, for the caller to wait on.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>

int main() {
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!args || (count != 3 && count != 4)) return 2;
    const bool readersWelcome = std::wcscmp(args[2], L"read") == 0;
    // Someone else may have the file open for an instant (a virus scanner, a test looking
    // at it): a refusal for sharing is tried again for up to a minute, as Wine on a busy
    // machine can take seconds to let go of a handle.
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 600; ++attempt) {
        file = CreateFileW(args[1], GENERIC_READ | GENERIC_WRITE, readersWelcome ? FILE_SHARE_READ : 0,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION) break;
        Sleep(100);
    }
    if (file == INVALID_HANDLE_VALUE) return 1;
    if (count == 4) {
        const HANDLE ready = CreateFileW(args[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (ready == INVALID_HANDLE_VALUE) return 1;
        CloseHandle(ready);
    }
    Sleep(120 * 1000);
    CloseHandle(file);
    return 0;
}
