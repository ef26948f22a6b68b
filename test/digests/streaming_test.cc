// One generic streaming test set over every digest: any split of the input,
// byte by byte, contexts copied mid-stream and started again after Final,
// input at any alignment, empty and negative lengths, the one-shots' shared
// buffers.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "digest_algos.h"

namespace digest_test {
namespace {

class DigestStreaming : public ::testing::TestWithParam<Algo> {};

// Deterministic, varied message bytes.
Bytes Pattern(size_t n, uint32_t seed = 7) {
  Bytes m(n);
  for (size_t i = 0; i < n; i++) {
    seed = seed * 1103515245u + 12345u;
    m[i] = static_cast<uint8_t>(seed >> 16);
  }
  return m;
}

std::string OneShotHex(const Algo& a, const Bytes& m) {
  unsigned char md[64];
  a.oneshot(m.data(), m.size(), md);
  return morvane_test::ToHex(md, a.md_len);
}

TEST_P(DigestStreaming, EverySplitMatchesOneShot) {
  const Algo& a = GetParam();
  const Bytes m = Pattern(300);  // more than two blocks of every digest
  const std::string want = OneShotHex(a, m);
  for (size_t k = 0; k <= m.size(); k++)
    ASSERT_EQ(DigestInPieces(a, m.data(), m.size(), {k}), want) << "split at " << k;
  // A few three-way splits around block edges: 63 + 1, 64 + 64, 65, 127 + 1.
  for (auto cuts : std::vector<std::vector<size_t>>{
           {63, 1}, {64, 64}, {65, 65}, {127, 1}, {1, 127}, {15, 1}, {14, 1}, {128, 128}})
    EXPECT_EQ(DigestInPieces(a, m.data(), m.size(), cuts), want);
  EXPECT_EQ(DigestInPieces(a, m.data(), m.size(), std::vector<size_t>(m.size() - 1, 1)), want)
      << "byte by byte";
}

TEST_P(DigestStreaming, ContextCopiedMidStreamContinuesAndInitStartsAgain) {
  const Algo& a = GetParam();
  const Bytes m = Pattern(200);
  for (size_t k : {0, 1, 63, 64, 100, 129}) {
    Context c1, c2;
    a.init(c1.get());
    a.update(c1.get(), m.data(), k);
    std::memcpy(c2.bytes, c1.bytes, a.ctx_size);
    a.update(c1.get(), m.data() + k, m.size() - k);
    a.update(c2.get(), "x", 1);
    unsigned char md1[64], md2[64];
    a.final(md1, c1.get());
    a.final(md2, c2.get());
    EXPECT_EQ(morvane_test::ToHex(md1, a.md_len), OneShotHex(a, m));
    Bytes prefix(m.begin(), m.begin() + static_cast<long>(k));
    prefix.push_back('x');
    EXPECT_EQ(morvane_test::ToHex(md2, a.md_len), OneShotHex(a, prefix));
    // Init after Final starts a fresh message.
    a.init(c2.get());
    a.update(c2.get(), m.data(), m.size());
    a.final(md2, c2.get());
    EXPECT_EQ(morvane_test::ToHex(md2, a.md_len), OneShotHex(a, m));
  }
}

TEST_P(DigestStreaming, AnyInputAlignmentGivesTheSameDigest) {
  const Algo& a = GetParam();
  const Bytes m = Pattern(777);
  const std::string want = OneShotHex(a, m);
  std::vector<uint8_t> room(m.size() + 16);
  for (size_t off = 0; off < 16; off++) {
    std::memcpy(room.data() + off, m.data(), m.size());
    EXPECT_EQ(Digest(a, room.data() + off, m.size()), want) << "offset " << off;
    // A partial block first, so whole blocks then start at an odd address.
    EXPECT_EQ(DigestInPieces(a, room.data() + off, m.size(), {3}), want) << "offset " << off;
  }
}

// An empty update changes nothing; a negative int passed as the length
// arrives as a huge size_t and is treated as empty rather than read past the
// buffer.
TEST_P(DigestStreaming, EmptyAndNegativeLengthsAreNoOps) {
  const Algo& a = GetParam();
  Context c;
  a.init(c.get());
  a.update(c.get(), "0123456789", 10);
  const Context before = c;
  const unsigned char buf[8] = {};
  for (size_t len : {size_t{0}, static_cast<size_t>(-1), static_cast<size_t>(-64),
                     static_cast<size_t>(PTRDIFF_MAX) + 1}) {
    EXPECT_EQ(a.update(c.get(), len == 0 ? nullptr : buf, len), 1);
    EXPECT_EQ(0, std::memcmp(before.bytes, c.bytes, sizeof(c.bytes)));
  }
  unsigned char md[64];
  a.final(md, c.get());
  EXPECT_EQ(morvane_test::ToHex(md, a.md_len), OneShotHex(a, Bytes{'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'}));
}

TEST_P(DigestStreaming, OneShotWithoutOutputUsesOneSharedBuffer) {
  const Algo& a = GetParam();
  const Bytes m1 = Pattern(10, 1), m2 = Pattern(90, 2);
  unsigned char* p1 = a.oneshot(m1.data(), m1.size(), nullptr);
  ASSERT_NE(p1, nullptr);
  EXPECT_EQ(morvane_test::ToHex(p1, a.md_len), OneShotHex(a, m1));
  unsigned char* p2 = a.oneshot(m2.data(), m2.size(), nullptr);
  EXPECT_EQ(p1, p2);
  EXPECT_EQ(morvane_test::ToHex(p2, a.md_len), OneShotHex(a, m2));
}

INSTANTIATE_TEST_SUITE_P(All, DigestStreaming, ::testing::ValuesIn(AllAlgos()),
                         [](const ::testing::TestParamInfo<Algo>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace digest_test
