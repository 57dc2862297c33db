#include "desktop/compaction/compaction_commands.h"
#include "common/i18n.h"

#include <cassert>
#include <chrono>
#include <cstdio>
#include <exception>

#include "common/eventlog.h"
#include "common/paths.h"
#include "common/settings.h"
#include "common/text.h"
#include "common/utf16.h"
#include "batch/batch_lock.h"
#include "batch/batch_run.h"
#include "batch/compact_mdb_file.h"
#include "batch/compaction_engine.h"
#include "batch/companions.h"
#include "batch/run_metrics.h"
#include "batch/run_report.h"
#include "batch/stored_path.h"
#include "desktop/file_info_access.h"
#include "desktop/failure_reason.h"
#include "desktop/file_list.h"
#include "desktop/file_list_format.h"
#include "desktop/help_pages.h"
#include "desktop/util/process_tools.h"
#include "platform/arguments.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace mdb::desktop {
namespace fs = std::filesystem;

namespace {

constexpr char kMsgNoRecords[] = MDB_TEXT("请点“扫描数据库文件”，先搜索网站里的数据库文件！");
constexpr char kMsgNoneSelected[] = MDB_TEXT("请先选择需要进行压缩的数据库文件！");
constexpr char kMsgStarted[] = MDB_TEXT("已经开始压缩数据库文件，请稍候……");
constexpr char kMsgNotRunning[] = MDB_TEXT("当前未启动数据库压缩！");
constexpr char kAskStop[] = MDB_TEXT("确定停止压缩数据库文件吗？");
constexpr char kMsgStopped[] =
    MDB_TEXT("已停止压缩数据库文件。\r\n\r\n正在压缩的文件完成后，本次压缩即结束，并重新启动 Web 服务器。");
constexpr char kMsgRequestWithdrawn[] = MDB_TEXT("已取消本次压缩请求，尚未压缩任何文件。");
constexpr char kMsgCannotRead[] = MDB_TEXT("未读取到需要压缩的数据库文件记录，请先“扫描数据库文件”！");
constexpr char kMsgNoneQueued[] = MDB_TEXT("获取到的需要压缩的数据库记录数为0，请先扫描数据库！");
constexpr char kMsgCreateBackupDir[] = MDB_TEXT("建立数据库备份目录 %s 失败，请重试！");
constexpr char kMsgReachBackupDir[] = MDB_TEXT("访问数据库备份目录 %s 失败，请重试！");
constexpr char kMsgConvertBackupDir[] = MDB_TEXT("转换数据库备份目录 %s 的编码失败，请重试！");
constexpr char kMsgTotals[] = MDB_TEXT("数据库压缩完成。成功压缩 %s 个；未压缩 %s 个。");
constexpr char kMsgStoppedTotals[] =
    MDB_TEXT("数据库压缩已停止。成功压缩 %s 个；未压缩 %s 个；未处理 %s 个。");
// Said after the totals when the store kept refusing a file's record (another program
// held it past every retry): the list shows that file's state from before the batch.
constexpr char kMsgRecordsNotWritten[] =
    MDB_TEXT("其中 %s 个文件的压缩结果未能写入记录（记录库一直被其他程序占用），列表中显示的不是这些文件的最新状态。");
constexpr char kMsgWebServerNotStarted[] =
    MDB_TEXT("Web 服务器未能重新启动（%s），网站目前无法访问！\r\n\r\n请检查 Web 服务器的配置，然后运行“mdbscout_iisreset /start”启动它。");
constexpr char kMsgRequestNotWritten[] =
    MDB_TEXT("写入压缩请求失败（设置文件 %s 无法写入），本次未开始压缩，Web 服务器已重新启动。");
constexpr char kMsgOtherCopy[] =
    MDB_TEXT("另一个正在运行的本程序正在压缩数据库文件。\r\n\r\n"
    "为避免同时压缩，本程序不处理这次压缩请求，由正在压缩的程序完成。");
// The event of a file that was not compacted, in the program's log.
constexpr unsigned kEventNotCompacted = 60201;
constexpr std::size_t kMaxListRows = 104'857'600;
constexpr std::size_t kMaxPathUnits = 32'767;

// The warning that the sites stay up, for a host where no web server can be stopped.
std::string NoWebServerText() {
    return TrFormat("未找到可停止的 %s（%s），压缩期间网站保持运行，网站正在使用的数据库可能压缩失败。",
                    {Tr(platform::kWebServerName), Tr(platform::kNoWebServerReason)});
}

std::string AskCompactAllText(const fs::path& backupRoot, bool webServerStoppable) {
    std::string root = platform::Utf8OfPath(backupRoot);
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    const std::string server = Tr(platform::kWebServerName);
    std::string text = TrFormat(
        "确定压缩搜索出来的全部数据库文件吗？\r\n\r\n特别说明：压缩前，会自动备份数据库文件到“%s”目录。"
        "压缩时会临时停止 %s，压缩完成后会自动启动 %s。",
        {root, server, server});
    if (!webServerStoppable) text += "\r\n\r\n" + NoWebServerText();
    return text;
}

std::string AskSelectedWithoutWebServerText() {
    return NoWebServerText() + "\r\n\r\n" + Tr("仍要开始压缩选择的数据库文件吗？");
}

// False only when the context says for sure that no web server can be stopped.
bool WebServerStoppable(const CompactionContext& ctx) {
    return !ctx.webServerStoppable || ctx.webServerStoppable() != WebServers::NoneRunning;
}

// Asks "mdbscout_iisreset /query" whether a web server is running that a batch can
// stop (exit code 0 yes, 3 none).
WebServers QueryWebServers(const std::string& iisreset) {
    const platform::SpawnResult child =
        platform::SpawnProcess(std::vector<std::string>{iisreset, "/query"});
    if (!child.Started()) return WebServers::Unknown;
    switch (platform::WaitForProcess(child.pid)) {
        case 0:
            return WebServers::Running;
        case 3:
            return WebServers::NoneRunning;
        default:
            return WebServers::Unknown;
    }
}

bool ProgramDirectory(const CompactionContext& ctx, std::string& dir) {
    return ctx.desktop.exeDirectory && ctx.desktop.exeDirectory(dir) == 1;
}

// Names this program in the batch lock, for the copy that is refused.
constexpr char kLockHolder[] = "mdbwarden";

// Starts the web server again when it goes out of scope, unless that was done already.
class WebServerRestart {
  public:
    explicit WebServerRestart(const CompactionContext& ctx) : ctx_(ctx) {}
    ~WebServerRestart() { Now(); }
    WebServerRestart(const WebServerRestart&) = delete;
    WebServerRestart& operator=(const WebServerRestart&) = delete;
    void Now() {
        if (done_) return;
        done_ = true;
        try {
            RunWebServerControl(ctx_.desktop, ctx_.runAndWait, "/start");
        } catch (...) {
        }
    }

