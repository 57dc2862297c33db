// The procedure applied to one queued record of a compaction run: back the site's
// database up, compact a working copy of it, and put the compacted file in place of
// the original, recording the outcome in the file-info store.
//
// Guarantees:
//  - the site file is replaced only by a complete, verified, compacted file, and only
//    after its backup copy has reached the disk under its final name (a backup is
//    written under a temporary name and renamed when complete, so a partial backup
//    never carries a backup's name); the backup keeps the original's owner, group,
//    mode and modification time;
//  - a file the engine refuses from its header (a password, not a Jet 3/4 file) is
//    neither backed up nor copied;
//  - the replacement is atomic, so a crash or a full disk leaves either the original or
//    the complete compacted file: a temporary file in the site file's own directory gets
//    the compacted bytes and the original's owner and mode, is flushed, and its name is
//    exchanged with the site file's;
//  - a write to the site file is never lost. Writers are looked for with
//    platform::WritersOf (any process holding the file open for writing or mapped
//    writable) and changes by the file's size and modification time. A file with a writer
//    is refused before it is copied, and checked again just before the exchange. After
//    the exchange the original, now under the temporary name, is checked once more: a
//    writer that opened the site file at any moment up to the exchange and still holds
//    it, or that has changed it, makes the procedure exchange the names back, so the
//    site file is as the writer leaves it; only then is the original removed. A process
//    that opens the site's name after the exchange opens the compacted file. What cannot
//    be seen: a process that reaches the original through its temporary name after the
//    last check. Where this process can neither take a lease on the file nor see every
//    process's descriptors (not the file's owner, not root), a writer would be invisible:
//    such a file is refused (kReasonWritersUnseen). Where the file system cannot exchange
//    names, the checks are repeated just before a plain rename; a writer that opens in
//    the few microseconds between those checks and the rename is not seen;
//  - a site path that is, or passes through, a symbolic link, or names anything but a
//    regular file, is skipped (a link with its reason in the record); a file with more
//    than one name (hard links) is refused, since a replacement would give only this
//    name the compacted file and leave the others on the old one (kReasonHardLinks);
//    files are opened without following links, so nothing outside the site tree is
//    ever written;
//  - temporary names are unique across processes (created exclusively), and what a
//    crash leaves of them is removed by RemoveBatchLeftovers (batch_leftovers.h);
//  - nothing inside the backup area is ever compacted.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "batch/compact_mdb_file.h"
#include "batch/stored_path.h"
#include "common/filestore.h"
#include "platform/text_mark.h"

namespace mdb::batch {

// Points of the procedure, in order, reported to ReplaceEnvironment::checkpoint.
enum class ReplaceStep {
    PathAccepted,       // the stored path decoded to an acceptable regular file
    BackupStaged,       // the backup copy is complete and flushed under a temporary name
    BackupWritten,      // the backup copy has its final name
    WorkingCopyMade,    // the working copy ("old" copy) exists
    Compacted,          // the compacted ("new") copy exists and has been verified
    SizeRecorded,       // filesize2 holds the compacted size
    StagingCreated,     // an empty temporary file beside the site file
    ReplacementStaged,  // the compacted bytes are flushed in that file, owner and mode set
    LastCheckPassed,    // the site file was found unchanged and not open for writing
    Exchanged,          // the site name holds the compacted file, the temporary name the original
    OriginalRemoved,    // the original is gone (the directory is not yet flushed)
    Replaced,           // the site file is the compacted file, on the disk
    Recorded,           // the record says compacted
};

// How the procedure ended for one file.
enum class ReplaceOutcome {
    Replaced,       // the site file is the compacted file
    Refused,        // not compacted; the reason is stored in the record (one of the
                    // procedure's own below, or the compactor's)
    ReplaceFailed,  // compacted, but the result could not be put in place
                    // (kSkipReplaceFailed, not stored); the site file is untouched
    Skipped,        // passed over without a word in the record (kSkip...)
};

// What became of one file.
struct ReplaceResult {
    ReplaceOutcome outcome = ReplaceOutcome::Skipped;
    std::filesystem::path path;    // the site file (empty when the stored text is malformed)
    std::uint64_t sizeBefore = 0;  // when it was opened
    std::uint64_t sizeAfter = 0;   // the compacted size (0 when not compacted)
    std::string reason;  // why not (the stored reason, or why it was skipped)
    // Replaced, with something to say: the compactor's note of a repair (stored as the
    // record's reason) and kNoteAsideLeft.
    std::string note;
    // A statement of the record failed every attempt (the store stayed locked): the
    // record does not say what became of the file.
    bool recordNotWritten = false;

