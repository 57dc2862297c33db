// The spans of a box's text that are kept on one line.
#include <gtest/gtest.h>

#include <string>

#include "desktop/box_text.h"

namespace mdb::desktop {
namespace {

std::vector<std::string> SpansOf(const std::string& text) {
    std::vector<std::string> out;
    for (const TextSpan& span : UnbreakableSpans(text)) out.push_back(text.substr(span.begin, span.end - span.begin));
    return out;
}

TEST(BoxText, QuotedPathsAndNamesAreKeptWhole) {
    EXPECT_EQ(SpansOf("备份数据库文件到“d:\\qor_mdb_backup\\”目录，并“停止压缩”。"),
              (std::vector<std::string>{"“d:\\qor_mdb_backup\\”", "“停止压缩”"}));
    EXPECT_EQ(SpansOf("backed up to the folder \"/var/backups/qor mdb\". Click \"Scan\""),
              (std::vector<std::string>{"\"/var/backups/qor mdb\"", "\"Scan\""}));
    // Too long for one line of a box, across lines, or never closed: free to wrap.
    EXPECT_EQ(SpansOf("“" + std::string(81, 'a') + "” “a\r\nb” “open"), std::vector<std::string>{});
    std::string eighty;  // characters, not bytes, count
    for (int i = 0; i < 80; ++i) eighty += "站";
    EXPECT_EQ(SpansOf("“" + eighty + "”").size(), 1u);
}

}  // namespace
}  // namespace mdb::desktop