  private:
    const CompactionContext& ctx_;
    bool done_ = false;
};

bool StillRequested(CompactionState& cs, const std::string& iniPath) {
    {
        std::lock_guard lock(cs.compactLock);
        if (cs.compactRunning != 1) return false;
    }
    // A stop from another copy of the program arrives through the settings file.
    return SettingIsSet(iniPath, kKeyCompactDatabase);
}

// Checks and runs "mdbscout_iisreset /stop" for a start command. False (after a
// message) when the program is missing or fails its check.
bool StopWebServerForRequest(const CompactionContext& ctx, const std::string& programDir,
                             MainView& view) {
    const std::string path = ProgramPath(programDir, kIisResetProgram);
    if (PathExists(path) != 1) {
        view.ShowMessage(CompanionMissingMessage(path), MessageIcon::Question);
        return false;
    }
    if (!VerifyProgramIntegrity(programDir, kIisResetProgram, &view)) return false;
    ctx.runAndWait({path, "/stop"});
    return true;
}

// Posts the request once the web server is down. When the request cannot be written,
// nothing would ever start the web server again: start it now and say so.
void PostRequest(const CompactionContext& ctx, CompactionState& cs, const std::string& programDir,
                 MainView& view) {
    const std::string iniPath = SettingsPathIn(programDir);
    if (WriteSettingKey(iniPath, kKeyCompactDatabase, "1") != 1) {
        RunWebServerControl(ctx.desktop, ctx.runAndWait, "/start");
        view.ShowMessage(TrFormat(kMsgRequestNotWritten, {iniPath}), MessageIcon::Error);
        return;
    }
    {
        std::lock_guard lock(cs.compactLock);
        cs.compactRunning = 1;
        cs.toldOtherCopy = false;
    }
    // A notice, not a box: the window, and with it "停止压缩", stays usable.
    view.ShowNotice(Tr(kMsgStarted));
}

std::size_t Utf16Length(const std::string& text) {
    const auto wide = Utf8ToUtf16(text);
    return wide ? wide->size() : 0;
}

// The boxes that end a batch: the "started" notice is gone and the bar empty first.
void ShowBatchMessage(MainView& view, const std::string& text, MessageIcon icon) {
    view.CloseNotice();
    view.SetProgressPos(0);
    view.ShowMessage(text, icon);
}

}  // namespace

