#include "common/filestore.h"
#include "test_support.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

namespace mdb {
namespace {

FileInfoRecord Row(const std::string& key, const std::string& date, const std::string& path) {
    FileInfoRecord r;
    r.regdate = date;
    r.filenameid = key;
    r.filename = "bgBhAG0AZQA=";
    r.filepath = path;
    r.filesize = 123456;
    r.filechkval = "0123456789abcdef0123456789abcdef";
    return r;
}

class FileStore : public ::testing::Test {
  protected:
    void SetUp() override {
        db = FileInfoDb::Open(dir / "FileInfo.dat");
        ASSERT_TRUE(db);
    }
    std::vector<FileInfoRecord> All() {
        std::vector<FileInfoRecord> rows;
        EXPECT_EQ(db->SelectAll(rows), 1);
        return rows;
    }
    test::TempDir dir;
    std::unique_ptr<FileInfoDb> db;
};

TEST_F(FileStore, InsertedRowsReadBackWithIncreasingIds) {
    FileInfoRecord big = Row("0_20261208010203_42", "2026-12-08", "path-a");
    big.filesize = 5000000000ull;  // above 32 bits
    ASSERT_EQ(db->InsertRecord(big), 1);
    ASSERT_EQ(db->InsertRecord(Row("1_20261208010203_43", "2026-12-08", "path-b")), 1);
    const auto rows = All();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_LT(rows[0].id, rows[1].id);
    EXPECT_EQ(rows[0].fid, "1");
    EXPECT_EQ(rows[1].fid, "1");  // not unique
    EXPECT_EQ(rows[0].filesize, 5000000000ull);
    EXPECT_EQ(rows[0].filepath, "path-a");
    EXPECT_EQ(rows[0].compactDatabase, "0");
    EXPECT_EQ(rows[0].filesize2, 0u);
    EXPECT_EQ(rows[0].fileinfo, "");

    // Reopening the existing store keeps the rows; a new id is still higher than any before.
    db.reset();
    db = FileInfoDb::Open(dir / "FileInfo.dat");
    ASSERT_TRUE(db);
    ASSERT_EQ(db->DeleteAll(), 1);
    ASSERT_EQ(db->InsertRecord(Row("k", "2026-12-08", "p")), 1);
    EXPECT_GT(All().at(0).id, rows[1].id);
}

TEST_F(FileStore, PurgesCompareDatesAsDates) {
    for (const char* date : {"2026-11-07", "2026-11-08", "2026-11-09", "2026-12-08", "2025-12-31"})
        ASSERT_EQ(db->InsertRecord(Row(date, date, date)), 1);
    ASSERT_EQ(db->PurgeDate("2026-12-08"), 1);
    ASSERT_EQ(db->PurgeOlderThan("2026-11-08"), 1);  // exactly 30 days back stays
    std::vector<std::string> left;
    for (const auto& r : All()) left.push_back(r.regdate);
    EXPECT_EQ(left, (std::vector<std::string>{"2026-11-08", "2026-11-09"}));
}

TEST_F(FileStore, ExecuteSqlListIsOneTransaction) {
    const std::vector<std::string> failing = {
        "insert into fileinfo(fid, filenameid) values ('1', 'a')",
        "  insert into fileinfo(fid, filenameid) values ('1', 'b')  ",
        "insert into no_such_table values (1)"};
    EXPECT_EQ(db->ExecuteSqlList(failing), 0);
    EXPECT_TRUE(All().empty());

    const std::vector<std::string> good = {failing[0], "   ", failing[1]};
    EXPECT_EQ(db->ExecuteSqlList(good), 1);
    EXPECT_EQ(All().size(), 2u);
    // After a failed list the connection is usable again.
    EXPECT_EQ(db->ExecuteSql("delete from fileinfo where filenameid = 'a'"), 1);
    EXPECT_EQ(db->ExecuteSql("delete from nowhere"), 0);
    EXPECT_EQ(db->ExecuteSql("delete from fileinfo; delete from fileinfo"), 0);
    EXPECT_EQ(All().size(), 1u);
}

TEST_F(FileStore, ReadColumnWhereCountsNullsButNotEmptyValues) {
    ASSERT_EQ(db->ExecuteSqlList({
                  "insert into fileinfo(filenameid, fileinfo) values ('k', NULL)",
                  "insert into fileinfo(filenameid, fileinfo) values ('k', '  ')",
                  "insert into fileinfo(filenameid, fileinfo) values ('k', ' x ')",
                  "insert into fileinfo(filenameid, fileinfo) values ('k', 'y')",
                  "insert into fileinfo(filenameid, fileinfo) values ('k', 'z')",
              }),
              1);
    std::vector<std::string> values = {"stale"};
    EXPECT_EQ(db->ReadColumnWhere("fileinfo", "filenameid", "k", "fileinfo", 2, values), 1);
    EXPECT_EQ(values, std::vector<std::string>{"x"});
    EXPECT_EQ(db->ReadColumnWhere("fileinfo", "filenameid", "k", "fileinfo", 10, values), 1);
    EXPECT_EQ(values, (std::vector<std::string>{"x", "y", "z"}));
    EXPECT_EQ(db->ReadColumnWhere("fileinfo", "filenameid", "none", "fileinfo", 10, values), 2);
    EXPECT_TRUE(values.empty());
    // Key values are data, never statement text.
    EXPECT_EQ(db->ReadColumnWhere("fileinfo", "filenameid", "k' or '1'='1", "fileinfo", 10, values),
              2);
    EXPECT_EQ(db->ReadColumnWhere("fileinfo", "filenameid", "k", "nope", 10, values), 0);
    EXPECT_EQ(db->ReadColumnWhere("fileinfo", "id = 1 or 1", "k", "fileinfo", 10, values), 0);
    EXPECT_EQ(db->ReadColumnWhere("sqlite_master", "name", "k", "sql", 10, values), 0);
}

TEST_F(FileStore, QueueingMarkingAndResultsAreBoundValues) {
    const std::string quoted = "p'; delete from fileinfo; --";
    ASSERT_EQ(db->InsertRecord(Row("a", "2026-12-08", "pa")), 1);
    ASSERT_EQ(db->InsertRecord(Row("b", "2026-12-08", quoted)), 1);
    ASSERT_EQ(db->InsertRecord(Row("c", "2026-12-08", "pc")), 1);

    ASSERT_EQ(db->QueueSelected({"a", "b"}), 1);
    std::vector<std::string> queued;
    EXPECT_EQ(db->CollectQueuedFilepaths(90000, queued), 1);
    EXPECT_EQ(queued, (std::vector<std::string>{"pa", quoted}));

    EXPECT_EQ(db->SetReason(quoted, "can't open"), 1);
    EXPECT_EQ(db->SetFilesize2(quoted, 4096), 1);
    EXPECT_EQ(db->SetCompacted("pa"), 1);
    auto rows = All();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].compactDatabase, "1");
    EXPECT_EQ(rows[1].compactDatabase, "2");
    EXPECT_EQ(rows[1].fileinfo, "can't open");
    EXPECT_EQ(rows[1].filesize2, 4096u);
    EXPECT_EQ(rows[2].compactDatabase, "0");

