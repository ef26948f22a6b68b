// The BIGNUM record: initialisation, copying with growth, release of embedded
// and allocated records, and comparison of magnitudes.

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "test_support.h"

namespace {

// A number over caller-owned words (least significant first), marked borrowed
// so that nothing tries to free or grow them.
BIGNUM Borrowed(std::vector<BN_ULONG>& words, int neg = 0) {
  BIGNUM n;
  BN_init(&n);
  n.d = words.data();
  n.top = static_cast<int>(words.size());
  n.dmax = n.top;
  n.neg = neg;
  n.flags = BN_FLAG_BORROWED;
  return n;
}

std::vector<BN_ULONG> Words(const BIGNUM& n) {
  return {n.d, n.d + n.top};
}

}  // namespace

TEST(BnInit, ClearsEveryField) {
  BIGNUM n;
  memset(&n, 0xA5, sizeof(n));
  BN_init(&n);
  EXPECT_EQ(n.d, nullptr);
  EXPECT_EQ(n.top, 0);
  EXPECT_EQ(n.dmax, 0);
  EXPECT_EQ(n.neg, 0);
  EXPECT_EQ(n.flags, 0);
}

TEST(BnCopy, CopiesWordsLengthAndSignAndGrowsTheTarget) {
  std::vector<BN_ULONG> w{0x89abcdefU, 0x01234567U, 0xfedcba98U};
  BIGNUM src = Borrowed(w, 1);
  src.flags |= BN_FLAG_SECRET;
  BIGNUM dst;
  BN_init(&dst);
  ASSERT_EQ(BN_copy(&dst, &src), &dst);
  EXPECT_EQ(Words(dst), w);
  EXPECT_EQ(dst.top, 3);
  EXPECT_GE(dst.dmax, 3);
  EXPECT_EQ(dst.neg, 1);
  EXPECT_EQ(dst.flags, 0);  // the target's flags stay; the secret mark is not copied
  EXPECT_NE(dst.d, w.data());

  // A shorter value reuses the array.
  std::vector<BN_ULONG> small{7};
  BIGNUM s = Borrowed(small);
  BN_ULONG* before = dst.d;
  ASSERT_EQ(BN_copy(&dst, &s), &dst);
  EXPECT_EQ(dst.d, before);
  EXPECT_EQ(Words(dst), small);
  EXPECT_EQ(dst.neg, 0);

  // Zero copies as zero.
  BIGNUM zero;
  BN_init(&zero);
  ASSERT_EQ(BN_copy(&dst, &zero), &dst);
  EXPECT_EQ(dst.top, 0);
  EXPECT_EQ(dst.neg, 0);
  BN_free(&dst);
}

TEST(BnCopy, GrowthKeepsTheWordsAlreadyThere) {
  std::vector<BN_ULONG> one{1}, four{1, 2, 3, 4};
  BIGNUM a = Borrowed(one), b = Borrowed(four);
  BIGNUM dst;
  BN_init(&dst);
  ASSERT_EQ(BN_copy(&dst, &a), &dst);
  ASSERT_EQ(BN_copy(&dst, &b), &dst);
  EXPECT_EQ(Words(dst), four);
  BN_free(&dst);
}

TEST(BnCopy, SelfCopyReturnsAtOnce) {
  std::vector<BN_ULONG> w{5, 6};
  BIGNUM n = Borrowed(w);
  EXPECT_EQ(BN_copy(&n, &n), &n);
  EXPECT_EQ(Words(n), w);
}

TEST(BnCopy, BorrowedTargetIsNeverGrown) {
  std::vector<BN_ULONG> target{9}, src{1, 2};
  BIGNUM t = Borrowed(target), s = Borrowed(src);
  EXPECT_EQ(BN_copy(&t, &s), nullptr);
  EXPECT_EQ(t.d, target.data());
  EXPECT_EQ(t.top, 1);
  EXPECT_EQ(t.dmax, 1);
  EXPECT_EQ(target[0], 9u);
}

TEST(BnCopy, MoreThan0xFFFFFFWordsIsRefusedBeforeAnyRead) {
  // The size check comes first: the source's words are never read.
  BIGNUM huge;
  BN_init(&huge);
  huge.top = 0x1000000;
  BIGNUM dst;
  BN_init(&dst);
  EXPECT_EQ(BN_copy(&dst, &huge), nullptr);
  EXPECT_EQ(dst.d, nullptr);
  EXPECT_EQ(dst.dmax, 0);
}

