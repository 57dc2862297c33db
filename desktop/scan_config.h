// The scan settings dialog without its toolkit: the directory list as the dialog
// reads, cleans up, checks and saves it. The wx dialog supplies the view (the
// directory box, message boxes) and forwards its events here.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "desktop/desktop_context.h"
#include "common/i18n.h"
#include "desktop/main_view.h"
#include "platform/paths.h"

namespace mdb::desktop {

inline constexpr char kScanDirFileName[] = "ScanDir.txt";

// The example is the platform's site directory.
inline constexpr char kMsgNoScanDirPattern[] =
    MDB_TEXT("请填写需要扫描的目录，例如 %s\r\n\r\n\r\n请返回重新填写有效的扫描目录名！");
inline constexpr char kMsgScanDirLengthPattern[] =
    MDB_TEXT("请填写的扫描目录长度有错误，例如 %s\r\n\r\n\r\n请返回重新填写有效的扫描目录名！");
inline const std::string kMsgNoScanDir =
    FormatText(kMsgNoScanDirPattern, {platform::kExampleSiteDir});
inline const std::string kMsgScanDirLength =
    FormatText(kMsgScanDirLengthPattern, {platform::kExampleSiteDir});
inline constexpr char kMsgScanDirMissing[] =
    MDB_TEXT("填写的扫描目录“%s”不存在或无法访问，请确认硬盘里是否存在此目录？\r\n\r\n\r\n"
    "只能填写硬盘中实际存在的目录名，请返回重新填写有效的扫描目录名！");
inline constexpr char kAskStartScan[] = MDB_TEXT("确定开始扫描硬盘目录中的 MDB 数据库文件吗？");
// Shown when the directory list cannot be written; the dialog stays open.
inline constexpr char kMsgScanDirNotSaved[] =
    MDB_TEXT("保存扫描目录文件“%s”失败，请确认此文件可以写入后重试！");

// Limits of the line-list normaliser and of the scan list, in bytes of the code page the
// list is stored in (the system's ANSI code page, GBK on Chinese Windows; UTF-8 here).
inline constexpr std::size_t kMaxListText = 104'857'600;  // exclusive
inline constexpr std::size_t kMaxListToken = 1'048'576;   // exclusive
// Entry lengths the scan settings accept, and the bounds of the whole saved list.
inline constexpr std::size_t kMinScanDirEntry = 1;
inline constexpr std::size_t kMaxScanDirEntry = 260;
inline constexpr std::size_t kMinScanDirText = 3;     // inclusive
inline constexpr std::size_t kMaxScanDirText = 8192;  // exclusive
// Longest folder path the folder button appends (exclusive).
inline constexpr std::size_t kMaxChosenFolder = 260;

struct LineListOptions {
    std::size_t minLength = 1;
    std::size_t maxLength = 260;
    bool lowerCase = false;
    // A bare drive ("d:") becomes its root ("d:\"); only where paths have drive letters.
    bool driveRoot = false;
    // Duplicates found without regard to ASCII letter case (file systems that ignore it).
    bool ignoreCaseInDuplicates = false;
};

struct LineList {
    std::string text;  // the kept entries, each followed by "\r\n"
    std::vector<std::string> entries;
    int count = 0;
};

// Splits `text` at every run of CR and LF, trims each line and keeps the distinct lines
// whose length (in the stored code page) lies within the bounds, in the order of their
// first occurrence.
// False (outputs empty) for an empty or oversized text or bounds that leave no room;
// true otherwise, possibly with no entry.
bool NormaliseLineList(std::string_view text, const LineListOptions& options, LineList& out);

// How this platform's scan settings clean up the list: on Windows a bare drive becomes its
// root and duplicates ignore letter case; here duplicates are case-sensitive and there
// are no drive letters.
LineListOptions ScanDirListOptions();

// Replaces every "\r\n\r\n" by "\r\n", two passes over the whole text.
std::string CollapseBlankLines(std::string text);

// The folder picker of "选择目录": its title, and where it starts: at the last line of
// the directory box that names an existing directory, else at the file system's root
// (here "/"; on Windows empty, the picker's own start).
inline constexpr char kFolderPickerTitle[] = MDB_TEXT("选择需要扫描的网站目录");
std::string FolderPickerStart(const std::string& boxText);

// What the scan settings dialog needs from its window.
class ScanConfigView {
  public:
    virtual ~ScanConfigView() = default;
    // The text of the directory box as it is now.
    virtual std::string ReadBox() = 0;
    // Replaces the text of the directory box.
    virtual void ShowBox(const std::string& text) = 0;
    // OK box owned by the dialog.
    virtual void ShowMessage(const std::string& text, MessageIcon icon) = 0;
    // Yes/No box with the question icon; true only for Yes.
    virtual bool AskYesNo(const std::string& text) = 0;
    virtual void FocusBox() = 0;
};

// The state and handlers of the scan settings dialog.
class ScanConfig {
  public:
    explicit ScanConfig(DesktopContext ctx) : ctx_(std::move(ctx)) {}

    // Dialog initialisation: shows the saved list (blank lines collapsed), or an empty
    // box when it cannot be read. Shows no message.
    void Open(ScanConfigView& view);

    // The folder button after the user chose `folder` (empty: cancelled). The box is
    // read first, so text typed since the last transfer is kept; the folder becomes a
    // new last line.
    void AddFolder(ScanConfigView& view, const std::string& folder);

    // The confirm button: true when the list was saved and the user answered Yes, i.e.
    // the dialog ends with OK. False keeps the dialog open.
    bool Confirm(ScanConfigView& view);

  private:
    DesktopContext ctx_;
    std::string directoryText_;
};

}  // namespace mdb::desktop
