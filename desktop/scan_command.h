// The scan command behind "扫描数据库文件": lets a running scanner finish or ends it,
// otherwise opens the scan settings and starts the scanner from the program
// directory, in a terminal window of its own, without waiting for it. The list fills
// through the refresh watcher while the scanner runs; this command never reloads it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "desktop/compaction/compaction_commands.h"
#include "common/i18n.h"
#include "desktop/desktop_state.h"
#include "desktop/main_view.h"
#include "platform/paths.h"

namespace mdb::desktop {

inline constexpr char kScannerProgram[] = "mdbscout" MDB_PROGRAM_SUFFIX;
inline constexpr char kScanArgument[] = "/FileScan";

inline constexpr char kAskScanRunning[] =
    MDB_TEXT("当前正在扫描网站目录里的MDB数据库文件\r\n\r\n\r\n"
    "点“是”，继续等待扫描完成\r\n\r\n点“否”，立刻结束扫描并返回");
// A scan started during a batch stops it, and the scan records the files anew: their
// rows then show the sizes found, no longer this batch's results.
inline constexpr char kAskScanStopsBatch[] = MDB_TEXT(
    "正在压缩数据库文件。\r\n\r\n开始扫描后，本次压缩将在当前文件压缩完成后停止，并重新启动 Web 服务器；"
    "扫描会重新记录找到的文件，列表中本次的压缩结果将不再显示。\r\n\r\n确定要开始扫描吗？");
inline constexpr char kAskScanWithdrawsRequest[] = MDB_TEXT(
    "已请求压缩数据库文件，压缩尚未开始。\r\n\r\n开始扫描将取消本次压缩请求，并重新启动 Web 服务器。"
    "\r\n\r\n确定要开始扫描吗？");
inline constexpr char kMsgScanLookupFailed[] =
    MDB_TEXT("判断文件扫描程序“%s”是否启动失败，请重试！\r\n\r\n\r\n"
    "如果多次尝试后，仍然无法启动，请联系我们的客服人员，我们将热诚为您服务。");
inline constexpr char kMsgScannerMissing[] =
    MDB_TEXT("文件扫描程序“%s”未找到，或无法访问，请重试！\r\n\r\n\r\n"
    "如果多次尝试后，仍然无法启动，请联系我们的客服人员，我们将热诚为您服务。");
inline constexpr char kMsgScannerStartFailed[] =
    MDB_TEXT("启动文件扫描程序“%s”失败，请重试！\r\n\r\n\r\n"
    "如果多次尝试后，仍然无法启动，请联系我们的客服人员，我们将热诚为您服务。");

struct ScanContext {
    // Program directory, and what cancelling a compaction request needs.
    CompactionContext compaction;
    // Look-up of the processes running the program at this full path (the scanner of
    // this program directory, never another installation's): 1 running, 2 not running,
    // 0 failure.
    std::function<int(const std::string& program)> findProcess;
    // Ends every process running the program at this full path; the result is not used.
    std::function<int(const std::string& program)> endProcesses;
    // Starts a console program without waiting; true when it was started.
    std::function<bool(const std::vector<std::string>& argv)> startConsoleProgram;
};

// The context of the real program around the compaction context it shares.
ScanContext MakeProgramScanContext(CompactionContext compaction);

// qorGetProcessList and qorTerminateProcess for the one program file at `program`.
int FindProgramProcess(const std::string& program);
int EndProgramProcesses(const std::string& program);

// The scan command.
void OnScanDatabases(const ScanContext& ctx, CompactionState& cs, DesktopState& state,
                     MainView& view);

}  // namespace mdb::desktop
