// The integrity manifest the build writes next to the programs: every program and
// shipped page of the program directory with its SHA-256. A companion program or a
// local page is used only when it matches.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace mdb {

inline constexpr const char* kManifestFileName = "mdbwarden.sha256";

enum class ManifestCheck { Match, NoManifest, NotListed, Differs, Unreadable };

// Lower-case hex SHA-256 of a file's contents; empty when it cannot be read.
std::string Sha256OfFile(const std::filesystem::path& file);

// Checks one file of the program directory against the manifest
// (lines "<sha256 hex>  <path relative to the program directory>").
ManifestCheck CheckAgainstManifest(const std::filesystem::path& programDir,
                                   std::string_view relativePath);

}  // namespace mdb
