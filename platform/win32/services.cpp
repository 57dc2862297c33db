#include "platform/services.h"

#include <windows.h>

#include "platform/win32/wide.h"

namespace mdb::platform {

std::optional<std::string> SystemProgramPath(const std::string& fileName) {
    wchar_t dir[MAX_PATH];
    const UINT n = GetSystemDirectoryW(dir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return std::nullopt;
    const std::wstring path = std::wstring(dir, n) + L"\\" + win32::Wide(fileName);
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return std::nullopt;
    return win32::Utf8(path);
}

ServiceState QueryService(const std::string& name) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) return ServiceState::Unknown;
    ServiceState state = ServiceState::Unknown;
    if (SC_HANDLE service =
            OpenServiceW(manager, win32::Wide(name).c_str(), SERVICE_QUERY_STATUS)) {
        SERVICE_STATUS status{};
        if (QueryServiceStatus(service, &status))
            state = status.dwCurrentState == SERVICE_RUNNING ? ServiceState::Running
                                                             : ServiceState::NotRunning;
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return state;
}

}  // namespace mdb::platform
