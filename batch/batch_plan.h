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
    std::vector<std::string> toTreat;  // stored paths, in the batch's order
    std::vector<FileReport> leftOut;   // missing or below the minimum saving
    std::vector<std::string> missing;  // stored paths of the files that no longer exist
    bool anyReplaceable = false;       // a file of toTreat may be replaced
};

// Looks at each file: one that does not exist is left out (kReasonMissing); with a
// minimum saving, each file is checked (jet::CheckFile) and one whose estimate falls
// short is left out (kSkipBelowMinimumSaving). A file that exists and whose header the
// engine accepts makes the batch one that may replace files.
BatchPlan PlanBatch(const std::vector<std::string>& storedPaths, const MinimumSaving& minimum);

// The same estimate a dry run reports: size now and estimated size after; false (with
// the engine's reason) when the file cannot be read.
bool EstimateFile(const std::string& path, std::uint64_t& sizeNow, std::uint64_t& after,
                  std::uint64_t& pagesNow, std::uint64_t& pagesAfter, std::string& reason);

}  // namespace mdb::batch
