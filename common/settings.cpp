#include "common/settings.h"

#include "common/paths.h"
#include "common/text.h"
#include "platform/paths.h"
#include "platform/profile.h"

namespace mdb {

std::string SettingsPathIn(const std::string& programDir) {
    return CollapseSeparators(programDir + platform::kSeparator + kSettingsFileName);
}


unsigned ReadSettingKey(const std::string& settingsPath, const char* key) {
    return platform::GetProfileInt(kSettingsSection, key, 0, settingsPath);
}

int WriteSettingKey(const std::string& settingsPath, const char* key, const char* value) {
    return platform::WriteProfileString(kSettingsSection, key, value, settingsPath) ? 1 : 0;
}

}  // namespace mdb
