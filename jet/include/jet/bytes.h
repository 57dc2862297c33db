// Bounds-checked little/big-endian access to bytes read from an untrusted file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

namespace jet {

// Raised inside the library when a file's bytes do not make sense (an offset past the
// end, a count that cannot be, a loop). Public entry points turn it into a Status.
class FormatError : public std::runtime_error {
  public:
    explicit FormatError(const std::string& what) : std::runtime_error(what) {}
};

using Bytes = std::span<const std::uint8_t>;

[[noreturn]] void ThrowFormat(const std::string& what);

inline void Need(Bytes b, std::size_t off, std::size_t len, const char* what) {
    if (off > b.size() || len > b.size() - off)
        ThrowFormat(std::string(what) + " runs past its buffer");
}

inline std::uint8_t U8(Bytes b, std::size_t off) {
    Need(b, off, 1, "byte");
    return b[off];
}
inline std::uint16_t U16(Bytes b, std::size_t off) {
    Need(b, off, 2, "16-bit field");
    return static_cast<std::uint16_t>(b[off] | (b[off + 1] << 8));
}
inline std::uint32_t U32(Bytes b, std::size_t off) {
    Need(b, off, 4, "32-bit field");
    return b[off] | (b[off + 1] << 8) | (b[off + 2] << 16) | (std::uint32_t{b[off + 3]} << 24);
}
inline std::uint64_t U64(Bytes b, std::size_t off) {
    return U32(b, off) | (std::uint64_t{U32(b, off + 4)} << 32);
}
inline std::uint32_t BE24(Bytes b, std::size_t off) {
    Need(b, off, 3, "24-bit field");
    return (std::uint32_t{b[off]} << 16) | (b[off + 1] << 8) | b[off + 2];
}
inline std::uint32_t BE32(Bytes b, std::size_t off) {
    Need(b, off, 4, "32-bit field");
    return (std::uint32_t{b[off]} << 24) | (b[off + 1] << 16) | (b[off + 2] << 8) | b[off + 3];
}
inline Bytes Slice(Bytes b, std::size_t off, std::size_t len) {
    Need(b, off, len, "field");
    return b.subspan(off, len);
}

// Outcome of a public operation: ok, or a reason a person can act on.
struct Status {
    bool ok = true;
    std::string reason;
    static Status Ok() { return {}; }
    static Status Fail(std::string why) { return {false, std::move(why)}; }
    explicit operator bool() const { return ok; }
};

}  // namespace jet
