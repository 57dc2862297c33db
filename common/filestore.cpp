#include "common/filestore.h"

#include "common/base64.h"
#include "common/checkvalue.h"
#include "common/i18n.h"
#include "common/paths.h"
#include "common/text.h"
#include "common/utf16.h"
#include "platform/arguments.h"
#include "platform/clock.h"
#include "platform/paths.h"

#include <sqlite3.h>

#include <algorithm>
#include <cassert>
#include <cctype>
#include <filesystem>

namespace mdb {

namespace {

constexpr std::array<const char*, 11> kColumns = {
    "fid",       "regdate",         "filenameid", "filename", "filepath", "filesize",
    "filesize2", "CompactDatabase", "filechkval", "fileinfo", "id"};

constexpr char kSelectColumns[] =
    "SELECT fid, regdate, filenameid, filename, filepath, filesize, filesize2, CompactDatabase, "
    "filechkval, fileinfo, id FROM fileinfo";

constexpr char kSchema[] =
    "CREATE TABLE IF NOT EXISTS fileinfo ("
    " fid TEXT,"
    " regdate TEXT,"
    " filenameid TEXT,"
    " filename TEXT,"
    " filepath TEXT,"
    " filesize INTEGER,"
    " filesize2 INTEGER,"
    " CompactDatabase TEXT,"
    " filechkval TEXT,"
    " fileinfo TEXT,"
    " id INTEGER PRIMARY KEY AUTOINCREMENT);"
    "CREATE INDEX IF NOT EXISTS fileinfo_regdate ON fileinfo(regdate);"
    "CREATE INDEX IF NOT EXISTS fileinfo_filenameid ON fileinfo(filenameid);"
    "CREATE INDEX IF NOT EXISTS fileinfo_filepath ON fileinfo(filepath);";

constexpr size_t kMaxValue = 104857600;

// Releases a prepared statement at the end of a scope.
struct Statement {
    sqlite3_stmt* stmt;
    ~Statement() { sqlite3_finalize(stmt); }
};

std::string ColumnText(sqlite3_stmt* stmt, int index) {
    const unsigned char* text = sqlite3_column_text(stmt, index);
    if (text == nullptr) return {};
    return std::string(reinterpret_cast<const char*>(text),
                       static_cast<size_t>(sqlite3_column_bytes(stmt, index)));
}

std::uint64_t ColumnSize(sqlite3_stmt* stmt, int index) {
    return static_cast<std::uint64_t>(sqlite3_column_int64(stmt, index));
}

bool BindText(sqlite3_stmt* stmt, int index, std::string_view text) {
    return sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()),
                             SQLITE_TRANSIENT) == SQLITE_OK;
}

// The known spelling of a column name given in any case, or nothing.
const char* KnownColumn(std::string_view name) {
    for (const char* column : kColumns) {
        const std::string_view c(column);
        if (c.size() == name.size() &&
            std::equal(c.begin(), c.end(), name.begin(), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) ==
                       std::tolower(static_cast<unsigned char>(b));
            }))
            return column;
    }
    return nullptr;
}

bool IsOnlyBlankOrSemicolons(std::string_view text) {
    for (char c : text)
        if (!std::isspace(static_cast<unsigned char>(c)) && c != ';') return false;
    return true;
}

}  // namespace

int GetFileInfoDbPath(MessageReporter& reporter, std::string& path) {
    path.clear();
    std::string configDir;
    if (EnsureConfigDir(reporter, configDir) != 1) return 0;
    path = CollapseSeparators(configDir + platform::kSeparator + kFileInfoDbName);
    return 1;
}

