// The file list filled from a real FileInfo.dat through the fake view.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <thread>

#include "desktop/file_info_access.h"
#include "desktop/failure_reason.h"
#include "desktop/file_list.h"
#include "fake_view.h"
#include "program_dir.h"

namespace mdb::desktop::testing {
namespace {

class FileListTest : public ::testing::Test {
  protected:
    void Insert(const FileInfoRecord& r) {
        auto db = dir.OpenDb();
        ASSERT_TRUE(db);
        ASSERT_EQ(db->InsertRecord(r), 1);
    }
    void Reload() { ReloadFileList(ctx, state, view); }
    std::vector<std::string> Column(int column) {
        std::vector<std::string> out;
        for (int i = 0; i < view.ItemCount(); ++i) out.push_back(view.ColumnText(i, column));
        return out;
    }
    const ListRow* RowWithKey(const std::string& key) {
        for (const ListRow& r : view.rows) {
            if (r.recordKey == key) return &r;
        }
        return nullptr;
    }

    ProgramDir dir;
    DesktopContext ctx = dir.Context();
    DesktopState state;
    FakeView view;
};

TEST_F(FileListTest, EveryFormattingRule) {
    FileInfoRecord half = MakeRecord("k-half", "/var/www/a/half.mdb", 2048000);
    half.filesize2 = 1024000;
    half.compactDatabase = kStateCompacted;
    Insert(half);

    FileInfoRecord grown = MakeRecord("k-grown", "/var/www/a/grown.mdb", 100000);
    grown.filesize2 = 100000;
    grown.compactDatabase = kStateCompacted;
    Insert(grown);

    FileInfoRecord share = MakeRecord("k-share", "/var/www/a/share.mdb", 800000);
    share.filesize2 = 500000;
    share.compactDatabase = kStateCompacted;
    Insert(share);

    Insert(MakeRecord("k-found", "/var/www/a/found.mdb", 65536));

    FileInfoRecord failed = MakeRecord("k-failed", "/var/www/a/failed.mdb", 70000);
    failed.fileinfo = "压缩失败：文件正在被使用";
    Insert(failed);

    // Queued but not yet compacted: a compacted size and no reason yet.
    FileInfoRecord queued = MakeRecord("k-queued", "/var/www/a/queued.mdb", 90000);
    queued.compactDatabase = kStateQueued;
    queued.filesize2 = 4096;
    Insert(queued);

    Insert(MakeRecord("k-1024", "/var/www/a/tiny.mdb", 1024));
    Insert(MakeRecord("k-1025", "/var/www/a/small.mdb", 1025));
    Insert(MakeRecord("k-huge", "/srv/huge.mdb", 5ull * 1024 * 1024 * 1024));

    FileInfoRecord badName = MakeRecord("k-badname", "/var/www/a/x.mdb", 70000);
    badName.filename = "!QUJD";  // first character already outside the alphabet
    Insert(badName);

    FileInfoRecord emptyPath = MakeRecord("k-emptypath", "/var/www/a/y.mdb", 70000);
    emptyPath.filepath = "";
    Insert(emptyPath);

    FileInfoRecord chinese = MakeRecord("k-cn", "/var/www/站点/数据库.mdb", 123456);
    Insert(chinese);

    FileInfoRecord password = MakeRecord("k-pw", "/var/www/a/pw.mdb", 70000);
    password.compactDatabase = kStateQueued;
    password.fileinfo = "未压缩，原因：数据库设有密码（the database is protected by a password）";
    password.filesize2 = 65536;  // recorded before a later step refused the file
    Insert(password);

    // Compacted after a repair: the saving, marked, and what the repair did; an earlier
    // run's failure text on a compacted record is no reason.
    FileInfoRecord repaired = MakeRecord("k-repaired", "/var/www/a/repaired.mdb", 800000);
    repaired.filesize2 = 500000;
    repaired.compactDatabase = kStateCompacted;
    repaired.fileinfo = "已修复并压缩（made anew: 'Orders': usage map）";
    Insert(repaired);

    Reload();
    ASSERT_EQ(view.ItemCount(), 14);

    const ListRow* r = RowWithKey("k-half");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->fileName, "half.mdb");
    EXPECT_EQ(r->filePath, "/var/www/a/half.mdb");
    EXPECT_EQ(r->originalSize, "2000 KB");
    EXPECT_EQ(r->compactedSize, "1000 KB");
    EXPECT_EQ(r->ratio, "50.00 %");

