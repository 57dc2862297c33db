#pragma once
// Listing the files that match a search pattern.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mdb::desktop {

// Accepted pattern lengths in bytes.
inline constexpr std::size_t kMinListPattern = 3;
inline constexpr std::size_t kMaxListPattern = 260;
// Sizes of the files that are listed: more than kListMinExclusive bytes, at most kListMax.
inline constexpr std::uint64_t kListMinExclusive = 9;
inline constexpr std::uint64_t kListMax = 888ull * 1'048'576;

// True when `name` matches `mask`: '*' stands for any run of characters, '?' for one
// character; "*.*" matches every name. Case counts.
bool MatchesWildcard(std::string_view name, std::string_view mask);

// Lists the regular files of the directory of `pattern` (an absolute path whose last level
// may hold wildcards, for example "/var/www/db/*.mdb") whose names match and whose size is
// within the limits above, sorted by name. Symbolic links are not followed and not listed.
// `names` receives the file names, `paths` their full paths (both are emptied first).
// 1 when at least one file was listed, 0 otherwise.
int ListFiles(const std::string& pattern, std::vector<std::string>& names,
              std::vector<std::string>& paths);

}  // namespace mdb::desktop
