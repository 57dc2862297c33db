// Starting, waiting for, finding and ending processes on the system the build is for
// (Toolhelp snapshots, CreateProcess and process handles under Wine; /proc, posix_spawn and
// signals on Linux). The child is tests/platform/child_program.cpp.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "platform/process.h"

namespace mdb::platform {
namespace {

std::string ChildProgram() {
    const std::string self = *ModuleFileName();
    return self.substr(0, self.find_last_of(kSeparator) + 1) + "platform_child" +
#ifdef _WIN32
           ".exe";
#else
           "";
#endif
}

std::string BaseName(const std::string& path) {
    return path.substr(path.find_last_of(kSeparator) + 1);
}

SpawnResult Start(std::vector<std::string> args, ChildOutput output = ChildOutput::Discard) {
    args.insert(args.begin(), ChildProgram());
    return SpawnProcess(args, output);
}

TEST(Process, StartedProgramsAreWaitedForWithTheirExitCodes) {
    ASSERT_TRUE(IsRunnableFile(ChildProgram()));
    EXPECT_FALSE(IsRunnableFile(ChildProgram() + ".missing"));

    const SpawnResult exited = Start({"exit", "7"});
    ASSERT_TRUE(exited.Started()) << exited.error;
    EXPECT_EQ(WaitForProcess(exited.pid), 7);
    EXPECT_EQ(WaitForProcess(exited.pid), -1);  // collected once only

    // A time-out leaves the child to be waited for again.
    const SpawnResult sleeper = Start({"sleep", "1500"});
    ASSERT_TRUE(sleeper.Started());
    EXPECT_EQ(WaitForProcessFor(sleeper.pid, std::chrono::milliseconds(50)), kStillRunning);
    EXPECT_EQ(WaitForProcessFor(sleeper.pid, std::chrono::milliseconds(20000)), 0);

    // An argument with blanks, quotes and backslashes arrives as one, unchanged.
    const SpawnResult echo = Start({"exit", "3", "a \"b\" c\\\\"});
    ASSERT_TRUE(echo.Started());
    EXPECT_EQ(WaitForProcess(echo.pid), 3);

    EXPECT_FALSE(SpawnProcess(std::vector<std::string>{}).Started());
    EXPECT_FALSE(SpawnProcess(std::vector<std::string>{""}).Started());
    EXPECT_FALSE(SpawnProcess(std::vector<std::string>{ChildProgram() + ".missing"}).Started());
}

TEST(Process, ARunningProgramIsListedDescribedAndEnded) {
    const SpawnResult child = Start({"sleep", "60000"});
    ASSERT_TRUE(child.Started());
    const ProcessEntry described = DescribeProcess(child.pid);
    EXPECT_EQ(BaseName(described.executable), BaseName(ChildProgram()));
    EXPECT_EQ(described.name, BaseName(ChildProgram()));

    const ProcessList list = ListProcesses();
    ASSERT_EQ(list.status, ProcessListStatus::Ok);
    bool listed = false, self = false;
    for (const ProcessEntry& e : list.entries) {
        listed = listed || (e.pid == child.pid && e.name == described.name);
        self = self || e.pid == CurrentProcessId();
    }
    EXPECT_TRUE(listed);
    EXPECT_TRUE(self);
    // Names compare as the file system compares them: the upper-cased name is the same
    // program on Windows (Toolhelp may give either spelling), another one here.
    std::string upper = described.name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(SamePathText(upper, described.name), kPathsIgnoreCase);
    EXPECT_FALSE(SamePathText(described.name + "x", described.name));

    // Another program's name: the process is left alone.
    ProcessEntry other = described;
    other.name = "another.exe";
    EXPECT_EQ(TerminateProcess(other), TerminateStatus::AlreadyGone);
    EXPECT_EQ(WaitForProcessFor(child.pid, std::chrono::milliseconds(0)), kStillRunning);

    EXPECT_EQ(TerminateProcess(described, std::chrono::milliseconds(500)), TerminateStatus::Ended);
    // Ended by a signal here, with exit code 0 on Windows: either way it has ended.
    EXPECT_NE(WaitForProcessFor(child.pid, std::chrono::milliseconds(0)), kStillRunning);
    EXPECT_TRUE(DescribeProcess(child.pid).name.empty());
    EXPECT_EQ(TerminateProcess(described), TerminateStatus::AlreadyGone);
}

}  // namespace
}  // namespace mdb::platform