CompactionContext MakeProgramCompactionContext() {
    CompactionContext ctx;
    ctx.desktop = MakeProgramContext();
    ctx.runAndWait = [](const std::vector<std::string>& argv) { return RunProgram(argv, 1); };
    ctx.backupRoot = fs::path(std::string(platform::kBackupRoot));
    ctx.now = [] { return std::time(nullptr); };
    ctx.compact = batch::CompactorFor(batch::CompactionEngine::Jet);
    ctx.webServerStoppable = [desktop = ctx.desktop] {
        std::string programDir;
        if (!desktop.exeDirectory || desktop.exeDirectory(programDir) != 1) return WebServers::Unknown;
        return QueryWebServers(ProgramPath(programDir, kIisResetProgram));
    };
    ctx.logFailure = [](const std::string& path, const std::string& reason) {
        ReportToEventLog(reason, path, kEventNotCompacted);
    };
    return ctx;
}

void OnCompactSelected(const CompactionContext& ctx, CompactionState& cs, DesktopState& state,
                       MainView& view) {
    const int count = view.ItemCount();
    if (count <= 0 || static_cast<std::size_t>(count) >= kMaxListRows) {
        view.ShowMessage(Tr(kMsgNoRecords), MessageIcon::Question);
        return;
    }
    std::vector<std::string> paths;
    std::vector<std::string> keys;
    for (ListRow& row : view.CheckedRows()) {
        const std::size_t units = Utf16Length(row.filePath);
        if (units < 1 || units > kMaxPathUnits) continue;
        paths.push_back(std::move(row.filePath));
        keys.push_back(std::move(row.recordKey));
    }
    if (paths.empty()) {
        view.ShowMessage(Tr(kMsgNoneSelected), MessageIcon::Question);
        return;
    }
    std::string programDir;
    if (!ProgramDirectory(ctx, programDir)) {
        view.ShowMessage(Tr(kMsgExeDirFailed), MessageIcon::Question);
        return;
    }
    if (!view.RunCompactConfirmDialog(paths)) return;
    if (!WebServerStoppable(ctx) && !view.AskYesNo(AskSelectedWithoutWebServerText())) return;

    if (auto db = OpenFileInfoStore(ctx.desktop, view)) {
        db->ClearMarks();
        db->QueueSelected(keys);
    }
    if (!StopWebServerForRequest(ctx, programDir, view)) return;
    PostRequest(ctx, cs, programDir, view);
}

void OnCompactAll(const CompactionContext& ctx, CompactionState& cs, DesktopState& state,
                  MainView& view) {
    const int count = view.ItemCount();
    if (count <= 0 || static_cast<std::size_t>(count) >= kMaxListRows) {
        view.ShowMessage(Tr(kMsgNoRecords), MessageIcon::Question);
        return;
    }
    if (!ShowLocalPageInHelpPane(ctx.desktop, state, view, kPageMonitor)) return;
    if (!view.AskYesNo(AskCompactAllText(ctx.backupRoot, WebServerStoppable(ctx)))) return;
    std::string programDir;
    if (!ProgramDirectory(ctx, programDir)) {
        view.ShowMessage(Tr(kMsgExeDirFailed), MessageIcon::Question);
        return;
    }
    const std::string xconfig = ProgramPath(programDir, kXconfigProgram);
    if (PathExists(xconfig) != 1) {
        view.ShowMessage(CompanionMissingMessage(xconfig), MessageIcon::Question);
        return;
    }
    if (!VerifyProgramIntegrity(programDir, kXconfigProgram, &view)) return;
    if (!StopWebServerForRequest(ctx, programDir, view)) return;
    if (auto db = OpenFileInfoStore(ctx.desktop, view)) db->QueueAll();
    PostRequest(ctx, cs, programDir, view);
}

