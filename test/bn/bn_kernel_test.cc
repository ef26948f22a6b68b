// The word kernels: extreme carries, empty counts, every length 1..13 at word
// offsets 0..3 (each position of the four-word passes), in place where
// allowed, and the column products against rows of bn_mul_add_words.
// (bn_div_words is in the known-answer file.)

#include <morvane/bn.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

using Words = std::vector<BN_ULONG>;
constexpr BN_ULONG kOnes = 0xFFFFFFFFu, kFill = 0x5A5A5A5Au;

// Deterministic words, about one in four all ones (long carry chains).
Words Filler(size_t n, uint32_t seed) {
  Words w(n);
  for (auto& x : w) {
    seed = seed * 1103515245u + 12345u;
    x = (seed & 0x300) == 0 ? kOnes : seed * 2654435761u;
  }
  return w;
}

// a * b by rows, the schoolbook shape.
Words Rows(const Words& a, const Words& b) {
  Words r(a.size() + b.size(), 0);
  for (size_t i = 0; i < b.size(); i++)
    r[a.size() + i] = bn_mul_add_words(&r[i], a.data(), static_cast<int>(a.size()), b[i]);
  return r;
}

Words Head(const Words& w, size_t n) { return Words(w.begin(), w.begin() + n); }

}  // namespace

TEST(BnKernels, LargestCarriesAndEmptyCounts) {
  Words r(8, kOnes), a(8, kOnes), zero(6, 0), one(6, 0);
  EXPECT_EQ(bn_mul_add_words(r.data(), a.data(), 8, kOnes), kOnes);
  EXPECT_EQ(r, (Words{0, kOnes, kOnes, kOnes, kOnes, kOnes, kOnes, kOnes}));
  EXPECT_EQ(bn_add_words(r.data(), a.data(), a.data(), 5), 1u);
  one[0] = 1;
  EXPECT_EQ(bn_sub_words(r.data(), zero.data(), one.data(), 6), 1u);
  EXPECT_EQ(Head(r, 6), Words(6, kOnes));
  EXPECT_EQ(bn_mul_words(r.data(), a.data(), 5, 0), 0u);
  EXPECT_EQ(Head(r, 5), Words(5, 0));
  EXPECT_EQ(bn_mul_words(r.data(), a.data(), 5, 1), 0u);
  EXPECT_EQ(Head(r, 5), Words(5, kOnes));
  bn_sqr_words(r.data(), a.data(), 3);
  EXPECT_EQ(Head(r, 6), (Words{1, 0xFFFFFFFE, 1, 0xFFFFFFFE, 1, 0xFFFFFFFE}));
  Words keep(8, kFill);
  for (int n : {0, -1, -100}) {
    EXPECT_EQ(bn_mul_add_words(keep.data(), a.data(), n, 7) + bn_mul_words(keep.data(), a.data(), n, 7) +
                  bn_add_words(keep.data(), a.data(), a.data(), n) + bn_sub_words(keep.data(), keep.data(), a.data(), n),
              0u);
    bn_sqr_words(keep.data(), a.data(), n);
  }
  EXPECT_EQ(keep, Words(8, kFill));
}

TEST(BnKernels, ColumnProducts) {
  // (2^128 - 1)^2 = 2^256 - 2^129 + 1, (2^256 - 1)^2 likewise.
  Words a4(4, kOnes), a8(8, kOnes), r4(8), r8(16), sq8(16, kOnes);
  const Words sq4 = {1, 0, 0, 0, 0xFFFFFFFE, kOnes, kOnes, kOnes};
  std::fill(sq8.begin(), sq8.begin() + 8, 0);
  sq8[0] = 1;
  sq8[8] = 0xFFFFFFFE;
  bn_mul_comba4(r4.data(), a4.data(), a4.data());
  EXPECT_EQ(r4, sq4);
  bn_sqr_comba4(r4.data(), a4.data());
  EXPECT_EQ(r4, sq4);
  bn_mul_comba8(r8.data(), a8.data(), a8.data());
  EXPECT_EQ(r8, sq8);
  bn_sqr_comba8(r8.data(), a8.data());
  EXPECT_EQ(r8, sq8);
  for (uint32_t seed = 1; seed < 200; seed++) {
    Words a = Filler(8, seed), b = Filler(8, seed * 7 + 1), x = Head(a, 4), y = Head(b, 4);
    bn_mul_comba8(r8.data(), a.data(), b.data());
    EXPECT_EQ(r8, Rows(a, b));
    bn_sqr_comba8(r8.data(), a.data());
    EXPECT_EQ(r8, Rows(a, a));
    bn_mul_comba4(r4.data(), x.data(), y.data());
    EXPECT_EQ(r4, Rows(x, y));
    bn_sqr_comba4(r4.data(), x.data());
    EXPECT_EQ(r4, Rows(x, x));
  }
}

TEST(BnKernels, OffsetsLengthsAndInPlace) {
  constexpr BN_ULONG w = 0x9E3779B9;
  for (int n = 1; n <= 13; n++) {
    for (int off = 0; off < 4; off++) {
      const Words a = Filler(n, n * 31 + off), b = Filler(n, n * 17 + off);
      Words sum(n), diff(n), prod(n), acc = b, buf(n + 8, kFill), sq(2 * n + 8, kFill);
      const BN_ULONG carries[4] = {bn_add_words(sum.data(), a.data(), b.data(), n),
                                   bn_sub_words(diff.data(), a.data(), b.data(), n),
                                   bn_mul_words(prod.data(), a.data(), n, w),
                                   bn_mul_add_words(acc.data(), a.data(), n, w)};
      BN_ULONG* at = buf.data() + off;
      auto load = [&](const Words& in) { return std::copy(in.begin(), in.end(), at) - n; };
      auto check = [&](BN_ULONG got, int k, const Words& want) {
        EXPECT_EQ(got, carries[k]) << n << " " << off;
        EXPECT_EQ(Words(at, at + n), want) << n << " " << off;
      };
      check(bn_add_words(load(a), at, b.data(), n), 0, sum);
      check(bn_sub_words(load(b), a.data(), at, n), 1, diff);
      check(bn_mul_words(load(a), at, n, w), 2, prod);
      check(bn_mul_add_words(load(b), a.data(), n, w), 3, acc);
      EXPECT_TRUE(std::all_of(buf.begin(), buf.begin() + off, [](BN_ULONG x) { return x == kFill; }));
      EXPECT_TRUE(std::all_of(buf.begin() + off + n, buf.end(), [](BN_ULONG x) { return x == kFill; }));
      bn_sqr_words(sq.data() + off, a.data(), n);
      for (int i = 0; i < n; i++)
        EXPECT_EQ(sq[off + 2 * i] | uint64_t{sq[off + 2 * i + 1]} << 32, uint64_t{a[i]} * a[i]);
      EXPECT_EQ(sq[off + 2 * n], kFill);
    }
  }
}
