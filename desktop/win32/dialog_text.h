// The Win32 window's own texts in the user's language. The dialog templates and the
// menu (mdbwarden.rc) keep their Chinese texts, which are the catalog's keys.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace mdb::desktop {

// Puts the caption of `dialog` and the text of each of its controls into the user's
// language (Tr); texts the catalog does not have stay as the template gives them.
void TranslateDialog(HWND dialog);

// The same for every item of `menu` and its submenus.
void TranslateMenu(HMENU menu);

// A Chinese text of the window (a key of the catalog) in the user's language, wide.
std::wstring WideText(std::wstring_view chinese);

}  // namespace mdb::desktop
