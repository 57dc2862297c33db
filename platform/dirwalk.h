#pragma once
// Listing one directory without following symbolic links.

#include <cstdint>
#include <string>
#include <vector>

namespace mdb::platform {

enum class EntryKind { Directory, RegularFile, Other };

struct DirEntry {
    std::string name;
    EntryKind kind = EntryKind::Other;
    std::uint64_t size = 0;  // of the entry itself (a link's own size, never its target's)
};

// Reads every entry of `directory` (except "." and ".."), in the file system's order, and
// closes the directory again before returning. Entries are examined with lstat semantics:
// a symbolic link is never a directory here. False when the directory cannot be listed, with
// the system error number in `error` (ELOOP: `directory` is a symbolic link).
bool ListDirectory(const std::string& directory, std::vector<DirEntry>& entries,
                   int* error = nullptr);

}  // namespace mdb::platform
