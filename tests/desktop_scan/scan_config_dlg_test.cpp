// The real scan settings window under a display (Xvfb in CTest): layout in dialog
// units, the saved list on opening, the focus rules, Esc, and how the confirm button
// ends or keeps the dialog. Message boxes are answered by a hook.
#include <gtest/gtest.h>

#include <wx/app.h>
#include <wx/button.h>
#include <wx/dirdlg.h>
#include <wx/init.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "common/text.h"
#include "desktop/scan_config.h"
#include "desktop/ui/scan_config_dlg.h"
#include "tests/desktop/program_dir.h"

namespace fs = std::filesystem;
namespace dk = mdb::desktop;
using mdb::desktop::testing::ProgramDir;

namespace {

wxString U8(const std::string& s) {
    return wxString::FromUTF8(s.data(), s.size());
}

// Answers message boxes from a queue (OK when empty) and lets every other dialog run.
class BoxAnswerer : public wxModalDialogHook {
  public:
    int Enter(wxDialog* dialog) override {
        if (dynamic_cast<wxDirDialog*>(dialog)) {
            ++folderPickers;
            return wxID_CANCEL;
        }
        auto* box = dynamic_cast<wxMessageDialog*>(dialog);
        if (!box) return wxID_NONE;
        texts.push_back(box->GetMessage());
        styles.push_back(box->GetMessageDialogStyle());
        if (answers.empty()) return wxID_OK;
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void Exit(wxDialog*) override {}
    std::vector<wxString> texts;
    std::vector<long> styles;
    std::deque<int> answers;
    int folderPickers = 0;
};

BoxAnswerer* g_boxes = nullptr;

void Pump(int ms = 150) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        wxTheApp->Yield(true);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void Click(wxWindow* button) {
    wxCommandEvent click(wxEVT_BUTTON, button->GetId());
    click.SetEventObject(button);
    button->GetEventHandler()->ProcessEvent(click);
}

class ScanConfigDlgTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_boxes->texts.clear();
        g_boxes->styles.clear();
        g_boxes->answers.clear();
        site = dir.Path() / "www";
        fs::create_directories(site);
    }

    // Runs the dialog modally; `script` runs inside its modal loop. A dialog still open
    // when the script ends is closed with wxID_ABORT.
    int RunModal(const std::function<void(CScanConfigDlg&)>& script) {
        CScanConfigDlg dlg(nullptr, dir.Context());
        dlg.CallAfter([&] {
            Pump(300);
            script(dlg);
            if (dlg.IsModal()) dlg.EndModal(wxID_ABORT);
        });
        return dlg.ShowModal();
    }

    ProgramDir dir;
    fs::path site;
};

TEST_F(ScanConfigDlgTest, LayoutInDialogUnits) {
    RunModal([](CScanConfigDlg& dlg) {
        EXPECT_EQ(dlg.GetTitle(), U8("文件扫描设置"));
        EXPECT_EQ(dlg.GetClientSize(), dlg.ConvertDialogToPixels(wxSize(399, 142)));
        struct Spec {
            int id;
            const char* label;
            wxRect dlu;
        };
        const Spec specs[] = {{wxID_OK, "开始扫描", {51, 105, 75, 21}},
                              {wxID_CANCEL, "取消", {176, 105, 75, 21}},
                              {IDC_SCAN_DIRS, nullptr, {13, 24, 283, 64}},
                              {IDC_CHOOSE_DIR, "选择目录", {308, 65, 75, 21}}};
        const wxWindowList& children = dlg.GetChildren();
        ASSERT_GE(children.size(), 5u);
        auto it = children.begin();
        for (const Spec& s : specs) {
            wxWindow* w = dlg.FindWindow(s.id);
            ASSERT_NE(w, nullptr) << s.id;
            EXPECT_EQ(*it++, w) << "tab order at " << s.id;
            EXPECT_EQ(w->GetPosition(), dlg.ConvertDialogToPixels(s.dlu.GetPosition()));
            EXPECT_EQ(w->GetSize(), dlg.ConvertDialogToPixels(s.dlu.GetSize()));
            if (s.label) {
                EXPECT_EQ(w->GetLabel(), U8(s.label));
            }
        }
        auto* label = dynamic_cast<wxStaticText*>(*it);
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->GetLabel(), U8("需要扫描的目录（每行填写一个目录名）"));
        EXPECT_EQ(label->GetPosition(), dlg.ConvertDialogToPixels(wxPoint(13, 10)));
        EXPECT_EQ(dlg.GetDefaultItem(), dlg.FindWindow(IDC_CHOOSE_DIR));
        auto* box = dynamic_cast<wxTextCtrl*>(dlg.FindWindow(IDC_SCAN_DIRS));
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(box->IsMultiLine());
        // The focus starts on the first tab stop.
        EXPECT_EQ(wxWindow::FindFocus(), dlg.FindWindow(wxID_OK));
    });
}

