#include "jet/page_file.h"

#include "page_cache.h"
#include "jet/resident_pool.h"
#include "jet/resident_buffer.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <malloc.h>
#include <share.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <array>
#include <cassert>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <span>
#include <system_error>
#include <utility>

namespace jet {

namespace {

// Pages one read brings in at most: a run or a block.
constexpr std::size_t kMaxPagesPerRead = 32;

}  // namespace

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

std::uint8_t* SystemMap(std::size_t bytes, bool) {
    return static_cast<std::uint8_t*>(
        VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
}

void SystemUnmap(std::uint8_t* p, std::size_t) {
    VirtualFree(p, 0, MEM_RELEASE);
}

// Not told apart on this system: each reader loads a file of its own.
bool SameFile(int, int) {
    return false;
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

// Consecutive pages of `page_size` bytes from `offset` into `into`; false on a read
// error or an early end. Read at once into one buffer, then spread out.
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

// Made resident at once: touching each fresh page would fault once per page, and
// each fault is costly (on virtual machines above all). Large chunks ask for huge
// pages (one fault per 2 MB where the system grants them; the frames of a chunk
// are all used as the cache fills, so little is wasted). Both requests are advice:
// a system that ignores them leaves the pages to be faulted in as before.
std::uint8_t* SystemMap(std::size_t bytes, bool populate) {
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

void SystemUnmap(std::uint8_t* p, std::size_t bytes) {
    ::munmap(p, bytes);
}

bool SameFile(int a, int b) {
    struct stat sa {}, sb {};
    return ::fstat(a, &sa) == 0 && ::fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// Bytes read at `offset` (0 at the end of the file), or -1.
long long ReadAt(int fd, std::uint8_t* dst, std::size_t len, std::uint64_t offset) {
    ssize_t n;
    do {
        n = ::pread(fd, dst, len, static_cast<off_t>(offset));
    } while (n < 0 && errno == EINTR);
    return n;
}

// Consecutive pages of `page_size` bytes from `offset` into `into` with one
// scattering read (more only when the system returns less); false on a read error
// or an early end.
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
#endif

// Blocks given back are kept for the next request of the same size up to this much:
// the writer's buffers (8 MB) and a table's row map or a cache's largest chunk (2-4
// MB) are then made again without clearing. The pool never makes the process larger
// than it would be without it (resident_pool.h).
constexpr std::size_t kPoolBytes = std::size_t{16} << 20;

ResidentPool& Pool() {
    static ResidentPool pool(kPoolBytes, SystemUnmap);
    return pool;
}

// Large blocks from the pool or the system; see SystemMap. A block from the pool is
// handed out as it was given back (resident, not cleared).
std::uint8_t* MapFrames(std::size_t bytes, bool populate = true) {
    if (std::uint8_t* p = Pool().Take(bytes)) return p;
    return SystemMap(bytes, populate);
}

void UnmapFrames(std::uint8_t* p, std::size_t bytes) {
    Pool().Give(p, bytes);
}

}  // namespace

// A whole file's bytes, read once, freed when its last reader goes. Held in huge-page
// pieces rather than one block: blocks of that size given back earlier (the writer's
// buffers, row maps) are then taken again instead of fresh memory. A piece holds
// whole pages of either page size.
struct FileImage {
    static constexpr std::size_t kPieceBytes = kResidentHugeBytes;
    static_assert(kPieceBytes % kJet3PageSize == 0 && kPieceBytes % kJet4PageSize == 0);

    explicit FileImage(std::uint64_t size) : bytes(size) {
        for (std::uint64_t at = 0; at < size; at += kPieceBytes) pieces.emplace_back(kPieceBytes);
    }
    // The bytes from `offset` to the end of its piece (filled once, then lent to
    // readers as Pages). REQUIRES: offset inside the file
    std::uint8_t* At(std::uint64_t offset) const {
        assert(offset < bytes);
        return pieces[offset / kPieceBytes].data() + offset % kPieceBytes;
    }
    std::vector<ResidentBuffer> pieces;
    const std::uint64_t bytes;
};

std::uint8_t* AllocateResident(std::size_t bytes, bool populate) {
    assert(bytes % kResidentHugeBytes == 0);
    return MapFrames(bytes, populate);
}

void FreeResident(std::uint8_t* p, std::size_t bytes) {
    UnmapFrames(p, bytes);
}

ResidentBuffer::ResidentBuffer(std::size_t bytes) {
    if (const std::size_t rounded = ResidentBytesFor(bytes)) {
        data_ = AllocateResident(rounded, true);
        if (!data_) throw std::bad_alloc();
        size_ = rounded;
        mapped_ = true;
    } else if (bytes > 0) {
        data_ = new std::uint8_t[bytes];
        size_ = bytes;
    }
}

ResidentBuffer::~ResidentBuffer() {
    Free();
}

ResidentBuffer::ResidentBuffer(ResidentBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      mapped_(std::exchange(other.mapped_, false)) {}

ResidentBuffer& ResidentBuffer::operator=(ResidentBuffer&& other) noexcept {
    if (this != &other) {
        Free();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        mapped_ = std::exchange(other.mapped_, false);
    }
    return *this;
}

void ResidentBuffer::Free() {
    if (mapped_)
        FreeResident(data_, size_);
    else
        delete[] data_;
    data_ = nullptr;
    size_ = 0;
    mapped_ = false;
}

FrameChunk::FrameChunk(std::size_t size) : data(MapFrames(size)), bytes(size) {
    if (!data) throw std::bad_alloc();
}

FrameChunk::~FrameChunk() {
    UnmapFrames(data, bytes);
}

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

bool PageFile::set_loaded(const PageFile* like) {
    if (image_whole_) return true;
    if (in_memory_ || fd_ < 0 || page_size() == 0) return false;
    const std::uint64_t bytes = std::uint64_t{page_count()} * page_size();
    if (bytes == 0 || bytes > std::numeric_limits<std::size_t>::max()) return false;
    if (like && like->image_whole_ && like->image_whole_->bytes == bytes && SameFile(fd_, like->fd_)) {
        image_whole_ = like->image_whole_;
    } else {
        auto image = std::make_shared<FileImage>(bytes);
        // A read error leaves the file to the cache, whose reads report it page by page.
        for (std::uint64_t done = 0; done < bytes;) {
            const std::uint64_t piece_end =
                std::min(bytes, (done / FileImage::kPieceBytes + 1) * FileImage::kPieceBytes);
            const long long n =
                ReadAt(fd_, image->At(done), static_cast<std::size_t>(piece_end - done), done);
            ++read_calls_;
            if (n <= 0) return false;
            done += static_cast<std::uint64_t>(n);
        }
        image_whole_ = std::move(image);
    }
    // Pages read before are no longer needed; a held one keeps its frame.
    if (cache_ && !cache_->AnyPinned()) cache_.reset();
    return true;
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
    // Never more frames than the file has pages: its frames are made resident a
    // chunk at a time, so room beyond the file's size would be memory paid for nothing.
    if (!cache_)
        cache_ = std::make_unique<PageCache>(
            page_size(), std::min<std::size_t>(capacity_, std::max<std::uint32_t>(page_count(), 1)));
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
    ++read_calls_;
    std::size_t done = 0;
    while (done < len) {
        const long long n = ReadAt(fd_, dst + done, len - done, offset + done);
        if (n <= 0) ThrowFormat("read error or unexpected end of file");
        done += static_cast<std::size_t>(n);
    }
}

void PageFile::PlanReads(std::vector<std::uint32_t> in_order, std::vector<std::uint32_t> nearby) {
    auto plan = [this](std::vector<std::uint32_t> pages, std::uint32_t span) {
        if (in_memory_ || image_whole_) pages.clear();  // nothing is read page by page
        if (!std::is_sorted(pages.begin(), pages.end())) std::sort(pages.begin(), pages.end());
        pages.erase(std::unique(pages.begin(), pages.end()), pages.end());
        return Plan{std::move(pages), span};
    };
    plan_ = plan(std::move(in_order), kRunPages);
    nearby_ = plan(std::move(nearby), kBlockPages);
}

bool PageFile::FetchPlanned(const Plan& plan, std::uint32_t n, std::uint8_t* dst) {
    const auto at = std::lower_bound(plan.pages.begin(), plan.pages.end(), n);
    if (at == plan.pages.end() || *at != n) return false;
    // The planned pages ahead within the span (which takes at most a quarter of the
    // cache, as a run does), ending with one to keep; those cached are passed over.
    const std::uint32_t span = static_cast<std::uint32_t>(
        std::min<std::size_t>(plan.span, std::max<std::size_t>(1, capacity_ / 4)));
    PageCache& c = cache();
    std::uint32_t keep = 1, count = 1;
    for (auto next = at + 1; next != plan.pages.end(); ++next) {
        const std::uint32_t offset = *next - n;
        if (offset >= span || *next - (n + count - 1) > kPlanGap + 1) break;
        if (c.Find(*next)) continue;
        keep |= std::uint32_t{1} << offset;
        count = offset + 1;
    }
    ReadSpan(n, count, n, dst, keep);
    return true;
}

void PageFile::Fetch(std::uint32_t n, std::uint8_t* dst) {
    const std::size_t ps = page_size();
    if (FetchPlanned(plan_, n, dst) || FetchPlanned(nearby_, n, dst)) return;
    ++clock_;
    Run* follow = nullptr;
    for (Run& r : runs_)
        if (r.count && n == r.first + r.count) follow = &r;
    // A page right after a run, or right after the last single read, starts (or
    // continues) a sequential scan: fetch the pages ahead with it.
    if (!follow && n != last_single_ + 1) {
        if (block_reads_ && capacity_ >= kBlockMinCache) {
            // The aligned block around n; a scan that goes on past it continues
            // with a run.
            const std::uint32_t first = n - n % kBlockPages;
            const std::uint32_t count = std::min<std::uint32_t>(kBlockPages, page_count() - first);
            ReadSpan(first, count, n, dst);
            last_single_ = first + count - 1;
            return;
        }
        last_single_ = n;
        ReadRaw(std::uint64_t{n} * ps, dst, ps);
        return;
    }
    // A scan's first run is short; each run it reads to the end doubles the next,
    // so pages read ahead and never used stay few. The pages read ahead wait in the
    // cache, so a run takes at most a quarter of it: a few scans that alternate
    // (rows and their long values) do not evict each other's pages before use.
    std::uint32_t want = follow ? std::min(kRunPages, follow->count * 2) : kFirstRunPages;
    want = static_cast<std::uint32_t>(
        std::min<std::size_t>(want, std::max<std::size_t>(1, capacity_ / 4)));
    if (!follow) {
        follow = &runs_[0];
        for (Run& r : runs_)
            if (r.used < follow->used) follow = &r;
    }
    const std::uint32_t count = std::min<std::uint32_t>(want, page_count() - n);
    follow->count = 0;  // nothing valid if the read fails
    ReadSpan(n, count, n, dst);
    follow->first = n;
    follow->count = count;
    follow->used = clock_;
}

void PageFile::ReadSpan(std::uint32_t first, std::uint32_t count, std::uint32_t n,
                        std::uint8_t* dst, std::uint32_t keep) {
    static_assert(kRunPages <= kMaxPagesPerRead && kBlockPages <= kMaxPagesPerRead);
    static_assert(kMaxPagesPerRead <= 32, "`keep` has a bit for each page of a read");
    assert(!in_memory_ && count <= kMaxPagesPerRead && n >= first && n < first + count);
    PageCache& c = cache();
    std::array<std::uint8_t*, kMaxPagesPerRead> into;
    std::array<PageFrame*, kMaxPagesPerRead> taken{};
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t p = first + i;
        if (p == n) {
            into[i] = dst;
        } else if (!(keep >> i & 1) || c.Find(p)) {
            // Not wanted, or cached already: read into a scratch page and dropped.
            if (!scratch_) scratch_ = std::make_unique_for_overwrite<std::uint8_t[]>(page_size());
            into[i] = scratch_.get();
        } else {
            taken[i] = c.Take();
            into[i] = taken[i]->data;
        }
    }
    ++read_calls_;
    const bool ok = ReadPagesAt(fd_, std::span(into.data(), count), page_size(),
                                std::uint64_t{first} * page_size());
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!taken[i]) continue;
        if (ok) {
            c.Insert(first + i, taken[i]);
            ++pages_read_;
        }
        c.Release(taken[i]);
    }
    if (!ok) ThrowFormat("read error or unexpected end of file");
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
    if (image_whole_) {
        ++pages_read_;
        return Page(n, image_whole_->At(std::uint64_t{n} * page_size()), page_size(), nullptr);
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
