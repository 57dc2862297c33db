// The real main window under a display (Xvfb in CTest): layout, keys, check boxes,
// resize rule and calls from other threads. Message boxes are answered by a hook.
#include <gtest/gtest.h>

#include <wx/app.h>
#include <wx/button.h>
#include <wx/gauge.h>
#include <wx/init.h>
#include <wx/listctrl.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>
#include <wx/textctrl.h>
#include <wx/timer.h>
#include <wx/uiaction.h>
#include <wx/webview.h>

#include <dlfcn.h>

#include <chrono>
#include <thread>

#include "desktop/file_list.h"
#include "desktop/site.h"
#include "desktop/ui/mdbwarden_dlg.h"
#include "desktop/ui/message_boxes.h"
#include "program_dir.h"
#include "tests/common/project_version.h"

namespace dk = mdb::desktop;
using mdb::desktop::testing::MakeRecord;
using mdb::desktop::testing::ProgramDir;

namespace {

wxString U8(const char* s) {
    return wxString::FromUTF8(s);
}

// Answers every message box and remembers what it said.
class BoxAnswerer : public wxModalDialogHook {
  public:
    int Enter(wxDialog* dialog) override {
        if (auto* box = dynamic_cast<wxMessageDialog*>(dialog)) {
            if (showBoxes) return wxID_NONE;
            texts.push_back(box->GetMessage());
            styles.push_back(box->GetMessageDialogStyle());
            return answer;
        }
        return wxID_CANCEL;
    }
    void Exit(wxDialog*) override {}
    std::vector<wxString> texts;
    std::vector<long> styles;
    int answer = wxID_OK;
    bool showBoxes = false;  // let the boxes show themselves
};

// A GTK message box as it is shown, read through GTK's own calls (the build has wx's
// headers only), and then closed.
struct ShownBox {
    bool found = false;
    std::string title, accessibleName, text, attributes;
};

ShownBox ReadAndCloseShownBox() {
    using GType = unsigned long;
    struct GList {
        void* data;
        GList* next;
        GList* prev;
    };
    const auto sym = [](const char* name) { return dlsym(RTLD_DEFAULT, name); };
    const auto toplevels = reinterpret_cast<GList* (*)()>(sym("gtk_window_list_toplevels"));
    const auto isA = reinterpret_cast<int (*)(void*, GType)>(sym("g_type_check_instance_is_a"));
    const auto boxType = reinterpret_cast<GType (*)()>(sym("gtk_message_dialog_get_type"));
    const auto labelType = reinterpret_cast<GType (*)()>(sym("gtk_label_get_type"));
    const auto visible = reinterpret_cast<int (*)(void*)>(sym("gtk_widget_get_visible"));
    const auto title = reinterpret_cast<const char* (*)(void*)>(sym("gtk_window_get_title"));
    const auto accessible = reinterpret_cast<void* (*)(void*)>(sym("gtk_widget_get_accessible"));
    const auto name = reinterpret_cast<const char* (*)(void*)>(sym("atk_object_get_name"));
    const auto area = reinterpret_cast<void* (*)(void*)>(sym("gtk_message_dialog_get_message_area"));
    const auto children = reinterpret_cast<GList* (*)(void*)>(sym("gtk_container_get_children"));
    const auto text = reinterpret_cast<const char* (*)(void*)>(sym("gtk_label_get_text"));
    const auto attributes = reinterpret_cast<void* (*)(void*)>(sym("gtk_label_get_attributes"));
    const auto attributesText = reinterpret_cast<char* (*)(void*)>(sym("pango_attr_list_to_string"));
    const auto respond = reinterpret_cast<void (*)(void*, int)>(sym("gtk_dialog_response"));
    const auto freeList = reinterpret_cast<void (*)(GList*)>(sym("g_list_free"));
    ShownBox shown;
    GList* windows = toplevels();
    for (GList* w = windows; w; w = w->next) {
        if (!isA(w->data, boxType()) || !visible(w->data)) continue;
        shown.found = true;
        shown.title = title(w->data);
        shown.accessibleName = name(accessible(w->data));
        GList* labels = children(area(w->data));
        for (GList* l = labels; l; l = l->next) {
            if (!isA(l->data, labelType()) || !*text(l->data)) continue;
            shown.text = text(l->data);
            if (void* list = attributes(l->data); list && attributesText) shown.attributes = attributesText(list);
        }
        freeList(labels);
        respond(w->data, -5);  // GTK_RESPONSE_OK
    }
    freeList(windows);
    return shown;
}

ProgramDir* g_dir = nullptr;
CMdbwardenDlg* g_dlg = nullptr;
BoxAnswerer* g_boxes = nullptr;

void Pump(int ms = 150) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        wxTheApp->Yield(true);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

wxWindow* Ctrl(int id) {
    return g_dlg->FindWindow(id);
}

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_boxes->texts.clear();
        g_boxes->styles.clear();
        g_boxes->answer = wxID_OK;
    }
};

