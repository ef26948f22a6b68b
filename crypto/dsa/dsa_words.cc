// Fixed-width arithmetic modulo q for signing: Montgomery products and
// reduction, modular addition, reduction of any word string, the inverse by
// Fermat's little theorem, and the public store of a word array,
// with no branch and no address that depends on the values (only on the
// public word counts and the public modulus).
//
// Implementation notes: the scratch words of the products are cleared with
// the cheap wipe of hot paths (internal::wipe_scratch).  The Montgomery reduction is the shared
// one of internal/fixed_words.h; a long string is
// reduced from its top in chunks of nl words, each chunk entering as c R^-1
// and the running value multiplied by R before it, so that one final
// product by R^2 undoes the factor R^-1 that the whole string carries.

#include <morvane/bn.h>

#include "dsa/internal.h"
#include "internal/ct.h"
#include "internal/wipe.h"

namespace morvane::dsa {

bool set_modulus(Modulus* m, const BN_MONT_CTX* mont) noexcept {
  const int nl = mont->N.top;
  if (nl < 1 || nl > kMaxQWords || mont->RR.top > nl) return false;
  for (int i = 0; i < nl; i++) {
    m->n[i] = mont->N.d[i];
    m->rr[i] = i < mont->RR.top ? mont->RR.d[i] : 0;
  }
  m->n0 = mont->n0;
  m->nl = nl;
  return true;
}

void mont_mul(BN_ULONG* r, const BN_ULONG* a, const BN_ULONG* b, const Modulus& m) noexcept {
  const int nl = m.nl;
  BN_ULONG t[2 * kMaxQWords];
  for (int i = 0; i < 2 * nl; i++) t[i] = 0;
  for (int i = 0; i < nl; i++) t[i + nl] = bn_mul_add_words(t + i, a, nl, b[i]);
  internal::redc_words(r, t, m.n, m.n0, m.nl);
  internal::wipe_scratch(t, sizeof(BN_ULONG) * static_cast<size_t>(2 * nl));
}

void add_mod(BN_ULONG* r, const BN_ULONG* a, const BN_ULONG* b, const Modulus& m) noexcept {
  BN_ULONG s[kMaxQWords], d[kMaxQWords];
  const BN_ULONG carry = bn_add_words(s, a, b, m.nl);
  const BN_ULONG borrow = bn_sub_words(d, s, m.n, m.nl);
  const BN_ULONG keep = ct::bit_mask(borrow & ~carry & 1);  // the sum is below N
  for (int i = 0; i < m.nl; i++) r[i] = ct::select(keep, s[i], d[i]);
  internal::wipe_scratch(s, sizeof s);
  internal::wipe_scratch(d, sizeof d);
}

void reduce(BN_ULONG* r, const BN_ULONG* src, int n, const Modulus& m) noexcept {
  const int nl = m.nl;
  BN_ULONG acc[kMaxQWords] = {}, c[kMaxQWords], t[2 * kMaxQWords];
  for (int j = (n + nl - 1) / nl - 1; j >= 0; j--) {
    for (int i = 0; i < 2 * nl; i++) t[i] = i < nl && j * nl + i < n ? src[j * nl + i] : 0;
    internal::redc_words(c, t, m.n, m.n0, m.nl);  // the chunk times R^-1
    mont_mul(acc, acc, m.rr, m);
    add_mod(acc, acc, c, m);
  }
  mont_mul(r, acc, m.rr, m);
  internal::wipe(acc);
  internal::wipe(c);
  internal::wipe(t);
}

void mont_inverse(BN_ULONG* r, const BN_ULONG* a, const Modulus& m) noexcept {
  const int nl = m.nl;
  BN_ULONG e[kMaxQWords], two[kMaxQWords] = {2}, one[kMaxQWords] = {1}, acc[kMaxQWords];
  bn_sub_words(e, m.n, two, nl);  // N - 2, a public exponent
  mont_mul(acc, m.rr, one, m);    // R mod N: one in Montgomery form
  for (int bit = 32 * nl - 1; bit >= 0; bit--) {
    mont_mul(acc, acc, acc, m);
    if ((e[bit / 32] >> (bit % 32)) & 1) mont_mul(acc, acc, a, m);
  }
  for (int i = 0; i < nl; i++) r[i] = acc[i];
  internal::wipe(acc);
}

BN_ULONG equal_words(const BN_ULONG* a, const BN_ULONG* b, int n) noexcept {
  BN_ULONG diff = 0;
  for (int i = 0; i < n; i++) diff |= a[i] ^ b[i];
  return ct::zero_mask(diff);
}

int store_public(BIGNUM* a, const BN_ULONG* w, int nl) noexcept {
  if (a->dmax < nl && bn_expand2(a, nl) == nullptr) return 0;
  int top = 0;
  for (int i = 0; i < nl; i++) {
    a->d[i] = ct::declassify(w[i]);
    if (a->d[i] != 0) top = i + 1;
  }
  a->top = top;
  a->neg = 0;
  return 1;
}

}  // namespace morvane::dsa
