#include "common/listfile.h"

#include "common/text.h"
#include "platform/paths.h"

#include <algorithm>
#include <filesystem>

namespace mdb {

namespace {

// True for "/" and its other spellings ("//", "/.", "/..", ...).
bool IsFileSystemRoot(std::string_view entry) {
    const std::filesystem::path normal = std::filesystem::path(entry).lexically_normal();
    return normal.has_root_directory() && normal.relative_path().empty();
}

}  // namespace

void AddListLine(std::string_view line, std::vector<std::string>& entries) {
    std::string entry = Trim(line);
    std::erase_if(entry, [](char c) { return c == '\r' || c == '\n'; });
    if (entry.size() < 2 || entry.front() == ';') return;
    // Where the file system ignores case (Windows) entries are lower-cased, so the walk
    // records lower-case directories and D:\Home repeats d:\home. Only A to Z: the bytes of
    // a multi-byte character are never letters of that range.
    if (platform::kPathsIgnoreCase)
        for (char& c : entry)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (std::find(entries.begin(), entries.end(), entry) != entries.end()) return;
    entries.push_back(std::move(entry));
}

ParsedListFile ParseListFile(std::string_view text) {
    ParsedListFile parsed;
    size_t start = 0;
    for (size_t number = 1; start < text.size(); ++number) {
        size_t end = text.find_first_of("\r\n", start);
        size_t next = end;
        if (end == std::string_view::npos) {
            end = next = text.size();
        } else if (text[end] == '\n' || (end + 1 < text.size() && text[end + 1] == '\n')) {
            next = text.find('\n', end) + 1;
        } else {
            parsed.crLineEnds = true;  // a CR that no LF follows ends the line by itself
            next = end + 1;
        }
        const std::string_view line = text.substr(start, end - start);
        start = next;
        const std::string_view trimmed = TrimView(line);
        if (trimmed.find('\0') != std::string_view::npos) {
            parsed.ignored.push_back({number, std::string(trimmed), IgnoredListLine::Why::NulByte});
        } else if (!trimmed.empty() && trimmed.front() != ';' && IsFileSystemRoot(trimmed)) {
            parsed.ignored.push_back(
                {number, std::string(trimmed), IgnoredListLine::Why::FileSystemRoot});
        } else {
            AddListLine(line, parsed.entries);
        }
    }
    return parsed;
}

std::vector<std::string> ParseListText(std::string_view text) {
    return ParseListFile(text).entries;
}

}  // namespace mdb
