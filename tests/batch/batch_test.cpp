// Batch compaction end to end without a display: a temporary program directory with
// the real scanner and recording companion programs, a site tree of sample
// databases, the commands driven through the fake view, and mdbtools reading what
// was written back to the site.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "../desktop/fake_view.h"
#include "../desktop/program_dir.h"
#include "batch/compact_mdb_file.h"
#include "common/settings.h"
#include "common/utf16.h"
#include "desktop/compaction/compaction_commands.h"
#include "desktop/file_list.h"
#include "desktop/file_list_format.h"
#include "desktop/help_pages.h"
#include "file_bytes.h"

namespace fs = std::filesystem;
using namespace mdb;
using namespace mdb::desktop;
using mdb::desktop::testing::FakeView;
using mdb::desktop::testing::ProgramDir;

namespace {

std::string Shell(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return out;
    std::array<char, 4096> buf{};
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
    pclose(p);
    return out;
}

std::string Quote(const fs::path& p) {
    return "'" + p.string() + "'";
}

// Every table of a database as mdbtools exports it, rows sorted.
std::map<std::string, std::string> ExportAll(const fs::path& db) {
    std::map<std::string, std::string> tables;
    std::istringstream names(Shell("mdb-tables -1 " + Quote(db)));
    std::string table;
    while (std::getline(names, table)) {
        if (table.empty()) continue;
        const std::string rows =
            Shell("mdb-export -b hex " + Quote(db) + " '" + table + "' | LC_ALL=C sort");
        tables[table] = rows;
    }
    return tables;
}

void WriteExecutable(const fs::path& p, const std::string& text) {
    std::ofstream(p) << text;
    fs::permissions(p, fs::perms::owner_all);
}

class BatchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        site_ = prog_.Path() / "sites" / "www";
        fs::create_directories(site_ / "shop");
        backupRoot_ = prog_.Path() / "backup";
        log_ = prog_.Path() / "companions.log";
        for (const char* name : {kIisResetProgram, kXconfigProgram})
            WriteExecutable(prog_.Path() / name,
                            "#!/bin/sh\necho \"$(basename \"$0\") $*\" >> " + Quote(log_) + "\n");
        fs::create_directories(prog_.Path() / "config");
        fs::copy_file(fs::path(MDB_SOURCE_DIR) / "desktop/res/help/HelpMon.dat",
                      prog_.Path() / "config" / "HelpMon.dat");
        WriteManifest();

        ctx_.desktop = prog_.Context();
        ctx_.runAndWait = [](const std::vector<std::string>& argv) {
            std::string command;
            for (const auto& a : argv) command += Quote(a) + " ";
            return std::system(command.c_str()) == 0 ? 1 : 0;
        };
        ctx_.backupRoot = backupRoot_;
        ctx_.now = [] { return std::time_t(1765180800); };
        iniPath_ = SettingsPathIn(prog_.Dir());
    }

    void WriteManifest() {
        std::ofstream out(prog_.Path() / kManifestFileName);
        for (const char* name : {kIisResetProgram, kXconfigProgram, "config/HelpMon.dat"})
            out << Sha256OfFile(prog_.Path() / name) << "  " << name << "\n";
    }

    // Copies sample databases into the site and records them with a real scanner run.
    void ScanSite(const std::vector<std::string>& corpusFiles) {
        for (const auto& f : corpusFiles)
            fs::copy_file(fs::path(MDB_CORPUS_DIR) / f, site_ / "shop" / fs::path(f).filename());
        fs::copy_file(fs::path(MDB_DIST_DIR) / "mdbscout", prog_.Path() / "mdbscout");
        std::ofstream(prog_.Path() / "config" / "ScanDir.txt") << site_.string() << "\r\n";
        // The scanner counts down 30 seconds at the end; the rows are committed and
        // announced before the countdown starts.
        Shell("cd " + Quote(prog_.Path()) +
              " && (timeout -s TERM 120 ./mdbscout /FileScan > scan.out 2>&1 & pid=$!; "
              "for i in $(seq 1200); do grep -q 秒自动关闭 scan.out && break; sleep 0.1; done; "
              "kill $pid 2>/dev/null; wait) > /dev/null 2>&1; true");
    }

    std::string Log() { return ReadBytes(log_); }
    std::vector<FileInfoRecord> Records() {
        std::vector<FileInfoRecord> rows;
        prog_.OpenDb()->SelectAll(rows);
        return rows;
    }

    ProgramDir prog_;
    fs::path site_, backupRoot_, log_;
    std::string iniPath_;
    CompactionContext ctx_;
    CompactionState cs_;
    DesktopState state_;
    FakeView view_;
};

