// Drives the mdbwarden window from outside, for scripts/screenshot-windows:
//   window_control.exe click ID   clicks control ID of the first visible top-level
//                                 window that has one (the main window or a dialog);
//   window_control.exe close      closes the main window (the one with the file list).
// Exits with 1 when no such window was found.
#include "desktop/win32/resource_ids.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {

struct Search {
    int controlId;
    HWND found = nullptr;
};

BOOL CALLBACK FindHolder(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    if (IsWindowVisible(window) && GetDlgItem(window, search->controlId)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND WindowWith(int controlId) {
    Search search{controlId};
    EnumWindows(FindHolder, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "click") == 0) {
        const int id = std::atoi(argv[2]);
        const HWND window = WindowWith(id);
        if (!window) return 1;
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "close") == 0) {
        const HWND main = WindowWith(IDC_LIST_FILES);
        if (!main) return 1;
        PostMessageW(main, WM_CLOSE, 0, 0);
        return 0;
    }
    return 2;
}
