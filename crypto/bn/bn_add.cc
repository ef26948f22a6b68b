// Signed and unsigned addition and subtraction of BIGNUMs.
//
// Implementation notes: the result may be any operand.  Each unsigned form
// grows r before it reads the operands' words, so an operand that is r is
// read from its new array.

#include <string.h>

#include <morvane/bn.h>
#include <morvane/err.h>

#include "bn/internal.h"

namespace bn = morvane::bn;

namespace {

// a + b when `negate_b` is false, a - b when it is true: both signed sums
// reduce to one unsigned addition or subtraction of the magnitudes.
int signed_sum(BIGNUM* r, const BIGNUM* a, const BIGNUM* b, bool negate_b) {
  const int b_neg = negate_b ? !b->neg : b->neg;
  if (a->neg == b_neg) {
    const int neg = a->neg;
    if (!BN_uadd(r, a, b)) return 0;
    r->neg = neg;
    return 1;
  }
  // Opposite signs: x is the operand counted as non-negative, y the other.
  const BIGNUM* x = a->neg ? b : a;
  const BIGNUM* y = a->neg ? a : b;
  if (BN_ucmp(x, y) < 0) {
    if (!BN_usub(r, y, x)) return 0;
    r->neg = 1;
  } else {
    if (!BN_usub(r, x, y)) return 0;
    r->neg = 0;
  }
  return 1;
}

}  // namespace

/* see morvane/bn.h */
int BN_add(BIGNUM* r, const BIGNUM* a, const BIGNUM* b) { return signed_sum(r, a, b, false); }

int BN_sub(BIGNUM* r, const BIGNUM* a, const BIGNUM* b) { return signed_sum(r, a, b, true); }

int BN_uadd(BIGNUM* r, const BIGNUM* a, const BIGNUM* b) {
  if (a->top < b->top) {
    const BIGNUM* t = a;
    a = b;
    b = t;
  }
  const int max = a->top, min = b->top;
  if (bn::wexpand(r, max + 1) == nullptr) return 0;
  const BN_ULONG* ap = a->d;
  BN_ULONG* rp = r->d;
  BN_ULONG carry = bn::add_words(rp, ap, b->d, min);
  int i = min;
  for (; carry != 0 && i < max; i++) {
    const BN_ULONG t = ap[i] + 1;
    rp[i] = t;
    carry = t == 0;
  }
  if (rp != ap && i < max) memcpy(rp + i, ap + i, bn::word_bytes(max - i));
  r->top = max;
  if (carry != 0) rp[r->top++] = 1;
  r->neg = 0;
  return 1;
}

int BN_usub(BIGNUM* r, const BIGNUM* a, const BIGNUM* b) {
  const int max = a->top, min = b->top;
  if (max < min) {
    BNerr(BN_F_BN_USUB, BN_R_ARG2_LT_ARG3);
    return 0;
  }
  if (bn::wexpand(r, max) == nullptr) return 0;
  const BN_ULONG* ap = a->d;
  BN_ULONG* rp = r->d;
  BN_ULONG borrow = bn::sub_words(rp, ap, b->d, min);
  int i = min;
  for (; borrow != 0 && i < max; i++) {
    const BN_ULONG t = ap[i];
    rp[i] = t - 1;
    borrow = t == 0;
  }
  if (borrow != 0) return 0;  // |a| < |b|: no result
  if (rp != ap && i < max) memcpy(rp + i, ap + i, bn::word_bytes(max - i));
  r->top = max;
  r->neg = 0;
  bn::strip(r);
  return 1;
}
