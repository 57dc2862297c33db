#pragma once
// Opening files to the administrators of this host: their group, and read and write
// access for it on one file-system entry.

#include <cstdint>
#include <string>

namespace mdb::platform {

// The group that stands for "administrators" on this host: "sudo" (Debian, Ubuntu), else
// "wheel" (Fedora, RHEL, Arch), else "root" (id 0).
struct AdminGroup {
    std::uint32_t id = 0;
    std::string name = "root";
};
AdminGroup FindAdminGroup();

enum class GrantResult {
    Changed,    // the entry now belongs to the group, with read and write access for it
    LeftAlone,  // neither a regular file nor a directory (a device, pipe or socket)
    Failed,     // `error` says why
};

// Gives group `groupId` read and write access to the entry at `path` (and search access
// when it is a directory); the owner gets read and write access too. A symbolic link is
// never followed: a link at `path` fails.
GrantResult GrantGroupAccessToEntry(const std::string& path, std::uint32_t groupId,
                                    std::string& error);

}  // namespace mdb::platform