TEST_F(WindowTest, CaptionButtonsAndColumns) {
    EXPECT_EQ(g_dlg->GetTitle(), U8(dk::WindowCaption().c_str()));
    EXPECT_EQ(g_dlg->GetTitle(), U8(("Veloran MDB 助手 " + mdb::test::CaptionVersionOfProject() +
                                     " 官方网站 " + dk::kSiteHost)
                                        .c_str()));
    const std::pair<int, const char*> buttons[] = {{IDC_SCAN, "扫描数据库文件"},
                                                   {IDC_COMPACT_ALL, "压缩全部数据库"},
                                                   {IDC_COMPACT_CHECKED, "压缩选择数据库"},
                                                   {IDC_STOP_COMPACT, "停止压缩"},
                                                   {IDC_REFRESH, "刷新记录"},
                                                   {IDC_CLEAR_RECORDS, "清空记录"},
                                                   {IDC_WEB_SITE, "官方网站"},
                                                   {IDC_UNCHECK_ALL, "清除已选 √"},
                                                   {IDC_CHECK_ALL, "全选 √"}};
    for (const auto& [id, label] : buttons) {
        auto* b = dynamic_cast<wxButton*>(Ctrl(id));
        ASSERT_NE(b, nullptr) << id;
        EXPECT_EQ(b->GetLabel(), U8(label)) << id;
    }
    EXPECT_EQ(g_dlg->GetDefaultItem(), Ctrl(IDC_SCAN));
    // Same row of buttons, 75 dialog units apart.
    const wxPoint scan = Ctrl(IDC_SCAN)->GetPosition();
    EXPECT_EQ(scan, g_dlg->ConvertDialogToPixels(wxPoint(8, 37)));
    EXPECT_EQ(Ctrl(IDC_WEB_SITE)->GetPosition(), g_dlg->ConvertDialogToPixels(wxPoint(458, 37)));

    auto* list = dynamic_cast<wxListCtrl*>(Ctrl(IDC_LIST_FILES));
    ASSERT_NE(list, nullptr);
    EXPECT_TRUE(list->HasCheckBoxes());
    ASSERT_EQ(list->GetColumnCount(), 7);
    const char* captions[] = {"序号",   "文件名", "原始文件大小", "压缩后文件大小",
                              "压缩率", "路径",   "fid"};
    const int widths[] = {60, 180, 100, 100, 100, 800, 1};
    for (int c = 0; c < 7; ++c) {
        wxListItem col;
        col.SetMask(wxLIST_MASK_TEXT | wxLIST_MASK_WIDTH | wxLIST_MASK_FORMAT);
        ASSERT_TRUE(list->GetColumn(c, col));
        EXPECT_EQ(col.GetText(), U8(captions[c]));
        EXPECT_EQ(col.GetWidth(), widths[c]);
        EXPECT_EQ(col.GetAlign(), (c >= 2 && c <= 4) ? wxLIST_FORMAT_RIGHT : wxLIST_FORMAT_LEFT);
    }
    // The help pane covers the text pane, which stays hidden.
    EXPECT_FALSE(Ctrl(IDC_TEXT_PANE)->IsShown());
    EXPECT_TRUE(Ctrl(IDC_HELP_PANE)->IsShown());
}

