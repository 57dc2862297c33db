// The scan table on Windows: the list's entries are GBK text (code page 936 under the
// test's Chinese locale), and the 259-byte limit of an entry counts those bytes: a Chinese
// character takes two there, three in the UTF-8 the program works in.
#include "platform/arguments.h"
#include "scanner/filescan.h"
#include "test_support.h"

#include <gtest/gtest.h>

namespace mdb::scanner {
namespace {

namespace fs = std::filesystem;

TEST(ScanTableOnWindows, EntryLengthCountsTheBytesOfTheSystemCodePage) {
    test::TempDir prog;
    fs::create_directories(prog.path() / "config");
    std::string longest = "d:\\";  // 3 + 128 x 2 = 259 bytes in GBK, 387 in UTF-8
    for (int i = 0; i < 128; ++i) longest += "站";
    const std::string tooLong = longest + "x";  // 260 bytes in GBK
    test::WriteWholeFile(prog / "config\\ScanDir.txt",
                         platform::SystemCodePageFromUtf8(tooLong + "\r\n" + longest + "\r\n"));

    FileScanner scanner(prog.dir(), nullptr, [](std::string_view) {});
    ASSERT_EQ(scanner.LoadScanDirTable(), 1);
    ASSERT_EQ(scanner.DirectoryList().size(), 2u);
    const auto& table = scanner.ScanTable();
    EXPECT_TRUE(table[0].inUse);
    EXPECT_EQ(table[0].path, longest);
    EXPECT_FALSE(table[1].inUse) << "a 260-byte entry is left out";
}

}  // namespace
}  // namespace mdb::scanner
