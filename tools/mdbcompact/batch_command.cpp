#include "batch_command.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <set>

#include "batch/backup_retention.h"
#include "batch/batch_plan.h"
#include "batch/reason_code.h"
#include "batch/batch_lock.h"
#include "batch/batch_run.h"
#include "batch/compact_mdb_file.h"
#include "batch/compaction_engine.h"
#include "batch/companions.h"
#include "batch/run_metrics.h"
#include "batch/run_report.h"
#include "batch/run_trace.h"
#include "batch/stored_path.h"
#include "common/i18n.h"
#include "common/paths.h"
#include "common/settings.h"
#include "common/utf16.h"
#include "jet/checker.h"
#include "platform/arguments.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/termination.h"
#include "takeover/access_fileinfo.h"
#include "takeover/store_takeover.h"

namespace mdbcompact {
namespace fs = std::filesystem;
using namespace mdb;

const char kBatchHelp[] =
    "usage: mdbcompact batch [OPTIONS] (--all | FILE...)\n"
    "\n"
    "Compacts recorded databases as mdbwarden does: each file is backed up, compacted\n"
    "into a new file, verified and put in place atomically, with the web server stopped\n"
    "for the run and started again however it ends. The store of the program directory\n"
    "(config/FileInfo.dat beside this program) records the outcome.\n"
    "\n"
    "  --all               every recorded file\n"
    "  FILE...             these files (recorded first when the store does not have them)\n"
    "  --store PATH        the store of another program directory (PATH/../.. is that\n"
    "                      directory: its companion programs and lock are used)\n"
    "  --backup-root DIR   where the run's backups go (default /var/backups/qor_mdb_backup)\n"
    "  --no-web-server     do not stop the web server (the sites stay up meanwhile)\n"
    "  --dry-run           print pages now, estimated pages after and the estimated\n"
    "                      saving of each file and in total; change nothing\n"
    "  --keep-backups DAYS after every run that made its backup folder, whatever became\n"
    "                      of its files, remove this program's backup run folders older\n"
    "                      than DAYS (never the current run's); off unless given\n"
    "  --min-saving N%|BYTES  leave a file alone (no backup, no rewrite) when its\n"
    "                      estimated saving is below N percent of its size or below\n"
    "                      BYTES (K, M, G); default: the setting MinSaving, else off\n"
    "  --json              one JSON document on standard output (schema in mdbcompact(1))\n"
    "  --quiet             no progress and no per-file lines; problems on standard error\n"
    "  --repair-lossy      also repair a damaged file when the repair loses rows or\n"
    "                      values (the damaged original stays in the run's backup);\n"
    "                      by default such a file is left as it is, with what a\n"
    "                      repair would recover as its reason\n"
    "  --engine jet|jro    jet (default): our engine, which verifies every result;\n"
    "                      jro: Windows' own Jet engine (JRO.JetEngine through COM,\n"
    "                      Windows builds only; needs the Jet 4.0 OLE DB provider)\n"
    "\n"
    "Each file is checked before it is compacted; a damaged one (rows on pages no\n"
    "usage map lists, indexes that do not match their rows, ...) is repaired instead\n"
    "when the repair keeps every row and value, and its record says so (已修复并压缩).\n"
    "A recorded file that no longer exists is named once (文件不存在) and its record\n"
    "forgotten. The web server is stopped only when at least one file may be replaced.\n"
    "Only one batch runs at a time per program directory (also against the window).\n"
    "Ctrl-C or SIGTERM: the file under way finishes (or is left as it was), no further\n"
    "file starts, the web server is started again.\n"
    "Exit: 0 all compacted (files left out as missing or below the minimum saving do\n"
    "not count), 1 some not compacted (reasons printed; a dry run: some would not be)\n"
    "or some records not written (the store stayed locked), 2 nothing could\n"
    "start (lock held, store unreadable, backup root not writable, bad arguments),\n"
    "3 the web server stopped for the run could not be started again (the sites are\n"
    "down; whatever became of the files), 130 interrupted.\n"
    "A web server a killed batch left stopped is started by the next batch (or by\n"
    "mdbscout_iisreset /start).\n";

namespace {

struct Options {
    bool all = false;
    bool dryRun = false;
    bool json = false;
    bool quiet = false;
    bool minSavingGiven = false;
    batch::MinimumSaving minSaving;
    bool webServer = true;
    int keepDays = -1;
    std::vector<std::string> files;
    std::string store;
    std::string backupRoot = std::string(platform::kBackupRoot);
    batch::CompactionEngine engine = batch::kDefaultCompactionEngine;
    batch::DamagedFiles damaged = batch::DamagedFiles::RepairLossless;
};

// Why the lock file could not be opened, in words: the system's own texts differ
// between systems and their languages.
std::string LockErrorText(int systemError) {
    if (systemError == platform::kErrorNotRegularFile || systemError == EISDIR)
        return "it is not a regular file";
    switch (platform::ClassifyFileError(systemError)) {
        case platform::FileError::AccessDenied: return "access denied";
        case platform::FileError::NotFound:
        case platform::FileError::BadPath: return "its folder is missing or not a folder";
        case platform::FileError::TooManyOpen: return "too many open files";
        case platform::FileError::Other: break;
    }
    return "system error " + std::to_string(systemError);
}

// The run's metrics textfile; a failure to write it is said, it changes no exit code.
void WriteMetrics(const batch::RunReport& report, const std::string& programDir) {
    std::string path;
    if (!batch::WriteRunMetrics(report, programDir, path))
        std::cerr << "mdbcompact batch: cannot write the metrics file " << path << "\n";
}

// Set once the options are read: a failure then also prints the JSON document.
bool gJson = false;
// Set once the program directory is known: a failure then goes to its run log too.
batch::RunTrace* gTrace = nullptr;

int Fail(const std::string& text, int code = kBatchCouldNotStart) {
    std::cerr << "mdbcompact batch: " << text << "\n";
    batch::RunReport report;
    report.exitCode = code;
    report.error = text;
    report.started = report.ended = std::time(nullptr);
    if (gTrace) {
        gTrace->Failed(text);
        // The metrics say so too (the exit code; the last success stays what it was).
        WriteMetrics(report, gTrace->ProgramDir());
    }
    if (gJson) std::cout << batch::RunReportJson(report).Dump() << "\n" << std::flush;
    return code;
}

bool ParseOptions(const std::vector<std::string>& args, Options& o, std::string& error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) {
                error = a + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        if (a == "--all") {
            o.all = true;
        } else if (a == "--dry-run") {
            o.dryRun = true;
        } else if (a == "--json") {
            o.json = true;
        } else if (a == "--quiet") {
            o.quiet = true;
        } else if (a == "--min-saving") {
            std::string text;
            if (!value(text)) return false;
            if (!batch::ParseMinimumSaving(text, o.minSaving)) {
                error = "--min-saving takes a percentage (5%), a byte count (512K) or off";
                return false;
            }
            o.minSavingGiven = true;
        } else if (a == "--repair-lossy") {
            o.damaged = batch::DamagedFiles::RepairAlways;
        } else if (a == "--no-web-server") {
            o.webServer = false;
        } else if (a == "--store") {
            if (!value(o.store)) return false;
        } else if (a == "--backup-root") {
            if (!value(o.backupRoot)) return false;
        } else if (a == "--keep-backups") {
            std::string days;
            if (!value(days)) return false;
            char* end = nullptr;
            const long n = std::strtol(days.c_str(), &end, 10);
            if (days.empty() || *end != '\0' || n < 0 || n > 36500) {
                error = "--keep-backups takes a number of days";
                return false;
            }
            o.keepDays = static_cast<int>(n);
        } else if (a == "--engine") {
            std::string name;
            if (!value(name)) return false;
            const auto engine = batch::ParseCompactionEngine(name);
            if (!engine) {
                error = "--engine takes jet or jro";
                return false;
            }
            o.engine = *engine;
        } else if (a.rfind("--", 0) == 0) {
            error = "unknown option " + a;
            return false;
        } else {
            o.files.push_back(a);
        }
    }
    if (o.all == !o.files.empty()) {
        error = "give either --all or the files to compact";
        return false;
    }
    return true;
}

std::string Ratio(std::uint64_t before, std::uint64_t after) {
    if (before == 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f%%",
                  100.0 * (static_cast<double>(before) - static_cast<double>(after)) /
                      static_cast<double>(before));
    return text;
}

// Per-file lines, a live progress line on a terminal, the totals line; or, quiet, only the
// files not compacted on standard error. Every outcome goes to the run's report.
class ConsoleObserver : public batch::BatchObserver {
  public:
    ConsoleObserver(bool live, bool quiet, batch::RunReport& report, batch::RunTrace& trace)
        : live_(live && !quiet), quiet_(quiet), report_(report), trace_(trace) {}
    void FileStarted(std::size_t index, std::size_t total, const batch::RecordedFile& file) override {
        if (!live_) return;
        const std::string path = file.Text();
        std::cout << "\r\033[K[" << index + 1 << "/" << total << "] " << path << std::flush;
    }
    void FileDone(const batch::FileOutcome& o) override {
        report_.files.push_back(batch::ReportOf(o));
        trace_.File(report_.files.back());
        const batch::ReplaceResult& r = o.result;
        // A repair, or a removal that failed after a replacement, is something to see in
        // every mode.
        if (!r.note.empty())
            std::cerr << platform::Utf8OfPath(r.path) << "  " << TrWithDetail(r.note, "") << "\n";
        if (quiet_) {
            // Under systemd the journal has the file already, at warning priority.
            if (!r.Replaced() && !trace_.ToJournal())
                std::cerr << platform::Utf8OfPath(r.path) << "  "
                          << (r.reason.empty() ? Tr("未压缩")
                                               : TrWithDetail(r.reason, batch::kNotCompactedPrefix))
                          << "\n";
            return;
        }
        if (live_) std::cout << "\r\033[K";
        std::cout << platform::Utf8OfPath(r.path) << "  ";
        if (r.Replaced()) {
            std::cout << r.sizeBefore << " -> " << r.sizeAfter << " bytes, saved "
                      << Ratio(r.sizeBefore, r.sizeAfter) << "\n";
            before_ += r.sizeBefore;
            after_ += r.sizeAfter;
        } else {
            std::cout << (r.reason.empty() ? Tr("未压缩（文件无法访问或已跳过）")
                                           : TrWithDetail(r.reason, batch::kNotCompactedPrefix))
                      << "\n";
        }
        std::cout << std::flush;
    }
    void BatchDone(const batch::BatchTotals& t) override {
        if (quiet_) return;
        std::cout << "compacted " << t.compacted << ", not compacted " << t.notCompacted;
        if (t.stopped) std::cout << ", not reached " << t.notReached << " (interrupted)";
        std::cout << "; " << before_ << " -> " << after_ << " bytes, saved "
                  << Ratio(before_, after_) << "\n"
                  << std::flush;
    }

