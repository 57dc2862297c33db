#include "desktop/util/file_mode.h"

namespace mdb::desktop {

namespace fs = std::filesystem;

bool MakeOwnerWritable(const fs::path& path) {
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    if (ec || !fs::exists(st)) return false;
    if ((st.permissions() & fs::perms::owner_write) != fs::perms::none) return true;
    fs::permissions(path, fs::perms::owner_write, fs::perm_options::add, ec);
    return !ec;
}

}  // namespace mdb::desktop
