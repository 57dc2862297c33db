// What the help pane shows without a web engine: a local page, read from its local
// address (as ShowLocalPage gives it) and turned into rich text by its structure
// (headings, paragraphs, lists, emphasis, code), or a line naming an online page.
#pragma once

#include <string>

namespace mdb::desktop::win32 {

// RTF of the HTML `html` (UTF-8) for a rich edit control: h1-h3 as bold coloured
// headings, p/div/tr as paragraphs, ol/ul items numbered or bulleted with a hanging
// indent, b/strong bold, code in a fixed-pitch face, br as a line break. Scripts,
// styles and the title are left out; the common entities are decoded; blank runs
// collapse as a browser collapses them. Every non-ASCII character is written as \uN.
std::string RtfOfHtml(const std::string& html);

// RTF of one plain UTF-8 paragraph.
std::string RtfOfText(const std::string& text);

// The help pane's rich text for `url`: the local page it names (see LocalPathOfPageUrl),
// a line saying it cannot be read, or a line naming the online page.
std::string HelpPaneRtf(const std::string& url);

}  // namespace mdb::desktop::win32
