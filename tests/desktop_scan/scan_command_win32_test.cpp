// The scan button on Windows, with the real mdbscout.exe copied into a temporary program
// directory: started in a console window of its own, found running through the process
// snapshot by its full path, left running on Yes and ended on No.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "common/settings.h"
#include "desktop/help_pages.h"
#include "desktop/scan_command.h"
#include "platform/arguments.h"
#include "tests/desktop/fake_view.h"
#include "tests/desktop/program_dir.h"

namespace mdb::desktop {
namespace {

namespace fs = std::filesystem;
using testing::FakeView;
using testing::ProgramDir;

template <typename Pred>
bool WaitFor(Pred pred, std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return pred();
}

TEST(ScanCommandOnWindows, StartsTheScannerInAConsoleOfItsOwnAndEndsItOnNo) {
    ProgramDir base;
    // A program directory with a Chinese name, as administrators name theirs.
    const fs::path prog = base.Path() / platform::PathFromUtf8("网站工具");
    const std::string progDir = platform::Utf8OfPath(prog) + "\\";
    fs::create_directories(prog / "config");
    const fs::path dist = fs::path(MDB_DIST_DIR).make_preferred();
    // The shipped files, byte for byte, so the shipped manifest vouches for them.
    for (const fs::path& rel : {fs::path(kScannerProgram), fs::path("config") / kPageScan,
                               fs::path(kManifestFileName)})
        fs::copy_file(dist / rel, prog / rel, fs::copy_options::overwrite_existing);
    const fs::path site = prog / "www";
    fs::create_directories(site);
    fs::copy_file(fs::path(MDB_CORPUS_DIR) / "jet4" / "testV2000.mdb", site / "orders.mdb");
    std::ofstream(prog / "config" / "ScanDir.txt", std::ios::binary)
        << platform::SystemCodePageFromUtf8(platform::Utf8OfPath(site)) << "\r\n";

    CompactionContext compaction;
    compaction.desktop = base.Context();
    compaction.desktop.exeDirectory = [&](std::string& out) {
        out = progDir;
        return 1;
    };
    compaction.runAndWait = [](const std::vector<std::string>&) { return 1; };
    const ScanContext ctx = MakeProgramScanContext(compaction);
    CompactionState cs;
    DesktopState state;
    FakeView view;
    const std::string scanner = progDir + kScannerProgram;
    const auto runs = [&] { return FindProgramProcess(scanner) == 1; };

    view.scanConfigAnswers = {true};
    OnScanDatabases(ctx, cs, state, view);
    ASSERT_TRUE(view.messages.empty()) << view.messages[0].text;
    ASSERT_TRUE(WaitFor(runs, std::chrono::seconds(60)));
    // It scans (the list watcher's signal) and then counts down for 30 seconds.
    const std::string ini = SettingsPathIn(progDir);
    EXPECT_TRUE(WaitFor([&] { return SettingIsSet(ini, kKeyRefScanLog); },
                        std::chrono::seconds(20)));
    // Counting down is no scan in progress: the settings open again.
    ASSERT_TRUE(WaitFor([&] { return SettingIsSet(ini, kKeyScanEnded); }, std::chrono::seconds(20)));
    OnScanDatabases(ctx, cs, state, view);
    EXPECT_TRUE(view.questions.empty());
    EXPECT_EQ(view.scanConfigRuns, 2);

    // While it scans (as it says until its scan is over), a press asks.
    ASSERT_EQ(WriteSettingKey(ini, kKeyScanEnded, "0"), 1);
    view.answers = {true};
    OnScanDatabases(ctx, cs, state, view);
    ASSERT_EQ(view.questions.size(), 1u);
    EXPECT_EQ(view.questions[0], kAskScanRunning);
    EXPECT_TRUE(runs());

    view.answers = {false};
    OnScanDatabases(ctx, cs, state, view);
    EXPECT_EQ(view.questions.size(), 2u);
    EXPECT_TRUE(WaitFor([&] { return !runs(); }, std::chrono::seconds(10)));
    EXPECT_EQ(view.scanConfigRuns, 2);
    EXPECT_TRUE(view.messages.empty());
    EndProgramProcesses(scanner);
}

}  // namespace
}  // namespace mdb::desktop
