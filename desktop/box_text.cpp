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

namespace {

// The code point starting at `at` and its length in bytes.
char32_t CodePointAt(std::string_view text, std::size_t at, std::size_t& length) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (at + length > text.size()) length = 1;
    if (length == 1) return lead;
    char32_t cp = lead & (0x3F >> (length - 1));
    for (std::size_t i = 1; i < length; ++i) cp = (cp << 6) | (byte(at + i) & 0x3F);
    return cp;
}

// Chinese characters and their punctuation, full-width forms: a line may end between
// any two of them.
bool IsWide(char32_t cp) {
    return (cp >= 0x2E80 && cp <= 0x9FFF) || (cp >= 0xF900 && cp <= 0xFAFF) ||
           (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFFEF);
}

bool IsClosingMark(char32_t cp) {
    constexpr std::u32string_view kClosing = U"，。、；：？！）》」』】〕”’…·,.;:?!)]}%";
    return kClosing.find(cp) != std::u32string_view::npos;
}

bool IsOpeningMark(char32_t cp) {
    constexpr std::u32string_view kOpening = U"（《「『【〔“‘([{";
    return kOpening.find(cp) != std::u32string_view::npos;
}

std::string_view WithoutTrailingBlanks(std::string_view line) {
    while (!line.empty() && line.back() == ' ') line.remove_suffix(1);
    return line;
}

void WrapParagraph(std::string_view text, int maxWidth, const std::function<int(std::string_view)>& width,
                   std::vector<std::string>& lines) {
    const std::vector<TextSpan> spans = UnbreakableSpans(text);
    const auto insideSpan = [&](std::size_t at) {
        for (const TextSpan& span : spans) {
            if (span.begin < at && at < span.end) return true;
        }
        return false;
    };
    std::size_t start = 0;      // of the line being filled
    std::size_t lastBreak = 0;  // the last place it may end (none while not past start)
    char32_t previous = 0;
    for (std::size_t at = 0, length = 0; at < text.size(); at += length) {
        const char32_t cp = CodePointAt(text, at, length);
        if (at > start && !insideSpan(at) && !IsClosingMark(cp) && !IsOpeningMark(previous) &&
            (previous == U' ' || IsWide(previous) || IsWide(cp))) {
            lastBreak = at;
        }
        previous = cp;
        if (at == start || width(WithoutTrailingBlanks(text.substr(start, at + length - start))) <= maxWidth) {
            continue;
        }
        // This character does not fit: the line ends at the last place it may, or here,
        // and the next line is filled from there.
        const std::size_t end = lastBreak > start ? lastBreak : at;
        lines.emplace_back(WithoutTrailingBlanks(text.substr(start, end - start)));
        start = end;
        while (start < text.size() && text[start] == ' ') ++start;
        lastBreak = 0;
        previous = 0;
        at = start;
        length = 0;
    }
    lines.emplace_back(WithoutTrailingBlanks(text.substr(start)));
}

}  // namespace

std::vector<std::string> WrapBoxText(std::string_view text, int maxWidth,
                                     const std::function<int(std::string_view)>& width) {
    std::vector<std::string> lines;
    for (std::size_t at = 0;;) {
        const std::size_t end = text.find('\n', at);
        std::string_view paragraph = text.substr(at, end == std::string_view::npos ? end : end - at);
        if (!paragraph.empty() && paragraph.back() == '\r') paragraph.remove_suffix(1);
        WrapParagraph(paragraph, maxWidth, width, lines);
        if (end == std::string_view::npos) break;
        at = end + 1;
    }
    return lines;
}

}  // namespace mdb::desktop
