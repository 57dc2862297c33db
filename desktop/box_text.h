// Where the text of a message box must not be broken across lines.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace mdb::desktop {

// A quoted span (“…”, or "…" in a translation) in a box is a path or a name: broken at a '/', a ':' or a blank
// it reads as two things. Longer spans may break, as one unbroken run would widen the
// box past the screen.
inline constexpr std::size_t kMaxUnbrokenSpan = 80;  // characters between the quotes

// Byte range [begin, end) of a UTF-8 text.
struct TextSpan {
    std::size_t begin = 0;
    std::size_t end = 0;
    bool operator==(const TextSpan&) const = default;
};

// The quoted spans of `text` to keep on one line, each from its opening to past its
// closing quote: those of at most kMaxUnbrokenSpan characters without a line break.
// The text itself is not changed: what a user copies from a box is what it says.
std::vector<TextSpan> UnbreakableSpans(std::string_view text);

}  // namespace mdb::desktop
