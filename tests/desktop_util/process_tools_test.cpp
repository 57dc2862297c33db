#include "desktop/util/process_tools.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

namespace mdb::desktop {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

// Waits (bounded) for `condition` to become true.
template <typename Condition>
bool Eventually(Condition condition, std::chrono::seconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return condition();
}

// A copy of a system program under a name no other process on the machine has.
fs::path CopyProgram(const fs::path& dir, const char* source, const std::string& stem) {
    fs::create_directories(dir);
    const fs::path target = dir / (stem + std::to_string(getpid()));
    fs::copy_file(source, target, fs::copy_options::overwrite_existing);
    fs::permissions(target, fs::perms::owner_all, fs::perm_options::add);
    return target;
}

fs::path WriteScript(const fs::path& path, const std::string& body) {
    fs::create_directories(path.parent_path());
    WriteBytes(path, "#!/bin/sh\n" + body);
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add);
    return path;
}

// Zombie children of this test process (started and ended, never collected).
int ZombieChildren() {
    int count = 0;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string pid = entry.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream in(entry.path() / "stat");
        std::string stat;
        try {
            stat.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        } catch (const std::ios_base::failure&) {
            continue;  // the process ended while it was read
        }
        const auto close = stat.rfind(')');
        if (close == std::string::npos || close + 2 >= stat.size()) continue;
        char state = 0;
        int ppid = 0;
        if (std::sscanf(stat.c_str() + close + 2, "%c %d", &state, &ppid) == 2 &&
            ppid == getpid() && state == 'Z') {
            ++count;
        }
    }
    return count;
}

struct CapturedReports {
    std::vector<std::string> messages;
    ProcessToolOptions Options(const fs::path& root) {
        ProcessToolOptions options;
        options.processRoot = root.string();
        options.report = [this](const std::string& m) { messages.push_back(m); };
        return options;
    }
};

TEST(ProcessTools, FindsAndEndsEveryProcessOfAName) {
    TempDir tmp;
    const fs::path sleeper = CopyProgram(tmp / "dir with blanks", "/bin/sleep", "mdbwslp");
    const std::string name = sleeper.filename().string();
    ASSERT_EQ(qorGetProcessList(name), 2);

    const std::vector<std::string> argv{sleeper.string(), "60"};
    ASSERT_EQ(RunProgram(argv, 0), 1);
    ASSERT_EQ(RunProgram(argv, 0), 1);
    EXPECT_EQ(qorGetProcessList(name), 1);
    // Names are compared exactly, as the file system does.
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(qorGetProcessList(upper), 2);
    EXPECT_EQ(qorTerminateProcess(upper), 2);

    EXPECT_EQ(qorTerminateProcess(name), 1);
    EXPECT_EQ(qorGetProcessList(name), 2);
    EXPECT_EQ(qorTerminateProcess(name), 2);
}

TEST(ProcessTools, OnlyTheGivenProgramFileCountsAndEnds) {
    TempDir tmp;
    // Two installations of a program of the same name.
    const fs::path mine = CopyProgram(tmp / "ours", "/bin/sleep", "mdbwtwin");
    const fs::path theirs = CopyProgram(tmp / "theirs", "/bin/sleep", "mdbwtwin");
    const std::string name = mine.filename().string();
    fs::create_directory_symlink(tmp / "ours", tmp / "link");
    ProcessToolOptions onlyMine;
    onlyMine.executable = mine.string();
    ProcessToolOptions viaLink;  // the same file, reached through a linked directory
    viaLink.executable = (tmp / "link" / name).string();

    ASSERT_EQ(RunProgram({theirs.string(), "60"}, 0), 1);
    ASSERT_EQ(qorGetProcessList(name), 1);
    EXPECT_EQ(qorGetProcessList(name, onlyMine), 2);
    EXPECT_EQ(qorTerminateProcess(name, onlyMine), 2);

    ASSERT_EQ(RunProgram({mine.string(), "60"}, 0), 1);
    EXPECT_EQ(qorGetProcessList(name, viaLink), 1);
    EXPECT_EQ(qorTerminateProcess(name, viaLink), 1);
    EXPECT_EQ(qorGetProcessList(name, onlyMine), 2);
    // The other installation's program still runs.
    EXPECT_EQ(qorGetProcessList(name), 1);
    EXPECT_EQ(qorTerminateProcess(name), 1);
}

