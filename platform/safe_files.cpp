#include "platform/safe_files.h"

#include "platform/arguments.h"

#include <vector>

// What both systems' implementations share: moves of a handle, the comparisons of file
// states, directories made level by level.

namespace mdb::platform {

int FileHandle::Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

bool SameFile(const FileStatus& a, const FileStatus& b) {
    return a.device == b.device && a.inode == b.inode;
}

bool SameFileState(const FileStatus& a, const FileStatus& b) {
    return SameFile(a, b) && a.size == b.size && a.mtimeSec == b.mtimeSec &&
           a.mtimeNsec == b.mtimeNsec && a.ctimeSec == b.ctimeSec && a.ctimeNsec == b.ctimeNsec;
}

FileHandle OpenOrCreateDirectoryNoLinks(const std::filesystem::path& path) {
    // The deepest level that opens, then the missing ones below it, innermost last.
    std::filesystem::path at = path.lexically_normal();
    std::vector<std::string> missing;
    FileHandle dir = OpenDirectoryNoLinks(at);
    while (!dir.Valid()) {
        if (!at.has_relative_path()) return {};
        if (!at.filename().empty()) missing.push_back(Utf8OfPath(at.filename()));
        at = at.parent_path();
        dir = OpenDirectoryNoLinks(at);
    }
    for (auto level = missing.rbegin(); level != missing.rend() && dir.Valid(); ++level)
        dir = OpenOrCreateSubdirectory(dir, *level);
    return dir;
}

}  // namespace mdb::platform
