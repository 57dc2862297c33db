// The engine's reading calls to the system, one file per system: system_io.cpp
// (POSIX) and system_io_win32.cpp. With compact/output_file.cpp (output_file_win32.cpp)
// they are all of jet's calls to the system; the file layer (page_file.cpp) and the
// resident buffers (resident_buffer.cpp) are the same on every system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>

namespace jet::system_io {

// Pages one read brings in at most: a run or a block.
inline constexpr std::size_t kMaxPagesPerRead = 32;

// A descriptor of the file opened for reading, or -1 with errno set. Others may read
// and write the file meanwhile (the caller decides whether that is safe).
int OpenForReading(const std::filesystem::path& path);
void CloseFile(int fd);

// Whether two descriptors are of one file (false where the system cannot tell).
bool SameFile(int a, int b);

// Bytes read at `offset` (0 at the end of the file), or -1.
long long ReadAt(int fd, std::uint8_t* dst, std::size_t len, std::uint64_t offset);

// Consecutive pages of `page_size` bytes from `offset` into `into`; false on a read
// error or an early end. REQUIRES: into.size() <= kMaxPagesPerRead
bool ReadPagesAt(int fd, std::span<std::uint8_t* const> into, std::size_t page_size,
                 std::uint64_t offset);

// `bytes` of memory straight from the system, not from the heap: null when it refuses.
// With `populate` made resident at once where the system can. Released with Unmap.
std::uint8_t* Map(std::size_t bytes, bool populate);
void Unmap(std::uint8_t* p, std::size_t bytes);
// Gives the heap's free memory back to the system, where the C library can.
void TrimHeap();

}  // namespace jet::system_io