    EXPECT_EQ(RowWithKey("k-grown")->ratio, "0.00 %");
    EXPECT_EQ(RowWithKey("k-share")->ratio, "37.50 %");

    EXPECT_EQ(RowWithKey("k-found")->originalSize, "64 KB");
    EXPECT_EQ(RowWithKey("k-found")->compactedSize, "---");
    EXPECT_EQ(RowWithKey("k-found")->ratio, "---");
    EXPECT_EQ(RowWithKey("k-failed")->ratio, "压缩失败：文件正在被使用");
    EXPECT_EQ(RowWithKey("k-failed")->reason, "");
    // A reason fits the column in short; the row keeps the full text.
    EXPECT_EQ(RowWithKey("k-pw")->ratio, "未压缩：数据库设有密码");
    EXPECT_EQ(RowWithKey("k-pw")->compactedSize, "---");
    EXPECT_EQ(RowWithKey("k-pw")->reason,
              "未压缩，原因：数据库设有密码，无法打开（the database is protected by a password）");
    EXPECT_EQ(RowWithKey("k-half")->reason, "");
    EXPECT_EQ(RowWithKey("k-repaired")->ratio, "37.50 % 已修复");
    EXPECT_EQ(RowWithKey("k-repaired")->reason, "已修复并压缩（made anew: 'Orders': usage map）");
    EXPECT_EQ(RowWithKey("k-queued")->compactedSize, "4 KB");
    EXPECT_EQ(RowWithKey("k-queued")->ratio, "---");

    EXPECT_EQ(RowWithKey("k-1024")->originalSize, "? KB");
    EXPECT_EQ(RowWithKey("k-1025")->originalSize, "1 KB");
    // Sizes beyond 4 GiB are shown in full, not wrapped at 32 bits.
    EXPECT_EQ(RowWithKey("k-huge")->originalSize, "5242880 KB");

    EXPECT_EQ(RowWithKey("k-badname")->fileName, "（文件名有错误）");
    EXPECT_EQ(RowWithKey("k-badname")->filePath, "/var/www/a/x.mdb");
    EXPECT_EQ(RowWithKey("k-emptypath")->filePath, "（文件名有错误）");
    EXPECT_EQ(RowWithKey("k-cn")->fileName, "数据库.mdb");
    EXPECT_EQ(RowWithKey("k-cn")->filePath, "/var/www/站点/数据库.mdb");

