// Page access by number over a file or an in-memory image, with a bounded cache.
// Files are read with positioned reads (no shared file position); a run of
// consecutive pages read in order is fetched with one read per kRunPages pages. On
// request a page read out of order brings the aligned block of kBlockPages around
// it into the cache: readers that jump about within regions the cache can hold
// (long values followed from rows in a file written in row order) then read each
// block once instead of each page alone.
// Its implementation and compact/output_file*.cpp hold all of jet's calls to the system.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <unordered_map>
#include <vector>

#include "jet/bytes.h"
#include "jet/format.h"
#include "jet/header.h"

namespace jet {

// One page's bytes, shared with the cache; stays valid while held.
class Page {
  public:
    Page() = default;
    Page(std::uint32_t number, std::shared_ptr<const std::vector<std::uint8_t>> data)
        : number_(number), data_(std::move(data)) {}
    std::uint32_t number() const { return number_; }
    Bytes bytes() const { return data_ ? Bytes(*data_) : Bytes(); }
    std::uint8_t type() const { return data_ && !data_->empty() ? (*data_)[kPageTypeAt] : 0xFF; }
    std::size_t size() const { return data_ ? data_->size() : 0; }

  private:
    std::uint32_t number_ = 0;
    std::shared_ptr<const std::vector<std::uint8_t>> data_;
};

class PageFile {
  public:
    ~PageFile();
    PageFile(const PageFile&) = delete;
    PageFile& operator=(const PageFile&) = delete;

    // Opens a file read-only. The header is decoded; a refused file still opens so
    // that its format and refusal can be shown, but pages can only be read from a
    // file without refusal.
    static std::unique_ptr<PageFile> Open(const std::filesystem::path& path, std::string* error);
    // Uses an in-memory image (fuzzing, tests).
    static std::unique_ptr<PageFile> FromMemory(std::vector<std::uint8_t> image);

    const HeaderResult& header_result() const { return header_; }
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

    // Number of pages kept in memory at most.
    void set_cache_capacity(std::size_t pages) { capacity_ = pages ? pages : 1; }

    // Pages read out of order bring their block along (see above). Only with a cache
    // of at least kBlockMinCache pages, so that a block's pages evict few others.
    void set_block_reads(bool on) { block_reads_ = on; }

    // Bytes read at once (runs, blocks), freed by the deleter they come with.
    using Buffer = std::unique_ptr<std::uint8_t, void (*)(std::uint8_t*)>;

  private:
    // Pages fetched ahead for one sequential reader; a few of them let scans that
    // alternate (rows and their long values) each keep their own run.
    struct Run {
        std::uint32_t first = 0, count = 0;  // pages [first, first + count) held
        std::uint64_t used = 0;              // last use, for replacement
        Buffer bytes{nullptr, nullptr};
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

    PageFile() = default;
    void Init(std::uint64_t size);
    void ReadRaw(std::uint64_t offset, std::uint8_t* dst, std::size_t len);
    // Copies page n into dst, from a run when one holds it or follows on to it, else
    // with its block when the cache can keep it.
    void Fetch(std::uint32_t n, std::uint8_t* dst);
    // Reads the aligned block of page n, copies page n to dst and caches the others.
    void FetchBlock(std::uint32_t n, std::uint8_t* dst);
    // A buffer for a page about to enter the cache (one evicted, when the cache is
    // full); the page is cached with Insert.
    std::shared_ptr<std::vector<std::uint8_t>> MakeRoom(std::uint32_t n);
    void Insert(std::uint32_t n, std::shared_ptr<std::vector<std::uint8_t>> buf);

    int fd_ = -1;
    std::vector<std::uint8_t> image_;
    bool in_memory_ = false;
    HeaderResult header_;
    std::unordered_map<std::uint32_t, std::shared_ptr<const std::vector<std::uint8_t>>> cache_;
    std::vector<std::uint32_t> order_;  // insertion order ring for eviction
    std::size_t next_victim_ = 0;
    std::size_t capacity_ = 16384;
    std::array<Run, kRuns> runs_;
    Buffer block_{nullptr, nullptr};
    std::uint64_t clock_ = 0;
    std::uint32_t last_single_ = 0xFFFFFFFF;  // page of the last single-page read
    std::uint64_t pages_read_ = 0;
    bool block_reads_ = false;
};

}  // namespace jet
