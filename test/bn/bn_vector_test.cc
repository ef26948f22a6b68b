// The vector products on their exact write ranges: each against the
// schoolbook product bn_mul_normal (itself checked through BN_mul by the
// differential test), with the output pre-filled and guard words around it;
// then BN_mul's and BN_sqr's choice of method, seen through the result's size.

#include <morvane/bn.h>

#include <gtest/gtest.h>

#include <vector>

#include "bn_test_util.h"

namespace {

using namespace bn_test;
using Vec = std::vector<BN_ULONG>;

constexpr int kGuard = 3;
constexpr BN_ULONG kFill = 0xA5A5A5A5;

// n words of one kind: 0 random (carry-prone values often), 1 equal halves,
// 2 all ones, 3 all 0x00000001.
Vec Draw(int n, int kind, uint64_t seed) {
  SplitMix64 rng{seed * 977 + static_cast<uint64_t>(n)};
  Vec w = DrawWords(rng, static_cast<uint64_t>(n));
  if (kind == 1) std::copy_n(w.begin(), n / 2, w.end() - n / 2);
  if (kind >= 2) w.assign(static_cast<size_t>(n), kind == 2 ? 0xFFFFFFFFu : 1u);
  return w;
}

// a * b on na + nb words, zero-extended to `len` words.
Vec Product(Vec a, Vec b, size_t len) {
  Vec r(a.size() + b.size());
  bn_mul_normal(r.data(), a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()));
  r.resize(len, 0);
  return r;
}

// Runs f(out) on a filled buffer of want.size() words with guards, and
// checks the words written and the guards.
template <class F>
void ExpectWrites(const Vec& want, F f) {
  Vec buf(want.size() + 2 * kGuard, kFill);
  f(buf.data() + kGuard);
  EXPECT_EQ(Vec(buf.begin() + kGuard, buf.end() - kGuard), want);
  for (int i = 0; i < kGuard; i++) EXPECT_TRUE(buf[i] == kFill && buf[buf.size() - 1 - i] == kFill) << "guard " << i;
}

Bn FromWords(const Vec& w) { return Make(std::vector<uint32_t>(w.begin(), w.end()), false); }

}  // namespace

TEST(BnVector, KaratsubaProductsMatchTheSchoolbookProduct) {
  struct Case { int n, da, db; };
  // bn_mul_recursive: n2 and the shortfalls.
  for (Case c : {Case{8, 0, 0}, {8, -1, -2}, {16, 0, 0}, {16, -1, 0}, {16, 0, -1}, {32, 0, -1},
                 {32, -3, -2}, {64, 0, 0}, {64, -1, -1}, {128, 0, -1}}) {
    for (int kind = 0; kind < 4; kind++) {
      SCOPED_TRACE(testing::Message() << "recursive " << c.n << " " << c.da << " " << c.db << " kind " << kind);
      Vec a = Draw(c.n + c.da, kind, 1), b = Draw(c.n + c.db, kind, 2), t(4 * c.n);
      ExpectWrites(Product(a, b, 2 * c.n), [&](BN_ULONG* r) { bn_mul_recursive(r, a.data(), b.data(), c.n, c.da, c.db, t.data()); });
    }
  }
  // bn_mul_part_recursive: n and the upper parts' lengths.
  for (Case c : {Case{4, 1, 2}, {8, 3, 4}, {8, 0, 1}, {16, 1, 0}, {16, 15, 15}, {16, 0, 1}, {32, 16, 16},
                 {32, 17, 16}, {32, 5, 4}, {64, 20, 21}, {64, 40, 39}, {64, 33, 32}}) {
    for (int kind = 0; kind < 4; kind++) {
      SCOPED_TRACE(testing::Message() << "part " << c.n << " " << c.da << " " << c.db << " kind " << kind);
      Vec a = Draw(c.n + c.da, kind, 3), b = Draw(c.n + c.db, kind, 4), t(8 * c.n);
      ExpectWrites(Product(a, b, 4 * c.n), [&](BN_ULONG* r) { bn_mul_part_recursive(r, a.data(), b.data(), c.n, c.da, c.db, t.data()); });
    }
  }
}

TEST(BnVector, HalfProductsMatchTheSchoolbookProduct) {
  for (int n : {1, 5, 16, 32, 64, 128}) {
    for (int kind = 0; kind < 4; kind++) {
      SCOPED_TRACE(testing::Message() << n << " words, kind " << kind);
      Vec a = Draw(n, kind, 5), b = Draw(n, kind, 6), full = Product(a, b, 2 * n), t(3 * n);
      Vec low(full.begin(), full.begin() + n), high(full.begin() + n, full.end());
      ExpectWrites(low, [&](BN_ULONG* r) { bn_mul_low_normal(r, a.data(), b.data(), n); });
      if (n < 16) continue;
      ExpectWrites(low, [&](BN_ULONG* r) { bn_mul_low_recursive(r, a.data(), b.data(), n, t.data()); });
      ExpectWrites(high, [&](BN_ULONG* r) { bn_mul_high(r, a.data(), b.data(), low.data(), n, t.data()); });
      // A null low half stands for zeros: operands with zero low halves.
      std::fill_n(a.begin(), n / 2, 0);
      std::fill_n(b.begin(), n / 2, 0);
      full = Product(a, b, 2 * n);
      ExpectWrites(Vec(full.begin() + n, full.end()), [&](BN_ULONG* r) { bn_mul_high(r, a.data(), b.data(), nullptr, n, t.data()); });
    }
  }
}

