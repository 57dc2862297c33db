// Text decoding: Jet 4 UCS-2 with its compression, Jet 3 single-byte code pages.
#pragma once

#include <cstdint>
#include <string>

#include "jet/bytes.h"

namespace jet {

void AppendUtf8(std::string& out, std::uint32_t cp);

// UCS-2 little-endian (surrogate pairs joined, stray surrogates become U+FFFD).
std::string Utf16LeToUtf8(Bytes b);

// Jet 4 text: plain UCS-2, or "compressed" when it starts with FF FE: then a 0x00
// byte switches between one byte per character (the start) and two.
std::string DecodeJet4Text(Bytes b);

// Jet 3 text in the database's single-byte code page. Windows-1252 is used for every
// code page (Western files); bytes it leaves undefined map to their Latin-1 value.
std::string DecodeJet3Text(Bytes b);

// The text as UTF-16 code units into `out` (replaced), surrogates as they are: Jet 4
// text as stored (compressed or not), Jet 3 text through Windows-1252 as above.
void TextUnits(Bytes b, bool jet3, std::u16string& out);

inline std::string DecodeText(Bytes b, bool jet3) {
    return jet3 ? DecodeJet3Text(b) : DecodeJet4Text(b);
}

}  // namespace jet
