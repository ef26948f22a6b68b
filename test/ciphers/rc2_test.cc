// RC2: every RFC 2268 vector and the effective-key-length bounds.  The
// modes, key lengths, word order and texts are in the shared suites.

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

// RFC 2268, section 5: key, effective key length in bits, plaintext, ciphertext.
TEST(Rc2, Rfc2268Vectors) {
  const struct {
    const char* key;
    int bits;
    const char* plain;
    const char* cipher;
  } kVectors[] = {
      {"0000000000000000", 63, "0000000000000000", "EBB773F993278EFF"},
      {"FFFFFFFFFFFFFFFF", 64, "FFFFFFFFFFFFFFFF", "278B27E42E2F0D49"},
      {"3000000000000000", 64, "1000000000000001", "30649EDF9BE7D2C2"},
      {"88", 64, "0000000000000000", "61A8A244ADACCCF0"},
      {"88BCA90E90875A", 64, "0000000000000000", "6CCF4308974C267F"},
      {"88BCA90E90875A7F0F79C384627BAFB2", 64, "0000000000000000", "1A807D272BBE5DB1"},
      {"88BCA90E90875A7F0F79C384627BAFB2", 128, "0000000000000000", "2269552AB0F85CA6"},
      {"88BCA90E90875A7F0F79C384627BAFB216F80A6F85920584C42FCEB0BE255DAF1E", 129,
       "0000000000000000", "5B78D3A43DFFF1F1"},
  };
  for (const auto& v : kVectors) {
    const RC2_KEY k = Schedule(FromHex(v.key), v.bits);
    const Bytes plain = FromHex(v.plain);
    uint8_t out[8], back[8];
    RC2_ecb_encrypt(plain.data(), out, &k, RC2_ENCRYPT);
    EXPECT_EQ(ToHex(out, 8), ToHex(FromHex(v.cipher))) << v.key << " " << v.bits;
    RC2_ecb_encrypt(out, back, &k, RC2_DECRYPT);
    EXPECT_EQ(ToHex(back, 8), ToHex(plain)) << v.key << " " << v.bits;
  }
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
