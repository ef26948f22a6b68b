// The random generator's entry points: dispatch through the current method,
// the results when a slot is missing, and the default method's output.

#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include <morvane/rand.h>

#include "test_support.h"

namespace {

TEST(RandDefault, TheBuiltInGeneratorSeedsItself) {
  EXPECT_EQ(RAND_get_rand_method(), RAND_Quorix());
  std::vector<unsigned char> a(4096, 0), b(4096, 0);
  ASSERT_EQ(RAND_bytes(a.data(), static_cast<int>(a.size())), 1);
  ASSERT_EQ(RAND_bytes(b.data(), static_cast<int>(b.size())), 1);
  EXPECT_NE(a, b);
  ASSERT_EQ(RAND_pseudo_bytes(b.data(), 64), 1);
  EXPECT_EQ(RAND_status(), 1);
}

TEST(RandDefault, EmptyAndNegativeCountsWriteNothing) {
  unsigned char buf[4] = {7, 7, 7, 7};
  EXPECT_EQ(RAND_bytes(buf, 0), 1);
  EXPECT_EQ(RAND_bytes(buf, -5), 1);
  EXPECT_EQ(RAND_pseudo_bytes(buf, 0), 1);
  for (unsigned char c : buf) EXPECT_EQ(c, 7);
  RAND_seed(buf, -4);  // outside the contract: ignored
  RAND_add(nullptr, 4, 4.0);
  EXPECT_EQ(RAND_get_rand_method(), RAND_Quorix());
}

TEST(RandDispatch, DefaultIsInstalledLazily) {
  const RAND_METHOD* m = RAND_get_rand_method();
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(RAND_get_rand_method(), m);
  EXPECT_NE(m->bytes, nullptr);
  // Clearing the method makes the next use install the default again.
  EXPECT_EQ(RAND_set_rand_method(nullptr), 1);
  EXPECT_EQ(RAND_get_rand_method(), m);
}

struct Calls {
  int seed = 0, bytes = 0, add = 0, pseudo = 0, status = 0;
  double entropy = 0;
} calls;

void CountSeed(const void*, int num) {
  calls.seed += num;
}
int CountBytes(unsigned char* buf, int num) {
  calls.bytes++;
  std::memset(buf, 0xab, static_cast<size_t>(num));
  return 1;
}
void CountAdd(const void*, int, double entropy) {
  calls.add++;
  calls.entropy += entropy;
}
int CountPseudo(unsigned char* buf, int num) {
  calls.pseudo++;
  std::memset(buf, 0xcd, static_cast<size_t>(num));
  return 0;
}
int CountStatus() {
  calls.status++;
  return 0;
}

TEST(RandDispatch, ForwardsToTheCurrentMethod) {
  static const RAND_METHOD counting = {CountSeed, CountBytes,  nullptr,
                                       CountAdd,  CountPseudo, CountStatus};
  ASSERT_EQ(RAND_set_rand_method(&counting), 1);
  EXPECT_EQ(RAND_get_rand_method(), &counting);
  unsigned char buf[3] = {};
  RAND_seed(buf, 3);
  RAND_add(buf, 2, 1.5);
  EXPECT_EQ(RAND_bytes(buf, 3), 1);
  EXPECT_EQ(buf[2], 0xab);
  EXPECT_EQ(RAND_pseudo_bytes(buf, 3), 0);  // the slot's result, passed on
  EXPECT_EQ(buf[2], 0xcd);
  EXPECT_EQ(RAND_status(), 0);
  EXPECT_EQ(calls.seed, 3);
  EXPECT_EQ(calls.add, 1);
  EXPECT_DOUBLE_EQ(calls.entropy, 1.5);
  EXPECT_EQ(calls.bytes, 1);
  EXPECT_EQ(calls.pseudo, 1);
  EXPECT_EQ(calls.status, 1);
  RAND_set_rand_method(nullptr);
}

TEST(RandDispatch, MissingSlots) {
  static const RAND_METHOD empty = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
  ASSERT_EQ(RAND_set_rand_method(&empty), 1);
  unsigned char buf[2] = {5, 5};
  EXPECT_EQ(RAND_bytes(buf, 2), -1);
  EXPECT_EQ(RAND_pseudo_bytes(buf, 2), -1);
  EXPECT_EQ(RAND_status(), 0);
  RAND_seed(buf, 2);
  RAND_add(buf, 2, 2.0);
  EXPECT_EQ(buf[0], 5);
  EXPECT_EQ(buf[1], 5);
  RAND_set_rand_method(nullptr);
}

}  // namespace
