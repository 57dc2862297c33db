// Page access by number over a file or an in-memory image, with a bounded cache.
// Files are read with positioned reads (no shared file position); a run of
// consecutive pages read in order is fetched with one read per kRunPages pages. On
// request a page read out of order brings the aligned block of kBlockPages around
// it into the cache: readers that jump about within regions the cache can hold
// (long values followed from rows in a file written in row order) then read each
// block once instead of each page alone. A reader that knows which pages it will
// need (a table's usage maps list them) plans them: each planned page then comes
// with the planned pages after it in one read, and no page around them is copied.
// Its implementation and compact/output_file*.cpp hold all of jet's calls to the system.
#pragma once

#include <array>
#include <cassert>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "jet/bytes.h"
#include "jet/format.h"
#include "jet/header.h"
#include "jet/page_overlay.h"

namespace jet {

inline constexpr std::uint32_t kNoPage = 0xFFFFFFFF;

// A cache frame: one page's bytes, the page it holds (kNoPage: none) and the Page
// handles that hold it. Reused for another page only when no handle holds it.
struct PageFrame {
    std::uint8_t* data = nullptr;
    std::uint32_t page = kNoPage;
    std::uint32_t pins = 0;
    std::uint32_t index = 0;  // in its cache
};

// One page's bytes, borrowed from the file's cache (or its in-memory image): they
// stay valid and unchanged while the Page is held, which pins the frame. A Page must
// not outlive its PageFile, nor be passed to another thread.
class Page {
  public:
    Page() = default;
    Page(const Page& o) : number_(o.number_), size_(o.size_), data_(o.data_), frame_(o.frame_) {
        if (frame_) ++frame_->pins;
    }
    Page(Page&& o) noexcept : number_(o.number_), size_(o.size_), data_(o.data_), frame_(o.frame_) {
        o.data_ = nullptr;
        o.size_ = 0;
        o.frame_ = nullptr;
    }
    Page& operator=(Page o) noexcept {
        std::swap(number_, o.number_);
        std::swap(size_, o.size_);
        std::swap(data_, o.data_);
        std::swap(frame_, o.frame_);
        return *this;
    }
    ~Page() {
        if (frame_) {
            assert(frame_->pins > 0 && frame_->page == number_);
            --frame_->pins;
        }
    }

    std::uint32_t number() const { return number_; }
    Bytes bytes() const { return Bytes(data_, size_); }
    std::uint8_t type() const { return size_ ? data_[kPageTypeAt] : 0xFF; }
    std::size_t size() const { return size_; }

  private:
    friend class PageFile;
    // Takes over one pin of `frame` (null: bytes of the in-memory image).
    Page(std::uint32_t number, const std::uint8_t* data, std::uint32_t size, PageFrame* frame)
        : number_(number), size_(size), data_(data), frame_(frame) {}

    std::uint32_t number_ = 0;
    std::uint32_t size_ = 0;
    const std::uint8_t* data_ = nullptr;
    PageFrame* frame_ = nullptr;
};

class PageCache;
struct FileImage;

class PageFile {
  public:
    ~PageFile();
    PageFile(const PageFile&) = delete;
    PageFile& operator=(const PageFile&) = delete;

    // Opens a file read-only. The header is decoded; a refused file still opens so
    // that its format and refusal can be shown, but pages can only be read from a
    // file without refusal. With an `overlay`, the file is read as the overlay sees
    // it: its pages and size, the header's too.
    static std::unique_ptr<PageFile> Open(const std::filesystem::path& path, std::string* error,
                                          std::shared_ptr<const PageOverlay> overlay = nullptr);
    // Uses an in-memory image (fuzzing, tests).
    static std::unique_ptr<PageFile> FromMemory(std::vector<std::uint8_t> image);

    const HeaderResult& header_result() const { return header_; }
    // The overlay it was opened with (null: none), for other handles on the same view.
    const std::shared_ptr<const PageOverlay>& overlay() const { return overlay_; }
    const Header& header() const { return header_.header; }
    Format format() const { return header_.header.format; }
    bool jet3() const { return header_.header.format == Format::Jet3; }
    std::uint32_t page_size() const { return header_.header.page_size; }
    std::uint32_t page_count() const { return header_.header.page_count; }

    // Reads page n; throws FormatError when n is outside the file.
    Page Read(std::uint32_t n);
    bool Contains(std::uint32_t n) const { return n < page_count(); }

    // Pages fetched from the file so far (pages found in the cache are not counted).
    std::uint64_t pages_read() const { return pages_read_; }
    // Reads asked of the system so far (one the system answers in parts counts once).
    std::uint64_t read_calls() const { return read_calls_; }

    // Number of pages kept in memory at most (more only while readers hold more
    // Pages than that). Frames are allocated as the cache fills, up to the file's
    // size. REQUIRES: no Page of this file held (the cache is made anew).
    void set_cache_capacity(std::size_t pages);

    // Pages read out of order bring their block along (see above). Only with a cache
    // of at least kBlockMinCache pages, so that a block's pages evict few others.
    void set_block_reads(bool on) { block_reads_ = on; }
    bool block_reads() const { return block_reads_; }

