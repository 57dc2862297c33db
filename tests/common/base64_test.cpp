#include "common/base64.h"
#include "common/utf16.h"

#include <gtest/gtest.h>

namespace mdb {
namespace {

std::vector<std::uint8_t> Bytes(std::string_view s) {
    return {s.begin(), s.end()};
}

TEST(Base64, EncodesTheRfc4648TestVectors) {
    const std::pair<const char*, const char*> vectors[] = {{"", ""},
                                                           {"f", "Zg=="},
                                                           {"fo", "Zm8="},
                                                           {"foo", "Zm9v"},
                                                           {"foob", "Zm9vYg=="},
                                                           {"fooba", "Zm9vYmE="},
                                                           {"foobar", "Zm9vYmFy"}};
    for (const auto& [plain, encoded] : vectors) {
        std::string out = "stale";
        EXPECT_EQ(Base64Encode(Bytes(plain), out), std::string(encoded).size() + 1) << plain;
        EXPECT_EQ(out, encoded);
        EXPECT_EQ(Base64Decode(encoded), Bytes(plain)) << encoded;
    }
    // Every byte value, including those that use "+" and "/".
    std::vector<std::uint8_t> all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
    const std::string text = Base64EncodeText(all);
    EXPECT_NE(text.find('+'), std::string::npos);
    EXPECT_NE(text.find('/'), std::string::npos);
    EXPECT_EQ(Base64Decode(text), all);
}

TEST(Base64, DecoderStopsAtTheFirstCharacterOutsideTheAlphabet) {
    EXPECT_EQ(Base64Decode("Zm9v\r\nYmFy"), Bytes("foo"));
    EXPECT_EQ(Base64Decode("Zm9vYg==Zm9v"), Bytes("foob"));
    EXPECT_EQ(Base64Decode("Zm9v YmFy"), Bytes("foo"));
    EXPECT_EQ(Base64Decode("（读取文件名时发生错误！）"), Bytes(""));
}

TEST(Base64, LongestRecordedPathRoundTripsThroughUtf16) {
    // 24576 UTF-16 units with Chinese characters and a surrogate pair (𝄞) in it.
    std::string path = "/var/www/站点/";
    while (Utf8ToUtf16(path)->size() + 2 <= 24576 - 6) path += "数据𝄞";
    while (Utf8ToUtf16(path)->size() < 24576 - 4) path += "a";
    path += ".mdb";
    const auto units = Utf8ToUtf16(path);
    ASSERT_TRUE(units);
    ASSERT_EQ(units->size(), 24576u);

    const std::string encoded = Base64EncodeText(Utf16LeBytes(*units));
    EXPECT_EQ(encoded.size(), 65536u);
    const std::u16string back = Utf16FromLeBytes(Base64Decode(encoded));
    EXPECT_EQ(Utf16ToUtf8(back), path);
}

TEST(Utf16, RefusesTextThatCannotRoundTrip) {
    EXPECT_FALSE(Utf8ToUtf16("\xff.mdb"));
    EXPECT_FALSE(Utf8ToUtf16("\xc0\xaf"));      // overlong "/"
    EXPECT_FALSE(Utf8ToUtf16("\xed\xa0\x80"));  // encoded surrogate
    EXPECT_FALSE(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))));
    EXPECT_EQ(Utf16LeBytes(u"A中"), (std::vector<std::uint8_t>{0x41, 0x00, 0x2D, 0x4E}));
    EXPECT_EQ(SanitizeUtf8("a\xffz"), "a?z");
    EXPECT_EQ(SanitizeUtf8("数据"), "数据");
    // Control characters are shown, not obeyed by the terminal.
    EXPECT_EQ(SanitizeUtf8("a\x1b[2J\n\x7f\u202e\u0085z"), "a\\x1B[2J\\x0A\\x7F\\u202E\\x85z");
}

}  // namespace
}  // namespace mdb