TEST_F(ScanConfigDlgTest, OpensWithTheSavedListAndEscDoesNotClose) {
    std::ofstream(dir.Path() / "config" / "ScanDir.txt", std::ios::binary)
        << "/srv/a\r\n\r\n\r\n/srv/b\r\n";
    const int result = RunModal([](CScanConfigDlg& dlg) {
        EXPECT_EQ(dlg.BoxText(), "/srv/a\n/srv/b\n");
        dlg.FindWindow(IDC_SCAN_DIRS)->SetFocus();
        Pump(200);
        wxUIActionSimulator sim;
        sim.Char(WXK_ESCAPE);
        Pump(400);
        EXPECT_TRUE(dlg.IsModal());
        EXPECT_TRUE(dlg.IsShown());
        // Cancel closes it, without saving.
        dynamic_cast<wxTextCtrl*>(dlg.FindWindow(IDC_SCAN_DIRS))->ChangeValue("/srv/c");
        Click(dlg.FindWindow(wxID_CANCEL));
        Pump(200);
        EXPECT_FALSE(dlg.IsModal());
    });
    EXPECT_EQ(result, wxID_CANCEL);
    EXPECT_EQ(ReadFile(dir.Path() / "config" / "ScanDir.txt"), "/srv/a\r\n\r\n\r\n/srv/b\r\n");
    EXPECT_TRUE(g_boxes->texts.empty());
}

TEST_F(ScanConfigDlgTest, FolderButtonOpensTheFolderPicker) {
    RunModal([](CScanConfigDlg& dlg) {
        auto* box = dynamic_cast<wxTextCtrl*>(dlg.FindWindow(IDC_SCAN_DIRS));
        box->ChangeValue("/srv/typed");
        g_boxes->folderPickers = 0;
        Click(dlg.FindWindow(IDC_CHOOSE_DIR));
        Pump(200);
        EXPECT_EQ(g_boxes->folderPickers, 1);
        // Cancelled: nothing changes, the dialog stays.
        EXPECT_EQ(box->GetValue(), "/srv/typed");
        EXPECT_TRUE(dlg.IsModal());
    });
}

TEST_F(ScanConfigDlgTest, ConfirmKeepsTheDialogOpenUntilYes) {
    const std::string good = site.string();
    const std::string missing = (site / "gone").string();
    const int result = RunModal([&](CScanConfigDlg& dlg) {
        auto* box = dynamic_cast<wxTextCtrl*>(dlg.FindWindow(IDC_SCAN_DIRS));
        box->ChangeValue(U8(missing));
        Click(dlg.FindWindow(wxID_OK));
        Pump(200);
        ASSERT_EQ(g_boxes->texts.size(), 1u);
        wxString expected = U8(mdb::FillPlaceholder(dk::kMsgScanDirMissing, missing));
        expected.Replace("\r\n", "\n");
        // The box keeps the quoted path on one line with word joiners after its '/'.
        wxString shown = g_boxes->texts[0];
        shown.Replace(wxString(wxUniChar(0x2060)), "");
        EXPECT_EQ(shown, expected);
        EXPECT_TRUE(g_boxes->styles[0] & wxICON_QUESTION);
        EXPECT_TRUE(dlg.IsModal());
        EXPECT_EQ(wxWindow::FindFocus(), box);

        // No at the final question: saved and shown cleaned up, still open.
        box->ChangeValue(U8("  " + good + "  \n\n" + good + "\n"));
        g_boxes->answers = {wxID_NO};
        Click(dlg.FindWindow(wxID_OK));
        Pump(200);
        EXPECT_TRUE(dlg.IsModal());
        EXPECT_EQ(dlg.BoxText(), U8(good + "\n"));
        EXPECT_EQ(g_boxes->texts.back(), U8(dk::kAskStartScan));
        EXPECT_TRUE(g_boxes->styles.back() & wxYES_NO);

        g_boxes->answers = {wxID_YES};
        Click(dlg.FindWindow(wxID_OK));
        Pump(200);
    });
    EXPECT_EQ(result, wxID_OK);
    EXPECT_EQ(ReadFile(dir.Path() / "config" / "ScanDir.txt"), good + "\r\n");
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
    g_boxes = new BoxAnswerer();
    g_boxes->Register();
    const int rc = RUN_ALL_TESTS();
    std::fflush(nullptr);
    std::_Exit(rc);
}
