#include "desktop/compaction/companion_programs.h"
#include "common/i18n.h"

#include "common/manifest.h"
#include "common/text.h"
#include "platform/arguments.h"

namespace mdb::desktop {

std::string CompanionMissingMessage(const std::string& path) {
    return TrFormat(kMsgCompanionMissing, {path});
}

std::string IntegrityFailureMessage(const std::string& programDir, const std::string& name,
                                    ManifestCheck check) {
    const char* why = check == ManifestCheck::Differs      ? MDB_TEXT("文件已被改动")
                      : check == ManifestCheck::NotListed  ? MDB_TEXT("校验清单中没有此文件")
                      : check == ManifestCheck::NoManifest ? MDB_TEXT("校验清单缺失")
                                                           : MDB_TEXT("文件无法读取");
    return TrFormat("程序文件 %s 未通过完整性校验（%s），已拒绝启动。\r\n\r\n请重新安装本程序。",
                    {ProgramPath(programDir, name), Tr(why)});
}

bool VerifyProgramIntegrity(const std::string& programDir, const std::string& name,
                            MainView* view) {
    const ManifestCheck check = CheckAgainstManifest(platform::PathFromUtf8(programDir), name);
    if (check == ManifestCheck::Match) return true;
    if (view) view->ShowMessage(IntegrityFailureMessage(programDir, name, check), MessageIcon::Error);
    return false;
}

bool RunWebServerControl(const DesktopContext& ctx, const RunAndWait& run, const char* command) {
    std::string programDir;
    if (!ctx.exeDirectory || ctx.exeDirectory(programDir) != 1) return false;
    return batch::RunWebServerControl(programDir, run, command);
}

}  // namespace mdb::desktop
