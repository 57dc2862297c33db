// Where the text of a message box must not be broken across lines.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
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

// The lines of `text` (UTF-8) in a box `maxWidth` wide, `width` measuring a piece of a
// line, for a window that lays its boxes out itself. A line ends at the text's own line
// breaks, after a blank, or between two Chinese characters, but never inside an
// unbreakable span, before a closing mark (，。）” ...) or after an opening one (（“ ...);
// a Latin word, a path or a number is not broken. Only a run too wide for the box with
// no such place is cut where it fills the line. Blanks at a line's end are not shown.
std::vector<std::string> WrapBoxText(std::string_view text, int maxWidth,
                                     const std::function<int(std::string_view)>& width);

}  // namespace mdb::desktop
