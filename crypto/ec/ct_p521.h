// The field of P-521 for the constant-time engine (ct_arith.h): arithmetic
// modulo the Mersenne prime p = 2^521 - 1 on nine 58-bit digits, with its
// own product, square, sum, difference, inversion and the conversions to
// and from plain 64-bit limbs.  Nothing here branches on or indexes by a
// secret value.
//
// Implementation notes: an element is nine digits d0 .. d8 of 64-bit words
// standing for sum d_i 2^(58 i) mod p, kept "loose": every digit below
// 2^58 + 2^7 (kLoose), the value itself possibly p or more.  Each operation
// takes loose inputs and gives a loose output:
// - product and square: column sums of 128-bit word products; since
//   2^(58 * 9) = 2^522 = 2 mod p, a product landing at digit 9 + k is added
//   twice into column k (the second operand's digits doubled).  They accept
//   digits up to 3 2^60 < 2^61.59 (kWide), whence a column below 17 (3
//   2^60)^2 = 153 2^120 < 2^127.3 < 2^128;
//   the columns are carried in one pass and the carry out of digit 8, below
//   2^70, re-enters digit 0 doubled.
// - sum and difference: digit by digit with no carry between digits (the
//   difference adds 4 p, whose digits 2^60 - 4 and 2^59 - 4 exceed any loose
//   digit), then one independent carry per digit (normalize).
// The doubling dbl_jac_m3 leaves some sums and differences unreduced, within
// kWide, where a product follows.  Only canonical() reduces to the unique
// form in [0, p); the engine calls it for results and zero tests.
#ifndef MORVANE_CRYPTO_EC_CT_P521_H
#define MORVANE_CRYPTO_EC_CT_P521_H

#include <stddef.h>
#include <stdint.h>

#include "internal/ct.h"

