#include "platform/profile.h"

#include <windows.h>

#include "platform/win32/wide.h"

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
    return GetPrivateProfileIntW(win32::Wide(section).c_str(), win32::Wide(key).c_str(),
                                 defaultValue, win32::Wide(path).c_str());
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
