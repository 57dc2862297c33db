// What one batch run did, as a value: each file's outcome, the web-server units stopped
// and started, the backups pruned. The machine-readable results (JSON, the metrics
// textfile, the journal) are written from it.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "batch/batch_run.h"
#include "common/json.h"

namespace mdb::batch {

enum class FileOutcomeKind {
    Compacted,     // replaced by its compacted form
    NotCompacted,  // refused (the reason is recorded in the store)
    Skipped,       // left alone (missing, below the minimum saving, ...)
    NotReached,    // the run was stopped before it
    Estimated,     // a dry run's estimate
};

const char* OutcomeName(FileOutcomeKind kind);

struct FileReport {
    std::string path;  // UTF-8
    FileOutcomeKind outcome = FileOutcomeKind::Skipped;
    std::uint64_t sizeBefore = 0;
    std::uint64_t sizeAfter = 0;  // compacted or estimated size; 0 when not known
    std::string reason;           // empty unless not compacted or skipped
    std::string note;             // compacted, with something to say (a repair, ...)
    bool repaired = false;        // compacted after a repair
    std::size_t checkProblems = 0;  // a dry run: problems the check found (to be repaired)
};

struct RunReport {
    bool dryRun = false;
    std::time_t started = 0;
    std::time_t ended = 0;
    std::vector<FileReport> files;
    bool webServerControlled = false;  // false: --no-web-server, or nothing to replace
    std::vector<std::string> unitsStopped;
    std::vector<std::string> unitsStarted;
    std::vector<std::string> unitsNotStarted;
    unsigned recordsNotWritten = 0;  // files whose record the store kept refusing  // stopped for the run, still down after it
    double webServerDownSeconds = 0;
    std::string backupDir;  // empty for a dry run or when none was made
    int backupRunsPruned = -1;  // -1: retention not asked for
    bool interrupted = false;
    int exitCode = 0;
    std::string error;  // why the run could not start (exit code 2)

    unsigned Count(FileOutcomeKind kind) const;
    std::uint64_t BytesBefore() const;  // of the compacted (or estimated) files
    std::uint64_t BytesAfter() const;
};

// The result of a FileOutcome of a run as a report line.
FileReport ReportOf(const FileOutcome& outcome);

// Passes a run's events on to `next` and keeps each file's outcome in `report`.
class RecordingObserver : public BatchObserver {
  public:
    RecordingObserver(BatchObserver& next, RunReport& report) : next_(next), report_(report) {}
    void FileStarted(std::size_t index, std::size_t total, const RecordedFile& file) override {
        next_.FileStarted(index, total, file);
    }
    void FileDone(const FileOutcome& outcome) override {
        report_.files.push_back(ReportOf(outcome));
        next_.FileDone(outcome);
    }
    void BatchDone(const BatchTotals& totals) override { next_.BatchDone(totals); }

  private:
    BatchObserver& next_;
    RunReport& report_;
};

// The run's JSON document ("command": "batch").
Json RunReportJson(const RunReport& report);

}  // namespace mdb::batch
