// Removing the long-path prefix from a stored path before it is shown or used.
#pragma once

#include <string>

#include "platform/paths.h"

namespace mdb::desktop {

// Removes every occurrence of the platform's long-path prefix (there is none on
// this platform, so paths come back unchanged).
inline std::string RemoveLongPathPrefixes(std::string path) {
    constexpr auto prefix = platform::kLongPathPrefix;
    if constexpr (prefix.empty()) {
        return path;
    } else {
        for (std::size_t pos; (pos = path.find(prefix)) != std::string::npos;) {
            path.erase(pos, prefix.size());
        }
        return path;
    }
}

}  // namespace mdb::desktop
