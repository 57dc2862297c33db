// The subcommands of mdbcompact; each returns the process exit code.
#pragma once

#include <string>

namespace mdbcompact {

constexpr int kExitOk = 0;
constexpr int kExitProblems = 1;
constexpr int kExitUsage = 2;

// `pages`: also list every page with its role and owning table.
int RunInfo(const std::string& file, bool pages = false);
int RunCheck(const std::string& file);
int RunExport(const std::string& file, const std::string& table);
int RunTables(const std::string& file);

}  // namespace mdbcompact
