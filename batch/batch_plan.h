// What a batch is worth doing before anything is stopped or copied: the files that no
// longer exist (their records are forgotten, said once), those whose estimated saving is
// below the minimum (neither backed up nor rewritten), and whether any file is left that
// may be replaced, so that the web server is stopped only then.
#pragma once

#include "platform/text_mark.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "batch/run_report.h"
#include "batch/stored_path.h"

namespace mdb::batch {

// Text of a file that no longer exists (its record is forgotten).
inline constexpr char kReasonMissing[] = MDB_TEXT("文件不存在");

// True only when the system says `path` does not exist; not when it cannot be looked at
// (a folder without permission, a share that is down): such a file is not forgotten.
bool FileIsGone(const std::filesystem::path& path);

// The least a file must save to be compacted: a share of its size, or bytes, or both
// (both must be met). Zero (the default) compacts every file.
struct MinimumSaving {
    unsigned percent = 0;
    std::uint64_t bytes = 0;
    bool Off() const { return percent == 0 && bytes == 0; }
    bool Met(std::uint64_t sizeNow, std::uint64_t estimatedAfter) const;
};

// "5%", "512K", "2M", "1G", "4096", "0" or "off"; false when the text is none of these.
bool ParseMinimumSaving(const std::string& text, MinimumSaving& out);

struct BatchPlan {
    std::vector<RecordedFile> toTreat;  // in the batch's order
    std::vector<FileReport> leftOut;   // missing or below the minimum saving
    std::vector<std::string> missing;  // stored paths of the files that no longer exist
    bool anyReplaceable = false;       // a file of toTreat may be replaced
};

// Looks at each file: one that does not exist is left out (kReasonMissing); with a
// minimum saving, each file is checked (jet::CheckFile) and one whose estimate falls
// short is left out (kSkipBelowMinimumSaving). A file that exists and whose header the
// engine accepts makes the batch one that may replace files.
BatchPlan PlanBatch(const std::vector<RecordedFile>& files, const MinimumSaving& minimum);

// The estimate a dry run reports, from the check of the file.
struct FileEstimate {
    bool read = false;   // false: the file cannot be read (`reason` says why)
    std::string reason;  // "未压缩，原因：..." when not read
    std::uint64_t sizeNow = 0, sizeAfter = 0;
    std::uint64_t pagesNow = 0, pagesAfter = 0;
    // Problems the check found: the batch repairs such a file instead of compacting it
    // (when nothing is lost), and the estimate is then only a guess.
    std::size_t problems = 0;
};
FileEstimate EstimateFile(const std::string& path);

}  // namespace mdb::batch