TEST_F(WindowTest, EachBackgroundThreadRunsOnceAfterShow) {
    // Show() runs the toolkit's dialog initialisation again; it must not start a second
    // refresh watcher or compaction supervisor.
    EXPECT_EQ(g_dlg->BackgroundThreadCount(), 2u);
}

TEST_F(WindowTest, ListShowsTheRecordsAfterStartUp) {
    ASSERT_EQ(g_dlg->ItemCount(), 3);
    EXPECT_EQ(g_dlg->ColumnText(0, 1), "a.mdb");
    EXPECT_EQ(g_dlg->ColumnText(2, 5), "/var/www/c/中文.mdb");
    EXPECT_EQ(g_dlg->ColumnText(2, 6), "k-c");
}

TEST_F(WindowTest, EscapeNeverClosesTheWindow) {
    Ctrl(IDC_LIST_FILES)->SetFocus();
    wxKeyEvent esc(wxEVT_CHAR_HOOK);
    esc.m_keyCode = WXK_ESCAPE;
    esc.SetEventObject(Ctrl(IDC_LIST_FILES));
    Ctrl(IDC_LIST_FILES)->ProcessWindowEvent(esc);
    Pump();
    EXPECT_TRUE(g_dlg->IsShown());
    EXPECT_FALSE(g_dlg->IsBeingDeleted());
    EXPECT_TRUE(g_boxes->texts.empty());
}

TEST_F(WindowTest, EnterRunsTheDefaultButton) {
    Ctrl(IDC_LIST_FILES)->SetFocus();
    wxKeyEvent enter(wxEVT_CHAR_HOOK);
    enter.m_keyCode = WXK_RETURN;
    enter.SetEventObject(Ctrl(IDC_LIST_FILES));
    Ctrl(IDC_LIST_FILES)->ProcessWindowEvent(enter);
    Pump();
    // The scan command begins with its help page, which this program directory lacks.
    ASSERT_EQ(g_boxes->texts.size(), 1u);
    EXPECT_TRUE(g_boxes->texts[0].Contains("HelpScan.Dat")) << g_boxes->texts[0];
    EXPECT_TRUE(g_boxes->styles[0] & wxICON_ERROR);
    EXPECT_TRUE(g_dlg->IsShown());
}

TEST_F(WindowTest, ClickingACheckBoxAndTheCheckButtons) {
    auto* list = dynamic_cast<wxListCtrl*>(Ctrl(IDC_LIST_FILES));
    wxRect row;
    ASSERT_TRUE(list->GetItemRect(1, row));
    // The check box sits at the left end of the row; the rectangle is in the list's
    // client coordinates below the header.
    wxUIActionSimulator sim;
    const wxPoint target = list->ClientToScreen(wxPoint(row.x + 8, row.y + row.height / 2));
    sim.MouseMove(target);
    Pump(100);
    sim.MouseClick();
    Pump(300);
    EXPECT_FALSE(g_dlg->IsChecked(0));
    EXPECT_TRUE(g_dlg->IsChecked(1));
    EXPECT_FALSE(g_dlg->IsChecked(2));
    // The commands get the ticked record itself.
    const std::vector<dk::ListRow> ticked = g_dlg->CheckedRows();
    ASSERT_EQ(ticked.size(), 1u);
    EXPECT_EQ(ticked[0].recordKey, g_dlg->ColumnText(1, dk::kRecordKeyColumn));

    wxCommandEvent all(wxEVT_BUTTON, IDC_CHECK_ALL);
    g_dlg->ProcessWindowEvent(all);
    EXPECT_TRUE(g_dlg->IsChecked(0) && g_dlg->IsChecked(1) && g_dlg->IsChecked(2));
    EXPECT_TRUE(list->IsItemChecked(0));

    wxCommandEvent none(wxEVT_BUTTON, IDC_UNCHECK_ALL);
    g_dlg->ProcessWindowEvent(none);
    EXPECT_FALSE(g_dlg->IsChecked(0) || g_dlg->IsChecked(1) || g_dlg->IsChecked(2));
}

