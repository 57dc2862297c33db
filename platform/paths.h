#pragma once
// Where things are: the running executable and the platform's path conventions.

#include <optional>
#include <string>
#include <string_view>

namespace mdb::platform {

// Full path of the running executable; nothing when the system cannot say.
std::optional<std::string> ModuleFileName();

#ifdef _WIN32
// Directory separator of this platform.
inline constexpr char kSeparator = '\\';

// Prefix of the long path form of the wide file functions.
inline constexpr std::string_view kLongPathPrefix = "\\\\?\\";
#else
// Directory separator of this platform.
inline constexpr char kSeparator = '/';

// Prefix of the long path form (none on this platform; stripping it is a no-op).
inline constexpr std::string_view kLongPathPrefix = "";
#endif

// True when `path` is absolute in this platform's sense (the Windows build asks for a drive
// letter, a colon and a backslash).
bool IsRootedPath(std::string_view path);

#ifdef _WIN32
// The platform's example site directory shown in messages.
inline constexpr std::string_view kExampleSiteDir = "d:\\home";

// Root of the backup area.
inline constexpr std::string_view kBackupRoot = "d:\\qor_mdb_backup\\";

// What the user is told is stopped during a batch.
inline constexpr std::string_view kWebServerName = "IIS";
#else
// The platform's example site directory shown in messages.
inline constexpr std::string_view kExampleSiteDir = "/var/www";

// Root of the backup area.
inline constexpr std::string_view kBackupRoot = "/var/backups/qor_mdb_backup/";

// What the user is told is stopped during a batch (the Windows build says "IIS").
inline constexpr std::string_view kWebServerName = "Web 服务器";
#endif

}  // namespace mdb::platform
