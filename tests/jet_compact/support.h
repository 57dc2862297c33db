// Helpers of the compactor tests: corpus files, scratch directories, programs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace compacttest {

namespace fs = std::filesystem;

fs::path CorpusDir();
// Every .mdb of jet3/, jet4/ and, when present, bloated/.
std::vector<fs::path> CorpusJetFiles();
fs::path Mdbcompact();

// A fresh temporary directory, removed with everything in it when the object goes.
class Scratch {
  public:
    Scratch();
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    const fs::path& dir() const { return dir_; }
    // Copies a file in (writable) and returns the copy's path.
    fs::path Copy(const fs::path& src, const std::string& name = "") const;
    // Names of everything in the directory.
    std::vector<std::string> Listing() const;

  private:
    fs::path dir_;
};

std::vector<std::uint8_t> ReadAll(const fs::path& p);
void WriteAll(const fs::path& p, const std::vector<std::uint8_t>& bytes);

struct ShellRun {
    int exit_code = -1;
    std::string out;
};
// Runs a shell command line, capturing standard output.
ShellRun Shell(const std::string& command);
std::string Quote(const std::string& s);

// mdbtools' view of a table: `mdb-export -b hex` lines, sorted (mdbtools exports in
// physical order, which compaction may change only by dropping holes).
std::vector<std::string> SortedExport(const fs::path& db, const std::string& table);
// `mdb-tables -1`: the user tables.
std::vector<std::string> MdbTables(const fs::path& db);

}  // namespace compacttest
