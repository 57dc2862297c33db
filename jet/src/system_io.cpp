#include "system_io.h"

#include <fcntl.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <array>
#include <cassert>
#include <cerrno>

namespace jet::system_io {

int OpenForReading(const std::filesystem::path& path) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

void CloseFile(int fd) {
    ::close(fd);
}

bool SameFile(int a, int b) {
    struct stat sa {
    }, sb{};
    return ::fstat(a, &sa) == 0 && ::fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

long long ReadAt(int fd, std::uint8_t* dst, std::size_t len, std::uint64_t offset) {
    ssize_t n;
    do {
        n = ::pread(fd, dst, len, static_cast<off_t>(offset));
    } while (n < 0 && errno == EINTR);
    return n;
}

// One scattering read (more only when the system returns less).
bool ReadPagesAt(int fd, std::span<std::uint8_t* const> into, std::size_t page_size,
                 std::uint64_t offset) {
    std::array<iovec, kMaxPagesPerRead> iov;
    assert(into.size() <= iov.size());
    const std::size_t total = into.size() * page_size;
    for (std::size_t done = 0; done < total;) {
        const std::size_t first = done / page_size, skip = done % page_size;
        int count = 0;
        for (std::size_t i = first; i < into.size(); ++i, ++count) {
            const std::size_t from = i == first ? skip : 0;
            iov[count].iov_base = into[i] + from;
            iov[count].iov_len = page_size - from;
        }
        ssize_t n;
        do {
            n = ::preadv(fd, iov.data(), count, static_cast<off_t>(offset + done));
        } while (n < 0 && errno == EINTR);
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Made resident at once: touching each fresh page would fault once per page, and
// each fault is costly (on virtual machines above all). Large chunks ask for huge
// pages (one fault per 2 MB where the system grants them; the frames of a chunk
// are all used as the cache fills, so little is wasted). Both requests are advice:
// a system that ignores them leaves the pages to be faulted in as before.
std::uint8_t* Map(std::size_t bytes, bool populate) {
    void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
#ifdef MADV_HUGEPAGE
    ::madvise(p, bytes, MADV_HUGEPAGE);
#endif
#ifdef MADV_POPULATE_WRITE
    if (populate) ::madvise(p, bytes, MADV_POPULATE_WRITE);
#endif
    return static_cast<std::uint8_t*>(p);
}

void Unmap(std::uint8_t* p, std::size_t bytes) {
    ::munmap(p, bytes);
}

void TrimHeap() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

}  // namespace jet::system_io
