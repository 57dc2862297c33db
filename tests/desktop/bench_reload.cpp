// Times ReloadFileList of 10,000 records: reading them from FileInfo.dat and filling
// the real list of the main window. Needs a display (scripts/bench-reload runs it
// under Xvfb).
#include <wx/app.h>
#include <wx/init.h>
#include <wx/listctrl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "desktop/file_info_access.h"
#include "desktop/file_list.h"
#include "desktop/ui/mdbwarden_dlg.h"
#include "program_dir.h"

namespace dk = mdb::desktop;

namespace {

class NullView : public dk::MainView {
  public:
    void ShowMessage(const std::string&, dk::MessageIcon) override {}
    bool AskYesNo(const std::string&) override { return false; }
    void ShowNotice(const std::string&) override {}
    void CloseNotice() override {}
    void ReplaceRows(std::vector<dk::ListRow> r) override { rows = std::move(r); }
    int ItemCount() override { return static_cast<int>(rows.size()); }
    bool IsChecked(int) override { return false; }
    void SetChecked(int, bool) override {}
    std::string ColumnText(int, int) override { return {}; }
    std::vector<dk::ListRow> CheckedRows() override { return {}; }
    void SetProgressRange(int) override {}
    void SetProgressPos(int) override {}
    void SetPaneText(const std::string&) override {}
    void ShowHelpPaneInsteadOfText() override {}
    void NavigateHelp(const std::string&) override {}
    bool RunCompactConfirmDialog(const std::vector<std::string>&) override { return false; }
    bool RunScanConfigDialog() override { return false; }
    void ShowSortArrow(int, bool) override {}
    void SetRowTooltip(const std::string&) override {}
    void ShowHelpHtml(const std::string&) override {}
    std::vector<dk::ListRow> rows;
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

class BenchApp : public wxApp {
  public:
    bool OnInit() override { return true; }
};
wxIMPLEMENT_APP_NO_MAIN(BenchApp);

int main(int argc, char** argv) {
    const int rowCount = 10000;
    const int runs = 7;
    mdb::desktop::testing::ProgramDir dir;
    {
        auto db = dir.OpenDb();
        db->Begin();
        for (int i = 0; i < rowCount; ++i) {
            char path[128];
            std::snprintf(path, sizeof path, "/var/www/site%03d/App_Data/数据库_%05d.mdb", i % 250,
                          (i * 7919) % rowCount);
            auto r = mdb::desktop::testing::MakeRecord("0_20261208013700_" + std::to_string(i),
                                                       path, 70000 + 4096ull * i);
            if (i % 3 == 0) {
                r.compactDatabase = "1";
                r.filesize2 = r.filesize / 2;
            }
            db->InsertRecord(r);
        }
        db->Commit();
    }
    auto ctx = dir.Context();

    // Data part alone: read, sort and format.
    std::vector<double> dataMs;
    {
        dk::DesktopState state;
        NullView view;
        for (int k = 0; k < runs; ++k) {
            const auto t0 = std::chrono::steady_clock::now();
            dk::ReloadFileList(ctx, state, view);
            dataMs.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                    .count());
        }
        if (view.ItemCount() != rowCount) {
            std::fprintf(stderr, "expected %d rows, got %d\n", rowCount, view.ItemCount());
            return 1;
        }
    }

    if (!wxEntryStart(argc, argv)) {
        std::fprintf(stderr, "no display: only the data part was measured\n");
        std::printf("reload data part (median of %d): %.1f ms\n", runs, Median(dataMs));
        return 2;
    }
    wxTheApp->CallOnInit();
    auto* state = new dk::DesktopState();
    auto* dlg = new CMdbwardenDlg(ctx, *state);
    dlg->Show();
    wxTheApp->Yield(true);

    std::vector<double> fullMs;
    for (int k = 0; k < runs; ++k) {
        const auto t0 = std::chrono::steady_clock::now();
        dk::ReloadFileList(ctx, *state, *dlg);
        fullMs.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                .count());
        wxTheApp->Yield(true);
    }
    const int shown = dlg->ItemCount();
    std::printf("rows in the list: %d\n", shown);
    std::printf("reload data part (median of %d): %.1f ms\n", runs, Median(dataMs));
    std::printf("reload into the wx list (median of %d): %.1f ms (min %.1f, max %.1f)\n", runs,
                Median(fullMs), *std::min_element(fullMs.begin(), fullMs.end()),
                *std::max_element(fullMs.begin(), fullMs.end()));
    std::fflush(stdout);
    std::_Exit(shown == rowCount ? 0 : 1);
}
