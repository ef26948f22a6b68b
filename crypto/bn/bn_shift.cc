// Shifts of BIGNUMs by one bit and by any number of bits.
//
// Implementation notes: left shifts work from the most significant word down
// and right shifts from the least significant word up, so r may be a.  A
// negative count fails before r is touched.

#include <string.h>

#include <morvane/bn.h>
#include <morvane/err.h>

#include "bn/internal.h"

namespace bn = morvane::bn;

/* see morvane/bn.h */
int BN_lshift1(BIGNUM* r, const BIGNUM* a) {
  const int n = a->top;
  if (bn::wexpand(r, n + 1) == nullptr) return 0;
  const BN_ULONG* ap = a->d;
  BN_ULONG* rp = r->d;
  BN_ULONG c = 0;
  for (int i = 0; i < n; i++) {
    const BN_ULONG t = ap[i];
    rp[i] = (t << 1) | c;
    c = t >> 31;
  }
  r->top = n;
  r->neg = a->neg;
  if (c != 0) rp[r->top++] = 1;
  return 1;
}

int BN_rshift1(BIGNUM* r, const BIGNUM* a) {
  const int n = a->top;
  if (n == 0) {
    r->top = 0;
    r->neg = 0;
    return 1;
  }
  if (bn::wexpand(r, n) == nullptr) return 0;
  const BN_ULONG* ap = a->d;
  BN_ULONG* rp = r->d;
  BN_ULONG c = 0;
  for (int i = n - 1; i >= 0; i--) {
    const BN_ULONG t = ap[i];
    rp[i] = (t >> 1) | c;
    c = t << 31;
  }
  r->top = n;
  r->neg = a->neg;
  bn::strip(r);
  return 1;
}

int BN_lshift(BIGNUM* r, const BIGNUM* a, int n) {
  if (n < 0) {
    BNerr(0, BN_R_INVALID_LENGTH);
    return 0;
  }
  const int at = a->top, nw = n / 32, lb = n % 32;
  if (at == 0) {
    r->top = 0;
    r->neg = 0;
    return 1;
  }
  if (bn::wexpand(r, at + nw + 1) == nullptr) return 0;
  const BN_ULONG* f = a->d;
  BN_ULONG* t = r->d;
  t[at + nw] = 0;
  if (lb == 0) {
    for (int i = at - 1; i >= 0; i--) t[nw + i] = f[i];
  } else {
    for (int i = at - 1; i >= 0; i--) {
      const BN_ULONG l = f[i];
      t[nw + i + 1] |= l >> (32 - lb);
      t[nw + i] = l << lb;
    }
  }
  if (nw > 0) memset(t, 0, bn::word_bytes(nw));
  r->neg = a->neg;
  r->top = at + nw + 1;
  bn::strip(r);
  return 1;
}

int BN_rshift(BIGNUM* r, const BIGNUM* a, int n) {
  if (n < 0) {
    BNerr(0, BN_R_INVALID_LENGTH);
    return 0;
  }
  const int at = a->top, nw = n / 32, rb = n % 32;
  if (nw >= at) {
    r->top = 0;
    r->neg = 0;
    return 1;
  }
  if (r == a && n == 0) return 1;
  const int j = at - nw;
  if (r != a && bn::wexpand(r, j + 1) == nullptr) return 0;
  const BN_ULONG* f = a->d + nw;
  BN_ULONG* t = r->d;
  if (rb == 0) {
    for (int i = 0; i < j; i++) t[i] = f[i];
  } else {
    BN_ULONG l = f[0];
    for (int i = 1; i < j; i++) {
      const BN_ULONG lo = l >> rb;
      l = f[i];
      t[i - 1] = lo | (l << (32 - rb));
    }
    t[j - 1] = l >> rb;
  }
  r->neg = a->neg;
  r->top = j;
  bn::strip(r);
  return 1;
}
