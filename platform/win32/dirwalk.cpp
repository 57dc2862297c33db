#include "platform/dirwalk.h"

#include <errno.h>
#include <windows.h>

#include "platform/win32/handles.h"
#include "platform/win32/wide.h"

namespace mdb::platform {

bool ListDirectory(const std::string& directory, std::vector<DirEntry>& entries, int* error) {
    entries.clear();
    if (error != nullptr) *error = 0;
    const std::wstring wide = win32::Wide(directory);
    // A directory that is a link (a junction or symbolic link) is not walked into.
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        if (error != nullptr) *error = ELOOP;
        return false;
    }
    std::wstring pattern = wide;
    if (!pattern.empty() && pattern.back() != L'\\') pattern.push_back(L'\\');
    pattern.push_back(L'*');
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data,
                                   FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        // An empty drive root has no "." entry to find.
        if (code == ERROR_FILE_NOT_FOUND) return true;
        if (error != nullptr) *error = win32::ErrnoOf(code);
        return false;
    }
    do {
        const wchar_t* name = data.cFileName;
        if (name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0))) continue;
        DirEntry entry;
        entry.name = win32::Utf8(name);
        if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            entry.kind = EntryKind::Other;
        } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            entry.kind = EntryKind::Directory;
        } else {
            entry.kind = EntryKind::RegularFile;
            entry.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        }
        entries.push_back(std::move(entry));
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return true;
}

}  // namespace mdb::platform
