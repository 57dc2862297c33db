#include "platform/dirwalk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mdb::platform {

namespace {

struct DirCloser {
    DIR* dir;
    ~DirCloser() { closedir(dir); }
};

}  // namespace

bool ListDirectory(const std::string& directory, std::vector<DirEntry>& entries, int* error) {
    entries.clear();
    if (error != nullptr) *error = 0;
    const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    DIR* dir = fd < 0 ? nullptr : fdopendir(fd);
    if (dir == nullptr) {
        if (error != nullptr) *error = errno;
        if (fd >= 0) close(fd);
        return false;
    }
    DirCloser closer{dir};
    while (dirent* d = readdir(dir)) {
        const char* name = d->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
        DirEntry entry;
        entry.name = name;
        struct stat st {};
        if (fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
            if (S_ISDIR(st.st_mode)) {
                entry.kind = EntryKind::Directory;
            } else {
                entry.kind = S_ISREG(st.st_mode) ? EntryKind::RegularFile : EntryKind::Other;
                entry.size = static_cast<std::uint64_t>(st.st_size);
            }
        } else if (d->d_type == DT_DIR) {
            entry.kind = EntryKind::Directory;
        }
        entries.push_back(std::move(entry));
    }
    return true;
}

}  // namespace mdb::platform
