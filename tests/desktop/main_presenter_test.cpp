// The presenter both windows share: the wiring of buttons and menu items, start-up and
// close, the sort arrow and the failure-reason tooltip, through the fake view.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "desktop/control_ids.h"
#include "desktop/file_list.h"
#include "desktop/help_pages.h"
#include "desktop/main_presenter.h"
#include "desktop/main_window_texts.h"
#include "fake_view.h"
#include "program_dir.h"
#include "tests/common/project_version.h"

namespace mdb::desktop::testing {
namespace {

namespace fs = std::filesystem;

ListRow Row(const std::string& key, const std::string& reason = "") {
    return {"1", key + ".mdb", "80 KB", "---", reason.empty() ? "---" : "未压缩", "/var/www/" + key + ".mdb",
            key, reason};
}

class MainPresenterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto db = dir.OpenDb();
        ASSERT_TRUE(db);
        ASSERT_EQ(db->InsertRecord(MakeRecord("k-a", "/var/www/a/a.mdb", 70000)), 1);
        ASSERT_EQ(db->InsertRecord(MakeRecord("k-b", "/var/www/b/b.mdb", 80000)), 1);
    }
    ScanContext Scan() {
        ScanContext scan;
        scan.compaction.desktop = dir.Context();
        scan.compaction.runAndWait = [](const std::vector<std::string>&) { return 0; };
        scan.findProcess = [](const std::string&) { return 2; };
        scan.endProcesses = [](const std::string&) { return 1; };
        scan.startConsoleProgram = [](const std::vector<std::string>&) { return true; };
        return scan;
    }
    void ShipReadLogPage() {
        const fs::path page = dir.Path() / "config" / kPageReadLog;
        std::ofstream(page) << "<!DOCTYPE html><p>第一次使用</p>";
        std::ofstream(dir.Path() / kManifestFileName)
            << Sha256OfFile(page) << "  config/" << kPageReadLog << "\n";
    }

    ProgramDir dir;
    DesktopState state;
    FakeView view;
};

TEST_F(MainPresenterTest, StartUpFillsTheListShowsTheArrowAndTheStartPageAndCloseJoins) {
    ShipReadLogPage();
    MainPresenter presenter(view, state, Scan());
    presenter.StartUp();
    EXPECT_EQ(view.ItemCount(), 2);
    EXPECT_EQ(view.sortArrows, (std::vector<std::pair<int, bool>>{{1, true}}));
    EXPECT_EQ(view.helpPaneShownCalls, 1);
    ASSERT_EQ(view.navigations.size(), 1u);
    EXPECT_NE(view.navigations[0].find("HelpReadLog.dat?SessionId="), std::string::npos);
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(presenter.BackgroundThreadCount(), 2u);
    presenter.OnClose();
    EXPECT_EQ(presenter.BackgroundThreadCount(), 0u);
}

TEST_F(MainPresenterTest, AStartPageThatCannotBeShownGivesTheBuiltInFirstStepsWithoutABox) {
    MainPresenter presenter(view, state, Scan());
    presenter.StartUp();
    EXPECT_TRUE(view.navigations.empty());
    ASSERT_EQ(view.helpPages.size(), 1u);
    EXPECT_NE(view.helpPages[0].find("“扫描数据库文件”"), std::string::npos);
    EXPECT_NE(view.helpPages[0].find("助手 " + test::CaptionVersionOfProject() + "</h3>"),
              std::string::npos);
    EXPECT_TRUE(view.messages.empty());
}

