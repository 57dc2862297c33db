#include "platform/safe_files.h"

// What both systems' implementations share: moves of a handle and the comparisons of
// file states.

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

}  // namespace mdb::platform
