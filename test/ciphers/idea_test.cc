// IDEA: published and peer vectors through both schedules, the inverses in the
// decryption schedule, and the schedule-picks-direction rule.  The modes are
// covered in modes64_test.cc.

#include <cstring>
#include <random>

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

TEST(Idea, EncryptionScheduleLayout) {
  // The first eight subkeys are the key's big-endian 16-bit words; the next
  // group is the key rotated left by 25 bits.
  IDEA_KEY_SCHEDULE ek;
  idea_set_encrypt_key(FromHex("00010002000300040005000600070008").data(), &ek);
  EXPECT_EQ(ek.data[0][0], 1u);
  EXPECT_EQ(ek.data[1][1], 8u);
  // Key << 25: 0400 0600 0800 0a00 0c00 0e00 1000 0200.
  EXPECT_EQ(ek.data[1][2], 0x0400u);
  EXPECT_EQ(ek.data[1][3], 0x0600u);
  EXPECT_EQ(ek.data[2][3], 0x0200u);
}

TEST(Idea, BlockFunctionUsesBigEndianWords) {
  IDEA_KEY_SCHEDULE ek, dk;
  idea_set_encrypt_key(FromHex("00010002000300040005000600070008").data(), &ek);
  idea_set_decrypt_key(&ek, &dk);
  unsigned int d[2] = {0x00000001u, 0x00020003u};
  idea_encrypt(d, &ek);
  EXPECT_EQ(d[0], 0x11FBED2Bu);
  EXPECT_EQ(d[1], 0x01986DE5u);
  idea_encrypt(d, &dk);
  EXPECT_EQ(d[0], 0x00000001u);
  EXPECT_EQ(d[1], 0x00020003u);
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

TEST(Idea, DecryptionScheduleNegatesAndReorders) {
  IDEA_KEY_SCHEDULE ek, dk;
  idea_set_encrypt_key(FromHex("2BD6459F82C5B300952C49104881FF48").data(), &ek);
  idea_set_decrypt_key(&ek, &dk);
  // First and last rows keep the order of the additive pair; the others swap.
  EXPECT_EQ(dk.data[0][1], (0x10000 - ek.data[8][1]) & 0xFFFF);
  EXPECT_EQ(dk.data[0][2], (0x10000 - ek.data[8][2]) & 0xFFFF);
  EXPECT_EQ(dk.data[3][1], (0x10000 - ek.data[5][2]) & 0xFFFF);
  EXPECT_EQ(dk.data[3][2], (0x10000 - ek.data[5][1]) & 0xFFFF);
  EXPECT_EQ(dk.data[8][1], (0x10000 - ek.data[0][1]) & 0xFFFF);
  EXPECT_EQ(dk.data[3][4], ek.data[4][4]);
  EXPECT_EQ(dk.data[3][5], ek.data[4][5]);
  // Derived in place, the same schedule.
  IDEA_KEY_SCHEDULE same = ek;
  idea_set_decrypt_key(&same, &same);
  EXPECT_EQ(memcmp(&same, &dk, sizeof dk), 0);
}

TEST(Idea, EcbTwiceWithBothSchedulesRestores) {
  std::mt19937 rng(7);
  for (int t = 0; t < 100; t++) {
    uint8_t key[16], block[8], orig[8];
    for (auto& v : key) v = static_cast<uint8_t>(rng());
    for (auto& v : block) v = static_cast<uint8_t>(rng());
    memcpy(orig, block, 8);
    IDEA_KEY_SCHEDULE ek, dk;
    idea_set_encrypt_key(key, &ek);
    idea_set_decrypt_key(&ek, &dk);
    idea_ecb_encrypt(block, block, &ek);
    EXPECT_NE(memcmp(block, orig, 8), 0);
    idea_ecb_encrypt(block, block, &dk);
    EXPECT_EQ(memcmp(block, orig, 8), 0);
  }
}

TEST(Idea, CbcDecryptionNeedsTheDecryptionSchedule) {
  IDEA_KEY_SCHEDULE ek, dk;
  idea_set_encrypt_key(FromHex("0123456789ABCDEF0123456789ABCDEF").data(), &ek);
  idea_set_decrypt_key(&ek, &dk);
  const Bytes msg = FromHex("00112233445566778899AABBCCDDEEFF0102");  // 18 bytes
  const Bytes iv = FromHex("0706050403020100");
  Bytes ct(24), pt(18), ivx = iv;
  idea_cbc_encrypt(msg.data(), ct.data(), 18, &ek, ivx.data(), IDEA_ENCRYPT);
  ivx = iv;
  idea_cbc_encrypt(ct.data(), pt.data(), 18, &ek, ivx.data(), IDEA_DECRYPT);
  EXPECT_NE(pt, msg);
  ivx = iv;
  idea_cbc_encrypt(ct.data(), pt.data(), 18, &dk, ivx.data(), IDEA_DECRYPT);
  EXPECT_EQ(pt, msg);
}

TEST(Idea, Texts) {
  EXPECT_STREQ(idea_options(), "idea(int)");
  EXPECT_STREQ(IDEA_version, "IDEA part of Morvane 0.9.8o 01 Jun 2010");
}

}  // namespace
