#pragma once
// The file-info store config/FileInfo.dat (SQLite) and every statement run on its table
// `fileinfo`. Values are always bound as parameters, never formatted into statement text.
//
// A FileInfoDb is one open connection. The desktop program opens one per operation; the
// scanner may keep one for a whole run.

#include "common/reporter.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace mdb {

inline constexpr char kFileInfoDbName[] = "FileInfo.dat";
// How long a statement waits for another connection's lock before it fails: long enough for
// any ordinary writer (the desktop program's operations take milliseconds), short enough that
// a stuck holder is noticed.
inline constexpr int kStoreBusyTimeoutMs = 10000;
inline constexpr char kFileInfoTable[] = "fileinfo";

// Values of the column CompactDatabase.
inline constexpr char kStateFound[] = "0";
inline constexpr char kStateCompacted[] = "1";
inline constexpr char kStateQueued[] = "2";

// One row of `fileinfo`. `id` is assigned by the store on insert (increasing).
struct FileInfoRecord {
    std::int64_t id = 0;
    std::string fid = "1";
    std::string regdate;     // "%Y-%m-%d"
    std::string filenameid;  // row key
    std::string filename;    // Base64 of the UTF-16LE name
    std::string filepath;    // Base64 of the UTF-16LE full path
    std::uint64_t filesize = 0;
    std::uint64_t filesize2 = 0;
    std::string compactDatabase = kStateFound;
    std::string filechkval;
    std::string fileinfo;  // reason text of a failed compaction
};

// The row the scanner writes for a database file it finds (found, not yet queued):
// `path` and `name` are the file's long path and name, `size` the bytes read, and
// `sequence` numbers the rows of one run, so that keys made in the same second stay
// distinct. An empty name is recorded as the scanner's name-read error text.
FileInfoRecord FoundFileRecord(const std::u16string& path, const std::u16string& name,
                               std::uint64_t size, std::uint32_t sequence);

// Why the store at `path` failed with SQLite result `errorCode`, in words for the user (one
// line, without a line break).
// `waitedSeconds`: how long the caller waited for a lock in all (several statements
// each wait up to kStoreBusyTimeoutMs); when not given, one such wait.
std::string DescribeStoreFailure(int errorCode, const std::string& path, int waitedSeconds = -1);

// 1 and config directory + "FileInfo.dat", or 0 (with the path empty) after EnsureConfigDir
// has shown its message.
int GetFileInfoDbPath(MessageReporter& reporter, std::string& path);

class FileInfoDb {
  public:
    // Opens (creating the file and the table when missing) the store at `path`; null on failure,
    // with SQLite's result code in `errorCode` when given.
    static std::unique_ptr<FileInfoDb> Open(const std::string& path, int* errorCode = nullptr);
    // Opens the store of this program directory; null after a message or on failure.
    static std::unique_ptr<FileInfoDb> OpenDefault(MessageReporter& reporter);

    ~FileInfoDb();
    FileInfoDb(const FileInfoDb&) = delete;
    FileInfoDb& operator=(const FileInfoDb&) = delete;

    // One statement that returns no rows; 1 on success, 0 on any failure.
    int ExecuteSql(std::string_view sql);
    // All statements in one transaction (each trimmed; empty ones skipped); 1 when all ran and
    // were committed, otherwise 0 and none of them has any effect.
    int ExecuteSqlList(const std::vector<std::string>& statements);
    // Values of `resultColumn` of the rows whose `keyColumn` equals `keyValue`, at most
    // `maxCount` rows looked at with a value or null: 1 when at least one value was collected,
    // 2 when none was, 0 on failure (unknown table or column included). Values are trimmed;
    // empty values are skipped without counting, null values count and add nothing.
    int ReadColumnWhere(std::string_view table, std::string_view keyColumn,
                        std::string_view keyValue, std::string_view resultColumn, size_t maxCount,
                        std::vector<std::string>& values);

    // Explicit transaction around a group of operations (the scanner commits every 10 rows).
    int Begin();
    int Commit();
    void Rollback();

    // How long a statement waits for another connection's lock (kStoreBusyTimeoutMs after Open).
    void SetBusyTimeout(int ms);
    int BusyTimeout() const { return busyTimeoutMs_; }
    // SQLite's result code of the last failed Begin, Commit, insert or purge (0: none yet).
    int LastErrorCode() const { return lastError_; }
    // The file this connection has open.
    std::string Path() const;

    // Rows dated `date` ("%Y-%m-%d"), and rows dated before `date`.
    int PurgeDate(const std::string& date);
    int PurgeOlderThan(const std::string& date);
    // Inserts the ten written columns of `record`.
    int InsertRecord(const FileInfoRecord& record);
    // Inserts `records` as they are, in one transaction: their ids too (an id of 0 is
    // assigned), as when another store's rows are taken over. 1 when all were inserted.
    int ImportRecords(const std::vector<FileInfoRecord>& records);
    // `filepath` of the newest row (highest id) with this filenameid: 1 found, 2 none, 0 error.
    int LookupFilepath(const std::string& filenameid, std::string& filepath);
    int DeleteAll();
    // Queued rows back to "0"; a compacted row keeps its result (its sizes and its
    // saving stay true of its file).
    int ClearMarks();
    // Marks the rows with these filenameids queued ("2", filesize2 0), in one transaction.
    int QueueSelected(const std::vector<std::string>& filenameids);
    int QueueAll();
    // `filepath` texts of the queued rows (at most `maxCount`), as ReadColumnWhere.
    int CollectQueuedFilepaths(size_t maxCount, std::vector<std::string>& filepaths);
    int SetReason(const std::string& filepath, const std::string& reason);
    // The size before compaction, as the run found the file (the row then shows this
    // run's sizes side by side).
    int SetFilesize(const std::string& filepath, std::uint64_t size);
    int SetFilesize2(const std::string& filepath, std::uint64_t size);
    int SetCompacted(const std::string& filepath);
    // Removes every row of `filepath` (a database that no longer exists); 1 on success.
    int ForgetFilepath(const std::string& filepath);

    // Every row, by id (tests and tools).
    int SelectAll(std::vector<FileInfoRecord>& rows);

  private:
    explicit FileInfoDb(sqlite3* db) : db_(db) {}
    sqlite3_stmt* Prepare(std::string_view sql);
    int RunBound(std::string_view sql, const std::vector<std::string>& texts);
    int SelectRows(const std::string& sql, std::vector<FileInfoRecord>& rows);
    // Remembers the connection's error code when `ok` is false; returns 1 or 0.
    int Result(bool ok);

    sqlite3* db_;
    int busyTimeoutMs_ = kStoreBusyTimeoutMs;
    int lastError_ = 0;
    sqlite3_stmt* insert_ = nullptr;  // kept prepared for repeated inserts
};

}  // namespace mdb
