#pragma once
// Private-profile (INI) files with the Windows semantics: section and key names compare
// without regard to case, a missing file, section or key yields the default, an integer is
// parsed like GetPrivateProfileInt. Each call is atomic against other processes: readers
// and writers serialise on an advisory lock beside the file, and a write replaces the file
// by renaming a complete temporary copy over it.

#include <string>

namespace mdb::platform {

// Integer value of `key`; `defaultValue` when the file, section or key is missing or the
// value is empty. Leading blanks and a sign are accepted; parsing stops at the first
// non-digit; a value without digits reads as 0, a negative value as 0.
unsigned GetProfileInt(const std::string& section, const std::string& key, int defaultValue,
                       const std::string& path);

// Text value of `key` (surrounding blanks removed, one pair of enclosing quotes removed), or
// `defaultValue`.
std::string GetProfileString(const std::string& section, const std::string& key,
                             const std::string& defaultValue, const std::string& path);

// Sets `key` to `value`, creating the file and the section when missing. Other lines are
// kept as they are. False when the file cannot be written.
bool WriteProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& path);

}  // namespace mdb::platform