    // Row numbers run from 1 in list order; every row starts unchecked.
    std::vector<std::string> expected;
    for (int i = 1; i <= 14; ++i) expected.push_back(std::to_string(i));
    EXPECT_EQ(Column(0), expected);
    for (int i = 0; i < 14; ++i) EXPECT_FALSE(view.IsChecked(i));
}

// Every kind the engine and the batch report gets a short Chinese text; the full text
// keeps the engine's detail.
TEST(FailureReason, ShortAndFullTextOfEveryKind) {
    const std::pair<const char*, const char*> kinds[] = {
        {"未压缩，原因：数据库设有密码（the database is protected by a password）",
         "未压缩：数据库设有密码"},
        {"未压缩，原因：数据库已加密（the database is encrypted (page encryption is not "
         "supported yet)）",
         "未压缩：数据库已加密"},
        {"未压缩，原因：不是 Jet 3/Jet 4 格式的 MDB 文件（Access 2007 及以后的格式）（ACE "
         "database）",
         "未压缩：不是 Access 97-2003 数据库"},
        {"未压缩，原因：数据库文件无法读取或已损坏（the file is not a Jet 3 or Jet 4 database）",
         "未压缩：不是 Access 97-2003 数据库"},
        {"未压缩，原因：数据库文件无法读取或已损坏（the file is truncated: its size (5000) ...）",
         "未压缩：文件已损坏"},
        {"未压缩，原因：数据库文件无法读取或已损坏（the database cannot be compacted: bad page 7）",
         "未压缩：文件已损坏"},
        {"未压缩，原因：无法写入压缩后的文件（cannot write '/b/temp/new.mdb' to disk: No space "
         "left on device）",
         "未压缩：磁盘空间不足"},
        {"未压缩，原因：压缩结果校验未通过，原文件未改动（the compacted file did not verify: T1 "
         "lost rows）",
         "未压缩：压缩结果校验未通过"},
        {"未压缩，原因：数据库文件无法读取或已损坏（the database cannot be compacted: not enough "
         "memory）",
         "未压缩：内存不足"},
        {"未压缩，原因：数据库文件无法读取或已损坏（the file '/w/a.mdb' does not exist）",
         "未压缩：文件不存在"},
        {"未压缩，原因：文件正被其他程序写入", "未压缩：文件被占用"},
        {"未压缩，原因：文件在压缩期间被修改", "未压缩：备份后文件被修改"},
        {"未压缩，原因：无法建立备份文件", "未压缩：备份失败"},
        {"未压缩，原因：数据库已损坏，自动修复会丢失数据，请用 mdbcompact repair 修复（813 of 830 "
         "rows recovered）",
         "未压缩：已损坏，修复会丢数据"},
        {"未压缩，原因：数据库已损坏，无法修复（the check found 1 problem）", "未压缩：已损坏，无法修复"},
        // A file name never decides the kind.
        {"未压缩，原因：数据库文件无法读取或已损坏（cannot open '/w/password 2007.mdb'）",
         "未压缩：文件已损坏"},
        // A kind this program does not know yet keeps its own words.
        {"未压缩，原因：新的原因", "未压缩：新的原因"},
    };
    for (const auto& [stored, shortText] : kinds) {
        EXPECT_EQ(ShortFailureText(stored), shortText) << stored;
        EXPECT_TRUE(IsFailureReason(stored));
        const std::string full = FullFailureText(stored);
        EXPECT_EQ(full.rfind("未压缩，原因：", 0), 0u) << full;
        const std::string_view text(stored);
        const std::size_t detail = text.rfind("（");
        if (text.substr(text.size() - 3) == "）" && detail != std::string_view::npos) {
            EXPECT_NE(full.find(text.substr(detail)), std::string::npos) << full;
        } else {
            EXPECT_EQ(full, stored);
        }
    }
    EXPECT_FALSE(IsFailureReason("37.50 %"));
    EXPECT_EQ(ShortFailureText("---"), "---");
    EXPECT_EQ(FullFailureText("---"), "---");
}

TEST_F(FileListTest, DecodedNameOfTooLongOrOddValues) {
    // 102400 decoded bytes is one too many; 102398 is still shown.
    const std::string longName(51199, 'n');
    const std::string tooLong(51200, 'n');
    FileInfoRecord ok = MakeRecord("k-ok", "/d/" + longName, 70000);
    ok.filename = EncodeName(longName);
    Insert(ok);
    FileInfoRecord bad = MakeRecord("k-bad", "/d/x", 70000);
    bad.filename = EncodeName(tooLong);
    Insert(bad);
    Reload();
    ASSERT_EQ(view.ItemCount(), 2);
    EXPECT_EQ(RowWithKey("k-ok")->fileName, longName);
    EXPECT_EQ(RowWithKey("k-bad")->fileName, "（文件名有错误）");
}

TEST_F(FileListTest, EmptyTableEmptiesTheList) {
    Insert(MakeRecord("k1", "/var/www/one.mdb", 70000));
    Reload();
    ASSERT_EQ(view.ItemCount(), 1);
    ASSERT_EQ(dir.OpenDb()->DeleteAll(), 1);
    Reload();
    EXPECT_EQ(view.ItemCount(), 0);
    EXPECT_EQ(view.Replaces(), 2);
    EXPECT_TRUE(view.messages.empty());
}

TEST_F(FileListTest, UnreadableStoreKeepsTheListSilently) {
    Insert(MakeRecord("k1", "/var/www/one.mdb", 70000));
    Reload();
    ASSERT_EQ(view.ItemCount(), 1);
    {
        std::ofstream junk(dir.DbPath(), std::ios::binary | std::ios::trunc);
        junk << std::string(8192, 'x');
    }
    Reload();
    EXPECT_EQ(view.Replaces(), 1);
    EXPECT_EQ(view.ItemCount(), 1);
    EXPECT_TRUE(view.messages.empty());
}

// The window started in the Windows original's directory lists that program's records.
TEST_F(FileListTest, TheWindowsOriginalsStoreIsTakenOverAndListed) {
    std::filesystem::copy_file(
        std::filesystem::path(MDB_SOURCE_DIR) / "tests/fixtures/FileInfo-access.dat", dir.DbPath());
    Reload();
    EXPECT_EQ(view.ItemCount(), 40);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_NE(view.messages[0].text.find("（Access 格式，40 条记录）转换为本程序的格式"),
              std::string::npos)
        << view.messages[0].text;
    EXPECT_TRUE(std::filesystem::exists(dir.DbPath().parent_path() / "FileInfo.access.mdb"));
    Reload();
    EXPECT_EQ(view.ItemCount(), 40);
    EXPECT_EQ(view.messages.size(), 1u);
}

TEST_F(FileListTest, MissingProgramDirectoryIsReported) {
    ctx.exeDirectory = [](std::string&) { return 0; };
    Reload();
    EXPECT_EQ(view.Replaces(), 0);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, "获取EXE文件路劲失败，请重试！");
}

