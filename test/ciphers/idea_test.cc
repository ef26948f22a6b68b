// IDEA: the inverses in the decryption schedule, derived also in place.  The
// vectors, modes, word order and texts are in the shared suites.

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
