// Showing a file in its folder: the D-Bus call of the file manager, else xdg-open
// on the folder. Stand-in programs on PATH record how they were called.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "desktop/thread_start.h"
#include "platform/shell.h"
#include "program_dir.h"

namespace mdb::desktop::testing {
namespace {

namespace fs = std::filesystem;
using platform::FileUri;
using platform::OpenWithDesktop;
using platform::ShowFileInFolder;

TEST(FileUri, EncodesEverythingOutsideTheUnreservedSet) {
    EXPECT_EQ(FileUri("/var/www/a b/数.mdb"), "file:///var/www/a%20b/%E6%95%B0.mdb");
    EXPECT_EQ(FileUri("/x/'q'\"&%.mdb"), "file:///x/%27q%27%22%26%25.mdb");
}

class ShowFileInFolderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        bin = dir.Path() / "bin";
        fs::create_directories(bin);
        oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
        setenv("PATH", (bin.string() + ":" + oldPath).c_str(), 1);
    }
    void TearDown() override { setenv("PATH", oldPath.c_str(), 1); }

    // A stand-in that appends its arguments (one per line) to a log and exits with `rc`
    // (after `seconds`).
    void FakeProgram(const std::string& name, int rc, const std::string& seconds = "0") {
        const fs::path p = bin / name;
        std::ofstream(p) << "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\" >> '"
                         << (dir.Path() / (name + ".log")).string() << "'; done\nsleep " << seconds
                         << "\nexit " << rc << "\n";
        chmod(p.c_str(), 0755);
    }
    std::string Log(const std::string& name, int waitMs = 0) {
        const fs::path p = dir.Path() / (name + ".log");
        for (int i = 0; i < waitMs / 20 && !fs::exists(p); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(waitMs ? 50 : 0));
        std::ifstream in(p);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

    ProgramDir dir;
    fs::path bin;
    std::string oldPath;
};

TEST_F(ShowFileInFolderTest, AskesTheFileManagerOverDBus) {
    FakeProgram("gdbus", 0);
    FakeProgram("xdg-open", 0);
    EXPECT_TRUE(ShowFileInFolder("/var/www/a b/数.mdb"));
    const std::string log = Log("gdbus");
    EXPECT_NE(log.find("org.freedesktop.FileManager1.ShowItems\n"), std::string::npos) << log;
    EXPECT_NE(log.find("['file:///var/www/a%20b/%E6%95%B0.mdb']\n"), std::string::npos) << log;
    EXPECT_EQ(Log("xdg-open", 300), "");
}

TEST_F(ShowFileInFolderTest, FallsBackToOpeningTheFolder) {
    FakeProgram("gdbus", 1);
    FakeProgram("xdg-open", 0);
    EXPECT_TRUE(ShowFileInFolder("/var/www/a b/数.mdb"));
    EXPECT_EQ(Log("xdg-open", 3000), "/var/www/a b\n");
}

TEST_F(ShowFileInFolderTest, AnOpenerThatFailsSlowlyFailsAndAWindowClosingStopsTheWait) {
    // On a loaded machine xdg-open took about 3 s to fail.
    FakeProgram("gdbus", 1);
    FakeProgram("xdg-open", 4, "2.6");
    EXPECT_FALSE(ShowFileInFolder("/var/www/a/a.mdb"));

    // Given up (the window closes): no verdict, so no failure to report.
    FakeProgram("xdg-open", 4, "3");
    StopSignal closing;
    std::thread closer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        closing.Signal();
    });
    EXPECT_TRUE(OpenWithDesktop("/var/www/a", [&] { return closing.WaitFor(std::chrono::milliseconds(0)); }));
    closer.join();
}

}  // namespace
}  // namespace mdb::desktop::testing
