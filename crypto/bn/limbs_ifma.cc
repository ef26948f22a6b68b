// Montgomery products in radix 2^52 with AVX-512 IFMA, for exponentiations
// whose base and exponent are both public (the RSA public operations): the
// numbers are split into 52-bit digits, eight to a 512-bit vector, and
// VPMADD52LUQ / VPMADD52HUQ add the low and high halves of the digit
// products into 64-bit lanes, whose spare 12 bits take the carries until the
// end of the product.
//
// Implementation notes: amm() is the "almost" Montgomery product: for a, b
// below 2N and 4N < R = 2^(52 D), D the number of digits, it gives a b R^-1
// mod N plus possibly N, so below 2N again, and a chain of products needs no
// reduction between them.  Each step adds a b_i and y N, y chosen so that the
// lowest digit becomes zero, and moves the accumulator down one lane; the
// high halves are added after the move, where their weight is.  A lane takes
// at most four halves (each below 2^52) and one carry per step over at most
// 8 V steps, far below 2^64.  (The masked forms of the lane moves and
// extractions below are those whose unused inputs are zeros.)  The exponentiation finds R^2 mod N
// from the context's R'^2 mod N (R' = 2^(32 nw)) with two products: with R = 2^d R', amm(amm(R'^2,
// R'^2), 2^(4d)) = R^2.  Nothing here depends on the values of the numbers (the final
// subtraction is chosen by a mask), but the exponentiations follow the exponent's bits: the
// form serves public exponents only.

#include <immintrin.h>
#include <stdint.h>
#include <string.h>

#include <morvane/bn.h>

#include "bn/limbs.h"
#include "internal/cpu.h"
#include "internal/ct.h"
#include "internal/wipe.h"

