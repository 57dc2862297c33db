#include "platform/clock.h"

#include <windows.h>

namespace mdb::platform {

std::uint32_t TickCount() {
    return static_cast<std::uint32_t>(GetTickCount64());
}

void SleepMilliseconds(unsigned ms) {
    Sleep(ms);
}

std::string FormatLocalTime(const char* format, std::time_t when) {
    std::tm tm{};
    if (localtime_s(&tm, &when) != 0) return {};
    char buf[128];
    const size_t n = strftime(buf, sizeof buf, format, &tm);
    return std::string(buf, n);
}

std::string FormatLocalNow(const char* format) {
    return FormatLocalTime(format, std::time(nullptr));
}

}  // namespace mdb::platform
