#include "page_cache.h"

#include <algorithm>
#include <cassert>
#include <new>

#include "jet/resident_buffer.h"

namespace jet {
namespace {

// Chunks of a small cache grow with it (each as large as all before it, at least
// this many frames), so one that stays small costs a few pages.
constexpr std::size_t kMinChunkFrames = 16;

// A cache that may hold a huge page's worth of frames takes them a huge page at a
// time once past its first small chunk (a file opened to read its catalog needs no
// more). On virtual machines a 4 KB page costs its first touch even when made
// resident beforehand, many times what a 2 MB huge page costs per 4 KB (the figures are
// in jet/README.md, "Measured costs"), so the 2 MB that growing chunks would take before
// reaching that size cost more than the cache saves. Chunks of one size are also what blocks given back
// are kept for, so a cache that goes hands its frames on to the next. A cache may
// then hold up to a huge page more than it asked for.
std::size_t ChunkFrames(std::size_t page_size, std::size_t capacity, std::size_t frames) {
    const std::size_t huge = kResidentHugeBytes / page_size;
    if (capacity >= huge && frames > 0) return huge;
    std::size_t n = std::max(kMinChunkFrames, frames);
    if (frames < capacity) n = std::min(n, capacity - frames);
    return n;
}

}  // namespace

PageCache::PageCache(std::size_t page_size, std::size_t capacity)
    : page_size_(page_size), capacity_(std::max<std::size_t>(capacity, 1)) {
    Rehash(5);
}

PageCache::~PageCache() {
    // A Page outliving its file would point into freed frames.
    assert(!AnyPinned());
}

bool PageCache::AnyPinned() const {
    return std::any_of(frames_.begin(), frames_.end(),
                       [](const PageFrame& f) { return f.pins != 0; });
}

PageFrame* PageCache::Find(std::uint32_t n) const {
    for (std::size_t i = Home(n);; i = (i + 1) & mask_) {
        const Slot& s = slots_[i];
        if (s.page == n) return const_cast<PageFrame*>(&frames_[s.frame]);
        if (s.page == kNoPage) return nullptr;
    }
}

PageFrame* PageCache::Take() {
    if (frames_.size() < capacity_) return NewFrame();
    // Reuse in filling order (a ring, as for a FIFO): cheap and good for scans.
    // Pinned frames are passed over; their readers still use them.
    for (std::size_t tries = 0; tries < frames_.size(); ++tries) {
        PageFrame& f = frames_[hand_];
        hand_ = hand_ + 1 == frames_.size() ? 0 : hand_ + 1;
        if (f.pins != 0) continue;
        if (f.page != kNoPage) Forget(f.page);
        f.page = kNoPage;
        f.pins = 1;
        return &f;
    }
    return NewFrame();
}

PageFrame* PageCache::NewFrame() {
    if (chunk_left_ == 0) {
        const std::size_t n = ChunkFrames(page_size_, capacity_, frames_.size());
        chunks_.push_back(std::make_unique<FrameChunk>(n * page_size_));
        chunk_next_ = chunks_.back()->data;
        chunk_left_ = n;
    }
    // Contents are left as they are: the frame is read into before anyone sees it.
    frames_.push_back(
        PageFrame{chunk_next_, kNoPage, 1, static_cast<std::uint32_t>(frames_.size())});
    chunk_next_ += page_size_;
    --chunk_left_;
    if (frames_.size() * 2 > slots_.size()) Rehash(static_cast<unsigned>(32 - shift_ + 1));
    return &frames_.back();
}

void PageCache::Insert(std::uint32_t n, PageFrame* frame) {
    assert(frame->page == kNoPage && frame->pins > 0);
    assert(!Find(n));
    frame->page = n;
    std::size_t i = Home(n);
    while (slots_[i].page != kNoPage) i = (i + 1) & mask_;
    slots_[i] = Slot{n, frame->index};
}

void PageCache::Release(PageFrame* frame) {
    assert(frame->pins == 1);
    frame->pins = 0;
}

void PageCache::Forget(std::uint32_t n) {
    std::size_t i = Home(n);
    while (slots_[i].page != n) {
        assert(slots_[i].page != kNoPage);
        i = (i + 1) & mask_;
    }
    // Backward-shift deletion: later slots of the probe sequence move up into the
    // hole, so no tombstones accumulate.
    for (std::size_t j = i;;) {
        j = (j + 1) & mask_;
        if (slots_[j].page == kNoPage) break;
        const std::size_t home = Home(slots_[j].page);
        // The entry at j may fill the hole at i unless its home lies in (i, j].
        const bool stays = i <= j ? (i < home && home <= j) : (i < home || home <= j);
        if (stays) continue;
        slots_[i] = slots_[j];
        i = j;
    }
    slots_[i] = Slot{};
}

void PageCache::Rehash(unsigned bits) {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(std::size_t{1} << bits, Slot{});
    mask_ = slots_.size() - 1;
    shift_ = 32 - bits;
    for (const Slot& s : old) {
        if (s.page == kNoPage) continue;
        std::size_t i = Home(s.page);
        while (slots_[i].page != kNoPage) i = (i + 1) & mask_;
        slots_[i] = s;
    }
}

}  // namespace jet
