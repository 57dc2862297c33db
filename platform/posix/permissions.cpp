#include "platform/permissions.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace mdb::platform {

AdminGroup FindAdminGroup() {
    for (const char* name : {"sudo", "wheel"}) {
        if (const group* g = getgrnam(name)) return {static_cast<std::uint32_t>(g->gr_gid), name};
    }
    return {};
}

GrantResult GrantGroupAccessToEntry(const std::string& path, std::uint32_t groupId,
                                    std::string& error) {
    // Changed through a descriptor opened with O_NOFOLLOW, so a link swapped in meanwhile
    // is not followed; O_NONBLOCK so that a FIFO does not stall the open.
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return GrantResult::Failed;
    }
    struct stat st {};
    bool ok = fstat(fd, &st) == 0;
    if (ok && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        close(fd);
        return GrantResult::LeftAlone;
    }
    const auto group = static_cast<gid_t>(groupId);
    if (ok && st.st_gid != group) ok = fchown(fd, static_cast<uid_t>(-1), group) == 0;
    if (ok) {
        mode_t mode = st.st_mode & 07777;
        mode |= S_IRUSR | S_IWUSR | S_IRGRP | S_IWGRP;
        if (S_ISDIR(st.st_mode)) mode |= S_IXUSR | S_IXGRP;
        ok = fchmod(fd, mode) == 0;
    }
    if (!ok) error = path + ": " + std::strerror(errno);
    close(fd);
    return ok ? GrantResult::Changed : GrantResult::Failed;
}

}  // namespace mdb::platform
