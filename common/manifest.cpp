#include "common/manifest.h"

#include <openssl/evp.h>

#include <fstream>
#include <memory>

namespace mdb {

std::string Sha256OfFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return {};
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> md(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!md || EVP_DigestInit_ex(md.get(), EVP_sha256(), nullptr) != 1) return {};
    char buf[65536];
    while (in) {
        in.read(buf, sizeof buf);
        const std::streamsize got = in.gcount();
        if (got > 0 && EVP_DigestUpdate(md.get(), buf, static_cast<std::size_t>(got)) != 1) {
            return {};
        }
    }
    if (in.bad()) return {};
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (EVP_DigestFinal_ex(md.get(), digest, &len) != 1) return {};
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < len; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 0xF];
    }
    return hex;
}

ManifestCheck CheckAgainstManifest(const std::filesystem::path& programDir,
                                   std::string_view relativePath) {
    std::ifstream manifest(programDir / kManifestFileName);
    if (!manifest) return ManifestCheck::NoManifest;
    std::string line;
    std::string expected;
    while (std::getline(manifest, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // "<64 hex>  <path>"; a '*' before the path marks binary mode in sha256sum.
        if (line.size() < 67 || line[64] != ' ') continue;
        std::string_view name(line);
        name.remove_prefix(65);
        if (!name.empty() && (name.front() == ' ' || name.front() == '*')) name.remove_prefix(1);
        if (name == relativePath) expected = line.substr(0, 64);
    }
    if (expected.empty()) return ManifestCheck::NotListed;
    const std::string actual = Sha256OfFile(programDir / std::filesystem::path(relativePath));
    if (actual.empty()) return ManifestCheck::Unreadable;
    return actual == expected ? ManifestCheck::Match : ManifestCheck::Differs;
}

}  // namespace mdb
