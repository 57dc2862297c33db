#include "box_text.h"

#include <algorithm>

namespace mdb::desktop {

std::vector<TextSpan> UnbreakableSpans(std::string_view text) {
    // The Chinese texts quote with “”, their translations may use plain quotes.
    constexpr std::string_view kOpen = "\u201C", kClose = "\u201D", kPlain = "\"";
    std::vector<TextSpan> spans;
    for (std::size_t at = 0;;) {
        const std::size_t curly = text.find(kOpen, at), plain = text.find(kPlain, at);
        const std::size_t open = std::min(curly, plain);
        if (open == std::string_view::npos) break;
        const std::size_t inner = open + (open == curly ? kOpen.size() : kPlain.size());
        const std::string_view closing = open == curly ? kClose : kPlain;
        const std::size_t close = text.find(closing, inner);
        if (close == std::string_view::npos) break;
        const std::string_view span = text.substr(inner, close - inner);
        std::size_t characters = 0;
        for (const char c : span) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
        if (characters <= kMaxUnbrokenSpan && span.find_first_of("\r\n") == std::string_view::npos) {
            spans.push_back({open, close + closing.size()});
        }
        at = close + closing.size();
    }
    return spans;
}

}  // namespace mdb::desktop
