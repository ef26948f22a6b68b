// Big numbers against GMP: BN_from_montgomery over random inputs in [N R,
// R^2) (and their negatives), and BN_mod_mul_montgomery over random factors
// below R, whose products reach past N R (R = 2^(32 n) for an n-word odd
// modulus N; GMP computes a R^-1 mod N with mpz_invert); BN_mul, BN_sqr,
// BN_div and the Montgomery exponentiations at every size from 1 to 70
// limbs of 64 bits (odd and even word counts), and products of four limbs
// at their carry edges, against mpz_mul,
// mpz_tdiv_qr and mpz_powm; BN_div's edge cases (quotient digits that need
// correcting, divisors with and without their top bit set, signs, results
// sharing a record with an operand); the gcd, the inverse and the primality
// test of secret operands.

#include <morvane/bn.h>
#include <morvane/err.h>

#include <gmp.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "bn_test_util.h"

namespace {

using bn_test::Bn;
using bn_test::Ctx;

struct Mpz {
  mpz_t v;
  Mpz() { mpz_init(v); }
  ~Mpz() { mpz_clear(v); }
  Mpz(const Mpz&) = delete;
  Mpz& operator=(const Mpz&) = delete;
};

Bn ToBn(const mpz_t x) {
  std::vector<unsigned char> be((mpz_sizeinbase(x, 2) + 7) / 8 + 1);
  size_t n = 0;
  mpz_export(be.data(), &n, 1, 1, 1, 0, x);
  Bn r(BN_bin2bn(be.data(), static_cast<int>(n), nullptr));
  BN_set_negative(r.get(), mpz_sgn(x) < 0);
  return r;
}

std::string Text(const mpz_t x) {
  char* s = mpz_get_str(nullptr, 16, x);
  std::string out(s);
  void (*release)(void*, size_t);
  mp_get_memory_functions(nullptr, nullptr, &release);
  release(s, out.size() + 1);
  return out;
}

std::string Text(const BIGNUM* x) {
  Mpz v;
  char* s = BN_bn2hex(x);
  mpz_set_str(v.v, s[0] == '-' ? s + 1 : s, 16);
  if (s[0] == '-') mpz_neg(v.v, v.v);
  MORVANE_free(s);
  return Text(v.v);
}

class BnMontGmp : public ::testing::Test {
 protected:
  BnMontGmp() { gmp_randinit_mt(rng_); }
  ~BnMontGmp() override { gmp_randclear(rng_); }

  // want = sign(a) (|a| R^-1 mod N).
  void Expect(const mpz_t a, const mpz_t n, const mpz_t rinv, const BIGNUM* got) {
    Mpz want;
    mpz_abs(want.v, a);
    mpz_mul(want.v, want.v, rinv);
    mpz_mod(want.v, want.v, n);
    if (mpz_sgn(a) < 0) mpz_neg(want.v, want.v);
    EXPECT_EQ(Text(got), Text(want.v)) << "a = " << Text(a) << ", N = " << Text(n);
  }

