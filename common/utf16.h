#pragma once
// Conversions between UTF-8 (file-system and console text) and UTF-16LE (record encoding).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mdb {

// The code point of the UTF-8 sequence at `text[i]`, advancing `i` past it; -1 (and `i`
// unchanged) when the sequence is invalid, overlong or a surrogate.
long DecodeUtf8(std::string_view text, size_t& i);
// Appends code point `cp` (at most 0x10FFFF, not a surrogate) as UTF-8.
void AppendUtf8(std::string& out, unsigned long cp);

// Nothing when `text` is not valid UTF-8.
std::optional<std::u16string> Utf8ToUtf16(std::string_view text);
// Nothing when `text` holds an unpaired surrogate.
std::optional<std::string> Utf16ToUtf8(std::u16string_view text);

// The UTF-16 units of `text` as little-endian bytes, without terminator.
std::vector<std::uint8_t> Utf16LeBytes(std::u16string_view text);
// Little-endian bytes back to UTF-16 units (an odd last byte is dropped).
std::u16string Utf16FromLeBytes(const std::vector<std::uint8_t>& bytes);

// Text for display: invalid UTF-8 sequences become "?"; control characters (C0, DEL, C1, line
// separators, bidirectional overrides) are shown escaped as \xHH or \uHHHH.
std::string SanitizeUtf8(std::string_view text);

}  // namespace mdb
