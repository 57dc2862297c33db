#pragma once
// Conversions between the programs' UTF-8 text and the UTF-16 of the wide Windows API, and
// the ANSI code page (GBK on Chinese systems) of consoles and text files.

#include <string>
#include <string_view>

namespace mdb::platform::win32 {

// UTF-16 form of UTF-8 `text` (invalid sequences become U+FFFD).
std::wstring Wide(std::string_view text);
// The same for a path given to the wide file functions: a drive path of MAX_PATH
// characters or more in the long form ("\\?\d:\..."), which they take up to 32767
// characters (files below a long backup root). Shorter paths go as they are, so that the
// system still resolves "." and ".." levels and '/' separators in them.
std::wstring WidePath(std::string_view path);
// UTF-8 form of UTF-16 `text`.
std::string Utf8(std::wstring_view text);
// `text` in code page `codePage` (characters it lacks become '?').
std::string ToCodePage(std::string_view utf8, unsigned codePage);

}  // namespace mdb::platform::win32
