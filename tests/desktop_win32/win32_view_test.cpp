// The Windows window through the view interface the commands use, under Wine, and the
// help pane's rich text without a web engine.
#include "desktop/win32/message_box.h"
#include "desktop/win32/resource_ids.h"
#include "desktop/win32/win32_main_view.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>
#include <richedit.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

namespace fs = std::filesystem;
using mdb::desktop::ListRow;
using mdb::desktop::win32::Win32MainView;

ListRow Row(int n, const std::string& name, const std::string& reason = "") {
    return {std::to_string(n), name, "2000 KB", "1000 KB", "50.00 %", "D:\\wwwroot\\站点\\" + name,
            "key" + std::to_string(n), reason};
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

TEST_F(Win32ViewTest, TheWindowCannotBeMadeTooSmallForItsButtonsAndList) {
    ASSERT_TRUE(view_.Valid());
    const HWND window = view_.Window();
    SetWindowPos(window, nullptr, 0, 0, 120, 90, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT client, list, lastButton;
    GetClientRect(window, &client);
    GetWindowRect(GetDlgItem(window, IDC_LIST_FILES), &list);
    GetWindowRect(GetDlgItem(window, IDC_WEB_SITE), &lastButton);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&list), 2);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&lastButton), 2);
    EXPECT_GE(list.bottom - list.top, 80);
    EXPECT_LE(lastButton.right, client.right);
}

// Records what the window reports.
struct RecordedEvents : mdb::desktop::MainWindowEvents {
    void StartUp() override {}
    bool OnControl(int id) override {
        controls.push_back(id);
        return true;
    }
    void OnColumnClick(int) override {}
    mdb::desktop::RowMenu OnRowRightClick(int) override { return {}; }
    void OnRowHover(int row) override { hovered.push_back(row); }
    void OnClose() override {}
    std::vector<int> controls;
    std::vector<int> hovered;
};

std::wstring TipText(HWND tooltip, HWND owner, HWND list) {
    wchar_t text[256] = {};
    TOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = owner;
    tool.uId = reinterpret_cast<UINT_PTR>(list);
    tool.lpszText = text;
    SendMessageW(tooltip, TTM_GETTEXTW, 256, reinterpret_cast<LPARAM>(&tool));
    return text;
}

TEST_F(Win32ViewTest, TheHeaderShowsTheSortArrowAndTheRowsReportTheMouseForTheTooltip) {
    ASSERT_TRUE(view_.Valid());
    const HWND list = GetDlgItem(view_.Window(), IDC_LIST_FILES);
    const HWND header = ListView_GetHeader(list);
    const auto format = [&](int column) {
        HDITEMW item{};
        item.mask = HDI_FORMAT;
        Header_GetItem(header, column, &item);
        return item.fmt & (HDF_SORTUP | HDF_SORTDOWN);
    };
    view_.ShowSortArrow(2, false);
    EXPECT_EQ(format(2), HDF_SORTDOWN);
    view_.ShowSortArrow(1, true);
    EXPECT_EQ(format(1), HDF_SORTUP);
    EXPECT_EQ(format(2), 0) << "one arrow at a time";

    RecordedEvents events;
    view_.SetEvents(&events);
    view_.ReplaceRows({Row(1, "a.mdb"), Row(2, "b.mdb", "未压缩，原因：数据库设有密码")});
    RECT second{};
    ListView_GetItemRect(list, 1, &second, LVIR_BOUNDS);
    SendMessageW(list, WM_MOUSEMOVE, 0, MAKELPARAM(second.left + 30, (second.top + second.bottom) / 2));
    SendMessageW(list, WM_MOUSEMOVE, 0, MAKELPARAM(second.left + 30, second.bottom + 200));
    EXPECT_EQ(events.hovered, (std::vector<int>{1, -1}));

    ASSERT_NE(view_.RowTooltip(), nullptr);
    view_.SetRowTooltip("未压缩，原因：数据库设有密码");
    EXPECT_EQ(TipText(view_.RowTooltip(), view_.Window(), list), L"未压缩，原因：数据库设有密码");
    view_.SetRowTooltip("未压缩，原因：文件正在使用");
    EXPECT_EQ(TipText(view_.RowTooltip(), view_.Window(), list), L"未压缩，原因：文件正在使用");

    SendMessageW(view_.Window(), WM_COMMAND, MAKEWPARAM(IDC_CHECK_ALL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(view_.Window(), IDC_CHECK_ALL)));
    EXPECT_EQ(events.controls, std::vector<int>{IDC_CHECK_ALL});
    view_.SetEvents(nullptr);
}

// The help pane's text, paragraphs separated by "\n".
std::wstring PaneText(HWND pane) {
    GETTEXTLENGTHEX length{GTL_DEFAULT, 1200};
    std::wstring text(static_cast<std::size_t>(SendMessageW(pane, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&length), 0)) + 1, L'\0');
    GETTEXTEX get{static_cast<DWORD>(text.size() * sizeof(wchar_t)), GT_DEFAULT, 1200, nullptr, nullptr};
    text.resize(static_cast<std::size_t>(SendMessageW(pane, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&get),
                                                      reinterpret_cast<LPARAM>(text.data()))));
    std::replace(text.begin(), text.end(), L'\r', L'\n');
    return text;
}

