// Page 0: format detection and the scrambled header block.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "jet/bytes.h"
#include "jet/format.h"

namespace jet {

enum class Format { Jet3, Jet4, Ace, Unknown };

const char* FormatName(Format f);

// Why a file is not read. None means it can be opened.
enum class Refusal { None, NotJet, Truncated, Ace, Password, Encrypted };

struct Header {
    Format format = Format::Unknown;
    std::uint8_t version = 0;     // HeaderLayout::version
    std::uint32_t page_size = 0;  // 2048 (Jet 3) or 4096 (Jet 4); 0 when unknown
    std::uint16_t code_page = 0;
    std::uint32_t sort_order = 0;
    std::uint32_t db_key = 0;  // non-zero: every page but 0 is RC4-encrypted
    bool has_password = false;
    std::uint64_t file_size = 0;
    std::uint32_t page_count = 0;  // whole pages in the file
};

struct HeaderResult {
    Header header;
    Refusal refusal = Refusal::None;
    std::string reason;  // empty when refusal is None
};

// Plain RC4, used for the header block (and by encrypted pages).
void Rc4(std::span<const std::uint8_t> key, std::span<std::uint8_t> data);

// Decodes page 0 (at least the first page_size bytes, fewer when the file is short).
HeaderResult DecodeHeader(Bytes first_page, std::uint64_t file_size);

// Returns the descrambled header block (page 0 from 0x18) for inspection and tests.
std::vector<std::uint8_t> DescrambledBlock(Bytes page0, Format f);

}  // namespace jet
