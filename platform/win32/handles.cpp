#include "platform/win32/handles.h"

#include <errno.h>

#include "platform/files.h"

namespace mdb::platform::win32 {

int ErrnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
            return ENOENT;
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_DIRECTORY:
            return ENOTDIR;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        case ERROR_TOO_MANY_OPEN_FILES:
            return EMFILE;
        case ERROR_ACCESS_DENIED:
        case ERROR_PRIVILEGE_NOT_HELD:
            return EACCES;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return EWOULDBLOCK;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_CANT_ACCESS_FILE:
        case ERROR_CANT_RESOLVE_FILENAME:
            return ELOOP;
        default:
            return EIO;
    }
}

int NotRegularReason(HANDLE file) {
    if (GetFileType(file) != FILE_TYPE_DISK) return kErrorNotRegularFile;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info)) return ErrnoOf(GetLastError());
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return kErrorNotRegularFile;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return EISDIR;
    return 0;
}

}  // namespace mdb::platform::win32
