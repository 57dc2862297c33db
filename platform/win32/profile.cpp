#include "platform/profile.h"

#include <windows.h>

#include "platform/win32/wide.h"

// <windows.h> names its own (older, win.ini) functions GetProfileInt and WriteProfileString
// by macros; ours are meant here.
#undef GetProfileInt
#undef WriteProfileString
#undef GetProfileString

namespace mdb::platform {

// The system's private-profile functions serialise each call themselves.
namespace {
thread_local ProfileError lastError = ProfileError::None;
}  // namespace

ProfileError LastProfileError() {
    return lastError;
}

unsigned GetProfileInt(const std::string& section, const std::string& key, int defaultValue,
                       const std::string& path) {
    lastError = ProfileError::None;
    const UINT value = GetPrivateProfileIntW(win32::Wide(section).c_str(),
                                             win32::Wide(key).c_str(), defaultValue,
                                             win32::Wide(path).c_str());
    // A negative value reads as 0, as documented; not every implementation does so itself
    // (Wine hands back the negative number).
    return static_cast<int>(value) < 0 ? 0u : value;
}

std::string GetProfileString(const std::string& section, const std::string& key,
                             const std::string& defaultValue, const std::string& path) {
    lastError = ProfileError::None;
    // A setting is a line of the file: 4,096 characters are more than any holds.
    std::wstring buffer(4096, L'\0');
    const DWORD n = GetPrivateProfileStringW(win32::Wide(section).c_str(),
                                             win32::Wide(key).c_str(), L"", buffer.data(),
                                             static_cast<DWORD>(buffer.size()),
                                             win32::Wide(path).c_str());
    buffer.resize(n);
    std::string value = win32::Utf8(buffer);
    const auto first = value.find_first_not_of(" \t");
    if (first == std::string::npos) return defaultValue;
    value.erase(0, first);
    value.erase(value.find_last_not_of(" \t") + 1);
    return value;
}

bool WriteProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& path) {
    lastError = ProfileError::None;
    if (WritePrivateProfileStringW(win32::Wide(section).c_str(), win32::Wide(key).c_str(),
                                   win32::Wide(value).c_str(), win32::Wide(path).c_str()))
        return true;
    lastError = ProfileError::WriteFailed;
    return false;
}

}  // namespace mdb::platform
