// A fake engine for the replacement tests: the compacted file is the first half of the
// source, so that tests can tell original and compacted bytes apart.
#pragma once

#include <string>

#include "batch/compact_mdb_file.h"
#include "file_bytes.h"

inline mdb::batch::CompactOutcome HalfCompactor(const std::filesystem::path& source,
                                               const std::filesystem::path& destination) {
    const std::string bytes = ReadBytes(source);
    WriteBytes(destination, bytes.substr(0, bytes.size() / 2));
    return {true, {}};
}
