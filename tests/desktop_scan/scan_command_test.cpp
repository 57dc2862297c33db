// The scan command through the fake view, with the real scanner copied into a
// temporary program directory and started for real: the question while a scan runs,
// ending it, the dropped compaction request, and the refusals before a start.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "common/settings.h"
#include "common/text.h"
#include "desktop/help_pages.h"
#include "desktop/scan_command.h"
#include "desktop/util/process_tools.h"
#include "platform/console_window.h"
#include "tests/desktop/fake_view.h"
#include "tests/desktop/program_dir.h"

namespace fs = std::filesystem;
using namespace mdb::desktop;
using mdb::desktop::testing::FakeView;
using mdb::desktop::testing::ProgramDir;
using mdb::platform::ConsoleLaunchCommand;
using mdb::platform::FindTerminalProgram;

namespace {

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

template <typename Pred>
bool WaitFor(Pred pred, std::chrono::seconds limit = std::chrono::seconds(30)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return pred();
}

class ScanCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::copy_file(fs::path(MDB_DIST_DIR) / "mdbscout", dir.Path() / "mdbscout");
        fs::copy_file(fs::path(MDB_SOURCE_DIR) / "desktop/res/help" / kPageScan,
                      dir.Path() / "config" / kPageScan);
        WriteManifest();

        site = dir.Path() / "www";
        fs::create_directories(site / "shop");
        fs::copy_file(fs::path(MDB_CORPUS_DIR) / "jet4" / "testV2000.mdb",
                      site / "shop" / "orders.mdb");
        std::ofstream(dir.Path() / "config" / "ScanDir.txt", std::ios::binary)
            << site.string() << "\r\n";

        ctx.compaction.desktop = dir.Context();
        ctx.compaction.runAndWait = [this](const std::vector<std::string>& argv) {
            waitedFor.push_back(argv);
            return 1;
        };
        ctx.findProcess = FindProgramProcess;
        ctx.endProcesses = EndProgramProcesses;
        ctx.startConsoleProgram = [this](const std::vector<std::string>& argv) {
            started.push_back(argv);
            return RunProgram(ConsoleLaunchCommand(argv, ""), 0) != 0;
        };
        iniPath = mdb::SettingsPathIn(dir.Dir());
    }
    void TearDown() override {
        EndProgramProcesses(Scanner());
        WaitFor([this] { return !ScannerRuns(); });
    }

    // Only this program directory's scanner counts: other tests and installations run
    // programs named mdbscout too.
    std::string Scanner() const { return dir.Dir() + "mdbscout"; }
    bool ScannerRuns() const { return FindProgramProcess(Scanner()) == 1; }

    void WriteManifest() {
        std::ofstream out(dir.Path() / kManifestFileName, std::ios::binary | std::ios::trunc);
        for (const std::string& rel :
             {std::string("mdbscout"), std::string("config/") + kPageScan}) {
            if (fs::exists(dir.Path() / rel))
                out << Sha256OfFile(dir.Path() / rel) << "  " << rel << "\n";
        }
    }

    // A compaction requested by its command and not yet taken up by the supervisor.
    void PostCompactionRequest() {
        ASSERT_EQ(mdb::WriteSettingKey(iniPath, mdb::kKeyCompactDatabase, "1"), 1);
        cs.compactRunning = 1;
    }

    ProgramDir dir;
    fs::path site;
    ScanContext ctx;
    CompactionState cs;
    DesktopState state;
    FakeView view;
    std::string iniPath;
    std::vector<std::vector<std::string>> started;
    std::vector<std::vector<std::string>> waitedFor;
};

