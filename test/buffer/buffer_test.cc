// Growable buffers and the string helpers: growth sizes, zeroing of exposed
// and released bytes, failures and the bounded copy rules.

#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/buffer.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "test_support.h"

namespace {

std::vector<morvane_test::ErrEntry> BufError(int func) {
  return {{ERR_LIB_BUF, func, ERR_R_MALLOC_FAILURE}};
}

using morvane_test::Released;

void InstallTracking() { ASSERT_TRUE(morvane_test::InstallReleaseTracking()); }

TEST(BufMem, GrowthSizes) {
  InstallTracking();
  BUF_MEM* b = BUF_MEM_new();
  ASSERT_NE(b, nullptr);
  int requests = Released().requests;
  EXPECT_EQ(BUF_MEM_grow(b, 0), 0);  // nothing to allocate
  EXPECT_EQ(BUF_MEM_grow_clean(b, 0), 0);
  EXPECT_EQ(Released().requests, requests);
  EXPECT_EQ(b->data, nullptr);
  EXPECT_ERRORS({});
  EXPECT_EQ(BUF_MEM_grow(b, 1), 1);
  EXPECT_EQ(b->max, 4);
  EXPECT_EQ(b->data[0], 0);
  requests = Released().requests;
  EXPECT_EQ(BUF_MEM_grow(b, 4), 4);
  EXPECT_EQ(Released().requests, requests);  // within max: no allocation
  EXPECT_EQ(BUF_MEM_grow(b, 5), 5);
  EXPECT_EQ(b->max, 8);
  EXPECT_EQ(Released().requests, requests + 1);
  EXPECT_EQ(BUF_MEM_grow(b, 100), 100);
  EXPECT_EQ(b->max, 136);
  EXPECT_EQ(BUF_MEM_grow(b, 1024), 1024);
  EXPECT_EQ(b->max, 1368);
  EXPECT_EQ(Released().live[b->data], 1368u);
  BUF_MEM_free(b);
}

TEST(BufMem, ExposedBytesReadAsZero) {
  BUF_MEM* b = BUF_MEM_new();
  ASSERT_EQ(BUF_MEM_grow(b, 10), 10);
  EXPECT_EQ(b->max, 16);
  EXPECT_EQ(std::string(b->data, 10), std::string(10, '\0'));
  memset(b->data, 'x', 10);
  EXPECT_EQ(BUF_MEM_grow(b, 3), 3);
  EXPECT_EQ(std::string(b->data, 10), "xxxxxxxxxx");  // shrinking keeps the bytes
  char* storage = b->data;
  EXPECT_EQ(BUF_MEM_grow(b, 10), 10);
  EXPECT_EQ(b->data, storage);
  EXPECT_EQ(std::string(b->data, 10), std::string("xxx") + std::string(7, '\0'));
  memset(b->data, 'y', 10);
  EXPECT_EQ(BUF_MEM_grow(b, 20), 20);  // reallocation keeps the contents
  EXPECT_EQ(std::string(b->data, 20), std::string(10, 'y') + std::string(10, '\0'));
  BUF_MEM_free(b);
}

// The clean forms zero what a shrink drops at once and leave no copy behind
// when they move; freeing zeroes the whole storage, beyond the length too.
TEST(BufMem, ReleasedBytesAreWiped) {
  InstallTracking();
  BUF_MEM* b = BUF_MEM_new();
  ASSERT_EQ(BUF_MEM_grow_clean(b, 10), 10);
  memcpy(b->data, "secretdata", 10);
  EXPECT_EQ(BUF_MEM_grow_clean(b, 3), 3);
  EXPECT_EQ(std::string(b->data, 10), std::string("sec") + std::string(7, '\0'));
  memcpy(b->data, "secretdata", 10);
  Released().freed.clear();
  ASSERT_EQ(BUF_MEM_grow_clean(b, 100), 100);
  EXPECT_EQ(std::string(b->data, 3), "sec");
  ASSERT_EQ(Released().freed.size(), 1u);  // the old 16-byte block, cleansed
  EXPECT_EQ(Released().freed[0].size(), 16u);
  EXPECT_EQ(Released().freed[0].find("sec"), std::string::npos);
  memset(b->data, 'x', static_cast<size_t>(b->max));
  ASSERT_EQ(BUF_MEM_grow(b, 2), 2);
  Released().freed.clear();
  BUF_MEM_free(b);
  ASSERT_EQ(Released().freed.size(), 2u);  // storage, then the record
  EXPECT_EQ(Released().freed[0], std::string(Released().freed[0].size(), '\0'));
  BUF_MEM_free(nullptr);
}

TEST(BufMem, NegativeOrOversizedLengthFails) {
  BUF_MEM* b = BUF_MEM_new();
  ASSERT_EQ(BUF_MEM_grow(b, 5), 5);
  // 1,610,612,733 is the first length whose storage would pass INT_MAX: the
  // reason names the limit, not a failed allocation.
  for (int len : {-1, INT_MIN, INT_MAX, INT_MAX / 4 * 3}) {
    const int reason = len < 0 ? ERR_R_MALLOC_FAILURE : BUF_R_SIZE_LIMIT_EXCEEDED;
    EXPECT_EQ(BUF_MEM_grow(b, len), 0) << len;
    EXPECT_ERRORS({{ERR_LIB_BUF, BUF_F_BUF_MEM_GROW, reason}}) << len;
    EXPECT_EQ(BUF_MEM_grow_clean(b, len), 0) << len;
    EXPECT_ERRORS({{ERR_LIB_BUF, BUF_F_BUF_MEM_GROW_CLEAN, reason}}) << len;
    EXPECT_EQ(b->length, 5);
    EXPECT_EQ(b->max, 8);
  }
  BUF_MEM_free(b);
}

TEST(BufMem, AllocationFailureLeavesTheBufferAlone) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  BUF_MEM* b = BUF_MEM_new();
  ASSERT_EQ(BUF_MEM_grow(b, 3), 3);
  char* storage = b->data;
  morvane_test::FailAllocationAfter(1);
  EXPECT_EQ(BUF_MEM_grow(b, 50), 0);
  EXPECT_ERRORS(BufError(BUF_F_BUF_MEM_GROW));
  morvane_test::FailAllocationAfter(1);
  EXPECT_EQ(BUF_MEM_grow_clean(b, 50), 0);
  EXPECT_ERRORS(BufError(BUF_F_BUF_MEM_GROW_CLEAN));
  EXPECT_EQ(b->data, storage);
  EXPECT_EQ(b->length, 3);
  EXPECT_EQ(b->max, 8);
  BUF_MEM_free(b);

