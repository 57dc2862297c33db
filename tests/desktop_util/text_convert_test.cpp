#include "desktop/util/text_convert.h"

#include <gtest/gtest.h>

namespace mdb::desktop {
namespace {

TEST(AnsiToWide, ConvertsUtf8) {
    std::u16string out = u"old";
    EXPECT_EQ(AnsiToWide(out, ""), 1);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(AnsiToWide(out, "/var/www/数据库 1.mdb"), 1);
    EXPECT_EQ(out, u"/var/www/数据库 1.mdb");
    EXPECT_EQ(AnsiToWide(out, "\xF0\x9F\x98\x80"), 1);  // outside the basic plane
    EXPECT_EQ(out, std::u16string({char16_t(0xD83D), char16_t(0xDE00)}));
}

TEST(AnsiToWide, RefusesMalformedTextWithoutGuessing) {
    std::u16string out = u"old";
    EXPECT_EQ(AnsiToWide(out, "ab\xff"), 0);
    EXPECT_TRUE(out.empty());
    out = u"old";
    EXPECT_EQ(AnsiToWide(out, "\xC0\xAF"), 0);  // overlong '/'
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(AnsiToWide(out, "\xED\xA0\x80"), 0);  // an encoded surrogate
    EXPECT_EQ(AnsiToWide(out, "\xE6\x95"), 0);      // cut short
}

TEST(AnsiToWide, LengthLimit) {
    std::u16string out = u"old";
    EXPECT_EQ(AnsiToWide(out, std::string(kMaxConvertLength + 1, 'a')), 2);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(AnsiToWide(out, std::string(kMaxConvertLength, 'a')), 1);
    EXPECT_EQ(out.size(), kMaxConvertLength);
}

}  // namespace
}  // namespace mdb::desktop
