#include "scanner/entry.h"

#include "common/eventlog.h"
#include "common/filestore.h"
#include "common/json.h"
#include "common/metrics_textfile.h"
#include "common/settings.h"
#include "common/paths.h"
#include "common/runlog.h"
#include "common/text.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/journal.h"
#include "platform/paths.h"
#include "scanner/messages.h"
#include "takeover/store_takeover.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

namespace mdb::scanner {

namespace {

constexpr std::time_t kRetentionSeconds = 2592000;  // 30 days

std::string Repeat(std::string_view piece, int count) {
    std::string out;
    for (int i = 0; i < count; ++i) out.append(piece);
    return out;
}

// Shows the scanner's messages (those of the config-directory set-up) on its console.
class ConsoleReporter : public MessageReporter {
  public:
    explicit ConsoleReporter(const ConsoleSink& console) : console_(console) {}
    void ShowMessage(std::string_view text) override { console_("\r\n" + std::string(text)); }

  private:
    const ConsoleSink& console_;
};

struct Failure {
    const char* console;
    const char* s1;
    const char* s2;
    const char* s3;
    const char* runLog;  // null: no run-log line
};

struct RunMode {
    bool quiet = false;  // --quiet or --json
    bool json = false;
    std::time_t started = 0;
};

// One JSON document for the run: the summary, or the error that stopped it.
void PrintJson(const EntryHooks& hooks, const RunMode& mode, int exitCode,
               const FileScanner* scanner, const std::string& error) {
    Json doc = JsonDocument("scan");
    doc.Set("exit_code", exitCode);
    const std::time_t ended = std::time(nullptr);
    doc.Set("started_at", IsoUtcTime(mode.started));
    doc.Set("ended_at", IsoUtcTime(ended));
    doc.Set("duration_seconds", static_cast<double>(ended - mode.started));
    if (!error.empty()) doc.Set("error", error);
    if (scanner) {
        Json dirs = Json::MakeArray();
        for (const auto& d : scanner->DirectoryList()) dirs.Push(d);
        doc.Set("directories", std::move(dirs));
        doc.Set("directories_scanned", scanner->DirectoriesScanned());
        doc.Set("directories_failed", scanner->DirectoriesFailed());
        doc.Set("files_seen", scanner->FilesSeen());
        doc.Set("databases_found", scanner->DatabaseFiles());
        doc.Set("databases_not_recorded", scanner->NotRecorded());
    }
    const ConsoleSink& out = hooks.output ? hooks.output : hooks.console;
    out(doc.Dump() + "\n");
    hooks.flush();
}

// `cause`, when not empty, is a second line that says why.
int Fail(const EntryHooks& hooks, const Failure& failure, const std::string& cause = "",
         const RunMode& mode = {}) {
    if (mode.quiet) {
        const ConsoleSink& errors = hooks.errors ? hooks.errors : hooks.console;
        errors(Tr(failure.console) + (cause.empty() ? "" : "\n" + cause) + "\n");
        ReportToEventLog(kEventMainFlow, failure.s1, failure.s2, failure.s3);
        if (failure.runLog != nullptr) {
            WriteRunLog(Tr(failure.runLog));
            if (!cause.empty()) WriteRunLog(cause);
        }
        if (mode.json)
            PrintJson(hooks, mode, kServiceCouldNotStart, nullptr,
                      failure.console + (cause.empty() ? "" : " " + cause));
        hooks.flush();
        return kServiceCouldNotStart;
    }
    hooks.console("\r\n" + Tr(failure.console));
    if (!cause.empty()) hooks.console("\r\n" + cause);
    ReportToEventLog(kEventMainFlow, failure.s1, failure.s2, failure.s3);
    if (failure.runLog != nullptr) {
        WriteRunLog(Tr(failure.runLog));
        if (!cause.empty()) WriteRunLog(cause);
    }
    hooks.flush();
    hooks.waitForKey();
    return 0;
}

// mdbscout.prom for node_exporter's textfile collector (common/metrics_textfile.h): the
// figures of the scan and the end of the last one that read every listed directory
// and recorded every database found.
void WriteScanMetrics(const std::string& programDir, const FileScanner& scanner,
                      const RunMode& mode, int serviceCode) {
    const std::string dir = MetricsDirectory(SettingsPathIn(programDir));
    const std::time_t ended = std::time(nullptr);
    MetricsText m;
    const auto gauge = [&](const char* name, const char* help, double value) {
        m.Metric(name, "gauge", help);
        m.Sample(value);
    };
    gauge("mdbwarden_scan_start_timestamp_seconds", "start of the last scan (Unix time)",
          static_cast<double>(mode.started));
    gauge("mdbwarden_scan_end_timestamp_seconds", "end of the last scan (Unix time)",
          static_cast<double>(ended));
    gauge("mdbwarden_scan_duration_seconds", "duration of the last scan",
          static_cast<double>(ended - mode.started));
    gauge("mdbwarden_scan_files_seen", "files the last scan looked at", scanner.FilesSeen());
    gauge("mdbwarden_scan_databases_found", "databases the last scan found",
          scanner.DatabaseFiles());
    gauge("mdbwarden_scan_databases_not_recorded",
          "databases the last scan found but could not record", scanner.NotRecorded());
    gauge("mdbwarden_scan_directories_failed", "listed directories the last scan could not read",
          scanner.DirectoriesFailed());
    gauge("mdbwarden_scan_exit_code",
          "outcome of the last scan: 0 success, 1 a directory unread or none listed, 2 "
          "databases not recorded",
          serviceCode);
    gauge("mdbwarden_scan_last_success_timestamp_seconds",
          "end of the last scan that read every listed directory and recorded every database "
          "(Unix time; 0: none yet)",
          serviceCode == kServiceScanned
              ? static_cast<double>(ended)
              : PreviousMetricValue(dir, kScanMetricsFile,
                                    "mdbwarden_scan_last_success_timestamp_seconds", 0));
    if (!WriteMetricsTextfile(dir, kScanMetricsFile, m.Text()))
        WriteRunLog(TrFormat("无法写入监控指标文件 %s", {dir + "/" + kScanMetricsFile}));
}

std::size_t CodePointCount(std::string_view text) {
    std::size_t count = 0;
    for (unsigned char c : text) count += (c & 0xC0) != 0x80;
    return count;
}

}  // namespace

EntryHooks SystemHooks() {
    EntryHooks hooks;
    hooks.moduleFileName = [] { return platform::ModuleFileName(); };
    hooks.sleep = [](unsigned ms) { platform::SleepMilliseconds(ms); };
    hooks.console = [](std::string_view text) { platform::ConsoleWrite(text); };
    // The JSON document is UTF-8 whatever the console's code page.
    hooks.output = [](std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); };
    hooks.errors = [](std::string_view text) { std::fwrite(text.data(), 1, text.size(), stderr); };
    hooks.flush = [] { platform::FlushConsole(); };
    hooks.waitForKey = [] { platform::WaitForKey(); };
    return hooks;
}

