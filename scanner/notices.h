#pragma once
// The scanner's words for why something could not be used.

#include "common/listfile.h"
#include "platform/profile.h"

#include <string>

namespace mdb::scanner {

// Why a file or directory could not be opened, from the system error number (or
// platform::kErrorNotRegularFile).
std::string FileErrorText(int error);

// Why the settings file could not be written.
std::string SettingsErrorText(platform::ProfileError error);

// The line that says why a line of the list file was left out.
std::string IgnoredListLineText(const IgnoredListLine& line);

}  // namespace mdb::scanner
