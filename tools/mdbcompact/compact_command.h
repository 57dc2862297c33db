// `mdbcompact compact SRC DST`: compacts a database into a new, verified file.
#pragma once

#include <string>

namespace mdbcompact {

extern const char kCompactHelp[];

// Returns 0 when compacted, 1 when not (the reason is printed), 2 for bad arguments.
int RunCompact(const std::string& source, const std::string& destination);

}  // namespace mdbcompact
