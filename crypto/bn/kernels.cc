// The word kernels: products, sums and differences of 32-bit word vectors,
// the double-word division and the column (comba) products of 4 and 8 words.
//
// Implementation notes: every product and sum is formed in a 64-bit integer
// (a column of the comba kernels in an unsigned __int128), which gives the
// same words as the double-word arithmetic on 16-bit halves.  The vector
// kernels take four words per pass; the comba kernels are fully unrolled by
// the compiler from loops over constant bounds.  Each element is read before
// the element of the same index is written, so rp == ap (and r == a or b for
// addition and subtraction) is safe.

#include <stdint.h>

#include <morvane/bn.h>

#include "bn/internal.h"

namespace morvane::bn {

namespace {

using u128 = unsigned __int128;

inline uint64_t wide(BN_ULONG x) { return x; }

// r[0 .. 2N) = a[0 .. N) * b[0 .. N), column by column.
template <int N>
inline void mul_comba(BN_ULONG* r, const BN_ULONG* a, const BN_ULONG* b) noexcept {
  u128 acc = 0;
#pragma GCC unroll 16
  for (int k = 0; k < 2 * N - 1; k++) {
    const int lo = k < N ? 0 : k - N + 1;
    const int hi = k < N ? k : N - 1;
#pragma GCC unroll 8
    for (int i = lo; i <= hi; i++) acc += wide(a[i]) * b[k - i];
    r[k] = static_cast<BN_ULONG>(acc);
    acc >>= 32;
  }
  r[2 * N - 1] = static_cast<BN_ULONG>(acc);
}

// r[0 .. 2N) = a[0 .. N)^2: each cross product once, doubled.
template <int N>
inline void sqr_comba(BN_ULONG* r, const BN_ULONG* a) noexcept {
  u128 acc = 0;
#pragma GCC unroll 16
  for (int k = 0; k < 2 * N - 1; k++) {
    const int lo = k < N ? 0 : k - N + 1;
    u128 cross = 0;
#pragma GCC unroll 8
    for (int i = lo; i < k - i; i++) cross += wide(a[i]) * a[k - i];
    acc += cross << 1;
    if ((k & 1) == 0) acc += wide(a[k / 2]) * a[k / 2];
    r[k] = static_cast<BN_ULONG>(acc);
    acc >>= 32;
  }
  r[2 * N - 1] = static_cast<BN_ULONG>(acc);
}

}  // namespace

BN_ULONG mul_add_words(BN_ULONG* rp, const BN_ULONG* ap, int num, BN_ULONG w) noexcept {
  uint64_t c = 0;
  // (2^32 - 1)^2 + 2 (2^32 - 1) = 2^64 - 1: the sum never overflows.
  auto step = [&](int i) {
    uint64_t t = wide(ap[i]) * w + rp[i] + c;
    rp[i] = static_cast<BN_ULONG>(t);
    c = t >> 32;
  };
  for (; num >= 4; num -= 4, ap += 4, rp += 4) {
    step(0);
    step(1);
    step(2);
    step(3);
  }
  for (int i = 0; i < num; i++) step(i);
  return static_cast<BN_ULONG>(c);
}

BN_ULONG mul_words(BN_ULONG* rp, const BN_ULONG* ap, int num, BN_ULONG w) noexcept {
  uint64_t c = 0;
  auto step = [&](int i) {
    uint64_t t = wide(ap[i]) * w + c;
    rp[i] = static_cast<BN_ULONG>(t);
    c = t >> 32;
  };
  for (; num >= 4; num -= 4, ap += 4, rp += 4) {
    step(0);
    step(1);
    step(2);
    step(3);
  }
  for (int i = 0; i < num; i++) step(i);
  return static_cast<BN_ULONG>(c);
}

void sqr_words(BN_ULONG* r, const BN_ULONG* a, int n) noexcept {
  auto step = [&](int i) {
    uint64_t t = wide(a[i]) * a[i];
    r[2 * i] = static_cast<BN_ULONG>(t);
    r[2 * i + 1] = static_cast<BN_ULONG>(t >> 32);
  };
  for (; n >= 4; n -= 4, a += 4, r += 8) {
    step(0);
    step(1);
    step(2);
    step(3);
  }
  for (int i = 0; i < n; i++) step(i);
}

BN_ULONG div_words(BN_ULONG h, BN_ULONG l, BN_ULONG d) noexcept {
  if (d == 0) return 0xFFFFFFFFU;
  // One subtraction before dividing: for d <= h < 2d the quotient comes out
  // modulo 2^32.  (h >= 2d has no defined result; the word returned is the
  // low word of the quotient.)
  if (h >= d) h -= d;
  return static_cast<BN_ULONG>(((wide(h) << 32) | l) / d);
}

BN_ULONG add_words(BN_ULONG* r, const BN_ULONG* a, const BN_ULONG* b, int n) noexcept {
  uint64_t c = 0;
  auto step = [&](int i) {
    uint64_t t = wide(a[i]) + b[i] + c;
    r[i] = static_cast<BN_ULONG>(t);
    c = t >> 32;
  };
  for (; n >= 4; n -= 4, a += 4, b += 4, r += 4) {
    step(0);
    step(1);
    step(2);
    step(3);
  }
  for (int i = 0; i < n; i++) step(i);
  return static_cast<BN_ULONG>(c);
}

BN_ULONG sub_words(BN_ULONG* r, const BN_ULONG* a, const BN_ULONG* b, int n) noexcept {
  uint64_t c = 0;
  auto step = [&](int i) {
    uint64_t t = wide(a[i]) - b[i] - c;  // wraps below zero: bit 63 is the borrow
    r[i] = static_cast<BN_ULONG>(t);
    c = t >> 63;
  };
  for (; n >= 4; n -= 4, a += 4, b += 4, r += 4) {
    step(0);
    step(1);
    step(2);
    step(3);
  }
  for (int i = 0; i < n; i++) step(i);
  return static_cast<BN_ULONG>(c);
}

void mul_comba4(BN_ULONG* r, const BN_ULONG* a, const BN_ULONG* b) noexcept {
  mul_comba<4>(r, a, b);
}
void mul_comba8(BN_ULONG* r, const BN_ULONG* a, const BN_ULONG* b) noexcept {
  mul_comba<8>(r, a, b);
}
void sqr_comba4(BN_ULONG* r, const BN_ULONG* a) noexcept { sqr_comba<4>(r, a); }
void sqr_comba8(BN_ULONG* r, const BN_ULONG* a) noexcept { sqr_comba<8>(r, a); }

}  // namespace morvane::bn

