#include "desktop/util/list_files.h"

#include "platform/dirwalk.h"
#include "platform/paths.h"

#include <algorithm>

namespace mdb::desktop {

bool MatchesWildcard(std::string_view name, std::string_view mask) {
    if (mask == "*.*") mask = "*";
    // Greedy match with one back-tracking point (the last '*').
    std::size_t n = 0, m = 0;
    std::size_t starMask = std::string_view::npos, starName = 0;
    while (n < name.size()) {
        if (m < mask.size() && (mask[m] == '?' || mask[m] == name[n])) {
            ++n;
            ++m;
        } else if (m < mask.size() && mask[m] == '*') {
            starMask = m++;
            starName = n;
        } else if (starMask != std::string_view::npos) {
            m = starMask + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*') ++m;
    return m == mask.size();
}

int ListFiles(const std::string& pattern, std::vector<std::string>& names,
              std::vector<std::string>& paths) {
    names.clear();
    paths.clear();
    if (pattern.size() < kMinListPattern || pattern.size() > kMaxListPattern) return 0;
    if (!platform::IsRootedPath(pattern)) return 0;

    const auto cut = pattern.rfind(platform::kSeparator);
    const std::string mask = pattern.substr(cut + 1);
    if (mask.empty()) return 0;
    const std::string directory =
        cut == 0 ? std::string(1, platform::kSeparator) : pattern.substr(0, cut);
    std::vector<platform::DirEntry> entries;
    if (!platform::ListDirectory(directory, entries)) return 0;

    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return a.name < b.name; });
    const std::string stem =
        directory.back() == platform::kSeparator ? directory : directory + platform::kSeparator;
    for (const platform::DirEntry& entry : entries) {
        if (entry.kind != platform::EntryKind::RegularFile) continue;
        if (entry.size <= kListMinExclusive || entry.size > kListMax) continue;
        if (!MatchesWildcard(entry.name, mask)) continue;
        names.push_back(entry.name);
        paths.push_back(stem + entry.name);
    }
    return names.empty() ? 0 : 1;
}

}  // namespace mdb::desktop
