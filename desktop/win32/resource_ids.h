// Resource and control ids of the Windows window (mdbwarden.rc); the same ids as the
// wx window's.
#pragma once

#define IDI_MDBWARDEN 128
#define IDD_MDBWARDEN_DIALOG 102
#define IDR_LIST_MENU 140

#define IDC_LIST_FILES 1018
#define IDC_TEXT_PANE 1019
#define IDC_TITLE 1036
#define IDC_REFRESH 1047
#define IDC_COMPACT_CHECKED 1048
#define IDC_COMPACT_ALL 1050
#define IDC_CLEAR_RECORDS 1051
#define IDC_WEB_SITE 1062
#define IDC_PROGRESS 1064
#define IDC_STOP_COMPACT 1065
#define IDC_SCAN 1066
#define IDC_UNCHECK_ALL 1068
#define IDC_CHECK_ALL 1073
#define IDC_HELP_PANE 1082

#define ID_OPEN_CONTAINING_FOLDER 32777
#define ID_SHOW_REASON 32778

// The compaction confirmation dialog and the scan settings dialog.
#define IDD_COMPACT_CONFIRM 132
#define IDD_SCAN_CONFIG 136
#define IDC_CHOSEN_FILES 1046
#define IDC_SCAN_DIRS 1046
#define IDC_CHOOSE_DIR 1080

// The notice that does not block the main window.
#define IDD_NOTICE 150
#define IDC_NOTICE_TEXT 1001
