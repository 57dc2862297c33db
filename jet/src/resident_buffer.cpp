#include "jet/resident_buffer.h"

#include <cassert>
#include <utility>

#include "jet/resident_pool.h"
#include "page_cache.h"
#include "system_io.h"

namespace jet {
namespace {

// Blocks given back are kept for the next request of the same size up to this much:
// the writer's buffers (8 MB) and a table's row map or a cache's largest chunk (2-4
// MB) are then made again without clearing. The pool never makes the process larger
// than it would be without it (resident_pool.h).
constexpr std::size_t kPoolBytes = std::size_t{16} << 20;

ResidentPool& Pool() {
    static ResidentPool pool(kPoolBytes, system_io::Unmap);
    return pool;
}

// Large blocks from the pool or the system; see system_io::Map. A block from the pool
// is handed out as it was given back (resident, not cleared).
std::uint8_t* MapFrames(std::size_t bytes, bool populate = true) {
    if (std::uint8_t* p = Pool().Take(bytes)) return p;
    return system_io::Map(bytes, populate);
}

void UnmapFrames(std::uint8_t* p, std::size_t bytes) {
    Pool().Give(p, bytes);
}

}  // namespace

std::uint8_t* AllocateResident(std::size_t bytes, bool populate) {
    assert(bytes % kResidentHugeBytes == 0);
    return MapFrames(bytes, populate);
}

void FreeResident(std::uint8_t* p, std::size_t bytes) {
    UnmapFrames(p, bytes);
}

ResidentBuffer::ResidentBuffer(std::size_t bytes) {
    if (const std::size_t rounded = ResidentBytesFor(bytes)) {
        data_ = AllocateResident(rounded, true);
        if (!data_) throw std::bad_alloc();
        size_ = rounded;
        mapped_ = true;
    } else if (bytes > 0) {
        data_ = new std::uint8_t[bytes];
        size_ = bytes;
    }
}

ResidentBuffer::~ResidentBuffer() {
    Free();
}

ResidentBuffer::ResidentBuffer(ResidentBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      mapped_(std::exchange(other.mapped_, false)) {}

ResidentBuffer& ResidentBuffer::operator=(ResidentBuffer&& other) noexcept {
    if (this != &other) {
        Free();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        mapped_ = std::exchange(other.mapped_, false);
    }
    return *this;
}

void ResidentBuffer::Free() {
    if (mapped_)
        FreeResident(data_, size_);
    else
        delete[] data_;
    data_ = nullptr;
    size_ = 0;
    mapped_ = false;
}

FrameChunk::FrameChunk(std::size_t size) : data(MapFrames(size)), bytes(size) {
    if (!data) throw std::bad_alloc();
}

FrameChunk::~FrameChunk() {
    UnmapFrames(data, bytes);
}

void ReturnFreeHeapMemory() {
    system_io::TrimHeap();
}

}  // namespace jet
