#include "desktop/scan_command.h"
#include "common/i18n.h"

#include <filesystem>
#include <mutex>

#include "common/paths.h"
#include "common/settings.h"
#include "common/text.h"
#include "desktop/compaction/companion_programs.h"
#include "desktop/help_pages.h"
#include "desktop/util/process_tools.h"
#include "platform/arguments.h"
#include "platform/console_window.h"
#include "platform/process.h"

namespace mdb::desktop {

ScanContext MakeProgramScanContext(CompactionContext compaction) {
    ScanContext ctx;
    ctx.compaction = std::move(compaction);
    ctx.findProcess = FindProgramProcess;
    ctx.endProcesses = EndProgramProcesses;
    ctx.startConsoleProgram = [](const std::vector<std::string>& argv) {
        return platform::StartInConsoleWindow(argv);
    };
    return ctx;
}

namespace {
ProcessToolOptions OnlyProgram(const std::string& program) {
    ProcessToolOptions options;
    options.executable = program;
    return options;
}
}  // namespace

int FindProgramProcess(const std::string& program) {
    return qorGetProcessList(platform::Utf8OfPath(platform::PathFromUtf8(program).filename()),
                             OnlyProgram(program));
}

int EndProgramProcesses(const std::string& program) {
    return qorTerminateProcess(platform::Utf8OfPath(platform::PathFromUtf8(program).filename()),
                               OnlyProgram(program));
}

void OnScanDatabases(const ScanContext& ctx, CompactionState& cs, DesktopState& state,
                     MainView& view) {
    const DesktopContext& desktop = ctx.compaction.desktop;
    std::string programDir;
    if (!desktop.exeDirectory || desktop.exeDirectory(programDir) != 1) {
        view.ShowMessage(Tr(kMsgExeDirFailed), MessageIcon::Error);
        return;
    }
    if (!ShowLocalPageInHelpPane(desktop, state, view, kPageScan)) return;

    const std::string scanner = ProgramPath(programDir, kScannerProgram);
    const std::string iniPath = SettingsPathIn(programDir);
    switch (ctx.findProcess(scanner)) {
        case 1:
            // A scanner whose scan is over only counts down to closing: a new scan may
            // start beside it.
            if (SettingIsSet(iniPath, kKeyScanEnded)) break;
            // Yes lets the scan finish; the list follows through the refresh watcher.
            if (!view.AskYesNo(Tr(kAskScanRunning))) ctx.endProcesses(scanner);
            return;
        case 2:
            break;
        default:
            view.ShowMessage(TrFormat(kMsgScanLookupFailed, {kScannerProgram}),
                             MessageIcon::Question);
            return;
    }

    // A scan and a compaction never run together: say so before the scan stops one.
    bool batchActive = false;
    bool requested = false;
    {
        std::lock_guard lock(cs.compactLock);
        requested = cs.compactRunning == 1;
        batchActive = cs.batchActive;
    }
    if (requested && !view.AskYesNo(Tr(batchActive ? kAskScanStopsBatch : kAskScanWithdrawsRequest))) return;

    if (!view.RunScanConfigDialog()) return;

    // This holds even when the scanner then fails to start.
    CancelCompaction(ctx.compaction, cs, view);

    if (PathExists(scanner) != 1) {
        view.ShowMessage(TrFormat(kMsgScannerMissing, {scanner}), MessageIcon::Error);
        return;
    }
    if (!VerifyProgramIntegrity(programDir, kScannerProgram, &view)) return;

    const std::string commandLine = scanner + " " + kScanArgument;
    // Until the new scanner says so itself, the word of an earlier one does not hold.
    WriteSettingKey(iniPath, kKeyScanEnded, "0");
    if (!ctx.startConsoleProgram({scanner, kScanArgument})) {
        view.ShowMessage(TrFormat(kMsgScannerStartFailed, {commandLine}), MessageIcon::Error);
    }
}

}  // namespace mdb::desktop
