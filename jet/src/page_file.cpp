#include "jet/page_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstdlib>
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
    do {
        f->fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (f->fd_ < 0 && errno == EINTR);
    if (f->fd_ < 0) {
        if (error)
            *error = "cannot open '" + path.string() + "' for reading: " + std::strerror(errno);
        return nullptr;
    }
    f->Init(size);
    return f;
}

PageFile::~PageFile() {
    if (fd_ >= 0) ::close(fd_);
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
        ssize_t n = ::pread(fd_, dst + done, len - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
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
    if (!follow->bytes) {
        // Page-aligned, as the file's pages are.
        void* mem = std::aligned_alloc(4096, std::size_t{kRunPages} * ps);
        if (!mem) throw std::bad_alloc();
        follow->bytes = {static_cast<std::uint8_t*>(mem),
                         [](std::uint8_t* m) { std::free(m); }};
    }
    follow->count = 0;  // nothing valid while it is refilled
    std::uint32_t count = std::min<std::uint32_t>(want, page_count() - n);
    ReadRaw(std::uint64_t{n} * ps, follow->bytes.get(), std::size_t{count} * ps);
    follow->first = n;
    follow->count = count;
    follow->used = clock_;
    std::memcpy(dst, follow->bytes.get(), ps);
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
    if (in_memory_)
        ReadRaw(std::uint64_t{n} * page_size(), buf->data(), buf->size());
    else
        Fetch(n, buf->data());
    cache_.emplace(n, buf);
    assert(buf->size() == page_size() && cache_.size() <= capacity_);
    return Page(n, std::move(buf));
}

}  // namespace jet
