// Handing files and addresses to Explorer on Windows: the command lines explorer.exe is
// started with, seen by a stand-in started by its full path as the system's Explorer is.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <utility>

#include "desktop/record_commands.h"
#include "desktop/site.h"
#include "platform/arguments.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "tests/desktop/fake_view.h"
#include "tests/desktop/program_dir.h"

namespace mdb::desktop::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class ExplorerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        oldDir = fs::current_path();
        fs::current_path(dir.Path());  // where the stand-in writes its log
        ctx.openUrl = [this](const std::string& url, StopSignal*) { return platform::OpenInExplorer(standin, url); };
        ctx.showFileInFolder = [this](const std::string& path, StopSignal*) {
            return platform::ShowInExplorer(standin, path);
        };
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

    const std::string standin = platform::Utf8OfPath(fs::path(MDB_EXPLORER_STANDIN).make_preferred());
    ProgramDir dir;
    fs::path oldDir;
    DesktopContext ctx = dir.Context();
    DesktopState state;
    FakeView view;
};

TEST_F(ExplorerTest, TheWebSiteAndTheFilesFolderAreHandedToExplorerInQuotes) {
    // One call at a time: the stand-ins would append to the log in any order.
    const std::string program = "\"" + standin + "\" ";
    OnOfficialSite(ctx, view);
    std::string expected = program + "\"" + HomePageUrl() + "\"\n";
    EXPECT_EQ(Calls(1), expected);
    // The stored long-path form; Explorer gets the plain path in quotes, which keep it
    // whole at a comma as at a blank.
    const std::pair<const char*, const char*> files[] = {
        {"\\\\?\\z:\\wwwroot\\商城,旧\\数据.mdb", "z:\\wwwroot\\商城,旧\\数据.mdb"},
        {"z:\\wwwroot\\新 站点\\数据.mdb", "z:\\wwwroot\\新 站点\\数据.mdb"}};
    int count = 1;
    for (const auto& [stored, shown] : files) {
        state.currentFile = stored;
        OnOpenContainingFolder(ctx, state, view);
        expected += program + "/select, \"" + shown + "\"\n";
        EXPECT_EQ(Calls(++count), expected);
    }
    EXPECT_TRUE(view.messages.empty());
}

// The system's Explorer is the one in the Windows directory, never a program of that name
// in the current or program directory.
TEST(SystemExplorer, IsTheOneInTheWindowsDirectory) {
    const char* windows = std::getenv("SystemRoot");
    ASSERT_NE(windows, nullptr);
    EXPECT_TRUE(platform::SamePathText(platform::ExplorerPath(),
                                       std::string(windows) + "\\explorer.exe"))
        << platform::ExplorerPath();
    EXPECT_TRUE(fs::is_regular_file(platform::PathFromUtf8(platform::ExplorerPath())));
}

}  // namespace
}  // namespace mdb::desktop::testing
