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

// A console-like measure: Chinese characters two columns, others one.
int Columns(std::string_view text) {
    int columns = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if ((c & 0xC0) == 0x80) continue;
        columns += c >= 0xE0 ? 2 : 1;
    }
    return columns;
}

using Lines = std::vector<std::string>;

TEST(BoxText, LinesEndBetweenChineseCharactersAndAtBlanksButNotInAPath) {
    // "d:" would fit at the end of the first line; the path goes to the next one whole.
    EXPECT_EQ(WrapBoxText("会自动备份数据库文件到“d:\\qor_mdb_backup\\”目录。", 28, Columns),
              (Lines{"会自动备份数据库文件到", "“d:\\qor_mdb_backup\\”目录。"}));
    EXPECT_EQ(WrapBoxText("会自动备份数据库文件到“d:\\备份 目录\\”中。", 28, Columns),
              (Lines{"会自动备份数据库文件到", "“d:\\备份 目录\\”中。"}));
    // No line starts with a closing mark; the text's own line breaks and blank lines stay.
    EXPECT_EQ(WrapBoxText("确定压缩吗？\r\n\r\n停止压缩。", 12, Columns),
              (Lines{"确定压缩吗？", "", "停止压缩。"}));
    EXPECT_EQ(WrapBoxText("一二三四，五", 8, Columns), (Lines{"一二三", "四，五"}));
    // Latin text at blanks, an unquoted path whole; only a run wider than the box is cut.
    EXPECT_EQ(WrapBoxText("Back up to /var/backups/qor_mdb_backup/ first", 30, Columns),
              (Lines{"Back up to", "/var/backups/qor_mdb_backup/", "first"}));
    EXPECT_EQ(WrapBoxText("Back up to /var/backups/qor_mdb_backup/ first", 20, Columns),
              (Lines{"Back up to", "/var/backups/qor_mdb", "_backup/ first"}));
}

}  // namespace
}  // namespace mdb::desktop
