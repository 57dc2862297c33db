// Refresh, clear, web site, row context menu, open folder, the refresh watcher and
// the thread start handshake, through the fake view and a real FileInfo.dat.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "common/settings.h"
#include "desktop/file_list.h"
#include "desktop/help_pages.h"
#include "desktop/record_commands.h"
#include "desktop/refresh_watcher.h"
#include "desktop/site.h"
#include "desktop/thread_start.h"
#include "fake_view.h"
#include "program_dir.h"
#include "tests/common/project_version.h"

namespace mdb::desktop::testing {
namespace {

namespace fs = std::filesystem;

class RecordCommandsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto db = dir.OpenDb();
        ASSERT_TRUE(db);
        ASSERT_EQ(db->InsertRecord(MakeRecord("k-a", "/var/www/a/a.mdb", 70000)), 1);
        ASSERT_EQ(db->InsertRecord(MakeRecord("k-b", "/var/www/b/数据.mdb", 80000)), 1);
    }
    void ShipReadLogPage() {
        const fs::path page = dir.Path() / "config" / kPageReadLog;
        std::ofstream(page) << "<!DOCTYPE html><p>记录</p>";
        std::ofstream(dir.Path() / kManifestFileName)
            << Sha256OfFile(page) << "  config/" << kPageReadLog << "\n";
    }
    int RowOf(const std::string& key) {
        for (int i = 0; i < view.ItemCount(); ++i) {
            if (view.ColumnText(i, kRecordKeyColumn) == key) return i;
        }
        return -1;
    }

    ProgramDir dir;
    DesktopContext ctx = dir.Context();
    DesktopState state;
    FakeView view;
};

TEST_F(RecordCommandsTest, RefreshShowsThePageEmptiesTheTextAndReloads) {
    ShipReadLogPage();
    OnRefreshRecords(ctx, state, view);
    ASSERT_EQ(view.navigations.size(), 1u);
    EXPECT_NE(view.navigations[0].find("HelpReadLog.dat?SessionId="), std::string::npos);
    EXPECT_EQ(view.helpPaneShownCalls, 1);
    EXPECT_EQ(view.paneText, "");
    EXPECT_EQ(view.ItemCount(), 2);
    EXPECT_TRUE(view.messages.empty());
}

TEST_F(RecordCommandsTest, RefreshStopsWhenThePageCannotBeShown) {
    OnRefreshRecords(ctx, state, view);
    EXPECT_EQ(view.Replaces(), 0);
    EXPECT_EQ(view.paneTextCalls, 0);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].icon, MessageIcon::Error);
}

TEST_F(RecordCommandsTest, ClearAnsweredNoChangesNothing) {
    view.answers = {false};
    OnClearRecords(ctx, state, view);
    ASSERT_EQ(view.questions.size(), 1u);
    EXPECT_EQ(view.questions[0], "确定清空数据库中的日志记录吗？");
    EXPECT_EQ(view.paneTextCalls, 0);
    EXPECT_EQ(view.Replaces(), 0);
    std::vector<FileInfoRecord> rows;
    ASSERT_EQ(dir.OpenDb()->SelectAll(rows), 1);
    EXPECT_EQ(rows.size(), 2u);
}

TEST_F(RecordCommandsTest, ClearAnsweredYesEmptiesTableAndList) {
    ReloadFileList(ctx, state, view);
    ASSERT_EQ(view.ItemCount(), 2);
    view.SetProgressPos(2);
    view.answers = {true};
    OnClearRecords(ctx, state, view);
    std::vector<FileInfoRecord> rows;
    ASSERT_EQ(dir.OpenDb()->SelectAll(rows), 1);
    EXPECT_TRUE(rows.empty());
    EXPECT_EQ(view.ItemCount(), 0);
    EXPECT_EQ(view.progressPos, 0);
    EXPECT_EQ(view.paneText, "");
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(
        view.messages[0].text,
        "数据库中的日志记录已经清空！\r\n\r\n\r\n下一步，请重新扫描网站目录中的MDB数据库文件。");
    EXPECT_EQ(view.messages[0].icon, MessageIcon::Information);
}

TEST_F(RecordCommandsTest, FailedClearIsSilent) {
    ReloadFileList(ctx, state, view);
    std::ofstream(dir.DbPath(), std::ios::trunc) << std::string(4096, 'x');
    view.answers = {true};
    OnClearRecords(ctx, state, view);
    EXPECT_EQ(view.Replaces(), 1);
    EXPECT_EQ(view.ItemCount(), 2);
    EXPECT_TRUE(view.messages.empty());
}

