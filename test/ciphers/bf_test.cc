// Blowfish: Schneier's published vectors and the repetition of short keys.
// The modes, key lengths, word order and texts are in the shared suites.

#include <cstring>

#include <gtest/gtest.h>
#include <morvane/blowfish.h>

#include "test_support.h"

namespace {

using morvane_test::Bytes;
using morvane_test::FromHex;
using morvane_test::ToHex;

BF_KEY Schedule(const Bytes& key) {
  BF_KEY k;
  BF_set_key(&k, static_cast<int>(key.size()), key.data());
  return k;
}

bool SameSchedule(const BF_KEY& a, const BF_KEY& b) {
  return memcmp(&a, &b, sizeof a) == 0;
}

// Schneier's ECB and set_key tables (test/data/blowfish/schneier.txt).
TEST(Blowfish, SchneierVectors) {
  const auto records = morvane_test::ReadRsp(morvane_test::TestDataFile("blowfish/schneier.txt"));
  ASSERT_EQ(records.size(), 58u);
  for (const auto& v : records) {
    const BF_KEY k = Schedule(FromHex(v.Get("Key")));
    const Bytes plain = FromHex(v.Get("Plain"));
    uint8_t out[8], back[8];
    BF_ecb_encrypt(plain.data(), out, &k, BF_ENCRYPT);
    EXPECT_EQ(ToHex(out, 8), ToHex(FromHex(v.Get("Cipher")))) << v.Get("Key");
    BF_ecb_encrypt(out, back, &k, BF_DECRYPT);
    EXPECT_EQ(ToHex(back, 8), ToHex(plain)) << v.Get("Key");
  }
}

TEST(Blowfish, ShortKeysRepeat) {
  // One byte fills all four positions of all 18 words.
  EXPECT_TRUE(SameSchedule(Schedule({0x5A}), Schedule(Bytes(72, 0x5A))));
  // Two bytes and the same two bytes twice give one schedule.
  EXPECT_TRUE(SameSchedule(Schedule({0x12, 0xEF}), Schedule({0x12, 0xEF, 0x12, 0xEF})));
  EXPECT_FALSE(SameSchedule(Schedule({0x12, 0xEF}), Schedule({0xEF, 0x12})));
}

}  // namespace
