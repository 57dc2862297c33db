#pragma once
// The user's language, as the system tells it.

#include <string>

namespace mdb::platform {

// The variable that forces the programs' language over the system's ("en", "zh_CN", ...).
inline constexpr char kLanguageVariable[] = "MDBWARDEN_LANG";

// The language the user asked for, as a locale name ("zh_CN", "en_US", "de"): the
// variable above when set; else, on Linux, the locale of messages (LC_ALL, LC_MESSAGES,
// LANG, in POSIX's order of precedence; its codeset and modifier dropped), on Windows
// the user's interface language. Empty when nothing names one (the C locale).
std::string UserLanguage();

}  // namespace mdb::platform
