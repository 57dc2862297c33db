#pragma once
// One scan run: read the directory list, walk every listed directory and record every Jet
// database found in the file-info store.

#include "common/filestore.h"
#include "common/i18n.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace mdb::scanner {

inline constexpr size_t kScanTableSlots = 999;
inline constexpr size_t kMaxSlotUnits = 259;
inline constexpr std::uint64_t kMinDatabaseSize = 61440;  // files of this size or less are skipped
inline constexpr size_t kMaxRecordPathUnits = 24576;      // longest path the record encoding holds
inline constexpr size_t kMaxWalkPathUnits = 32767;
inline constexpr unsigned kRowsPerSignal = 10;
// Longest time a row stays unwritten while the walk goes on (the desktop program shows rows
// soon after they are found).
inline constexpr std::uint32_t kBatchWindowMs = 1000;
// Attempts, each with the store's own busy wait, to write the rows still unwritten at the end
// of a run: a store locked by another program for up to about half a minute is waited out.
inline constexpr int kFinalWriteAttempts = 3;
// Result of a run in which found databases could not be recorded in the store.
inline constexpr int kResultRowsNotRecorded = 2;

struct ScanDirEntry {
    bool inUse = false;
    std::string path;  // 1 to 259 UTF-16 units
};

// Where a run writes its console text.
using ConsoleSink = std::function<void(std::string_view)>;

class FileScanner {
  public:
    // `programDir` ends with a separator; `db` may be null (then nothing is inserted).
    FileScanner(std::string programDir, FileInfoDb* db, ConsoleSink console);

    // The whole run; 1 if the last listed directory could be walked, 0 otherwise;
    // kResultRowsNotRecorded when a database found could not be recorded.
    int RunFileScan();

    // Reads config/ScanDir.txt into the directory list; 1 when read to its end.
    int qorReadTxtFileLine();
    // Reads the list and fills the scan table from it; 1.
    int LoadScanDirTable();
    // Walks one directory and everything below it (never through symbolic links); 1 if the
    // directory could be listed, 0 if the path is malformed or cannot be listed.
    int ScanDirectory(const std::string& path);
    // The per-file gate before the content test.
    int ProcessFoundFile(const std::string& directory, const std::string& name,
                         const std::string& fullPath, std::uint64_t size);
    // Content test, row building and insert; 1 if a row was submitted. The row carries the
    // size of the file when it was read, which `size` (seen in the listing) may no longer be.
    int InsertFileRecord(const std::string& fullPath, const std::string& name, std::uint64_t size);

    // Where the run's problems go instead of the console (quiet runs: standard error).
    void SetNoticeSink(ConsoleSink notices) { notices_ = std::move(notices); }

    const std::vector<std::string>& DirectoryList() const { return dirList_; }
    // Listed directories walked, and those of them that could not be.
    std::uint32_t DirectoriesScanned() const { return dirsScanned_; }
    std::uint32_t DirectoriesFailed() const { return dirsFailed_; }
    const std::array<ScanDirEntry, kScanTableSlots>& ScanTable() const { return table_; }
    std::uint32_t FilesSeen() const { return filesSeen_; }
    std::uint32_t DatabaseFiles() const { return databaseFiles_; }
    std::uint32_t RowSequence() const { return rowSequence_; }
    // Databases found whose rows could not be written to the store (counted at the end).
    std::uint32_t NotRecorded() const { return notRecorded_; }

  private:
    void Print(std::string_view text) { console_(text); }
    // A line on the console and the same line in the run log.
    void Notice(const std::string& text);
    // Writes `refscanlog`; at the end of the run (`final`) also after an earlier failure.
    void SignalDesktop(bool final);
    // Writes the rows found since the last write in one transaction. After a failure the rows
    // stay pending; until the store can be written again, tries during the walk do not wait
    // for its lock (the walk goes on), the end of the run tries kFinalWriteAttempts times with
    // the store's busy wait. True when nothing is left pending.
    bool WritePending(bool final);
    bool TryWritePending();
    // Writes when the oldest pending row has waited longer than the batch window.
    void WriteIfStale();
    // Says why `path` could not be used; `what` is the line with two "%s", for the path
    // and the reason ("无法打开目录 %s：%s", ...), as a catalog key.
    void ReportUnusable(const char* what, const std::string& path, int error);

    std::string programDir_;
    FileInfoDb* db_;
    ConsoleSink console_;
    ConsoleSink notices_;
    std::vector<std::string> dirList_;
    std::uint32_t dirsScanned_ = 0;
    std::uint32_t dirsFailed_ = 0;
    std::array<ScanDirEntry, kScanTableSlots> table_;
    std::uint32_t filesSeen_ = 0;
    std::uint32_t databaseFiles_ = 0;
    std::uint32_t rowSequence_ = 0;
    std::uint32_t rowsSinceSignal_ = 0;
    std::vector<FileInfoRecord> pending_;  // found, not yet written to the store
    std::uint32_t batchStartTick_ = 0;     // tick count of the first pending row
    bool storeFailing_ = false;            // the last write attempt failed
    std::uint32_t notRecorded_ = 0;
    bool signalFailed_ = false;
    std::vector<std::string> listNotices_;   // what reading the list left out, and why
    std::vector<std::string> tableNotices_;  // listed entries the scan table leaves out
    // The line of each file met, translated once: "扫描文件 <n> - <name>，长度 <size> 字节 ...".
    const std::string fileLine_ = "\r\n" + Tr("扫描文件 %s - %s，长度 %s 字节 ...");
};

}  // namespace mdb::scanner
