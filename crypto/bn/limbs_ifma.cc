// Montgomery products in radix 2^52 with AVX-512 IFMA: for exponentiations
// whose base and exponent are both public (the RSA public operations), and
// the single products of BN_mod_mul_montgomery from 1024 bits up.  The
// numbers are split into 52-bit digits, eight to a 512-bit vector, and
// VPMADD52LUQ / VPMADD52HUQ add the low and high halves of the digit
// products into 64-bit lanes, whose spare 12 bits take the carries until the
// end of the product.
//
// Implementation notes: amm() is the "almost" Montgomery product: for a b <
// N R and 4N < R = 2^(52 D), D the number of digits, it gives a b R^-1 mod N
// plus possibly N, so below 2N, and a chain of products of numbers below 2N
// needs no reduction between them.  Each step adds a b_i and y N, y chosen
// so that the lowest digit becomes zero, and moves the accumulator down one
// lane.  A lane takes at most four halves (each below 2^52) and one carry
// per step over at most 8 V steps, far below 2^64.  (The masked forms of the
// lane moves and extractions below are those whose unused inputs are
// zeros.)  The exponentiation finds R^2 mod N from the context's R'^2 mod N
// (R' = 2^(32 nw)) with two products: with R = 2^d R', amm(amm(R'^2, R'^2),
// 2^(4d)) = R^2; the single product takes a 2^d for a, so that amm gives a b
// R'^-1.  Nothing here depends on the values of the numbers (the final
// subtraction is chosen by a mask), but the exponentiations follow the
// exponent's bits: that form serves public exponents only.

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
// mont_mul_ifma from this many words of N up (below, the unrolled 64-bit
// products measured faster).
constexpr int kMontIfmaWords = 32;
// mul_square_ifma from 17 limbs (at 16 the unrolled 64-bit rows measured
// faster) to what kMaxDigits holds.
constexpr int kMulIfmaLimbs = 17, kMulIfmaMaxLimbs = 52 * kMaxDigits / 64;

