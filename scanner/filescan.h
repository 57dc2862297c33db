#pragma once
// One scan run: read the directory list, walk every listed directory and record every Jet
// database found in the file-info store.

#include "common/filestore.h"

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
// Longest time a row stays uncommitted while the walk goes on (keeps the store's write lock
// short for the desktop program).
inline constexpr std::uint32_t kBatchWindowMs = 1000;

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

    // The whole run; 1 if the last listed directory could be walked, 0 otherwise.
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
    // Content test, row building and insert; 1 if a row was submitted.
    int InsertFileRecord(const std::string& fullPath, const std::string& name, std::uint64_t size);

    const std::vector<std::string>& DirectoryList() const { return dirList_; }
    const std::array<ScanDirEntry, kScanTableSlots>& ScanTable() const { return table_; }
    std::uint32_t FilesSeen() const { return filesSeen_; }
    std::uint32_t DatabaseFiles() const { return databaseFiles_; }
    std::uint32_t RowSequence() const { return rowSequence_; }

  private:
    void Print(std::string_view text) { console_(text); }
    void SignalDesktop();
    // Commits the rows inserted since the last commit.
    void CommitPending();
    // Commits when the oldest uncommitted row has waited longer than the batch window.
    void CommitIfStale();

    std::string programDir_;
    FileInfoDb* db_;
    ConsoleSink console_;
    std::vector<std::string> dirList_;
    std::array<ScanDirEntry, kScanTableSlots> table_;
    std::uint32_t filesSeen_ = 0;
    std::uint32_t databaseFiles_ = 0;
    std::uint32_t rowSequence_ = 0;
    std::uint32_t rowsSinceSignal_ = 0;
    std::uint32_t pendingRows_ = 0;     // inserted but not yet committed
    std::uint32_t batchStartTick_ = 0;  // tick count of the first pending row
    std::string lineBuffer_;
};

}  // namespace mdb::scanner
