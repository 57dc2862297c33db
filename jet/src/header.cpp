#include "jet/header.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace jet {

void ThrowFormat(const std::string& what) {
    throw FormatError(what);
}

const char* FormatName(Format f) {
    switch (f) {
        case Format::Jet3:
            return "Jet 3 (Access 97)";
        case Format::Jet4:
            return "Jet 4 (Access 2000-2003)";
        case Format::Ace:
            return "ACE (Access 2007 or newer, .accdb)";
        case Format::Unknown:
            break;
    }
    return "not a Jet database";
}

void Rc4(std::span<const std::uint8_t> key, std::span<std::uint8_t> data) {
    if (key.empty()) return;
    std::array<std::uint8_t, 256> s;
    for (int i = 0; i < 256; ++i) s[i] = static_cast<std::uint8_t>(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + key[i % key.size()]) & 0xFF;
        std::swap(s[i], s[j]);
    }
    int i = 0, j = 0;
    for (auto& b : data) {
        i = (i + 1) & 0xFF;
        j = (j + s[i]) & 0xFF;
        std::swap(s[i], s[j]);
        b ^= s[(s[i] + s[j]) & 0xFF];
    }
}

std::vector<std::uint8_t> DescrambledBlock(Bytes page0, Format f) {
    std::size_t n = HeaderLayout::For(f == Format::Jet3).block_size;
    std::vector<std::uint8_t> block(n, 0);
    if (page0.size() >= kHeaderBlockOffset + n)
        std::memcpy(block.data(), page0.data() + kHeaderBlockOffset, n);
    Rc4(kHeaderKey, block);
    return block;
}

namespace {

// Header fields are named by their page offsets; the block starts at kHeaderBlockOffset.
std::size_t B(std::size_t page_offset) {
    return page_offset - kHeaderBlockOffset;
}

bool PasswordPresent(const std::vector<std::uint8_t>& block, Format f) {
    const HeaderLayout lay = HeaderLayout::For(f == Format::Jet3);
    std::array<std::uint8_t, 4> mask{0, 0, 0, 0};
    if (lay.creation_date != 0) {
        // Jet 4 masks the password with the integer part of the creation date.
        std::uint64_t bits = U64(block, B(lay.creation_date));
        double date;
        std::memcpy(&date, &bits, sizeof date);
        std::int32_t v = 0;
        if (std::isfinite(date) && date > -2147483648.0 && date < 2147483648.0)
            v = static_cast<std::int32_t>(date);
        auto u = static_cast<std::uint32_t>(v);
        mask = {static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8),
                static_cast<std::uint8_t>(u >> 16), static_cast<std::uint8_t>(u >> 24)};
    }
    for (std::size_t i = 0; i < lay.password_size; ++i)
        if ((block[B(lay.password) + i] ^ mask[i % 4]) != 0) return true;
    return false;
}

}  // namespace

HeaderResult DecodeHeader(Bytes page, std::uint64_t file_size) {
    HeaderResult r;
    r.header.file_size = file_size;
    static const char kJet[] = "Standard Jet DB";
    static const char kAce[] = "Standard ACE DB";
    // Signature and version are at the same place in every version.
    const HeaderLayout any = HeaderLayout::For(false);
    static_assert(sizeof kJet - 1 == kJet4Header.signature_size);
    // The signature's place is taken only in a page that holds it: an empty file's
    // bytes have no address to count from.
    auto signed_as = [&](const char* signature) {
        return std::memcmp(page.data() + any.signature, signature, any.signature_size) == 0;
    };
    if (page.size() < kHeaderProbeSize || page[kPageTypeAt] != kPageHeader ||
        (!signed_as(kJet) && !signed_as(kAce))) {
        r.refusal = page.size() < kHeaderProbeSize && page.size() > 0 ? Refusal::Truncated
                                                                      : Refusal::NotJet;
        r.reason = r.refusal == Refusal::Truncated
                       ? "the file is too short to be an Access database"
                       : "the file is not an Access (Jet) database: no Jet signature on page 0";
        return r;
    }
    std::uint8_t version = page[any.version];
    r.header.version = version;
    bool ace_sig = signed_as(kAce);
    if (ace_sig || version >= 2) {
        r.header.format = Format::Ace;
        r.header.page_size = kJet4PageSize;
        r.refusal = Refusal::Ace;
        r.reason =
            "the file is a newer ACE database (Access 2007 or later, .accdb), not Jet 3 or Jet 4";
        return r;
    }
    Format f = version == 0 ? Format::Jet3 : Format::Jet4;
    r.header.format = f;
    r.header.page_size = PageSizeOf(f == Format::Jet3);
    r.header.page_count = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(file_size / r.header.page_size, 0xFFFFFFFFu));
    if (page.size() < r.header.page_size || file_size < 3ull * r.header.page_size) {
        r.refusal = Refusal::Truncated;
        r.reason = "the file is truncated: it is shorter than the first pages of a " +
                   std::string(FormatName(f)) + " database";
        return r;
    }
    if (file_size % r.header.page_size != 0) {
        r.refusal = Refusal::Truncated;
        r.reason = "the file is truncated: its size (" + std::to_string(file_size) +
                   " bytes) is not a whole number of " + std::to_string(r.header.page_size) +
                   "-byte pages";
        return r;
    }
    auto block = DescrambledBlock(page, f);
    const HeaderLayout lay = HeaderLayout::For(f == Format::Jet3);
    r.header.code_page = U16(block, B(lay.code_page));
    r.header.sort_order =
        lay.sort_order_size == 2 ? U16(block, B(lay.sort_order)) : U32(block, B(lay.sort_order));
    r.header.db_key = U32(block, B(lay.db_key));
    r.header.has_password = PasswordPresent(block, f);
    if (r.header.has_password) {
        r.refusal = Refusal::Password;
        r.reason = "the database is protected by a password";
    } else if (r.header.db_key != 0) {
        r.refusal = Refusal::Encrypted;
        r.reason = "the database is encrypted (page encryption is not supported yet)";
    }
    return r;
}

}  // namespace jet
