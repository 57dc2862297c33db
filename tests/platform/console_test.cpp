// The scanner's console on Windows: started in a console window of its own, as the window
// starts it, a program's Chinese text shows there as the characters it stands for, however
// the C runtime would read the bytes (Wine's reads them as Latin-1).
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "platform/process.h"
#include "scratch.h"

namespace mdb::platform {
namespace {

TEST(Console, ChineseTextShowsAsItsCharactersInAConsoleWindow) {
    const std::string self = *ModuleFileName();
    const std::string child =
        self.substr(0, self.find_last_of(kSeparator) + 1) + "platform_child.exe";
    Scratch scratch;
    const std::string shown = scratch.Text() + "\\shown.txt";
    const std::string text = "┃   Veloran Quarnet·MDB 文件扫描服务   ┃ 稍候 29 秒";
    const std::vector<std::string> args{child, "console", "\r\n" + text, shown};
    const SpawnResult started = SpawnProcess(args, ChildOutput::OwnConsole);
    ASSERT_TRUE(started.Started()) << started.error;
    ASSERT_EQ(WaitForProcessFor(started.pid, std::chrono::seconds(60)), 0);
    std::ifstream in(PathFromUtf8(shown), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), text);
}

}  // namespace
}  // namespace mdb::platform