TEST(BnVector, SquaresMatchTheSchoolbookProduct) {
  for (int n : {1, 2, 3, 4, 8, 15, 16, 17, 32, 64}) {
    for (int kind = 0; kind < 4; kind++) {
      SCOPED_TRACE(testing::Message() << n << " words, kind " << kind);
      Vec a = Draw(n, kind, 7), t(4 * n);
      ExpectWrites(Product(a, a, 2 * n), [&](BN_ULONG* r) { bn_sqr_normal(r, a.data(), n, t.data()); });
      if ((n & (n - 1)) == 0 && n >= 4)
        ExpectWrites(Product(a, a, 2 * n), [&](BN_ULONG* r) { bn_sqr_recursive(r, a.data(), n, t.data()); });
    }
  }
}

TEST(BnVector, PartWordsSumsMatchZeroExtendedSums) {
  for (auto [cl, dl] : {std::pair{5, 0}, {5, 3}, {5, -3}, {0, -4}, {4, 1}, {2, -6}}) {
    for (int kind = 0; kind < 4; kind++) {
      SCOPED_TRACE(testing::Message() << cl << " " << dl << " kind " << kind);
      const int len = cl + (dl < 0 ? -dl : dl);
      Vec a = Draw(cl + std::max(dl, 0), kind, 8), b = Draw(cl + std::max(-dl, 0), kind == 2 ? 0 : kind, 9);
      Vec az = a, bz = b, sum(len), diff(len);
      az.resize(len, 0);
      bz.resize(len, 0);
      const BN_ULONG carry = bn_add_words(sum.data(), az.data(), bz.data(), len);
      const BN_ULONG borrow = bn_sub_words(diff.data(), az.data(), bz.data(), len);
      ExpectWrites(sum, [&](BN_ULONG* r) { EXPECT_EQ(bn_add_part_words(r, a.data(), b.data(), cl, dl), carry); });
      ExpectWrites(diff, [&](BN_ULONG* r) { EXPECT_EQ(bn_sub_part_words(r, a.data(), b.data(), cl, dl), borrow); });
    }
  }
}

// The method shows in the room BN_mul gives a fresh result: 16 words for the
// column kernel, 4j for Karatsuba, 8j for its part-recursive form, al + bl
// for the schoolbook loop.
TEST(BnSizeRules, MultiplicationPathsAndResultRoom) {
  struct Case { int al, bl, dmax; };
  Ctx ctx(BN_CTX_new());
  for (Case c : {Case{8, 8, 16}, {16, 16, 64}, {16, 17, 128}, {17, 16, 128}, {16, 18, 34}, {15, 15, 30},
                 {32, 31, 128}, {31, 32, 128}, {17, 17, 128}, {4, 4, 8}, {33, 33, 256}}) {
    SCOPED_TRACE(testing::Message() << c.al << " x " << c.bl);
    Vec a = Draw(c.al, 2, 10), b = Draw(c.bl, 0, 11);
    b.back() |= 1;
    Bn x = FromWords(a), y = FromWords(b), r(BN_new()), want = FromWords(Product(a, b, c.al + c.bl));
    ASSERT_EQ(BN_mul(r.get(), x.get(), y.get(), ctx.get()), 1);
    EXPECT_EQ(r->dmax, c.dmax);
    EXPECT_EQ(BN_cmp(r.get(), want.get()), 0);
  }
}

// BN_sqr: 2al words of room; the length is 2al - 1 when the top word is
// below 2^16.  The paths (comba, stack or heap scratch, recursive) agree with
// BN_mul(a, a).
TEST(BnSizeRules, SquaringLengthFollowsTheTopWord) {
  Ctx ctx(BN_CTX_new());
  for (int al : {1, 4, 8, 15, 16, 17, 32}) {
    for (BN_ULONG top : {0xFFFFu, 0x10000u}) {
      SCOPED_TRACE(testing::Message() << al << " words, top word " << top);
      Vec a = Draw(al, 0, 12);
      a.back() = top;
      Bn x = FromWords(a), r(BN_new()), want(BN_new());
      ASSERT_EQ(BN_sqr(r.get(), x.get(), ctx.get()), 1);
      ASSERT_EQ(BN_mul(want.get(), x.get(), x.get(), ctx.get()), 1);
      EXPECT_EQ(r->dmax, 2 * al);
      EXPECT_EQ(r->top, top == 0xFFFF ? 2 * al - 1 : 2 * al);
      EXPECT_EQ(BN_cmp(r.get(), want.get()), 0);
    }
  }
}