  gmp_randstate_t rng_;
};

TEST_F(BnMontGmp, InputsFromNRToRSquared) {
  gmp_randseed_ui(rng_, 1);
  Ctx ctx(BN_CTX_new());
  for (int c = 0; c < 3000; c++) {
    const unsigned words = 1 + c % 40;
    Mpz n, r, rinv, a, b, span;
    mpz_urandomb(n.v, rng_, 32 * words);
    mpz_setbit(n.v, 0);
    mpz_setbit(n.v, 32 * words - 1 - (c % 7 == 0 ? 0 : c % 31));  // top bit set or lower
    if (mpz_sizeinbase(n.v, 2) <= 32 * (words - 1)) mpz_setbit(n.v, 32 * words - 1);
    mpz_setbit(r.v, 32 * words);
    ASSERT_NE(mpz_invert(rinv.v, r.v, n.v), 0);
    // a = N R + u, u uniform below R^2 - N R.
    mpz_mul(span.v, r.v, r.v);
    mpz_submul(span.v, n.v, r.v);
    mpz_urandomm(a.v, rng_, span.v);
    if (c % 5 == 0) mpz_set_ui(a.v, 0);  // N R itself
    if (c % 5 == 1) mpz_sub_ui(a.v, span.v, 1);  // R^2 - 1
    mpz_addmul(a.v, n.v, r.v);
    if (c % 3 == 0) mpz_neg(a.v, a.v);
    BN_MONT_CTX* mont = BN_MONT_CTX_new();
    Bn bn = ToBn(n.v), ba = ToBn(a.v), got(BN_new());
    ASSERT_EQ(BN_MONT_CTX_set(mont, bn.get(), ctx.get()), 1);
    ASSERT_EQ(BN_from_montgomery(got.get(), ba.get(), mont, ctx.get()), 1);
    Expect(a.v, n.v, rinv.v, got.get());
    // Two factors below R: their product may reach past N R.
    mpz_urandomm(a.v, rng_, r.v);
    mpz_urandomm(b.v, rng_, r.v);
    if (c % 4 == 0) mpz_sub_ui(a.v, r.v, 1);
    Bn fa = ToBn(a.v), fb = ToBn(b.v);
    ASSERT_EQ(BN_mod_mul_montgomery(got.get(), fa.get(), fb.get(), mont, ctx.get()), 1);
    mpz_mul(a.v, a.v, b.v);
    Expect(a.v, n.v, rinv.v, got.get());
    BN_MONT_CTX_free(mont);
  }
}

// One factor below N, the other anywhere below R, at the sizes of the
// radix-2^52 product (N of 32 to 130 words: a last digit vector full or
// not, N's top bit set or not): extremes N - 1 and R - 1, squares, and the
// factor below N given first or second; a zero factor, factors and moduli
// of long runs of ones and zeros, and results of a run of ones or a power
// of two (a = result R mod N, b = 1).
TEST_F(BnMontGmp, OneFactorBelowNAtTheWideSizes) {
  gmp_randseed_ui(rng_, 2);
  Ctx ctx(BN_CTX_new());
  for (unsigned words = 30; words <= 132; words++) {
    for (int c = 0; c < 10; c++) {
      Mpz n, r, rinv, a, b;
      mpz_urandomb(n.v, rng_, 32 * words - (c % 3 == 2 ? 5 : 0));
      mpz_setbit(n.v, 0);
      mpz_setbit(n.v, 32 * words - 1 - (c % 3 == 2 ? 5 : 0));
      mpz_setbit(r.v, 32 * words);
      ASSERT_NE(mpz_invert(rinv.v, r.v, n.v), 0);
      mpz_urandomm(a.v, rng_, n.v);
      if (c == 1) mpz_sub_ui(a.v, n.v, 1);
      mpz_urandomm(b.v, rng_, c % 2 == 0 ? n.v : r.v);
      if (c == 1) mpz_sub_ui(b.v, r.v, 1);
      if (c == 3) mpz_set(b.v, a.v);
      if (c == 6) mpz_set_ui(a.v, 0);
      if (c == 7 || c == 9) {
        mpz_rrandomb(a.v, rng_, 32 * words);
        mpz_rrandomb(b.v, rng_, 32 * words);
        mpz_mod(a.v, a.v, n.v);
      }
      if (c == 9) {  // a modulus of long runs
        mpz_rrandomb(n.v, rng_, 32 * words);
        mpz_setbit(n.v, 0);
        mpz_setbit(n.v, 32 * words - 1);
        ASSERT_NE(mpz_invert(rinv.v, r.v, n.v), 0);
        mpz_mod(a.v, a.v, n.v);
      }
      if (c == 8) {
        mpz_set_ui(a.v, 0);
        mpz_setbit(a.v, words * 16 + words % 13);
        if (words % 2 == 0) mpz_sub_ui(a.v, a.v, 1);
        mpz_mul(a.v, a.v, r.v);
        mpz_mod(a.v, a.v, n.v);
        mpz_set_ui(b.v, 1);
      }
      BN_MONT_CTX* mont = BN_MONT_CTX_new();
      Bn bn = ToBn(n.v), fa = ToBn(a.v), fb = ToBn(b.v), got(BN_new());
      ASSERT_EQ(BN_MONT_CTX_set(mont, bn.get(), ctx.get()), 1);
      const BIGNUM* second = c == 3 ? fa.get() : fb.get();
      if (c == 5) {
        ASSERT_EQ(BN_mod_mul_montgomery(got.get(), second, fa.get(), mont, ctx.get()), 1);
      } else {
        ASSERT_EQ(BN_mod_mul_montgomery(got.get(), fa.get(), second, mont, ctx.get()), 1);
      }
      mpz_mul(a.v, a.v, b.v);
      Expect(a.v, n.v, rinv.v, got.get());
      BN_MONT_CTX_free(mont);
    }
  }
}

}  // namespace

