// The page cache of one PageFile: frames of one page each, allocated as the cache
// fills (so a small file pays for few) and then reused, found by page number through
// an open-addressing table. Readers hold frames through Page handles, which pin
// them: a pinned frame is never handed out again, so a page a reader holds keeps its
// bytes. Not thread-safe: a PageFile is used by one thread at a time.
//
// Filling a page: Find(n); when absent, Take() gives a frame pinned for the filler
// and known to no lookup; the caller reads the page into it, then Insert(n, frame)
// and hands the pin on to a Page, or drops it with Release(frame) (after Insert, or
// instead of it when the read failed).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "jet/page_file.h"

namespace jet {

// Memory for frames, page-aligned, straight from the system and made resident in one
// go (system_io::Map, in resident_buffer.cpp): filling a fresh frame then costs no
// page fault of its own, and a chunk that goes back is returned whole.
struct FrameChunk {
    FrameChunk(std::size_t bytes);
    ~FrameChunk();
    FrameChunk(const FrameChunk&) = delete;
    FrameChunk& operator=(const FrameChunk&) = delete;
    std::uint8_t* data = nullptr;
    std::size_t bytes = 0;
};

class PageCache {
  public:
    PageCache(std::size_t page_size, std::size_t capacity);
    // REQUIRES: no frame pinned (every Page of this cache is gone).
    ~PageCache();
    PageCache(const PageCache&) = delete;
    PageCache& operator=(const PageCache&) = delete;

    // The frame holding page n, or null.
    PageFrame* Find(std::uint32_t n) const;
    // A frame for a page about to be read, pinned once, known to no lookup. The
    // least recently filled unpinned frame is reused once the cache holds `capacity`
    // frames; only when every frame is pinned does the cache grow past it.
    PageFrame* Take();
    // REQUIRES: frame came from Take() and page n is not cached.
    void Insert(std::uint32_t n, PageFrame* frame);
    // Drops the pin Take() gave (the frame stays cached when it was inserted).
    void Release(PageFrame* frame);

    std::size_t frames() const { return frames_.size(); }
    bool AnyPinned() const;

  private:
    static constexpr std::uint32_t kNoFrame = 0xFFFFFFFF;
    struct Slot {
        std::uint32_t page = kNoPage;
        std::uint32_t frame = kNoFrame;
    };
    std::size_t Home(std::uint32_t n) const { return (n * 0x9E3779B1u) >> shift_; }
    void Forget(std::uint32_t n);
    PageFrame* NewFrame();
    void Rehash(unsigned bits);

    const std::size_t page_size_;
    const std::size_t capacity_;
    // Frames keep their address for the cache's life (a deque grows without moving
    // its elements); their bytes come from chunks allocated once.
    std::deque<PageFrame> frames_;
    std::vector<std::unique_ptr<FrameChunk>> chunks_;
    std::uint8_t* chunk_next_ = nullptr;
    std::size_t chunk_left_ = 0;
    std::size_t hand_ = 0;  // next frame considered for reuse (filling order)
    // Open addressing with linear probing, at most half full: a lookup touches one
    // or two slots and no heap node.
    std::vector<Slot> slots_;
    std::size_t mask_ = 0;
    unsigned shift_ = 32;
};

}  // namespace jet
