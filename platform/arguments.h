#pragma once
// Command-line arguments and file names as the programs' UTF-8 text. Windows hands a
// program its arguments in the ANSI code page, and a narrow std::filesystem::path there is
// not UTF-8; these functions are the one place that knows.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace mdb::platform {

// The arguments after the program name, in UTF-8. `argc` and `argv` are main's (the
// Windows build reads the wide command line instead, so that no character is lost).
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// The path named by UTF-8 `text`, and the UTF-8 text of `path`.
std::filesystem::path PathFromUtf8(std::string_view text);
std::string Utf8OfPath(const std::filesystem::path& path);

}  // namespace mdb::platform