TEST(ProcessTools, FindsAProgramWhoseFileWasRemovedWhileItRuns) {
    TempDir tmp;
    const fs::path sleeper = CopyProgram(tmp.path(), "/bin/sleep", "mdbwgone");
    const std::string name = sleeper.filename().string();
    ASSERT_EQ(RunProgram({sleeper.string(), "60"}, 0), 1);
    fs::remove(sleeper);
    EXPECT_EQ(qorGetProcessList(name), 1);
    EXPECT_EQ(qorTerminateProcess(name), 1);
    EXPECT_EQ(qorGetProcessList(name), 2);
}

TEST(ProcessTools, KillsAProcessThatIgnoresTheRequestToEnd) {
    TempDir tmp;
    const fs::path shell = CopyProgram(tmp.path(), "/bin/sh", "mdbwsh");
    const fs::path sleeper = CopyProgram(tmp.path(), "/bin/sleep", "mdbwdeaf");
    const std::string name = sleeper.filename().string();
    // The shell ignores SIGTERM and passes that on to the program it becomes.
    const std::vector<std::string> argv{shell.string(), "-c", "trap '' TERM; exec \"$0\" 60",
                                        sleeper.string()};
    ASSERT_EQ(RunProgram(argv, 0), 1);
    ASSERT_TRUE(Eventually([&] { return qorGetProcessList(name) == 1; }));

    ProcessToolOptions options;
    options.grace = std::chrono::milliseconds(200);
    EXPECT_EQ(qorTerminateProcess(name, options), 1);
    EXPECT_EQ(qorGetProcessList(name), 2);
}

TEST(ProcessTools, RefusesEmptyAndOverlongNames) {
    EXPECT_EQ(qorGetProcessList(""), 0);
    EXPECT_EQ(qorTerminateProcess(""), 0);
    EXPECT_EQ(qorGetProcessList(std::string(260, 'a')), 0);
    EXPECT_EQ(qorTerminateProcess(std::string(260, 'a')), 0);
    EXPECT_EQ(qorGetProcessList(std::string(259, 'a')), 2);
}

// A process that ends while its entry is read makes the read fail (ESRCH); here an
// entry whose status is a directory fails the same way (EISDIR). It is passed over,
// as a process that has gone, instead of ending the listing with an exception.
TEST(ProcessTools, AnEntryThatFailsToReadIsPassedOver) {
    TempDir tmp;
    fs::create_directories(tmp / "proc" / "4242" / "stat");
    fs::create_directories(tmp / "proc" / "4243");
    WriteBytes(tmp / "proc" / "4243" / "stat", "4243 (mdbscout) S 1 4243");
    WriteBytes(tmp / "proc" / "4243" / "comm", "mdbscout\n");
    CapturedReports reports;
    EXPECT_EQ(qorGetProcessList("mdbscout", reports.Options(tmp / "proc")), 1);
    EXPECT_EQ(qorGetProcessList("mdbwarden", reports.Options(tmp / "proc")), 2);
    EXPECT_TRUE(reports.messages.empty());
}

TEST(ProcessTools, LogsWhenTheProcessTableCannotBeRead) {
    TempDir tmp;
    CapturedReports missing;
    EXPECT_EQ(qorGetProcessList("mdbscout", missing.Options(tmp / "absent")), 0);
    EXPECT_EQ(qorTerminateProcess("mdbscout", missing.Options(tmp / "absent")), 0);
    EXPECT_EQ(missing.messages, (std::vector<std::string>{
                                    "qorGetProcessList - hProcessSnap == INVALID_HANDLE_VALUE - "
                                    "CreateToolhelp32Snapshot (of processes)",
                                    "qorTerminateProcess - hProcessSnap == INVALID_HANDLE_VALUE - "
                                    "CreateToolhelp32Snapshot (of processes)"}));

    CapturedReports empty;
    fs::create_directory(tmp / "empty");
    EXPECT_EQ(qorGetProcessList("mdbscout", empty.Options(tmp / "empty")), 0);
    EXPECT_EQ(qorTerminateProcess("mdbscout", empty.Options(tmp / "empty")), 0);
    EXPECT_EQ(empty.messages,
              (std::vector<std::string>{
                  "qorGetProcessList - !Process32First( hProcessSnap, &pe32 ) - Process32First",
                  "qorTerminateProcess - !Process32First( hProcessSnap, &pe32 ) - "
                  "Process32First"}));
}

