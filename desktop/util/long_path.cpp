#include "desktop/util/long_path.h"

#include "desktop/util/file_mode.h"

#include "common/utf16.h"
#include "platform/paths.h"

#include <cassert>
#include <filesystem>
#include <system_error>
#include <vector>

namespace mdb::desktop {

namespace fs = std::filesystem;

namespace {

std::u16string WidePrefix() {
    // The prefix is plain ASCII on every platform.
    return std::u16string(platform::kLongPathPrefix.begin(), platform::kLongPathPrefix.end());
}

// The directory that holds the last level of `native` ("/" for a level in the root).
std::string ParentOf(std::string native) {
    while (native.size() > 1 && native.back() == platform::kSeparator) native.pop_back();
    const auto cut = native.rfind(platform::kSeparator);
    if (cut == std::string::npos || cut == 0) return std::string(1, platform::kSeparator);
    return native.substr(0, cut);
}

}  // namespace

int RemoveAllOccurrences(std::u16string& text, std::u16string_view needle) {
    if (needle.empty()) return 0;
    int removed = 0;
    std::size_t at = 0;
    while ((at = text.find(needle, at)) != std::u16string::npos) {
        text.erase(at, needle.size());
        ++removed;
    }
    return removed;
}

int StripLongPathPrefix(std::u16string& path) {
    return RemoveAllOccurrences(path, WidePrefix());
}

bool LongPathToNative(std::u16string_view path, std::string& native) {
    native.clear();
    if (path.size() < kMinLongPath || path.size() > kMaxLongPath) return false;
    if (path.find(u'\0') != std::u16string_view::npos) return false;
    const std::u16string prefix = WidePrefix();
    if (!path.starts_with(prefix)) return false;
    std::optional<std::string> text = Utf16ToUtf8(path);
    if (!text) return false;
    if (!platform::IsRootedPath(std::string_view(*text).substr(prefix.size()))) return false;
    native = std::move(*text);
    return true;
}

int ProbeLongPath(std::u16string_view path) {
    std::string native;
    if (!LongPathToNative(path, native)) return kProbeFailed;
    std::error_code ec;
    const fs::file_status st = fs::status(native, ec);
    if (!ec) {
        if (fs::is_directory(st)) return kProbeDirectory;
        return fs::is_regular_file(st) ? kProbeFile : kProbeFailed;
    }
    if (ec == std::errc::not_a_directory) return kProbePathMissing;
    if (ec != std::errc::no_such_file_or_directory) return kProbeFailed;
    std::error_code parentEc;
    return fs::is_directory(ParentOf(native), parentEc) ? kProbeNotFound : kProbePathMissing;
}

int GetLongPathFileSize(std::u16string_view path, std::uint64_t& size) {
    size = 0;
    std::string native;
    if (!LongPathToNative(path, native)) return 0;
    std::error_code ec;
    const fs::file_status st = fs::status(native, ec);
    if (ec) return 0;
    if (fs::is_directory(st)) return 2;
    if (!fs::is_regular_file(st)) return 0;
    const std::uintmax_t bytes = fs::file_size(native, ec);
    if (ec) return 0;
    size = bytes;
    return 1;
}

int ClearLongPathAttributes(std::u16string_view path) {
    std::string native;
    if (!LongPathToNative(path, native)) return 0;
    return MakeOwnerWritable(native) ? 1 : 0;
}

int EnsureLongPathParentDirs(std::u16string_view path, const Sleeper& sleep) {
    if (path.size() < kMinParentDirsPath || path.size() > kMaxParentDirsPath) return 0;
    std::u16string copy(path);
    const std::u16string prefix = WidePrefix();
    if (!copy.starts_with(prefix)) return 0;
    StripLongPathPrefix(copy);
    if (copy.empty() || copy.front() != u'/') return 0;

    // The file's directory, split into its levels below the root.
    copy.resize(copy.rfind(u'/'));
    std::vector<std::u16string_view> levels;
    std::u16string_view rest(copy);
    while (!rest.empty()) {
        const auto cut = rest.find(u'/');
        const std::u16string_view level = rest.substr(0, cut);
        if (!level.empty()) levels.push_back(level);
        if (cut == std::u16string_view::npos) break;
        rest.remove_prefix(cut + 1);
    }
    for (const auto level : levels) {
        if (level.size() > kMaxComponentLength) return 0;
    }
    // The root is the first level.
    if (levels.size() + 1 > kMaxPathComponents) return 0;
    if (levels.empty()) return 0;  // a file directly in the root

    std::u16string partial = prefix;
    for (const auto level : levels) {
        partial += u'/';
        partial += level;
        const int probe = ProbeLongPath(partial);
        if (probe == kProbeFailed) return 0;
        if (probe == kProbeDirectory) continue;
        std::string native;
        const bool converted = LongPathToNative(partial, native);
        assert(converted);  // ProbeLongPath accepted the same text
        if (!converted) return 0;
        std::error_code ec;
        fs::create_directory(native, ec);
        if (ec) return 0;
        if (sleep) sleep(kCreateLevelPause);
    }
    return 1;
}

}  // namespace mdb::desktop