TEST_F(RecordCommandsTest, WebSiteButtonOpensTheHomePageOrGivesItsAddress) {
    const std::string url = std::string("http://") + kSiteHost +
                            "/?from=mdbwarden&version=" + test::UrlVersionOfProject();
    OnOfficialSite(ctx, view);
    EXPECT_EQ(dir.openedUrls, std::vector<std::string>{url});
    EXPECT_TRUE(view.messages.empty());

    dir.openUrlResult = false;  // no browser
    OnOfficialSite(ctx, view);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_NE(view.messages[0].text.find(url), std::string::npos) << view.messages[0].text;
}

TEST_F(RecordCommandsTest, OpenFolderBeforeAnyRowWasChosen) {
    OnOpenContainingFolder(ctx, state, view);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, "请先选择文件！");
    EXPECT_EQ(view.messages[0].icon, MessageIcon::Question);
    EXPECT_TRUE(dir.shownInFolder.empty());
}

TEST_F(RecordCommandsTest, RightClickRemembersTheRowsFileAndOpenFolderShowsIt) {
    ReloadFileList(ctx, state, view);
    EXPECT_FALSE(OnRowRightClick(ctx, state, view, -1));  // empty space: no menu
    EXPECT_TRUE(OnRowRightClick(ctx, state, view, RowOf("k-b")));
    OnOpenContainingFolder(ctx, state, view);
    EXPECT_EQ(dir.shownInFolder, (std::vector<std::string>{"/var/www/b/数据.mdb"}));
    EXPECT_TRUE(view.messages.empty());

    dir.showInFolderResult = false;
    OnOpenContainingFolder(ctx, state, view);
    ASSERT_EQ(view.messages.size(), 1u);
    // The folder, so that it can be opened by hand.
    EXPECT_EQ(view.messages[0].text, "打开文件所在目录失败，请重试！\r\n\r\n文件所在目录：/var/www/b");
    EXPECT_EQ(view.messages[0].icon, MessageIcon::Question);
}

TEST_F(RecordCommandsTest, ShowReasonGivesTheFullTextOfAFailedRow) {
    FileInfoRecord failed = MakeRecord("k-f", "/var/www/f/f.mdb", 70000);
    failed.fileinfo = "未压缩，原因：数据库设有密码（the database is protected by a password）";
    ASSERT_EQ(dir.OpenDb()->InsertRecord(failed), 1);
    ReloadFileList(ctx, state, view);
    OnShowReason(view, RowOf("k-a"));  // compacted or not tried: nothing to say
    EXPECT_TRUE(view.messages.empty());
    OnShowReason(view, RowOf("k-f"));
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text,
              "/var/www/f/f.mdb\r\n\r\n未压缩，原因：数据库设有密码，无法打开（the database is "
              "protected by a password）");
    EXPECT_EQ(view.messages[0].icon, MessageIcon::Information);
}

TEST_F(RecordCommandsTest, FailedLookupKeepsTheLastFile) {
    ReloadFileList(ctx, state, view);
    ASSERT_TRUE(OnRowRightClick(ctx, state, view, RowOf("k-a")));
    EXPECT_EQ(state.currentFile, "/var/www/a/a.mdb");

    // The record is gone by now (cleared elsewhere): the row still shows, the lookup fails.
    ASSERT_EQ(dir.OpenDb()->DeleteAll(), 1);
    EXPECT_TRUE(OnRowRightClick(ctx, state, view, RowOf("k-b")));
    EXPECT_EQ(state.currentFile, "/var/www/a/a.mdb");

    // A stored path that does not decode.
    FileInfoRecord broken = MakeRecord("k-b", "/x", 70000);
    broken.filepath = "!!!";
    ASSERT_EQ(dir.OpenDb()->InsertRecord(broken), 1);
    EXPECT_TRUE(OnRowRightClick(ctx, state, view, RowOf("k-b")));
    EXPECT_EQ(state.currentFile, "/var/www/a/a.mdb");
    EXPECT_TRUE(view.messages.empty());
}

TEST_F(RecordCommandsTest, LookupTakesTheNewestRecordOfTheKey) {
    ASSERT_EQ(dir.OpenDb()->InsertRecord(MakeRecord("k-a", "/var/www/newer/a.mdb", 70000)), 1);
    ReloadFileList(ctx, state, view);
    ASSERT_TRUE(OnRowRightClick(ctx, state, view, RowOf("k-a")));
    EXPECT_EQ(state.currentFile, "/var/www/newer/a.mdb");
}

TEST_F(RecordCommandsTest, OverlongRecordKeyIsNotLookedUp) {
    const std::string longKey(1024, '7');
    ASSERT_EQ(dir.OpenDb()->InsertRecord(MakeRecord(longKey, "/var/www/long.mdb", 70000)), 1);
    const std::string okKey(1023, '8');
    ASSERT_EQ(dir.OpenDb()->InsertRecord(MakeRecord(okKey, "/var/www/ok.mdb", 70000)), 1);
    ReloadFileList(ctx, state, view);
    EXPECT_TRUE(OnRowRightClick(ctx, state, view, RowOf(longKey)));
    EXPECT_EQ(state.currentFile, "");
    EXPECT_TRUE(OnRowRightClick(ctx, state, view, RowOf(okKey)));
    EXPECT_EQ(state.currentFile, "/var/www/ok.mdb");
}

