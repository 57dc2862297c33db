#pragma once
// File permission helpers.

#include <filesystem>

namespace mdb::desktop {

// Makes an existing file or directory writable by its owner, keeping every other mode bit.
// True when it is writable by its owner afterwards (also when nothing had to change).
bool MakeOwnerWritable(const std::filesystem::path& path);

}  // namespace mdb::desktop
