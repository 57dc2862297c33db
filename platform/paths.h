#pragma once
// Where things are: the running executable and the platform's path conventions.

#include "platform/text_mark.h"

#include <optional>
#include <string>
#include <string_view>

namespace mdb::platform {

// Full path of the running executable; nothing when the system cannot say.
std::optional<std::string> ModuleFileName();

// What the file names of programs end in (".exe" on Windows), as a literal to append:
// "mdbscout" MDB_PROGRAM_SUFFIX.
#ifdef _WIN32
#define MDB_PROGRAM_SUFFIX ".exe"
#else
#define MDB_PROGRAM_SUFFIX ""
#endif

#ifdef _WIN32
// Directory separator of this platform.
inline constexpr char kSeparator = '\\';

// Prefix of the long path form of the wide file functions.
inline constexpr std::string_view kLongPathPrefix = "\\\\?\\";
// Whether file names compare without regard to case (the scanner lower-cases its list).
inline constexpr bool kPathsIgnoreCase = true;
// Whether paths start with a drive letter ("d:" alone names the drive, "d:\" its root).
inline constexpr bool kPathsHaveDrives = true;
#else
// Directory separator of this platform.
inline constexpr char kSeparator = '/';

// Prefix of the long path form (none on this platform; stripping it is a no-op).
inline constexpr std::string_view kLongPathPrefix = "";
// Whether file names compare without regard to case (the scanner lower-cases its list).
inline constexpr bool kPathsIgnoreCase = false;
// Whether paths start with a drive letter (the Windows build: "d:" alone names the drive).
inline constexpr bool kPathsHaveDrives = false;
#endif

// `path` without a leading long-path prefix.
inline std::string_view WithoutLongPathPrefix(std::string_view path) {
    if (!kLongPathPrefix.empty() && path.starts_with(kLongPathPrefix))
        path.remove_prefix(kLongPathPrefix.size());
    return path;
}

// True when two file names (or paths) name the same entry as far as letter case goes:
// where the file system ignores case (Windows: Toolhelp reports "W3WP.EXE" as well as
// "w3wp.exe") ASCII letters compare without regard to case; elsewhere exactly.
inline bool SamePathText(std::string_view a, std::string_view b) {
    if (!kPathsIgnoreCase) return a == b;
    const auto lower = [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

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
// Why no web server could be stopped, as the user is told it.
inline constexpr std::string_view kNoWebServerReason = MDB_TEXT("本机没有安装 IIS，或 IIS 未运行");

// The shell that opens addresses and shows files in their folders ("explorer.exe URL",
// "explorer.exe /select, PATH"): explorer.exe in the Windows directory, by its full path,
// so that a program of that name in the program or current directory is never started
// instead. Empty when the Windows directory cannot be read.
std::string ExplorerPath();
#else
// The platform's example site directory shown in messages.
inline constexpr std::string_view kExampleSiteDir = "/var/www";

// Root of the backup area.
inline constexpr std::string_view kBackupRoot = "/var/backups/qor_mdb_backup/";

// What the user is told is stopped during a batch (the Windows build says "IIS").
inline constexpr std::string_view kWebServerName = MDB_TEXT("Web 服务器");
// Why no web server could be stopped, as the user is told it.
inline constexpr std::string_view kNoWebServerReason =
    MDB_TEXT("本机没有 systemd，或已知的 Web 服务器都未运行");
#endif

}  // namespace mdb::platform
