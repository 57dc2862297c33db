// OutputFile on Windows: the temporary file is written through its handle at explicit
// offsets, flushed with FlushFileBuffers and moved into place with MoveFileExW, which
// refuses an existing destination. The pages are gathered as on Linux (output_file.cpp).
#include "jet/compact/output_file.h"

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include <cassert>
#include <cerrno>
#include <cstring>
#include <random>

#include "jet/compact/write_behind.h"

namespace jet {

static std::string SystemMessage(DWORD code) {
    return "system error " + std::to_string(code);
}

static HANDLE HandleOf(int fd) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

bool OutputFile::Create(const std::filesystem::path& destination, std::uint32_t page_size,
                        std::string* error) {
    assert(fd_ < 0);
    destination_ = destination;
    page_size_ = page_size;
    std::filesystem::path dir = destination.parent_path();
    if (dir.empty()) dir = ".";
    // A new name is tried until one is free; 100 taken names in a row mean something else
    // is wrong with the directory.
    static constexpr char kChars[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::wstring name = L"." + destination.filename().wstring() + L".compact-";
        for (int i = 0; i < 6; ++i) name.push_back(static_cast<wchar_t>(kChars[random() % 36]));
        const std::filesystem::path candidate = dir / name;
        // Others may read the file while it is written, but not write it.
        const errno_t rc = _wsopen_s(&fd_, candidate.c_str(),
                                     _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY | _O_NOINHERIT,
                                     _SH_DENYWR, _S_IREAD | _S_IWRITE);
        if (rc == 0) {
            temp_ = candidate;
            return true;
        }
        fd_ = -1;
        if (rc != EEXIST) {
            *error = "cannot write a temporary file in '" + dir.string() +
                     "': " + std::strerror(rc);
            return false;
        }
    }
    *error = "cannot find a free temporary name in '" + dir.string() + "'";
    return false;
}

bool OutputFile::InUse(const std::filesystem::path& temp) {
    // A live run keeps the file open and denies others the right to write it.
    HANDLE h = CreateFileW(temp.c_str(), GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        return code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND;
    }
    CloseHandle(h);
    return false;
}

bool OutputFile::RemoveLeftover(const std::filesystem::path& temp,
                                const std::filesystem::path& leftover) {
    // A live run's temporary file is open without sharing deletion, so it cannot be
    // removed under it, and its name cannot be taken again while it exists.
    std::error_code ec;
    return !InUse(temp) && std::filesystem::remove(leftover, ec);
}

void OutputFile::CopyPermissionsFrom(const std::filesystem::path&) {
    // The new file takes the access rules of its directory, which is the source's own in
    // every use; a read-only attribute is not copied, as the compacted file is written
    // again when it replaces the source.
}

bool OutputFile::WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes,
                         std::string* error) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        // A run is at most a few MiB, far below WriteFile's 32-bit count.
        const std::uint64_t at = offset + done;
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(at);
        where.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD written = 0;
        if (!WriteFile(HandleOf(fd_), bytes.data() + done, static_cast<DWORD>(bytes.size() - done),
                       &written, &where) ||
            written == 0) {
            *error = "cannot write '" + temp_.string() + "': " + SystemMessage(GetLastError());
            return false;
        }
        done += written;
    }
    return true;
}

// Windows writes dirty pages back on its own schedule and has no call that only starts
// the writing: FlushFileBuffers waits for it.
void OutputFile::StartWriteBack() {
    not_written_back_ = 0;
}

bool OutputFile::SyncToDisk(std::string* error) {
    if (!FlushFileBuffers(HandleOf(fd_))) {
        *error = "cannot write '" + temp_.string() + "' to disk: " + SystemMessage(GetLastError());
        return false;
    }
    return true;
}

bool OutputFile::Commit(std::string* error) {
    assert(fd_ >= 0);
    if (!Sync(error)) return false;
    writer_.reset();  // idle after the sync; joined before its file closes
    const int fd = fd_;
    fd_ = -1;
    if (_close(fd) != 0) {
        *error = "cannot finish writing '" + temp_.string() + "': " + std::strerror(errno);
        return false;
    }
    // Without MOVEFILE_REPLACE_EXISTING a file that appeared at the destination meanwhile
    // is never replaced; write-through returns only once the move is on the disk.
    if (!MoveFileExW(temp_.c_str(), destination_.c_str(), MOVEFILE_WRITE_THROUGH)) {
        const DWORD code = GetLastError();
        *error = code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS
                     ? "the destination '" + destination_.string() + "' already exists"
                     : "cannot rename the compacted file to '" + destination_.string() +
                           "': " + SystemMessage(code);
        return false;
    }
    committed_ = true;
    return true;
}

void OutputFile::Discard() {
    writer_.reset();  // stopped (what it still holds is dropped) and joined
    if (fd_ >= 0) {
        _close(fd_);
        fd_ = -1;
    }
    if (!committed_ && !temp_.empty()) {
        std::error_code ec;
        std::filesystem::remove(temp_, ec);
        temp_.clear();
    }
}

}  // namespace jet
