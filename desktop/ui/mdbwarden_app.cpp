// mdbwarden: start-up of the desktop program.
#include <wx/app.h>
#include <wx/init.h>
#include <wx/intl.h>
#include <wx/stdpaths.h>
#include <wx/translation.h>
#include <wx/filename.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <cstdlib>

#include "common/eventlog.h"
#include "common/i18n.h"
#include "desktop/desktop_context.h"
#include "desktop/desktop_state.h"
#include "mdbwarden_dlg.h"

class CMdbwardenApp : public wxApp {
  public:
    bool OnInit() override {
        mdb::SetEventSource("mdbwarden");
        SetAppName("mdbwarden");
        UseUserLanguage();
        auto* dlg = new CMdbwardenDlg(mdb::desktop::MakeProgramContext(), state_);
        SetTopWindow(dlg);
        dlg->StartUp();
        dlg->Show();
        return true;
    }

  private:
    // The user's language for the commands' texts (common/i18n) and, through wx's own
    // translations, for the window's texts and wx's own (its catalog wxstd, when the
    // system has it for that language): both read locale/<language>/LC_MESSAGES of the
    // program directory.
    static void UseUserLanguage() {
        const wxString exe = wxStandardPaths::Get().GetExecutablePath();
        const std::string programDir = wxFileName(exe).GetPath().utf8_string();
        const std::string language = mdb::i18n::UseUserLanguage(programDir);
        wxFileTranslationsLoader::AddCatalogLookupPathPrefix(
            wxString::FromUTF8(programDir + "/locale"));
        auto* translations = new wxTranslations;
        translations->SetLanguage(wxString::FromUTF8(language));
        translations->AddStdCatalog();
        translations->AddCatalog(mdb::i18n::kDomain, wxLANGUAGE_CHINESE_SIMPLIFIED);
        wxTranslations::Set(translations);
    }

    // Outlives the window and the threads it joins when it closes.
    mdb::desktop::DesktopState state_;
};

wxIMPLEMENT_APP_NO_MAIN(CMdbwardenApp);

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("mdbwarden %s\n", MDB_VERSION);
        return 0;
    }
    // GTK's own dialogs (the folder picker) speak the user's language; wx keeps the C
    // locale for everything else, so only the messages category follows the user's.
    std::setlocale(LC_MESSAGES, "");
    if (!wxEntryStart(argc, argv)) {
        std::fputs(
            "mdbwarden: 无法连接图形显示（未设置 DISPLAY 或显示服务不可用），程序退出。\n"
            "mdbwarden: cannot open the display.\n",
            stderr);
        return 1;
    }
    int rc = 1;
    if (wxTheApp->CallOnInit()) rc = wxTheApp->OnRun();
    // Closing the window has joined the background threads; the process ends without
    // tearing down the toolkit (WebKit's helper processes go with it).
    std::fflush(nullptr);
    std::_Exit(rc);
}