namespace bn = morvane::bn;

/* see morvane/bn.h */
BN_ULONG bn_mul_add_words(BN_ULONG* rp, const BN_ULONG* ap, int num, BN_ULONG w) {
  return bn::mul_add_words(rp, ap, num, w);
}
BN_ULONG bn_mul_words(BN_ULONG* rp, const BN_ULONG* ap, int num, BN_ULONG w) {
  return bn::mul_words(rp, ap, num, w);
}
void bn_sqr_words(BN_ULONG* r, const BN_ULONG* a, int n) { bn::sqr_words(r, a, n); }
BN_ULONG bn_div_words(BN_ULONG h, BN_ULONG l, BN_ULONG d) { return bn::div_words(h, l, d); }
BN_ULONG bn_add_words(BN_ULONG* r, const BN_ULONG* a, const BN_ULONG* b, int n) {
  return bn::add_words(r, a, b, n);
}
BN_ULONG bn_sub_words(BN_ULONG* r, const BN_ULONG* a, const BN_ULONG* b, int n) {
  return bn::sub_words(r, a, b, n);
}
void bn_mul_comba4(BN_ULONG* r, BN_ULONG* a, BN_ULONG* b) { bn::mul_comba4(r, a, b); }
void bn_mul_comba8(BN_ULONG* r, BN_ULONG* a, BN_ULONG* b) { bn::mul_comba8(r, a, b); }
void bn_sqr_comba4(BN_ULONG* r, const BN_ULONG* a) { bn::sqr_comba4(r, a); }
void bn_sqr_comba8(BN_ULONG* r, const BN_ULONG* a) { bn::sqr_comba8(r, a); }
