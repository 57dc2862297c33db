// What a batch leaves for the administrator besides its output: lines in the run log of
// the program directory (__mdbscout.log, beside the scanner's) and, when a systemd unit
// runs it, journal entries with a priority and fields of their own: MDB_FILE,
// MDB_OUTCOME, MDB_REASON_CODE, MDB_REASON, MDB_SIZE_BEFORE, MDB_SIZE_AFTER for each
// file (a file not compacted at warning priority), MDB_UNITS for the web server.
#pragma once

#include <string>
#include <vector>

#include "batch/run_report.h"

namespace mdb::batch {

class RunTrace {
  public:
    // `programDir` holds the run log.
    explicit RunTrace(const std::string& programDir);

    // True when the entries go to the journal (the output then need not repeat them).
    bool ToJournal() const { return journal_; }
    const std::string& ProgramDir() const { return programDir_; }

    void Started(std::size_t files, bool dryRun);
    void File(const FileReport& file);
    // `stopped`: the units stopped (true) or started again (false).
    void WebServer(bool stopped, const std::vector<std::string>& units);
    // Units stopped for the run that could not be started again (error priority).
    void WebServerNotStarted(const std::vector<std::string>& units);
    void Ended(const RunReport& report);
    // A run that could not start.
    void Failed(const std::string& why);

  private:
    void Line(int priority, const std::string& text, const std::vector<std::pair<std::string, std::string>>& fields);
    std::string programDir_;
    bool journal_ = false;
};

}  // namespace mdb::batch
