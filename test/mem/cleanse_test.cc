// MORVANE_cleanse: the filler pattern and the counter it leaves.

#include <morvane/crypto.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

TEST(Cleanse, WorkedExampleOnSixteenByteBoundary) {
  alignas(16) unsigned char buf[32];
  memset(buf, 0xFF, sizeof buf);
  cleanse_ctr = 0;
  MORVANE_cleanse(buf, 4);
  EXPECT_EQ(buf[0], 0);
  EXPECT_EQ(buf[1], 18);
  EXPECT_EQ(buf[2], 37);
  EXPECT_EQ(buf[3], 57);
  EXPECT_EQ(buf[4], 0xFF);  // nothing past the region
  EXPECT_EQ(cleanse_ctr, 78);
}

TEST(Cleanse, ZeroLengthChangesNothing) {
  unsigned char b = 0x33;
  cleanse_ctr = 91;
  MORVANE_cleanse(&b, 0);
  EXPECT_EQ(b, 0x33);
  EXPECT_EQ(cleanse_ctr, 91);
}

TEST(Cleanse, MatchingByteFoldsItsAddressIntoTheCounter) {
  // With the counter at 0 the first byte written is 0; a region whose final
  // counter's low byte equals one of the written bytes takes the extra step.
  // Find such a length, then check the rule against a direct computation.
  alignas(16) unsigned char buf[256];
  for (size_t len = 1; len < sizeof buf; len++) {
    cleanse_ctr = 0;
    MORVANE_cleanse(buf, len);
    unsigned int ctr = 0;
    for (size_t i = 0; i < len; i++)
      ctr += 17 + (static_cast<unsigned int>(reinterpret_cast<uintptr_t>(buf + i + 1)) & 15);
    unsigned int expect = ctr;
    for (size_t i = 0; i < len; i++) {
      if (buf[i] == (ctr & 0xFF)) {
        expect = ctr + 63 + static_cast<unsigned int>(reinterpret_cast<uintptr_t>(buf + i));
        break;
      }
    }
    ASSERT_EQ(cleanse_ctr, expect & 0xFF) << "length " << len;
  }
}

TEST(Cleanse, WipesAHeapBlockBeforeItIsFreed) {
  auto* p = static_cast<unsigned char*>(CRYPTO_malloc(64, "f", 1));
  ASSERT_NE(p, nullptr);
  memset(p, 0x42, 64);
  MORVANE_cleanse(p, 64);
  int same = 0;
  for (int i = 0; i < 64; i++) same += p[i] == 0x42;
  EXPECT_LT(same, 64);
  CRYPTO_free(p);
}
