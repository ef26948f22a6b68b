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
  bn_mul_normal(r.data(), a.data(), static_cast<int>(a.size()), b.data(),
                static_cast<int>(b.size()));
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
  for (int i = 0; i < kGuard; i++)
    EXPECT_TRUE(buf[i] == kFill && buf[buf.size() - 1 - i] == kFill) << "guard " << i;
}

Bn FromWords(const Vec& w) {
  return Make(std::vector<uint32_t>(w.begin(), w.end()), false);
}

}  // namespace

// Each routine with its size arguments (n2 or n, then the shortfalls or the
// upper parts' lengths).
// clang-format off
enum Routine { kRecursive, kPart, kLowNormal, kLowRecursive, kHigh, kHighOfZeroLow, kSqr, kSqrRecursive };
// clang-format on
struct Case {
  Routine f;
  int n, x, y;
};
// clang-format off
constexpr Case kCases[] = {
    {kRecursive, 8, 0, 0}, {kRecursive, 8, -1, -2}, {kRecursive, 16, 0, 0}, {kRecursive, 16, -1, 0},
    {kRecursive, 16, 0, -1}, {kRecursive, 32, 0, -1}, {kRecursive, 32, -3, -2}, {kRecursive, 64, 0, 0},
    {kRecursive, 64, -1, -1}, {kRecursive, 128, 0, -1},
    {kPart, 4, 1, 2}, {kPart, 8, 3, 4}, {kPart, 8, 0, 1}, {kPart, 16, 1, 0}, {kPart, 16, 15, 15},
    {kPart, 16, 0, 1}, {kPart, 32, 16, 16}, {kPart, 32, 17, 16}, {kPart, 32, 5, 4}, {kPart, 64, 20, 21},
    {kPart, 64, 40, 39}, {kPart, 64, 33, 32}, {kPart, 64, 16, 15}, {kPart, 64, 16, 16},
    {kLowNormal, 1}, {kLowNormal, 5}, {kLowNormal, 16}, {kLowRecursive, 16}, {kLowRecursive, 32},
    {kLowRecursive, 128}, {kHigh, 16}, {kHigh, 32}, {kHigh, 64}, {kHighOfZeroLow, 16}, {kHighOfZeroLow, 64},
    {kSqr, 1}, {kSqr, 2}, {kSqr, 3}, {kSqr, 15}, {kSqr, 17}, {kSqrRecursive, 4}, {kSqrRecursive, 8},
    {kSqrRecursive, 16}, {kSqrRecursive, 32}, {kSqrRecursive, 64},
};
// clang-format on

TEST(BnVector, ProductsMatchTheSchoolbookProduct) {
  for (const Case& c : kCases) {
    for (int kind = 0; kind < 4; kind++) {
      SCOPED_TRACE(testing::Message() << "routine " << c.f << " sizes " << c.n << " " << c.x << " "
                                      << c.y << " kind " << kind);
      const int n = c.n;
      Vec a = Draw(n + c.x, kind, 1), b = c.f >= kSqr ? a : Draw(n + c.y, kind, 2), t(8 * n);
      if (c.f == kHighOfZeroLow) {  // a null low half stands for zeros
        std::fill_n(a.begin(), n / 2, 0);
        std::fill_n(b.begin(), n / 2, 0);
      }
      const Vec full = Product(a, b, (c.f == kPart ? 4 : 2) * n);
      Vec low(full.begin(), full.begin() + n), high(full.begin() + n, full.begin() + 2 * n);
      const Vec& want = c.f == kLowNormal || c.f == kLowRecursive ? low
                        : c.f >= kHigh && c.f < kSqr              ? high
                                                                  : full;
      ExpectWrites(want, [&](BN_ULONG* r) {
        BN_ULONG *x = a.data(), *y = b.data(), *s = t.data();
        // clang-format off
        switch (c.f) {
          case kRecursive: return bn_mul_recursive(r, x, y, n, c.x, c.y, s);
          case kPart: return bn_mul_part_recursive(r, x, y, n, c.x, c.y, s);
          case kLowNormal: return bn_mul_low_normal(r, x, y, n);
          case kLowRecursive: return bn_mul_low_recursive(r, x, y, n, s);
          case kHigh: return bn_mul_high(r, x, y, low.data(), n, s);
          case kHighOfZeroLow: return bn_mul_high(r, x, y, nullptr, n, s);
          case kSqr: return bn_sqr_normal(r, x, n, s);
          case kSqrRecursive: return bn_sqr_recursive(r, x, n, s);
        }
        // clang-format on
      });
    }
  }
}

