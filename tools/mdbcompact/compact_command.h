// `mdbcompact compact SRC DST`: compacts a database into a new, verified file.
#pragma once

#include <cstdint>
#include <string>

namespace mdbcompact {

extern const char kCompactHelp[];

// Returns 0 when compacted, 1 when not (the reason is printed), 2 for bad arguments.
// memory_budget: bytes the compaction keeps in memory before it sorts on disk.
int RunCompact(const std::string& source, const std::string& destination,
               std::uint64_t memory_budget);

// Reads "N", "NK", "NM" or "NG" (binary units) into *bytes; false for anything else.
bool ParseByteCount(const std::string& text, std::uint64_t* bytes);

}  // namespace mdbcompact