TEST_F(BatchTest, CompactAllBacksUpCompactsAndPutsBackEveryFile) {
    ScanSite({"jet4/testV2000.mdb", "jet3/testV1997.mdb", "jet4/delTestV2000.mdb"});
    ReloadFileList(ctx_.desktop, state_, view_);
    ASSERT_EQ(view_.ItemCount(), 3) << "the scanner must have recorded the three files";
    std::map<fs::path, std::map<std::string, std::string>> before;
    std::map<fs::path, std::string> originalBytes;
    for (const auto& e : fs::directory_iterator(site_ / "shop")) {
        before[e.path()] = ExportAll(e.path());
        ASSERT_FALSE(before[e.path()].empty()) << "mdbtools cannot read " << e.path();
        originalBytes[e.path()] = ReadBytes(e.path());
    }

    view_.answers.push_back(true);
    OnCompactAll(ctx_, cs_, state_, view_);
    // The platform's words, and the backup root in one piece.
    EXPECT_EQ(view_.questions.back().find("IIS"), std::string::npos);
    EXPECT_NE(view_.questions.back().find("压缩时会临时停止 Web 服务器，压缩完成后会自动启动 Web 服务器。"),
              std::string::npos);
    EXPECT_NE(view_.questions.back().find("“" + backupRoot_.string() + "”"), std::string::npos);
    // The started notice leaves the window usable.
    EXPECT_TRUE(view_.messages.empty());
    ASSERT_EQ(view_.notices, std::vector<std::string>{"已经开始压缩数据库文件，请稍候……"});
    EXPECT_TRUE(view_.noticeOpen);
    EXPECT_EQ(Log(), "mdbscout_iisreset /stop\n");
    EXPECT_TRUE(SettingIsSet(iniPath_, kKeyCompactDatabase));

    // The window's batch writes the metrics textfile too.
    fs::create_directories(prog_.Path() / "metrics");
    WriteSettingKey(iniPath_, kKeyMetricsDir, (prog_.Path() / "metrics").string().c_str());
    EXPECT_TRUE(PollCompactionRequest(ctx_, cs_, state_, view_, iniPath_));
    EXPECT_NE(ReadBytes(prog_.Path() / "metrics" / "mdbcompact-batch.prom")
                  .find("mdbwarden_batch_files{outcome=\"compacted\"} 3\n"),
              std::string::npos);
    EXPECT_EQ(view_.messages.back().text, "数据库压缩完成。成功压缩 3 个；未压缩 0 个。");
    EXPECT_EQ(view_.messages.back().icon, MessageIcon::Information);
    EXPECT_FALSE(view_.messages.back().underNotice) << "the notice must not outlive its batch";
    EXPECT_FALSE(view_.noticeOpen);
    const fs::path runDir = batch::BackupRunDirectory(backupRoot_, ctx_.now());
    EXPECT_EQ(Log(), "mdbscout_iisreset /stop\nmdbscout_xconfig " + runDir.string() +
                         " /T /C /G administrators:F /Y\nmdbscout_iisreset /start\n");
    EXPECT_FALSE(SettingIsSet(iniPath_, kKeyCompactDatabase));
    EXPECT_EQ(view_.progressMax, 3);
    EXPECT_EQ(view_.progressPos, 0) << "the bar is empty once the batch is over";

    for (const auto& [path, tables] : before) {
        SCOPED_TRACE(path.string());
        EXPECT_EQ(ExportAll(path), tables) << "mdbtools reads the compacted file differently";
        EXPECT_LE(fs::file_size(path), originalBytes[path].size());
        EXPECT_EQ(ReadBytes(runDir / path.relative_path()), originalBytes[path]);
    }
    for (const auto& r : Records()) {
        EXPECT_EQ(r.compactDatabase, kStateCompacted);
        EXPECT_GT(r.filesize2, 0u);
        EXPECT_LE(r.filesize2, r.filesize);
    }
    EXPECT_LT(fs::file_size(site_ / "shop" / "testV2000.mdb"),
              originalBytes[site_ / "shop" / "testV2000.mdb"].size() / 4);
    // No working folder is left (the program directory's folder for them stays).
    for (const auto& e : fs::recursive_directory_iterator(backupRoot_ / "temp"))
        EXPECT_TRUE(e.is_directory() && !e.path().filename().string().starts_with("work_"))
            << "left in temp: " << e.path();
    // The list shows the new state without a reload of its own.
    EXPECT_NE(view_.ColumnText(0, 4), "---");

    // Compacted again in the same run of the program: the rows show this run's sizes,
    // the already compacted file as the original.
    std::map<std::string, std::uint64_t> firstCompacted;
    for (const auto& r : Records()) firstCompacted[r.filepath] = r.filesize2;
    view_.answers.push_back(true);
    OnCompactAll(ctx_, cs_, state_, view_);
    EXPECT_TRUE(PollCompactionRequest(ctx_, cs_, state_, view_, iniPath_));
    for (const auto& r : Records()) {
        EXPECT_EQ(r.filesize, firstCompacted[r.filepath]);
        EXPECT_EQ(r.compactDatabase, kStateCompacted);
    }
}

