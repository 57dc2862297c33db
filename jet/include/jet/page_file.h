// Page access by number over a file or an in-memory image, with a bounded cache.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
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

    // Number of pages kept in memory at most.
    void set_cache_capacity(std::size_t pages) { capacity_ = pages ? pages : 1; }

  private:
    PageFile() = default;
    void Init(std::uint64_t size);
    void ReadRaw(std::uint64_t offset, std::uint8_t* dst, std::size_t len);

    std::ifstream in_;
    std::vector<std::uint8_t> image_;
    bool in_memory_ = false;
    HeaderResult header_;
    std::unordered_map<std::uint32_t, std::shared_ptr<const std::vector<std::uint8_t>>> cache_;
    std::vector<std::uint32_t> order_;  // insertion order ring for eviction
    std::size_t next_victim_ = 0;
    std::size_t capacity_ = 16384;
};

}  // namespace jet