namespace {

// A random number of exactly `bits` bits (0 for bits 0), or with its top
// words all ones or all zeros but the top bit, which drive the carries and
// the corrections.
void Draw(mpz_t r, gmp_randstate_t rng, unsigned bits, int shape) {
  if (bits == 0) {
    mpz_set_ui(r, 0);
    return;
  }
  switch (shape % 4) {
    case 0:
      mpz_urandomb(r, rng, bits);
      break;
    case 1:  // all ones
      mpz_set_ui(r, 0);
      mpz_setbit(r, bits);
      mpz_sub_ui(r, r, 1);
      break;
    case 2:  // ones in the upper half, random below
      mpz_urandomb(r, rng, bits / 2);
      for (unsigned i = bits / 2; i < bits; i++) mpz_setbit(r, i);
      break;
    default:
      mpz_rrandomb(r, rng, bits);  // long runs of ones and zeros
      break;
  }
  mpz_setbit(r, bits - 1);
}

class BnGmp : public ::testing::Test {
 protected:
  BnGmp() : ctx_(BN_CTX_new()) {
    gmp_randinit_mt(rng_);
    gmp_randseed_ui(rng_, 2);
  }
  ~BnGmp() override { gmp_randclear(rng_); }

  // BN_div(q, r, a, d) against mpz_tdiv_qr, also with each result alone and
  // with the results in the operands' records.
  void CheckDiv(const mpz_t a, const mpz_t d) {
    Mpz q, r;
    mpz_tdiv_qr(q.v, r.v, a, d);
    const std::string want_q = Text(q.v), want_r = Text(r.v);
    const std::string what = "a = " + Text(a) + ", d = " + Text(d);
    Bn ba = ToBn(a), bd = ToBn(d), gq(BN_new()), gr(BN_new());
    ASSERT_EQ(BN_div(gq.get(), gr.get(), ba.get(), bd.get(), ctx_.get()), 1) << what;
    EXPECT_EQ(Text(gq.get()), want_q) << what;
    EXPECT_EQ(Text(gr.get()), want_r) << what;
    EXPECT_FALSE(BN_is_zero(gq.get()) && BN_is_negative(gq.get())) << what;
    EXPECT_FALSE(BN_is_zero(gr.get()) && BN_is_negative(gr.get())) << what;
    ASSERT_EQ(BN_div(gq.get(), nullptr, ba.get(), bd.get(), ctx_.get()), 1);
    EXPECT_EQ(Text(gq.get()), want_q) << what;
    ASSERT_EQ(BN_div(nullptr, gr.get(), ba.get(), bd.get(), ctx_.get()), 1);
    EXPECT_EQ(Text(gr.get()), want_r) << what;
    {  // the quotient over the numerator
      Bn x = ToBn(a);
      ASSERT_EQ(BN_div(x.get(), nullptr, x.get(), bd.get(), ctx_.get()), 1);
      EXPECT_EQ(Text(x.get()), want_q) << what;
    }
    {  // the remainder over the numerator, the quotient over the divisor
      Bn x = ToBn(a), y = ToBn(d);
      ASSERT_EQ(BN_div(y.get(), x.get(), x.get(), y.get(), ctx_.get()), 1);
      EXPECT_EQ(Text(y.get()), want_q) << what;
      EXPECT_EQ(Text(x.get()), want_r) << what;
    }
    {  // the remainder over the divisor
      Bn y = ToBn(d);
      ASSERT_EQ(BN_div(nullptr, y.get(), ba.get(), y.get(), ctx_.get()), 1);
      EXPECT_EQ(Text(y.get()), want_r) << what;
    }
  }

