// mdbcompact status and forget: the store of recorded databases, read and pruned without
// sqlite3, Base64 and iconv.
#pragma once

#include <string>
#include <vector>

namespace mdbcompact {

extern const char kStatusHelp[];
extern const char kForgetHelp[];

// `args` are the arguments after the command's name.
int RunStatus(const std::vector<std::string>& args);
int RunForget(const std::vector<std::string>& args);

}  // namespace mdbcompact
