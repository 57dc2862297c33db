// Drives the mdbwarden window from outside, for scripts/screenshot-windows:
//   window_control.exe click ID   clicks control ID of the first visible top-level
//                                 window that has one (the main window or a dialog);
//   window_control.exe close      closes the main window (the one with the file list).
//   window_control.exe header COL clicks the header of the list's column COL with the mouse;
//   window_control.exe point ROW  moves the mouse onto row ROW of the list (its tooltip).
// Waits up to half a minute for the window (a dialog opens late on a busy machine); exits
// with 1, saying so on stderr, when none showed.
#include "desktop/win32/resource_ids.h"

#include <windows.h>
#include <commctrl.h>

#include <cstdio>
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
    for (int attempt = 0; attempt < 150; ++attempt) {
        Search search{controlId};
        EnumWindows(FindHolder, reinterpret_cast<LPARAM>(&search));
        if (search.found) return search.found;
        Sleep(200);
    }
    std::fprintf(stderr, "window_control: no visible window has control %d\n", controlId);
    return nullptr;
}

// A rectangle the window `window` (of another process) fills in through `message`, with
// `first` as the rectangle's first field before the call; in screen coordinates.
bool RemoteRect(HWND window, UINT message, WPARAM wParam, LONG first, RECT& rect) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    const HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (!process) return false;
    void* remote = VirtualAllocEx(process, nullptr, sizeof rect, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    rect = RECT{first, 0, 0, 0};
    bool done = remote && WriteProcessMemory(process, remote, &rect, sizeof rect, nullptr) &&
                SendMessageW(window, message, wParam, reinterpret_cast<LPARAM>(remote)) &&
                ReadProcessMemory(process, remote, &rect, sizeof rect, nullptr);
    if (remote) VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
    if (done) MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&rect), 2);
    return done;
}

// Moves the mouse to (x, y) on the screen as a user does, and clicks there when `click`.
void Mouse(int x, int y, bool click) {
    INPUT input[3]{};
    for (INPUT& one : input) {
        one.type = INPUT_MOUSE;
        one.mi.dx = MulDiv(x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
        one.mi.dy = MulDiv(y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
        one.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    }
    input[1].mi.dwFlags |= MOUSEEVENTF_LEFTDOWN;
    input[2].mi.dwFlags |= MOUSEEVENTF_LEFTUP;
    SendInput(click ? 3 : 1, input, sizeof(INPUT));
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
    if (argc == 3 && (std::strcmp(argv[1], "header") == 0 || std::strcmp(argv[1], "point") == 0)) {
        const HWND main = WindowWith(IDC_LIST_FILES);
        if (!main) return 1;
        const HWND list = GetDlgItem(main, IDC_LIST_FILES);
        const bool header = argv[1][0] == 'h';
        RECT rect;
        if (header ? !RemoteRect(reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0)),
                                 HDM_GETITEMRECT, std::atoi(argv[2]), 0, rect)
                   : !RemoteRect(list, LVM_GETITEMRECT, std::atoi(argv[2]), LVIR_LABEL, rect)) {
            std::fprintf(stderr, "window_control: no %s %s in the list\n", argv[1], argv[2]);
            return 1;
        }
        // A row is pointed at on its file name, a header clicked in its middle; the pointer
        // comes from beside the spot so that the control sees it arrive.
        const int x = header ? (rect.left + rect.right) / 2 : rect.left + 40;
        const int y = (rect.top + rect.bottom) / 2;
        Mouse(x - 20, y, false);
        Sleep(200);
        Mouse(x, y, header);
        return 0;
    }
    return 2;
}
