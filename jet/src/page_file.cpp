#include "jet/page_file.h"

#include "page_cache.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <malloc.h>
#include <share.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace jet {

// The file's calls to the system, one set per system.
namespace {

#ifdef _WIN32
// Others may read and write the file while it is read (the caller decides whether that is
// safe, as on Linux).
int OpenForReading(const std::filesystem::path& path) {
    int fd = -1;
    const errno_t rc = _wsopen_s(&fd, path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT,
                                 _SH_DENYNO, 0);
    if (rc != 0) errno = rc;
    return rc == 0 ? fd : -1;
}

void CloseFile(int fd) {
    _close(fd);
}

// Bytes read at `offset` (0 at the end of the file), or -1.
long long ReadAt(int fd, std::uint8_t* dst, std::size_t len, std::uint64_t offset) {
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(offset);
    where.OffsetHigh = static_cast<DWORD>(offset >> 32);
    // One call reads at most 1 GiB: ReadFile counts in 32 bits.
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(len, std::size_t{1} << 30));
    DWORD got = 0;
    if (ReadFile(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), dst, want, &got, &where))
        return got;
    return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
}

void* AlignedAlloc(std::size_t alignment, std::size_t size) {
    return _aligned_malloc(size, alignment);
}

void AlignedFree(void* memory) {
    _aligned_free(memory);
}
#else
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

// Bytes read at `offset` (0 at the end of the file), or -1.
long long ReadAt(int fd, std::uint8_t* dst, std::size_t len, std::uint64_t offset) {
    ssize_t n;
    do {
        n = ::pread(fd, dst, len, static_cast<off_t>(offset));
    } while (n < 0 && errno == EINTR);
    return n;
}

void* AlignedAlloc(std::size_t alignment, std::size_t size) {
    return std::aligned_alloc(alignment, size);
}

void AlignedFree(void* memory) {
    std::free(memory);
}
#endif

// Page-aligned, as the file's pages are.
PageFile::Buffer NewAlignedBuffer(std::size_t bytes) {
    void* mem = AlignedAlloc(4096, bytes);
    if (!mem) throw std::bad_alloc();
    return {static_cast<std::uint8_t*>(mem), [](std::uint8_t* m) { AlignedFree(m); }};
}

}  // namespace

std::unique_ptr<PageFile> PageFile::Open(const std::filesystem::path& path, std::string* error) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        if (error) *error = "'" + path.string() + "' is a directory, not a database file";
        return nullptr;
    }
    auto size = std::filesystem::file_size(path, ec);
    if (ec) {
        if (error) *error = "cannot read '" + path.string() + "': " + ec.message();
        return nullptr;
    }
    std::unique_ptr<PageFile> f(new PageFile);
    f->fd_ = OpenForReading(path);
    if (f->fd_ < 0) {
        if (error)
            *error = "cannot open '" + path.string() + "' for reading: " + std::strerror(errno);
        return nullptr;
    }
    f->Init(size);
    return f;
}

PageFile::PageFile() = default;

PageFile::~PageFile() {
    if (fd_ >= 0) CloseFile(fd_);
}

void PageFile::set_cache_capacity(std::size_t pages) {
    capacity_ = pages ? pages : 1;
    if (!cache_) return;
    // A held Page points into the old cache's frames: keep that cache then, rather
    // than free its frames under the reader (only a misuse gets here).
    assert(!cache_->AnyPinned());
    if (!cache_->AnyPinned()) cache_.reset();
}

PageCache& PageFile::cache() {
    if (!cache_) cache_ = std::make_unique<PageCache>(page_size(), capacity_);
    return *cache_;
}

std::unique_ptr<PageFile> PageFile::FromMemory(std::vector<std::uint8_t> image) {
    std::unique_ptr<PageFile> f(new PageFile);
    f->in_memory_ = true;
    f->image_ = std::move(image);
    f->Init(f->image_.size());
    return f;
}

void PageFile::Init(std::uint64_t size) {
    std::vector<std::uint8_t> first(static_cast<std::size_t>(std::min<std::uint64_t>(size, 4096)));
    if (!first.empty()) ReadRaw(0, first.data(), first.size());
    header_ = DecodeHeader(first, size);
}

