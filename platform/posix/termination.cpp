#include "platform/termination.h"

#include <signal.h>

namespace mdb::platform {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
volatile sig_atomic_t g_requested = 0;
struct sigaction g_previous[3];

void Record(int signal) {
    g_requested = signal;
}

}  // namespace

TerminationGuard::TerminationGuard() {
    g_requested = 0;
    struct sigaction action {};
    action.sa_handler = Record;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &action, &g_previous[i]);
}

TerminationGuard::~TerminationGuard() {
    Release();
}

bool TerminationGuard::Requested() {
    return g_requested != 0;
}

void TerminationGuard::Release() {
    if (!active_) return;
    active_ = false;
    for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &g_previous[i], nullptr);
    const int signal = g_requested;
    g_requested = 0;
    if (signal != 0) raise(signal);
}

bool TerminationGuard::Withdraw() {
    if (!active_) return false;
    active_ = false;
    for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &g_previous[i], nullptr);
    const bool requested = g_requested != 0;
    g_requested = 0;
    return requested;
}

}  // namespace mdb::platform