TEST_F(BatchTest, CorruptFileKeepsSiteFileStoresReasonAndCountsAsNotCompacted) {
    ScanSite({"jet4/testV2000.mdb"});
    // A damaged copy: the header survives (the scanner records it), the pages do not.
    std::string bytes = ReadBytes(fs::path(MDB_CORPUS_DIR) / "jet4/delTestV2000.mdb");
    for (size_t i = 4096; i < bytes.size(); i += 97) bytes[i] = static_cast<char>(0xA5);
    const fs::path broken = site_ / "shop" / "broken.mdb";
    std::ofstream(broken, std::ios::binary) << bytes;
    fs::remove(prog_.Path() / "mdbscout");
    ScanSite({});
    ReloadFileList(ctx_.desktop, state_, view_);
    ASSERT_EQ(view_.ItemCount(), 2);

    std::vector<std::pair<std::string, std::string>> logged;
    ctx_.logFailure = [&](const std::string& path, const std::string& reason) {
        logged.emplace_back(path, reason);
    };
    view_.answers.push_back(true);
    OnCompactAll(ctx_, cs_, state_, view_);
    PollCompactionRequest(ctx_, cs_, state_, view_, iniPath_);
    EXPECT_EQ(view_.messages.back().text, "数据库压缩完成。成功压缩 1 个；未压缩 1 个。");
    EXPECT_EQ(ReadBytes(broken), bytes);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].first, broken.string());
    EXPECT_EQ(logged[0].second.rfind("未压缩，原因：", 0), 0u) << logged[0].second;
    for (const auto& r : Records()) {
        if (r.filesize == bytes.size()) {
            EXPECT_EQ(r.compactDatabase, kStateQueued);
            EXPECT_EQ(r.fileinfo.rfind("未压缩，原因：", 0), 0u) << r.fileinfo;
        } else {
            EXPECT_EQ(r.compactDatabase, kStateCompacted);
        }
    }
}

// A file left alone because its backup could not be made: its record keeps nothing of
// it, but its row says why (in the "压缩率" column and as its reason) until the next batch.
TEST_F(BatchTest, ARowLeftAloneForAReasonTheRecordDoesNotKeepSaysWhy) {
    ScanSite({"jet4/testV2000.mdb"});
    ReloadFileList(ctx_.desktop, state_, view_);
    ASSERT_EQ(view_.ItemCount(), 1);
    // A file where the site folder's backup folder goes.
    const fs::path runDir = batch::BackupRunDirectory(backupRoot_, ctx_.now());
    fs::create_directories(runDir / site_.relative_path());
    std::ofstream(runDir / (site_ / "shop").relative_path()) << "in the way";
    view_.answers.push_back(true);
    OnCompactAll(ctx_, cs_, state_, view_);
    PollCompactionRequest(ctx_, cs_, state_, view_, iniPath_);
    EXPECT_EQ(view_.messages.back().text, "数据库压缩完成。成功压缩 0 个；未压缩 1 个。");
    EXPECT_EQ(Records().at(0).fileinfo, "");
    ReloadFileList(ctx_.desktop, state_, view_);
    ASSERT_EQ(view_.rows.size(), 1u);
    EXPECT_EQ(view_.rows[0].ratio, batch::kSkipBackupFailed);
    EXPECT_EQ(view_.rows[0].reason, batch::kSkipBackupFailed);
}

