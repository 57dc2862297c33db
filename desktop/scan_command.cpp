#include "desktop/scan_command.h"
#include "common/i18n.h"

#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "common/paths.h"
#include "common/settings.h"
#include "common/text.h"
#include "desktop/compaction/companion_programs.h"
#include "desktop/help_pages.h"
#include "desktop/util/process_tools.h"
#include "platform/arguments.h"
#include "platform/process.h"

namespace mdb::desktop {

namespace {

// xterm and its wrappers draw with a bitmap font that has no Chinese characters unless
// they are given a scalable one; fontconfig then finds the glyphs.
bool IsXtermFamily(const std::string& terminal) {
    std::error_code ec;
    const std::filesystem::path real = std::filesystem::canonical(terminal, ec);
    const std::string name = (ec ? std::filesystem::path(terminal) : real).filename().string();
    return name == "xterm" || name == "uxterm" || name == "lxterm";
}

bool HaveDisplay() {
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (wayland && *wayland);
}

}  // namespace

ScanContext MakeProgramScanContext(CompactionContext compaction) {
    ScanContext ctx;
    ctx.compaction = std::move(compaction);
    ctx.findProcess = FindProgramProcess;
    ctx.endProcesses = EndProgramProcesses;
    ctx.startConsoleProgram = StartInOwnConsole;
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

std::string FindTerminalProgram(const std::string& searchPath) {
    for (const std::string& program : kTerminalPrograms) {
        std::size_t start = 0;
        while (start <= searchPath.size()) {
            std::size_t end = searchPath.find(':', start);
            if (end == std::string::npos) end = searchPath.size();
            const std::string dir = searchPath.substr(start, end - start);
            start = end + 1;
            if (dir.empty() || dir.front() != '/') continue;  // only absolute entries
            const std::filesystem::path candidate = std::filesystem::path(dir) / program;
            if (platform::IsRunnableFile(candidate.string())) return candidate.string();
        }
    }
    return {};
}

std::vector<std::string> ConsoleLaunchCommand(const std::vector<std::string>& argv,
                                              const std::string& terminal) {
    std::vector<std::string> command;
    if (!terminal.empty()) {
        command = {terminal};
        if (IsXtermFamily(terminal) && !argv.empty()) {
            const std::string title = std::filesystem::path(argv.front()).filename().string();
            command.insert(command.end(), {"-T", title, "-u8", "-fa", "Monospace", "-fs", "11"});
        }
        command.push_back("-e");
    } else {
        // The shell only redirects the streams and then becomes the program; the
        // program and its arguments stay separate words, so blanks need no quoting.
        command = {"/bin/sh", "-c", "exec \"$0\" \"$@\" </dev/null >/dev/null 2>&1"};
    }
    command.insert(command.end(), argv.begin(), argv.end());
    return command;
}

int StartInOwnConsole(const std::vector<std::string>& argv) {
    if (argv.empty() || argv.front().empty()) return 0;
    if (platform::kOwnConsoleWindows) {
        const platform::SpawnResult started = platform::SpawnProcess(argv, platform::ChildOutput::OwnConsole);
        if (!started.Started()) return 0;
        platform::ReapInBackground(started.pid);
        return 1;
    }
    std::string terminal;
    if (HaveDisplay()) {
        const char* path = std::getenv("PATH");
        terminal = FindTerminalProgram(path ? path : "/usr/local/bin:/usr/bin:/bin");
    }
    return RunProgram(ConsoleLaunchCommand(argv, terminal), 0);
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
    if (ctx.startConsoleProgram({scanner, kScanArgument}) == 0) {
        view.ShowMessage(TrFormat(kMsgScannerStartFailed, {commandLine}), MessageIcon::Error);
    }
}

}  // namespace mdb::desktop
