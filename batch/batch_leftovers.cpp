#include "batch/batch_leftovers.h"

#include <optional>
#include <set>

#include "batch/backup_compact_replace.h"
#include "batch/work_folder.h"
#include "common/own_files.h"
#include "platform/arguments.h"
#include "platform/files.h"
#include "platform/safe_files.h"

namespace mdb::batch {
namespace fs = std::filesystem;
using platform::FileHandle;
using platform::FileStatus;

namespace {

// Temporary copies and originals put aside in a site file's folder.
void RemoveSiteLeftovers(const fs::path& directory) {
    FileHandle dir = platform::OpenDirectoryNoLinks(directory);
    std::vector<platform::DirectoryEntry> entries;
    if (!platform::ListDirectory(dir, entries)) return;
    const std::uint32_t me = platform::CurrentUser();
    for (const auto& entry : entries) {
        if (entry.link || !entry.status.regular) continue;
        const std::optional<std::string> staged = StagingFileTarget(entry.name);
        const std::optional<std::string> aside = AsideFileTarget(entry.name);
        if (!staged && !aside) continue;
        // Made by this user, or given the owner of the file it stands beside.
        FileStatus site;
        const bool siteThere = platform::StatusAt(dir, staged ? *staged : *aside, site);
        if (entry.status.owner != me && !(siteThere && entry.status.owner == site.owner))
            continue;
        // An original put aside is the site's database when its name is empty (the run
        // ended between the two renames): it goes back. Else it is the old copy of a
        // file compacted since, which the run's backup holds.
        if (aside && !siteThere)
            platform::RenameNoReplace(dir, entry.name, *aside);
        else
            platform::RemoveFile(dir, entry.name);
    }
}

// Working folders of dead processes in `tempDir`.
void RemoveWorkLeftovers(const fs::path& tempDir) {
    FileHandle temp = platform::OpenDirectoryNoLinks(tempDir);
    std::vector<platform::DirectoryEntry> folders;
    if (!platform::ListDirectory(temp, folders)) return;
    const std::uint32_t me = platform::CurrentUser();
    for (const auto& folder : folders) {
        if (folder.link || !folder.status.directory || folder.status.owner != me) continue;
        if (!IsWorkFolderName(folder.name)) continue;
        // A folder made by an older version has no lock: the probe makes one, removed below.
        if (WorkFolderAlive(tempDir / platform::PathFromUtf8(folder.name))) continue;
        FileHandle work = platform::OpenSubdirectory(temp, folder.name);
        std::vector<platform::DirectoryEntry> files;
        if (!platform::ListDirectory(work, files)) continue;
        for (const auto& file : files)
            if (!file.link && file.status.regular && file.status.owner == me &&
                (IsWorkFileName(file.name) || file.name == kWorkLock))
                platform::RemoveFile(work, file.name);
        platform::RemoveDirectory(temp, folder.name);  // fails when anything else is inside
    }
}

}  // namespace

void RemoveBatchLeftovers(const std::vector<RecordedFile>& files, const fs::path& backupRoot,
                          const fs::path& workRoot) {
    std::set<fs::path> directories;
    for (const RecordedFile& file : files) {
        if (file.path && !InBackupArea(*file.path, backupRoot))
            directories.insert(file.path->parent_path());
    }
    for (const auto& directory : directories) RemoveSiteLeftovers(directory);
    RemoveWorkLeftovers(backupRoot / "temp");
    if (!workRoot.empty()) RemoveWorkLeftovers(workRoot);
}

}  // namespace mdb::batch