TEST_F(BatchTest, StopInTheMiddleFinishesTheCurrentFileAndRestartsTheWebServer) {
    ScanSite({"jet4/testV2000.mdb", "jet3/testV1997.mdb", "jet4/delTestV2000.mdb"});
    ReloadFileList(ctx_.desktop, state_, view_);
    view_.answers.push_back(true);
    OnCompactAll(ctx_, cs_, state_, view_);
    // The user presses "停止压缩" while the first file is being put back.
    ctx_.checkpoint = [&](ReplaceStep step) {
        if (step != ReplaceStep::Replaced) return;
        ctx_.checkpoint = nullptr;
        view_.answers.push_back(true);
        OnStopCompact(ctx_, cs_, view_);
    };
    PollCompactionRequest(ctx_, cs_, state_, view_, iniPath_);
    ASSERT_GE(view_.messages.size(), 2u);
    EXPECT_EQ(view_.messages[view_.messages.size() - 2].text.rfind("已停止压缩数据库文件。", 0), 0u);
    // The files never reached are counted apart.
    EXPECT_EQ(view_.messages.back().text,
              "数据库压缩已停止。成功压缩 1 个；未压缩 0 个；未处理 2 个。");
    EXPECT_EQ(Log().substr(Log().size() - 25), "mdbscout_iisreset /start\n");
    int compacted = 0;
    for (const auto& r : Records()) compacted += r.compactDatabase == kStateCompacted;
    EXPECT_EQ(compacted, 1);
}

// "停止压缩" answered while the totals of a batch that has done its files are open:
// nothing is left to stop, and the window does not say it stopped one.
TEST_F(BatchTest, AStopAnsweredWhileTheTotalsAreOpenFindsNothingRunning) {
    ScanSite({"jet4/testV2000.mdb"});
    ReloadFileList(ctx_.desktop, state_, view_);
    view_.answers.push_back(true);
    OnCompactAll(ctx_, cs_, state_, view_);
    std::function<void(const std::string&)> stopDuringTotals = [&](const std::string& text) {
        if (text.rfind("数据库压缩完成", 0) != 0) {
            view_.whileMessageOpen = stopDuringTotals;
            return;
        }
        view_.answers.push_back(true);
        OnStopCompact(ctx_, cs_, view_);
    };
    view_.whileMessageOpen = stopDuringTotals;
    PollCompactionRequest(ctx_, cs_, state_, view_, iniPath_);
    ASSERT_GE(view_.messages.size(), 2u);
    EXPECT_EQ(view_.messages[view_.messages.size() - 2].text, "当前未启动数据库压缩！");
    EXPECT_EQ(view_.messages.back().text, "数据库压缩完成。成功压缩 1 个；未压缩 0 个。");
}

TEST_F(BatchTest, CompactSelectedQueuesOnlyTheTickedRowsAfterBothConfirmations) {
    ScanSite({"jet4/testV2000.mdb", "jet3/testV1997.mdb", "jet4/delTestV2000.mdb"});
    ReloadFileList(ctx_.desktop, state_, view_);

    OnCompactSelected(ctx_, cs_, state_, view_);
    EXPECT_EQ(view_.messages.back().text, "请先选择需要进行压缩的数据库文件！");
    EXPECT_EQ(view_.messages.back().icon, MessageIcon::Question);

    view_.SetChecked(0, true);
    view_.SetChecked(2, true);
    view_.confirmAnswers.push_back(false);  // "取消" in the confirmation dialog
    OnCompactSelected(ctx_, cs_, state_, view_);
    EXPECT_EQ(Log(), "") << "a cancelled confirmation must not stop the web server";
    for (const auto& r : Records()) EXPECT_EQ(r.compactDatabase, kStateFound);

    view_.confirmAnswers.push_back(true);
    OnCompactSelected(ctx_, cs_, state_, view_);
    ASSERT_EQ(view_.confirmedPaths.size(), 2u);
    EXPECT_EQ(view_.confirmedPaths.back(),
              (std::vector<std::string>{view_.ColumnText(0, 5), view_.ColumnText(2, 5)}));
    int queued = 0;
    for (const auto& r : Records()) queued += r.compactDatabase == kStateQueued;
    EXPECT_EQ(queued, 2);
    EXPECT_EQ(Log(), "mdbscout_iisreset /stop\n");
    PollCompactionRequest(ctx_, cs_, state_, view_, iniPath_);
    EXPECT_EQ(view_.messages.back().text, "数据库压缩完成。成功压缩 2 个；未压缩 0 个。");
}