CancelOutcome CancelCompaction(const CompactionContext& ctx, CompactionState& cs,
                               MainView& view) {
    std::string programDir;
    if (!ProgramDirectory(ctx, programDir)) return CancelOutcome::NoProgramDirectory;
    const std::string iniPath = SettingsPathIn(programDir);
    CancelOutcome outcome = CancelOutcome::NothingRunning;
    {
        std::lock_guard lock(cs.compactLock);
        // Written under the lock so that the supervisor cannot take the request up
        // between the two steps.
        WriteSettingKey(iniPath, kKeyCompactDatabase, "0");
        // A batch that has done its files is over for the user (its totals may be
        // on the screen): there is nothing left to stop.
        if (cs.compactRunning == 1 && !cs.batchDone) {
            outcome = cs.batchActive ? CancelOutcome::BatchStopping
                                     : CancelOutcome::RequestWithdrawn;
        }
        cs.compactRunning = 0;
    }
    if (outcome == CancelOutcome::RequestWithdrawn) {
        // The command that posted the request stopped the web server; no batch will
        // start it again.
        RunWebServerControl(ctx.desktop, ctx.runAndWait, "/start");
        view.CloseNotice();
    }
    return outcome;
}

void OnStopCompact(const CompactionContext& ctx, CompactionState& cs, MainView& view) {
    {
        std::lock_guard lock(cs.compactLock);
        if (cs.compactRunning != 1) {
            view.ShowMessage(Tr(kMsgNotRunning), MessageIcon::Question);
            return;
        }
    }
    if (!view.AskYesNo(Tr(kAskStop))) return;
    switch (CancelCompaction(ctx, cs, view)) {
        case CancelOutcome::NoProgramDirectory:
            view.ShowMessage(Tr(kMsgExeDirFailed), MessageIcon::Question);
            return;
        case CancelOutcome::NothingRunning:
            // The batch ended while the question was open.
            view.ShowMessage(Tr(kMsgNotRunning), MessageIcon::Question);
            return;
        case CancelOutcome::RequestWithdrawn:
            view.ShowMessage(Tr(kMsgRequestWithdrawn), MessageIcon::Information);
            return;
        case CancelOutcome::BatchStopping:
            view.ShowMessage(Tr(kMsgStopped), MessageIcon::Information);
            return;
    }
}

namespace {

// The window's view of a batch: the progress bar follows the files, the list shows
// which files wait, which one is being compacted and each done file's new values, and
// each file not compacted goes to the program's log with its full reason.
class WindowBatchObserver : public batch::BatchObserver {
  public:
    WindowBatchObserver(const CompactionContext& ctx, DesktopState& state, MainView& view,
                        const std::vector<batch::RecordedFile>& queued)
        : ctx_(ctx), state_(state), view_(view), queued_(queued) {
        std::lock_guard lock(state_.reloadLock);
        state_.batch = BatchProgress{true, {}, {}, {}};
    }
    ~WindowBatchObserver() override {
        std::lock_guard lock(state_.reloadLock);
        BatchProgress ended;
        ended.leftAlone = std::move(state_.batch.leftAlone);
        state_.batch = std::move(ended);
    }
    void FileStarted(std::size_t index, std::size_t total, const batch::RecordedFile& file) override {
        view_.SetProgressPos(static_cast<int>(index + 1));
        {
            std::lock_guard lock(state_.reloadLock);
            state_.batch.current = file.stored;
        }
        ReloadFileList(ctx_.desktop, state_, view_);
    }
    void FileDone(const batch::FileOutcome& outcome) override {
        const batch::ReplaceResult& r = outcome.result;
        if (!r.Replaced() && !r.reason.empty() && ctx_.logFailure)
            ctx_.logFailure(queued_[outcome.index].Text(),
                            FullFailureText(r.reason));
        if (r.Replaced() && !r.note.empty() && ctx_.logFailure)
            ctx_.logFailure(queued_[outcome.index].Text(), r.note);
        {
            std::lock_guard lock(state_.reloadLock);
            state_.batch.current.clear();
            state_.batch.done.insert(queued_[outcome.index].stored);
            if (!r.Replaced() && r.outcome != batch::ReplaceOutcome::Refused && !r.reason.empty())
                state_.batch.leftAlone[queued_[outcome.index].stored] = r.reason;
        }
        ReloadFileList(ctx_.desktop, state_, view_);
    }