FileInfoRecord FoundFileRecord(const std::u16string& path, const std::u16string& name,
                               std::uint64_t size, std::uint32_t sequence) {
    // The scanner's texts: its key for the check value, its mark for an unreadable name.
    static constexpr char kCheckKey[] = "mdbscout";
    static constexpr char kNameReadError[] = "（读取文件名时发生错误！）";
    FileInfoRecord record;
    record.fid = "1";
    record.filename =
        name.empty() ? std::string(kNameReadError) : Base64EncodeText(Utf16LeBytes(name));
    record.filepath = Base64EncodeText(Utf16LeBytes(path));
    record.filenameid = std::to_string(sequence) + "_" +
                        platform::FormatLocalNow("%Y%m%d%H%M%S") + "_" +
                        std::to_string(platform::TickCount());
    record.regdate = platform::FormatLocalNow("%Y-%m-%d");
    if (MakeCheckValue(record.filepath, kCheckKey, record.filechkval) != 1)
        record.filechkval.clear();
    record.filesize = size;
    record.filesize2 = 0;
    record.compactDatabase = kStateFound;
    record.fileinfo.clear();
    return record;
}

std::string DescribeStoreFailure(int errorCode, const std::string& path, int waitedSeconds) {
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(platform::PathFromUtf8(path), ec);
    const std::string name = SanitizeUtf8(path);
    if (!ec && std::filesystem::is_directory(status))
        return TrFormat("“%s”是一个目录，不是数据库文件", {name});
    if (!ec && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
        return TrFormat("“%s”不是普通文件，无法作为数据库使用", {name});
    switch (errorCode & 0xff) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return TrFormat("数据库被其他程序锁定，等待 %s 秒后仍未释放",
                            {std::to_string(waitedSeconds >= 0 ? waitedSeconds
                                                               : kStoreBusyTimeoutMs / 1000)});
        case SQLITE_READONLY:
            return TrFormat("数据库文件“%s”是只读的，无法写入", {name});
        case SQLITE_NOTADB:
            return TrFormat("“%s”不是数据库文件（内容已损坏或被其他文件替换）", {name});
        case SQLITE_CORRUPT:
            return TrFormat("数据库文件“%s”已损坏", {name});
        case SQLITE_FULL:
            return TrFormat("磁盘空间不足，无法写入数据库文件“%s”", {name});
        case SQLITE_PERM:
        case SQLITE_AUTH:
            return TrFormat("没有访问数据库文件“%s”的权限", {name});
        case SQLITE_CANTOPEN:
            return TrFormat("无法打开数据库文件“%s”（目录不可访问或没有权限）", {name});
        default:
            return TrFormat("访问数据库文件“%s”失败（%s）", {name, sqlite3_errstr(errorCode)});
    }
}

std::unique_ptr<FileInfoDb> FileInfoDb::Open(const std::string& path, int* errorCode) {
    sqlite3* db = nullptr;
    const int rc =
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
        if (errorCode != nullptr) *errorCode = db != nullptr ? sqlite3_extended_errcode(db) : rc;
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, kStoreBusyTimeoutMs);
    // WAL lets the desktop program read while the scanner writes.
    sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr, nullptr,
                 nullptr);
    if (sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK) {
        if (errorCode != nullptr) *errorCode = sqlite3_extended_errcode(db);
        sqlite3_close(db);
        return nullptr;
    }
    if (errorCode != nullptr) *errorCode = SQLITE_OK;
    return std::unique_ptr<FileInfoDb>(new FileInfoDb(db));
}

std::unique_ptr<FileInfoDb> FileInfoDb::OpenDefault(MessageReporter& reporter) {
    std::string path;
    if (GetFileInfoDbPath(reporter, path) != 1) return nullptr;
    return Open(path);
}

std::string FileInfoDb::Path() const {
    const char* path = sqlite3_db_filename(db_, "main");
    return path != nullptr ? path : "";
}

void FileInfoDb::SetBusyTimeout(int ms) {
    busyTimeoutMs_ = ms;
    sqlite3_busy_timeout(db_, ms);
}

int FileInfoDb::Result(bool ok) {
    if (!ok) lastError_ = sqlite3_extended_errcode(db_);
    return ok ? 1 : 0;
}

