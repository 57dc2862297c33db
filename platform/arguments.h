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

// Text files the programs share with Windows tools and users (the directory list, the run
// log) hold text in the system's ANSI code page there: GBK (936) on the Chinese systems
// the programs are for. Here they hold UTF-8. These convert between a file's bytes and the
// programs' UTF-8; on this system both return their input. Characters the code page lacks
// become its default character.
std::string Utf8FromSystemCodePage(std::string_view bytes);
std::string SystemCodePageFromUtf8(std::string_view utf8);

// The path named by UTF-8 `text`, and the UTF-8 text of `path`.
std::filesystem::path PathFromUtf8(std::string_view text);
std::string Utf8OfPath(const std::filesystem::path& path);

}  // namespace mdb::platform
