// What both main windows (wx and Win32) show the same way: the list's columns, the
// command buttons with their dialog-unit places, the row menu, the title and the help
// pane's built-in start page. Texts are UTF-8, marked for the catalogs (MDB_TEXT); the
// windows show them translated.
#pragma once

#include "control_ids.h"
#include "main_view.h"
#include "platform/text_mark.h"

namespace mdb::desktop {

enum class ColumnAlign { Left, Right };

struct ColumnSpec {
    const char* caption;
    int width;  // pixels, at least; wider where a translated caption needs it
    ColumnAlign align;
};
// Beside a column's caption: the header's padding (pixels). The Chinese captions fit the
// widths above with it.
inline constexpr int kColumnCaptionRoom = 16;
inline constexpr ColumnSpec kListColumns[kColumnCount] = {
    {MDB_TEXT("序号"), 60, ColumnAlign::Left},          {MDB_TEXT("文件名"), 180, ColumnAlign::Left},
    {MDB_TEXT("原始文件大小"), 100, ColumnAlign::Right}, {MDB_TEXT("压缩后文件大小"), 100, ColumnAlign::Right},
    {MDB_TEXT("压缩率"), 100, ColumnAlign::Right},       {MDB_TEXT("路径"), 800, ColumnAlign::Left},
    // One pixel: the record key travels with the row without being seen.
    {"fid", 1, ColumnAlign::Left},
};

struct ButtonSpec {
    int id;
    const char* label;
    int x, y, width, height;  // dialog units
};
// IDC_SCAN is the default button (Enter runs it).
inline constexpr ButtonSpec kCommandButtons[] = {
    {IDC_SCAN, MDB_TEXT("扫描数据库文件"), 8, 37, 70, 21},
    {IDC_COMPACT_ALL, MDB_TEXT("压缩全部数据库"), 83, 37, 70, 21},
    {IDC_COMPACT_CHECKED, MDB_TEXT("压缩选择数据库"), 158, 37, 70, 21},
    {IDC_STOP_COMPACT, MDB_TEXT("停止压缩"), 233, 37, 70, 21},
    {IDC_REFRESH, MDB_TEXT("刷新记录"), 308, 37, 70, 21},
    {IDC_CLEAR_RECORDS, MDB_TEXT("清空记录"), 383, 37, 70, 21},
    {IDC_WEB_SITE, MDB_TEXT("官方网站"), 458, 37, 70, 21},
    {IDC_UNCHECK_ALL, MDB_TEXT("清除已选 √"), 8, 68, 58, 14},
    {IDC_CHECK_ALL, MDB_TEXT("全选 √"), 70, 68, 58, 14},
};

inline constexpr char kTitleText[] = MDB_TEXT("Veloran MDB 助手");
// The caption of the program's message boxes.
inline constexpr char kBoxCaption[] = MDB_TEXT("Veloran MDB 助手");
// The compaction confirmation dialog and its last question.
inline constexpr char kConfirmCaption[] = MDB_TEXT("数据库文件压缩确认");
inline constexpr char kAskCompactChosen[] = MDB_TEXT("确定对选择的文件进行批量压缩吗？");
inline constexpr char kMenuOpenFolder[] = MDB_TEXT("打开文件所在目录");
inline constexpr char kMenuShowReason[] = MDB_TEXT("查看原因");

// The help pane's start page when the shipped page cannot be shown (missing, or it
// fails its integrity check): the first steps, as the shipped page gives them. "%s" is the
// version as the caption shows it.
inline constexpr char kBuiltInStartPage[] = MDB_TEXT(
    "<!DOCTYPE html><html lang=\"zh-CN\"><head><meta charset=\"utf-8\"><title>Veloran MDB "
    "助手</title></head><body style=\"font-family:sans-serif;margin:16px\"><h3>Veloran MDB "
    "助手 %s</h3><p>帮助页面暂时无法显示。第一次使用请按以下步骤操作：</p><ol>"
    "<li>点击“扫描数据库文件”，填写网站目录并开始扫描，找到的 Access 数据库会显示在上方列表中。</li>"
    "<li>勾选需要压缩的文件并点击“压缩选择数据库”，或点击“压缩全部数据库”。</li>"
    "<li>压缩前会自动备份数据库文件；压缩完成后，列表显示压缩后的大小和压缩率。</li>"
    "</ol></body></html>");

}  // namespace mdb::desktop
