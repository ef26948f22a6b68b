// Long division of signed numbers: the quotient truncated toward zero, the
// remainder with the numerator's sign, and a form for secret operands whose
// flow depends only on the operands' lengths.
//
// Implementation notes: the divisor is shifted left by ns = 32 - (bits mod 32)
// (1 to 32) so that its top word has its top bit set, and the numerator by
// ns + 32, which puts a zero word on top.  A window of the divisor's length
// slides down the shifted numerator; each quotient word is estimated from the
// window's top two words and the divisor's top word, refined with the
// divisor's second word (the estimate is then at most one too large), and the
// window less q times the divisor is corrected by one add-back on a borrow.
// The last window position is never divided: the low zero word means the
// remainder is the final window shifted right by ns + 32 bits.

#include <stdint.h>

#include <morvane/bn.h>
#include <morvane/err.h>

#include "bn/internal.h"

namespace morvane::bn {

namespace {

// Masks for the secret form: all ones when x is non-zero, and when a < b;
// the barrier keeps the compiler from turning them back into branches.
inline BN_ULONG barrier(uint64_t m) noexcept {
  __asm__("" : "+r"(m));
  return static_cast<BN_ULONG>(0 - m);
}
inline BN_ULONG nonzero_mask(uint64_t x) noexcept {
  return barrier((x | (0 - x)) >> 63);
}
inline BN_ULONG lt_mask(uint64_t a, uint64_t b) noexcept {
  return barrier((a ^ ((a ^ b) | ((a - b) ^ a))) >> 63);
}

// The quotient word for the window whose top words are n0, n1, n2, against a
// divisor with top words d0 (top bit set) and d1.  Plain form: branches on
// the values; secret form: the same estimate by masks, the refinement run
// twice (the most it can take) under a mask.
template <bool kSecret>
BN_ULONG estimate(BN_ULONG n0, BN_ULONG n1, BN_ULONG n2, BN_ULONG d0, BN_ULONG d1) noexcept {
  if constexpr (!kSecret) {
    if (n0 == d0) return 0xFFFFFFFFU;
    BN_ULONG q = div_words(n0, n1, d0);
    BN_ULONG rem = n1 - q * d0;
    uint64_t t = static_cast<uint64_t>(d1) * q;
    for (;;) {
      if (t <= ((static_cast<uint64_t>(rem) << 32) | n2)) break;
      q--;
      rem += d0;
      if (rem < d0) break;  // rem passed 2^32: the test holds from here on
      t -= d1;
    }
    return q;
  } else {
    const BN_ULONG equal = ~nonzero_mask(n0 ^ d0);
    // n0 <= d0; with n0 == d0 the top word is dropped to keep the quotient in
    // a word, and the all-ones estimate is taken instead.
    const uint64_t num = (static_cast<uint64_t>(n0 & ~equal) << 32) | n1;
    BN_ULONG q = static_cast<BN_ULONG>(num / d0);
    uint64_t rem = static_cast<BN_ULONG>(n1 - q * d0);
    uint64_t t = static_cast<uint64_t>(d1) * q;
    BN_ULONG live = ~equal;
    for (int k = 0; k < 2; k++) {
      // live: rem is still below 2^32; the test is t > rem * 2^32 + n2.
      const BN_ULONG more = live & lt_mask((rem << 32) | n2, t);
      q -= more & 1;
      rem += d0 & more;
      live &= ~nonzero_mask(rem >> 32);
      t -= d1 & more;
    }
    return (q & ~equal) | equal;
  }
}

// Division of normalised magnitudes (steps 5 to 12; see the notes above).
template <bool kSecret>
int divide(BIGNUM* dv, BIGNUM* rm, const BIGNUM* num, const BIGNUM* divisor, BN_CTX* ctx) {
  const int num_neg = num->neg, quot_neg = num->neg ^ divisor->neg;
  Frame frame(ctx);
  BIGNUM* tmp = frame.get();
  BIGNUM* snum = frame.get();
  BIGNUM* sdiv = frame.get();
  BIGNUM* res = dv == nullptr ? frame.get() : dv;
  if (res == nullptr || sdiv == nullptr) return 0;
  const int ns = 32 - BN_num_bits(divisor) % 32;
  if (!BN_lshift(sdiv, divisor, ns) || !BN_lshift(snum, num, ns + 32)) return 0;
  sdiv->neg = 0;
  snum->neg = 0;
  const int div_n = sdiv->top;
  if (kSecret) {
    // A zero word on top (or up to div_n + 2 words), so that the first
    // quotient word is always zero and needs no comparison.
    const int want = snum->top <= div_n + 1 ? div_n + 2 : snum->top + 1;
    if (wexpand(snum, want) == nullptr) return 0;
    zero_words(snum->d + snum->top, want - snum->top);
    snum->top = want;
  }
  const int num_n = snum->top, loop = num_n - div_n;
  const BN_ULONG d0 = sdiv->d[div_n - 1], d1 = div_n == 1 ? 0 : sdiv->d[div_n - 2];
  if (wexpand(res, loop + 1) == nullptr || wexpand(tmp, div_n + 1) == nullptr) return 0;
  res->neg = quot_neg;
  res->top = loop;
  BN_ULONG* window = snum->d + loop;  // div_n words, then div_n + 1 as it moves down
  BN_ULONG* resp = res->d + loop - 1;
  if (kSecret) {
    res->top = loop - 1;
  } else if (bn_cmp_words(window, sdiv->d, div_n) >= 0) {
    sub_words(window, window, sdiv->d, div_n);
    *resp = 1;
  } else {
    res->top--;
  }
  if (res->top == 0) {
    res->neg = 0;
  } else {
    resp--;
  }
  BN_ULONG* top = snum->d + num_n - 1;  // the window's top word
  for (int i = 0; i < loop - 1; i++, top--, resp--) {
    BN_ULONG q = estimate<kSecret>(top[0], top[-1], top[-2], d0, d1);
    tmp->d[div_n] = mul_words(tmp->d, sdiv->d, div_n, q);
    window--;
    const BN_ULONG borrow = sub_words(window, window, tmp->d, div_n + 1);
    if (kSecret) {
      // Add sdiv back under a mask; q is then one smaller.
      const BN_ULONG mask = 0 - borrow;
      for (int k = 0; k < div_n; k++) tmp->d[k] = sdiv->d[k] & mask;
      *top += add_words(window, window, tmp->d, div_n);
      q -= borrow;
    } else if (borrow != 0) {
      q--;
      if (add_words(window, window, sdiv->d, div_n) != 0) ++*top;
    }
    *resp = q;
  }
  strip(snum);
  if (rm != nullptr) {
    if (!BN_rshift(rm, snum, ns + 32)) return 0;
    rm->neg = rm->top != 0 ? num_neg : 0;
  }
  strip(res);
  return 1;
}

}  // namespace

int div(BIGNUM* dv, BIGNUM* rm, const BIGNUM* num, const BIGNUM* divisor, BN_CTX* ctx) {
  if (dv != nullptr && dv == rm) {  // two results in one record: refused
    BNerr(BN_F_BN_DIV, BN_R_INVALID_ARGUMENT);
    return 0;
  }
  if ((num->top > 0 && num->d[num->top - 1] == 0) ||
      (divisor->top > 0 && divisor->d[divisor->top - 1] == 0)) {
    BNerr(BN_F_BN_DIV, BN_R_NOT_INITIALIZED);
    return 0;
  }
  if (BN_get_flags(num, BN_FLAG_SECRET) || BN_get_flags(divisor, BN_FLAG_SECRET)) {
    if (divisor->top == 0) {
      BNerr(BN_F_BN_DIV_NO_BRANCH, BN_R_DIV_BY_ZERO);
      return 0;
    }
    return divide<true>(dv, rm, num, divisor, ctx);
  }
  if (divisor->top == 0) {
    BNerr(BN_F_BN_DIV, BN_R_DIV_BY_ZERO);
    return 0;
  }
  if (BN_ucmp(num, divisor) < 0) {
    if (rm != nullptr && BN_copy(rm, num) == nullptr) return 0;
    if (dv != nullptr) {
      dv->top = 0;
      dv->neg = 0;
    }
    return 1;
  }
  return divide<false>(dv, rm, num, divisor, ctx);
}

}  // namespace morvane::bn

/* see morvane/bn.h */
int BN_div(BIGNUM* dv, BIGNUM* rm, const BIGNUM* num, const BIGNUM* divisor, BN_CTX* ctx) {
  return morvane::bn::div(dv, rm, num, divisor, ctx);
}