FileInfoDb::~FileInfoDb() {
    sqlite3_finalize(insert_);
    if (!sqlite3_get_autocommit(db_)) Rollback();
    sqlite3_close(db_);
}

sqlite3_stmt* FileInfoDb::Prepare(std::string_view sql) {
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt, &tail) !=
        SQLITE_OK) {
        lastError_ = sqlite3_extended_errcode(db_);
        sqlite3_finalize(stmt);
        return nullptr;
    }
    // One statement per call; a second one in the text is refused, not silently dropped.
    const std::string_view rest =
        tail == nullptr ? std::string_view() : sql.substr(static_cast<size_t>(tail - sql.data()));
    if (stmt == nullptr || !IsOnlyBlankOrSemicolons(rest)) {
        sqlite3_finalize(stmt);
        return nullptr;
    }
    return stmt;
}

int FileInfoDb::ExecuteSql(std::string_view sql) {
    Statement s{Prepare(sql)};
    if (s.stmt == nullptr) return 0;
    int rc;
    while ((rc = sqlite3_step(s.stmt)) == SQLITE_ROW) {
    }
    return rc == SQLITE_DONE ? 1 : 0;
}

int FileInfoDb::Begin() {
    return Result(sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK);
}

int FileInfoDb::Commit() {
    if (Result(sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK) == 1) return 1;
    Rollback();
    return 0;
}

