// Opening a backup run directory to the administrators: the tree is made
// readable and writable by its owner and by the administrators' group.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/permissions.h"

namespace companions {

using mdb::platform::AdminGroup;
using mdb::platform::FindAdminGroup;

struct PermissionResult {
    unsigned changed = 0;               // entries whose group or mode was set
    std::vector<std::string> failures;  // one line per entry that could not be changed
};

// Gives `group` read and write access (and search access on directories) to
// `root` and, when `recursive`, everything below it. Owner access becomes
// read+write too. Symbolic links are neither followed nor changed. With
// `continueOnError` false the walk stops at the first failure.
PermissionResult GrantGroupAccess(const std::filesystem::path& root, std::uint32_t group,
                                  bool recursive, bool continueOnError);

}  // namespace companions