    EXPECT_EQ(db->ClearMarks(), 1);
    EXPECT_EQ(db->CollectQueuedFilepaths(90000, queued), 2);
    EXPECT_EQ(All()[0].compactDatabase, "1") << "a compacted row keeps its result";
    EXPECT_EQ(All()[1].compactDatabase, "0");
    EXPECT_EQ(db->QueueAll(), 1);
    for (const auto& r : All()) {
        EXPECT_EQ(r.compactDatabase, "2");
        EXPECT_EQ(r.filesize2, 0u);
    }
    EXPECT_EQ(db->DeleteAll(), 1);
    EXPECT_TRUE(All().empty());
}

TEST_F(FileStore, LookupTakesTheNewestRow) {
    FileInfoRecord older = Row("dup", "2026-12-07", "old");
    older.filesize = 300;
    FileInfoRecord newer = Row("dup", "2026-12-08", "new");
    newer.filesize = 100;
    FileInfoRecord other = Row("x", "2026-12-08", "other");
    other.filesize = 200;
    for (const auto& r : {older, newer, other}) ASSERT_EQ(db->InsertRecord(r), 1);

    std::string path;
    EXPECT_EQ(db->LookupFilepath("dup", path), 1);
    EXPECT_EQ(path, "new");
    EXPECT_EQ(db->LookupFilepath("missing", path), 2);

    EXPECT_EQ(All().size(), 3u);
}

TEST_F(FileStore, AReaderWorksWhileAnotherConnectionWrites) {
    auto reader = FileInfoDb::Open(dir / "FileInfo.dat");
    ASSERT_TRUE(reader);
    ASSERT_EQ(db->InsertRecord(Row("committed", "2026-12-08", "p1")), 1);
    ASSERT_EQ(db->Begin(), 1);
    ASSERT_EQ(db->InsertRecord(Row("pending", "2026-12-08", "p2")), 1);
    std::vector<FileInfoRecord> seen;
    EXPECT_EQ(reader->SelectAll(seen), 1);  // not blocked by the open write transaction
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].filenameid, "committed");
    ASSERT_EQ(db->Commit(), 1);
    EXPECT_EQ(reader->SelectAll(seen), 1);
    EXPECT_EQ(seen.size(), 2u);
}

#ifndef _WIN32  // the second writer is a forked process
// The scanner (rows in groups inside transactions) and the desktop program (single
// statements) write at the same time: the busy timeout lets every statement through.
TEST_F(FileStore, TwoProcessesWritingAtOnceLoseNothing) {
    const std::string path = dir / "FileInfo.dat";
    const pid_t writer = fork();
    if (writer == 0) {
        auto own = FileInfoDb::Open(path);
        int failures = 0;
        for (int i = 0; i < 300; ++i)
            failures += own->InsertRecord(Row("desk", "2026-12-08", "q")) != 1;
        _exit(failures == 0 ? 0 : 1);
    }
    int failures = 0;
    for (int group = 0; group < 30; ++group) {
        failures += db->Begin() != 1;
        for (int i = 0; i < 10; ++i)
            failures += db->InsertRecord(Row("scan2", "2026-12-08", "p")) != 1;
        failures += db->Commit() != 1;
    }
    int status = 0;
    waitpid(writer, &status, 0);
    EXPECT_EQ(failures, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(All().size(), 600u);
}

#endif

TEST(FileStoreOpen, FailsOnAFileThatIsNotAStore) {
    test::TempDir dir;
    test::WriteWholeFile(dir / "FileInfo.dat", std::string(4096, 'x'));
    EXPECT_FALSE(FileInfoDb::Open(dir / "FileInfo.dat"));
    EXPECT_FALSE(FileInfoDb::Open(dir / "missing-dir/FileInfo.dat"));
}

}  // namespace
}  // namespace mdb
