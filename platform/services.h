#pragma once
// The operating system's own programs and services (Windows: the web server IIS is the
// service W3SVC, and iisreset.exe in the system directory stops and starts it).

#include <optional>
#include <string>

namespace mdb::platform {

// Full path of the system program `fileName` (for example "iisreset.exe" in the Windows
// system directory); nothing when it is not installed.
std::optional<std::string> SystemProgramPath(const std::string& fileName);

enum class ServiceState { Running, NotRunning, Unknown };
// Whether the system service `name` runs (Unknown: no such service, or it cannot be asked).
ServiceState QueryService(const std::string& name);

}  // namespace mdb::platform
