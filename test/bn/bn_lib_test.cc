// BIGNUM basics beyond the known-answer file: the constant one, refused
// sizes, flags, tuning values, the progress callback, release of borrowed and
// secret words, and every allocation failure of the operations that allocate.

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "bn_test_util.h"
#include "test_support.h"

using bn_test::Words;

// A number from hex text, owned by the caller.
BIGNUM* Hex(const char* text) { return bn_test::Hex(text).release(); }

TEST(BnSmall, ConstantOneComparisonsAndRefusedSizes) {
  const BIGNUM* one = BN_value_one();
  EXPECT_TRUE(BN_is_one(one));
  EXPECT_EQ(one->flags, BN_FLAG_BORROWED);
  BIGNUM* m = Hex("-7");
  EXPECT_EQ(bn_expand2(const_cast<BIGNUM*>(one), 2), nullptr);
  EXPECT_EQ(bn_expand2(m, 0x1000000), nullptr);
  EXPECT_EQ(BN_bin2bn(reinterpret_cast<const unsigned char*>("x"), -1, m), nullptr);
  EXPECT_ERRORS({{ERR_LIB_BN, BN_F_BN_EXPAND_INTERNAL, BN_R_EXPAND_ON_STATIC_BIGNUM_DATA},
                 {ERR_LIB_BN, BN_F_BN_EXPAND_INTERNAL, BN_R_BIGNUM_TOO_LONG},
                 {ERR_LIB_BN, 0, BN_R_INVALID_LENGTH}});
  BIGNUM *d = bn_dup_expand(m, 9), *d1 = bn_dup_expand(one, 3);  // a borrowed source too
  EXPECT_EQ(d->dmax + d1->dmax, 9 + 3);
  EXPECT_EQ(BN_cmp(d, m), 0);
  EXPECT_TRUE(BN_is_one(d1));
  BN_free(d1);
  EXPECT_EQ(BN_cmp(nullptr, nullptr), 0);
  EXPECT_EQ(BN_cmp(nullptr, m), 1);
  EXPECT_EQ(BN_cmp(m, nullptr), -1);
  const BN_ULONG x[2] = {1, 0}, y[2] = {1, 5};
  EXPECT_EQ(bn_cmp_words(x, y, 0), 0);
  EXPECT_EQ(bn_cmp_part_words(x, y, 1, -1), -1);
  EXPECT_EQ(bn_cmp_part_words(y, x, 1, 1), 1);
  EXPECT_EQ(bn_cmp_part_words(x, x, 1, 1), 0);
  BN_free(d);
  BN_free(m);
}

TEST(BnSwap, KeepsHeapMovesBorrowedClearsTheRest) {
  BN_ULONG w[1] = {5};
  BIGNUM stack;
  BN_init(&stack);
  stack.d = w;
  stack.top = stack.dmax = 1;
  stack.flags = BN_FLAG_BORROWED | BN_FLAG_SECRET;
  BIGNUM* heap = Hex("-123456789");
  BN_set_flags(heap, BN_FLAG_SECRET);
  BN_swap(&stack, heap);
  EXPECT_EQ(heap->flags, BN_FLAG_HEAP | BN_FLAG_BORROWED);
  EXPECT_EQ(stack.flags, 0);
  EXPECT_EQ(heap->d, w);
  EXPECT_EQ(stack.neg, 1);
  BN_free(&stack);
  BN_free(heap);  // the borrowed words stay
  EXPECT_EQ(w[0], 5u);
}

TEST(BnParams, ClampedNonNegativeValues) {
  BN_set_params(40, -1, 0, 5);
  const int expect[] = {31, 0, 0, 5, 0, 0};
  for (int i = 0; i < 6; i++) EXPECT_EQ(BN_get_params(i == 5 ? -1 : i), expect[i]) << i;
  EXPECT_STREQ(BN_options(), "bn(32,32)");
  EXPECT_STREQ(BN_version, "Big Number part of Morvane 0.9.8o 01 Jun 2010");
}

TEST(BnGencb, VersionsAndCallbacks) {
  int seen = 0;
  BN_GENCB cb{1, &seen, {nullptr}};
  EXPECT_EQ(BN_GENCB_call(nullptr, 1, 2) + BN_GENCB_call(&cb, 1, 2), 2);
  cb.cb.cb_1 = [](int a, int b, void* arg) { *static_cast<int*>(arg) = a * 10 + b; };
  EXPECT_EQ(BN_GENCB_call(&cb, 3, 4), 1);
  EXPECT_EQ(seen, 34);
  cb.ver = 2;
  cb.cb.cb_2 = [](int a, int, BN_GENCB*) { return a; };
  EXPECT_EQ(BN_GENCB_call(&cb, 0, 1), 0);
  EXPECT_EQ(BN_GENCB_call(&cb, 7, 1), 7);
  cb.ver = 3;
  EXPECT_EQ(BN_GENCB_call(&cb, 7, 1), 0);
}

