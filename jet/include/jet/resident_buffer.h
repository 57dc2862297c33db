// Large buffers straight from the system, made resident in one go and backed by huge
// pages where the system grants them: ResidentBuffer for a plain block of bytes,
// ResidentAllocator for the large arrays of a std::vector.
//
// Why: fresh memory is faulted in one 4 KB page at a time, and on virtual machines each
// such fault is dear: 11-13 us a page on our build machine, against 0.25 us a 4 KB
// page when a 2 MB huge page is made resident at once. A buffer that a run fills once
// (a batch of long-value rows, a run of pages to write) therefore costs far more to
// touch than to fill. Buffers of at least kHugeBytes are rounded up to whole huge pages
// (the kernel places such mappings on huge-page boundaries); smaller ones come from
// the heap, where a huge page would cost more to clear than the few faults it saves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace jet {

inline constexpr std::size_t kResidentHugeBytes = std::size_t{2} << 20;

// `bytes` (a multiple of kResidentHugeBytes) from the system in huge pages where it
// grants them, not cleared; null when it refuses. With `populate` made resident at
// once, else a huge page at a time as it is first touched. Released with
// FreeResident(p, bytes).
std::uint8_t* AllocateResident(std::size_t bytes, bool populate);
void FreeResident(std::uint8_t* p, std::size_t bytes);

class ResidentBuffer {
  public:
    static constexpr std::size_t kHugeBytes = kResidentHugeBytes;

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

// For std::vector: arrays of at least kResidentHugeBytes come from AllocateResident
// (rounded up to whole huge pages), smaller ones from the heap. A vector that doubles
// as it grows then faults its new memory in a huge page at a time instead of every
// 4 KB. Not populated at once: a vector's capacity is often far from full, and
// unused capacity should cost no memory.
template <class T>
struct ResidentAllocator {
    using value_type = T;
    ResidentAllocator() = default;
    template <class U>
    ResidentAllocator(const ResidentAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        const std::size_t bytes = Huge(n);
        if (bytes == 0) return std::allocator<T>().allocate(n);
        std::uint8_t* p = AllocateResident(bytes, false);
        if (!p) throw std::bad_alloc();
        return reinterpret_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t n) noexcept {
        const std::size_t bytes = Huge(n);
        if (bytes == 0)
            std::allocator<T>().deallocate(p, n);
        else
            FreeResident(reinterpret_cast<std::uint8_t*>(p), bytes);
    }
    template <class U>
    bool operator==(const ResidentAllocator<U>&) const noexcept {
        return true;
    }

  private:
    // The bytes taken from the system for n records, or 0 for the heap.
    static std::size_t Huge(std::size_t n) {
        if (n < kResidentHugeBytes / sizeof(T)) return 0;
        const std::size_t bytes = n * sizeof(T);
        return (bytes + kResidentHugeBytes - 1) / kResidentHugeBytes * kResidentHugeBytes;
    }
};

}  // namespace jet
