#include "desktop/compaction/companion_programs.h"

#include "common/manifest.h"
#include "common/text.h"
#include "platform/arguments.h"

namespace mdb::desktop {

std::string CompanionMissingMessage(const std::string& path) {
    return FillPlaceholder(kMsgCompanionMissing, path);
}

bool VerifyProgramIntegrity(const std::string& programDir, const std::string& name,
                            MainView* view) {
    const ManifestCheck check = CheckAgainstManifest(platform::PathFromUtf8(programDir), name);
    if (check == ManifestCheck::Match) return true;
    if (view) {
        const char* why = check == ManifestCheck::Differs      ? "文件已被改动"
                          : check == ManifestCheck::NotListed  ? "校验清单中没有此文件"
                          : check == ManifestCheck::NoManifest ? "校验清单缺失"
                                                               : "文件无法读取";
        view->ShowMessage("程序文件 " + ProgramPath(programDir, name) + " 未通过完整性校验（" +
                              why + "），已拒绝启动。\r\n\r\n请重新安装本程序。",
                          MessageIcon::Error);
    }
    return false;
}

int RunWebServerControl(const DesktopContext& ctx, const RunAndWait& run, const char* command) {
    std::string programDir;
    if (!ctx.exeDirectory || ctx.exeDirectory(programDir) != 1) return 0;
    return batch::RunWebServerControl(programDir, run, command);
}

}  // namespace mdb::desktop