  morvane_test::FailAllocationAfter(1);
  EXPECT_EQ(BUF_MEM_new(), nullptr);
  EXPECT_ERRORS(BufError(BUF_F_BUF_MEM_NEW));
  ERR_remove_state(0);
  EXPECT_EQ(morvane_test::GetAllocCounts().live_blocks, 0);
}

// ---- string helpers ----------------------------------------------------------

TEST(BufStr, Strlcpy) {
  char dst[8];
  memset(dst, '#', sizeof dst);
  EXPECT_EQ(BUF_strlcpy(dst, "hello", 3), 5u);
  EXPECT_EQ(std::string(dst, 4), std::string("he\0#", 4));
  memset(dst, '#', sizeof dst);
  EXPECT_EQ(BUF_strlcpy(dst, "hello", 1), 5u);
  EXPECT_EQ(dst[0], '\0');
  EXPECT_EQ(dst[1], '#');
  memset(dst, '#', sizeof dst);
  EXPECT_EQ(BUF_strlcpy(dst, "hello", 0), 5u);
  EXPECT_EQ(dst[0], '#');
  EXPECT_EQ(BUF_strlcpy(dst, "hello", sizeof dst), 5u);
  EXPECT_STREQ(dst, "hello");
}

TEST(BufStr, Strlcat) {
  char dst[8] = "ab";
  EXPECT_EQ(BUF_strlcat(dst, "cd", 4), 4u);
  EXPECT_STREQ(dst, "abc");
  char full[4] = {'w', 'x', 'y', 'z'};  // no NUL within size
  EXPECT_EQ(BUF_strlcat(full, "cd", 4), 6u);
  EXPECT_EQ(std::string(full, 4), "wxyz");
  char room[16] = "ab";
  EXPECT_EQ(BUF_strlcat(room, "cdef", sizeof room), 6u);
  EXPECT_STREQ(room, "abcdef");
}

TEST(BufStr, Duplicates) {
  InstallTracking();
  char* s = BUF_strndup("hello", 2);
  EXPECT_STREQ(s, "he");
  EXPECT_EQ(Released().live[s], 3u);
  MORVANE_free(s);
  s = BUF_strndup("hi", 10);
  EXPECT_STREQ(s, "hi");
  EXPECT_EQ(Released().live[s], 11u);
  MORVANE_free(s);
  const char unterminated[3] = {'a', 'b', 'c'};  // read no further than siz
  s = BUF_strndup(unterminated, 3);
  EXPECT_STREQ(s, "abc");
  MORVANE_free(s);
  s = BUF_strdup("copy");
  EXPECT_STREQ(s, "copy");
  MORVANE_free(s);
  const unsigned char bytes[3] = {0, 1, 2};
  auto* m = static_cast<unsigned char*>(BUF_memdup(bytes, 3));
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(memcmp(m, bytes, 3), 0);
  MORVANE_free(m);

  EXPECT_EQ(BUF_strdup(nullptr), nullptr);
  EXPECT_EQ(BUF_strndup(nullptr, 3), nullptr);
  EXPECT_EQ(BUF_memdup(nullptr, 3), nullptr);
  EXPECT_ERRORS({});  // null input is not an error
}

TEST(BufStr, Failures) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  const char p[1] = {'x'};
  EXPECT_EQ(BUF_memdup(p, 0), nullptr);
  EXPECT_ERRORS(BufError(BUF_F_BUF_MEMDUP));
  morvane_test::FailAllocationAfter(1);
  EXPECT_EQ(BUF_strdup("x"), nullptr);
  EXPECT_ERRORS(BufError(BUF_F_BUF_STRNDUP));
  EXPECT_EQ(BUF_strndup("x", static_cast<size_t>(INT_MAX)), nullptr);  // block too big
  EXPECT_ERRORS(BufError(BUF_F_BUF_STRNDUP));
  EXPECT_EQ(BUF_memdup(p, static_cast<size_t>(INT_MAX) + 1), nullptr);
  EXPECT_ERRORS(BufError(BUF_F_BUF_MEMDUP));
  ERR_remove_state(0);
  EXPECT_EQ(morvane_test::GetAllocCounts().live_blocks, 0);
}

}  // namespace
