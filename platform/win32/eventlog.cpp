#include "platform/eventlog.h"

#include <windows.h>

#include "platform/win32/wide.h"

namespace mdb::platform {

void ReportErrorEvent(const std::string& source, unsigned eventId,
                      const std::vector<std::string>& strings) {
    HANDLE log = RegisterEventSourceW(nullptr, win32::Wide(source).c_str());
    if (!log) return;
    std::vector<std::wstring> wide;
    for (const std::string& s : strings) wide.push_back(win32::Wide(s));
    std::vector<LPCWSTR> pointers;
    for (const std::wstring& w : wide) pointers.push_back(w.c_str());
    ReportEventW(log, EVENTLOG_ERROR_TYPE, 0, eventId, nullptr,
                 static_cast<WORD>(pointers.size()), 0, pointers.empty() ? nullptr : pointers.data(),
                 nullptr);
    DeregisterEventSource(log);
}

}  // namespace mdb::platform
