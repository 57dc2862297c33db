#include "platform/language.h"

#include <cstdlib>

namespace mdb::platform {
namespace {

// "zh_CN.UTF-8@latin" -> "zh_CN"; the C and POSIX locales name no language.
std::string LanguageOfLocale(std::string name) {
    name = name.substr(0, name.find_first_of(".@"));
    if (name == "C" || name == "POSIX") return {};
    return name;
}

}  // namespace

std::string UserLanguage() {
    for (const char* variable : {kLanguageVariable, "LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') return LanguageOfLocale(value);
    }
    return {};
}

}  // namespace mdb::platform