TEST_F(WindowTest, ResizeKeepsMarginsAndPanesAtTheBottom) {
    g_dlg->SetClientSize(1100, 800);
    Pump(300);
    const wxSize client = g_dlg->GetClientSize();
    const wxRect list = Ctrl(IDC_LIST_FILES)->GetRect();
    EXPECT_EQ(list.width, client.x - 2 * list.x);
    EXPECT_EQ(list.GetBottom() + 1, client.y - 195);
    for (int id : {IDC_TEXT_PANE, IDC_HELP_PANE}) {
        const wxRect pane = Ctrl(id)->GetRect();
        EXPECT_EQ(pane.y, client.y - 190) << id;
        EXPECT_EQ(pane.height, 180) << id;
        EXPECT_EQ(pane.width, client.x - 2 * pane.x) << id;
    }
    // Buttons stay where they are.
    EXPECT_EQ(Ctrl(IDC_SCAN)->GetPosition(), g_dlg->ConvertDialogToPixels(wxPoint(8, 37)));
}

TEST_F(WindowTest, CallsFromAnotherThreadReachTheWindow) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
        g_dlg->SetProgressRange(40);
        g_dlg->SetProgressPos(10);
        g_dlg->ShowMessage("来自后台线程", dk::MessageIcon::Error);  // waits for the box
        dk::ReloadFileList(g_dir->Context(), *new dk::DesktopState(), *g_dlg);
        done = true;
    });
    for (int i = 0; i < 300 && !done; ++i) Pump(20);
    worker.join();
    Pump();
    ASSERT_EQ(g_boxes->texts.size(), 1u);
    EXPECT_EQ(g_boxes->texts[0], U8("来自后台线程"));
    EXPECT_TRUE(g_boxes->styles[0] & wxICON_ERROR);
    auto* gauge = dynamic_cast<wxGauge*>(Ctrl(IDC_PROGRESS));
    EXPECT_EQ(gauge->GetRange(), 40);
    EXPECT_EQ(gauge->GetValue(), 10);
    EXPECT_EQ(g_dlg->ItemCount(), 3);
}

TEST_F(WindowTest, RightClickMenuOpensTheRowsFolder) {
    auto* list = dynamic_cast<wxListCtrl*>(Ctrl(IDC_LIST_FILES));
    wxRect row;
    ASSERT_TRUE(list->GetItemRect(1, row));
    const wxPoint target = list->ClientToScreen(wxPoint(row.x + 120, row.y + row.height / 2));
    // While the menu is up, a timer clicks its only item, just below the pointer.
    wxTimer chooser;
    chooser.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        wxUIActionSimulator sim;
        sim.MouseMove(target + wxPoint(25, 12));
        wxTheApp->Yield(true);
        sim.MouseClick();
    });
    chooser.StartOnce(700);
    wxUIActionSimulator sim;
    sim.MouseMove(target);
    Pump(100);
    sim.MouseClick(wxMOUSE_BTN_RIGHT);
    Pump(1500);
    ASSERT_EQ(g_dir->shownInFolder.size(), 1u);
    EXPECT_EQ(g_dir->shownInFolder[0], "/var/www/b/b.mdb");
    EXPECT_TRUE(g_boxes->texts.empty());
}

