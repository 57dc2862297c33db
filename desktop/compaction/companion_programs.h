// The companion programs as the window's compaction commands use them: the batch's
// companions (batch/companions.h) with the window's messages when one is missing or
// fails its integrity check.
#pragma once

#include <string>

#include "batch/companions.h"
#include "common/i18n.h"
#include "desktop/desktop_context.h"
#include "desktop/main_view.h"

namespace mdb::desktop {

using batch::kIisResetProgram;
using batch::kXconfigProgram;
using batch::ProgramPath;
using batch::RunAndWait;

inline constexpr char kMsgCompanionMissing[] =
    MDB_TEXT("文件“%s”未找到，或无法访问，请重试！\r\n\r\n\r\n"
    "如果多次尝试后，仍然无法启动，请联系我们的客服人员，我们将热诚为您服务。");

// True when the program file matches the integrity manifest. Otherwise, when `view`
// is given, the user is told which file failed and why.
bool VerifyProgramIntegrity(const std::string& programDir, const std::string& name, MainView* view);

// What the user is told when the program file `name` failed its integrity check `check`.
std::string IntegrityFailureMessage(const std::string& programDir, const std::string& name,
                                    ManifestCheck check);

// Fills the missing-file message with `path`.
std::string CompanionMissingMessage(const std::string& path);

// batch::RunWebServerControl for the program directory of `ctx`: false also when that
// directory is unknown (nothing is shown).
bool RunWebServerControl(const DesktopContext& ctx, const RunAndWait& run, const char* command);

}  // namespace mdb::desktop