// r = a b R^-1 (mod N), below 2N, for a and b below 2N (normalized digits);
// V vectors of digits, `steps` of them (R = 2^(52 steps)) at most 8 V.
//
// Each step's y is found a step ahead on scalar registers: the next lowest
// lane is this step's second lane plus the products that land there (the
// low halves by digit 1, the high halves by digit 0, and the lowest lane's
// carry), and the step's products are summed apart before they join the
// lanes, so a step waits on the one before only for an addition and the
// move.  The high halves go in before the move, by the
// digits one lane up (up[] holds digit j - 1 in lane j), except the top
// digit's, which has no lane until after it.
template <int V>
__attribute__((target("avx512f,avx512vl,avx512ifma"))) void amm(uint64_t* r, const uint64_t* a,
                                                                const uint64_t* b,
                                                                const uint64_t* m, uint64_t k0,
                                                                int steps) noexcept {
  __m512i av[V], mv[V], aup[V], mup[V], acc[V];
  const __m512i zero = _mm512_setzero_si512();
#pragma GCC unroll 16
  for (int v = 0; v < V; v++) {
    av[v] = _mm512_loadu_si512(a + 8 * v);
    mv[v] = _mm512_loadu_si512(m + 8 * v);
    acc[v] = zero;
  }
#pragma GCC unroll 16
  for (int v = 0; v < V; v++) {
    aup[v] = _mm512_maskz_alignr_epi64(0xFF, av[v], v == 0 ? zero : av[v - 1], 7);
    mup[v] = _mm512_maskz_alignr_epi64(0xFF, mv[v], v == 0 ? zero : mv[v - 1], 7);
  }
  // The top digits alone, in the lowest lane: their high halves go to the
  // top lane as it moves in.
  const __m512i atop = _mm512_maskz_permutexvar_epi64(1, _mm512_set1_epi64(7), av[V - 1]);
  const __m512i mtop = _mm512_maskz_permutexvar_epi64(1, _mm512_set1_epi64(7), mv[V - 1]);
  const uint64_t a0 = a[0], a1 = a[1], a2 = a[2], m0 = m[0], m1 = m[1], m2 = m[2];
  auto lo = [](uint64_t x, uint64_t z) { return (x * z) & kMask52; };
  // For x and z below 2^52, the high 64 bits of x (z << 12) are x z >> 52.
  auto hi = [](uint64_t x, uint64_t z12) {
    return static_cast<uint64_t>((static_cast<unsigned __int128>(x) * z12) >> 64);
  };
  const uint64_t a0h = a0 << 12, a1h = a1 << 12, m0h = m0 << 12, m1h = m1 << 12;
  const uint64_t m1k = m1 * k0;
  uint64_t y = (lo(a0, b[0]) * k0) & kMask52;
  // The two lowest digits of the accumulator kept on scalar registers, with
  // every step's products and carries: d0 the lowest whole, d1 the next
  // without the step before's lowest carry.  The vector's lowest lanes are
  // not read; its third lane is, one step late, when no product of the step
  // before can still be waiting for it.
  uint64_t d0 = 0, d1 = 0;
  for (int i = 0; i < steps; i++) {
    const uint64_t third = static_cast<uint64_t>(
        _mm_extract_epi64(_mm512_maskz_extracti32x4_epi32(0xF, acc[0], 1), 0));
    const uint64_t bi = b[i];
    const __m512i bv = _mm512_set1_epi64(static_cast<long long>(bi));
    const __m512i yv = _mm512_set1_epi64(static_cast<long long>(y));
    // y makes the lowest digit t a multiple of 2^52 with its low half of m0
    // y, which is 2^52 - t mod 2^52 unless t's low 52 bits are zero: the
    // carry out is known without y.  The next y takes y's own terms in the
    // next digit by themselves, multiplied by k0 (mod 2^52), so that the
    // chain from one y to the next is a product, its high half times k0 and
    // the sum.
    const uint64_t t = d0 + lo(a0, bi);
    const uint64_t owed = (t >> 52) + (((t & kMask52) + kMask52) >> 52);
    const uint64_t rest = d1 + lo(a1, bi) + hi(bi, a0h) + owed;
    const uint64_t ym0 = hi(y, m0h);
    d0 = rest + lo(m1, y) + ym0;
    d1 = third + lo(a2, bi) + hi(bi, a1h) + lo(m2, y) + hi(y, m1h);
    if (i + 1 < steps) y = ((rest + lo(a0, b[i + 1])) * k0 + y * m1k + ym0 * k0) & kMask52;
    // The step's products apart from the lanes, added to them at once, and
    // every lane moved down one.
    __m512i u[V];
#pragma GCC unroll 16
    for (int v = 0; v < V; v++) {
      const __m512i ua = _mm512_madd52hi_epu64(_mm512_madd52lo_epu64(zero, av[v], bv), aup[v], bv);
      u[v] = _mm512_add_epi64(_mm512_madd52lo_epu64(ua, mv[v], yv),
                              _mm512_madd52hi_epu64(zero, mup[v], yv));
    }
    const __m512i top = _mm512_madd52hi_epu64(_mm512_madd52hi_epu64(zero, atop, bv), mtop, yv);
#pragma GCC unroll 16
    for (int v = 0; v < V; v++) {
      acc[v] =
          _mm512_maskz_alignr_epi64(0xFF, v + 1 < V ? _mm512_add_epi64(acc[v + 1], u[v + 1]) : top,
                                    _mm512_add_epi64(acc[v], u[v]), 1);
    }
  }
  // Normalized: each lane's carry (below 2^12) goes one lane up, leaving
  // lanes of at most 2^52 - 1 + 2^12; such a lane above 2^52 - 1 carries one
  // more, and one of exactly 2^52 - 1 passes on a carry it takes.  Those
  // carries are those of the sum of the lanes that carry, moved up one, and
  // the lanes that pass one on, as bits of an integer.
  acc[0] =
      _mm512_mask_blend_epi64(1, acc[0], _mm512_maskz_set1_epi64(1, static_cast<long long>(d0)));
  const __m512i mask = _mm512_set1_epi64(static_cast<long long>(kMask52));
  unsigned __int128 gen = 0, pass = 0;
  __m512i below = zero;
#pragma GCC unroll 16
  for (int v = 0; v < V; v++) {
    const __m512i carries = _mm512_maskz_srli_epi64(0xFF, acc[v], 52);
    acc[v] = _mm512_add_epi64(_mm512_and_si512(acc[v], mask),
                              _mm512_maskz_alignr_epi64(0xFF, carries, below, 7));
    below = carries;
    gen |= static_cast<unsigned __int128>(_mm512_cmpgt_epu64_mask(acc[v], mask)) << (8 * v);
    pass |= static_cast<unsigned __int128>(_mm512_cmpeq_epu64_mask(acc[v], mask)) << (8 * v);
  }
  const unsigned __int128 in = ((gen << 1) + pass) ^ pass;
  const __m512i one = _mm512_set1_epi64(1);
#pragma GCC unroll 16
  for (int v = 0; v < V; v++) {
    const auto lanes = static_cast<__mmask8>(in >> (8 * v));
    _mm512_storeu_si512(r + 8 * v,
                        _mm512_and_si512(_mm512_mask_add_epi64(acc[v], lanes, acc[v], one), mask));
  }
}

