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

