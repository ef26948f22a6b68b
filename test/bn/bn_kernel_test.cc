// The word kernels: extreme carries, the double-word division, empty counts,
// vectors at every word offset and length (to reach each position of the
// four-word passes), in place where allowed, and the column products against
// rows of bn_mul_words / bn_mul_add_words.

#include <morvane/bn.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using Words = std::vector<BN_ULONG>;
constexpr BN_ULONG kOnes = 0xFFFFFFFFu;

// Deterministic filler words with plenty of carries.
Words Filler(size_t n, uint32_t seed) {
  Words w(n);
  for (size_t i = 0; i < n; i++) {
    seed = seed * 1103515245u + 12345u;
    w[i] = (seed & 0x300) == 0 ? kOnes : seed * 2654435761u;
  }
  return w;
}

// r = a * b by rows, the shape of the schoolbook product.
Words Rows(const Words& a, const Words& b) {
  Words r(a.size() + b.size(), 0);
  for (size_t i = 0; i < b.size(); i++)
    r[a.size() + i] = bn_mul_add_words(&r[i], a.data(), static_cast<int>(a.size()), b[i]);
  return r;
}

}  // namespace

TEST(BnKernels, LargestCarries) {
  Words r(8, kOnes), a(8, kOnes);
  EXPECT_EQ(bn_mul_add_words(r.data(), a.data(), 8, kOnes), kOnes);
  EXPECT_EQ(r[0], 0u);
  for (int i = 1; i < 8; i++) EXPECT_EQ(r[i], kOnes);
  EXPECT_EQ(bn_add_words(r.data(), a.data(), a.data(), 5), 1u);
  Words zero(6, 0), one(6, 0);
  one[0] = 1;
  EXPECT_EQ(bn_sub_words(r.data(), zero.data(), one.data(), 6), 1u);
  EXPECT_EQ(Words(r.begin(), r.begin() + 6), Words(6, kOnes));
  EXPECT_EQ(bn_mul_words(r.data(), a.data(), 5, 0), 0u);
  EXPECT_EQ(Words(r.begin(), r.begin() + 5), Words(5, 0));
  EXPECT_EQ(bn_mul_words(r.data(), a.data(), 5, 1), 0u);
  EXPECT_EQ(Words(r.begin(), r.begin() + 5), Words(5, kOnes));
  bn_sqr_words(r.data(), a.data(), 3);
  EXPECT_EQ(Words(r.begin(), r.begin() + 6), (Words{1, 0xFFFFFFFE, 1, 0xFFFFFFFE, 1, 0xFFFFFFFE}));
}

TEST(BnKernels, EmptyCountsTouchNothing) {
  Words r(4, 0xA5A5A5A5), a(4, kOnes);
  for (int n : {0, -1, -100}) {
    EXPECT_EQ(bn_mul_add_words(r.data(), a.data(), n, 7), 0u);
    EXPECT_EQ(bn_mul_words(r.data(), a.data(), n, 7), 0u);
    EXPECT_EQ(bn_add_words(r.data(), a.data(), a.data(), n), 0u);
    EXPECT_EQ(bn_sub_words(r.data(), r.data(), a.data(), n), 0u);
    bn_sqr_words(r.data(), a.data(), n);
  }
  EXPECT_EQ(r, Words(4, 0xA5A5A5A5));
}

