#include "jet/compact/write_behind.h"

#include <cassert>
#include <cstring>
#include <exception>

namespace jet {

WriteBehind::WriteBehind(WriteFn write, SyncFn sync)
    : write_(std::move(write)), sync_(std::move(sync)), filling_(new Buffer) {
    thread_ = std::thread([this] { Run(); });
}

WriteBehind::~WriteBehind() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        stop_ = true;
    }
    has_work_.notify_all();
    thread_.join();
}

bool WriteBehind::Append(std::uint64_t offset, std::span<const std::uint8_t> bytes,
                         std::string* error) {
    if (failed_.load(std::memory_order_acquire)) {
        std::lock_guard<std::mutex> lock(mu_);
        return Report(error);
    }
    assert(bytes.size() <= kBufferBytes);
    if (!filling_ || filling_->used + bytes.size() > kBufferBytes) {
        std::unique_lock<std::mutex> lock(mu_);
        HandOff(lock);
        if (!Report(error)) return false;
    }
    Buffer& b = *filling_;
    if (!b.extents.empty() && b.extents.back().offset + b.extents.back().size == offset)
        b.extents.back().size += bytes.size();
    else
        b.extents.push_back({offset, bytes.size()});
    std::memcpy(b.bytes.data() + b.used, bytes.data(), bytes.size());
    b.used += bytes.size();
    return true;
}

bool WriteBehind::Drain(std::string* error) {
    std::unique_lock<std::mutex> lock(mu_);
    if (filling_ && filling_->used > 0) HandOff(lock);
    has_room_.wait(lock, [&] { return queued_.empty() && !writing_ && !sync_pending_; });
    return Report(error);
}

void WriteBehind::StartSync() {
    std::vector<std::unique_ptr<Buffer>> spare;
    {
        std::lock_guard<std::mutex> lock(mu_);
        // The buffers go back as they are written (see Run): whatever the caller reads
        // meanwhile takes their memory. A later Append makes them again.
        if (filling_ && filling_->used > 0) queued_.push_back(std::move(filling_));
        if (filling_) spare.push_back(std::move(filling_));
        for (auto& b : free_) spare.push_back(std::move(b));
        free_.clear();
        buffers_ -= static_cast<int>(spare.size());
        sync_pending_ = true;
    }
    has_work_.notify_one();
}

void WriteBehind::HandOff(std::unique_lock<std::mutex>& lock) {
    assert(lock.owns_lock());
    // Made before filling_ is given away, so that a failed allocation leaves it in place.
    std::unique_ptr<Buffer> next;
    if (free_.empty() && buffers_ < kMaxBuffers) {
        next = std::make_unique<Buffer>();
        ++buffers_;
    }
    if (filling_) {
        queued_.push_back(std::move(filling_));
        has_work_.notify_one();
    }
    if (!next) {
        // The writer gives every buffer back, written or (after a failure) dropped, or
        // lets it go while a sync is pending.
        has_room_.wait(lock, [&] { return !free_.empty() || buffers_ < kMaxBuffers; });
        if (!free_.empty()) {
            next = std::move(free_.back());
            free_.pop_back();
            next->used = 0;
            next->extents.clear();
        } else {
            next = std::make_unique<Buffer>();
            ++buffers_;
        }
    }
    filling_ = std::move(next);
}

bool WriteBehind::Report(std::string* error) const {
    if (!failed_.load(std::memory_order_relaxed)) return true;
    *error = error_;
    return false;
}

void WriteBehind::Run() {
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
        has_work_.wait(lock, [&] { return stop_ || !queued_.empty() || sync_pending_; });
        if (stop_) return;
        // Buffers first: a sync covers every write queued before it was asked for.
        std::unique_ptr<Buffer> b;
        if (!queued_.empty()) {
            b = std::move(queued_.front());
            queued_.pop_front();
        } else {
            sync_pending_ = false;
        }
        writing_ = true;
        const bool go = !failed_.load(std::memory_order_relaxed);
        lock.unlock();

        std::string err;
        bool ok = true;
        if (go) {
            try {
                ok = b ? WriteOut(*b, &err) : sync_(&err);
            } catch (const std::exception& e) {  // an error message that could not be made
                ok = false;
                err = e.what();
            }
        }

        lock.lock();
        if (!ok) {
            error_ = !err.empty() ? err : b ? "a write failed" : "the file could not be synced";
            failed_.store(true, std::memory_order_release);
        }
        writing_ = false;
        // Once a sync is asked for, no more writes are expected: a written buffer goes
        // back to the system rather than wait here unused.
        std::unique_ptr<Buffer> spare;
        if (b && sync_pending_) {
            spare = std::move(b);
            --buffers_;
        } else if (b) {
            free_.push_back(std::move(b));
        }
        has_room_.notify_all();
        if (spare) {
            lock.unlock();
            spare.reset();
            lock.lock();
        }
    }
}

bool WriteBehind::WriteOut(const Buffer& b, std::string* error) {
    std::size_t at = 0;
    for (const Extent& e : b.extents) {
        if (!write_(e.offset, std::span(b.bytes.data() + at, e.size), error)) return false;
        at += e.size;
    }
    return true;
}

}  // namespace jet
