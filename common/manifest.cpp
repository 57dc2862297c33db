#include "common/manifest.h"

#include <fstream>
#include <span>

#include "platform/digest.h"

namespace mdb {

std::string Sha256OfFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return {};
    platform::Hasher hasher(platform::DigestAlgorithm::Sha256);
    char buf[65536];
    while (in) {
        in.read(buf, sizeof buf);
        const std::streamsize got = in.gcount();
        if (got > 0 &&
            !hasher.Add(std::span(reinterpret_cast<const std::uint8_t*>(buf),
                                  static_cast<std::size_t>(got))))
            return {};
    }
    if (in.bad()) return {};
    return platform::HexOf(hasher.Finish());
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