    bool Replaced() const { return outcome == ReplaceOutcome::Replaced; }
};

struct ReplaceEnvironment {
    // Root of the backup area; its "temp" folder holds the working copies. Files below
    // the root are never compacted.
    std::filesystem::path backupRoot;
    // The file-info store to record outcomes in; when null, openStore opens one for
    // each statement (null when it cannot be opened).
    FileInfoDb* store = nullptr;
    std::function<std::unique_ptr<FileInfoDb>()> openStore;
    // The compactor (CompactDatabaseFile unless a test replaces it).
    CompactFn compact;
    // Called as each point is reached (tests use it to stop the process there).
    std::function<void(ReplaceStep)> checkpoint;
    // Exchange the names of the compacted and the site file; false only where tests
    // take the path of file systems that cannot.
    bool exchangeNames = true;
    // The folder of this program directory's working folders (WorkRootFor,
    // work_folder.h); empty: the
    // backup area's temp folder itself.
    std::filesystem::path workRoot;
};

// True when `path` lies inside the backup area `backupRoot` (both absolute, compared
// level by level): nothing there is ever compacted.
bool InBackupArea(const std::filesystem::path& path, const std::filesystem::path& backupRoot);

// True when `name` is one the batch gives its temporary files (".NAME.mdbwarden-XXXXXXXXXXXX.tmp").
bool IsBatchTempName(const std::string& name);

// Texts of the reasons the procedure itself gives (after "未压缩，原因："), stored as
// they are; TrWithDetail (common/i18n.h) shows them translated.
inline constexpr char kReasonBeingWritten[] = MDB_TEXT("文件正被其他程序写入");
inline constexpr char kReasonModified[] = MDB_TEXT("文件在压缩期间被修改");
inline constexpr char kReasonWritersUnseen[] =
    MDB_TEXT("无法确认是否有其他程序正在写入（本程序既不是文件的所有者也不是 root），为安全起见未处理");
inline constexpr char kReasonHardLinks[] =
    MDB_TEXT("文件有多个硬链接，替换后其他链接仍指向旧文件，为安全起见未处理");
inline constexpr char kReasonSymbolicLink[] = MDB_TEXT("路径中有符号链接，为安全起见未处理");

// Treats the recorded file `file`: its backup goes below `runDir` (the run's backup
// directory; empty: none can be made, the file is skipped), the outcome into its record.
ReplaceResult CompactRecordedFile(const RecordedFile& file, const std::filesystem::path& runDir,
                                  const ReplaceEnvironment& env);

// CompactRecordedFile for the record whose stored `filepath` text is `storedPath`, with
// the run's backup directory as a long path `backupRunDir`, told through three outputs:
// `reason` receives the text stored in the record when one
// is (the compactor's, or one of the reasons above), `successCount` goes up by one when
// the site file was replaced, and `result`, when given, receives what became of the file.
void BackupCompactReplace(const std::string& storedPath, const std::u16string& backupRunDir,
                          std::string& reason, unsigned& successCount,
                          const ReplaceEnvironment& env, ReplaceResult* result = nullptr);

// Texts of the skips, for ReplaceResult::reason (they are not stored in the record; a
// path through a symbolic link is refused with kReasonSymbolicLink instead, stored).
inline constexpr char kSkipNotAFile[] = MDB_TEXT("跳过：文件不存在、不是普通文件或路径中有符号链接");
inline constexpr char kSkipBackupArea[] = MDB_TEXT("跳过：文件位于备份目录中");
inline constexpr char kSkipBackupFailed[] = MDB_TEXT("跳过：无法写入备份");
inline constexpr char kSkipWorkingCopy[] = MDB_TEXT("跳过：无法建立工作副本");
inline constexpr char kSkipReplaceFailed[] = MDB_TEXT("未压缩：无法替换原文件，原文件未改动");
// After a replacement: the original, put aside, could not be removed (followed by its path).
inline constexpr char kNoteAsideLeft[] = MDB_TEXT("已压缩，但未能删除旧文件：");

}  // namespace mdb::batch