  private:
    const CompactionContext& ctx_;
    DesktopState& state_;
    MainView& view_;
    const std::vector<batch::RecordedFile>& queued_;
};

// The box for a batch whose backup directory could not be made.
std::string BatchStartMessage(const batch::BatchRun& run) {
    switch (run.start) {
        case batch::BatchStart::BackupDirFailed:
            return TrFormat(kMsgCreateBackupDir, {run.message});
        case batch::BatchStart::BackupDirUnreachable:
            return TrFormat(kMsgReachBackupDir, {run.message});
        case batch::BatchStart::BackupDirNotConvertible:
            return TrFormat(kMsgConvertBackupDir, {run.message});
        case batch::BatchStart::CompanionRefused:
        case batch::BatchStart::Ran:
            break;
    }
    return {};
}

}  // namespace

unsigned RunCompactionBatch(const CompactionContext& ctx, CompactionState& cs, DesktopState& state,
                            MainView& view) {
    // The web server was stopped by the command that posted this request.
    WebServerRestart restart(ctx);
    std::string programDir;
    const bool haveProgramDir = ProgramDirectory(ctx, programDir);
    const std::string iniPath = haveProgramDir ? SettingsPathIn(programDir) : std::string();

    // One connection serves the whole run (a connection per statement would flush the
    // store to the disk three times per file).
    std::unique_ptr<FileInfoDb> store = OpenFileInfoStore(ctx.desktop, view);
    if (store) store->SetBusyTimeout(ctx.storeBusyTimeoutMs);
    std::vector<std::string> queued;
    const int read = store ? store->CollectQueuedFilepaths(kMaxQueuedRecords, queued) : 0;
    if (read == 0) {
        ShowBatchMessage(view, Tr(kMsgCannotRead), MessageIcon::Error);
        return 0;
    }
    if (queued.empty()) {
        ShowBatchMessage(view, Tr(kMsgNoneQueued), MessageIcon::Error);
        return 0;
    }
    view.SetProgressRange(static_cast<int>(queued.size()));
    // Each record's path is decoded once, here.
    const std::vector<batch::RecordedFile> files = batch::DecodeRecordedFiles(queued);

    batch::BatchSettings settings;
    settings.programDir = programDir;
    settings.backupRoot = ctx.backupRoot;
    settings.now = ctx.now ? ctx.now() : std::time(nullptr);
    settings.stopRequested = [&] { return !StillRequested(cs, iniPath); };
    settings.compact = ctx.compact;
    settings.checkpoint = ctx.checkpoint;
    if (haveProgramDir) settings.runCompanion = ctx.runAndWait;
    // What the run did, for the metrics textfile (batch/run_metrics.h), as the command
    // line's batch writes it. The web server went down just before this run.
    batch::RunReport report;
    report.started = settings.now;
    report.webServerControlled = true;
    const auto downSince = std::chrono::steady_clock::now();
    batch::BatchRun run;
    {
        WindowBatchObserver observer(ctx, state, view, files);
        batch::RecordingObserver recording(observer, report);
        run = batch::RunBatch(files, settings, *store, recording);
    }
    if (run.start == batch::BatchStart::CompanionRefused) {
        view.ShowMessage(IntegrityFailureMessage(programDir, kXconfigProgram, run.companionCheck),
                         MessageIcon::Error);
        return 0;
    }
    if (run.start != batch::BatchStart::Ran) {
        ShowBatchMessage(view, BatchStartMessage(run), MessageIcon::Error);
        return 0;
    }

    store.reset();
    {
        std::lock_guard lock(cs.compactLock);
        cs.batchDone = true;
    }
    ReloadFileList(ctx.desktop, state, view);
    restart.Now();
    const batch::BatchTotals& t = run.totals;
    report.webServerDownSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - downSince).count();
    report.ended = std::time(nullptr);
    report.interrupted = t.stopped;
    report.recordsNotWritten = t.recordsNotWritten;
    report.exitCode = t.stopped ? 130 : t.notCompacted || t.recordsNotWritten ? 1 : 0;
    for (std::size_t i = report.files.size(); i < files.size(); ++i) {
        batch::FileReport file;
        file.path = files[i].Text();
        file.outcome = batch::FileOutcomeKind::NotReached;
        report.files.push_back(std::move(file));
    }
    std::string metricsPath;
    if (haveProgramDir) batch::WriteRunMetrics(report, programDir, metricsPath);
    const std::string totals =
        t.stopped ? TrFormat(kMsgStoppedTotals,
                             {std::to_string(t.compacted), std::to_string(t.notCompacted),
                              std::to_string(t.notReached)})
                  : TrFormat(kMsgTotals, {std::to_string(t.compacted), std::to_string(t.notCompacted)});
    if (t.recordsNotWritten == 0) {
        ShowBatchMessage(view, totals, MessageIcon::Information);
    } else {
        ShowBatchMessage(view,
                         totals + "\r\n\r\n" +
                             TrFormat(kMsgRecordsNotWritten, {std::to_string(t.recordsNotWritten)}),
                         MessageIcon::Error);
    }
    // The sites are down: said after the totals, as an error.
    if (haveProgramDir) {
        std::string units;
        for (const auto& unit : batch::WebServerUnitsLeftStopped(programDir))
            units += (units.empty() ? "" : ", ") + unit;
        if (!units.empty())
            ShowBatchMessage(view, TrFormat(kMsgWebServerNotStarted, {units}),
                             MessageIcon::Error);
    }
    return t.compacted;
}

