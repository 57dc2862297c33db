#pragma once
// Time services: tick count, sleeping and local-time formatting.

#include <cstdint>
#include <ctime>
#include <string>

namespace mdb::platform {

// Milliseconds of a monotonic clock, truncated to 32 bits (wraps like a tick count).
std::uint32_t TickCount();

void SleepMilliseconds(unsigned ms);

// Local time of `when` formatted with strftime `format`; empty when it cannot be formatted.
std::string FormatLocalTime(const char* format, std::time_t when);

// FormatLocalTime for the current moment.
std::string FormatLocalNow(const char* format);

}  // namespace mdb::platform
