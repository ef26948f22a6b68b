// Squaring: the schoolbook and Karatsuba vector squares and BN_sqr's choice
// of method by length.
//
// Implementation notes: the schoolbook square forms each cross product once
// (the triangle above the diagonal), doubles the vector and adds the diagonal
// squares.  The recursive square uses a^2 = hh B^2 + (ll + hh - d^2) B + ll
// with d = |a_low - a_high|, so its middle term is never negative.

#include <morvane/bn.h>

#include "bn/internal.h"
#include "internal/wipe.h"

namespace morvane::bn {

void sqr_normal(BN_ULONG* r, const BN_ULONG* a, int n, BN_ULONG* tmp) noexcept {
  if (n <= 0) return;
  const int max = 2 * n;
  r[0] = r[max - 1] = 0;
  if (n > 1) r[n] = mul_words(r + 1, a + 1, n - 1, a[0]);
  for (int i = 1; i <= n - 2; i++)
    r[n + i] = mul_add_words(r + 2 * i + 1, a + i + 1, n - 1 - i, a[i]);
  add_words(r, r, r, max);
  sqr_words(tmp, a, n);
  add_words(r, r, tmp, max);
}

void sqr_recursive(BN_ULONG* r, const BN_ULONG* a, int n2, BN_ULONG* t) noexcept {
  if (n2 == 4) {
    sqr_comba4(r, a);
    return;
  }
  if (n2 == 8) {
    sqr_comba8(r, a);
    return;
  }
  if (n2 < 16) {
    sqr_normal(r, a, n2, t);
    return;
  }
  const int n = n2 / 2;
  const int c1 = bn_cmp_words(a, a + n, n);
  BN_ULONG* p = t + 2 * n2;
  if (c1 == 0) {
    zero_words(t + n2, n2);
  } else {
    if (c1 > 0) {
      sub_words(t, a, a + n, n);
    } else {
      sub_words(t, a + n, a, n);
    }
    sqr_recursive(t + n2, t, n, p);
  }
  sqr_recursive(r, a, n, p);
  sqr_recursive(r + n2, a + n, n, p);
  int c = static_cast<int>(add_words(t, r, r + n2, n2));
  c -= static_cast<int>(sub_words(t + n2, t, t + n2, n2));
  c += static_cast<int>(add_words(r + n, r + n, t + n2, n2));
  if (c != 0) ripple_carry(r + n + n2, static_cast<BN_ULONG>(c));
}

int sqr(BIGNUM* r, const BIGNUM* a, BN_CTX* ctx) {
  const int al = a->top;
  if (al == 0) {
    r->top = 0;
    r->neg = 0;
    return 1;
  }
  Frame frame(ctx);
  BIGNUM* rr = a != r ? r : frame.get();
  BIGNUM* tmp = frame.get();
  if (rr == nullptr || tmp == nullptr) return 0;
  const int max = 2 * al;
  if (wexpand(rr, max) == nullptr) return 0;
  if (al == 4) {
    sqr_comba4(rr->d, a->d);
  } else if (al == 8) {
    sqr_comba8(rr->d, a->d);
  } else if (al < 16) {
    BN_ULONG t[32];
    internal::Wiper wipe_t(t);
    sqr_normal(rr->d, a->d, al, t);
  } else if ((al & (al - 1)) == 0) {
    if (wexpand(tmp, 4 * al) == nullptr) return 0;
    sqr_recursive(rr->d, a->d, al, tmp->d);
  } else {
    if (wexpand(tmp, max) == nullptr) return 0;
    sqr_normal(rr->d, a->d, al, tmp->d);
  }
  rr->neg = 0;
  // The top word's square fits in one word when it is below 2^16.
  rr->top = (a->d[al - 1] & 0xFFFF0000U) == 0 ? max - 1 : max;
  return rr == r || BN_copy(r, rr) != nullptr ? 1 : 0;
}

}  // namespace morvane::bn

namespace bn = morvane::bn;

/* see morvane/bn.h */
int BN_sqr(BIGNUM* r, const BIGNUM* a, BN_CTX* ctx) {
  return bn::sqr(r, a, ctx);
}

void bn_sqr_normal(BN_ULONG* r, const BN_ULONG* a, int n, BN_ULONG* tmp) {
  bn::sqr_normal(r, a, n, tmp);
}

void bn_sqr_recursive(BN_ULONG* r, const BN_ULONG* a, int n2, BN_ULONG* t) {
  bn::sqr_recursive(r, a, n2, t);
}
