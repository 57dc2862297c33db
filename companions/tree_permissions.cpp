#include "tree_permissions.h"

#include "platform/arguments.h"

namespace companions {
namespace {

namespace fs = std::filesystem;
using mdb::platform::GrantResult;

// Changes one entry; false (with the reason in `result`) when it could not be changed.
bool GrantOne(const fs::path& path, std::uint32_t group, PermissionResult& result) {
    std::string error;
    switch (mdb::platform::GrantGroupAccessToEntry(mdb::platform::Utf8OfPath(path), group, error)) {
        case GrantResult::Changed:
            ++result.changed;
            return true;
        case GrantResult::LeftAlone:  // devices, fifos, sockets
            return true;
        case GrantResult::Failed:
            break;
    }
    result.failures.push_back(error);
    return false;
}

}  // namespace

PermissionResult GrantGroupAccess(const fs::path& root, std::uint32_t group, bool recursive,
                                  bool continueOnError) {
    PermissionResult result;
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(root, ec);
    if (ec || !fs::exists(st)) {
        result.failures.push_back(mdb::platform::Utf8OfPath(root) + ": " +
                                  (ec ? ec.message() : std::string("No such file or directory")));
        return result;
    }
    if (fs::is_symlink(st)) {
        result.failures.push_back(mdb::platform::Utf8OfPath(root) +
                                  ": is a symbolic link; not changed");
        return result;
    }
    if (!GrantOne(root, group, result) && !continueOnError) return result;
    if (!recursive || !fs::is_directory(st)) return result;

    // The iterator does not descend into directory links by default.
    fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_symlink(ec)) continue;
        if (!GrantOne(it->path(), group, result) && !continueOnError) return result;
    }
    if (ec) result.failures.push_back(mdb::platform::Utf8OfPath(root) + ": " + ec.message());
    return result;
}

}  // namespace companions