  gmp_randstate_t rng_;
  Ctx ctx_;
};

// Products and squares of every word count from 1 to 140, against mpz_mul,
// and of two past twice the radix-2^52 product's 65 limbs (Karatsuba's
// halves on it); the operands of a product of unequal lengths too.
TEST_F(BnGmp, ProductsAtEveryLimbCount) {
  for (unsigned words = 1; words <= 260; words = words == 140 ? 259 : words + 1) {
    for (int shape = 0; shape < 4; shape++) {
      Mpz a, b, want;
      Draw(a.v, rng_, 32 * words - (shape == 3 ? 5 : 0), shape);
      Draw(b.v, rng_, 32 * words, shape + 1);
      if (shape == 2) mpz_neg(b.v, b.v);
      Bn ba = ToBn(a.v), bb = ToBn(b.v), got(BN_new());
      mpz_mul(want.v, a.v, b.v);
      ASSERT_EQ(BN_mul(got.get(), ba.get(), bb.get(), ctx_.get()), 1);
      EXPECT_EQ(Text(got.get()), Text(want.v)) << words << " words";
      mpz_mul(want.v, a.v, a.v);
      ASSERT_EQ(BN_sqr(got.get(), ba.get(), ctx_.get()), 1);
      EXPECT_EQ(Text(got.get()), Text(want.v)) << words << " words";
      ASSERT_EQ(BN_mul(got.get(), ba.get(), ba.get(), ctx_.get()), 1);
      EXPECT_EQ(Text(got.get()), Text(want.v)) << words << " words";
      // In place: r is a.
      ASSERT_EQ(BN_sqr(ba.get(), ba.get(), ctx_.get()), 1);
      EXPECT_EQ(Text(ba.get()), Text(want.v)) << words << " words";
      Mpz c;
      Draw(c.v, rng_, 32 * (1 + (words * 7 + shape) % 40), shape);
      Bn bc = ToBn(c.v);
      mpz_mul(want.v, b.v, c.v);
      ASSERT_EQ(BN_mul(bb.get(), bb.get(), bc.get(), ctx_.get()), 1);
      EXPECT_EQ(Text(bb.get()), Text(want.v)) << words << " words";
    }
  }
}

// Products and squares of four limbs (the kernels of 256 bits, with and
// without ADX) and of seven and eight words, in place and into another
// record, at the operands that drive every carry: all ones, single top
// bits, limbs alternately all ones and zero, runs of ones across limbs;
// then random operands.
TEST_F(BnGmp, FourLimbProductsAtCarryEdges) {
  const char* const kOperands[] = {
      "ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff",
      "8000000000000000000000000000000000000000000000000000000000000000",
      "8000000000000000800000000000000080000000000000008000000000000000",
      "ffffffffffffffff0000000000000000ffffffffffffffff0000000000000000",
      "0000000000000000ffffffffffffffff0000000000000000ffffffffffffffff",
      "ffffffffffffffffffffffffffffffff00000000000000000000000000000001",
      "fffffffffffffffffffffffffffffffffffffffffffffffffffffffe00000001",
      "ffffffff00000000000000000000000000000000000000000000000000000000",
      "00000001ffffffffffffffffffffffffffffffffffffffffffffffffffffffff",
      "0000ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff",
  };
  for (const char* x : kOperands) {
    for (const char* y : kOperands) {
      Mpz a, b, want;
      mpz_set_str(a.v, x, 16);
      mpz_set_str(b.v, y, 16);
      const std::string what = std::string(x) + " * " + y;
      Bn ba = ToBn(a.v), bb = ToBn(b.v), got(BN_new());
      mpz_mul(want.v, a.v, b.v);
      ASSERT_EQ(BN_mul(got.get(), ba.get(), bb.get(), ctx_.get()), 1) << what;
      EXPECT_EQ(Text(got.get()), Text(want.v)) << what;
      ASSERT_EQ(BN_mul(ba.get(), ba.get(), bb.get(), ctx_.get()), 1) << what;
      EXPECT_EQ(Text(ba.get()), Text(want.v)) << what;
    }
    Mpz a, want;
    mpz_set_str(a.v, x, 16);
    mpz_mul(want.v, a.v, a.v);
    Bn ba = ToBn(a.v), got(BN_new());
    ASSERT_EQ(BN_sqr(got.get(), ba.get(), ctx_.get()), 1) << x;
    EXPECT_EQ(Text(got.get()), Text(want.v)) << x;
    ASSERT_EQ(BN_mul(got.get(), ba.get(), ba.get(), ctx_.get()), 1) << x;
    EXPECT_EQ(Text(got.get()), Text(want.v)) << x;
    ASSERT_EQ(BN_sqr(ba.get(), ba.get(), ctx_.get()), 1) << x;
    EXPECT_EQ(Text(ba.get()), Text(want.v)) << x;
  }
  // And random operands of 225 to 256 bits, uniform and with long runs.
  for (int i = 0; i < 2000; i++) {
    Mpz a, b, want;
    const unsigned bits = 256 - static_cast<unsigned>(i % 32);
    Draw(a.v, rng_, bits, i % 2 == 0 ? 0 : 3);
    Draw(b.v, rng_, 256, i % 3 == 0 ? 3 : 0);
    Bn ba = ToBn(a.v), bb = ToBn(b.v), got(BN_new());
    mpz_mul(want.v, a.v, a.v);
    ASSERT_EQ(BN_sqr(got.get(), ba.get(), ctx_.get()), 1);
    EXPECT_EQ(Text(got.get()), Text(want.v)) << Text(a.v);
    mpz_mul(want.v, a.v, b.v);
    ASSERT_EQ(BN_mul(got.get(), ba.get(), bb.get(), ctx_.get()), 1);
    EXPECT_EQ(Text(got.get()), Text(want.v)) << Text(a.v) << " * " << Text(b.v);
  }
}

// Divisors of every word count from 1 to 140, with the top bit set or not,
// numerators from shorter than the divisor to three times as long, both
// signs.
TEST_F(BnGmp, DivisionAtEveryLimbCount) {
  for (unsigned words = 1; words <= 140; words++) {
    for (int c = 0; c < 8; c++) {
      Mpz d, a;
      const unsigned dbits = 32 * words - (c % 2 == 0 ? 0 : 1 + (words * 13 + c) % 31);
      Draw(d.v, rng_, dbits, c);
      const unsigned extra[] = {0, 1, 31, 32, 64, 65, 32 * words, 64 * words};
      unsigned abits = dbits + extra[c];
      if (c == 7 && dbits > 40) abits = dbits - 40;  // shorter than the divisor
      Draw(a.v, rng_, abits, c / 2);
      if (c & 2) mpz_neg(a.v, a.v);
      if (c & 4) mpz_neg(d.v, d.v);
      CheckDiv(a.v, d.v);
    }
  }
}

// Numerators built around the divisor: a window whose top limbs equal the
// divisor's (the all-ones digit), digits one too large before the add-back,
// the numerator equal to the divisor or to q d - 1 and q d + d - 1, small
// divisors, numerators of ones and zeros.
TEST_F(BnGmp, DivisionEdges) {
  for (unsigned words = 1; words <= 24; words++) {
    for (int c = 0; c < 24; c++) {
      Mpz d, a, q, t;
      Draw(d.v, rng_, 32 * words - (c % 3 == 0 ? 0 : c % 3 == 1 ? 1 : 33 % (32 * words)), c);
      if (mpz_sgn(d.v) == 0) mpz_set_ui(d.v, 1);
      Draw(q.v, rng_, 32 * (1 + c % 5), c / 3);
      switch (c % 6) {
        case 0:  // a = q d + d - 1: the largest remainder
          mpz_mul(a.v, q.v, d.v);
          mpz_add(a.v, a.v, d.v);
          mpz_sub_ui(a.v, a.v, 1);
          break;
        case 1:  // a = q d - 1
          mpz_mul(a.v, q.v, d.v);
          mpz_sub_ui(a.v, a.v, 1);
          break;
        case 2:  // a = d: quotient 1, remainder 0
          mpz_set(a.v, d.v);
          break;
        case 3:  // a = d 2^(64 k) + (d - 1): windows whose top limbs equal d's
          mpz_mul_2exp(a.v, d.v, 64 * (1 + c % 4));
          mpz_add(a.v, a.v, d.v);
          mpz_sub_ui(a.v, a.v, 1);
          break;
        case 4:  // a = (d - 1) 2^(64 k) + junk: digits of all ones
          mpz_sub_ui(a.v, d.v, 1);
          mpz_mul_2exp(a.v, a.v, 64 * (1 + c % 3));
          mpz_urandomb(t.v, rng_, 64 * (1 + c % 3));
          mpz_add(a.v, a.v, t.v);
          break;
        default:  // a = d - 1: below the divisor
          mpz_sub_ui(a.v, d.v, 1);
          break;
      }
      CheckDiv(a.v, d.v);
      mpz_neg(a.v, a.v);
      CheckDiv(a.v, d.v);
    }
  }
  // Single-word and two-word divisors against long numerators.
  for (unsigned long dv : {1UL, 2UL, 3UL, 0xFFFFFFFFUL, 0x80000000UL, 0x100000000UL,
                           0xFFFFFFFFFFFFFFFFUL, 0x8000000000000000UL}) {
    Mpz d, a;
    mpz_set_ui(d.v, dv);
    for (unsigned bits : {1u, 63u, 64u, 65u, 128u, 1000u}) {
      Draw(a.v, rng_, bits, static_cast<int>(bits));
      CheckDiv(a.v, d.v);
    }
  }
  // 2^96 - 1 by 2^64 - 1: quotient 2^32, remainder 2^32 - 1.
  Mpz d, a;
  mpz_set_ui(a.v, 1);
  mpz_mul_2exp(a.v, a.v, 96);
  mpz_sub_ui(a.v, a.v, 1);
  mpz_set_ui(d.v, 1);
  mpz_mul_2exp(d.v, d.v, 64);
  mpz_sub_ui(d.v, d.v, 1);
  CheckDiv(a.v, d.v);
}

// The three Montgomery exponentiations at every modulus size from 1 to 70
// limbs (odd and even word counts), against mpz_powm: exponents as wide as
// the modulus up to 16 limbs, 160 bits above.
TEST_F(BnGmp, ExponentiationsAtEveryLimbCount) {
  for (unsigned words = 1; words <= 140; words++) {
    Mpz m, a, p, want, two;
    Draw(m.v, rng_, 32 * words - (words % 3 == 1 ? 7 : 0), static_cast<int>(words));
    mpz_setbit(m.v, 0);
    if (mpz_cmp_ui(m.v, 1) == 0) mpz_set_ui(m.v, 3);
    mpz_urandomm(a.v, rng_, m.v);
    if (words % 5 == 0) mpz_sub_ui(a.v, m.v, 1);
    Draw(p.v, rng_, words <= 32 ? 32 * words : 160, static_cast<int>(words) + 1);
    Bn bm = ToBn(m.v), ba = ToBn(a.v), bp = ToBn(p.v), got(BN_new());
    const std::string what = std::to_string(words) + " words";
    mpz_powm(want.v, a.v, p.v, m.v);
    ASSERT_EQ(BN_mod_exp_mont(got.get(), ba.get(), bp.get(), bm.get(), ctx_.get(), nullptr), 1);
    EXPECT_EQ(Text(got.get()), Text(want.v)) << what;
    BN_MONT_CTX* mont = BN_MONT_CTX_new();
    ASSERT_EQ(BN_MONT_CTX_set(mont, bm.get(), ctx_.get()), 1);
    Bn secret = ToBn(p.v);
    BN_set_flags(secret.get(), BN_FLAG_SECRET);
    ASSERT_EQ(
        BN_mod_exp_mont_consttime(got.get(), ba.get(), secret.get(), bm.get(), ctx_.get(), mont),
        1);
    EXPECT_EQ(Text(got.get()), Text(want.v)) << what;
    for (BN_ULONG w : {2U, 3U, 0xFFFFFFFFU}) {
      mpz_set_ui(two.v, w);
      mpz_powm(want.v, two.v, p.v, m.v);
      ASSERT_EQ(BN_mod_exp_mont_word(got.get(), w, bp.get(), bm.get(), ctx_.get(), mont), 1);
      EXPECT_EQ(Text(got.get()), Text(want.v)) << what << ", base " << w;
    }
    BN_MONT_CTX_free(mont);
  }
}

}  // namespace