  private:
    bool live_;
    bool quiet_;
    batch::RunReport& report_;
    batch::RunTrace& trace_;
    std::uint64_t before_ = 0;
    std::uint64_t after_ = 0;
};

int DryRun(const std::vector<batch::RecordedFile>& files, const Options& o,
           const std::string& programDir) {
    std::uint64_t pagesNow = 0, pagesAfter = 0;
    unsigned refused = 0, small = 0;
    batch::RunReport report;
    report.dryRun = true;
    report.started = std::time(nullptr);
    const bool text = !o.json && !o.quiet;
    for (const batch::RecordedFile& recorded : files) {
        batch::FileReport file;
        file.path = recorded.Text();
        const batch::FileEstimate e = batch::EstimateFile(file.path);
        if (!e.read) {
            file.reason = e.reason;
            file.outcome = batch::FileOutcomeKind::NotCompacted;
            if (text)
                std::cout << file.path << "  "
                          << TrWithDetail(file.reason, batch::kNotCompactedPrefix) << "\n";
            ++refused;
        } else if (e.problems == 0 && !o.minSaving.Met(e.sizeNow, e.sizeAfter)) {
            file.outcome = batch::FileOutcomeKind::Skipped;
            file.sizeBefore = e.sizeNow;
            file.reason = batch::kSkipBelowMinimumSaving;
            if (text)
                std::cout << file.path << "  saving about " << Ratio(e.sizeNow, e.sizeAfter)
                          << ": " << Tr(file.reason) << "\n";
            ++small;
        } else {
            file.outcome = batch::FileOutcomeKind::Estimated;
            file.sizeBefore = e.sizeNow;
            file.sizeAfter = e.sizeAfter;
            file.checkProblems = e.problems;
            if (text) {
                std::cout << file.path << "  pages " << e.pagesNow << " -> about " << e.pagesAfter
                          << ", saving about " << Ratio(e.sizeNow, e.sizeAfter);
                if (e.problems)
                    std::cout << "; damaged (" << e.problems
                              << " problems, see mdbcompact check): repaired instead when "
                                 "the repair loses nothing, else left as it is";
                std::cout << "\n";
            }
            pagesNow += e.pagesNow;
            pagesAfter += e.pagesAfter;
        }
        report.files.push_back(std::move(file));
    }
    report.ended = std::time(nullptr);
    // As the run would end: a file the engine would not take is a failure to see.
    report.exitCode = refused == 0 ? kBatchAllCompacted : kBatchSomeNotCompacted;
    WriteMetrics(report, programDir);
    if (o.json) {
        std::cout << batch::RunReportJson(report).Dump() << "\n";
        return report.exitCode;
    }
    if (o.quiet) return report.exitCode;
    std::cout << "dry run: " << files.size() << " files, pages " << pagesNow
              << " -> about " << pagesAfter << ", bytes " << report.BytesBefore()
              << " -> about " << report.BytesAfter() << " (saving about "
              << Ratio(report.BytesBefore(), report.BytesAfter()) << ")";
    if (refused) std::cout << "; " << refused << " would not be compacted";
    if (small) std::cout << "; " << small << " below the minimum saving";
    std::cout << "; nothing changed\n";
    return report.exitCode;
}

// Records `path` as the scanner would (found, not yet compacted).
bool RecordFile(FileInfoDb& store, const fs::path& path, std::uint64_t size) {
    const auto path16 =
        Utf8ToUtf16(std::string(platform::kLongPathPrefix) + platform::Utf8OfPath(path));
    const auto name16 = Utf8ToUtf16(platform::Utf8OfPath(path.filename()));
    if (!path16 || !name16) return false;
    static std::uint32_t sequence = 0;
    return store.InsertRecord(FoundFileRecord(*path16, *name16, size, sequence++)) == 1;
}

// The `filepath` texts of the files to treat: every recorded one, or the named ones
// (recorded first when missing, unless this is a dry run), without repeats. A dry run
// may have no store at all.
bool SelectBatchFiles(FileInfoDb* store, const std::vector<FileInfoRecord>& rows,
                      const Options& o, std::vector<std::string>& out, std::string& error) {
    std::set<std::string> seen;
    if (o.all) {
        for (const auto& r : rows)
            if (seen.insert(r.filepath).second) out.push_back(r.filepath);
        return true;
    }
    std::set<std::string> recorded;
    for (const auto& r : rows) recorded.insert(r.filepath);
    for (const auto& file : o.files) {
        std::error_code ec;
        const fs::path path = fs::absolute(platform::PathFromUtf8(file), ec).lexically_normal();
        const std::string stored = batch::StoredPathOf(path);
        if (!seen.insert(stored).second) continue;
        if (!recorded.count(stored)) {
            if (!fs::is_regular_file(path, ec)) {
                error = "no such database file: " + platform::Utf8OfPath(path);
                return false;
            }
            if (!o.dryRun && !RecordFile(*store, path, fs::file_size(path, ec))) {
                error = "cannot record " + platform::Utf8OfPath(path) + " in the store";
                return false;
            }
        }
        out.push_back(stored);
    }
    return true;
}

// True when `store` is the Windows original's store (Access format); `rows` then receives
// its rows, or `error` why they cannot be read.
bool ReadsAsAccessStore(const fs::path& store, std::vector<FileInfoRecord>& rows,
                        std::string& error) {
    std::array<std::uint8_t, takeover::kJetProbeBytes> start{};
    std::uint64_t size = 0;
    std::size_t read = 0;
    if (platform::ReadFileStart(platform::Utf8OfPath(store), start, size, read) !=
            platform::HeaderResult::Ok ||
        !takeover::IsJetFileStart(std::span(start).first(read)))
        return false;
    std::string reason;
    if (!takeover::ReadAccessFileInfo(store, rows, reason))
        error = "cannot read the Windows original's store " + platform::Utf8OfPath(store) +
                " (Access format): " + reason;
    return true;
}

// Takes over the Windows original's store (Access format) at `store`, if it is one, saying
// so on standard error (standard output may carry a JSON document); false (after a
// message) when it is one that cannot be taken over.
bool TakeOverOriginalStore(const std::string& store) {
    using Kind = takeover::TakeoverResult::Kind;
    const takeover::TakeoverResult result = takeover::TakeOverAccessStore(store);
    switch (result.kind) {
        case Kind::NotAccess:
            return true;
        case Kind::TakenOver:
            std::cerr << "the Windows original's store " << store << " (Access format, "
                      << result.rows << " records) was taken over; the original is kept as "
                      << result.keptAs << "\n";
            return true;
        case Kind::Unreadable:
            Fail("cannot read the Windows original's store " + store +
                 " (Access format): " + result.reason + "; it was left as it is");
            return false;
        case Kind::Failed:
            Fail("cannot take over the Windows original's store " + store + ": " +
                 result.reason + "; it was left as it is");
            return false;
    }
    return false;
}

}  // namespace

