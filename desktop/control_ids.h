/* Control and menu command ids of the main window, the same in the wx window and in the
   Windows window's dialog templates (mdbwarden.rc includes this file through
   win32/resource_ids.h, so it holds nothing but #define lines). */
#pragma once

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

/* The row menu's "打开文件所在目录" and "查看原因". Below 0x7fff: wx takes no higher
   menu id. */
#define ID_OPEN_CONTAINING_FOLDER 32766
#define ID_SHOW_REASON 32765
