#include "platform/clock.h"

#include <time.h>

namespace mdb::platform {

std::uint32_t TickCount() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const std::uint64_t ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                             static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

void SleepMilliseconds(unsigned ms) {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0) {
    }
}

std::string FormatLocalTime(const char* format, std::time_t when) {
    std::tm tm{};
    if (localtime_r(&when, &tm) == nullptr) return {};
    char buf[128];
    const size_t n = strftime(buf, sizeof buf, format, &tm);
    return std::string(buf, n);
}

std::string FormatLocalNow(const char* format) {
    return FormatLocalTime(format, std::time(nullptr));
}

}  // namespace mdb::platform