void FileInfoDb::Rollback() {
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

int FileInfoDb::ExecuteSqlList(const std::vector<std::string>& statements) {
    if (Begin() != 1) return 0;
    for (const std::string& statement : statements) {
        const std::string_view sql = TrimView(statement);
        if (sql.empty() || sql.size() >= kMaxValue) continue;
        if (ExecuteSql(sql) != 1) {
            Rollback();
            return 0;
        }
    }
    return Commit();
}

int FileInfoDb::ReadColumnWhere(std::string_view table, std::string_view keyColumn,
                                std::string_view keyValue, std::string_view resultColumn,
                                size_t maxCount, std::vector<std::string>& values) {
    values.clear();
    const char* key = KnownColumn(keyColumn);
    const char* result = KnownColumn(resultColumn);
    if (table != kFileInfoTable || key == nullptr || result == nullptr) return 0;
    const std::string sql = std::string("SELECT \"") + result + "\" FROM fileinfo WHERE \"" + key +
                            "\" = ?1 ORDER BY id";
    Statement s{Prepare(sql)};
    if (s.stmt == nullptr || !BindText(s.stmt, 1, keyValue)) return 0;
    int code = 2;
    size_t count = 0;
    int rc = SQLITE_DONE;
    while (count < maxCount && (rc = sqlite3_step(s.stmt)) == SQLITE_ROW) {
        if (sqlite3_column_type(s.stmt, 0) == SQLITE_NULL) {
            ++count;
            continue;
        }
        std::string value = Trim(ColumnText(s.stmt, 0));
        if (value.empty() || value.size() >= kMaxValue) continue;
        values.push_back(std::move(value));
        code = 1;
        ++count;
    }
    if (count < maxCount && rc != SQLITE_DONE) {
        values.clear();
        return 0;
    }
    return code;
}

int FileInfoDb::RunBound(std::string_view sql, const std::vector<std::string>& texts) {
    Statement s{Prepare(sql)};
    if (s.stmt == nullptr) return 0;
    for (size_t i = 0; i < texts.size(); ++i)
        if (!BindText(s.stmt, static_cast<int>(i + 1), texts[i])) return 0;
    return Result(sqlite3_step(s.stmt) == SQLITE_DONE);
}

int FileInfoDb::PurgeDate(const std::string& date) {
    return RunBound("DELETE FROM fileinfo WHERE regdate = ?1", {date});
}

int FileInfoDb::PurgeOlderThan(const std::string& date) {
    return RunBound("DELETE FROM fileinfo WHERE regdate < ?1", {date});
}

int FileInfoDb::InsertRecord(const FileInfoRecord& r) {
    if (insert_ == nullptr) {
        insert_ = Prepare(
            "INSERT INTO fileinfo(fid, regdate, filenameid, filename, filepath, filesize, "
            "filesize2, CompactDatabase, filechkval, fileinfo) "
            "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)");
        if (insert_ == nullptr) return 0;
    }
    sqlite3_reset(insert_);
    sqlite3_clear_bindings(insert_);
    const bool bound =
        BindText(insert_, 1, r.fid) && BindText(insert_, 2, r.regdate) &&
        BindText(insert_, 3, r.filenameid) && BindText(insert_, 4, r.filename) &&
        BindText(insert_, 5, r.filepath) &&
        sqlite3_bind_int64(insert_, 6, static_cast<sqlite3_int64>(r.filesize)) == SQLITE_OK &&
        sqlite3_bind_int64(insert_, 7, static_cast<sqlite3_int64>(r.filesize2)) == SQLITE_OK &&
        BindText(insert_, 8, r.compactDatabase) && BindText(insert_, 9, r.filechkval) &&
        BindText(insert_, 10, r.fileinfo);
    if (!bound) return 0;
    const int rc = sqlite3_step(insert_);
    const int result = Result(rc == SQLITE_DONE);
    sqlite3_reset(insert_);
    return result;
}

int FileInfoDb::ImportRecords(const std::vector<FileInfoRecord>& records) {
    Statement s{Prepare(
        "INSERT INTO fileinfo(fid, regdate, filenameid, filename, filepath, filesize, "
        "filesize2, CompactDatabase, filechkval, fileinfo, id) "
        "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)")};
    if (s.stmt == nullptr || Begin() != 1) return 0;
    for (const FileInfoRecord& r : records) {
        sqlite3_reset(s.stmt);
        const bool bound =
            BindText(s.stmt, 1, r.fid) && BindText(s.stmt, 2, r.regdate) &&
            BindText(s.stmt, 3, r.filenameid) && BindText(s.stmt, 4, r.filename) &&
            BindText(s.stmt, 5, r.filepath) &&
            sqlite3_bind_int64(s.stmt, 6, static_cast<sqlite3_int64>(r.filesize)) == SQLITE_OK &&
            sqlite3_bind_int64(s.stmt, 7, static_cast<sqlite3_int64>(r.filesize2)) == SQLITE_OK &&
            BindText(s.stmt, 8, r.compactDatabase) && BindText(s.stmt, 9, r.filechkval) &&
            BindText(s.stmt, 10, r.fileinfo) &&
            (r.id > 0 ? sqlite3_bind_int64(s.stmt, 11, r.id) : sqlite3_bind_null(s.stmt, 11)) ==
                SQLITE_OK;
        if (!bound || Result(sqlite3_step(s.stmt) == SQLITE_DONE) != 1) {
            Rollback();
            return 0;
        }
    }
    return Commit();
}

int FileInfoDb::SelectRows(const std::string& sql, std::vector<FileInfoRecord>& rows) {
    rows.clear();
    Statement s{Prepare(sql)};
    if (s.stmt == nullptr) return 0;
    int rc;
    while ((rc = sqlite3_step(s.stmt)) == SQLITE_ROW) {
        FileInfoRecord r;
        r.fid = ColumnText(s.stmt, 0);
        r.regdate = ColumnText(s.stmt, 1);
        r.filenameid = ColumnText(s.stmt, 2);
        r.filename = ColumnText(s.stmt, 3);
        r.filepath = ColumnText(s.stmt, 4);
        r.filesize = ColumnSize(s.stmt, 5);
        r.filesize2 = ColumnSize(s.stmt, 6);
        r.compactDatabase = ColumnText(s.stmt, 7);
        r.filechkval = ColumnText(s.stmt, 8);
        r.fileinfo = ColumnText(s.stmt, 9);
        r.id = sqlite3_column_int64(s.stmt, 10);
        rows.push_back(std::move(r));
    }
    if (rc != SQLITE_DONE) {
        rows.clear();
        return 0;
    }
    return 1;
}

int FileInfoDb::SelectAll(std::vector<FileInfoRecord>& rows) {
    return SelectRows(std::string(kSelectColumns) + " ORDER BY id", rows);
}

int FileInfoDb::LookupFilepath(const std::string& filenameid, std::string& filepath) {
    filepath.clear();
    Statement s{Prepare("SELECT filepath FROM fileinfo WHERE filenameid = ?1 ORDER BY id DESC")};
    if (s.stmt == nullptr || !BindText(s.stmt, 1, filenameid)) return 0;
    const int rc = sqlite3_step(s.stmt);
    if (rc == SQLITE_DONE) return 2;
    if (rc != SQLITE_ROW) return 0;
    filepath = ColumnText(s.stmt, 0);
    return 1;
}

int FileInfoDb::DeleteAll() {
    return RunBound("DELETE FROM fileinfo", {});
}

int FileInfoDb::ClearMarks() {
    return RunBound("UPDATE fileinfo SET CompactDatabase = '0' WHERE CompactDatabase = '2'", {});
}

int FileInfoDb::QueueSelected(const std::vector<std::string>& filenameids) {
    if (Begin() != 1) return 0;
    for (const std::string& id : filenameids) {
        if (RunBound("UPDATE fileinfo SET CompactDatabase = '2', filesize2 = 0 "
                     "WHERE filenameid = ?1",
                     {id}) != 1) {
            Rollback();
            return 0;
        }
    }
    return Commit();
}

int FileInfoDb::QueueAll() {
    return RunBound("UPDATE fileinfo SET CompactDatabase = '2', filesize2 = 0", {});
}

int FileInfoDb::CollectQueuedFilepaths(size_t maxCount, std::vector<std::string>& filepaths) {
    return ReadColumnWhere(kFileInfoTable, "CompactDatabase", kStateQueued, "filepath", maxCount,
                           filepaths);
}

int FileInfoDb::SetReason(const std::string& filepath, const std::string& reason) {
    return RunBound("UPDATE fileinfo SET fileinfo = ?1 WHERE filepath = ?2", {reason, filepath});
}

int FileInfoDb::SetFilesize(const std::string& filepath, std::uint64_t size) {
    Statement s{Prepare("UPDATE fileinfo SET filesize = ?1 WHERE filepath = ?2")};
    if (s.stmt == nullptr ||
        sqlite3_bind_int64(s.stmt, 1, static_cast<sqlite3_int64>(size)) != SQLITE_OK ||
        !BindText(s.stmt, 2, filepath))
        return 0;
    return sqlite3_step(s.stmt) == SQLITE_DONE ? 1 : 0;
}

int FileInfoDb::SetFilesize2(const std::string& filepath, std::uint64_t size) {
    Statement s{Prepare("UPDATE fileinfo SET filesize2 = ?1 WHERE filepath = ?2")};
    if (s.stmt == nullptr ||
        sqlite3_bind_int64(s.stmt, 1, static_cast<sqlite3_int64>(size)) != SQLITE_OK ||
        !BindText(s.stmt, 2, filepath))
        return 0;
    return sqlite3_step(s.stmt) == SQLITE_DONE ? 1 : 0;
}

int FileInfoDb::SetCompacted(const std::string& filepath) {
    return RunBound("UPDATE fileinfo SET CompactDatabase = '1' WHERE filepath = ?1", {filepath});
}

int FileInfoDb::ForgetFilepath(const std::string& filepath) {
    return RunBound("DELETE FROM fileinfo WHERE filepath = ?1", {filepath});
}

}  // namespace mdb
