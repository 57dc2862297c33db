// The companion programs of the program directory as the compaction commands use
// them: found by path, checked against the integrity manifest, started and waited for.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "desktop/desktop_context.h"
#include "desktop/main_view.h"

namespace mdb::desktop {

inline constexpr char kIisResetProgram[] = "mdbscout_iisreset";
inline constexpr char kXconfigProgram[] = "mdbscout_xconfig";

inline constexpr char kMsgCompanionMissing[] =
    "文件“%s”未找到，或无法访问，请重试！\r\n\r\n\r\n"
    "如果多次尝试后，仍然无法启动，请联系我们的客服人员，我们将热诚为您服务。";

// Starts a program and waits until it has ended; nonzero when it was started.
using RunAndWait = std::function<int(const std::vector<std::string>& argv)>;

// Program directory + name, with doubled separators collapsed.
std::string ProgramPath(const std::string& programDir, const std::string& name);

// True when the program file matches the integrity manifest. Otherwise, when `view`
// is given, the user is told which file failed and why.
bool VerifyProgramIntegrity(const std::string& programDir, const std::string& name, MainView* view);

// Fills the missing-file message with `path`.
std::string CompanionMissingMessage(const std::string& path);

// Runs "mdbscout_iisreset /start" (or "/stop"), waiting: 1 when it was run; 0 when the
// program directory is unknown, the program is missing or fails its check (nothing is
// shown).
int RunWebServerControl(const DesktopContext& ctx, const RunAndWait& run, const char* command);

}  // namespace mdb::desktop
