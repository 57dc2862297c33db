#pragma once
// The settings file mdbscout.ini: one section, two request flags, the scanner's word
// that its scan is over, and a few settings.

#include <string>

namespace mdb {

inline constexpr char kSettingsFileName[] = "mdbscout.ini";
inline constexpr char kSettingsSection[] = "mdbscout";
inline constexpr char kKeyRefScanLog[] = "refscanlog";
inline constexpr char kKeyCompactDatabase[] = "CompactDatabase";
// Settings of the command-line programs (read only, written by the administrator):
// the web-server units a batch stops and starts, in the order they are stopped
// (companions/web_server_control.h), the minimum saving of a batch without
// --min-saving, and where the metrics textfiles go and how (common/metrics_textfile.h).
inline constexpr char kKeyWebServerUnits[] = "WebServerUnits";
inline constexpr char kKeyMinSaving[] = "MinSaving";
inline constexpr char kKeyMetricsDir[] = "MetricsDir";
inline constexpr char kKeyMetricsPerSite[] = "MetricsPerSite";
// "1" once the scanner's scan is over (it only counts down to closing, or waits for a
// key after a failure); "0" while it scans.
inline constexpr char kKeyScanEnded[] = "scanended";

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