TEST(BnVector, PartWordsSumsMatchZeroExtendedSums) {
  for (const auto& lengths : {std::pair{5, 0}, {5, 3}, {5, -3}, {0, -4}, {4, 1}, {2, -6}}) {
    const int cl = lengths.first, dl = lengths.second;
    for (int kind = 0; kind < 4; kind++) {
      SCOPED_TRACE(testing::Message() << cl << " " << dl << " kind " << kind);
      const int len = cl + (dl < 0 ? -dl : dl);
      Vec a = Draw(cl + std::max(dl, 0), kind, 8),
          b = Draw(cl + std::max(-dl, 0), kind == 2 ? 0 : kind, 9);
      Vec az = a, bz = b, sum(len), diff(len);
      az.resize(len, 0);
      bz.resize(len, 0);
      const BN_ULONG carry = bn_add_words(sum.data(), az.data(), bz.data(), len);
      const BN_ULONG borrow = bn_sub_words(diff.data(), az.data(), bz.data(), len);
      ExpectWrites(sum, [&](BN_ULONG* r) {
        EXPECT_EQ(bn_add_part_words(r, a.data(), b.data(), cl, dl), carry);
      });
      ExpectWrites(diff, [&](BN_ULONG* r) {
        EXPECT_EQ(bn_sub_part_words(r, a.data(), b.data(), cl, dl), borrow);
      });
    }
  }
}

// The method shows in the room a fresh result gets.  BN_mul: 16 words for
// the column kernel, 4j for Karatsuba, 8j for its part-recursive form, al + bl
// for the schoolbook loop.  BN_sqr (bl 0): 2al words, the length 2al - 1 when
// the top word is below 2^16; its paths (comba, stack or heap scratch,
// recursive) agree with the schoolbook product.
TEST(BnSizeRules, PathsShowInTheResultRoom) {
  struct Rule {
    int al, bl, dmax;
  };
  // clang-format off
  constexpr Rule kRules[] = {{8, 8, 16}, {16, 16, 64}, {16, 17, 128}, {17, 16, 128}, {16, 18, 34},
      {15, 15, 30}, {32, 31, 128}, {31, 32, 128}, {17, 17, 128}, {4, 4, 8}, {33, 33, 256},
      {1, 0, 2}, {4, 0, 8}, {8, 0, 16}, {15, 0, 30}, {16, 0, 32}, {17, 0, 34}, {32, 0, 64}};
  // clang-format on
  Ctx ctx(BN_CTX_new());
  for (Rule c : kRules) {
    for (BN_ULONG top : {0xFFFFu, 0x10000u}) {
      SCOPED_TRACE(testing::Message() << c.al << " x " << c.bl << ", top word " << top);
      Vec a = Draw(c.al, 0, 10), b = Draw(c.bl, 0, 11);
      a.back() = top;
      if (c.bl == 0) b = a;
      Bn x = FromWords(a), y = FromWords(b), r(BN_new());
      Bn want = FromWords(Product(a, b, a.size() + b.size()));
      ASSERT_EQ(
          c.bl ? BN_mul(r.get(), x.get(), y.get(), ctx.get()) : BN_sqr(r.get(), x.get(), ctx.get()),
          1);
      EXPECT_EQ(r->dmax, c.dmax);
      EXPECT_EQ(BN_cmp(r.get(), want.get()), 0);
      EXPECT_TRUE(c.bl || r->top == (top == 0xFFFF ? 2 * c.al - 1 : 2 * c.al)) << r->top;
    }
  }
}
