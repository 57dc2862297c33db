#pragma once
// Database file paths in the long form: UTF-16, the platform's long-path prefix followed by
// a rooted path (here simply an absolute path starting with '/'), up to 32767 units.

#include "desktop/util/sleeper.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace mdb::desktop {

// Accepted lengths (UTF-16 units) of a long path.
inline constexpr std::size_t kMinLongPath = 2;
inline constexpr std::size_t kMaxLongPath = 32767;

// Limits of EnsureLongPathParentDirs: the whole path, the number of levels (the root counts
// as the first level, as the drive does elsewhere) and the length of one level's name.
inline constexpr std::size_t kMinParentDirsPath = 3;
inline constexpr std::size_t kMaxParentDirsPath = 65536;
inline constexpr std::size_t kMaxPathComponents = 887;
inline constexpr std::size_t kMaxComponentLength = 259;

// Pause after each created directory level.
inline constexpr std::chrono::milliseconds kCreateLevelPause{10};

// Results of ProbeLongPath (GetLongPathFileSize uses the first three).
enum ProbeResult : int {
    kProbeFailed = 0,      // not a long path, or an error other than "not found"
    kProbeFile = 1,        // an existing regular file
    kProbeDirectory = 2,   // an existing directory
    kProbeNotFound = 3,    // the last level is missing in an existing directory
    kProbePathMissing = 4  // a level on the way is missing or is not a directory
};

// Removes every occurrence of `needle` from `text`; the number removed (0 for an empty needle).
int RemoveAllOccurrences(std::u16string& text, std::u16string_view needle);

// Removes every long-path prefix from `path`; how many were removed.
int StripLongPathPrefix(std::u16string& path);

// True when `path` has the long form and an accepted length; `native` receives the same
// text in this system's narrow encoding (UTF-8), prefix included. False (and `native`
// emptied) for another form, a zero unit inside, or an unpaired surrogate.
bool LongPathToNative(std::u16string_view path, std::string& native);

// What `path` names: one of ProbeResult. Special files (pipes, sockets, devices) give 0.
int ProbeLongPath(std::u16string_view path);

// 1 file (size set), 2 directory (size 0), 0 failure (size 0).
int GetLongPathFileSize(std::u16string_view path, std::uint64_t& size);

// Makes the file or directory writable by its owner (every other mode bit kept).
// 1 done or nothing to do; 0 failure.
int ClearLongPathAttributes(std::u16string_view path);

// Creates every missing directory above the file `path` names, pausing kCreateLevelPause
// after each created level. 1 when every level exists; 0 on failure, for a path outside the
// limits above, and for a file directly in the root (no level to handle).
int EnsureLongPathParentDirs(std::u16string_view path, const Sleeper& sleep = RealSleeper());

}  // namespace mdb::desktop
