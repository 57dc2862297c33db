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
    ProgramDir dir;
    const fs::path dist = fs::path(MDB_DIST_DIR).make_preferred();
    // The shipped files, byte for byte, so the shipped manifest vouches for them.
    for (const fs::path& rel : {fs::path(kScannerProgram), fs::path("config") / kPageScan,
                               fs::path(kManifestFileName)})
        fs::copy_file(dist / rel, dir.Path() / rel, fs::copy_options::overwrite_existing);
    const fs::path site = dir.Path() / "www";
    fs::create_directories(site);
    fs::copy_file(fs::path(MDB_CORPUS_DIR) / "jet4" / "testV2000.mdb", site / "orders.mdb");
    std::ofstream(dir.Path() / "config" / "ScanDir.txt", std::ios::binary)
        << site.string() << "\r\n";

    CompactionContext compaction;
    compaction.desktop = dir.Context();
    compaction.runAndWait = [](const std::vector<std::string>&) { return 1; };
    const ScanContext ctx = MakeProgramScanContext(compaction);
    CompactionState cs;
    DesktopState state;
    FakeView view;
    const std::string scanner = dir.Dir() + kScannerProgram;
    const auto runs = [&] { return FindProgramProcess(scanner) == 1; };

    view.scanConfigAnswers = {true};
    OnScanDatabases(ctx, cs, state, view);
    ASSERT_TRUE(view.messages.empty()) << view.messages[0].text;
    ASSERT_TRUE(WaitFor(runs, std::chrono::seconds(60)));
    // It scans (the list watcher's signal) and then counts down for 30 seconds.
    const std::string ini = SettingsPathIn(dir.Dir());
    EXPECT_TRUE(WaitFor([&] { return SettingIsSet(ini, kKeyRefScanLog); },
                        std::chrono::seconds(20)));

    view.answers = {true};
    OnScanDatabases(ctx, cs, state, view);
    ASSERT_EQ(view.questions.size(), 1u);
    EXPECT_EQ(view.questions[0], kAskScanRunning);
    EXPECT_TRUE(runs());

    view.answers = {false};
    OnScanDatabases(ctx, cs, state, view);
    EXPECT_EQ(view.questions.size(), 2u);
    EXPECT_TRUE(WaitFor([&] { return !runs(); }, std::chrono::seconds(10)));
    EXPECT_EQ(view.scanConfigRuns, 1);
    EXPECT_TRUE(view.messages.empty());
    EndProgramProcesses(scanner);
}

}  // namespace
}  // namespace mdb::desktop