// The "压缩率" texts of the list, one per row.
std::vector<std::string> Ratios(const std::vector<ListRow>& rows) {
    std::vector<std::string> ratios;
    for (const ListRow& r : rows) ratios.push_back(r.ratio);
    return ratios;
}

bool IsSaving(const std::string& ratio) {
    return ratio.size() > 2 && ratio.ends_with(" %");
}

TEST_F(BatchTest, RowsShowWhatASecondBatchDoesAndUnselectedRowsKeepTheirResult) {
    ScanSite({"jet4/testV2000.mdb", "jet3/testV1997.mdb", "jet4/delTestV2000.mdb"});
    ReloadFileList(ctx_.desktop, state_, view_);
    view_.answers.push_back(true);
    OnCompactAll(ctx_, cs_, state_, view_);
    ASSERT_TRUE(PollCompactionRequest(ctx_, cs_, state_, view_, iniPath_));
    for (const std::string& ratio : Ratios(view_.rows)) EXPECT_TRUE(IsSaving(ratio)) << ratio;

    // The list as each file of the second batch is being compacted.
    std::vector<std::vector<ListRow>> seen;
    ctx_.compact = [&](const fs::path& from, const fs::path& to) {
        {
            std::lock_guard lock(view_.mutex);
            seen.push_back(view_.rows);
        }
        return batch::CompactDatabaseFile(from, to);
    };
    view_.answers.push_back(true);
    OnCompactAll(ctx_, cs_, state_, view_);
    ASSERT_TRUE(PollCompactionRequest(ctx_, cs_, state_, view_, iniPath_));
    ASSERT_EQ(seen.size(), 3u);
    for (std::size_t k = 0; k < seen.size(); ++k) {
        SCOPED_TRACE(k);
        const std::vector<std::string> ratios = Ratios(seen[k]);
        EXPECT_EQ(std::count(ratios.begin(), ratios.end(), kCompactingText), 1);
        EXPECT_EQ(std::count(ratios.begin(), ratios.end(), kWaitingText), static_cast<long>(2 - k));
        EXPECT_EQ(std::count_if(ratios.begin(), ratios.end(), IsSaving), static_cast<long>(k))
            << "a done file shows its new saving, a waiting one no earlier result";
        for (const ListRow& r : seen[k])
            if (!IsSaving(r.ratio)) {
                EXPECT_EQ(r.compactedSize, "---");
            }
    }
    for (const std::string& ratio : Ratios(view_.rows)) EXPECT_TRUE(IsSaving(ratio)) << ratio;

    // A selection of one: the other files keep their sizes and saving.
    ctx_.compact = nullptr;
    const std::vector<ListRow> before = view_.rows;
    view_.SetChecked(1, true);
    view_.confirmAnswers.push_back(true);
    OnCompactSelected(ctx_, cs_, state_, view_);
    ASSERT_TRUE(PollCompactionRequest(ctx_, cs_, state_, view_, iniPath_));
    ASSERT_EQ(view_.rows.size(), 3u);
    for (int row : {0, 2}) {
        EXPECT_EQ(view_.rows[row].compactedSize, before[row].compactedSize);
        EXPECT_EQ(view_.rows[row].ratio, before[row].ratio);
    }
}

