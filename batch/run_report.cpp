#include "batch/run_report.h"

#include "batch/compact_mdb_file.h"
#include "batch/reason_code.h"
#include "platform/arguments.h"

namespace mdb::batch {

const char* OutcomeName(FileOutcomeKind kind) {
    switch (kind) {
        case FileOutcomeKind::Compacted: return "compacted";
        case FileOutcomeKind::NotCompacted: return "not_compacted";
        case FileOutcomeKind::Skipped: return "skipped";
        case FileOutcomeKind::NotReached: return "not_reached";
        case FileOutcomeKind::Estimated: return "estimated";
    }
    return "skipped";
}

unsigned RunReport::Count(FileOutcomeKind kind) const {
    unsigned n = 0;
    for (const auto& f : files) n += f.outcome == kind;
    return n;
}

std::uint64_t RunReport::BytesBefore() const {
    std::uint64_t n = 0;
    for (const auto& f : files)
        if (f.outcome == FileOutcomeKind::Compacted || f.outcome == FileOutcomeKind::Estimated)
            n += f.sizeBefore;
    return n;
}

std::uint64_t RunReport::BytesAfter() const {
    std::uint64_t n = 0;
    for (const auto& f : files)
        if (f.outcome == FileOutcomeKind::Compacted || f.outcome == FileOutcomeKind::Estimated)
            n += f.sizeAfter;
    return n;
}

FileReport ReportOf(const FileOutcome& outcome) {
    const ReplaceResult& r = outcome.result;
    FileReport f;
    f.path = platform::Utf8OfPath(r.path);
    f.sizeBefore = r.sizeBefore;
    f.sizeAfter = r.sizeAfter;
    f.reason = r.reason;
    f.note = r.note;
    f.repaired = r.Replaced() && IsRepairNote(r.note);
    switch (r.outcome) {
        case ReplaceOutcome::Replaced:
            f.outcome = FileOutcomeKind::Compacted;
            break;
        case ReplaceOutcome::Refused:
        case ReplaceOutcome::ReplaceFailed:
            f.outcome = FileOutcomeKind::NotCompacted;
            break;
        case ReplaceOutcome::Skipped:
            f.outcome = FileOutcomeKind::Skipped;
            break;
    }
    return f;
}

namespace {

Json Strings(const std::vector<std::string>& items) {
    Json a = Json::MakeArray();
    for (const auto& s : items) a.Push(s);
    return a;
}

}  // namespace

Json RunReportJson(const RunReport& report) {
    Json doc = JsonDocument("batch");
    doc.Set("dry_run", report.dryRun);
    doc.Set("exit_code", report.exitCode);
    if (!report.error.empty()) {
        doc.Set("error", report.error);
        return doc;
    }
    doc.Set("started_at", IsoUtcTime(report.started));
    doc.Set("ended_at", IsoUtcTime(report.ended));
    doc.Set("duration_seconds", static_cast<double>(report.ended - report.started));
    doc.Set("interrupted", report.interrupted);
    Json files = Json::MakeArray();
    for (const auto& f : report.files) {
        Json file = Json::MakeObject();
        file.Set("path", f.path);
        file.Set("outcome", OutcomeName(f.outcome));
        file.Set("size_before_bytes", f.sizeBefore);
        if (f.outcome == FileOutcomeKind::Compacted)
            file.Set("size_after_bytes", f.sizeAfter);
        if (f.outcome == FileOutcomeKind::Estimated)
            file.Set("estimated_size_after_bytes", f.sizeAfter);
        if (f.repaired) file.Set("repaired", true);
        if (f.checkProblems) file.Set("check_problems", static_cast<std::uint64_t>(f.checkProblems));
        if (!f.note.empty()) file.Set("note", f.note);
        if (!f.reason.empty())
            file.Set("reason", Json::MakeObject().Set("code", ReasonCode(f.reason)).Set("text", f.reason));
        files.Push(std::move(file));
    }
    doc.Set("files", std::move(files));
    Json totals = Json::MakeObject();
    totals.Set("compacted", report.Count(FileOutcomeKind::Compacted));
    totals.Set("not_compacted", report.Count(FileOutcomeKind::NotCompacted));
    totals.Set("skipped", report.Count(FileOutcomeKind::Skipped));
    totals.Set("not_reached", report.Count(FileOutcomeKind::NotReached));
    totals.Set("estimated", report.Count(FileOutcomeKind::Estimated));
    totals.Set("records_not_written", report.recordsNotWritten);
    // A dry run's bytes after are the estimate.
    totals.Set("bytes_before", report.BytesBefore());
    totals.Set("bytes_after", report.BytesAfter());
    doc.Set("totals", std::move(totals));
    if (!report.dryRun) {
        Json web = Json::MakeObject();
        web.Set("controlled", report.webServerControlled);
        web.Set("units_stopped", Strings(report.unitsStopped));
        web.Set("units_started", Strings(report.unitsStarted));
        web.Set("units_not_started", Strings(report.unitsNotStarted));
        web.Set("down_seconds", report.webServerDownSeconds);
        doc.Set("web_server", std::move(web));
        doc.Set("backup_dir", report.backupDir.empty() ? Json() : Json(report.backupDir));
        doc.Set("backup_runs_pruned",
                report.backupRunsPruned < 0 ? Json() : Json(report.backupRunsPruned));
    }
    return doc;
}

}  // namespace mdb::batch
