#include "common/checkvalue.h"

#include <gtest/gtest.h>

namespace mdb {
namespace {

TEST(Md5Hex, ReproducesTheRfc1321TestSuite) {
    const std::pair<const char*, const char*> suite[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"}};
    for (const auto& [input, digest] : suite) EXPECT_EQ(Md5Hex(std::string_view(input)), digest);
}

TEST(MakeCheckValue, IsTheDigestOfTheDigestSaltAndKey) {
    const std::string a = "LwB2AGEAcgAvAHcAdwB3AC8AYQAuAG0AZABiAA==";
    std::string out;
    ASSERT_EQ(MakeCheckValue(a, "mdbscout", out), 1);
    EXPECT_EQ(out, Md5Hex(Md5Hex(a) + "_(r)pkq.vhml.orx_4903_" + "mdbscout"));
    std::string again;
    MakeCheckValue(a, "mdbscout", again);
    EXPECT_EQ(again, out);
    std::string other;
    MakeCheckValue(a, "mdbwarden", other);
    EXPECT_NE(other, out);
}

TEST(MakeCheckValue, RefusesInputsOutsideTheBoundsAndLeavesTheOutput) {
    std::string out = "unchanged";
    EXPECT_EQ(MakeCheckValue("", "mdbscout", out), 0);
    EXPECT_EQ(MakeCheckValue("abc", "", out), 0);
    EXPECT_EQ(MakeCheckValue("abc", std::string(260, 'k'), out), 0);
    EXPECT_EQ(out, "unchanged");
    EXPECT_EQ(MakeCheckValue("abc", std::string(259, 'k'), out), 1);
    EXPECT_EQ(out.size(), 32u);
}

}  // namespace
}  // namespace mdb