// A process table laid out like /proc, for entries whose executable link is unreadable.
void AddFakeProcess(const fs::path& root, int pid, const std::string& comm, char state,
                    const std::string& cmdline = {}) {
    const fs::path dir = root / std::to_string(pid);
    fs::create_directories(dir);
    WriteBytes(dir / "stat", std::to_string(pid) + " (" + comm + ") " + state + " 1 1 1 0 -1");
    WriteBytes(dir / "comm", comm + "\n");
    if (!cmdline.empty()) WriteBytes(dir / "cmdline", cmdline);
}

TEST(ProcessTools, NamesFromShortCommandNamesAndSkipsEndedProcesses) {
    TempDir tmp;
    const fs::path root = tmp / "proc";
    AddFakeProcess(root, 100, "mdbscout", 'S');
    AddFakeProcess(root, 101, "ghost", 'Z');
    // The kernel cuts command names to 15 bytes; the command line completes them.
    AddFakeProcess(root, 102, "mdbscout_iisres", 'S',
                   std::string("/opt/mdbwarden/mdbscout_iisreset\0/stop\0", 39));
    AddFakeProcess(root, 103, "odd) Z", 'R');
    fs::create_directories(root / "self");
    CapturedReports reports;
    const ProcessToolOptions options = reports.Options(root);

    EXPECT_EQ(qorGetProcessList("mdbscout", options), 1);
    EXPECT_EQ(qorGetProcessList("ghost", options), 2);
    EXPECT_EQ(qorGetProcessList("mdbscout_iisreset", options), 1);
    EXPECT_EQ(qorGetProcessList("mdbscout_iisres", options), 2);
    EXPECT_EQ(qorGetProcessList("odd) Z", options), 1);
    EXPECT_TRUE(reports.messages.empty());
}

TEST(RunProgram, WaitsForTheEndOnlyWhenAsked) {
    TempDir tmp;
    const fs::path dir = tmp / "with blank";
    const fs::path gate = dir / "gate";
    fs::create_directories(dir);
    ASSERT_EQ(mkfifo(gate.c_str(), 0600), 0);
    const fs::path script =
        WriteScript(dir / "my script.sh", "read line < \"$1\"\nprintf '%s' \"$2\" > \"$3\"\n");
    const fs::path out = dir / "out file";

    const std::vector<std::string> argv{script.string(), gate.string(), "a  b c", out.string()};
    ASSERT_EQ(RunProgram(argv, 0), 1);
    // It returned while the program still waits at the gate.
    EXPECT_FALSE(fs::exists(out));
    {
        std::ofstream open(gate);
        open << "go\n";
    }
    ASSERT_TRUE(Eventually([&] { return ReadBytes(out) == "a  b c"; }));
    // The ended program is collected; it does not linger as a zombie.
    EXPECT_TRUE(Eventually([] { return ZombieChildren() == 0; }));

    const fs::path waited = WriteScript(dir / "slow one.sh", "sleep 0.3\nprintf done > \"$1\"\n");
    const fs::path out2 = dir / "second out";
    ASSERT_EQ(RunProgram({waited.string(), out2.string()}, 1), 1);
    EXPECT_EQ(ReadBytes(out2), "done");
}

TEST(RunProgram, ReportsWhatCouldNotBeStarted) {
    TempDir tmp;
    EXPECT_EQ(RunProgram({}, 1), 0);
    EXPECT_EQ(RunProgram({""}, 1), 0);
    EXPECT_EQ(RunProgram(std::vector<std::string>{(tmp / "no such program").string()}, 1), 0);
    WriteBytes(tmp / "not executable", "#!/bin/sh\ntrue\n");
    EXPECT_EQ(RunProgram(std::vector<std::string>{(tmp / "not executable").string()}, 0), 0);
    // A bare name is looked up along PATH.
    EXPECT_EQ(RunProgram({"true"}, 1), 1);
}

}  // namespace
}  // namespace mdb::desktop