using AmmFn = void (*)(uint64_t*, const uint64_t*, const uint64_t*, const uint64_t*, uint64_t,
                       int) noexcept;
constexpr AmmFn kAmm[kMaxVectors + 1] = {nullptr, amm<1>, amm<2>, amm<3>, amm<4>, amm<5>,
                                         amm<6>,  amm<7>, amm<8>, amm<9>, amm<10>};

// d[0 .. digits) = the 52-bit digits of x[0 .. nl) 2^shift, shift below 64:
// digit i is the 52 bits of x from bit 52 i - shift, read as the eight
// bytes from that bit's byte (fewer, and zeros, at x's end).  The reads
// follow the sizes only.
void to_digits(uint64_t* d, int digits, const Limb* x, int nl, int shift = 0) noexcept {
  const auto* bytes = reinterpret_cast<const uint8_t*>(x);
  const int len = 8 * nl;
  for (int i = 0; i < digits; i++) {
    const int bit = 52 * i - shift;
    uint64_t v = 0;
    if (bit < 0) {
      v = x[0] << -bit;
    } else if (const int at = bit / 8; at + 8 <= len) {
      memcpy(&v, bytes + at, 8);
      v >>= bit % 8;
    } else if (at < len) {
      memcpy(&v, bytes + at, static_cast<size_t>(len - at));
      v >>= bit % 8;
    }
    d[i] = v & kMask52;
  }
}

// x[0 .. nl) = the number of the normalized digits d[0 .. digits), whose
// bits above 64 nl are zero.
void from_digits(Limb* x, int nl, const uint64_t* d, int digits) noexcept {
  for (int w = 0; w < nl; w++) {
    const int i = 64 * w / 52, off = 64 * w - 52 * i;
    uint64_t v = i < digits ? d[i] >> off : 0;
    if (i + 1 < digits) v |= d[i + 1] << (52 - off);
    if (off > 40 && i + 2 < digits) v |= d[i + 2] << (104 - off);
    x[w] = v;
  }
}

// The same conversions eight digits (52 bytes) at a time with AVX-512 VBMI,
// for mont_mul_ifma: to_digits without a shift, and from_digits.  Each
// digit's eight bytes are picked from the 52, then shifted by 0 or 4 bits;
// back, the even digits give bytes 0-6 of each 13 and the odd ones, 4 bits
// up, bytes 6-12.  Loads and stores are masked to x's bytes.
#define MORVANE_IFMA_VBMI "avx512f,avx512vl,avx512bw,avx512vbmi,avx512ifma"

__attribute__((target(MORVANE_IFMA_VBMI))) void to_digits_vbmi(uint64_t* d, int digits,
                                                               const Limb* x, int nl) noexcept {
  alignas(64) static constexpr uint8_t kPick[64] = {
      0,  1,  2,  3,  4,  5,  6,  7,  6,  7,  8,  9,  10, 11, 12, 13, 13, 14, 15, 16, 17, 18,
      19, 20, 19, 20, 21, 22, 23, 24, 25, 26, 26, 27, 28, 29, 30, 31, 32, 33, 32, 33, 34, 35,
      36, 37, 38, 39, 39, 40, 41, 42, 43, 44, 45, 46, 45, 46, 47, 48, 49, 50, 51, 52};
  const __m512i pick = _mm512_load_si512(kPick);
  const __m512i shifts = _mm512_set_epi64(4, 0, 4, 0, 4, 0, 4, 0);
  const __m512i mask = _mm512_set1_epi64(static_cast<long long>(kMask52));
  const auto* bytes = reinterpret_cast<const uint8_t*>(x);
  const int len = 8 * nl;
  for (int g = 0; 8 * g < digits; g++) {
    const int at = 52 * g, left = len - at;
    const __mmask64 valid = left >= 64 ? ~__mmask64{0} : left > 0 ? (__mmask64{1} << left) - 1 : 0;
    const __m512i v = _mm512_maskz_loadu_epi8(valid, left > 0 ? bytes + at : bytes);
    const __m512i w = _mm512_maskz_srlv_epi64(
        0xFF, _mm512_maskz_permutexvar_epi8(~__mmask64{0}, pick, v), shifts);
    _mm512_storeu_si512(d + 8 * g, _mm512_and_si512(w, mask));
  }
}

