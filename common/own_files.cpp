#include "common/own_files.h"

#include <cctype>

#include "platform/safe_files.h"

namespace mdb {

namespace {

bool IsUniquePart(std::string_view part) {
    if (part.size() != platform::kUniqueNameChars) return false;
    for (char c : part)
        if (!std::isalnum(static_cast<unsigned char>(c))) return false;
    return true;
}

}  // namespace

std::string StagingPrefixFor(const std::string& name) {
    return "." + name + kStagingMiddle;
}

std::optional<std::string> StagingFileTarget(std::string_view entry) {
    const std::string_view middle = kStagingMiddle, suffix = kStagingSuffix;
    const std::size_t tail = middle.size() + platform::kUniqueNameChars + suffix.size();
    if (entry.size() <= tail + 1 || entry[0] != '.') return std::nullopt;
    const std::size_t at = entry.size() - tail;
    if (entry.substr(at, middle.size()) != middle || !entry.ends_with(suffix) ||
        !IsUniquePart(entry.substr(at + middle.size(), platform::kUniqueNameChars)))
        return std::nullopt;
    return std::string(entry.substr(1, at - 1));
}

std::optional<std::string> AsideFileTarget(std::string_view entry) {
    const std::string_view middle = platform::kReplacedAsideMiddle;
    const std::size_t tail = middle.size() + platform::kUniqueNameChars;
    if (entry.size() <= tail) return std::nullopt;
    const std::size_t at = entry.size() - tail;
    if (entry.substr(at, middle.size()) != middle ||
        !IsUniquePart(entry.substr(at + middle.size())))
        return std::nullopt;
    return std::string(entry.substr(0, at));
}

}  // namespace mdb
