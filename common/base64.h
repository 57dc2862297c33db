#pragma once
// Base64 (RFC 4648 alphabet, "=" padding, no line breaks).

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace mdb {

// Encodes `bytes` into `out`; returns the number of characters written plus one.
size_t Base64Encode(std::span<const std::uint8_t> bytes, std::string& out);

std::string Base64EncodeText(std::span<const std::uint8_t> bytes);

// Decodes up to the first character outside the alphabet (the "=" pad included); a trailing
// group of 2 or 3 characters yields 1 or 2 bytes.
std::vector<std::uint8_t> Base64Decode(std::string_view text);

}  // namespace mdb
