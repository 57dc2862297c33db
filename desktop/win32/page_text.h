// What the help pane shows without a web engine: the text of a local page, read from
// its local address (as ShowLocalPage gives it) and stripped of its markup, or the
// address of an online page.
#pragma once

#include <string>

namespace mdb::desktop::win32 {

// Plain UTF-8 text of the HTML `html`: no tags, scripts or styles; block ends become line
// breaks; the common entities decoded; blank runs collapsed.
std::string PlainTextOfHtml(const std::string& html);

// The help pane's text for `url`: the plain text of the local page it names (see
// LocalPathOfPageUrl), else a line that names the online page.
std::string HelpPaneText(const std::string& url);

}  // namespace mdb::desktop::win32
