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


// The word-wise wipe leaves exactly the bytes and the counter of the
// byte-by-byte definition: store the counter, step to the next byte, add 17
// plus its address's low four bits; then find the first byte equal to the
// counter and add 63 plus its address.  Every start within two runs of 16,
// lengths across the word and run boundaries, several starting counters.
TEST(Cleanse, MatchesTheByteByByteDefinition) {
  alignas(64) static unsigned char buf[640];
  alignas(64) static unsigned char want[640];
  for (unsigned int start_ctr : {0u, 1u, 78u, 200u, 255u}) {
    for (size_t off = 0; off < 32; off++) {
      for (size_t len : {1, 7, 8, 15, 16, 17, 31, 32, 33, 100, 255, 256, 513, 600}) {
        memset(buf, 0xA5, sizeof buf);
        memset(want, 0xA5, sizeof want);
        unsigned int ctr = start_ctr;
        for (size_t i = 0; i < len; i++) {
          want[off + i] = static_cast<unsigned char>(ctr);
          ctr += 17 +
                 (static_cast<unsigned int>(reinterpret_cast<uintptr_t>(buf + off + i + 1)) & 0xF);
        }
        for (size_t i = 0; i < len; i++) {
          if (want[off + i] == static_cast<unsigned char>(ctr)) {
            ctr += 63 + static_cast<unsigned int>(reinterpret_cast<uintptr_t>(buf + off + i));
            break;
          }
        }
        cleanse_ctr = static_cast<unsigned char>(start_ctr);
        MORVANE_cleanse(buf + off, len);
        ASSERT_EQ(memcmp(buf, want, sizeof buf), 0)
            << "counter " << start_ctr << " offset " << off << " length " << len;
        ASSERT_EQ(cleanse_ctr, static_cast<unsigned char>(ctr))
            << "counter " << start_ctr << " offset " << off << " length " << len;
      }
    }
  }
}
