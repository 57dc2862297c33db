#include "scanner/header.h"

#include "common/utf16.h"
#include "platform/files.h"
#include "platform/paths.h"

#include <errno.h>

#include <algorithm>

namespace mdb::scanner {

namespace {

// 00 01 00 00, "Standard Jet DB", 00, then the version: 01 00 00 (Jet 4) or 00 00 00 (Jet 3).
constexpr std::uint8_t kJetPrefix[] = {0x00, 0x01, 0x00, 0x00, 'S', 't', 'a', 'n', 'd', 'a',
                                       'r',  'd',  ' ',  'J',  'e', 't', ' ', 'D', 'B', 0x00};
constexpr std::uint8_t kJet4Version[] = {0x01, 0x00, 0x00};
constexpr std::uint8_t kJet3Version[] = {0x00, 0x00, 0x00};
static_assert(sizeof kJetPrefix + sizeof kJet4Version == kSignatureBytes);

}  // namespace

int ReadFileHeader(const std::string& path, std::array<std::uint8_t, kHeaderBytes>& buffer,
                   std::uint64_t& size, std::size_t& bytesRead, int* error) {
    size = 0;
    bytesRead = 0;
    int failure = 0;
    if (error == nullptr) error = &failure;
    *error = 0;
    if (path.size() < 8 || !platform::IsRootedPath(platform::WithoutLongPathPrefix(path))) return 0;
    if (path.size() > 32768) {
        const auto units = Utf8ToUtf16(path);
        if (!units || units->size() > 32768) {
            *error = ENAMETOOLONG;
            return 0;
        }
    }
    std::uint64_t fileSize = 0;
    std::size_t n = 0;
    if (platform::ReadFileStart(path, buffer, fileSize, n, error) != platform::HeaderResult::Ok)
        return 0;
    size = fileSize;
    bytesRead = n;
    return fileSize > 0 && n > 0 ? 1 : 0;
}

bool IsJetSignature(std::span<const std::uint8_t> header) {
    if (header.size() < kSignatureBytes) return false;
    if (!std::equal(std::begin(kJetPrefix), std::end(kJetPrefix), header.begin())) return false;
    const auto version = header.subspan(sizeof kJetPrefix, 3);
    return std::equal(version.begin(), version.end(), std::begin(kJet4Version)) ||
           std::equal(version.begin(), version.end(), std::begin(kJet3Version));
}

}  // namespace mdb::scanner
