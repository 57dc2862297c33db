#include "common/text.h"

#include "platform/paths.h"

#include <cctype>

namespace mdb {

namespace {

std::string CollapseOnce(const std::string& path) {
    const char sep = platform::kSeparator;
    std::string out;
    out.reserve(path.size());
    for (size_t i = 0; i < path.size(); ++i) {
        if (path[i] == sep && i + 1 < path.size() && path[i + 1] == sep) {
            out.push_back(sep);
            ++i;
        } else {
            out.push_back(path[i]);
        }
    }
    return out;
}

}  // namespace

std::string CollapseSeparators(std::string path) {
    return CollapseOnce(CollapseOnce(path));
}

std::string_view TrimView(std::string_view text) {
    size_t b = 0, e = text.size();
    while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
    return text.substr(b, e - b);
}

std::string Trim(std::string_view text) {
    return std::string(TrimView(text));
}

std::string FillPlaceholder(std::string_view pattern, std::string_view value) {
    std::string out;
    size_t start = 0;
    for (size_t pos; (pos = pattern.find("%s", start)) != std::string_view::npos; start = pos + 2)
        out.append(pattern.substr(start, pos - start)).append(value);
    out.append(pattern.substr(start));
    return out;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace mdb
