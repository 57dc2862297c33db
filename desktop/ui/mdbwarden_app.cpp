// mdbwarden: start-up of the desktop program.
#include <wx/app.h>
#include <wx/init.h>

#include <cstdio>
#include <cstdlib>

#include "common/eventlog.h"
#include "desktop/desktop_context.h"
#include "desktop/desktop_state.h"
#include "mdbwarden_dlg.h"

class CMdbwardenApp : public wxApp {
  public:
    bool OnInit() override {
        mdb::SetEventSource("mdbwarden");
        SetAppName("mdbwarden");
        // The state outlives the window on purpose: the background threads are never
        // joined and may still hold it while the process ends.
        auto* state = new mdb::desktop::DesktopState();
        auto* dlg = new CMdbwardenDlg(mdb::desktop::MakeProgramContext(), *state);
        SetTopWindow(dlg);
        dlg->InitDialog();
        dlg->Show();
        return true;
    }
};

wxIMPLEMENT_APP_NO_MAIN(CMdbwardenApp);

int main(int argc, char** argv) {
    if (!wxEntryStart(argc, argv)) {
        std::fputs(
            "mdbwarden: 无法连接图形显示（未设置 DISPLAY 或显示服务不可用），程序退出。\n"
            "mdbwarden: cannot open the display.\n",
            stderr);
        return 1;
    }
    int rc = 1;
    if (wxTheApp->CallOnInit()) rc = wxTheApp->OnRun();
    // Closing the window ends the process. The background threads run endless loops
    // and are not joined, so nothing is torn down under them.
    std::fflush(nullptr);
    std::_Exit(rc);
}
