// (page, row) addresses as Jet stores them: row number in the low byte, page above it.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <string>

namespace jet {

// Rows a page can address: a row number is one byte of a stored address.
inline constexpr std::size_t kMaxRowsPerPage = 256;

struct RowAddr {
    std::uint32_t page = 0;
    std::uint8_t row = 0;
    auto operator<=>(const RowAddr&) const = default;
    bool null() const { return page == 0 && row == 0; }
    std::uint32_t Packed() const { return (page << 8) | row; }
    std::string ToString() const { return std::to_string(page) + ":" + std::to_string(row); }
};

// Little-endian u32 with row in the low byte (maps, long values, overflow rows).
inline RowAddr UnpackRowPtr(std::uint32_t v) {
    return {v >> 8, static_cast<std::uint8_t>(v & 0xFF)};
}

// Position of one field inside the file (page number and byte offset in that page).
struct FieldPos {
    std::uint32_t page = 0;
    std::uint32_t offset = 0;
    auto operator<=>(const FieldPos&) const = default;
};

}  // namespace jet
