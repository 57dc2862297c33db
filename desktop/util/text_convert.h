#pragma once
// Narrow text of this platform (UTF-8) to UTF-16.

#include <cstddef>
#include <string>
#include <string_view>

namespace mdb::desktop {

// Longest input (in bytes) that AnsiToWide converts.
inline constexpr std::size_t kMaxConvertLength = 10'485'759;

// Converts narrow text to UTF-16. 1: converted (an empty input gives an empty output);
// 2: input longer than kMaxConvertLength (output emptied); 0: the input is not valid UTF-8
// (output emptied; nothing is guessed or replaced).
int AnsiToWide(std::u16string& out, std::string_view in);

}  // namespace mdb::desktop