namespace morvane::bn::limb {

namespace {

constexpr uint64_t kMask52 = (uint64_t{1} << 52) - 1;
// Up to ten vectors: 80 digits, moduli of up to 4158 bits.
constexpr int kMaxVectors = 10;
constexpr int kMaxDigits = 8 * kMaxVectors;
// The widest window of exp_window_ifma: 16 odd powers, 10 KiB on the stack.
constexpr int kMaxIfmaWindow = 5;

// The lowest lane of x.
__attribute__((target("avx512f,avx512vl,avx512ifma"))) inline uint64_t lowest(__m512i x) noexcept {
  return static_cast<uint64_t>(_mm_cvtsi128_si64(_mm512_maskz_extracti32x4_epi32(0xF, x, 0)));
}

// r = a b R^-1 (mod N), below 2N, for a and b below 2N (normalized digits);
// V vectors of digits, `steps` of them (R = 2^(52 steps)) at most 8 V.
template <int V>
__attribute__((target("avx512f,avx512vl,avx512ifma"))) void amm(uint64_t* r, const uint64_t* a,
                                                                const uint64_t* b,
                                                                const uint64_t* m, uint64_t k0,
                                                                int steps) noexcept {
  __m512i av[V], mv[V], acc[V];
#pragma GCC unroll 16
  for (int v = 0; v < V; v++) {
    av[v] = _mm512_loadu_si512(a + 8 * v);
    mv[v] = _mm512_loadu_si512(m + 8 * v);
    acc[v] = _mm512_setzero_si512();
  }
  const __m512i zero = _mm512_setzero_si512();
  for (int i = 0; i < steps; i++) {
    const __m512i bi = _mm512_set1_epi64(static_cast<long long>(b[i]));
#pragma GCC unroll 16
    for (int v = 0; v < V; v++) acc[v] = _mm512_madd52lo_epu64(acc[v], av[v], bi);
    const uint64_t low = lowest(acc[0]);
    const uint64_t y = (low * k0) & kMask52;
    const __m512i yv = _mm512_set1_epi64(static_cast<long long>(y));
#pragma GCC unroll 16
    for (int v = 0; v < V; v++) acc[v] = _mm512_madd52lo_epu64(acc[v], mv[v], yv);
    // The lowest lane is now zero in its 52 bits: its carry goes up a lane,
    // and every lane moves down one.
    const uint64_t carry = lowest(acc[0]) >> 52;
#pragma GCC unroll 16
    for (int v = 0; v + 1 < V; v++) acc[v] = _mm512_maskz_alignr_epi64(0xFF, acc[v + 1], acc[v], 1);
    acc[V - 1] = _mm512_maskz_alignr_epi64(0xFF, zero, acc[V - 1], 1);
    acc[0] = _mm512_add_epi64(acc[0], _mm512_maskz_set1_epi64(1, static_cast<long long>(carry)));
#pragma GCC unroll 16
    for (int v = 0; v < V; v++) {
      acc[v] = _mm512_madd52hi_epu64(acc[v], av[v], bi);
      acc[v] = _mm512_madd52hi_epu64(acc[v], mv[v], yv);
    }
  }
  uint64_t out[8 * V];
#pragma GCC unroll 16
  for (int v = 0; v < V; v++) _mm512_storeu_si512(out + 8 * v, acc[v]);
  uint64_t c = 0;
  for (int i = 0; i < 8 * V; i++) {
    const uint64_t x = out[i] + c;
    r[i] = x & kMask52;
    c = x >> 52;
  }
}

using AmmFn = void (*)(uint64_t*, const uint64_t*, const uint64_t*, const uint64_t*, uint64_t,
                       int) noexcept;
constexpr AmmFn kAmm[kMaxVectors + 1] = {nullptr, amm<1>, amm<2>, amm<3>, amm<4>, amm<5>,
                                         amm<6>,  amm<7>, amm<8>, amm<9>, amm<10>};

// d[0 .. digits) = the 52-bit digits of x[0 .. nl).
void to_digits(uint64_t* d, int digits, const Limb* x, int nl) noexcept {
  for (int i = 0; i < digits; i++) {
    const int bit = 52 * i, w = bit / 64, off = bit % 64;
    uint64_t v = w < nl ? x[w] >> off : 0;
    if (off > 12 && w + 1 < nl) v |= x[w + 1] << (64 - off);
    d[i] = v & kMask52;
  }
}

// x[0 .. nl) = the number of the normalized digits d[0 .. digits), whose
// bits above 64 nl are zero.
void from_digits(Limb* x, int nl, const uint64_t* d, int digits) noexcept {
  for (int i = 0; i < nl; i++) x[i] = 0;
  for (int i = 0; i < digits; i++) {
    const int bit = 52 * i, w = bit / 64, off = bit % 64;
    if (w < nl) x[w] |= d[i] << off;
    if (off > 12 && w + 1 < nl) x[w + 1] |= d[i] >> (64 - off);
  }
}

// The radix-2^52 form of a modulus: its digits, R^2 mod N for R = 2^(52
// steps), the product for its number of vectors and -N^-1 mod 2^52.
struct Ifma {
  int steps = 0, digits = 0;
  AmmFn mul = nullptr;
  uint64_t k0 = 0;
  uint64_t n[kMaxDigits], r2[kMaxDigits];

