// The Win32 window's message boxes, laid out by the program rather than by MessageBox:
// the system breaks a box's lines by its own rules, which end a line inside a path
// ("d:" / "\qor_mdb_backup\"), and labels the buttons in the system's language, not
// the window's.
#pragma once

#include <windows.h>

#include <string>

#include "desktop/main_view.h"

namespace mdb::desktop::win32 {

enum class BoxButtons { Ok, YesNo };

// A modal box (template IDD_MESSAGE_BOX of the program's resources) owned by `owner`,
// titled `caption`, with the system's icon for `icon`; returns IDOK, IDYES or IDNO
// (Esc and the close box answer OK, or No). With `noByDefault` Enter answers No. Lines
// break as desktop/box_text.h says; the text control holds the text as given, which
// screen readers read and Ctrl+C copies.
int RunMessageBox(HWND owner, const std::string& text, const std::string& caption, MessageIcon icon,
                  BoxButtons buttons, bool noByDefault = false);

}  // namespace mdb::desktop::win32