__attribute__((target(MORVANE_IFMA_VBMI))) void from_digits_vbmi(Limb* x, int nl, const uint64_t* d,
                                                                 int digits) noexcept {
  // Output byte b of each 52: pair b / 13, r = b % 13; from the even digit's
  // byte r (r <= 6), from the odd digit's (moved up 4 bits) byte r - 6 (r >= 6).
  alignas(64) static constexpr uint8_t kEven[64] = {
      0,  1,  2, 3, 4,  5,  6,  0,  0,  0,  0,  0, 0, 16, 17, 18, 19, 20, 21, 22, 0,  0,
      0,  0,  0, 0, 32, 33, 34, 35, 36, 37, 38, 0, 0, 0,  0,  0,  0,  48, 49, 50, 51, 52,
      53, 54, 0, 0, 0,  0,  0,  0,  0,  0,  0,  0, 0, 0,  0,  0,  0,  0,  0,  0};
  alignas(64) static constexpr uint8_t kOdd[64] = {
      0,  0,  0,  0,  0,  0,  8,  9,  10, 11, 12, 13, 14, 0,  0,  0,  0,  0, 0, 24, 25, 26,
      27, 28, 29, 30, 0,  0,  0,  0,  0,  0,  40, 41, 42, 43, 44, 45, 46, 0, 0, 0,  0,  0,
      0,  56, 57, 58, 59, 60, 61, 62, 0,  0,  0,  0,  0,  0,  0,  0,  0,  0, 0, 0};
  constexpr __mmask64 kEvenMask = 0x3f81fc0fe07full, kOddMask = 0xfe07f03f81fc0ull;
  const __m512i even = _mm512_load_si512(kEven), odd = _mm512_load_si512(kOdd);
  const __m512i shifts = _mm512_set_epi64(4, 0, 4, 0, 4, 0, 4, 0);
  auto* bytes = reinterpret_cast<uint8_t*>(x);
  const int len = 8 * nl;
  for (int g = 0; 8 * g < digits && 52 * g < len; g++) {
    const int at = 52 * g, left = len - at;
    const __m512i v = _mm512_maskz_sllv_epi64(0xFF, _mm512_loadu_si512(d + 8 * g), shifts);
    const __m512i lo = _mm512_maskz_permutexvar_epi8(kEvenMask, even, v);
    const __m512i hi = _mm512_maskz_permutexvar_epi8(kOddMask, odd, v);
    const __mmask64 out = left >= 52 ? (__mmask64{1} << 52) - 1 : (__mmask64{1} << left) - 1;
    _mm512_mask_storeu_epi8(bytes + at, out, _mm512_or_si512(lo, hi));
  }
  // Bytes past the digits' end are zero.
  for (int at = 52 * ((digits + 7) / 8); at < len; at++) bytes[at] = 0;
}

// r[0 .. nl) = w mod N for w[0 .. nl] below 2N: N subtracted unless w is
// below it, chosen by a mask.
void subtract_unless_below(Limb* r, const Limb* w, const Modulus& m) noexcept {
  Limb nn[kMaxDigits], less[kMaxDigits];
  const int nl = m.nl;
  for (int i = 0; i < nl; i++) nn[i] = m.n[i];
  nn[nl] = 0;
  // A borrow out of w - N: w was below N.
  const Limb keep = 0 - sub_n(less, w, nn, nl + 1);
  for (int i = 0; i < nl; i++) r[i] = ct::select(keep, w[i], less[i]);
  internal::wipe_scratch(less, sizeof(Limb) * static_cast<size_t>(nl + 1));
}

// r[0 .. nl) = x mod N for x below 2N (normalized digits).
void finish_digits(Limb* r, const uint64_t* x, int digits, const Modulus& m) noexcept {
  Limb wide[kMaxDigits] = {};
  from_digits(wide, m.nl + 1, x, digits);
  subtract_unless_below(r, wide, m);
  internal::wipe_scratch(wide, sizeof(Limb) * static_cast<size_t>(m.nl + 1));
}

