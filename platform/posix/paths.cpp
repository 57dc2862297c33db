#include "platform/paths.h"

#include <unistd.h>

#include <vector>

namespace mdb::platform {

std::optional<std::string> ModuleFileName() {
    std::vector<char> buf(4096);
    for (;;) {
        const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) return std::nullopt;
        if (static_cast<size_t>(n) < buf.size()) return std::string(buf.data(), n);
        buf.resize(buf.size() * 2);
    }
}

bool IsRootedPath(std::string_view path) {
    return !path.empty() && path.front() == '/';
}

}  // namespace mdb::platform
