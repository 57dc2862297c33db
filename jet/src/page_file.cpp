#include "jet/page_file.h"

#include "jet/resident_buffer.h"
#include "page_cache.h"
#include "system_io.h"

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

using system_io::kMaxPagesPerRead;

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

std::unique_ptr<PageFile> PageFile::Open(const std::filesystem::path& path, std::string* error,
                                         std::shared_ptr<const PageOverlay> overlay) {
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
    f->fd_ = system_io::OpenForReading(path);
    if (f->fd_ < 0) {
        if (error)
            *error = "cannot open '" + path.string() + "' for reading: " + std::strerror(errno);
        return nullptr;
    }
    std::uint64_t seen = size;
    if (overlay) {
        f->side_fd_ = system_io::OpenForReading(overlay->side);
        if (f->side_fd_ < 0) {
            if (error)
                *error = "cannot open '" + overlay->side.string() +
                         "' for reading: " + std::strerror(errno);
            return nullptr;
        }
        seen = std::uint64_t{overlay->page_count} * overlay->page_size;
        f->overlay_ = std::move(overlay);
    }
    f->Init(size, seen);
    if (f->overlay_ && f->header_.refusal == Refusal::None &&
        f->page_size() != f->overlay_->page_size) {
        if (error) *error = "the changed pages of '" + path.string() + "' are not of its page size";
        return nullptr;
    }
    return f;
}

PageFile::PageFile() = default;

PageFile::~PageFile() {
    if (fd_ >= 0) system_io::CloseFile(fd_);
    if (side_fd_ >= 0) system_io::CloseFile(side_fd_);
}

bool PageFile::set_loaded(const PageFile* like) {
    if (image_whole_) return true;
    if (in_memory_ || fd_ < 0 || overlay_ || page_size() == 0) return false;
    const std::uint64_t bytes = std::uint64_t{page_count()} * page_size();
    if (bytes == 0 || bytes > std::numeric_limits<std::size_t>::max()) return false;
    if (like && like->image_whole_ && like->image_whole_->bytes == bytes &&
        system_io::SameFile(fd_, like->fd_)) {
        image_whole_ = like->image_whole_;
    } else {
        auto image = std::make_shared<FileImage>(bytes);
        // A read error leaves the file to the cache, whose reads report it page by page.
        for (std::uint64_t done = 0; done < bytes;) {
            const std::uint64_t piece_end =
                std::min(bytes, (done / FileImage::kPieceBytes + 1) * FileImage::kPieceBytes);
            const long long n = system_io::ReadAt(fd_, image->At(done),
                                                  static_cast<std::size_t>(piece_end - done), done);
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
            page_size(),
            std::min<std::size_t>(capacity_, std::max<std::uint32_t>(page_count(), 1)));
    return *cache_;
}

std::unique_ptr<PageFile> PageFile::FromMemory(std::vector<std::uint8_t> image) {
    std::unique_ptr<PageFile> f(new PageFile);
    f->in_memory_ = true;
    f->image_ = std::move(image);
    f->Init(f->image_.size(), f->image_.size());
    return f;
}

void PageFile::Init(std::uint64_t size, std::uint64_t seen) {
    std::vector<std::uint8_t> first(static_cast<std::size_t>(std::min<std::uint64_t>(size, 4096)));
    if (!first.empty()) ReadRaw(0, first.data(), first.size());
    if (overlay_ && overlay_->Replaces(0)) {
        // Page 0 is the first page replaced; the bytes after it are not the header's.
        first.resize(std::min<std::size_t>(first.size(), overlay_->page_size));
        for (std::size_t done = 0; done < first.size();) {
            const long long n = system_io::ReadAt(side_fd_, first.data() + done, first.size() - done,
                                                  overlay_->ReplacedAt(0) + done);
            if (n <= 0) ThrowFormat("read error or unexpected end of file");
            done += static_cast<std::size_t>(n);
        }
    }
    header_ = DecodeHeader(first, seen);
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
        const long long n = system_io::ReadAt(fd_, dst + done, len - done, offset + done);
        if (n <= 0) ThrowFormat("read error or unexpected end of file");
        done += static_cast<std::size_t>(n);
    }
}

bool PageFile::ReadPages(std::uint32_t first, std::span<std::uint8_t* const> into) {
    const std::size_t ps = page_size();
    if (!overlay_) return system_io::ReadPagesAt(fd_, into, ps, std::uint64_t{first} * ps);
    const PageOverlay& o = *overlay_;
    const std::uint32_t count = static_cast<std::uint32_t>(into.size());
    // The file's own pages, then the pages added after them, then the own ones the
    // overlay replaces (read twice: few are, and reads stay as long as without them).
    const std::uint32_t own = first < o.base_pages ? std::min(count, o.base_pages - first) : 0;
    if (own && !system_io::ReadPagesAt(fd_, into.first(own), ps, std::uint64_t{first} * ps))
        return false;
    if (own < count && !system_io::ReadPagesAt(side_fd_, into.subspan(own), ps, o.AddedAt(first + own)))
        return false;
    for (auto at = std::lower_bound(o.replaced.begin(), o.replaced.end(), first);
         at != o.replaced.end() && *at < first + own; ++at) {
        std::uint8_t* const page[] = {into[*at - first]};
        if (!system_io::ReadPagesAt(side_fd_, page, ps, o.ReplacedAt(at - o.replaced.begin())))
            return false;
    }
    return true;
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
        ReadSpan(n, 1, n, dst);
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
    const bool ok = ReadPages(first, std::span(into.data(), count));
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
