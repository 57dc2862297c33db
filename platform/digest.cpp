#include "platform/digest.h"

namespace mdb::platform {

std::string HexOf(std::span<const std::uint8_t> bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const std::uint8_t b : bytes) {
        text.push_back(kHex[b >> 4]);
        text.push_back(kHex[b & 15]);
    }
    return text;
}

std::string DigestHex(DigestAlgorithm algorithm, std::span<const std::uint8_t> bytes) {
    Hasher hasher(algorithm);
    if (!hasher.Add(bytes)) return {};
    return HexOf(hasher.Finish());
}

std::string DigestHex(DigestAlgorithm algorithm, std::string_view text) {
    return DigestHex(algorithm,
                     std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

}  // namespace mdb::platform
