// RC2: the effective-key-length bounds.  The RFC 2268 vectors, modes, key
// lengths, word order and texts are in the shared suites.

#include <climits>
#include <cstring>

#include <gtest/gtest.h>
#include <morvane/rc2.h>

#include "test_support.h"

namespace {

using morvane_test::Bytes;
using morvane_test::FromHex;
using morvane_test::ToHex;

RC2_KEY Schedule(const Bytes& key, int bits) {
  RC2_KEY k;
  RC2_set_key(&k, static_cast<int>(key.size()), key.data(), bits);
  return k;
}

bool SameSchedule(const RC2_KEY& a, const RC2_KEY& b) {
  return memcmp(&a, &b, sizeof a) == 0;
}

TEST(Rc2, EffectiveBitsOutOfRangeMean1024) {
  const Bytes key = FromHex("88BCA90E90875A7F0F79C384627BAFB2");
  const RC2_KEY k1024 = Schedule(key, 1024);
  for (int bits : {0, -5, 1025, 2000, INT_MIN, INT_MAX})
    EXPECT_TRUE(SameSchedule(Schedule(key, bits), k1024)) << bits;
  EXPECT_FALSE(SameSchedule(Schedule(key, 1023), k1024));
}

// With 1024 effective bits the reduction still replaces L[0] by PITABLE[L[0]]
// and leaves the other 127 bytes as they are.
TEST(Rc2, FullLengthKeyChangesOnlyTheFirstByte) {
  Bytes key(128);
  for (size_t i = 0; i < key.size(); i++) key[i] = static_cast<uint8_t>(i);
  const RC2_KEY k = Schedule(key, 1024);
  EXPECT_EQ(k.data[0], 0xD9u | (1u << 8));  // PITABLE[0] = 0xD9
  for (unsigned i = 1; i < 64; i++) EXPECT_EQ(k.data[i], (2 * i) | ((2 * i + 1) << 8)) << i;
}

}  // namespace
