// A large buffer straight from the system, made resident in one go and backed by huge
// pages where the system grants them.
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

namespace jet {

class ResidentBuffer {
  public:
    static constexpr std::size_t kHugeBytes = std::size_t{2} << 20;

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

}  // namespace jet