TEST(BnCopy, AllocationFailureLeavesTheTargetAsItWas) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  std::vector<BN_ULONG> one{42}, three{1, 2, 3};
  BIGNUM a = Borrowed(one), b = Borrowed(three);
  BIGNUM dst;
  BN_init(&dst);
  ASSERT_EQ(BN_copy(&dst, &a), &dst);
  BN_ULONG* before = dst.d;
  morvane_test::FailAllocationAfter(1);
  EXPECT_EQ(BN_copy(&dst, &b), nullptr);
  EXPECT_EQ(dst.d, before);
  EXPECT_EQ(dst.dmax, 1);
  EXPECT_EQ(Words(dst), one);
  EXPECT_ERRORS({{ERR_LIB_BN, BN_F_BN_EXPAND_INTERNAL, ERR_R_MALLOC_FAILURE}});
  BN_free(&dst);
  ERR_remove_state(0);
  EXPECT_EQ(morvane_test::GetAllocCounts().live_blocks, 0);
}

TEST(BnFree, EmbeddedRecordKeepsItsSizesAndIsMarkedReleased) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  std::vector<BN_ULONG> w{1, 2, 3};
  BIGNUM src = Borrowed(w, 1);
  BIGNUM n;
  BN_init(&n);
  ASSERT_EQ(BN_copy(&n, &src), &n);
  int dmax = n.dmax;
  BN_free(&n);
  EXPECT_EQ(n.d, nullptr);
  EXPECT_EQ(n.top, 3);
  EXPECT_EQ(n.dmax, dmax);
  EXPECT_EQ(n.neg, 1);
  EXPECT_EQ(n.flags, BN_FLAG_RELEASED);
  EXPECT_EQ(morvane_test::GetAllocCounts().live_blocks, 0);
  BN_free(nullptr);
}

TEST(BnFree, BorrowedWordsAreNotFreed) {
  std::vector<BN_ULONG> w{1};
  BIGNUM n = Borrowed(w);
  BN_free(&n);  // freeing the vector's storage would trip the sanitizer
  EXPECT_EQ(n.d, nullptr);
  EXPECT_EQ(n.flags, BN_FLAG_BORROWED | BN_FLAG_RELEASED);
}

TEST(BnFree, HeapRecordIsFreedWithItsWords) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  auto* n = static_cast<BIGNUM*>(CRYPTO_malloc(sizeof(BIGNUM), "test", 1));
  ASSERT_NE(n, nullptr);
  BN_init(n);
  n->flags = BN_FLAG_HEAP;
  std::vector<BN_ULONG> w{1, 2};
  BIGNUM src = Borrowed(w);
  ASSERT_EQ(BN_copy(n, &src), n);
  EXPECT_EQ(morvane_test::GetAllocCounts().live_blocks, 2);
  BN_free(n);
  EXPECT_EQ(morvane_test::GetAllocCounts().live_blocks, 0);
}

TEST(BnUcmp, WordCountFirstThenWordsFromTheTop) {
  std::vector<BN_ULONG> three{0, 0, 1}, one{0xffffffffU};
  BIGNUM a = Borrowed(three), b = Borrowed(one);
  EXPECT_EQ(BN_ucmp(&a, &b), 2);
  EXPECT_EQ(BN_ucmp(&b, &a), -2);

  std::vector<BN_ULONG> x{0xffffffffU, 1}, y{0, 2};
  BIGNUM bx = Borrowed(x), by = Borrowed(y);
  EXPECT_EQ(BN_ucmp(&bx, &by), -1);  // the high word decides
  EXPECT_EQ(BN_ucmp(&by, &bx), 1);

  std::vector<BN_ULONG> lo{0x7fffffffU}, hi{0x80000000U};
  BIGNUM blo = Borrowed(lo), bhi = Borrowed(hi);
  EXPECT_EQ(BN_ucmp(&bhi, &blo), 1);  // words compare unsigned
}

TEST(BnUcmp, SignsAreIgnored) {
  std::vector<BN_ULONG> p{3}, m{3}, q{4};
  BIGNUM plus = Borrowed(p), minus = Borrowed(m, 1), four = Borrowed(q, 1);
  EXPECT_EQ(BN_ucmp(&plus, &minus), 0);
  EXPECT_EQ(BN_ucmp(&minus, &four), -1);
  BIGNUM z1, z2;
  BN_init(&z1);
  BN_init(&z2);
  EXPECT_EQ(BN_ucmp(&z1, &z2), 0);
  EXPECT_EQ(BN_ucmp(&plus, &z1), 1);
}