TEST_F(ScanCommandTest, StartsTheScannerAndAsksWhileItScans) {
    view.scanConfigAnswers = {true};
    OnScanDatabases(ctx, cs, state, view);
    EXPECT_TRUE(view.messages.empty()) << view.messages[0].text;
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0], (std::vector<std::string>{dir.Dir() + "mdbscout", "/FileScan"}));
    ASSERT_EQ(view.navigations.size(), 1u);
    EXPECT_NE(view.navigations[0].find("/config/HelpScan.Dat?SessionId="), std::string::npos);

    // The scanner really runs and records the database; then it only counts down to
    // closing, which is no scan in progress: a press opens the settings again.
    ASSERT_TRUE(WaitFor([this] { return ScannerRuns(); }));
    ASSERT_TRUE(WaitFor([&] { return mdb::SettingIsSet(iniPath, mdb::kKeyRefScanLog); }));
    ASSERT_TRUE(WaitFor([&] { return mdb::SettingIsSet(iniPath, mdb::kKeyScanEnded); }));
    ASSERT_TRUE(ScannerRuns());
    OnScanDatabases(ctx, cs, state, view);
    EXPECT_TRUE(view.questions.empty());
    EXPECT_EQ(view.scanConfigRuns, 2);

    // While it scans (as it says until its scan is over), a press asks: Yes lets it go on.
    ASSERT_EQ(mdb::WriteSettingKey(iniPath, mdb::kKeyScanEnded, "0"), 1);
    view.answers = {true};
    OnScanDatabases(ctx, cs, state, view);
    ASSERT_EQ(view.questions.size(), 1u);
    EXPECT_EQ(view.questions[0], kAskScanRunning);
    EXPECT_EQ(view.scanConfigRuns, 2);
    EXPECT_TRUE(ScannerRuns());

    // No ends it, without reloading the list and without opening the settings.
    view.answers = {false};
    OnScanDatabases(ctx, cs, state, view);
    EXPECT_EQ(view.questions.size(), 2u);
    EXPECT_TRUE(WaitFor([this] { return !ScannerRuns(); }, std::chrono::seconds(10)));
    EXPECT_EQ(view.scanConfigRuns, 2);
    EXPECT_EQ(view.Replaces(), 0);
    EXPECT_EQ(started.size(), 1u);
    EXPECT_TRUE(view.messages.empty());
}

TEST_F(ScanCommandTest, AScanDuringACompactionSaysFirstThatItStopsIt) {
    // A request not yet taken up: No leaves it alone.
    PostCompactionRequest();
    view.answers = {false};
    OnScanDatabases(ctx, cs, state, view);
    ASSERT_EQ(view.questions.size(), 1u);
    EXPECT_EQ(view.questions[0], kAskScanWithdrawsRequest);
    EXPECT_EQ(view.scanConfigRuns, 0);
    EXPECT_EQ(mdb::ReadSettingKey(iniPath, mdb::kKeyCompactDatabase), 1u);
    EXPECT_EQ(cs.compactRunning, 1);

    // A batch under way: Yes, and the scan stops it after its current file.
    cs.batchActive = true;
    view.answers = {true};
    view.scanConfigAnswers = {true};
    OnScanDatabases(ctx, cs, state, view);
    ASSERT_EQ(view.questions.size(), 2u);
    EXPECT_EQ(view.questions[1], kAskScanStopsBatch);
    EXPECT_EQ(view.scanConfigRuns, 1);
    EXPECT_EQ(mdb::ReadSettingKey(iniPath, mdb::kKeyCompactDatabase), 0u);
    EXPECT_EQ(cs.compactRunning, 0);
    EXPECT_EQ(started.size(), 1u);
}

