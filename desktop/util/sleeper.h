#pragma once
// The pause used between retries, replaceable so that callers (and tests) decide how to wait.

#include <chrono>
#include <functional>

namespace mdb::desktop {

using Sleeper = std::function<void(std::chrono::milliseconds)>;

// Sleeps the calling thread for real.
void RealSleep(std::chrono::milliseconds duration);

// A Sleeper that calls RealSleep.
inline Sleeper RealSleeper() {
    return RealSleep;
}

}  // namespace mdb::desktop