TEST_F(MainPresenterTest, EveryWiredIdRunsItsCommandAndColumnClicksMoveTheArrow) {
    MainPresenter presenter(view, state, Scan());
    ReloadFileList(dir.Context(), state, view);
    EXPECT_TRUE(presenter.OnControl(IDC_CHECK_ALL));
    EXPECT_EQ(view.CheckedRows().size(), 2u);
    EXPECT_TRUE(presenter.OnControl(IDC_UNCHECK_ALL));
    EXPECT_TRUE(view.CheckedRows().empty());
    EXPECT_TRUE(presenter.OnControl(IDC_STOP_COMPACT));
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, "当前未启动数据库压缩！");
    EXPECT_FALSE(presenter.OnControl(IDC_LIST_FILES));
    for (int id : {IDC_SCAN, IDC_COMPACT_ALL, IDC_COMPACT_CHECKED, IDC_REFRESH, IDC_CLEAR_RECORDS,
                   IDC_WEB_SITE, ID_OPEN_CONTAINING_FOLDER, ID_SHOW_REASON}) {
        EXPECT_TRUE(std::any_of(std::begin(kControlCommands), std::end(kControlCommands),
                                [id](const ControlCommand& c) { return c.id == id; }))
            << id;
    }

    presenter.OnColumnClick(2);
    presenter.OnColumnClick(3);
    EXPECT_EQ(view.sortArrows, (std::vector<std::pair<int, bool>>{{2, false}, {3, true}}));
}

TEST_F(MainPresenterTest, TheRowMenuOffersTheReasonOfItsOwnRowOnly) {
    MainPresenter presenter(view, state, Scan());
    view.ReplaceRows({Row("a"), Row("b", "未压缩，原因：数据库设有密码")});
    EXPECT_FALSE(presenter.OnRowRightClick(-1).open);
    const RowMenu plain = presenter.OnRowRightClick(0);
    EXPECT_TRUE(plain.open);
    EXPECT_FALSE(plain.reasonEnabled);
    EXPECT_TRUE(presenter.OnRowRightClick(1).reasonEnabled);
    presenter.OnControl(ID_SHOW_REASON);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, "/var/www/b.mdb\r\n\r\n未压缩，原因：数据库设有密码");
}

TEST_F(MainPresenterTest, OpeningAFolderLeavesTheWindowFreeAndSaysWhenTheOpenerFailed) {
    ScanContext scan = Scan();
    StartEvent answered;  // the file manager's slow failure
    bool waited = false;
    scan.compaction.desktop.showFileInFolder = [&](const std::string&, StopSignal*) {
        waited = answered.WaitFor(std::chrono::seconds(5));
        return false;
    };
    MainPresenter presenter(view, state, std::move(scan));
    ReloadFileList(dir.Context(), state, view);
    ASSERT_TRUE(presenter.OnRowRightClick(0).open);
    presenter.OnControl(ID_OPEN_CONTAINING_FOLDER);
    {
        std::lock_guard lock(view.mutex);
        EXPECT_TRUE(view.messages.empty()) << "the command returned before the opener's verdict";
    }
    answered.Signal();
    presenter.OnClose();
    EXPECT_TRUE(waited);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, "打开文件所在目录失败，请重试！\r\n\r\n文件所在目录：/var/www/a");
}

TEST_F(MainPresenterTest, TheTooltipAlwaysShowsTheReasonOfTheRowUnderTheMouse) {
    MainPresenter presenter(view, state, Scan());
    view.ReplaceRows({Row("a", "未压缩，原因：数据库设有密码"), Row("b"), Row("c", "未压缩，原因：文件正在使用")});
    presenter.OnRowHover(0);
    presenter.OnRowHover(0);  // the mouse moves within the row
    presenter.OnRowHover(1);
    presenter.OnRowHover(2);
    presenter.OnRowHover(-1);
    EXPECT_EQ(view.tooltips, (std::vector<std::string>{"未压缩，原因：数据库设有密码", "",
                                                       "未压缩，原因：文件正在使用", ""}));

    // A reload puts another file under the resting mouse.
    view.tooltips.clear();
    presenter.OnRowHover(2);
    view.ReplaceRows({Row("a"), Row("b"), Row("d", "未压缩，原因：不是数据库文件")});
    presenter.OnRowHover(2);
    EXPECT_EQ(view.tooltips, (std::vector<std::string>{"未压缩，原因：文件正在使用", "未压缩，原因：不是数据库文件"}));
}

}  // namespace
}  // namespace mdb::desktop::testing
