// Large buffers straight from the system, in huge pages where it grants them:
// ResidentBuffer for a plain block of bytes that is filled once, ResidentAllocator for
// the large arrays of a std::vector.
//
// Why: fresh memory is faulted in one 4 KB page at a time, and on virtual machines each
// such fault is dear, some fifty times what a 4 KB share of a 2 MB huge page made
// resident at once costs (jet/README.md, "Measured costs"). A buffer that a run fills once (a
// batch of long-value rows, a run of pages to write, a sort's records) then costs more
// to touch than to fill.
//
// Arrays of at least kResidentMinBytes are taken from the system in whole huge pages
// (kResidentHugeBytes; the kernel places such mappings on huge-page boundaries):
// clearing a 2 MB page costs less than the 64 faults of 256 KB taken page by page.
// Smaller ones come from the heap, whose memory is reused from one to the next.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>

namespace jet {

inline constexpr std::size_t kResidentHugeBytes = std::size_t{2} << 20;
inline constexpr std::size_t kResidentMinBytes = std::size_t{256} << 10;

// The bytes taken from the system for a buffer of `bytes`: whole huge pages, or 0 when
// it is small enough for the heap.
constexpr std::size_t ResidentBytesFor(std::size_t bytes) {
    if (bytes < kResidentMinBytes) return 0;
    return (bytes + kResidentHugeBytes - 1) / kResidentHugeBytes * kResidentHugeBytes;
}

// `bytes` (a multiple of kResidentHugeBytes) from the system in huge pages where it
// grants them, not cleared; null when it refuses. With `populate` made resident at
// once, else a huge page at a time as it is first touched. Released with
// FreeResident(p, bytes).
std::uint8_t* AllocateResident(std::size_t bytes, bool populate);
void FreeResident(std::uint8_t* p, std::size_t bytes);

// Gives the heap's free memory back to the system. The programs keep what they free
// for reuse (up to 256 MB at the heap's top, see platform's KeepFreedMemoryForReuse);
// a pass that freed much that the next will not take from the heap calls this, so
// that the next one's arrays do not come on top of it. Does nothing where the C
// library has no such call.
void ReturnFreeHeapMemory();

// A block of bytes, made resident at once (it is meant to be filled).
class ResidentBuffer {
  public:
    ResidentBuffer() = default;
    // At least `bytes` bytes, not cleared. Throws std::bad_alloc.
    explicit ResidentBuffer(std::size_t bytes);
    ~ResidentBuffer();
    ResidentBuffer(ResidentBuffer&& other) noexcept;
    ResidentBuffer& operator=(ResidentBuffer&& other) noexcept;
    ResidentBuffer(const ResidentBuffer&) = delete;
    ResidentBuffer& operator=(const ResidentBuffer&) = delete;

    std::uint8_t* data() const { return data_; }
    // The bytes usable, at least those asked for.
    std::size_t size() const { return size_; }

  private:
    void Free();

    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    bool mapped_ = false;  // from the system (else from the heap)
};

// For std::vector. Not populated at once: a vector's capacity is often far from full,
// and capacity never touched should cost no memory; a vector that doubles as it grows
// faults its new memory in a huge page at a time instead of every 4 KB.
template <class T>
struct ResidentAllocator {
    using value_type = T;
    ResidentAllocator() = default;
    template <class U>
    ResidentAllocator(const ResidentAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        const std::size_t bytes = ResidentBytesFor(n * sizeof(T));
        if (bytes == 0) return std::allocator<T>().allocate(n);
        std::uint8_t* p = AllocateResident(bytes, false);
        if (!p) throw std::bad_alloc();
        return reinterpret_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t n) noexcept {
        const std::size_t bytes = ResidentBytesFor(n * sizeof(T));
        if (bytes == 0)
            std::allocator<T>().deallocate(p, n);
        else
            FreeResident(reinterpret_cast<std::uint8_t*>(p), bytes);
    }
    // Constructs in place itself: through std::construct_at, clang (with libstdc++)
    // finds a nested record with default member initializers not default-constructible
    // and refuses to build a vector of it.
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
    template <class U>
    bool operator==(const ResidentAllocator<U>&) const noexcept {
        return true;
    }
};

}  // namespace jet
