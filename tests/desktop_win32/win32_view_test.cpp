// The Windows window through the view interface the commands use, under Wine, and the
// help pane's text without a web engine.
#include "desktop/win32/page_text.h"
#include "desktop/win32/resource_ids.h"
#include "desktop/win32/win32_main_view.h"

#include <gtest/gtest.h>
#include <commctrl.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <thread>

namespace {

namespace fs = std::filesystem;
using mdb::desktop::ListRow;
using mdb::desktop::win32::HelpPaneText;
using mdb::desktop::win32::PlainTextOfHtml;
using mdb::desktop::win32::Win32MainView;

ListRow Row(int n, const std::string& name, const std::string& reason = "") {
    return {std::to_string(n), name, "2000 KB", "1000 KB", "50.00 %", "D:\\wwwroot\\站点\\" + name,
            "key" + std::to_string(n), reason};
}

TEST(HelpPaneText, LocalPagesLoseTheirMarkupAndOnlinePagesAreNamed) {
    EXPECT_EQ(PlainTextOfHtml("<!DOCTYPE html><html><head><title>帮助</title><style>p{color:red}</style>"
                              "<script>var a = '<p>';</script></head><body><h3>扫描</h3>"
                              "<p>第一段 &amp; 说明</p><p>第二段&nbsp;&lt;b&gt;\n  续行</p></body></html>"),
              "扫描\n\n第一段 & 说明\n\n第二段 <b> 续行");

    const fs::path page = fs::temp_directory_path() / ("help-" + std::to_string(GetCurrentProcessId()) + ".Dat");
    std::ofstream(page, std::ios::binary) << "<html><body><p>正在扫描数据库文件</p></body></html>";
    // The address as the program gives it for a shipped page: "file://" and the native path.
    const std::u8string path = page.u8string();
    const std::string url = "file://" + std::string(path.begin(), path.end()) + "?SessionId=123";
    EXPECT_EQ(HelpPaneText(url), "正在扫描数据库文件");
    fs::remove(page);
    EXPECT_NE(HelpPaneText(url).find("无法读取"), std::string::npos);
    EXPECT_EQ(HelpPaneText("http://www.example.net/help.asp"), "在线帮助页面：http://www.example.net/help.asp");
}

class Win32ViewTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
    }
    void SetUp() override {
        // scripts/test-windows gives the run a display; a bare ctest without one skips.
        if (!view_.Valid() && !GetEnvironmentVariableW(L"DISPLAY", nullptr, 0))
            GTEST_SKIP() << "no display for the window";
    }
    Win32MainView view_{GetModuleHandleW(nullptr)};
};

TEST_F(Win32ViewTest, ListChecksAndTextsFollowTheRowsGiven) {
    ASSERT_TRUE(view_.Valid());
    view_.ReplaceRows({Row(1, "a.mdb"), Row(2, "数据.mdb", "未压缩，原因：数据库设有密码"), Row(3, "c.mdb")});
    EXPECT_EQ(view_.ItemCount(), 3);
    EXPECT_EQ(view_.ColumnText(1, 1), "数据.mdb");
    EXPECT_EQ(view_.ColumnText(1, mdb::desktop::kPathColumn), "D:\\wwwroot\\站点\\数据.mdb");
    EXPECT_EQ(view_.ColumnText(1, mdb::desktop::kReasonText), "未压缩，原因：数据库设有密码");
    EXPECT_EQ(view_.ColumnText(7, 1), "");

    // The list control itself shows the texts.
    const HWND list = GetDlgItem(view_.Window(), IDC_LIST_FILES);
    wchar_t cell[64] = {};
    ListView_GetItemText(list, 1, 1, cell, 64);
    EXPECT_STREQ(cell, L"数据.mdb");
    EXPECT_EQ(ListView_GetExtendedListViewStyle(list), static_cast<DWORD>(0x25));

    view_.SetChecked(0, true);
    view_.SetChecked(2, true);
    EXPECT_TRUE(view_.IsChecked(2));
    EXPECT_FALSE(view_.IsChecked(1));
    const std::vector<ListRow> checked = view_.CheckedRows();
    ASSERT_EQ(checked.size(), 2u);
    EXPECT_EQ(checked[0], Row(1, "a.mdb"));
    EXPECT_EQ(checked[1].recordKey, "key3");

    view_.ReplaceRows({Row(1, "a.mdb")});
    EXPECT_EQ(view_.ItemCount(), 1);
    EXPECT_FALSE(view_.IsChecked(0)) << "a reload leaves every row unchecked";
}

TEST_F(Win32ViewTest, CallsFromAnotherThreadAreCarriedOutOnTheWindowsThread) {
    ASSERT_TRUE(view_.Valid());
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    int countSeen = -1;
    std::thread worker([&] {
        view_.ReplaceRows({Row(1, "a.mdb"), Row(2, "b.mdb")});
        view_.SetChecked(1, true);
        view_.SetProgressRange(40);
        view_.SetProgressPos(10);
        view_.SetPaneText("第一行\n第二行");
        countSeen = view_.ItemCount();
        SetEvent(done);
    });
    Win32MainView::PumpUntil(done);
    worker.join();
    CloseHandle(done);
    EXPECT_EQ(countSeen, 2);
    EXPECT_TRUE(view_.IsChecked(1));
    const HWND progress = GetDlgItem(view_.Window(), IDC_PROGRESS);
    EXPECT_EQ(SendMessageW(progress, PBM_GETRANGE, FALSE, 0), 40);
    EXPECT_EQ(SendMessageW(progress, PBM_GETPOS, 0, 0), 10);
    wchar_t pane[32] = {};
    GetDlgItemTextW(view_.Window(), IDC_TEXT_PANE, pane, 32);
    EXPECT_STREQ(pane, L"第一行\r\n第二行");
}

}  // namespace
