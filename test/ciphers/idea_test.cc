// IDEA: published and peer vectors through both schedules and the inverses in
// the decryption schedule.  The modes, word order and texts are in the shared
// suites.

#include <cstring>

#include <gtest/gtest.h>
#include <morvane/idea.h>

#include "test_support.h"

namespace {

using morvane_test::Bytes;
using morvane_test::FromHex;
using morvane_test::ToHex;

struct Vector {
  const char* key;
  const char* plain;
  const char* cipher;
};

constexpr Vector kVectors[] = {
    // Lai and Massey's example (Lai, "On the Design and Security of Block
    // Ciphers", 1992), also libgcrypt's first self-test vector.
    {"00010002000300040005000600070008", "0000000100020003", "11FBED2B01986DE5"},
    // libgcrypt 1.10 self-test vectors.
    {"00010002000300040005000600070008", "0102030405060708", "540E5FEA18C2F8B1"},
    {"2BD6459F82C5B300952C49104881FF48", "EA024714AD5C4D84", "C8FB51D3516627A8"},
    // Computed with libgcrypt 1.10: every subkey of the all-zero key is 0
    // (2^16 in the multiplications); keys with few set bits.
    {"00000000000000000000000000000000", "0000000000000000", "0001000100000000"},
    {"FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "CD1AB2C1211041FB"},
    {"80000000000000000000000000000000", "0000000000000000", "B1F5F7F87901370F"},
    {"000000000000000000000000000000FF", "8000000000000000", "DE07A6102CE98D28"},
    {"0123456789ABCDEF0123456789ABCDEF", "FEDCBA9876543210", "BF4396A7EB4F9741"},
};

TEST(Idea, KnownAnswersThroughBothSchedules) {
  for (const Vector& v : kVectors) {
    IDEA_KEY_SCHEDULE ek, dk;
    idea_set_encrypt_key(FromHex(v.key).data(), &ek);
    idea_set_decrypt_key(&ek, &dk);
    const Bytes plain = FromHex(v.plain);
    uint8_t out[8], back[8];
    idea_ecb_encrypt(plain.data(), out, &ek);
    EXPECT_EQ(ToHex(out, 8), ToHex(FromHex(v.cipher))) << v.key;
    idea_ecb_encrypt(out, back, &dk);
    EXPECT_EQ(ToHex(back, 8), ToHex(plain)) << v.key;
  }
}

// Row 0 of the decryption schedule holds the inverses of the output
// transformation's multipliers; check x * inverse(x) = 1 modulo 65537 for
// every 16-bit x (0 standing for 65536, which is its own inverse).
TEST(Idea, DecryptionScheduleHoldsMultiplicativeInverses) {
  IDEA_KEY_SCHEDULE ek = {}, dk;
  for (unsigned int x = 0; x <= 0xFFFF; x++) {
    ek.data[8][0] = x;
    ek.data[8][3] = 0xFFFF - x;
    idea_set_decrypt_key(&ek, &dk);
    for (int place : {0, 3}) {
      const uint64_t a = ek.data[8][place] ? ek.data[8][place] : 0x10000;
      const uint64_t b = dk.data[0][place] ? dk.data[0][place] : 0x10000;
      ASSERT_LE(dk.data[0][place], 0xFFFFu);
      ASSERT_EQ(a * b % 0x10001, 1u) << "x=" << ek.data[8][place];
    }
  }
  ek.data[8][0] = 1;
  ek.data[8][3] = 0;
  idea_set_decrypt_key(&ek, &dk);
  EXPECT_EQ(dk.data[0][0], 1u);
  EXPECT_EQ(dk.data[0][3], 0u);
}

// The decryption schedule may be derived in place.
TEST(Idea, DecryptionScheduleInPlace) {
  IDEA_KEY_SCHEDULE ek, dk;
  idea_set_encrypt_key(FromHex("2BD6459F82C5B300952C49104881FF48").data(), &ek);
  idea_set_decrypt_key(&ek, &dk);
  IDEA_KEY_SCHEDULE same = ek;
  idea_set_decrypt_key(&same, &same);
  EXPECT_EQ(memcmp(&same, &dk, sizeof dk), 0);
}

}  // namespace
