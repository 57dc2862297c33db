// The subcommands of mdbcompact; each returns the process exit code.
#pragma once

#include <string>

namespace mdbcompact {

constexpr int kExitOk = 0;
constexpr int kExitProblems = 1;
constexpr int kExitUsage = 2;

// `pages`: also list every page with its role and owning table.
// `json`: one JSON document on standard output instead of the text (the schema is
// packaging/schema/mdbwarden-results.schema.json).
int RunInfo(const std::string& file, bool pages = false, bool json = false);
int RunCheck(const std::string& file, bool json = false);
// `salvage`: also rows on pages that name the table but that its usage map does not
// list. Exit 1 when anything was skipped (listed on standard error).
int RunExport(const std::string& file, const std::string& table, bool salvage = false);
int RunTables(const std::string& file);

}  // namespace mdbcompact