void PageFile::ReadRaw(std::uint64_t offset, std::uint8_t* dst, std::size_t len) {
    if (in_memory_) {
        if (offset > image_.size() || len > image_.size() - offset)
            ThrowFormat("read past the end of the file");
        std::memcpy(dst, image_.data() + offset, len);
        return;
    }
    std::size_t done = 0;
    while (done < len) {
        const long long n = ReadAt(fd_, dst + done, len - done, offset + done);
        if (n <= 0) ThrowFormat("read error or unexpected end of file");
        done += static_cast<std::size_t>(n);
    }
}

void PageFile::Fetch(std::uint32_t n, std::uint8_t* dst) {
    const std::size_t ps = page_size();
    ++clock_;
    Run* follow = nullptr;
    for (Run& r : runs_) {
        if (r.count && n >= r.first && n < r.first + r.count) {
            r.used = clock_;
            std::memcpy(dst, r.bytes.get() + std::size_t{n - r.first} * ps, ps);
            return;
        }
        if (r.count && n == r.first + r.count) follow = &r;
    }
    // A page right after a run, or right after the last single read, starts (or
    // continues) a sequential scan: fetch the pages ahead with it.
    if (!follow && n != last_single_ + 1) {
        if (block_reads_ && capacity_ >= kBlockMinCache) return FetchBlock(n, dst);
        last_single_ = n;
        ReadRaw(std::uint64_t{n} * ps, dst, ps);
        return;
    }
    // A scan's first run is short; each run it reads to the end doubles the next,
    // so pages read ahead and never used stay few.
    std::uint32_t want = follow ? std::min(kRunPages, follow->count * 2) : kFirstRunPages;
    if (!follow) {
        follow = &runs_[0];
        for (Run& r : runs_)
            if (r.used < follow->used) follow = &r;
    }
    if (!follow->bytes) follow->bytes = NewAlignedBuffer(std::size_t{kRunPages} * ps);
    follow->count = 0;  // nothing valid while it is refilled
    std::uint32_t count = std::min<std::uint32_t>(want, page_count() - n);
    ReadRaw(std::uint64_t{n} * ps, follow->bytes.get(), std::size_t{count} * ps);
    follow->first = n;
    follow->count = count;
    follow->used = clock_;
    std::memcpy(dst, follow->bytes.get(), ps);
}

void PageFile::FetchBlock(std::uint32_t n, std::uint8_t* dst) {
    const std::size_t ps = page_size();
    const std::uint32_t first = n - n % kBlockPages;
    const std::uint32_t count = std::min<std::uint32_t>(kBlockPages, page_count() - first);
    if (!block_) block_ = NewAlignedBuffer(std::size_t{kBlockPages} * ps);
    ReadRaw(std::uint64_t{first} * ps, block_.get(), std::size_t{count} * ps);
    // A scan that goes on past the block continues with a run.
    last_single_ = first + count - 1;
    PageCache& c = cache();
    for (std::uint32_t p = first; p < first + count; ++p) {
        const std::uint8_t* bytes = block_.get() + std::size_t{p - first} * ps;
        if (p == n) {
            std::memcpy(dst, bytes, ps);
        } else if (!c.Find(p)) {
            PageFrame* frame = c.Take();
            std::memcpy(frame->data, bytes, ps);
            ++pages_read_;
            c.Insert(p, frame);
            c.Release(frame);
        }
    }
}

Page PageFile::Read(std::uint32_t n) {
    if (page_size() == 0 || n >= page_count())
        ThrowFormat("page " + std::to_string(n) + " lies outside the file (" +
                    std::to_string(page_count()) + " pages)");
    if (in_memory_) {
        // The image is the file: its bytes are lent out as they are.
        if (std::size_t{n + 1} * page_size() > image_.size())
            ThrowFormat("read past the end of the file");
        ++pages_read_;
        return Page(n, image_.data() + std::size_t{n} * page_size(), page_size(), nullptr);
    }
    PageCache& c = cache();
    if (PageFrame* hit = c.Find(n)) {
        ++hit->pins;
        return Page(n, hit->data, page_size(), hit);
    }
    // Pinned while it is filled, so that a block read alongside cannot take it.
    PageFrame* frame = c.Take();
    try {
        Fetch(n, frame->data);
    } catch (...) {
        c.Release(frame);
        throw;
    }
    ++pages_read_;
    c.Insert(n, frame);
    return Page(n, frame->data, page_size(), frame);
}

}  // namespace jet
