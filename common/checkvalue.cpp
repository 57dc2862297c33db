#include "common/checkvalue.h"

#include "platform/digest.h"

namespace mdb {

namespace {

constexpr std::string_view kSalt = "_(r)pkq.vhml.orx_4903_";
constexpr size_t kMaxInput = 104857600;
constexpr size_t kMaxKey = 260;

}  // namespace

std::string Md5Hex(std::span<const std::uint8_t> bytes) {
    return platform::DigestHex(platform::DigestAlgorithm::Md5, bytes);
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