// A box shown for a background reload waits for the window's thread; that thread may
// be waiting for the reload lock, so no box may be up while the lock is held.
TEST_F(FileListTest, MessagesWaitUntilTheReloadLockIsFree) {
    struct LockProbeView : FakeView {
        DesktopState* state = nullptr;
        std::vector<bool> lockFree;
        void ShowMessage(const std::string& text, MessageIcon icon) override {
            bool free = false;
            std::thread other([&] {
                free = state->reloadLock.try_lock();
                if (free) state->reloadLock.unlock();
            });
            other.join();
            lockFree.push_back(free);
            FakeView::ShowMessage(text, icon);
        }
    } probe;
    probe.state = &state;
    ctx.exeDirectory = [](std::string&) { return 0; };
    ReloadFileList(ctx, state, probe);
    OnColumnHeaderClick(ctx, state, probe, 2);
    ASSERT_EQ(probe.messages.size(), 2u);
    EXPECT_EQ(probe.lockFree, (std::vector<bool>{true, true}));
}

// Names whose Base64 order differs from their text order.
const std::vector<std::string> kNames = {"zeta.mdb", "alpha.mdb", "中文.mdb", "Beta.mdb",
                                         "alpha2.mdb"};

TEST_F(FileListTest, NamesAndPathsSortByTheirDecodedText) {
    std::vector<std::string> encoded;
    for (std::size_t i = 0; i < kNames.size(); ++i) {
        Insert(MakeRecord("k" + std::to_string(i), "/w/" + std::to_string(9 - i) + "/" + kNames[i],
                          70000 + i));
        encoded.push_back(EncodeName(kNames[i]));
    }
    // Precondition: sorting the stored texts would give a different order.
    std::vector<std::string> byEncoded = encoded;
    std::sort(byEncoded.begin(), byEncoded.end());
    std::vector<std::string> decodedOrderEncoded;
    std::vector<std::string> sortedNames = kNames;
    std::sort(sortedNames.begin(), sortedNames.end());
    for (const auto& n : sortedNames) decodedOrderEncoded.push_back(EncodeName(n));
    ASSERT_NE(byEncoded, decodedOrderEncoded);

    Reload();  // start-up order: filename ascending
    EXPECT_EQ(Column(1), (std::vector<std::string>{"Beta.mdb", "alpha.mdb", "alpha2.mdb",
                                                   "zeta.mdb", "中文.mdb"}));

    OnColumnHeaderClick(ctx, state, view, 1);  // file name, descending
    EXPECT_EQ(Column(1), (std::vector<std::string>{"中文.mdb", "zeta.mdb", "alpha2.mdb",
                                                   "alpha.mdb", "Beta.mdb"}));

    OnColumnHeaderClick(ctx, state, view, 5);  // path, ascending: /w/5 ... /w/9
    EXPECT_EQ(Column(5),
              (std::vector<std::string>{"/w/5/alpha2.mdb", "/w/6/Beta.mdb", "/w/7/中文.mdb",
                                        "/w/8/alpha.mdb", "/w/9/zeta.mdb"}));
}

