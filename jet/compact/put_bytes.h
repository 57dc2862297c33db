// Little/big-endian stores into page buffers the compactor builds.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <span>

namespace jet {

inline void PutU16(std::span<std::uint8_t> b, std::size_t off, std::uint32_t v) {
    assert(off + 2 <= b.size());
    b[off] = static_cast<std::uint8_t>(v);
    b[off + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutU24(std::span<std::uint8_t> b, std::size_t off, std::uint32_t v) {
    assert(off + 3 <= b.size());
    b[off] = static_cast<std::uint8_t>(v);
    b[off + 1] = static_cast<std::uint8_t>(v >> 8);
    b[off + 2] = static_cast<std::uint8_t>(v >> 16);
}
inline void PutU32(std::span<std::uint8_t> b, std::size_t off, std::uint32_t v) {
    assert(off + 4 <= b.size());
    for (int i = 0; i < 4; ++i) b[off + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void PutBE24(std::span<std::uint8_t> b, std::size_t off, std::uint32_t v) {
    assert(off + 3 <= b.size());
    b[off] = static_cast<std::uint8_t>(v >> 16);
    b[off + 1] = static_cast<std::uint8_t>(v >> 8);
    b[off + 2] = static_cast<std::uint8_t>(v);
}
inline void PutBE32(std::span<std::uint8_t> b, std::size_t off, std::uint32_t v) {
    assert(off + 4 <= b.size());
    for (int i = 0; i < 4; ++i) b[off + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}
// A (page, row) pointer as rows store it: row byte, then 3-byte page.
inline void PutRowPointer(std::span<std::uint8_t> b, std::size_t off, std::uint32_t page,
                          std::uint8_t row) {
    assert(off + 4 <= b.size());
    b[off] = row;
    PutU24(b, off + 1, page);
}

}  // namespace jet