TEST_F(ScanCommandTest, AnotherInstallationsScannerIsNeitherCountedNorEnded) {
    ProgramDir other;
    const fs::path theirs = other.Path() / "mdbscout";
    fs::copy_file("/bin/sleep", theirs);
    ASSERT_EQ(RunProgram({theirs.string(), "60"}, 0), 1);
    ASSERT_EQ(FindProgramProcess(theirs.string()), 1);

    view.scanConfigAnswers = {false};
    OnScanDatabases(ctx, cs, state, view);
    EXPECT_TRUE(view.questions.empty());
    EXPECT_EQ(view.scanConfigRuns, 1);

    // With both running, No ends only this directory's scanner (still scanning, as it
    // says until its scan is over).
    ASSERT_EQ(RunProgram(ConsoleLaunchCommand({Scanner(), kScanArgument}, ""), 0), 1);
    ASSERT_TRUE(WaitFor([this] { return ScannerRuns(); }));
    ASSERT_TRUE(WaitFor([&] { return mdb::SettingIsSet(iniPath, mdb::kKeyScanEnded); }));
    ASSERT_EQ(mdb::WriteSettingKey(iniPath, mdb::kKeyScanEnded, "0"), 1);
    view.answers = {false};
    OnScanDatabases(ctx, cs, state, view);
    EXPECT_EQ(view.questions.size(), 1u);
    EXPECT_TRUE(WaitFor([this] { return !ScannerRuns(); }, std::chrono::seconds(10)));
    EXPECT_EQ(FindProgramProcess(theirs.string()), 1);
    EXPECT_EQ(EndProgramProcesses(theirs.string()), 1);
}

TEST_F(ScanCommandTest, CancelledSettingsChangeNothingButTheHelpPage) {
    PostCompactionRequest();
    view.answers = {true};
    view.scanConfigAnswers = {false};
    OnScanDatabases(ctx, cs, state, view);
    EXPECT_EQ(view.scanConfigRuns, 1);
    EXPECT_EQ(view.navigations.size(), 1u);
    EXPECT_TRUE(started.empty());
    EXPECT_EQ(mdb::ReadSettingKey(iniPath, mdb::kKeyCompactDatabase), 1u);
    EXPECT_EQ(cs.compactRunning, 1);
}

TEST_F(ScanCommandTest, MissingScannerIsReportedAfterTheCompactionWasCancelled) {
    fs::remove(dir.Path() / "mdbscout");
    PostCompactionRequest();
    view.answers = {true};
    view.scanConfigAnswers = {true};
    OnScanDatabases(ctx, cs, state, view);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text,
              mdb::FillPlaceholder(kMsgScannerMissing, dir.Dir() + "mdbscout"));
    EXPECT_EQ(view.messages[0].icon, MessageIcon::Error);
    EXPECT_EQ(mdb::ReadSettingKey(iniPath, mdb::kKeyCompactDatabase), 0u);
    EXPECT_EQ(cs.compactRunning, 0);
    EXPECT_TRUE(started.empty());
}

TEST_F(ScanCommandTest, AChangedScannerIsNotStarted) {
    std::ofstream(dir.Path() / "mdbscout", std::ios::binary | std::ios::app) << "tampered";
    view.scanConfigAnswers = {true};
    OnScanDatabases(ctx, cs, state, view);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].icon, MessageIcon::Error);
    EXPECT_NE(view.messages[0].text.find(dir.Dir() + "mdbscout"), std::string::npos);
    EXPECT_TRUE(started.empty());
    EXPECT_FALSE(ScannerRuns());
}

TEST_F(ScanCommandTest, StartFailureAndLookupFailure) {
    ctx.startConsoleProgram = [](const std::vector<std::string>&) { return false; };
    view.scanConfigAnswers = {true};
    OnScanDatabases(ctx, cs, state, view);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text,
              mdb::FillPlaceholder(kMsgScannerStartFailed, dir.Dir() + "mdbscout /FileScan"));
    EXPECT_EQ(view.messages[0].icon, MessageIcon::Error);

    view.messages.clear();
    ctx.findProcess = [](const std::string&) { return 0; };
    OnScanDatabases(ctx, cs, state, view);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, mdb::FillPlaceholder(kMsgScanLookupFailed, "mdbscout"));
    EXPECT_EQ(view.messages[0].icon, MessageIcon::Question);
    EXPECT_EQ(view.scanConfigRuns, 1);
}