TEST(BnClear, BorrowedWordsAreNeverWrittenOwnedOnesAre) {
  BN_ULONG w[2] = {0x11111111, 0x22222222};
  BIGNUM b = bn_test::Borrowed(w, 2);
  BN_clear(&b);
  EXPECT_EQ(b.top, 0);
  BN_clear_free(&b);
  EXPECT_EQ(w[0], 0x11111111u);
  EXPECT_EQ(w[1], 0x22222222u);
  EXPECT_EQ(b.d, nullptr);
  BN_free(&b);  // after BN_clear_free an embedded record is safe to free again
  BN_clear_free(const_cast<BIGNUM*>(BN_value_one()));
  BN_clear(const_cast<BIGNUM*>(BN_value_one()));
  EXPECT_TRUE(BN_is_one(BN_value_one()));
  BIGNUM* n = Hex("-FEDCBA9876543210");
  BN_clear(n);
  EXPECT_EQ(n->neg, 0);
  EXPECT_EQ(n->d[0] | n->d[1], 0u);
  BN_free(n);
}

namespace {
const BN_ULONG* watched = nullptr;
std::vector<BN_ULONG> seen_at_free;
void* Malloc(size_t n) { return malloc(n); }
void* Realloc(void* p, size_t n) { return realloc(p, n); }
void Free(void* p) {
  if (p != nullptr && p == watched) seen_at_free.assign(watched, watched + 3);
  free(p);
}
}  // namespace

TEST(BnClearFree, WipesTheWordsBeforeFreeingThem) {
  ASSERT_TRUE(CRYPTO_set_mem_functions(Malloc, Realloc, Free));
  BIGNUM* n = Hex("5EC2E75EC2E75EC2E75EC2E7");
  const std::vector<BN_ULONG> secret = Words(n);
  watched = n->d;
  BN_clear_free(n);
  ASSERT_EQ(seen_at_free.size(), 3u);
  for (int i = 0; i < 3; i++) EXPECT_NE(seen_at_free[i], secret[i]) << i;
}

// Each operation that allocates, made to fail at its 1st, 2nd, ... allocation
// until it succeeds: a failure returns the failure value with an error queued
// and leaks nothing.
TEST(BnAllocation, EveryFailurePathIsCleanAndReported) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  BIGNUM* a = Hex("-123456789ABCDEF0123456789");
  const unsigned char mpi[] = {0, 0, 0, 2, 0x80, 0x80};
  const std::vector<std::pair<const char*, std::function<bool()>>> ops = {
      {"bn2dec", [&] { char* s = BN_bn2dec(a); MORVANE_free(s); return s != nullptr; }},
      {"bn2hex", [&] { char* s = BN_bn2hex(a); MORVANE_free(s); return s != nullptr; }},
      {"hex2bn", [&] { BIGNUM* r = nullptr; int k = BN_hex2bn(&r, "123456789ABCDEF01"); BN_free(r); return k != 0; }},
      {"dec2bn", [&] { BIGNUM* r = nullptr; int k = BN_dec2bn(&r, "12345678901234567890"); BN_free(r); return k != 0; }},
      {"mpi2bn", [&] { BIGNUM* r = BN_mpi2bn(mpi, 6, nullptr); BN_free(r); return r != nullptr; }},
      {"dup", [&] { BIGNUM* r = BN_dup(a); BN_free(r); return r != nullptr; }},
      {"lshift", [&] { BIGNUM r; BN_init(&r); int k = BN_lshift(&r, a, 100); BN_free(&r); return k != 0; }},
      {"uadd", [&] { BIGNUM r; BN_init(&r); int k = BN_uadd(&r, a, a); BN_free(&r); return k != 0; }},
  };
  for (const auto& [name, op] : ops) {
    bool done = false;
    for (long fail_at = 1; !done && fail_at < 10; fail_at++) {
      const long live = morvane_test::GetAllocCounts().live_blocks;
      morvane_test::FailAllocationAfter(fail_at);
      done = op();
      morvane_test::FailAllocationAfter(0);
      if (!done) {
        EXPECT_NE(ERR_peek_error(), 0u) << name << " at " << fail_at;
      }
      ERR_remove_state(0);
      EXPECT_EQ(morvane_test::GetAllocCounts().live_blocks, live) << name << " at " << fail_at;
    }
    EXPECT_TRUE(done) << name;
  }
  BN_free(a);
}