namespace morvane::ec::ctarith::p521 {

using word = uint64_t;
using wide = unsigned __int128;

constexpr size_t kDigits = 9;
constexpr unsigned kDigitBits = 58;
constexpr word kMask = (word{1} << kDigitBits) - 1;
constexpr word kTopMask = (word{1} << 57) - 1;  // digit 8 of a canonical value: bits 464 .. 520
constexpr word kLoose = (word{1} << kDigitBits) + (word{1} << 7);
// The products' inputs: every digit at most 3 2^60 (< 2^61.59).
constexpr word kWide = word{3} << 60;

// p as plain 64-bit limbs (the engine recognises the field by it).
constexpr word kP[kDigits] = {~word{0}, ~word{0}, ~word{0}, ~word{0}, ~word{0},
                              ~word{0}, ~word{0}, ~word{0}, 0x1ff};

// The curve's b and order n (FIPS 186-4, D.1.2.5) as plain 64-bit limbs:
// a group with these has prime order, so every point's multiples repeat
// with period n and a scalar may be reduced modulo n first.
constexpr word kB[kDigits] = {0xef451fd46b503f00, 0x3573df883d2c34f1, 0x1652c0bd3bb1bf07,
                              0x56193951ec7e937b, 0xb8b489918ef109e1, 0xa2da725b99b315f3,
                              0x929a21a0b68540ee, 0x953eb9618e1c9a1f, 0x0000000000000051};
constexpr word kOrder[kDigits] = {0xbb6fb71e91386409, 0x3bb5c9b8899c47ae, 0x7fcc0148f709a5d0,
                                  0x51868783bf2f966b, 0xfffffffffffffffa, ~word{0},
                                  ~word{0},           ~word{0},           0x1ff};

#define MORVANE_P521_INLINE inline __attribute__((always_inline))

// v, kept in a general register: the digit loops below stay scalar.  (GCC
// otherwise pairs digits into SSE registers, and a pair loaded right after
// two scalar stores of the digits waits for the stores to retire: the
// engine's formulas, which store products and load them into sums, ran at
// about half their speed.)
MORVANE_P521_INLINE word scalar(word v) {
  __asm__("" : "+r"(v));
  return v;
}

// r = a with every digit below 2^58 + 2^7, the value unchanged mod p; any
// digits.  Each digit's carry moves up one place at once
// (no chain); the carry out of digit 8 enters digit 0 doubled.
MORVANE_P521_INLINE void normalize(word r[kDigits], const word a[kDigits]) {
  word c[kDigits];
  for (size_t i = 0; i < kDigits; i++) c[i] = scalar(a[i] >> kDigitBits);
  r[0] = scalar((a[0] & kMask) + (c[kDigits - 1] << 1));
  for (size_t i = 1; i < kDigits; i++) r[i] = scalar((a[i] & kMask) + c[i - 1]);
}

MORVANE_P521_INLINE void add(word r[kDigits], const word a[kDigits], const word b[kDigits]) {
  word s[kDigits];
  for (size_t i = 0; i < kDigits; i++) s[i] = scalar(a[i] + b[i]);
  normalize(r, s);
}

// r = a - b + 4 p.
MORVANE_P521_INLINE void sub(word r[kDigits], const word a[kDigits], const word b[kDigits]) {
  constexpr word k4p = (word{1} << 60) - 4, k4p_top = (word{1} << 59) - 4;
  word s[kDigits];
  for (size_t i = 0; i + 1 < kDigits; i++) s[i] = scalar(a[i] + k4p - b[i]);
  s[kDigits - 1] = scalar(a[kDigits - 1] + k4p_top - b[kDigits - 1]);
  normalize(r, s);
}

// The columns' running sum acc, after column k has been added: digit k is
// its low 58 bits and the rest carries into column k + 1.
MORVANE_P521_INLINE void take_digit(word o[kDigits], size_t k, wide& acc) {
  o[k] = static_cast<word>(acc) & kMask;
  acc >>= kDigitBits;
}

// The carry out of digit 8 (acc, below 2^70) enters digit 0 doubled, digit
// 0's own carry digit 1 (below 2^58 + 2^13) and digit 1's digit 2.
MORVANE_P521_INLINE void fold_top(word r[kDigits], word o[kDigits], wide acc) {
  const wide t = (acc << 1) + o[0];
  o[0] = static_cast<word>(t) & kMask;
  o[1] += static_cast<word>(t >> kDigitBits);
  o[2] += o[1] >> kDigitBits;
  o[1] &= kMask;
  for (size_t k = 0; k < kDigits; k++) r[k] = scalar(o[k]);
}

// r = a b mod p (loose); the digits of a and b at most kWide.
inline void mul(word r[kDigits], const word a[kDigits], const word b[kDigits]) {
  word b2[kDigits];
  for (size_t i = 0; i < kDigits; i++) b2[i] = scalar(b[i] << 1);
  word o[kDigits];
  wide acc = 0;
#pragma GCC unroll 9
  for (size_t k = 0; k < kDigits; k++) {
#pragma GCC unroll 9
    for (size_t i = 0; i < kDigits; i++)
      acc += static_cast<wide>(a[i]) * (i <= k ? b[k - i] : b2[k + kDigits - i]);
    take_digit(o, k, acc);
  }
  fold_top(r, o, acc);
}

// r = a^2 mod p (loose), the digits of a at most kWide: 45 word products,
// the pairs i < j once with one factor doubled (and doubled again when they
// fold past digit 8).
inline void sqr(word r[kDigits], const word a[kDigits]) {
  word a2[kDigits];
  for (size_t i = 0; i < kDigits; i++) a2[i] = scalar(a[i] << 1);
  word o[kDigits];
  wide acc = 0;
#pragma GCC unroll 9
  for (size_t k = 0; k < kDigits; k++) {
#pragma GCC unroll 9
    for (size_t i = 0; i < kDigits; i++) {
      const size_t j = k - i;  // column k: i + j = k
      if (i <= k && j > i && j < kDigits) acc += static_cast<wide>(a2[i]) * a[j];
      if (i <= k && j == i) acc += static_cast<wide>(a[i]) * a[i];
      const size_t w = k + kDigits - i;  // folded: i + w = k + 9
      if (i > k && w > i && w < kDigits) acc += static_cast<wide>(a2[i]) * a2[w];
      if (i > k && w == i) acc += static_cast<wide>(a2[i]) * a[i];
    }
    take_digit(o, k, acc);
  }
  fold_top(r, o, acc);
}

// ---- the doubling with unreduced sums ---------------------------------------

// r = a + b, digits unreduced.
MORVANE_P521_INLINE void add_wide(word r[kDigits], const word a[kDigits], const word b[kDigits]) {
  for (size_t i = 0; i < kDigits; i++) r[i] = scalar(a[i] + b[i]);
}

// r = a - b + c p, digits unreduced; every digit of b at most c (2^57 - 1).
template <word C>
MORVANE_P521_INLINE void sub_wide(word r[kDigits], const word a[kDigits], const word b[kDigits]) {
  for (size_t i = 0; i + 1 < kDigits; i++) r[i] = scalar(a[i] + C * kMask - b[i]);
  r[kDigits - 1] = scalar(a[kDigits - 1] + C * kTopMask - b[kDigits - 1]);
}

// r = c a, digits unreduced.
template <word C>
MORVANE_P521_INLINE void scale_wide(word r[kDigits], const word a[kDigits]) {
  for (size_t i = 0; i < kDigits; i++) r[i] = scalar(C * a[i]);
}

// (x3, y3, z3) = 2 (x, y, z) in Jacobian coordinates for a = -3: the steps
// of the engine's point_dbl_jac_m3 (dbl-2001-b, 3M + 5S), with the sums and
// differences that only feed a product left unreduced and the outputs
// reduced once.  The bounds, for loose inputs (L = kLoose < 2^58.0001):
// X - delta + 4 p < 2^60.4 and X + delta < 2^59 (into a product), 3 alpha
// < 2^59.6, 4 beta - X3 + 4 p < 2^61.1 (into products), (Y + Z)^2 - gamma -
// delta + 8 p (8 p's digits above 2 L), alpha^2 - 8 beta + 32 p and
// t - 8 gamma^2 + 32 p (32 p's top digit 2^62 - 32 above 8 L) below 2^64.
// The outputs may alias the inputs.
inline void dbl_jac_m3(word x3[kDigits], word y3[kDigits], word z3[kDigits],
                       const word x[kDigits], const word y[kDigits], const word z[kDigits]) {
  word delta[kDigits], gamma[kDigits], beta[kDigits], alpha[kDigits], t[kDigits], u[kDigits];
  sqr(delta, z);
  sqr(gamma, y);
  mul(beta, x, gamma);
  sub_wide<4>(t, x, delta);
  add_wide(u, x, delta);
  mul(alpha, t, u);
  scale_wide<3>(alpha, alpha);  // 3 (X - delta)(X + delta)
  add_wide(t, y, z);
  sqr(t, t);
  add_wide(u, gamma, delta);
  sub_wide<8>(t, t, u);
  normalize(z3, t);  // (Y + Z)^2 - gamma - delta = 2 Y Z
  scale_wide<4>(beta, beta);
  sqr(t, alpha);
  scale_wide<2>(u, beta);
  sub_wide<32>(t, t, u);
  normalize(x3, t);  // alpha^2 - 8 beta
  sub_wide<4>(t, beta, x3);
  mul(t, alpha, t);
  sqr(gamma, gamma);
  scale_wide<8>(gamma, gamma);
  sub_wide<32>(t, t, gamma);
  normalize(y3, t);  // alpha (4 beta - X3) - 8 gamma^2
}

// r = a^(2^n) mod p (n squarings, n public).
inline void sqr_n(word r[kDigits], const word a[kDigits], size_t n) {
  for (size_t k = 0; k < kDigits; k++) r[k] = a[k];
  for (size_t i = 0; i < n; i++) sqr(r, r);
}

// r = a^(p - 2) = a^-1 mod p (0 for 0).  With x_k = a^(2^k - 1), p - 2 =
// 2^521 - 3 is x519 2^2 + 1 in those terms (519 ones, a zero, a one): 520
// squarings and 13 products.
inline void invert(word r[kDigits], const word a[kDigits]) {
  word x2[kDigits], x3[kDigits], x6[kDigits], x7[kDigits], t[kDigits], x[kDigits];
  sqr(t, a);
  mul(x2, t, a);
  sqr(t, x2);
  mul(x3, t, a);
  sqr_n(t, x3, 3);
  mul(x6, t, x3);
  sqr(t, x6);
  mul(x7, t, a);
  sqr(t, x7);
  mul(x, t, a);  // x8
  for (size_t k = 8; k < 512; k *= 2) {  // x16, x32, ..., x512
    sqr_n(t, x, k);
    mul(x, t, x);
  }
  sqr_n(t, x, 7);
  mul(x, t, x7);  // x519
  sqr_n(t, x, 2);
  mul(r, t, a);
}

// r = the value of a mod p in [0, p), as digits of 58 bits (digit 8 of 57).
inline void canonical(word r[kDigits], const word a[kDigits]) {
  word d[kDigits];
  for (size_t i = 0; i < kDigits; i++) d[i] = a[i];
  for (size_t i = 0; i + 1 < kDigits; i++) {
    d[i + 1] += d[i] >> kDigitBits;
    d[i] &= kMask;
  }
  // Bits 521 and up (at most 3) re-enter at bit 0: 2^521 = 1 mod p.  The
  // value is then at most 2^521 + 2.
  d[0] += d[kDigits - 1] >> 57;
  d[kDigits - 1] &= kTopMask;
  for (size_t i = 0; i + 1 < kDigits; i++) {
    d[i + 1] += d[i] >> kDigitBits;
    d[i] &= kMask;
  }
  // v - p = v + 1 - 2^521 when v + 1 reaches 2^521, else v.
  word e[kDigits];
  word c = 1;
  for (size_t i = 0; i + 1 < kDigits; i++) {
    const word s = d[i] + c;
    e[i] = s & kMask;
    c = s >> kDigitBits;
  }
  e[kDigits - 1] = d[kDigits - 1] + c;
  const word over = ct::bit_mask<word>(e[kDigits - 1] >> 57);
  e[kDigits - 1] &= kTopMask;
  for (size_t i = 0; i < kDigits; i++) r[i] = ct::select(over, e[i], d[i]);
}

// All ones when a = 0 mod p, else zero.
inline word zero_mask(const word a[kDigits]) {
  word c[kDigits];
  canonical(c, a);
  word acc = 0;
  for (size_t i = 0; i < kDigits; i++) acc |= c[i];
  return ct::zero_mask(acc);
}

// r = the plain number w (nine 64-bit limbs, least significant first, any
// value below 2^576) as a loose element.
inline void from_words(word r[kDigits], const word w[kDigits]) {
  word d[kDigits];
#pragma GCC unroll 9
  for (size_t i = 0; i < kDigits; i++) {
    const size_t bit = kDigitBits * i, q = bit / 64, s = bit % 64;
    word v = w[q] >> s;
    if (s > 64 - kDigitBits) v |= w[q + 1] << (64 - s);
    d[i] = v & kMask;
  }
  // Bits 522 .. 575 stand for twice their value (2^522 = 2 mod p).
  d[0] += (w[kDigits - 1] >> (kDigitBits * kDigits - 64 * (kDigits - 1))) << 1;
  normalize(r, d);
}

// w = a mod p in [0, p) as nine plain 64-bit limbs.
inline void to_words(word w[kDigits], const word a[kDigits]) {
  word c[kDigits];
  canonical(c, a);
  for (size_t j = 0; j < kDigits; j++) w[j] = 0;
#pragma GCC unroll 9
  for (size_t i = 0; i < kDigits; i++) {
    const size_t bit = kDigitBits * i, q = bit / 64, s = bit % 64;
    w[q] |= c[i] << s;
    if (s > 64 - kDigitBits && q + 1 < kDigits) w[q + 1] |= c[i] >> (64 - s);
  }
}

#undef MORVANE_P521_INLINE

}  // namespace morvane::ec::ctarith::p521

#endif  // MORVANE_CRYPTO_EC_CT_P521_H
