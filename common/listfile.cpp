#include "common/listfile.h"

#include "common/text.h"

#include <algorithm>

namespace mdb {

void AddListLine(std::string_view line, std::vector<std::string>& entries) {
    std::string entry = Trim(line);
    std::erase_if(entry, [](char c) { return c == '\r' || c == '\n'; });
    if (entry.size() < 2 || entry.front() == ';') return;
    if (std::find(entries.begin(), entries.end(), entry) != entries.end()) return;
    entries.push_back(std::move(entry));
}

std::vector<std::string> ParseListText(std::string_view text) {
    std::vector<std::string> entries;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        AddListLine(text.substr(start, end - start), entries);
        start = end + 1;
    }
    return entries;
}

}  // namespace mdb