// The radix-2^52 form of a modulus: its digits, R^2 mod N for R = 2^(52
// steps), the product for its number of vectors and -N^-1 mod 2^52.
struct Ifma {
  int steps = 0, digits = 0;
  AmmFn mul = nullptr;
  uint64_t k0 = 0;
  alignas(64) uint64_t n[kMaxDigits], r2[kMaxDigits];

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
    alignas(64) uint64_t x[kMaxDigits], t[kMaxDigits];
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
  void finish(Limb* r, const uint64_t* x, const Modulus& m) const noexcept {
    finish_digits(r, x, digits, m);
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
  alignas(64) uint64_t base[kMaxDigits], bm[kMaxDigits], x[kMaxDigits], t[kMaxDigits],
      one[kMaxDigits] = {1};
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
  alignas(64) uint64_t powers[1 << (kMaxIfmaWindow - 1)][kMaxDigits], x[kMaxDigits], sq[kMaxDigits],
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

namespace {

// The two kernels below are written out for each V (thousands of vector
// loads and products); a sanitized build instruments each load, which took
// ten times as long to compile.  Their reads and writes stay in one block
// of scratch by construction, and the products are checked against GMP at
// every length.
#define MORVANE_NO_SANITIZE_KERNEL no_sanitize("address", "undefined")

// The window of the products below: w[0] (complete) to t, the others one
// vector down, an empty one on top.
template <int V>
[[gnu::always_inline]] __attribute__((target(MORVANE_IFMA_VBMI))) inline void slide(
    __m512i (&w)[V + 1], uint64_t* t) noexcept {
  _mm512_store_si512(t, w[0]);
#pragma GCC unroll 16
  for (int j = 0; j < V; j++) w[j] = w[j + 1];
  w[V] = _mm512_setzero_si512();
}

// t[0 .. 16 V) = the digits of a b, each below 2^64 (not normalized), for a
// of 8 V digits and b's 8 V digits at bp + 8, with 8 zero digits before and
// after them.  Row i of the schoolbook product adds a[i] b at digit i: row
// 8 q + s reads b moved up s digits (a load from s digits before it) and,
// for the high halves, s + 1, so that its sums land on whole vectors of t;
// the V + 1 vectors that rows 8 q to 8 q + 7 reach stay in registers, and
// the lowest is complete after them.  A digit gathers at most 16 V products'
// halves, below 2^(52 + 8) for V <= 16.
template <int V>
__attribute__((target(MORVANE_IFMA_VBMI), MORVANE_NO_SANITIZE_KERNEL)) void mul_digits(uint64_t* t, const uint64_t* a,
                                                           const uint64_t* bp) noexcept {
  const uint64_t* b = bp + 8;
  __m512i w[V + 1];
#pragma GCC unroll 16
  for (int j = 0; j <= V; j++) w[j] = _mm512_setzero_si512();
  for (int q = 0; q < V; q++) {
#pragma GCC unroll 8
    for (int s = 0; s < 8; s++) {
      const __m512i x = _mm512_set1_epi64(static_cast<long long>(a[8 * q + s]));
#pragma GCC unroll 16
      for (int j = 0; j <= V; j++) {
        w[j] = _mm512_madd52lo_epu64(w[j], x, _mm512_loadu_si512(b + 8 * j - s));
        w[j] = _mm512_madd52hi_epu64(w[j], x, _mm512_loadu_si512(b + 8 * j - s - 1));
      }
    }
    slide<V>(w, t + 8 * q);
  }
  for (int j = 0; j < V; j++) _mm512_store_si512(t + 8 * (V + j), w[j]);
}

// The same for a square, t = the digits of a^2 for a's 8 V digits at ap + 8
// (zeros around them as for b): the products a[i] a[k] for k > i only, as
// above but from row 8 q + s's own vector on, the lanes of k <= i masked
// off, then each digit doubled and the squares a[i]^2 added at 2 i.
// Digits stay below 2^62.  The rows are written out for each q, so that the
// vectors each one reaches are known when it is compiled.
template <int V>
__attribute__((target(MORVANE_IFMA_VBMI), MORVANE_NO_SANITIZE_KERNEL)) void sqr_digits(uint64_t* t,
                                                           const uint64_t* ap) noexcept {
  const uint64_t* a = ap + 8;
  __m512i w[V + 1];
#pragma GCC unroll 16
  for (int j = 0; j <= V; j++) w[j] = _mm512_setzero_si512();
#pragma GCC unroll 16
  for (int q = 0; q < V; q++) {
#pragma GCC unroll 8
    for (int s = 0; s < 8; s++) {
      const __m512i x = _mm512_set1_epi64(static_cast<long long>(a[8 * q + s]));
      // Lane l of vector j holds k = 8 j + l - s (low halves) or that less
      // one (high halves, a digit up); k > 8 q + s leaves these lanes.
      const auto lo_q = static_cast<__mmask8>(0xFF << (2 * s + 1));
      const auto hi_q = static_cast<__mmask8>(0xFF << (2 * s + 2));
      const auto lo_next = static_cast<__mmask8>(s < 4 ? 0xFF : 0xFF << (2 * s - 7));
      const auto hi_next = static_cast<__mmask8>(s < 4 ? 0xFF : 0xFF << (2 * s - 6));
#pragma GCC unroll 16
      for (int j = q; j <= V; j++) {
        const __m512i lo = _mm512_loadu_si512(a + 8 * j - s);
        const __m512i hi = _mm512_loadu_si512(a + 8 * j - s - 1);
        if (j == q) {
          w[j] = _mm512_mask_madd52lo_epu64(w[j], lo_q, x, lo);
          w[j] = _mm512_mask_madd52hi_epu64(w[j], hi_q, x, hi);
        } else if (j == q + 1) {
          w[j] = _mm512_mask_madd52lo_epu64(w[j], lo_next, x, lo);
          w[j] = _mm512_mask_madd52hi_epu64(w[j], hi_next, x, hi);
        } else {
          w[j] = _mm512_madd52lo_epu64(w[j], x, lo);
          w[j] = _mm512_madd52hi_epu64(w[j], x, hi);
        }
      }
    }
    slide<V>(w, t + 8 * q);
  }
  for (int j = 0; j < V; j++) _mm512_store_si512(t + 8 * (V + j), w[j]);
  // t = 2 t + the squares: a[i]^2's low half at digit 2 i, its high half at
  // 2 i + 1, the lanes of a vector's squares spread over two of t's.
  const __m512i zero = _mm512_setzero_si512();
  const __m512i first = _mm512_set_epi64(11, 3, 10, 2, 9, 1, 8, 0);
  const __m512i second = _mm512_set_epi64(15, 7, 14, 6, 13, 5, 12, 4);
#pragma GCC unroll 16
  for (int g = 0; g < V; g++) {
    const __m512i x = _mm512_loadu_si512(a + 8 * g);
    const __m512i lo = _mm512_madd52lo_epu64(zero, x, x), hi = _mm512_madd52hi_epu64(zero, x, x);
    for (int h = 0; h < 2; h++) {
      uint64_t* d = t + 16 * g + 8 * h;
      const __m512i v = _mm512_load_si512(d);
      _mm512_store_si512(d,
                         _mm512_add_epi64(_mm512_add_epi64(v, v),
                                          _mm512_permutex2var_epi64(lo, h ? second : first, hi)));
    }
  }
}

using MulDigitsFn = void (*)(uint64_t*, const uint64_t*, const uint64_t*) noexcept;
// From 3 vectors: 17 limbs take 21 digits.
static_assert((64 * kMulIfmaLimbs + 51) / 52 > 16);
constexpr MulDigitsFn kMulDigits[kMaxVectors + 1] = {
    nullptr,       nullptr,       nullptr,       mul_digits<3>, mul_digits<4>, mul_digits<5>,
    mul_digits<6>, mul_digits<7>, mul_digits<8>, mul_digits<9>, mul_digits<10>};
using SqrDigitsFn = void (*)(uint64_t*, const uint64_t*) noexcept;
constexpr SqrDigitsFn kSqrDigits[kMaxVectors + 1] = {
    nullptr,       nullptr,       nullptr,       sqr_digits<3>, sqr_digits<4>, sqr_digits<5>,
    sqr_digits<6>, sqr_digits<7>, sqr_digits<8>, sqr_digits<9>, sqr_digits<10>};

// t[0 .. 8 vectors) normalized in place, for digits below 2^64 whose
// number fits: each lane's carry (below 2^12) goes one lane up, then the
// carries that those sums make are found as amm() finds its own, on masks
// of 64 lanes a word.
__attribute__((target(MORVANE_IFMA_VBMI))) void normalize_digits(uint64_t* t,
                                                                 int vectors) noexcept {
  const __m512i mask = _mm512_set1_epi64(static_cast<long long>(kMask52));
  const __m512i one = _mm512_set1_epi64(1);
  __m512i below = _mm512_setzero_si512();
  uint64_t gen[(2 * kMaxVectors + 7) / 8] = {}, pass[(2 * kMaxVectors + 7) / 8] = {};
  for (int v = 0; v < vectors; v++) {
    __m512i x = _mm512_load_si512(t + 8 * v);
    const __m512i carries = _mm512_maskz_srli_epi64(0xFF, x, 52);
    x = _mm512_add_epi64(_mm512_and_si512(x, mask),
                         _mm512_maskz_alignr_epi64(0xFF, carries, below, 7));
    below = carries;
    gen[v / 8] |= uint64_t{_mm512_cmpgt_epu64_mask(x, mask)} << (8 * (v % 8));
    pass[v / 8] |= uint64_t{_mm512_cmpeq_epu64_mask(x, mask)} << (8 * (v % 8));
    _mm512_store_si512(t + 8 * v, x);
  }
  // in = ((gen << 1) + pass) ^ pass over the words, low word first.
  uint64_t shifted_in = 0, carry = 0;
  for (int k = 0; 8 * k < vectors; k++) {
    const unsigned __int128 sum =
        static_cast<unsigned __int128>(gen[k] << 1 | shifted_in) + pass[k] + carry;
    shifted_in = gen[k] >> 63;
    carry = static_cast<uint64_t>(sum >> 64);
    const uint64_t in = static_cast<uint64_t>(sum) ^ pass[k];
    for (int v = 8 * k; v < vectors && v < 8 * k + 8; v++) {
      const __m512i x = _mm512_load_si512(t + 8 * v);
      const auto lanes = static_cast<__mmask8>(in >> (8 * (v % 8)));
      _mm512_store_si512(t + 8 * v,
                         _mm512_and_si512(_mm512_mask_add_epi64(x, lanes, x, one), mask));
    }
  }
}

}  // namespace

bool mul_ifma_serves(int n) noexcept {
  return n >= kMulIfmaLimbs && n <= kMulIfmaMaxLimbs &&
         internal::Has(internal::kIfma | internal::kVbmi);
}

bool mul_square_ifma(Limb* r, const Limb* a, const Limb* b, int n) noexcept {
  if (!mul_ifma_serves(n)) return false;
  const int vectors = ((64 * n + 51) / 52 + 7) / 8;
  // One block: a's digits, b's between 8 zero digits on each side, and the
  // product's.
  const int digits = 8 * vectors;
  alignas(64) uint64_t scratch[4 * kMaxDigits + 16];
  uint64_t *x = scratch, *y = x + digits, *t = y + digits + 16;
  for (int i = 0; i < 8; i++) y[i] = y[8 + digits + i] = 0;
  to_digits_vbmi(y + 8, digits, b, n);
  if (a == b) {
    kSqrDigits[vectors](t, y);
  } else {
    to_digits_vbmi(x, digits, a, n);
    kMulDigits[vectors](t, x, y);
  }
  normalize_digits(t, 2 * vectors);
  from_digits_vbmi(r, 2 * n, t, 2 * digits);
  internal::wipe_scratch(scratch, sizeof(uint64_t) * static_cast<size_t>(4 * digits + 16));
  return true;
}

bool mont_ifma_serves(const Modulus& m) noexcept {
  const int vectors = ((BN_BITS2 * m.nw + 2 + 51) / 52 + 7) / 8;
  return m.nw >= kMontIfmaWords && vectors <= kMaxVectors &&
         internal::Has(internal::kIfma | internal::kVbmi);
}

namespace {

// All ones where x < y for normalized digits (eight to a vector), else zero:
// the highest digit where they differ decides, so x < y where the mask of
// its digits below y's, read as an integer, is above the mask of those
// above.  The same instructions for every value.
__attribute__((target(MORVANE_IFMA_VBMI))) Limb digits_lt_mask(const uint64_t* x, const uint64_t* y,
                                                               int vectors) noexcept {
  unsigned __int128 below = 0, above = 0;
  for (int v = 0; v < vectors; v++) {
    const __m512i p = _mm512_loadu_si512(x + 8 * v), q = _mm512_loadu_si512(y + 8 * v);
    below |= static_cast<unsigned __int128>(_mm512_cmplt_epu64_mask(p, q)) << (8 * v);
    above |= static_cast<unsigned __int128>(_mm512_cmpgt_epu64_mask(p, q)) << (8 * v);
  }
  // Both below 2^80: the sign of the difference is the borrow.
  return 0 - static_cast<Limb>((above - below) >> 127);
}

// r[0 .. nl) = t mod N for normalized digits t below 2N (t is
// overwritten): t - N unless t is below N.  A digit difference below zero
// borrows, one of zero passes a borrow on: the borrows are found as amm()
// finds its carries, and the one out of the top digit says t < N.
__attribute__((target(MORVANE_IFMA_VBMI))) void reduce_digits(Limb* r, int nl, uint64_t* t,
                                                              const uint64_t* n,
                                                              int vectors) noexcept {
  const __m512i zero = _mm512_setzero_si512(), one = _mm512_set1_epi64(1);
  const __m512i mask = _mm512_set1_epi64(static_cast<long long>(kMask52));
  unsigned __int128 gen = 0, pass = 0;
  for (int v = 0; v < vectors; v++) {
    const __m512i diff =
        _mm512_sub_epi64(_mm512_loadu_si512(t + 8 * v), _mm512_loadu_si512(n + 8 * v));
    gen |= static_cast<unsigned __int128>(_mm512_cmplt_epi64_mask(diff, zero)) << (8 * v);
    pass |= static_cast<unsigned __int128>(_mm512_cmpeq_epi64_mask(diff, zero)) << (8 * v);
  }
  const unsigned __int128 sum = (gen << 1) + pass, in = sum ^ pass;
  const auto keep = static_cast<__mmask8>(0 - static_cast<unsigned>(sum >> (8 * vectors) & 1));
  for (int v = 0; v < vectors; v++) {
    const __m512i tv = _mm512_loadu_si512(t + 8 * v);
    __m512i diff = _mm512_sub_epi64(tv, _mm512_loadu_si512(n + 8 * v));
    diff = _mm512_and_si512(
        _mm512_mask_sub_epi64(diff, static_cast<__mmask8>(in >> (8 * v)), diff, one), mask);
    _mm512_storeu_si512(t + 8 * v, _mm512_mask_mov_epi64(diff, keep, tv));
  }
  from_digits_vbmi(r, nl, t, 8 * vectors);
}

}  // namespace

bool mont_mul_ifma(Limb* r, const Limb* a, const Limb* b, const Modulus& m) noexcept {
  // R = 2^(52 steps) > 4N, and R = 2^d R' for R' = 2^(32 nw): the product
  // of a 2^d and b is a b R'^-1 (mod N), below 2N where a b < N R', as it
  // is where one factor is below N.
  const int steps = (BN_BITS2 * m.nw + 2 + 51) / 52;
  const int vectors = (steps + 7) / 8;
  const int nl = m.nl, digits = 8 * vectors, d = 52 * steps - BN_BITS2 * m.nw;
  // One block of scratch, wiped once: the digits of b (or a), of the other
  // factor times 2^d and of the product, then that factor times 2^d (d is
  // 2 to 53) on nl + 1 limbs.
  alignas(64) uint64_t n[kMaxDigits], scratch[4 * kMaxDigits];
  uint64_t *x = scratch, *y = x + digits, *t = y + digits;
  Limb* up = t + digits;
  const size_t used = sizeof(uint64_t) * static_cast<size_t>(3 * digits + nl + 1);
  to_digits_vbmi(n, digits, m.n, nl);
  to_digits_vbmi(y, digits, b, nl);
  if (digits_lt_mask(y, n, vectors) == 0) {  // then a must be below N
    to_digits_vbmi(y, digits, a, nl);
    if (digits_lt_mask(y, n, vectors) == 0) {
      internal::wipe_scratch(scratch, used);
      return false;
    }
    a = b;
  }
  up[0] = a[0] << d;
  for (int i = 1; i < nl; i++) up[i] = a[i] << d | a[i - 1] >> (64 - d);
  up[nl] = a[nl - 1] >> (64 - d);
  to_digits_vbmi(x, digits, up, nl + 1);
  kAmm[vectors](t, x, y, n, m.n0 & kMask52, steps);
  reduce_digits(r, nl, t, n, vectors);
  internal::wipe_scratch(scratch, used);
  return true;
}

}  // namespace morvane::bn::limb