std::optional<std::string> ScannerProgramDir(const std::string& modulePath) {
    const std::string_view name = kProgramName;
    if (modulePath.size() < 3 || modulePath.size() > kMaxPath) return std::nullopt;
    if (modulePath.size() < name.size() ||
        !EqualNoCase(std::string_view(modulePath).substr(modulePath.size() - name.size()), name))
        return std::nullopt;
    const size_t slash = modulePath.rfind(platform::kSeparator);
    std::string dir = slash == std::string::npos ? std::string() : modulePath.substr(0, slash);
    if (!platform::kLongPathPrefix.empty())
        for (size_t pos; (pos = dir.find(platform::kLongPathPrefix)) != std::string::npos;)
            dir.erase(pos, platform::kLongPathPrefix.size());
    dir.push_back(platform::kSeparator);
    dir = CollapseSeparators(std::move(dir));
    if (dir.size() < 3 || dir.size() > kMaxPath) return std::nullopt;
    return dir;
}

int ShowCloseCountdown(const ConsoleSink& console, const std::function<void()>& flush,
                       const std::function<void(unsigned ms)>& sleep) {
    console("\r\n\r\n\r\n");
    for (int v = 29; v >= 0; --v) {
        char seconds[8];
        std::snprintf(seconds, sizeof seconds, "%2u", static_cast<unsigned>(v));
        console(TrFormat("请点右上角“×”关闭当前窗口；或稍候 %s 秒自动关闭 ...", {seconds}));
        flush();
        sleep(1000);
        console("\r");
    }
    flush();
    return 1;
}

