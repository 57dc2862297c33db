#include "scanner/entry.h"

#include "common/eventlog.h"
#include "common/filestore.h"
#include "common/paths.h"
#include "common/runlog.h"
#include "common/text.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/paths.h"
#include "scanner/messages.h"

#include <cctype>
#include <cstdio>
#include <ctime>

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

// `cause`, when not empty, is a second line that says why.
int Fail(const EntryHooks& hooks, const Failure& failure, const std::string& cause = "") {
    hooks.console(std::string("\r\n") + failure.console);
    if (!cause.empty()) hooks.console("\r\n" + cause);
    ReportToEventLog(kEventMainFlow, failure.s1, failure.s2, failure.s3);
    if (failure.runLog != nullptr) {
        WriteRunLog(failure.runLog);
        if (!cause.empty()) WriteRunLog(cause);
    }
    hooks.flush();
    hooks.waitForKey();
    return 0;
}

}  // namespace

EntryHooks SystemHooks() {
    EntryHooks hooks;
    hooks.moduleFileName = [] { return platform::ModuleFileName(); };
    hooks.sleep = [](unsigned ms) { platform::SleepMilliseconds(ms); };
    hooks.console = [](std::string_view text) { platform::ConsoleWrite(text); };
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
        char line[160];
        std::snprintf(line, sizeof line, "请点右上角“×”关闭当前窗口；或稍候 %2u 秒自动关闭 ...",
                      static_cast<unsigned>(v));
        console(line);
        flush();
        sleep(1000);
        console("\r");
    }
    flush();
    return 1;
}

int ScannerMain(int argc, const char* const* argv, const EntryHooks& hooks) {
    const char* const* args = argv;
    if (argc != 2) return Fail(hooks, {kMsgNoArgument, kMsgNoArgument, "", "", nullptr});
    if (args[1] == nullptr)
        return Fail(hooks, {kMsgArgumentNull, kMsgArgumentNull, "", "", nullptr});
    if (!EqualNoCase(args[1], kCommandFileScan))
        return Fail(hooks, {kMsgUnknownCommand, kMsgUnknownCommand, "", "", nullptr});

    hooks.console("\r\n");
    hooks.console("\r\n┏" + Repeat("━", 22) + "┓");
    hooks.console("\r\n┃   Veloran Quarnet·MDB 文件扫描服务   ┃");
    hooks.console("\r\n┗" + Repeat("━", 22) + "┛");
    hooks.console("\r\n\r\n\r\n");

    const std::optional<std::string> modulePath = hooks.moduleFileName();
    if (!modulePath)
        return Fail(hooks, {kMsgModuleNameFailed, kProgramName, kMsgModuleNameFailed, "", nullptr});
    const std::optional<std::string> programDir = ScannerProgramDir(*modulePath);
    if (!programDir) {
        hooks.flush();
        return 0;  // not this program, or an unusable location: end silently
    }

    SetRunLogDirectory(*programDir);
    WriteRunLog(Repeat("━", 49));

    ConsoleReporter reporter(hooks.console);
    std::string dbPath;
    std::unique_ptr<FileInfoDb> db;
    int storeError = 0;  // 0: the path could not be resolved (a message has been shown)
    try {
        if (GetFileInfoDbPath(reporter, dbPath) == 1) db = FileInfoDb::Open(dbPath, &storeError);
    } catch (...) {
        db.reset();
    }
    const std::time_t now = std::time(nullptr);
    if (db && db->PurgeDate(platform::FormatLocalTime("%Y-%m-%d", now)) != 1) {
        storeError = db->LastErrorCode();
        db.reset();
    }
    if (!db)
        return Fail(hooks,
                    {kMsgDatabaseFailed, kProgramName, kMsgDatabaseFailed, "", kMsgDatabaseFailed},
                    storeError != 0 ? "原因：" + DescribeStoreFailure(storeError, dbPath) : "");
    db->PurgeOlderThan(platform::FormatLocalTime("%Y-%m-%d", now - kRetentionSeconds));

    int result = 0;
    try {
        FileScanner scanner(*programDir, db.get(), hooks.console);
        result = scanner.RunFileScan();
    } catch (...) {
        result = 0;
    }
    hooks.flush();
    ShowCloseCountdown(hooks.console, hooks.flush, hooks.sleep);
    return result;
}

}  // namespace mdb::scanner
