#include "batch/run_trace.h"

#include "batch/reason_code.h"
#include "common/runlog.h"
#include "platform/journal.h"

namespace mdb::batch {
namespace {

constexpr char kPrefix[] = "mdbcompact batch: ";

std::string Join(const std::vector<std::string>& items) {
    std::string out;
    for (const auto& s : items) out += (out.empty() ? "" : " ") + s;
    return out;
}

}  // namespace

RunTrace::RunTrace(const std::string& programDir)
    : programDir_(programDir), journal_(platform::JournalConnected()) {
    SetRunLogDirectory(programDir);
}

void RunTrace::Line(int priority, const std::string& text,
                    const std::vector<std::pair<std::string, std::string>>& fields) {
    WriteRunLog(kPrefix + text);
    if (journal_) platform::JournalSend(priority, text, fields);
}

void RunTrace::Started(std::size_t files, bool dryRun) {
    Line(platform::kJournalInfo,
         std::string(dryRun ? "dry run" : "batch") + " started, " + std::to_string(files) +
             " files",
         {});
}

void RunTrace::File(const FileReport& f) {
    std::string text = f.path + ": ";
    int priority = platform::kJournalInfo;
    platform::JournalFields fields = {{"MDB_FILE", f.path}, {"MDB_OUTCOME", OutcomeName(f.outcome)},
                                      {"MDB_SIZE_BEFORE", std::to_string(f.sizeBefore)}};
    switch (f.outcome) {
        case FileOutcomeKind::Compacted:
        case FileOutcomeKind::Estimated:
            text += std::string(f.outcome == FileOutcomeKind::Compacted ? "compacted, "
                                                                        : "estimated, ") +
                    std::to_string(f.sizeBefore) + " -> " + std::to_string(f.sizeAfter) +
                    " bytes";
            fields.emplace_back("MDB_SIZE_AFTER", std::to_string(f.sizeAfter));
            break;
        case FileOutcomeKind::NotReached:
            text += "not reached (the run was stopped)";
            break;
        default: {
            const std::string code = ReasonCode(f.reason);
            text += std::string(OutcomeName(f.outcome)) + ": " + f.reason;
            // Leaving a file alone on purpose is no failure.
            if (code != "below_minimum_saving") priority = platform::kJournalWarning;
            fields.emplace_back("MDB_REASON_CODE", code);
            fields.emplace_back("MDB_REASON", f.reason);
        }
    }
    Line(priority, text, fields);
}

void RunTrace::WebServer(bool stopped, const std::vector<std::string>& units) {
    Line(platform::kJournalInfo,
         std::string("web server units ") + (stopped ? "stopped: " : "started: ") +
             (units.empty() ? std::string("none") : Join(units)),
         {{"MDB_WEB_SERVER", stopped ? "stopped" : "started"}, {"MDB_UNITS", Join(units)}});
}

void RunTrace::WebServerNotStarted(const std::vector<std::string>& units) {
    Line(platform::kJournalError,
         "web server units could not be started again, the sites are down: " + Join(units),
         {{"MDB_WEB_SERVER", "not_started"}, {"MDB_UNITS", Join(units)}});
}

void RunTrace::Ended(const RunReport& r) {
    const unsigned notCompacted = r.Count(FileOutcomeKind::NotCompacted);
    const std::string text =
        std::string(r.dryRun ? "dry run" : "batch") + " ended, exit code " +
        std::to_string(r.exitCode) + ": compacted " +
        std::to_string(r.Count(FileOutcomeKind::Compacted)) + ", not compacted " +
        std::to_string(notCompacted) + ", skipped " +
        std::to_string(r.Count(FileOutcomeKind::Skipped)) + ", not reached " +
        std::to_string(r.Count(FileOutcomeKind::NotReached)) + "; " +
        std::to_string(r.BytesBefore()) + " -> " + std::to_string(r.BytesAfter()) + " bytes" +
        (r.backupRunsPruned > 0 ? "; old backup runs removed: " + std::to_string(r.backupRunsPruned)
                                : "");
    Line(r.exitCode == 0 ? platform::kJournalInfo : platform::kJournalWarning, text,
         {{"MDB_EXIT_CODE", std::to_string(r.exitCode)}});
}

void RunTrace::Failed(const std::string& why) {
    Line(platform::kJournalError, "batch could not start: " + why, {});
}

}  // namespace mdb::batch