  // False where the processor lacks IFMA or N has fewer than 16 words or
  // more than 4158 bits; rr is R'^2 mod N for R' = 2^(32 nw).
  bool init(const Modulus& m, const Limb* rr) noexcept {
    // Digits for R > 4N: N is below 2^(32 nw).
    steps = (BN_BITS2 * m.nw + 2 + 51) / 52;
    const int vectors = (steps + 7) / 8;
    if (m.nw < 16 || vectors > kMaxVectors || !internal::Has(internal::kIfma)) return false;
    mul = kAmm[vectors];
    digits = 8 * vectors;
    const int d = 52 * steps - BN_BITS2 * m.nw;
    to_digits(n, digits, m.n, m.nl);
    k0 = m.n0 & kMask52;
    // R^2 = amm(amm(R'^2, R'^2), 2^(4d)).
    uint64_t x[kMaxDigits], t[kMaxDigits];
    to_digits(t, digits, rr, m.nl);
    amm(x, t, t);
    memset(t, 0, sizeof t);
    t[4 * d / 52] = uint64_t{1} << (4 * d % 52);
    amm(r2, x, t);
    return true;
  }
  void amm(uint64_t* r, const uint64_t* a, const uint64_t* b) const noexcept {
    mul(r, a, b, n, k0, steps);
  }
  // r[0 .. nl) = x mod N for x below 2N: N subtracted unless x is below it,
  // chosen by a mask.
  void finish(Limb* r, const uint64_t* x, const Modulus& m) const noexcept {
    Limb wide[kMaxDigits] = {}, nn[kMaxDigits], less[kMaxDigits];
    const int nl = m.nl;
    from_digits(wide, nl + 1, x, digits);
    for (int i = 0; i < nl; i++) nn[i] = m.n[i];
    nn[nl] = 0;
    const Limb below = lt_mask_n(wide, nn, nl + 1);
    sub_n(less, wide, nn, nl + 1);
    for (int i = 0; i < nl; i++) r[i] = ct::select(below, wide[i], less[i]);
  }
};

}  // namespace

bool exp_public_ifma(Limb* r, const Limb* b, const BN_ULONG* e, int ewords, const Modulus& m,
                     const Limb* rr) noexcept {
  Ifma f;
  if (!f.init(m, rr)) return false;
  auto bit = [e](int j) { return (e[j / BN_BITS2] >> (j % BN_BITS2)) & 1; };
  int top = ewords * BN_BITS2 - 1;
  while (top >= 0 && !bit(top)) top--;
  uint64_t base[kMaxDigits], bm[kMaxDigits], x[kMaxDigits], t[kMaxDigits], one[kMaxDigits] = {1};
  to_digits(base, f.digits, b, m.nl);
  // b R, and 1 R for e = 0.
  f.amm(bm, base, f.r2);
  if (top < 0) {
    f.amm(x, f.r2, one);
  } else {
    memcpy(x, bm, sizeof x);
  }
  for (int j = top - 1; j >= 1; j--) {
    f.amm(t, x, x);
    if (bit(j)) {
      f.amm(x, t, bm);
    } else {
      memcpy(x, t, sizeof x);
    }
  }
  if (top >= 1) {
    f.amm(t, x, x);
    memcpy(x, t, sizeof x);
  }
  // Out of Montgomery form: by b itself for a last one bit, else by 1.
  f.amm(bm, x, top >= 1 && bit(0) ? base : one);
  f.finish(r, bm, m);
  return true;
}

bool exp_window_ifma(Limb* r, const Limb* b, const BN_ULONG* e, int ewords, const Modulus& m,
                     const Limb* rr, int window) noexcept {
  if (m.nw <= 32 || window < 1) return false;
  auto bit = [e](int j) { return static_cast<int>((e[j / BN_BITS2] >> (j % BN_BITS2)) & 1); };
  int top = ewords * BN_BITS2 - 1;
  while (top >= 0 && !bit(top)) top--;
  Ifma f;
  if (top < 0 || !f.init(m, rr)) return false;
  const int w = window < kMaxIfmaWindow ? window : kMaxIfmaWindow;
  // The odd powers b^(2i+1) R.
  uint64_t powers[1 << (kMaxIfmaWindow - 1)][kMaxDigits], x[kMaxDigits], sq[kMaxDigits],
      one[kMaxDigits] = {1};
  to_digits(x, f.digits, b, m.nl);
  f.amm(powers[0], x, f.r2);
  if (w > 1) f.amm(sq, powers[0], powers[0]);
  for (int i = 1; i < (1 << (w - 1)); i++) f.amm(powers[i], powers[i - 1], sq);
  // Left to right: each window ends on a one bit; the first one is taken
  // from the table as it is.
  bool started = false;
  for (int i = top; i >= 0;) {
    if (!bit(i)) {
      f.amm(x, x, x);
      i--;
      continue;
    }
    int j = i - w + 1 < 0 ? 0 : i - w + 1;
    while (!bit(j)) j++;
    int v = 0;
    for (int k = i; k >= j; k--) v = 2 * v + bit(k);
    if (started) {
      for (int k = i; k >= j; k--) f.amm(x, x, x);
      f.amm(x, x, powers[v >> 1]);
    } else {
      memcpy(x, powers[v >> 1], sizeof x);
      started = true;
    }
    i = j - 1;
  }
  f.amm(sq, x, one);
  f.finish(r, sq, m);
  internal::wipe_scratch(powers, sizeof powers);
  internal::wipe_scratch(x, sizeof x);
  internal::wipe_scratch(sq, sizeof sq);
  return true;
}

}  // namespace morvane::bn::limb