TEST_F(ScanCommandTest, NoProgramDirectoryOrHelpPage) {
    DesktopContext blind;
    blind.exeDirectory = [](std::string&) { return 0; };
    ScanContext noDir = ctx;
    noDir.compaction.desktop = blind;
    OnScanDatabases(noDir, cs, state, view);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, "获取EXE文件路劲失败，请重试！");
    EXPECT_EQ(view.messages[0].icon, MessageIcon::Error);

    // Without its help page the command ends after ShowLocalPage's own message.
    view.messages.clear();
    fs::remove(dir.Path() / "config" / kPageScan);
    view.scanConfigAnswers = {true};
    OnScanDatabases(ctx, cs, state, view);
    EXPECT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.scanConfigRuns, 0);
    EXPECT_TRUE(started.empty());
}

// ---- starting in a console of its own ------------------------------------------

TEST(ConsoleLaunch, TerminalWhenThereIsOneElseDetachedWithBlanksIntact) {
    ProgramDir terms;
    const fs::path plain = terms.Path() / "someterm";
    const fs::path xterm = terms.Path() / "xterm";
    const fs::path wrapper = terms.Path() / "x-terminal-emulator";
    std::ofstream(plain) << "#!/bin/sh\n";
    std::ofstream(xterm) << "#!/bin/sh\n";
    fs::create_symlink(xterm, wrapper);
    EXPECT_EQ(ConsoleLaunchCommand({"/opt/a b/mdbscout", "/FileScan"}, plain.string()),
              (std::vector<std::string>{plain.string(), "-e", "/opt/a b/mdbscout", "/FileScan"}));
    // An xterm, also behind the alternatives link, gets a title and a font with Chinese.
    const std::vector<std::string> xtermArgs = {
        "-T", "mdbscout",          "-u8",      "-fa", "Monospace", "-fs", "11",
        "-e", "/opt/a b/mdbscout", "/FileScan"};
    for (const fs::path& t : {xterm, wrapper}) {
        std::vector<std::string> expected = {t.string()};
        expected.insert(expected.end(), xtermArgs.begin(), xtermArgs.end());
        EXPECT_EQ(ConsoleLaunchCommand({"/opt/a b/mdbscout", "/FileScan"}, t.string()), expected);
    }

    ProgramDir dir;
    const fs::path blanks = dir.Path() / "site dir";
    fs::create_directories(blanks);
    const fs::path script = blanks / "show args";
    const fs::path out = dir.Path() / "args.txt";
    std::ofstream(script) << "#!/bin/sh\necho chatter\nprintf '%s|' \"$#\" \"$@\" > '"
                          << out.string() << ".tmp'\nmv '" << out.string() << ".tmp' '"
                          << out.string() << "'\n";
    fs::permissions(script, fs::perms::owner_all);
    const std::vector<std::string> command =
        ConsoleLaunchCommand({script.string(), "/FileScan"}, "");
    ASSERT_EQ(RunProgram(command, 1), 1);
    EXPECT_EQ(ReadFile(out), "1|/FileScan|");
}

TEST(ConsoleLaunch, FindsTheFirstTerminalOnThePath) {
    ProgramDir dir;
    const fs::path a = dir.Path() / "a", b = dir.Path() / "b";
    fs::create_directories(a);
    fs::create_directories(b);
    std::ofstream(a / "xterm") << "#!/bin/sh\n";
    std::ofstream(b / "x-terminal-emulator") << "#!/bin/sh\n";
    const std::string path = "relative:" + a.string() + ":" + b.string();
    // Not executable: not a terminal.
    EXPECT_EQ(FindTerminalProgram(path), "");
    fs::permissions(a / "xterm", fs::perms::owner_all);
    EXPECT_EQ(FindTerminalProgram(path), (a / "xterm").string());
    fs::permissions(b / "x-terminal-emulator", fs::perms::owner_all);
    EXPECT_EQ(FindTerminalProgram(path), (b / "x-terminal-emulator").string());
    EXPECT_EQ(FindTerminalProgram(""), "");
}

}  // namespace
