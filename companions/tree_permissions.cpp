#include "tree_permissions.h"

#include "platform/arguments.h"
#include "platform/safe_files.h"

#include <vector>

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

// Changes everything below the directory `dir` (at `path`), links left alone. Walked
// through directory handles: a backup run directory may be longer than the 260
// characters std::filesystem's iterator takes on Windows. A directory that cannot be
// read is passed over. False when a failure ends the walk.
bool GrantBelow(const mdb::platform::FileHandle& dir, const fs::path& path, std::uint32_t group,
                bool continueOnError, PermissionResult& result) {
    std::vector<mdb::platform::DirectoryEntry> entries;
    if (!mdb::platform::ListDirectory(dir, entries)) return true;
    for (const auto& entry : entries) {
        if (entry.link) continue;
        const fs::path child = path / mdb::platform::PathFromUtf8(entry.name);
        if (!GrantOne(child, group, result) && !continueOnError) return false;
        if (entry.status.directory &&
            !GrantBelow(mdb::platform::OpenSubdirectory(dir, entry.name), child, group,
                        continueOnError, result))
            return false;
    }
    return true;
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

    const mdb::platform::FileHandle dir = mdb::platform::OpenDirectoryNoLinks(fs::absolute(root, ec));
    if (!dir.Valid())
        result.failures.push_back(mdb::platform::Utf8OfPath(root) + ": cannot be opened");
    else
        GrantBelow(dir, root, group, continueOnError, result);
    return result;
}

}  // namespace companions
