#pragma once
// MD5 digest texts and the keyed record check value.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace mdb {

// 32 lowercase hexadecimal digits of the MD5 digest of `bytes`.
std::string Md5Hex(std::span<const std::uint8_t> bytes);
std::string Md5Hex(std::string_view text);

// Check value of `a` keyed with `b`: MD5 text of (MD5 text of a + salt + b). 1 and `out` set,
// or 0 with `out` unchanged when a is empty or 100 MiB or longer, or b is empty or 260 bytes or
// longer.
int MakeCheckValue(std::string_view a, std::string_view b, std::string& out);

}  // namespace mdb
