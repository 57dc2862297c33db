#include "jet/page_file.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <system_error>

namespace jet {

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
    f->in_.open(path, std::ios::binary);
    if (!f->in_) {
        if (error) *error = "cannot open '" + path.string() + "' for reading";
        return nullptr;
    }
    f->Init(size);
    return f;
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
    in_.clear();
    in_.seekg(static_cast<std::streamoff>(offset));
    in_.read(reinterpret_cast<char*>(dst), static_cast<std::streamsize>(len));
    if (static_cast<std::size_t>(in_.gcount()) != len)
        ThrowFormat("read error or unexpected end of file");
}

Page PageFile::Read(std::uint32_t n) {
    if (page_size() == 0 || n >= page_count())
        ThrowFormat("page " + std::to_string(n) + " lies outside the file (" +
                    std::to_string(page_count()) + " pages)");
    auto it = cache_.find(n);
    if (it != cache_.end()) return Page(n, it->second);
    // A page evicted from the cache that nobody holds any more lends its buffer to
    // the new page, which saves an allocation and a clearing per read on long scans.
    std::shared_ptr<std::vector<std::uint8_t>> buf;
    if (cache_.size() >= capacity_ && !order_.empty()) {
        // Evict in insertion order (a ring): cheap and good enough for scans.
        std::size_t i = next_victim_ % order_.size();
        auto victim = cache_.find(order_[i]);
        if (victim != cache_.end()) {
            if (victim->second.use_count() == 1)
                buf = std::const_pointer_cast<std::vector<std::uint8_t>>(victim->second);
            cache_.erase(victim);
        }
        order_[i] = n;
        next_victim_ = i + 1;
    } else {
        order_.push_back(n);
    }
    if (!buf || buf->size() != page_size())
        buf = std::make_shared<std::vector<std::uint8_t>>(page_size());
    ReadRaw(std::uint64_t{n} * page_size(), buf->data(), buf->size());
    cache_.emplace(n, buf);
    assert(buf->size() == page_size() && cache_.size() <= capacity_);
    return Page(n, std::move(buf));
}

}  // namespace jet
