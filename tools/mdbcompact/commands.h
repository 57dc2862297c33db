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
// `salvage`: also rows on pages that name the table but that its usage map does not
// list. Exit 1 when anything was skipped (listed on standard error).
int RunExport(const std::string& file, const std::string& table, bool salvage = false);
int RunTables(const std::string& file);

}  // namespace mdbcompact
