// Handing files and addresses to Explorer on Windows: the command lines explorer.exe is
// started with, seen by a stand-in that CreateProcess finds first (in the current
// directory, before the system's).
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "desktop/record_commands.h"
#include "desktop/shell_open.h"
#include "desktop/site.h"
#include "platform/arguments.h"
#include "tests/desktop/fake_view.h"
#include "tests/desktop/program_dir.h"

namespace mdb::desktop::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class ExplorerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::copy_file(platform::PathFromUtf8(MDB_EXPLORER_STANDIN), dir.Path() / "explorer.exe");
        oldDir = fs::current_path();
        fs::current_path(dir.Path());
        ctx.openUrl = [](const std::string& url) { return OpenWithDesktop(url); };
        ctx.showFileInFolder = [](const std::string& path) { return ShowFileInFolder(path); };
    }
    void TearDown() override { fs::current_path(oldDir); }

    // The command lines the stand-in was started with, once `count` have arrived.
    std::string Calls(int count) {
        const fs::path log = dir.Path() / "explorer-calls.txt";
        std::string text;
        for (auto end = std::chrono::steady_clock::now() + 30s; std::chrono::steady_clock::now() < end;) {
            std::ifstream in(log, std::ios::binary);
            text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            if (std::count(text.begin(), text.end(), '\n') >= count) break;
            std::this_thread::sleep_for(50ms);
        }
        return text;
    }

    ProgramDir dir;
    fs::path oldDir;
    DesktopContext ctx = dir.Context();
    DesktopState state;
    FakeView view;
};

TEST_F(ExplorerTest, TheWebSiteAndTheFilesFolderAreHandedToExplorer) {
    OnOfficialSite(ctx, view);
    EXPECT_EQ(Calls(1), "explorer.exe " + HomePageUrl() + "\n");
    // The stored long-path form; Explorer takes the plain path, quoted for its blank.
    state.currentFile = "\\\\?\\z:\\wwwroot\\新 站点\\数据.mdb";
    OnOpenContainingFolder(ctx, state, view);
    EXPECT_EQ(Calls(2), "explorer.exe " + HomePageUrl() +
                            "\n"
                            "explorer.exe /select, \"z:\\wwwroot\\新 站点\\数据.mdb\"\n");
    EXPECT_TRUE(view.messages.empty());
}

}  // namespace
}  // namespace mdb::desktop::testing