TEST(BnKernels, DivideDoubleWord) {
  struct Case {
    BN_ULONG h, l, d, q;
  };
  const Case cases[] = {
      {5, 9, 0, kOnes},                               // d = 0
      {0, 0x12345678, 1, 0x12345678},                 // (0, l) / 1 = l
      {2, kOnes, 3, kOnes},                           // (d - 1, all ones) / d
      {0x80000000, kOnes, 0x80000001, kOnes},         // ... with the top bit set
      {0xFFFFFFFE, kOnes, kOnes, kOnes},
      {0x80000000, 0x12345678, 0x80000001, 0xFFFFFFFE},
      {0x12345678, 0x9ABCDEF0, 0x87654321, 0x226B9022},
      {5, 0, 3, 0xAAAAAAAA},                          // d <= h < 2d: modulo 2^32
      {3, 0, 3, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(bn_div_words(c.h, c.l, c.d), c.q) << c.h << " " << c.l << " " << c.d;
}

TEST(BnKernels, ColumnProductsOfAllOnes) {
  Words a4(4, kOnes), a8(8, kOnes), r(16);
  // (2^128 - 1)^2 = 2^256 - 2^129 + 1
  const Words sq4 = {1, 0, 0, 0, 0xFFFFFFFE, kOnes, kOnes, kOnes};
  bn_mul_comba4(r.data(), a4.data(), a4.data());
  EXPECT_EQ(Words(r.begin(), r.begin() + 8), sq4);
  bn_sqr_comba4(r.data(), a4.data());
  EXPECT_EQ(Words(r.begin(), r.begin() + 8), sq4);
  Words sq8(16, 0);
  sq8[0] = 1;
  sq8[8] = 0xFFFFFFFE;
  for (int i = 9; i < 16; i++) sq8[i] = kOnes;
  bn_mul_comba8(r.data(), a8.data(), a8.data());
  EXPECT_EQ(r, sq8);
  bn_sqr_comba8(r.data(), a8.data());
  EXPECT_EQ(r, sq8);
}

TEST(BnKernels, ColumnProductsMatchRows) {
  for (uint32_t seed = 1; seed < 200; seed++) {
    Words a = Filler(8, seed), b = Filler(8, seed * 7 + 1), r(16);
    bn_mul_comba8(r.data(), a.data(), b.data());
    EXPECT_EQ(r, Rows(a, b));
    bn_sqr_comba8(r.data(), a.data());
    EXPECT_EQ(r, Rows(a, a));
    Words a4(a.begin(), a.begin() + 4), b4(b.begin(), b.begin() + 4), r4(8);
    bn_mul_comba4(r4.data(), a4.data(), b4.data());
    EXPECT_EQ(r4, Rows(a4, b4));
    bn_sqr_comba4(r4.data(), a4.data());
    EXPECT_EQ(r4, Rows(a4, a4));
  }
}

// Every length 1..13 at word offsets 0..3 of a buffer: out of place, then in
// place (r = a, and r = b for the sums), with the words around untouched.
TEST(BnKernels, OffsetsLengthsAndInPlace) {
  for (int n = 1; n <= 13; n++) {
    for (int off = 0; off < 4; off++) {
      const Words a = Filler(n, n * 31 + off), b = Filler(n, n * 17 + off);
      Words buf(n + 8, 0x5A5A5A5A);
      BN_ULONG* at = buf.data() + off;
      // Reference: out of place at offset 0.
      Words sum(n), diff(n), prod(n), acc = b;
      const BN_ULONG c_add = bn_add_words(sum.data(), a.data(), b.data(), n);
      const BN_ULONG c_sub = bn_sub_words(diff.data(), a.data(), b.data(), n);
      const BN_ULONG c_mul = bn_mul_words(prod.data(), a.data(), n, 0x9E3779B9);
      const BN_ULONG c_mla = bn_mul_add_words(acc.data(), a.data(), n, 0x9E3779B9);
      auto load = [&](const Words& w) { std::copy(w.begin(), w.end(), at); };
      auto got = [&] { return Words(at, at + n); };
      load(a);
      EXPECT_EQ(bn_add_words(at, at, b.data(), n), c_add);
      EXPECT_EQ(got(), sum);
      load(b);
      EXPECT_EQ(bn_sub_words(at, a.data(), at, n), c_sub);
      EXPECT_EQ(got(), diff);
      load(a);
      EXPECT_EQ(bn_mul_words(at, at, n, 0x9E3779B9), c_mul);
      EXPECT_EQ(got(), prod);
      load(b);
      EXPECT_EQ(bn_mul_add_words(at, a.data(), n, 0x9E3779B9), c_mla);
      EXPECT_EQ(got(), acc);
      Words sq(2 * n + 8, 0x5A5A5A5A);
      bn_sqr_words(sq.data() + off, a.data(), n);
      for (int i = 0; i < n; i++) {
        const uint64_t s = uint64_t{a[i]} * a[i];
        EXPECT_EQ(sq[off + 2 * i] | uint64_t{sq[off + 2 * i + 1]} << 32, s);
      }
      EXPECT_EQ(sq[off + 2 * n], 0x5A5A5A5Au);
      for (int i = 0; i < off; i++) EXPECT_EQ(buf[i], 0x5A5A5A5Au);
      for (size_t i = off + n; i < buf.size(); i++) EXPECT_EQ(buf[i], 0x5A5A5A5Au);
    }
  }
}