// The character format at the first occurrence of `what` in the pane.
CHARFORMAT2W FormatAt(HWND pane, const std::wstring& what) {
    CHARFORMAT2W format{};
    format.cbSize = sizeof format;
    const std::size_t at = PaneText(pane).find(what);
    if (at == std::wstring::npos) return format;
    SendMessageW(pane, EM_SETSEL, at, at + what.size());
    SendMessageW(pane, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
    return format;
}

TEST_F(Win32ViewTest, TheHelpPaneShowsALocalPageAsHeadingsParagraphsAndLists) {
    ASSERT_TRUE(view_.Valid());
    const fs::path page = fs::temp_directory_path() / ("help-" + std::to_string(GetCurrentProcessId()) + ".Dat");
    std::ofstream(page, std::ios::binary)
        << "<!DOCTYPE html><html><head><title>标题不显示</title><style>p{color:red}</style>"
           "<script>var a = '<p>';</script></head><body><h1>扫描  数据库</h1>\n"
           "<p>第一段 &amp; <b>要点</b>\n   续行&#x4E2D;</p><!-- <p>注释</p> -->"
           "<ol><li>第一步 <code>mdbscout</code></li><li>第二步</li></ol><ul><li>一项</li></ul>"
           "<div class=\"note\">提示：{花括号} \\ 反斜杠</div></body></html>";
    // The address as the program gives it for a shipped page: "file://" and the native path.
    const std::u8string path = page.u8string();
    const std::string url = "file://" + std::string(path.begin(), path.end()) + "?SessionId=123";
    view_.ShowHelpPaneInsteadOfText();
    view_.NavigateHelp(url);
    fs::remove(page);

    const HWND pane = GetDlgItem(view_.Window(), IDC_HELP_PANE);
    EXPECT_EQ(PaneText(pane), L"扫描 数据库\n第一段 & 要点 续行中\n1.\t第一步 mdbscout\n2.\t第二步\n\u2022\t一项\n"
                              L"提示：{花括号} \\ 反斜杠");
    const CHARFORMAT2W heading = FormatAt(pane, L"扫描");
    const CHARFORMAT2W body = FormatAt(pane, L"第一段");
    EXPECT_TRUE(heading.dwEffects & CFE_BOLD);
    EXPECT_FALSE(body.dwEffects & CFE_BOLD);
    EXPECT_GT(heading.yHeight, body.yHeight);
    EXPECT_NE(heading.crTextColor, body.crTextColor);
    EXPECT_TRUE(FormatAt(pane, L"要点").dwEffects & CFE_BOLD);
    EXPECT_STREQ(FormatAt(pane, L"mdbscout").szFaceName, L"Courier New");

    view_.NavigateHelp("http://www.example.net/help.asp");
    EXPECT_EQ(PaneText(pane), L"在线帮助页面：http://www.example.net/help.asp");
    view_.NavigateHelp(url);
    EXPECT_EQ(PaneText(pane).find(L"无法读取帮助页面："), 0u) << "the page is gone";
}

// A box as a screen reader meets it: a dialog named by its caption whose text is a plain
// static text holding the message as given (the box lays its lines out itself, without
// changing the text). A static text's accessible name is its text; Wine's accessibility
// layer answers no such query, so the control's class and kind are checked.
struct SeenBox {
    bool found = false;
    std::wstring caption, text, kind;
    DWORD style = 0;
};
SeenBox g_seenBox;

void CALLBACK ReadAndAnswerBox(HWND, UINT, UINT_PTR, DWORD) {
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND box, LPARAM) -> BOOL {
            const HWND text = GetDlgItem(box, IDC_BOX_TEXT);
            if (!text || !IsWindowVisible(box)) return TRUE;
            g_seenBox.found = true;
            wchar_t buffer[512] = {};
            GetWindowTextW(box, buffer, 512);
            g_seenBox.caption = buffer;
            GetWindowTextW(text, buffer, 512);
            g_seenBox.text = buffer;
            wchar_t kind[32] = {};
            GetClassNameW(text, kind, 32);
            g_seenBox.kind = kind;
            g_seenBox.style = static_cast<DWORD>(GetWindowLongPtrW(text, GWL_STYLE)) & SS_TYPEMASK;
            PostMessageW(box, WM_COMMAND, IDNO, 0);
            return FALSE;
        },
        0);
}

TEST_F(Win32ViewTest, AMessageBoxIsADialogWhoseTextIsTheMessageAsGiven) {
    const std::string message = "已备份到“d:\\qor_mdb_backup\\”目录。\n\n是否继续？";
    g_seenBox = {};
    const UINT_PTR timer = SetTimer(nullptr, 0, 300, ReadAndAnswerBox);
    const int answer = mdb::desktop::win32::RunMessageBox(view_.Window(), message, "Veloran MDB 助手",
                                                          mdb::desktop::MessageIcon::Question,
                                                          mdb::desktop::win32::BoxButtons::YesNo);
    KillTimer(nullptr, timer);
    EXPECT_EQ(answer, IDNO);
    ASSERT_TRUE(g_seenBox.found);
    EXPECT_EQ(g_seenBox.caption, L"Veloran MDB 助手");
    const std::wstring asGiven = L"已备份到“d:\\qor_mdb_backup\\”目录。\r\n\r\n是否继续？";
    EXPECT_EQ(g_seenBox.text, asGiven);
    EXPECT_EQ(g_seenBox.kind, L"Static");
    EXPECT_EQ(g_seenBox.style, static_cast<DWORD>(SS_LEFT));
}

}  // namespace
