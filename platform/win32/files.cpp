#include "platform/files.h"

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <random>

#include "platform/win32/handles.h"
#include "platform/win32/wide.h"

namespace mdb::platform {

using win32::OwnedHandle;

namespace {

// Opens `path` as a file (a link's reparse point itself, never its target). The share mode
// is the Windows way of refusing other openers: a sharing violation is theirs to see.
HANDLE OpenNoFollow(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
    return CreateFileW(win32::WidePath(path).c_str(), access, share, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

}  // namespace

bool FindFirst(const std::string& path) {
    if (path.empty()) return false;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(win32::Wide(path).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    FindClose(find);
    return true;
}

bool MakeDirectory(const std::string& path) {
    const std::wstring wide = win32::Wide(path);
    if (CreateDirectoryW(wide.c_str(), nullptr)) return true;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void SharedFile::Close() {
    if (fd_ >= 0) {
        _close(fd_);  // closes the handle and ends its sharing mode
        fd_ = -1;
    }
}

OpenResult SharedFile::Open(const std::string& path, OpenMode mode) {
    Close();
    const bool write = mode == OpenMode::WriteExclusiveCreate;
    OwnedHandle file(write ? OpenNoFollow(path, GENERIC_READ | GENERIC_WRITE, 0, OPEN_ALWAYS)
                           : OpenNoFollow(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
    if (!file.Valid()) {
        const DWORD error = GetLastError();
        lastError_ = win32::ErrnoOf(error);
        return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION
                   ? OpenResult::SharingViolation
                   : OpenResult::Failed;
    }
    if (const int reason = win32::NotRegularReason(file.Get()); reason != 0) {
        lastError_ = reason;
        return OpenResult::Failed;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file.Get()),
                                   (write ? _O_RDWR : _O_RDONLY) | _O_BINARY);
    if (fd < 0) {
        lastError_ = EMFILE;
        return OpenResult::Failed;
    }
    file.Release();
    lastError_ = 0;
    fd_ = fd;
    return OpenResult::Ok;
}

std::int64_t SharedFile::Length() const {
    return fd_ < 0 ? -1 : _filelengthi64(fd_);
}

bool SharedFile::Truncate() {
    return fd_ >= 0 && _chsize_s(fd_, 0) == 0;
}

bool SharedFile::Append(std::span<const char> bytes) {
    if (fd_ < 0 || _lseeki64(fd_, 0, SEEK_END) < 0) return false;
    size_t done = 0;
    while (done < bytes.size()) {
        // _write takes an unsigned count: large appends go in pieces of 1 MiB.
        const unsigned piece = static_cast<unsigned>(std::min<size_t>(bytes.size() - done, 1u << 20));
        const int n = _write(fd_, bytes.data() + done, piece);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool SharedFile::ReadAll(std::string& out) {
    out.clear();
    if (fd_ < 0 || _lseeki64(fd_, 0, SEEK_SET) < 0) return false;
    char buf[16384];
    for (;;) {
        const int n = _read(fd_, buf, sizeof buf);
        if (n < 0) return false;
        if (n == 0) return true;
        out.append(buf, static_cast<size_t>(n));
    }
}

HeaderResult ReadFileStart(const std::string& path, std::span<std::uint8_t> buffer,
                           std::uint64_t& fileSize, std::size_t& bytesRead, int* error) {
    fileSize = 0;
    bytesRead = 0;
    int failure = 0;
    HeaderResult result = HeaderResult::Failed;
    OwnedHandle file(OpenNoFollow(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
    if (!file.Valid()) {
        const DWORD code = GetLastError();
        failure = win32::ErrnoOf(code);
        if (code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION)
            result = HeaderResult::SharingViolation;
    } else if ((failure = win32::NotRegularReason(file.Get())) != 0) {
    } else {
        // ReadFile takes a 32-bit count; a file header is far below that.
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(buffer.size(), 1u << 30));
        DWORD got = 0;
        LARGE_INTEGER size{};
        if (!ReadFile(file.Get(), buffer.data(), want, &got, nullptr) ||
            !GetFileSizeEx(file.Get(), &size)) {
            failure = win32::ErrnoOf(GetLastError());
        } else if (got > 0) {
            fileSize = static_cast<std::uint64_t>(size.QuadPart);
            bytesRead = got;
            result = HeaderResult::Ok;
        }
    }
    if (error != nullptr) *error = failure;
    return result;
}

OpenResult ReplaceFileContent(const std::string& path, std::span<const char> bytes) {
    const std::wstring target = win32::Wide(path);
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
        return OpenResult::Failed;
    }
    // A name of our own beside the file, so that the move stays on one volume.
    std::random_device device;
    const std::wstring temp =
        target + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
        std::to_wstring(device()) + L".tmp";
    bool ok = false;
    {
        OwnedHandle file(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.Valid()) return OpenResult::Failed;
        ok = true;
        std::size_t done = 0;
        while (ok && done < bytes.size()) {
            // WriteFile takes a 32-bit count: large contents go in pieces of 1 MiB.
            const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
            DWORD written = 0;
            ok = WriteFile(file.Get(), bytes.data() + done, piece, &written, nullptr) && written > 0;
            done += written;
        }
        ok = ok && FlushFileBuffers(file.Get());
    }
    if (ok && MoveFileExW(temp.c_str(), target.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return OpenResult::Ok;
    }
    const DWORD error = GetLastError();
    DeleteFileW(temp.c_str());
    // A file held open by another process without delete sharing refuses the move.
    return ok && (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
                  error == ERROR_ACCESS_DENIED)
               ? OpenResult::SharingViolation
               : OpenResult::Failed;
}

}  // namespace mdb::platform