TEST_F(WindowTest, SortArrowFollowsTheSortedColumn) {
    auto* list = dynamic_cast<wxListCtrl*>(Ctrl(IDC_LIST_FILES));
    EXPECT_EQ(list->GetSortIndicator(), 1);  // by file name, ascending, from the start
    EXPECT_TRUE(list->IsAscendingSortIndicator());
    wxListEvent click(wxEVT_LIST_COL_CLICK, IDC_LIST_FILES);
    click.m_col = 2;
    click.SetEventObject(list);
    list->ProcessWindowEvent(click);
    EXPECT_EQ(list->GetSortIndicator(), 2);
    EXPECT_FALSE(list->IsAscendingSortIndicator());
    click.m_col = 1;
    list->ProcessWindowEvent(click);
    EXPECT_EQ(list->GetSortIndicator(), 1);
    EXPECT_TRUE(list->IsAscendingSortIndicator());
}

// A screen reader announces a box by its title, not as "Information"; the label holds
// the text itself, without the word joiners that once kept a path on one line (they came
// along when the text was copied): the path is kept together by the label's attributes.
TEST_F(WindowTest, ABoxIsNamedByItsTitleAndHoldsItsTextAsGiven) {
    const std::string message = "已备份到“/var/backups/qor mdb-1/”目录。";
    ShownBox shown;
    wxTimer reader;
    reader.Bind(wxEVT_TIMER, [&](wxTimerEvent&) { shown = ReadAndCloseShownBox(); });
    reader.StartOnce(500);
    g_boxes->showBoxes = true;
    ShowMessageBox(g_dlg, message, dk::MessageIcon::Information);
    g_boxes->showBoxes = false;
    ASSERT_TRUE(shown.found);
    EXPECT_EQ(shown.title, "Veloran MDB 助手");
    EXPECT_EQ(shown.accessibleName, shown.title);
    EXPECT_EQ(shown.text, message);
    EXPECT_NE(shown.attributes.find("allow-breaks false"), std::string::npos) << shown.attributes;
}

TEST_F(WindowTest, ClearRecordsAskedNoThenYes) {
    g_boxes->answer = wxID_NO;
    wxCommandEvent clear(wxEVT_BUTTON, IDC_CLEAR_RECORDS);
    g_dlg->ProcessWindowEvent(clear);
    ASSERT_EQ(g_boxes->texts.size(), 1u);
    EXPECT_EQ(g_boxes->texts[0], U8("确定清空数据库中的日志记录吗？"));
    EXPECT_EQ(g_dlg->ItemCount(), 3);

    g_boxes->answer = wxID_YES;
    g_dlg->ProcessWindowEvent(clear);
    ASSERT_EQ(g_boxes->texts.size(), 3u);
    EXPECT_EQ(g_dlg->ItemCount(), 0);
    EXPECT_TRUE(g_boxes->texts[2].StartsWith(U8("数据库中的日志记录已经清空！")));
    // GTK gets LF line breaks.
    EXPECT_EQ(g_boxes->texts[2].Find('\r'), wxNOT_FOUND);
}

}  // namespace

class TestApp : public wxApp {
  public:
    bool OnInit() override { return true; }
};
wxIMPLEMENT_APP_NO_MAIN(TestApp);

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!wxEntryStart(argc, argv)) {
        std::fprintf(stderr, "no display\n");
        return 1;
    }
    wxTheApp->CallOnInit();
    g_dir = new ProgramDir();
    {
        auto db = g_dir->OpenDb();
        db->InsertRecord(MakeRecord("k-a", "/var/www/a/a.mdb", 70000));
        db->InsertRecord(MakeRecord("k-b", "/var/www/b/b.mdb", 80000));
        db->InsertRecord(MakeRecord("k-c", "/var/www/c/中文.mdb", 90000));
    }
    g_boxes = new BoxAnswerer();
    g_boxes->Register();
    g_dlg = new CMdbwardenDlg(g_dir->Context(), *new dk::DesktopState());
    wxTheApp->SetTopWindow(g_dlg);
    g_dlg->StartUp();
    g_dlg->Show();
    Pump(1500);
    const int rc = RUN_ALL_TESTS();
    std::fflush(nullptr);
    std::_Exit(rc);
}
