// What a killed batch leaves behind, and its removal at the start of the next one.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "batch/stored_path.h"

namespace mdb::batch {

// Removes what an interrupted run left behind (the process was killed): temporary files
// of this program beside the site files of `files` and working folders in the
// backup area's temp folder and in `workRoot`. Only names this program makes are removed,
// only when they belong to this process's user (or, beside a site file, to that file's
// owner), never through a symbolic link, and never a working folder whose lock shows its
// process alive (another program directory's batch sharing the backup root). An original
// that was put aside while its site name is empty (the run ended between the two renames
// of a replacement) is given its name back. Called at the start of each batch.
void RemoveBatchLeftovers(const std::vector<RecordedFile>& files,
                          const std::filesystem::path& backupRoot,
                          const std::filesystem::path& workRoot = {});

}  // namespace mdb::batch
