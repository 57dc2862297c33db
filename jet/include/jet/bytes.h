// Bounds-checked little/big-endian access to bytes read from an untrusted file.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
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
// Copies n bytes (no bounds check: both places hold them). Index entries are a few
// bytes each, and a library call per entry costs more than copying them: up to 16
// bytes go inline, as two overlapping words of the widest size that fits, or for
// 1-3 bytes the first, middle and last byte.
inline void CopyShort(std::uint8_t* to, const std::uint8_t* from, std::size_t n) {
    auto two_words = [&]<class Word>(Word) {
        Word a, b;
        std::memcpy(&a, from, sizeof a);
        std::memcpy(&b, from + n - sizeof b, sizeof b);
        std::memcpy(to, &a, sizeof a);
        std::memcpy(to + n - sizeof b, &b, sizeof b);
    };
    if (n >= 8) {
        if (n > 16)
            std::memcpy(to, from, n);
        else
            two_words(std::uint64_t{});
    } else if (n >= 4) {
        two_words(std::uint32_t{});
    } else if (n > 0) {
        to[0] = from[0];
        to[n / 2] = from[n / 2];
        to[n - 1] = from[n - 1];
    }
}

// How many bytes a and b share from their start, at most `cap` (no bounds check:
// both hold that many). Eight bytes are compared at a time, the first difference
// found from the words' difference: index entries are compared by the million, and
// a library call per entry costs more than the comparison.
inline std::size_t CommonPrefix(const std::uint8_t* a, const std::uint8_t* b, std::size_t cap) {
    std::size_t n = 0;
    if constexpr (std::endian::native == std::endian::little) {
        for (; n + 8 <= cap; n += 8) {
            std::uint64_t x, y;
            std::memcpy(&x, a + n, 8);
            std::memcpy(&y, b + n, 8);
            if (x != y) return n + static_cast<std::size_t>(std::countr_zero(x ^ y)) / 8;
        }
    }
    while (n < cap && a[n] == b[n]) ++n;
    return n;
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
