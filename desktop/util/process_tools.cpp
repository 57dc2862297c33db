#include "desktop/util/process_tools.h"

#include "common/eventlog.h"
#include "platform/arguments.h"
#include "platform/paths.h"

#include <filesystem>
#include <vector>

namespace mdb::desktop {
namespace {

void Report(const ProcessToolOptions& options, const std::string& message) {
    if (options.report) {
        options.report(message);
    } else {
        ReportToEventLog(message, "", kEventMainFlow);
    }
}

bool AcceptableName(const std::string& exeName) {
    return !exeName.empty() && exeName.size() < kMaxProcessName;
}

// The processes that count: the right name and, when one program file is meant, that file.
class ProcessFilter {
  public:
    ProcessFilter(const std::string& exeName, const ProcessToolOptions& options)
        : name_(exeName) {
        if (!options.executable.empty()) {
            // The system reports executables with every link resolved.
            std::error_code ec;
            const std::filesystem::path real =
                std::filesystem::weakly_canonical(platform::PathFromUtf8(options.executable), ec);
            executable_ = ec ? options.executable : platform::Utf8OfPath(real);
        }
    }
    bool Matches(const platform::ProcessEntry& entry) const {
        return platform::SamePathText(entry.name, name_) &&
               (executable_.empty() || platform::SamePathText(entry.executable, executable_));
    }

  private:
    std::string name_;
    std::string executable_;
};

// Reads the process table; logs and returns false when it cannot be read.
bool ReadTable(const ProcessToolOptions& options, const char* openFailed, const char* noEntry,
               platform::ProcessList& list) {
    list = platform::ListProcesses(options.processRoot);
    switch (list.status) {
        case platform::ProcessListStatus::Ok:
            return true;
        case platform::ProcessListStatus::CannotOpen:
            Report(options, openFailed);
            return false;
        case platform::ProcessListStatus::NoEntries:
            Report(options, noEntry);
            return false;
    }
    return false;
}

}  // namespace

int qorGetProcessList(const std::string& exeName, const ProcessToolOptions& options) {
    if (!AcceptableName(exeName)) return 0;
    platform::ProcessList list;
    if (!ReadTable(options, kMsgListSnapshotFailed, kMsgListFirstFailed, list)) return 0;
    const ProcessFilter filter(exeName, options);
    for (const platform::ProcessEntry& entry : list.entries) {
        if (filter.Matches(entry)) return 1;
    }
    return 2;
}

int qorTerminateProcess(const std::string& exeName, const ProcessToolOptions& options) {
    if (!AcceptableName(exeName)) return 0;
    platform::ProcessList list;
    if (!ReadTable(options, kMsgTerminateSnapshotFailed, kMsgTerminateFirstFailed, list)) {
        return 0;
    }
    const ProcessFilter filter(exeName, options);
    int result = 2;
    for (const platform::ProcessEntry& entry : list.entries) {
        if (!filter.Matches(entry)) continue;
        // The platform checks the process again once it is pinned.
        switch (platform::TerminateProcess(entry, options.grace)) {
            case platform::TerminateStatus::Ended:
                result = 1;
                break;
            case platform::TerminateStatus::AlreadyGone:
                break;  // ended by itself meanwhile: nothing left to do for this one
            case platform::TerminateStatus::Failed:
                return 0;
        }
    }
    return result;
}

int RunProgram(const std::vector<std::string>& argv, int wait) {
    if (argv.empty() || argv.front().empty()) return 0;
    const platform::SpawnResult started = platform::SpawnProcess(argv);
    if (!started.Started()) return 0;
    if (wait == 1) {
        platform::WaitForProcess(started.pid);
    } else {
        platform::ReapInBackground(started.pid);
    }
    return 1;
}

}  // namespace mdb::desktop