// The fixed-width forms of secret operands against mpz_gcd, mpz_invert and
// mpz_probab_prime_p, at word counts from 1 to 40: gcds of numbers that
// share a power of two and an odd factor (or are zero), inverses modulo odd
// and even moduli of numbers above and below them (with no inverse too), and
// the Miller-Rabin test of primes (from mpz_nextprime, some with p - 1
// divisible by a high power of two), of odd composites and of products of
// two primes.
TEST_F(BnGmp, SecretGcdInverseAndPrimality) {
  auto secret = [](const mpz_t x) {
    Bn b = ToBn(x);
    BN_set_flags(b.get(), BN_FLAG_SECRET);
    return b;
  };
  for (unsigned words = 1; words <= 40; words++) {
    const std::string what = std::to_string(words) + " words";
    for (int c = 0; c < 4; c++) {
      Mpz a, b, f, want, got_inv;
      Draw(a.v, rng_, 32 * words - c, c);
      Draw(b.v, rng_, 32 * words - 3 * c, c + 1);
      Draw(f.v, rng_, 1 + (words * 7 + c) % 40, 0);
      mpz_mul(a.v, a.v, f.v);  // a common factor, with twos when c is odd
      mpz_mul(b.v, b.v, f.v);
      if (c & 1) {
        mpz_mul_2exp(a.v, a.v, 5 + c);
        mpz_mul_2exp(b.v, b.v, 3);
      }
      if (c == 2) mpz_set_ui(b.v, 0);
      Bn sa = secret(a.v), sb = ToBn(b.v), r(BN_new());
      mpz_gcd(want.v, a.v, b.v);
      ASSERT_EQ(BN_gcd(r.get(), sa.get(), sb.get(), ctx_.get()), 1) << what;
      EXPECT_EQ(Text(r.get()), Text(want.v)) << what << ", gcd " << c;
      // Inverses: a number of the modulus's length or longer, modulo an odd
      // and an even modulus.
      Mpz m, x;
      Draw(m.v, rng_, 32 * words - (c == 3 ? 5 : 0), c);
      if (c < 2) mpz_setbit(m.v, 0);
      if (c >= 2) mpz_clrbit(m.v, 0);
      Draw(x.v, rng_, 32 * words + (c == 1 ? 40 : 0), c + 2);
      if (c >= 2) mpz_setbit(x.v, 0);
      if (c == 3 && words % 3 == 0) mpz_mul_ui(x.v, x.v, 2);  // even, even: none
      Bn sm = secret(m.v), bx = ToBn(x.v);
      const bool exists = mpz_invert(want.v, x.v, m.v) != 0;
      BIGNUM* inv = BN_mod_inverse(r.get(), bx.get(), sm.get(), ctx_.get());
      EXPECT_EQ(inv != nullptr, exists) << what << ", inverse " << c;
      if (exists && inv != nullptr) {
        EXPECT_EQ(Text(r.get()), Text(want.v)) << what;
      }
      ERR_clear_error();
    }
    // Primality: a prime, one with p - 1 = 2^40 q (from 30 words up), an odd
    // composite with no small factor, and a product of two primes.
    Mpz p, q, n;
    Draw(p.v, rng_, 32 * words, 0);
    mpz_nextprime(p.v, p.v);
    Draw(q.v, rng_, 32 * words - 41, 1);
    mpz_mul_2exp(q.v, q.v, 40);
    mpz_add_ui(q.v, q.v, 1);
    while (words >= 30 && mpz_probab_prime_p(q.v, 30) == 0) mpz_add_ui(q.v, q.v, 1ul << 41);
    mpz_nextprime(n.v, p.v);
    mpz_mul(n.v, n.v, p.v);
    for (const auto& [value, prime] : {std::pair{p.v, true}, std::pair{n.v, false}}) {
      Bn s = secret(value);
      EXPECT_EQ(BN_is_prime_ex(s.get(), 0, ctx_.get(), nullptr), prime ? 1 : 0) << what;
    }
    if (words >= 30) {
      Bn s = secret(q.v);
      EXPECT_EQ(BN_is_prime_ex(s.get(), 0, ctx_.get(), nullptr), 1) << what << ", 2^40 q + 1";
    }
  }
}
