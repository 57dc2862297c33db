// Helpers of the jet tests: corpus files, scratch copies, running programs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace jettest {

namespace fs = std::filesystem;

fs::path CorpusDir();
// Every .mdb of jet3/, jet4/ and (when present) bloated/.
std::vector<fs::path> CorpusFiles(bool include_large);
fs::path Mdbcompact();

// A fresh temporary directory removed when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    const fs::path& path() const { return path_; }
    fs::path Copy(const fs::path& src) const;

  private:
    fs::path path_;
};

std::vector<std::uint8_t> ReadAll(const fs::path& p);
void WriteAll(const fs::path& p, const std::vector<std::uint8_t>& bytes);

struct RunResult {
    int exit_code = -1;
    std::string out;
};
// Runs a command line through the shell, capturing standard output.
RunResult RunCommand(const std::string& command);
std::string Quote(const std::string& s);

// Parses RFC 4180 CSV (quoted fields may hold commas, quotes and line breaks).
std::vector<std::vector<std::string>> ParseCsv(const std::string& text);

}  // namespace jettest
