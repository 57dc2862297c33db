#include "platform/termination.h"

#include <windows.h>

#include <atomic>

namespace mdb::platform {

namespace {

// The console's requests to end: Ctrl+C, Ctrl+Break, the console window closed, the user
// logging off, the system shutting down. The handler runs on a thread of its own.
std::atomic<bool> g_requested{false};
// Set while a guard is active; a close, log-off or shutdown request waits on it, because
// the system ends the process as soon as the handler returns from such a request.
HANDLE g_released = nullptr;

// A close request ends the process when the handler returns, however it answers; the
// system allows the handler this long (it ends the process itself after about 5 s).
constexpr DWORD kCloseWaitMs = 4500;

BOOL WINAPI Record(DWORD request) {
    g_requested = true;
    if (request == CTRL_CLOSE_EVENT || request == CTRL_LOGOFF_EVENT ||
        request == CTRL_SHUTDOWN_EVENT) {
        // Let the guarded work finish (Release ends the process then), or run out of time.
        if (g_released != nullptr) WaitForSingleObject(g_released, kCloseWaitMs);
    }
    return TRUE;
}

void Uninstall() {
    SetConsoleCtrlHandler(Record, FALSE);
    if (g_released != nullptr) SetEvent(g_released);
}

}  // namespace

TerminationGuard::TerminationGuard() {
    g_requested = false;
    if (g_released == nullptr) g_released = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (g_released != nullptr) ResetEvent(g_released);
    SetConsoleCtrlHandler(Record, TRUE);
}

TerminationGuard::~TerminationGuard() {
    Release();
}

bool TerminationGuard::Requested() {
    return g_requested;
}

void TerminationGuard::Release() {
    if (!active_) return;
    active_ = false;
    Uninstall();
    const bool requested = g_requested.exchange(false);
    // Ended as the console's default handling ends a program on a request.
    if (requested) ExitProcess(STATUS_CONTROL_C_EXIT);
}

bool TerminationGuard::Withdraw() {
    if (!active_) return false;
    active_ = false;
    Uninstall();
    return g_requested.exchange(false);
}

}  // namespace mdb::platform