int ScannerMain(int argc, const char* const* argv, const EntryHooks& givenHooks) {
    // The options of timers and scripts are taken out first; what is left is the
    // window's command line, checked as ever.
    RunMode mode;
    mode.started = std::time(nullptr);
    std::vector<const char*> args;
    for (int i = 0; i < argc; ++i) {
        const char* a = argv[i];
        if (i > 0 && a != nullptr && std::strcmp(a, "--version") == 0) {
            givenHooks.console(std::string(kProgramName) + " " + MDB_VERSION + "\n");
            givenHooks.flush();
            return 0;
        }
        if (i > 0 && a != nullptr && std::strcmp(a, "--quiet") == 0) {
            mode.quiet = true;
        } else if (i > 0 && a != nullptr && std::strcmp(a, "--json") == 0) {
            mode.quiet = mode.json = true;
        } else {
            args.push_back(a);
        }
    }
    EntryHooks hooks = givenHooks;
    const bool journal = mode.quiet && platform::JournalConnected();
    if (mode.quiet) {
        // Nothing on the console but problems (and the JSON document); no key wait.
        if (!hooks.output) hooks.output = hooks.console;
        if (!hooks.errors) hooks.errors = hooks.console;
        // Under systemd the problems are journal entries at warning priority.
        if (journal)
            hooks.errors = [](std::string_view text) {
                while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
                    text.remove_suffix(1);
                platform::JournalSend(platform::kJournalWarning, text);
            };
        hooks.console = [](std::string_view) {};
        hooks.waitForKey = [] {};
    }
    if (args.size() != 2)
        return Fail(hooks, {kMsgNoArgument, kMsgNoArgument, "", "", nullptr}, "", mode);
    if (args[1] == nullptr)
        return Fail(hooks, {kMsgArgumentNull, kMsgArgumentNull, "", "", nullptr}, "", mode);
    if (!EqualNoCase(args[1], kCommandFileScan))
        return Fail(hooks, {kMsgUnknownCommand, kMsgUnknownCommand, "", "", nullptr}, "", mode);

    hooks.console("\r\n");
    // The bars fit the title as a Chinese console draws it (box lines two columns wide);
    // a translated title, shown on a Western console, gets bars one character per column.
    const std::string title = Tr("┃   Veloran Quarnet·MDB 文件扫描服务   ┃");
    const int bar = i18n::CurrentLanguage() == i18n::kSourceLanguage
                        ? 22
                        : static_cast<int>(CodePointCount(title)) - 2;
    hooks.console("\r\n┏" + Repeat("━", bar) + "┓");
    hooks.console("\r\n" + title);
    hooks.console("\r\n┗" + Repeat("━", bar) + "┛");
    hooks.console("\r\n\r\n\r\n");

    const std::optional<std::string> modulePath = hooks.moduleFileName();
    if (!modulePath)
        return Fail(hooks, {kMsgModuleNameFailed, kProgramName, kMsgModuleNameFailed, "", nullptr},
                    "", mode);
    const std::optional<std::string> programDir = ScannerProgramDir(*modulePath);
    if (!programDir) {
        hooks.flush();
        // not this program, or an unusable location: end silently
        return mode.quiet ? kServiceCouldNotStart : 0;
    }

    SetRunLogDirectory(*programDir);
    WriteRunLog(Repeat("━", 49));
    // The window asks whether to wait for a scan only while this scanner scans.
    const std::string settingsPath = SettingsPathIn(*programDir);
    WriteSettingKey(settingsPath, kKeyScanEnded, "0");
    const auto scanOver = [&] { WriteSettingKey(settingsPath, kKeyScanEnded, "1"); };

    ConsoleReporter reporter(hooks.console);
    std::string dbPath;
    std::unique_ptr<FileInfoDb> db;
    int storeError = 0;  // 0: the path could not be resolved (a message has been shown)
    // What taking over the Windows original's store did is told in quiet runs as well.
    ConsoleReporter takeoverReporter(mode.quiet ? hooks.errors : hooks.console);
    // Opening and purging are several statements, each waiting for a locked store.
    const std::uint32_t openStarted = platform::TickCount();
    try {
        if (GetFileInfoDbPath(reporter, dbPath) == 1)
            db = takeover::OpenStore(dbPath, takeoverReporter, &storeError);
    } catch (...) {
        db.reset();
    }
    const std::time_t now = std::time(nullptr);
    if (db && db->PurgeDate(platform::FormatLocalTime("%Y-%m-%d", now)) != 1) {
        storeError = db->LastErrorCode();
        db.reset();
    }
    if (!db) {
        scanOver();
        return Fail(hooks,
                    {kMsgDatabaseFailed, kProgramName, kMsgDatabaseFailed, "", kMsgDatabaseFailed},
                    storeError != 0
                        ? TrFormat("原因：%s",
                                   {DescribeStoreFailure(
                                       storeError, dbPath,
                                       static_cast<int>(
                                           (std::uint32_t(platform::TickCount() - openStarted) + 500) /
                                           1000))})
                                    : "",
                    mode);
    }
    db->PurgeOlderThan(platform::FormatLocalTime("%Y-%m-%d", now - kRetentionSeconds));

    int result = 0;
    FileScanner scanner(*programDir, db.get(), hooks.console);
    if (mode.quiet) scanner.SetNoticeSink(hooks.errors);
    try {
        result = scanner.RunFileScan();
    } catch (...) {
        result = 0;
    }
    hooks.flush();
    scanOver();
    const int code = result == kResultRowsNotRecorded  ? kServiceRowsNotRecorded
                     : scanner.DirectoryList().empty() ||
                             scanner.DirectoriesFailed() > 0
                         ? kServiceDirectoryFailed
                         : kServiceScanned;
    WriteScanMetrics(*programDir, scanner, mode, code);
    if (journal)
        platform::JournalSend(
            code == kServiceScanned ? platform::kJournalInfo : platform::kJournalWarning,
            "scan ended, exit code " + std::to_string(code) + ": " +
                std::to_string(scanner.FilesSeen()) + " files seen, " +
                std::to_string(scanner.DatabaseFiles()) + " databases found, " +
                std::to_string(scanner.DirectoriesFailed()) + " listed directories unread",
            {{"MDB_EXIT_CODE", std::to_string(code)},
             {"MDB_FILES_SEEN", std::to_string(scanner.FilesSeen())},
             {"MDB_DATABASES_FOUND", std::to_string(scanner.DatabaseFiles())}});
    if (!mode.quiet) {
        ShowCloseCountdown(hooks.console, hooks.flush, hooks.sleep);
        return result;
    }
    if (mode.json) PrintJson(hooks, mode, code, &scanner, "");
    return code;
}

}  // namespace mdb::scanner
