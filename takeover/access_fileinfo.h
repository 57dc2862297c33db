// The table `fileinfo` of the Windows original's file-info store, an Access (Jet)
// database, read with our own engine.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "common/filestore.h"

namespace mdb::takeover {

// Bytes of a file's start that IsJetFileStart looks at.
inline constexpr std::size_t kJetProbeBytes = 20;

// True when `start` is the start of a Jet or ACE database (an Access file), whatever
// its version: page 0's type and the engine's signature.
bool IsJetFileStart(std::span<const std::uint8_t> start);

// Every row of `fileinfo` in `path`, ordered by `id`. The texts are taken as they are
// stored (names and paths stay the Base64 texts they are); `regdate` becomes our
// "%Y-%m-%d" and the sizes whole byte counts. False with `reason` (the engine's words,
// English) when the file, the table or one of its columns cannot be read.
bool ReadAccessFileInfo(const std::filesystem::path& path, std::vector<FileInfoRecord>& rows,
                        std::string& reason);

}  // namespace mdb::takeover
