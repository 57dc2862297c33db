#include "batch/stored_path.h"

#include "common/base64.h"
#include "common/utf16.h"
#include "platform/arguments.h"
#include "platform/paths.h"

namespace mdb::batch {
namespace {

// Limits on the stored and the decoded path, and on a long path in UTF-16 units (the
// longest path the long form of the Windows file API accepts).
constexpr std::size_t kMaxStoredPath = 104'857'600;
constexpr std::size_t kMaxDecodedPathBytes = 102'400;
constexpr std::size_t kMaxLongPathUnits = 32'767;

}  // namespace

std::optional<std::filesystem::path> PathFromLong(std::u16string longPath) {
    const std::u16string prefix(platform::kLongPathPrefix.begin(), platform::kLongPathPrefix.end());
    if (!prefix.empty()) {
        for (std::size_t at; (at = longPath.find(prefix)) != std::u16string::npos;)
            longPath.erase(at, prefix.size());
    }
    if (longPath.empty() || longPath.size() > kMaxLongPathUnits ||
        longPath.find(u'\0') != std::u16string::npos)
        return std::nullopt;
    const std::optional<std::string> native = Utf16ToUtf8(longPath);
    if (!native) return std::nullopt;
    std::filesystem::path path = platform::PathFromUtf8(*native);
    if (!path.is_absolute() || !path.has_filename()) return std::nullopt;
    return path;
}

std::optional<std::filesystem::path> DecodeStoredPath(const std::string& storedPath) {
    if (storedPath.empty() || storedPath.size() >= kMaxStoredPath) return std::nullopt;
    const std::vector<std::uint8_t> bytes = Base64Decode(storedPath);
    if (bytes.empty() || bytes.size() >= kMaxDecodedPathBytes) return std::nullopt;
    return PathFromLong(Utf16FromLeBytes(bytes));
}

std::string StoredPathText(const std::string& storedPath) {
    return DecodeRecordedFile(storedPath).Text();
}

std::string StoredPathOf(const std::filesystem::path& path) {
    const std::string text = std::string(platform::kLongPathPrefix) + platform::Utf8OfPath(path);
    return Base64EncodeText(Utf16LeBytes(Utf8ToUtf16(text).value_or(std::u16string())));
}

std::string RecordedFile::Text() const {
    return path ? platform::Utf8OfPath(*path) : stored;
}

RecordedFile DecodeRecordedFile(const std::string& storedPath) {
    return RecordedFile{storedPath, DecodeStoredPath(storedPath)};
}

std::vector<RecordedFile> DecodeRecordedFiles(const std::vector<std::string>& storedPaths) {
    std::vector<RecordedFile> files;
    files.reserve(storedPaths.size());
    for (const std::string& stored : storedPaths) files.push_back(DecodeRecordedFile(stored));
    return files;
}

}  // namespace mdb::batch
