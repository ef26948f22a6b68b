// IDEA: the inverses in the decryption schedule, derived also in place, and
// the zero words of keys and blocks.  The vectors, modes, word order and texts
// are in the shared suites.

#include <cstring>

#include <gtest/gtest.h>
#include <morvane/idea.h>

#include "test_support.h"

namespace {

using morvane_test::Bytes;
using morvane_test::FromHex;
using morvane_test::ToHex;

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

// A 16-bit word 0 stands for 2^16 in the products modulo 2^16 + 1, as a
// subkey (the all-zero key makes every multiplier 0), as a word of the block
// and as a product's result.  Computed with libgcrypt 1.10 (IDEA, ECB).
TEST(Idea, ZeroWordsStandForTwoToTheSixteen) {
  static const struct {
    const char *key, *plain, *cipher;
  } kCases[] = {
      {"00000000000000000000000000000000", "0000000000000000", "0001000100000000"},
      {"00000000000000000000000000000000", "0001000200030004", "0174006b01b0ff43"},
      {"00010002000300040005000600070008", "0000000000000000", "28d32d260fec0309"},
      {"0000ffff0000ffff0000ffff0000ffff", "ffff0000ffff0000", "d1a706f2559c1b45"},
      {"ffffffffffffffffffffffffffffffff", "ffffffffffffffff", "cd1ab2c1211041fb"},
      {"00000001000000010000000100000001", "0000000100000001", "8bf57d846826530d"},
  };
  for (const auto& c : kCases) {
    IDEA_KEY_SCHEDULE ek, dk;
    idea_set_encrypt_key(FromHex(c.key).data(), &ek);
    idea_set_decrypt_key(&ek, &dk);
    Bytes block = FromHex(c.plain);
    idea_ecb_encrypt(block.data(), block.data(), &ek);
    EXPECT_EQ(ToHex(block), c.cipher) << c.key;
    idea_ecb_encrypt(block.data(), block.data(), &dk);
    EXPECT_EQ(ToHex(block), c.plain) << c.key;
  }
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