    // Pages a reader is about to ask for (a hint: it replaces the plan before it;
    // empty lists drop it; what is read never depends on it). A planned page that is
    // not cached is read together with the pages of its list that follow it, in one
    // read that may step over up to kPlanGap pages outside it (read, not kept):
    // `in_order` are asked for in about their order (a table's data pages, a sorted
    // batch), so reads span up to kRunPages; `nearby` are asked for jumping about
    // (long values followed from rows), some perhaps never, so reads span up to
    // kBlockPages. Other pages are read as before.
    void PlanReads(std::vector<std::uint32_t> in_order, std::vector<std::uint32_t> nearby = {});

    // Reads the whole file into memory once (resident at once, in huge pages where the
    // system grants them) and serves every page from there: no cache frames, no copy
    // per page read. For a small file that is read all over: the verification's new
    // file, which the caller keeps within a bound. Read with ordinary reads rather than
    // mapped: a read error, or a file cut short by someone else, then fails as an
    // error instead of ending the process. When `like` has loaded the same file, its
    // copy is shared (read-only: both may read at once from their own threads). False
    // when the file could not be read whole: it is then read through the cache, whose
    // reads report the error. False for a file read through an overlay (nothing
    // loads one whole).
    // REQUIRES: no Page of this file held; `like` is not being loaded meanwhile.
    bool set_loaded(const PageFile* like = nullptr);
    bool loaded() const { return image_whole_ != nullptr; }

  private:
    // The last pages fetched ahead for one sequential reader (they went to the
    // cache); a few of them let scans that alternate (rows and their long values)
    // each keep their own run.
    struct Run {
        std::uint32_t first = 0, count = 0;  // pages [first, first + count) read last
        std::uint64_t used = 0;              // last use, for replacement
    };
    // Pages planned, sorted, no repeats, and the pages one read of them spans at most.
    struct Plan {
        std::vector<std::uint32_t> pages;
        std::uint32_t span = 0;
    };
    // Up to this many pages per read (128 KB of Jet 4 pages): large enough that a
    // scan costs few system calls, small enough that a wrong guess costs little.
    static constexpr std::uint32_t kRunPages = 32, kFirstRunPages = 4;
    static constexpr std::size_t kRuns = 4;
    // 32 KB of Jet 4 pages: one read costs about as much as reading one page, and a
    // block is small beside a cache of kBlockMinCache pages, so a block whose other
    // pages are never asked for evicts little.
    static constexpr std::uint32_t kBlockPages = 8;
    static constexpr std::size_t kBlockMinCache = 512;
    // A read's fixed cost is several times that of each further 4 KB in it (jet/README.md,
    // "Measured costs"): stepping over a few unplanned pages is cheaper than a read of its
    // own for the next planned one.
    static constexpr std::uint32_t kPlanGap = 3;

    PageFile();
    // `size`: the file's own; `seen`: as the overlay sees it (else the same).
    void Init(std::uint64_t size, std::uint64_t seen);
    void ReadRaw(std::uint64_t offset, std::uint8_t* dst, std::size_t len);
    // Reads consecutive pages from `first` (the overlay's where it has them); false on a
    // read error or an early end.
    bool ReadPages(std::uint32_t first, std::span<std::uint8_t* const> into);
    // Reads page n (not cached) into dst: with the pages ahead when it continues a
    // run, else with its block when the cache can keep it, else alone.
    void Fetch(std::uint32_t n, std::uint8_t* dst);
    // When `plan` lists page n (not cached): reads it into dst with the planned
    // pages after it and returns true.
    bool FetchPlanned(const Plan& plan, std::uint32_t n, std::uint8_t* dst);
    // Reads pages [first, first + count) with one read, straight into their frames:
    // page n into dst, the others whose bit is set in `keep` (bit i: page first + i)
    // into the cache; those it holds already, and the others, are read into a
    // scratch page and dropped.
    void ReadSpan(std::uint32_t first, std::uint32_t count, std::uint32_t n, std::uint8_t* dst,
                  std::uint32_t keep = 0xFFFFFFFF);
    // The cache, made at the first read with the capacity then set.
    PageCache& cache();

    int fd_ = -1;
    std::shared_ptr<const PageOverlay> overlay_;
    int side_fd_ = -1;  // the overlay's side file
    // The whole file read into memory (set_loaded), shared with other readers of it.
    std::shared_ptr<const FileImage> image_whole_;
    std::vector<std::uint8_t> image_;
    bool in_memory_ = false;
    HeaderResult header_;
    std::unique_ptr<PageCache> cache_;
    std::size_t capacity_ = 16384;
    std::array<Run, kRuns> runs_;
    std::unique_ptr<std::uint8_t[]> scratch_;
    std::uint64_t clock_ = 0;
    std::uint32_t last_single_ = 0xFFFFFFFF;  // page of the last single-page read
    std::uint64_t pages_read_ = 0;
    std::uint64_t read_calls_ = 0;
    bool block_reads_ = false;
    Plan plan_, nearby_;  // see PlanReads
};

}  // namespace jet
