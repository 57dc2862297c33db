#include "common/checkvalue.h"

#include <openssl/evp.h>

#include <memory>

namespace mdb {

namespace {

constexpr std::string_view kSalt = "_(r)pkq.vhml.orx_4903_";
constexpr size_t kMaxInput = 104857600;
constexpr size_t kMaxKey = 260;

}  // namespace

std::string Md5Hex(std::span<const std::uint8_t> bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr) != 1) return {};
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    text.reserve(length * 2);
    for (unsigned i = 0; i < length; ++i) {
        text.push_back(kHex[digest[i] >> 4]);
        text.push_back(kHex[digest[i] & 15]);
    }
    return text;
}

std::string Md5Hex(std::string_view text) {
    return Md5Hex(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

int MakeCheckValue(std::string_view a, std::string_view b, std::string& out) {
    if (a.empty() || a.size() >= kMaxInput) return 0;
    if (b.empty() || b.size() >= kMaxKey) return 0;
    const std::string h1 = Md5Hex(a);
    if (h1.size() != 32) return 0;
    std::string t = h1;
    t.append(kSalt).append(b);
    std::string h2 = Md5Hex(t);
    if (h2.size() != 32) return 0;
    out = std::move(h2);
    return 1;
}

}  // namespace mdb
