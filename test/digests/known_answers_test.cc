// Published known answers for every digest (test/data/digests/known_answers.txt,
// each block citing its source, with the padding-boundary lengths of the
// digests the NIST files do not cover), each through Init/Update/Final, the
// one-shot and random pieces; SHA-0/SHA-1 initial values; the texts.

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "digest_algos.h"

namespace digest_test {
namespace {

TEST(DigestKnownAnswers, PublishedSuitesAndPaddingBoundaries) {
  const auto records = morvane_test::ReadRsp(morvane_test::TestDataFile("digests/known_answers.txt"));
  ASSERT_EQ(records.size(), 67u);
  std::mt19937 rng(1);
  for (const auto& r : records) {
    ASSERT_EQ(r.section.size(), 1u);
    const Algo& a = FindAlgo(r.section.begin()->first);
    const std::string text = r.Get("Text"), want = r.Get("MD");
    SCOPED_TRACE(std::string(a.name) + " of " + r.Get("Repeat") + " x \"" + text + "\"");
    Bytes m;
    for (unsigned long i = std::stoul(r.Get("Repeat")); i > 0; i--) m.insert(m.end(), text.begin(), text.end());
    EXPECT_EQ(Digest(a, m.data(), m.size()), want);
    unsigned char md[64];
    EXPECT_EQ(a.oneshot(m.data(), m.size(), md), md);
    EXPECT_EQ(morvane_test::ToHex(md, a.md_len), want);
    std::vector<size_t> cuts;
    for (size_t left = m.size(); left > 0; left -= cuts.back())
      cuts.push_back(std::uniform_int_distribution<size_t>(0, std::min<size_t>(left, 300))(rng));
    EXPECT_EQ(DigestInPieces(a, m.data(), m.size(), cuts), want);
  }
}

// SHA-0 and SHA-1 differ only in the rotation of the message schedule: the
// same initial values (FIPS 180-1 keeps those of 180), so a context started
// by either Init follows the Update and Final it is given.
TEST(DigestKnownAnswers, ShaInitsAreInterchangeable) {
  SHA_CTX a, b;
  unsigned char md[SHA_DIGEST_LENGTH];
  SHA_Init(&a);
  SHA1_Update(&a, "abc", 3);
  SHA1_Final(md, &a);
  EXPECT_EQ(morvane_test::ToHex(md, sizeof(md)), "a9993e364706816aba3e25717850c26c9cd0d89d");
  SHA1_Init(&b);
  SHA_Update(&b, "abc", 3);
  SHA_Final(md, &b);
  EXPECT_EQ(morvane_test::ToHex(md, sizeof(md)), "0164b8a914cd2a5e74c4f7ff082c4d97f1edf880");
}

TEST(DigestKnownAnswers, VersionAndOptionTexts) {
  EXPECT_STREQ(MD2_version, "MD2 part of Morvane 0.9.8o 01 Jun 2010");
  EXPECT_STREQ(MD4_version, "MD4 part of Morvane 0.9.8o 01 Jun 2010");
  EXPECT_STREQ(MD5_version, "MD5 part of Morvane 0.9.8o 01 Jun 2010");
  EXPECT_STREQ(SHA_version, "SHA part of Morvane 0.9.8o 01 Jun 2010");
  EXPECT_STREQ(SHA1_version, "SHA1 part of Morvane 0.9.8o 01 Jun 2010");
  EXPECT_STREQ(SHA256_version, "SHA-256 part of Morvane 0.9.8o 01 Jun 2010");
  EXPECT_STREQ(SHA512_version, "SHA-512 part of Morvane 0.9.8o 01 Jun 2010");
  EXPECT_STREQ(RMD160_version, "RIPE-MD160 part of Morvane 0.9.8o 01 Jun 2010");
  EXPECT_STREQ(MD2_options(), "md2(int)");
}

}  // namespace
}  // namespace digest_test