TEST_F(RecordCommandsTest, WatcherReloadsOnlyOnARequest) {
    const std::string ini = SettingsPathIn(dir.Dir());
    EXPECT_FALSE(PollRefreshRequest(ctx, state, view, ini));  // no settings file yet
    EXPECT_EQ(view.Replaces(), 0);

    ASSERT_EQ(WriteSettingKey(ini, kKeyRefScanLog, "2"), 1);
    EXPECT_FALSE(PollRefreshRequest(ctx, state, view, ini));
    EXPECT_EQ(ReadSettingKey(ini, kKeyRefScanLog), 2u);
    EXPECT_EQ(view.Replaces(), 0);

    ASSERT_EQ(WriteSettingKey(ini, kKeyRefScanLog, "1"), 1);
    EXPECT_TRUE(PollRefreshRequest(ctx, state, view, ini));
    EXPECT_EQ(ReadSettingKey(ini, kKeyRefScanLog), 0u);
    EXPECT_EQ(view.ItemCount(), 2);

    // A reload that fails still resets the request.
    std::ofstream(dir.DbPath(), std::ios::trunc) << std::string(4096, 'x');
    ASSERT_EQ(WriteSettingKey(ini, kKeyRefScanLog, "1"), 1);
    EXPECT_TRUE(PollRefreshRequest(ctx, state, view, ini));
    EXPECT_EQ(ReadSettingKey(ini, kKeyRefScanLog), 0u);
    EXPECT_EQ(view.Replaces(), 1);
}

TEST(RefreshWatcherThread, PicksUpARequestRightAfterStartAndEndsOnStop) {
    ProgramDir dir;
    DesktopState state;
    FakeView view;
    ASSERT_EQ(dir.OpenDb()->InsertRecord(MakeRecord("k", "/var/www/w.mdb", 70000)), 1);
    const std::string ini = SettingsPathIn(dir.Dir());
    ASSERT_EQ(WriteSettingKey(ini, kKeyRefScanLog, "1"), 1);

    BackgroundThreads threads;
    threads.Start(&RefreshWatcherThread,
                  WatcherParams{dir.Context(), &state, &view, threads.Signal()});

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (ReadSettingKey(ini, kKeyRefScanLog) != 0 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(ReadSettingKey(ini, kKeyRefScanLog), 0u);
    EXPECT_GE(view.Replaces(), 1);
    EXPECT_EQ(view.ItemCount(), 1);
    // The stop ends the loop (a loop that ignored it would never be joined).
    threads.Stop();
    EXPECT_EQ(threads.Count(), 0u);
}

TEST(RefreshWatcherThread, EndsWithAMessageWithoutAProgramDirectory) {
    DesktopState state;
    FakeView view;
    DesktopContext ctx;
    ctx.exeDirectory = [](std::string&) { return 0; };
    {
        BackgroundThreads threads;
        threads.Start(&RefreshWatcherThread, WatcherParams{ctx, &state, &view, threads.Signal()});
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        for (;;) {
            {
                std::lock_guard lock(view.mutex);
                if (!view.messages.empty()) break;
            }
            if (std::chrono::steady_clock::now() > deadline) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    std::lock_guard lock(view.mutex);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, "获取EXE文件路劲失败，请重试！");
    EXPECT_EQ(view.messages[0].icon, MessageIcon::Question);
}

struct HandshakeParams {
    int value;
    std::atomic<int>* copied;
    std::atomic<int>* seenLater;
};

void HandshakeProc(ThreadStartBlock<HandshakeParams>* block) {
    // Slow to start: the starter must still be waiting.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const HandshakeParams params = *block->params;
    params.copied->store(params.value);
    block->started->Signal();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    params.seenLater->store(params.value);
}

std::thread StartFromAShortLivedFrame(std::atomic<int>& copied, std::atomic<int>& seenLater) {
    HandshakeParams params{4711, &copied, &seenLater};
    std::thread thread = StartThreadWithHandshake(&HandshakeProc, params);
    EXPECT_EQ(copied.load(), 4711);  // the wait returned only after the copy
    params.value = -1;               // the block may now change or vanish
    return thread;
}

TEST(ThreadStart, StarterWaitsUntilTheThreadHasCopiedItsParameters) {
    std::atomic<int> copied{0};
    std::atomic<int> seenLater{0};
    std::thread thread = StartFromAShortLivedFrame(copied, seenLater);
    // Overwrite the stack where the block lived.
    volatile char scrub[4096];
    for (auto& c : scrub) c = 0x5A;
    thread.join();
    EXPECT_EQ(seenLater.load(), 4711);
}

}  // namespace
}  // namespace mdb::desktop::testing
