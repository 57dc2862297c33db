// Sends real X input to whatever window is under the pointer or has the focus, the
// way a user's mouse and keyboard would (for the end-to-end run under Xvfb).
//   x_input click X Y | type TEXT | key return|tab|space|escape|alt+y ...
// Several commands may follow each other; each is given some time to take effect.
#include <wx/app.h>
#include <wx/uiaction.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

void Settle(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        if (wxTheApp) wxTheApp->Yield(true);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool Key(wxUIActionSimulator& sim, const std::string& name) {
    int modifiers = wxMOD_NONE;
    std::string key = name;
    if (key.rfind("alt+", 0) == 0) {
        modifiers = wxMOD_ALT;
        key = key.substr(4);
    } else if (key.rfind("shift+", 0) == 0) {
        modifiers = wxMOD_SHIFT;
        key = key.substr(6);
    }
    int code = 0;
    if (key == "return")
        code = WXK_RETURN;
    else if (key == "tab")
        code = WXK_TAB;
    else if (key == "space")
        code = WXK_SPACE;
    else if (key == "escape")
        code = WXK_ESCAPE;
    else if (key == "left")
        code = WXK_LEFT;
    else if (key == "right")
        code = WXK_RIGHT;
    else if (key == "down")
        code = WXK_DOWN;
    else if (key.size() == 1)
        code = static_cast<unsigned char>(key[0]);
    else
        return false;
    return sim.Char(code, modifiers);
}

class InputApp : public wxApp {
  public:
    bool OnInit() override {
        wxUIActionSimulator sim;
        int i = 1;
        while (i < argc) {
            const std::string cmd = argv[i].ToStdString();
            bool ok = false;
            if (cmd == "click" && i + 2 < argc) {
                const int x = std::atoi(argv[i + 1].mb_str());
                const int y = std::atoi(argv[i + 2].mb_str());
                sim.MouseMove(x, y);
                Settle(150);
                ok = sim.MouseClick();
                i += 3;
            } else if (cmd == "type" && i + 1 < argc) {
                ok = sim.Text(argv[i + 1].mb_str());
                i += 2;
            } else if (cmd == "key" && i + 1 < argc) {
                ok = Key(sim, argv[i + 1].ToStdString());
                i += 2;
            } else {
                std::fprintf(stderr, "x_input: cannot do '%s'\n", cmd.c_str());
                exitCode_ = 2;
                return false;
            }
            if (!ok) {
                std::fprintf(stderr, "x_input: '%s' failed\n", cmd.c_str());
                exitCode_ = 1;
                return false;
            }
            Settle(300);
        }
        return false;  // nothing to run: done
    }
    int OnRun() override { return exitCode_; }
    int OnExit() override { return exitCode_; }
    int exitCode_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    auto* app = new InputApp();
    wxApp::SetInstance(app);
    if (!wxEntryStart(argc, argv)) return 3;
    app->CallOnInit();
    const int rc = app->exitCode_;
    wxEntryCleanup();
    return rc;
}