int RunBatch(const std::vector<std::string>& args) {
    Options o;
    std::string error;
    gJson = std::find(args.begin(), args.end(), "--json") != args.end();
    if (!ParseOptions(args, o, error)) return Fail(error + "\n\n" + kBatchHelp);
    if (!batch::CompactorFor(o.engine))
        return Fail("this build has no JRO engine (Windows builds only); nothing was changed");

    fs::path storePath;
    fs::path programDir;
    if (!o.store.empty()) {
        storePath = fs::absolute(platform::PathFromUtf8(o.store));
        programDir = storePath.parent_path().parent_path();
    } else {
        std::string exeDir;
        if (GetExeDirectory(exeDir) != 1) return Fail("cannot find the program directory");
        programDir = platform::PathFromUtf8(exeDir);
        storePath = programDir / "config" / kFileInfoDbName;
    }
    const std::string programDirText = platform::Utf8OfPath(programDir);
    batch::RunTrace trace(programDirText);
    if (!o.dryRun) gTrace = &trace;
    struct Forget {
        ~Forget() { gTrace = nullptr; }
    } forgetTrace;
    if (!o.minSavingGiven) {
        const std::string setting = platform::GetProfileString(
            kSettingsSection, kKeyMinSaving, "", SettingsPathIn(programDirText));
        if (!setting.empty() && !batch::ParseMinimumSaving(setting, o.minSaving))
            return Fail(std::string(kKeyMinSaving) + "=" + setting + " in " +
                        SettingsPathIn(programDirText) +
                        " is no percentage (5%), byte count (512K) or off");
    }
    // Named files are recorded first, as the scanner would, into a new store when there
    // is none yet; --all needs the records of a scan.
    std::error_code ec;
    const bool haveStore = fs::is_regular_file(storePath, ec);
    if (!haveStore && (o.all || fs::exists(storePath, ec)))
        return Fail("cannot read the store " + platform::Utf8OfPath(storePath) +
                    " (run mdbscout first)");

    if (!haveStore && !o.dryRun) fs::create_directories(storePath.parent_path(), ec);
    batch::BatchLock lock(programDirText, "mdbcompact batch");
    if (!lock.Held() && !lock.HeldByAnother())
        return Fail("cannot take the lock " +
                    platform::Utf8OfPath(programDir / "config" / "compaction.lock") + " (" +
                    LockErrorText(lock.OpenError()) + "); nothing was changed");
    if (!lock.Held())
        return Fail("another copy is compacting the databases of " + programDirText +
                    " (held by " + (lock.Holder().empty() ? "unknown" : lock.Holder()) + ")");
    if (!o.dryRun && !batch::BackupRootWritable(platform::PathFromUtf8(o.backupRoot), error))
        return Fail(error + "; nothing was changed (--backup-root DIR for another place)");

    std::unique_ptr<FileInfoDb> store;
    std::vector<FileInfoRecord> rows;
    if (haveStore || !o.dryRun) {
        const std::string storeText = platform::Utf8OfPath(storePath);
        // The Windows original's store (Access format) is taken over on the first run that
        // may change the store; a dry run reads its rows where they are.
        if (o.dryRun && ReadsAsAccessStore(storePath, rows, error)) {
            if (!error.empty()) return Fail(error);
        } else {
            if (!o.dryRun && !TakeOverOriginalStore(storeText)) return kBatchCouldNotStart;
            store = FileInfoDb::Open(storeText);
            if (!store) return Fail("cannot read the store " + storeText);
            if (store->SelectAll(rows) != 1) return Fail("cannot read the records of the store");
        }
    }
    std::vector<std::string> storedPaths;
    if (!SelectBatchFiles(store.get(), rows, o, storedPaths, error)) return Fail(error);
    if (storedPaths.empty()) return Fail("no recorded files to compact (run mdbscout first)");

    // Each record's path is decoded once, here.
    const std::vector<batch::RecordedFile> files = batch::DecodeRecordedFiles(storedPaths);
    if (o.dryRun) return DryRun(files, o, programDirText);

    batch::RunReport report;
    report.started = std::time(nullptr);
    const bool text = !o.json && !o.quiet;
    // Files that are gone are named once and forgotten; those not worth compacting are
    // left alone. Neither makes the run fail.
    const batch::BatchPlan plan = batch::PlanBatch(files, o.minSaving);
    trace.Started(files.size(), false);
    for (const auto& stored : plan.missing) store->ForgetFilepath(stored);
    for (const auto& file : plan.leftOut) {
        if (text)
            std::cout << file.path << "  "
                      << TrWithDetail(file.reason, batch::kNotCompactedPrefix) << "\n";
        report.files.push_back(file);
        trace.File(file);
    }

    // From here on Ctrl-C / SIGTERM only ask the batch to stop before its next file.
    platform::TerminationGuard guard;
    // The companions' own lines would break the JSON document; what they did is read from
    // their state file instead.
    const platform::ChildOutput childOutput =
        text ? platform::ChildOutput::Inherit : platform::ChildOutput::Discard;
    const batch::RunAndWait runAndWait = [childOutput](const std::vector<std::string>& argv) {
        const platform::SpawnResult started = platform::SpawnProcess(argv, childOutput);
        if (!started.Started()) return 0;
        platform::WaitForProcess(started.pid);
        return 1;
    };
    // The web server is stopped only when a file may be replaced: a batch of files that
    // are all refused or left out keeps the sites up.
    report.webServerControlled = o.webServer && plan.anyReplaceable;
    // Units a killed batch left stopped come back now when this batch does not stop and
    // start the web server itself (the stop below keeps them in its list otherwise).
    if (!report.webServerControlled && o.webServer &&
        !batch::WebServerUnitsLeftStopped(programDirText).empty()) {
        if (text) std::cout << "starting the web server a killed batch left stopped\n";
        batch::RunWebServerControl(programDirText, runAndWait, "/start");
    }
    std::chrono::steady_clock::time_point downSince;
    if (report.webServerControlled) {
        if (!batch::RunWebServerControl(programDirText, runAndWait, "/stop"))
            return Fail("cannot stop the web server: " +
                        batch::ProgramPath(programDirText, batch::kIisResetProgram) +
                        " is missing or fails its integrity check (--no-web-server to go on "
                        "with the sites up)");
        downSince = std::chrono::steady_clock::now();
        report.unitsStopped = batch::WebServerUnitsLeftStopped(programDirText);
        trace.WebServer(true, report.unitsStopped);
    } else if (text) {
        std::cout << (o.webServer ? "no file can be replaced: the web server is not stopped\n"
                                  : "the web server is not stopped: the sites stay up during "
                                    "compaction\n");
    }

    batch::BatchSettings settings;
    settings.programDir = programDir;
    settings.backupRoot = platform::PathFromUtf8(o.backupRoot);
    settings.now = report.started;
    settings.stopRequested = [] { return platform::TerminationGuard::Requested(); };
    settings.compact = batch::CompactorFor(o.engine, o.damaged);
    settings.runCompanion = runAndWait;
    ConsoleObserver observer(platform::StandardOutputIsTerminal(), !text, report, trace);
    const std::size_t treatedBefore = report.files.size();
    batch::BatchRun run;
    if (!plan.toTreat.empty()) run = batch::RunBatch(plan.toTreat, settings, *store, observer);
    store.reset();
    if (report.webServerControlled) {
        batch::RunWebServerControl(programDirText, runAndWait, "/start");
        report.webServerDownSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - downSince).count();
        const std::vector<std::string> left = batch::WebServerUnitsLeftStopped(programDirText);
        // Started in the reverse order of the stop.
        for (auto unit = report.unitsStopped.rbegin(); unit != report.unitsStopped.rend(); ++unit)
            if (std::find(left.begin(), left.end(), *unit) == left.end())
                report.unitsStarted.push_back(*unit);
        report.unitsNotStarted = left;
        trace.WebServer(false, report.unitsStarted);
        if (!left.empty()) {
            // Said whatever the output mode: the sites are down.
            std::string names;
            for (const auto& unit : left) names += (names.empty() ? "" : ", ") + unit;
            std::cerr << "mdbcompact batch: the web server could not be started again ("
                      << names << "): the sites are down; fix it, then run "
                      << batch::ProgramPath(programDirText, batch::kIisResetProgram)
                      << " /start\n";
            trace.WebServerNotStarted(left);
        }
    }
    for (std::size_t i = report.files.size() - treatedBefore; i < plan.toTreat.size(); ++i) {
        batch::FileReport file;
        file.path = plan.toTreat[i].Text();
        file.outcome = batch::FileOutcomeKind::NotReached;
        trace.File(file);
        report.files.push_back(std::move(file));
    }

    report.interrupted = guard.Withdraw();
    if (run.start != batch::BatchStart::Ran)
        return Fail(run.start == batch::BatchStart::CompanionRefused
                        ? run.message + " fails its integrity check"
                        : "cannot create the backup directory " + run.message);
    report.backupDir = run.runDir.empty() ? "" : platform::Utf8OfPath(run.runDir);
    report.recordsNotWritten = run.totals.recordsNotWritten;
    if (report.recordsNotWritten > 0)
        std::cerr << "mdbcompact batch: " << report.recordsNotWritten
                  << " file(s) whose record could not be written (the store stayed locked): "
                     "the store does not show what became of them\n";
    // Old runs go after every run that made its own backup folder, whatever became of its
    // files: a file that keeps failing must not let the backup area grow without end.
    // Not after an interrupt, which asks the run to end now.
    if (o.keepDays >= 0 && !run.runDir.empty() && !report.interrupted)
        report.backupRunsPruned = batch::RemoveOldBackupRuns(
            platform::PathFromUtf8(o.backupRoot), o.keepDays, run.runDir, settings.now);
    report.ended = std::time(nullptr);
    report.exitCode = !report.unitsNotStarted.empty() ? kBatchWebServerNotStarted
                      : report.interrupted               ? kBatchInterrupted
                      : run.totals.notCompacted == 0 && report.recordsNotWritten == 0
                          ? kBatchAllCompacted
                                                     : kBatchSomeNotCompacted;
    WriteMetrics(report, programDirText);
    trace.Ended(report);
    if (o.json) std::cout << batch::RunReportJson(report).Dump() << "\n" << std::flush;
    return report.exitCode;
}

}  // namespace mdbcompact
