// Large blocks given back, kept resident for the next request of the same size.
//
// Why: a compaction makes and drops the same large blocks over and over (a row map per
// table, a page cache per reader, the writer's buffers), and fresh memory is dear on
// virtual machines: every huge page is cleared by the system and every 4 KB page
// faulted in. A block kept here is handed out again as it is, not cleared.
//
// Memory kept never makes the process larger than it would be without it: a request
// the pool cannot answer first gives up at least as many kept bytes as it asks for,
// and the pool keeps no more than its capacity. Thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace jet {

class ResidentPool {
  public:
    struct Block {
        std::uint8_t* data;
        std::size_t bytes;
    };
    using UnmapFn = void (*)(std::uint8_t* data, std::size_t bytes);

    // Keeps up to `capacity` bytes; blocks it drops go to `unmap`.
    ResidentPool(std::size_t capacity, UnmapFn unmap) : capacity_(capacity), unmap_(unmap) {}
    ~ResidentPool();
    ResidentPool(const ResidentPool&) = delete;
    ResidentPool& operator=(const ResidentPool&) = delete;

    // A kept block of exactly `bytes`, or null after unmapping kept blocks of at least
    // `bytes` in all (or every one, when fewer are kept): the caller then maps anew.
    std::uint8_t* Take(std::size_t bytes);
    // Keeps the block, or unmaps it when the pool is full.
    void Give(std::uint8_t* data, std::size_t bytes);

    std::size_t kept_bytes() const;

  private:
    const std::size_t capacity_;
    const UnmapFn unmap_;
    mutable std::mutex mu_;
    std::vector<Block> kept_;  // oldest first
    std::size_t kept_bytes_ = 0;
};

}  // namespace jet
