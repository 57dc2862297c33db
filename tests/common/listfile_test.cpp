#include "common/listfile.h"

#include <gtest/gtest.h>

namespace mdb {
namespace {

TEST(ListFile, TrimsSkipsCommentsShortLinesAndRepeats) {
    const std::string text =
        "/var/www\r\n"
        "  /var/www  \r\n"
        ";/var/old\r\n"
        "x\r\n"
        "\r\n"
        "\t/srv/site\t\r\n"
        "/var/www\r\n"
        "/srv/last";  // last line without CR LF
    EXPECT_EQ(ParseListText(text),
              (std::vector<std::string>{"/var/www", "/srv/site", "/srv/last"}));
}

TEST(ListFile, KeepsCaseAndTrailingSeparatorsAsDistinctEntries) {
    const auto entries = ParseListText("/Var/WWW\r\n/var/www\r\n/var/www/\r\n");
    EXPECT_EQ(entries, (std::vector<std::string>{"/Var/WWW", "/var/www", "/var/www/"}));
}

TEST(ListFile, RemovesCarriageReturnsInsideALine) {
    std::vector<std::string> entries;
    AddListLine("/var/\rwww", entries);
    AddListLine("   ;/var/old", entries);  // a comment once trimmed
    EXPECT_EQ(entries.front(), "/var/www");
    EXPECT_EQ(entries.size(), 1u);
}

// Lines that would be walked as something nobody wrote are split or left out, and said.
TEST(ListFile, SplitsAtLoneCarriageReturnsAndLeavesOutNulLinesAndTheRoot) {
    using Why = IgnoredListLine::Why;
    using namespace std::string_literals;
    const std::string text = "/srv/a\r/srv/b\r\n/srv/c\0/x\r\n / \r\n//\r\n/..\n;/\n/srv/d"s;
    const ParsedListFile parsed = ParseListFile(text);
    EXPECT_TRUE(parsed.crLineEnds);
    EXPECT_EQ(parsed.entries, (std::vector<std::string>{"/srv/a", "/srv/b", "/srv/d"}));
    ASSERT_EQ(parsed.ignored.size(), 4u);
    EXPECT_EQ(parsed.ignored[0].line, 3u);
    EXPECT_EQ(parsed.ignored[0].why, Why::NulByte);
    EXPECT_EQ(parsed.ignored[0].text, "/srv/c\0/x"s);
    for (size_t i = 1; i < 4; ++i) {
        EXPECT_EQ(parsed.ignored[i].why, Why::FileSystemRoot);
        EXPECT_EQ(parsed.ignored[i].line, i + 3);
    }
    EXPECT_FALSE(ParseListFile("/srv/a\r\n/srv/b\n").crLineEnds);
}

}  // namespace
}  // namespace mdb
