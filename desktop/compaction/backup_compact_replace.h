// The procedure applied to one queued record of a compaction run: back the site's
// database up, compact a working copy of it, and put the compacted file in place of
// the original, recording the outcome in the file-info store.
//
// Guarantees:
//  - the site file is replaced only by a complete, verified, compacted file, and only
//    after its backup copy has reached the disk;
//  - the replacement is atomic (a temporary file in the site file's own directory,
//    with the original's owner and mode, flushed and renamed over the original), so a
//    crash or a full disk leaves either the original or the compacted file;
//  - a site path that is, or passes through, a symbolic link, or names anything but a
//    regular file, is skipped; files are opened without following links, so nothing
//    outside the site tree is ever written;
//  - temporary names are unique across processes (created exclusively);
//  - nothing inside the backup area is ever compacted.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "common/filestore.h"

namespace mdb::desktop {

// Points of the procedure, in order, reported to ReplaceEnvironment::checkpoint.
enum class ReplaceStep {
    PathAccepted,       // the stored path decoded to an acceptable regular file
    BackupWritten,      // the backup copy is complete and flushed
    WorkingCopyMade,    // the working copy ("old" copy) exists
    Compacted,          // the compacted ("new") copy exists and has been verified
    SizeRecorded,       // filesize2 holds the compacted size
    ReplacementStaged,  // the compacted bytes are flushed in a temporary file beside the site file
    Replaced,           // the site file is the compacted file
    Recorded,           // the record says compacted
};

struct ReplaceEnvironment {
    // Root of the backup area; its "temp" folder holds the working copies. Files below
    // the root are never compacted.
    std::filesystem::path backupRoot;
    // The file-info store to record outcomes in; when null, openStore opens one for
    // each statement (null when it cannot be opened).
    FileInfoDb* store = nullptr;
    std::function<std::unique_ptr<FileInfoDb>()> openStore;
    // The compactor (CompactMdbFile unless a test replaces it).
    std::function<int(std::u16string, std::u16string, std::string&)> compact;
    // Called as each point is reached (tests use it to stop the process there).
    std::function<void(ReplaceStep)> checkpoint;
};

// Treats the record whose stored `filepath` text is `storedPath`. `backupRunDir` is the
// run's backup directory (a long path). `reason` receives the compactor's failure text;
// `successCount` goes up by one when the site file was replaced.
void BackupCompactReplace(const std::string& storedPath, const std::u16string& backupRunDir,
                          std::string& reason, unsigned& successCount,
                          const ReplaceEnvironment& env);

}  // namespace mdb::desktop
