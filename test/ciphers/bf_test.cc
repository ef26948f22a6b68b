// Blowfish: the repetition of short keys.  Schneier's vectors, the modes, key
// lengths, word order and texts are in the shared suites.

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

TEST(Blowfish, ShortKeysRepeat) {
  // One byte fills all four positions of all 18 words.
  EXPECT_TRUE(SameSchedule(Schedule({0x5A}), Schedule(Bytes(72, 0x5A))));
  // Two bytes and the same two bytes twice give one schedule.
  EXPECT_TRUE(SameSchedule(Schedule({0x12, 0xEF}), Schedule({0x12, 0xEF, 0x12, 0xEF})));
  EXPECT_FALSE(SameSchedule(Schedule({0x12, 0xEF}), Schedule({0xEF, 0x12})));
}

}  // namespace