bool PollCompactionRequest(const CompactionContext& ctx, CompactionState& cs, DesktopState& state,
                           MainView& view, const std::string& iniPath) {
    if (!SettingIsSet(iniPath, kKeyCompactDatabase)) {
        std::lock_guard lock(cs.compactLock);
        cs.toldOtherCopy = false;
        return false;
    }
    std::string programDir;
    if (!ProgramDirectory(ctx, programDir)) return false;
    batch::BatchLock batchLock(programDir, kLockHolder);
    if (!batchLock.Held()) {
        bool tell = false;
        {
            std::lock_guard lock(cs.compactLock);
            tell = !cs.toldOtherCopy;
            cs.toldOtherCopy = true;
        }
        if (tell) ShowBatchMessage(view, Tr(kMsgOtherCopy), MessageIcon::Information);
        return false;
    }
    {
        std::lock_guard lock(cs.compactLock);
        // Read again under the lock: a stop may have withdrawn the request meanwhile.
        if (!SettingIsSet(iniPath, kKeyCompactDatabase)) return false;
        cs.compactRunning = 1;
        cs.batchActive = true;
        cs.batchDone = false;
    }
    try {
        RunCompactionBatch(ctx, cs, state, view);
    } catch (...) {
        // The batch has started the web server again on its way out.
    }
    // Every way out of a batch, an exception too, leaves no notice and an empty bar.
    view.CloseNotice();
    view.SetProgressPos(0);
    WriteSettingKey(iniPath, kKeyCompactDatabase, "0");
    {
        std::lock_guard lock(cs.compactLock);
        cs.compactRunning = 0;
        cs.batchActive = false;
        cs.batchDone = false;
    }
    return true;
}

void CompactionSupervisor(ThreadStartBlock<SupervisorParams>* block) {
    const SupervisorParams params = *block->params;
    block->started->Signal();
    assert(params.stop != nullptr);
    MainView& view = *params.view;
    std::string programDir;
    if (!ProgramDirectory(params.ctx, programDir)) {
        view.ShowMessage(Tr(kMsgExeDirFailed), MessageIcon::Question);
        return;
    }
    const std::string iniPath = SettingsPathIn(programDir);
    // A request left from an earlier run of the program never starts a batch; its web
    // server stop is undone, unless another copy is compacting right now.
    if (SettingIsSet(iniPath, kKeyCompactDatabase)) {
        batch::BatchLock batchLock(programDir, kLockHolder);
        if (batchLock.Held()) {
            WriteSettingKey(iniPath, kKeyCompactDatabase, "0");
            RunWebServerControl(params.ctx.desktop, params.ctx.runAndWait, "/start");
        }
    } else {
        WriteSettingKey(iniPath, kKeyCompactDatabase, "0");
    }
    do {
        PollCompactionRequest(params.ctx, *params.cs, *params.state, view, iniPath);
    } while (!params.stop->WaitFor(std::chrono::seconds(3)));
}

}  // namespace mdb::desktop