TEST_F(BatchTest, WebServerIsStartedAgainOnEveryWayARunEnds) {
    ScanSite({"jet4/testV2000.mdb"});
    ReloadFileList(ctx_.desktop, state_, view_);

    // A stop before the supervisor took the request up.
    view_.answers = {true, true};
    OnCompactAll(ctx_, cs_, state_, view_);
    OnStopCompact(ctx_, cs_, view_);
    EXPECT_EQ(view_.messages.back().text, "已取消本次压缩请求，尚未压缩任何文件。");
    EXPECT_FALSE(view_.noticeOpen);
    EXPECT_FALSE(PollCompactionRequest(ctx_, cs_, state_, view_, iniPath_));
    EXPECT_EQ(Log(), "mdbscout_iisreset /stop\nmdbscout_iisreset /start\n");

    // The backup run directory cannot be created (a file stands in its way).
    fs::remove(log_);
    std::ofstream(backupRoot_) << "in the way";
    view_.answers = {true};
    OnCompactAll(ctx_, cs_, state_, view_);
    PollCompactionRequest(ctx_, cs_, state_, view_, iniPath_);
    EXPECT_EQ(view_.messages.back().icon, MessageIcon::Error);
    EXPECT_EQ(view_.messages.back().text.rfind("建立数据库备份目录 ", 0), 0u);
    EXPECT_EQ(Log(), "mdbscout_iisreset /stop\nmdbscout_iisreset /start\n");

    // Nothing queued.
    fs::remove(backupRoot_);
    fs::remove(log_);
    prog_.OpenDb()->ClearMarks();
    WriteSettingKey(iniPath_, kKeyCompactDatabase, "1");
    PollCompactionRequest(ctx_, cs_, state_, view_, iniPath_);
    EXPECT_EQ(view_.messages.back().text, "获取到的需要压缩的数据库记录数为0，请先扫描数据库！");
    EXPECT_EQ(Log(), "mdbscout_iisreset /start\n");
}

// A web server that cannot be started again after the batch: the window says so in an
// error box after the totals.
TEST_F(BatchTest, AWebServerLeftDownIsAnErrorAfterTheTotals) {
    ScanSite({"jet4/testV2000.mdb"});
    ReloadFileList(ctx_.desktop, state_, view_);
    const fs::path state = prog_.Path() / "config" / "iisreset.state";
    WriteExecutable(prog_.Path() / kIisResetProgram,
                    "#!/bin/sh\necho \"$(basename \"$0\") $*\" >> " + Quote(log_) +
                        "\n[ \"$1\" = /stop ] && echo nginx > " + Quote(state) + "\nexit 0\n");
    WriteManifest();
    view_.answers.push_back(true);
    OnCompactAll(ctx_, cs_, state_, view_);
    EXPECT_TRUE(PollCompactionRequest(ctx_, cs_, state_, view_, iniPath_));
    ASSERT_GE(view_.messages.size(), 2u) << view_.messages.back().text;
    const auto& totals = view_.messages[view_.messages.size() - 2];
    EXPECT_EQ(totals.text, "数据库压缩完成。成功压缩 1 个；未压缩 0 个。");
    EXPECT_EQ(view_.messages.back().icon, MessageIcon::Error);
    EXPECT_NE(view_.messages.back().text.find("Web 服务器未能重新启动（nginx）"), std::string::npos)
        << view_.messages.back().text;
}

// Another program holds the store from the moment the file is put back until the batch
// ends: the file is compacted, its record stays as it was, and the totals say so.
TEST_F(BatchTest, ARecordTheStoreRefusedIsCountedInTheTotals) {
    ScanSite({"jet4/testV2000.mdb"});
    ReloadFileList(ctx_.desktop, state_, view_);
    const auto locker = prog_.OpenDb();
    ctx_.storeBusyTimeoutMs = 100;
    ctx_.checkpoint = [&](ReplaceStep step) {
        if (step == ReplaceStep::Replaced) {
            ASSERT_EQ(locker->Begin(), 1);
        }
    };
    view_.answers.push_back(true);
    OnCompactAll(ctx_, cs_, state_, view_);
    EXPECT_TRUE(PollCompactionRequest(ctx_, cs_, state_, view_, iniPath_));
    locker->Rollback();
    EXPECT_EQ(view_.messages.back().text,
              "数据库压缩完成。成功压缩 1 个；未压缩 0 个。\r\n\r\n其中 1 "
              "个文件的压缩结果未能写入记录（记录库一直被其他程序占用），列表中显示的不是这些文件的最新状态。");
    EXPECT_EQ(view_.messages.back().icon, MessageIcon::Error);
    EXPECT_NE(Records().at(0).compactDatabase, kStateCompacted);
}

