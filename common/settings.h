#pragma once
// The settings file mdbscout.ini: one section, two request flags.

#include <string>

namespace mdb {

inline constexpr char kSettingsFileName[] = "mdbscout.ini";
inline constexpr char kSettingsSection[] = "mdbscout";
inline constexpr char kKeyRefScanLog[] = "refscanlog";
inline constexpr char kKeyCompactDatabase[] = "CompactDatabase";

// 1 and the settings path below the program directory, or 0.
int GetSettingsPath(std::string& path);

// The settings path for a given program directory.
std::string SettingsPathIn(const std::string& programDir);

// Integer value of `key` (0 when the file, section or key is missing).
unsigned ReadSettingKey(const std::string& settingsPath, const char* key);

// Writes `value` ("0" or "1") under `key`; 1 on success.
int WriteSettingKey(const std::string& settingsPath, const char* key, const char* value);

// True only when the key holds exactly the value 1.
inline bool SettingIsSet(const std::string& settingsPath, const char* key) {
    return ReadSettingKey(settingsPath, key) == 1;
}

}  // namespace mdb