TEST_F(FileListTest, HeaderClicksToggleDirectionAndPickTheField) {
    // filesize ascending: c, a, b; filesize2 ascending: b, c, a.
    FileInfoRecord a = MakeRecord("a", "/w/a.mdb", 200000);
    a.filesize2 = 300;
    FileInfoRecord b = MakeRecord("b", "/w/b.mdb", 300000);
    b.filesize2 = 100;
    FileInfoRecord c = MakeRecord("c", "/w/c.mdb", 100000);
    c.filesize2 = 200;
    Insert(a);
    Insert(b);
    Insert(c);

    OnColumnHeaderClick(ctx, state, view, 2);
    EXPECT_EQ(state.sortField, "filesize");
    EXPECT_EQ(state.sortOrder, "desc");
    EXPECT_EQ(Column(6), (std::vector<std::string>{"b", "a", "c"}));

    OnColumnHeaderClick(ctx, state, view, 2);
    EXPECT_EQ(state.sortOrder, "asc");
    EXPECT_EQ(Column(6), (std::vector<std::string>{"c", "a", "b"}));

    OnColumnHeaderClick(ctx, state, view, 2);  // desc again
    OnColumnHeaderClick(ctx, state, view, 3);  // the direction toggles whatever the column
    EXPECT_EQ(state.sortField, "filesize2");
    EXPECT_EQ(state.sortOrder, "asc");
    EXPECT_EQ(Column(6), (std::vector<std::string>{"b", "c", "a"}));

    EXPECT_STREQ(SortFieldForColumn(0), "filepath");
    EXPECT_STREQ(SortFieldForColumn(1), "filename");
    EXPECT_STREQ(SortFieldForColumn(4), "fileinfo");
    EXPECT_STREQ(SortFieldForColumn(5), "filepath");
    EXPECT_STREQ(SortFieldForColumn(6), "filepath");
    for (int column = 1; column <= 5; ++column) {
        EXPECT_EQ(ColumnForSortField(SortFieldForColumn(column)), column);
    }

    // The sort survives reloads started elsewhere.
    Reload();
    EXPECT_EQ(Column(6), (std::vector<std::string>{"b", "c", "a"}));
}

TEST_F(FileListTest, RatioColumnSortsByTheReasonText) {
    FileInfoRecord a = MakeRecord("a", "/w/a.mdb", 200000);
    a.fileinfo = "b-reason";
    FileInfoRecord b = MakeRecord("b", "/w/b.mdb", 200000);
    b.fileinfo = "a-reason";
    FileInfoRecord c = MakeRecord("c", "/w/c.mdb", 200000);
    Insert(a);
    Insert(b);
    Insert(c);
    OnColumnHeaderClick(ctx, state, view, 4);  // fileinfo descending
    EXPECT_EQ(Column(6), (std::vector<std::string>{"a", "b", "c"}));
}

TEST_F(FileListTest, AtMostTenThousandRowsInTheCurrentOrder) {
    {
        auto db = dir.OpenDb();
        ASSERT_TRUE(db);
        ASSERT_EQ(db->Begin(), 1);
        for (int i = 0; i < 10005; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "f%05d.mdb", i);
            ASSERT_EQ(db->InsertRecord(
                          MakeRecord("k" + std::to_string(i), std::string("/w/") + name, 70000)),
                      1);
        }
        ASSERT_EQ(db->Commit(), 1);
    }
    Reload();
    ASSERT_EQ(view.ItemCount(), 10000);
    EXPECT_EQ(view.rows.front().number, "1");
    EXPECT_EQ(view.rows.back().number, "10000");
    EXPECT_EQ(view.rows.front().fileName, "f00000.mdb");
    EXPECT_EQ(view.rows.back().fileName, "f09999.mdb");

    OnColumnHeaderClick(ctx, state, view, 1);  // descending: the last five come first
    ASSERT_EQ(view.ItemCount(), 10000);
    EXPECT_EQ(view.rows.front().fileName, "f10004.mdb");
    EXPECT_EQ(view.rows.back().fileName, "f00005.mdb");
}