TEST_F(BatchTest, SecondCopyLeavesTheRequestAloneAndSaysSoOnce) {
    ScanSite({"jet4/testV2000.mdb"});
    const std::string lockPath = (prog_.Path() / "config" / "compaction.lock").string();
    const int other = open(lockPath.c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_EQ(flock(other, LOCK_EX), 0);  // another copy is compacting
    WriteSettingKey(iniPath_, kKeyCompactDatabase, "1");
    const size_t before = view_.messages.size();
    EXPECT_FALSE(PollCompactionRequest(ctx_, cs_, state_, view_, iniPath_));
    EXPECT_FALSE(PollCompactionRequest(ctx_, cs_, state_, view_, iniPath_));
    EXPECT_EQ(view_.messages.size(), before + 1);
    EXPECT_TRUE(SettingIsSet(iniPath_, kKeyCompactDatabase))
        << "the request belongs to the other copy";
    EXPECT_EQ(Log(), "");
    close(other);
    EXPECT_TRUE(PollCompactionRequest(ctx_, cs_, state_, view_, iniPath_));
}

TEST_F(BatchTest, MissingOrTamperedCompanionRefusesTheRequest) {
    ScanSite({"jet4/testV2000.mdb"});
    ReloadFileList(ctx_.desktop, state_, view_);
    std::ofstream(prog_.Path() / kIisResetProgram, std::ios::app) << "# changed\n";
    view_.answers = {true};
    OnCompactAll(ctx_, cs_, state_, view_);
    EXPECT_EQ(view_.messages.back().icon, MessageIcon::Error);
    EXPECT_NE(view_.messages.back().text.find("完整性校验"), std::string::npos);
    EXPECT_FALSE(SettingIsSet(iniPath_, kKeyCompactDatabase));
    EXPECT_EQ(Log(), "");

    fs::remove(prog_.Path() / kXconfigProgram);
    view_.answers = {true};
    OnCompactAll(ctx_, cs_, state_, view_);
    EXPECT_EQ(view_.messages.back().text, CompanionMissingMessage(prog_.Dir() + kXconfigProgram));

    // Changed after the request was posted: the batch stops before its first file.
    WriteExecutable(prog_.Path() / kXconfigProgram,
                    "#!/bin/sh\necho \"$(basename \"$0\") $*\" >> " + Quote(log_) + "\n");
    WriteManifest();
    view_.answers = {true};
    OnCompactAll(ctx_, cs_, state_, view_);
    ASSERT_TRUE(SettingIsSet(iniPath_, kKeyCompactDatabase));
    std::ofstream(prog_.Path() / kXconfigProgram, std::ios::app) << "# changed\n";
    const std::string original = ReadBytes(site_ / "shop" / "testV2000.mdb");
    EXPECT_TRUE(PollCompactionRequest(ctx_, cs_, state_, view_, iniPath_));
    EXPECT_NE(view_.messages.back().text.find("未通过完整性校验（文件已被改动）"), std::string::npos)
        << view_.messages.back().text;
    EXPECT_EQ(Log(), "mdbscout_iisreset /stop\nmdbscout_iisreset /start\n");
    EXPECT_TRUE(ReadBytes(site_ / "shop" / "testV2000.mdb") == original);
}

TEST_F(BatchTest, WithoutAWebServerToStopTheUserIsAskedFirst) {
    ScanSite({"jet4/testV2000.mdb"});
    ReloadFileList(ctx_.desktop, state_, view_);
    ctx_.webServerStoppable = [] { return WebServers::NoneRunning; };

    view_.answers = {false};
    OnCompactAll(ctx_, cs_, state_, view_);
    EXPECT_NE(view_.questions.back().find("未找到可停止的 Web 服务器"), std::string::npos);
    EXPECT_NE(view_.questions.back().find("压缩期间网站保持运行"), std::string::npos);
    EXPECT_EQ(Log(), "");
    EXPECT_FALSE(SettingIsSet(iniPath_, kKeyCompactDatabase));

    view_.SetChecked(0, true);
    view_.confirmAnswers = {true};
    view_.answers = {false};
    OnCompactSelected(ctx_, cs_, state_, view_);
    EXPECT_NE(view_.questions.back().find("未找到可停止的 Web 服务器"), std::string::npos);
    EXPECT_EQ(Log(), "");
    EXPECT_FALSE(SettingIsSet(iniPath_, kKeyCompactDatabase));

    view_.SetChecked(0, true);
    view_.confirmAnswers = {true};
    view_.answers = {true};
    OnCompactSelected(ctx_, cs_, state_, view_);
    EXPECT_TRUE(SettingIsSet(iniPath_, kKeyCompactDatabase));

    // With a web server to stop, the question carries no warning.
    ctx_.webServerStoppable = [] { return WebServers::Running; };
    view_.answers = {false};
    OnCompactAll(ctx_, cs_, state_, view_);
    EXPECT_EQ(view_.questions.back().find("未找到"), std::string::npos);
}

}  // namespace
