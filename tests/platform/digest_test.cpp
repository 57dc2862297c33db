#include "platform/digest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mdb::platform {
namespace {

// Vectors of RFC 1321 (MD5) and FIPS 180-2 (SHA-256); each build's library must give them.
TEST(Digest, GivesTheKnownVectorsOfMd5AndSha256) {
    EXPECT_EQ(DigestHex(DigestAlgorithm::Md5, ""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(DigestHex(DigestAlgorithm::Md5, "message digest"),
              "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(DigestHex(DigestAlgorithm::Sha256, ""),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(DigestHex(DigestAlgorithm::Sha256, "abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(DigestHex(DigestAlgorithm::Sha256,
                        "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

TEST(Digest, PiecesOfAnySizeGiveTheDigestOfTheWhole) {
    // One million 'a' (FIPS 180-2), handed over in uneven pieces.
    const std::vector<std::uint8_t> a(1000000, 'a');
    Hasher hasher(DigestAlgorithm::Sha256);
    std::size_t at = 0;
    for (std::size_t piece = 1; at < a.size(); piece = piece * 3 + 1) {
        const std::size_t n = std::min(piece, a.size() - at);
        ASSERT_TRUE(hasher.Add(std::span(a).subspan(at, n)));
        at += n;
    }
    EXPECT_EQ(HexOf(hasher.Finish()),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    Hasher md5(DigestAlgorithm::Md5);
    ASSERT_TRUE(md5.Add(std::span(a).first(3)));
    ASSERT_TRUE(md5.Add({}));
    EXPECT_EQ(HexOf(md5.Finish()), DigestHex(DigestAlgorithm::Md5, "aaa"));
}

}  // namespace
}  // namespace mdb::platform
