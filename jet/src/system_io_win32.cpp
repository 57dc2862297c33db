#include "system_io.h"

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace jet::system_io {

int OpenForReading(const std::filesystem::path& path) {
    int fd = -1;
    const errno_t rc =
        _wsopen_s(&fd, path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT, _SH_DENYNO, 0);
    if (rc != 0) errno = rc;
    return rc == 0 ? fd : -1;
}

void CloseFile(int fd) {
    _close(fd);
}

// Not told apart on this system: each reader loads a file of its own.
bool SameFile(int, int) {
    return false;
}

long long ReadAt(int fd, std::uint8_t* dst, std::size_t len, std::uint64_t offset) {
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(offset);
    where.OffsetHigh = static_cast<DWORD>(offset >> 32);
    // One call reads at most 1 GiB: ReadFile counts in 32 bits.
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(len, std::size_t{1} << 30));
    DWORD got = 0;
    if (ReadFile(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), dst, want, &got, &where)) return got;
    return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
}

// Read at once into one buffer, then spread out.
bool ReadPagesAt(int fd, std::span<std::uint8_t* const> into, std::size_t page_size,
                 std::uint64_t offset) {
    const std::size_t total = into.size() * page_size;
    auto bytes = std::make_unique_for_overwrite<std::uint8_t[]>(total);
    for (std::size_t done = 0; done < total;) {
        const long long n = ReadAt(fd, bytes.get() + done, total - done, offset + done);
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    for (std::size_t i = 0; i < into.size(); ++i)
        std::memcpy(into[i], bytes.get() + i * page_size, page_size);
    return true;
}

// Committed memory is made resident as it is first touched.
std::uint8_t* Map(std::size_t bytes, bool) {
    return static_cast<std::uint8_t*>(
        VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
}

void Unmap(std::uint8_t* p, std::size_t) {
    VirtualFree(p, 0, MEM_RELEASE);
}

void TrimHeap() {
    // No such call: the Windows heap decommits free memory by its own thresholds.
}

}  // namespace jet::system_io
