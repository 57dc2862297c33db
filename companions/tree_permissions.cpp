#include "tree_permissions.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace companions {
namespace {

// Changes one entry; `st` is its lstat result. Works on an O_PATH-free
// descriptor opened with O_NOFOLLOW so a link swapped in meanwhile is not followed.
bool GrantOne(const std::filesystem::path& path, gid_t group, std::string* error) {
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        *error = path.string() + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    bool ok = fstat(fd, &st) == 0;
    if (ok && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        close(fd);
        return true;  // devices, fifos, sockets: left alone
    }
    if (ok && st.st_gid != group) ok = fchown(fd, static_cast<uid_t>(-1), group) == 0;
    if (ok) {
        mode_t mode = st.st_mode & 07777;
        mode |= S_IRUSR | S_IWUSR | S_IRGRP | S_IWGRP;
        if (S_ISDIR(st.st_mode)) mode |= S_IXUSR | S_IXGRP;
        ok = fchmod(fd, mode) == 0;
    }
    if (!ok) *error = path.string() + ": " + std::strerror(errno);
    close(fd);
    return ok;
}

}  // namespace

AdminGroup FindAdminGroup() {
    for (const char* name : {"sudo", "wheel"}) {
        if (const group* g = getgrnam(name)) return {g->gr_gid, name};
    }
    return {};
}

PermissionResult GrantGroupAccess(const std::filesystem::path& root, gid_t group, bool recursive,
                                  bool continueOnError) {
    PermissionResult result;
    std::string error;
    struct stat st {};
    if (lstat(root.c_str(), &st) != 0) {
        result.failures.push_back(root.string() + ": " + std::strerror(errno));
        return result;
    }
    if (S_ISLNK(st.st_mode)) {
        result.failures.push_back(root.string() + ": is a symbolic link; not changed");
        return result;
    }
    if (GrantOne(root, group, &error)) {
        ++result.changed;
    } else {
        result.failures.push_back(error);
        if (!continueOnError) return result;
    }
    if (!recursive || !S_ISDIR(st.st_mode)) return result;

    std::error_code ec;
    // The iterator does not descend into directory links by default.
    std::filesystem::recursive_directory_iterator it(
        root, std::filesystem::directory_options::skip_permission_denied, ec);
    for (; !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_symlink(ec)) continue;
        if (GrantOne(it->path(), group, &error)) {
            ++result.changed;
        } else {
            result.failures.push_back(error);
            if (!continueOnError) return result;
        }
    }
    if (ec) result.failures.push_back(root.string() + ": " + ec.message());
    return result;
}

}  // namespace companions
