// Resource ids of the Windows window (mdbwarden.rc); the main window's control ids are
// the wx window's (desktop/control_ids.h).
#pragma once

#define IDI_MDBWARDEN 128
#define IDD_MDBWARDEN_DIALOG 102
#define IDR_LIST_MENU 140

#include "../control_ids.h"

// The compaction confirmation dialog and the scan settings dialog.
#define IDD_COMPACT_CONFIRM 132
#define IDD_SCAN_CONFIG 136
#define IDC_CHOSEN_FILES 1046
#define IDC_SCAN_DIRS 1046
#define IDC_CHOOSE_DIR 1080

// The notice that does not block the main window.
#define IDD_NOTICE 150
#define IDC_NOTICE_TEXT 1001

// The message box the program lays out itself (desktop/win32/message_box.cpp).
#define IDD_MESSAGE_BOX 160
#define IDC_BOX_ICON 1002
#define IDC_BOX_TEXT 1003