TEST_F(FileListTest, ConcurrentReloadsNeverMixRows) {
    for (int i = 0; i < 300; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "m%03d.mdb", i);
        FileInfoRecord r =
            MakeRecord("k" + std::to_string(i), std::string("/w/") + name, 70000 + 1024 * i);
        Insert(r);
    }
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&] {
            while (!go) std::this_thread::yield();
            for (int k = 0; k < 10; ++k) Reload();
        });
    }
    threads.emplace_back([&] {
        while (!go) std::this_thread::yield();
        for (int k = 0; k < 10; ++k) OnColumnHeaderClick(ctx, state, view, 2);
    });
    go = true;
    for (auto& t : threads) t.join();

    ASSERT_EQ(view.history.size(), 40u);
    for (const auto& set : view.history) {
        ASSERT_EQ(set.size(), 300u);
        // Each set is one whole reload: numbered 1..300 and in one consistent order.
        std::vector<std::string> keys;
        for (std::size_t i = 0; i < set.size(); ++i) {
            ASSERT_EQ(set[i].number, std::to_string(i + 1));
            ASSERT_EQ(
                set[i].originalSize,
                std::to_string((70000 + 1024 * std::stoi(set[i].recordKey.substr(1))) / 1024) +
                    " KB");
            keys.push_back(set[i].recordKey);
        }
        std::vector<std::string> unique = keys;
        std::sort(unique.begin(), unique.end());
        ASSERT_EQ(std::unique(unique.begin(), unique.end()), unique.end());
        const bool byName = std::is_sorted(
            set.begin(), set.end(), [](auto& a, auto& b) { return a.fileName < b.fileName; });
        const bool bySizeUp = std::is_sorted(set.begin(), set.end(), [](auto& a, auto& b) {
            return std::stoi(a.originalSize) < std::stoi(b.originalSize);
        });
        const bool bySizeDown = std::is_sorted(set.begin(), set.end(), [](auto& a, auto& b) {
            return std::stoi(a.originalSize) > std::stoi(b.originalSize);
        });
        EXPECT_TRUE(byName || bySizeUp || bySizeDown);
    }
}

TEST_F(FileListTest, CheckAllAndUncheckAll) {
    for (int i = 0; i < 4; ++i)
        Insert(MakeRecord("k" + std::to_string(i), "/w/f" + std::to_string(i), 70000));
    Reload();
    view.SetChecked(1, true);
    view.setCheckedCalls = 0;
    CheckAllRows(view);
    EXPECT_EQ(view.checked, (std::vector<bool>{true, true, true, true}));
    EXPECT_EQ(view.setCheckedCalls, 3);  // the checked row is left alone

    view.SetChecked(2, false);
    view.setCheckedCalls = 0;
    UncheckAllRows(view);
    EXPECT_EQ(view.checked, (std::vector<bool>{false, false, false, false}));
    EXPECT_EQ(view.setCheckedCalls, 3);

    // A reload replaces the rows: every row unchecked again.
    CheckAllRows(view);
    Reload();
    EXPECT_EQ(view.checked, (std::vector<bool>{false, false, false, false}));
}

TEST_F(FileListTest, CheckAllStopsWhenTheListShrinks) {
    for (int i = 0; i < 8; ++i)
        Insert(MakeRecord("k" + std::to_string(i), "/w/f" + std::to_string(i), 70000));
    Reload();
    view.shrinkAfterSetChecked = 2;  // a reload elsewhere halves the list meanwhile
    CheckAllRows(view);
    EXPECT_EQ(view.ItemCount(), 4);
    EXPECT_EQ(view.setCheckedCalls, 4);
    EXPECT_EQ(view.checked, (std::vector<bool>{true, true, true, true}));
}

}  // namespace
}  // namespace mdb::desktop::testing
