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

}  // namespace
}  // namespace mdb
