// Text conversion between UTF-8 and wx, and the program's message boxes, shared by
// every window of mdbwarden.
#pragma once

#include <wx/string.h>

#include <string>

#include "desktop/main_view.h"

class wxDialog;
class wxWindow;

// UI texts are UTF-8; wx keeps the C locale, so narrow text must never be converted
// implicitly.
wxString U8(const std::string& text);
wxString U8(const char* text);
std::string ToU8(const wxString& text);

// A text of the window in the user's language, from the catalogs through wx's own
// translations (set up at start-up); `text` is the Chinese text, the catalogs' key.
wxString UiText(const char* text);

// Modal OK box with the icon of `icon`, owned by `parent`. CR LF line breaks are shown
// as line breaks.
void ShowMessageBox(wxWindow* parent, const std::string& text, mdb::desktop::MessageIcon icon);

// A modeless information box owned by `parent`, centred on it, with an OK button that
// closes (destroys) it. Shown by the caller.
wxDialog* CreateNoticeBox(wxWindow* parent, const std::string& text);

// Modal Yes/No box with the question icon; true only for Yes. With `noByDefault` the
// No button is the default one. An empty caption gives the program's caption.
bool AskYesNoBox(wxWindow* parent, const std::string& text, bool noByDefault,
                 const wxString& caption = wxString());
