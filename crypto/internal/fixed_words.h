// Fixed-width word arithmetic shared by the private-key operations (RSA's
// CRT exponentiations and blinding, DSA's arithmetic modulo q): moving
// numbers between BIGNUMs and word arrays of a public length, the Montgomery
// reduction, the draw of a secret below a public bound and the blinding
// modulo an odd modulus, with no branch and no address that depends on the
// values.
#ifndef MORVANE_INTERNAL_FIXED_WORDS_H
#define MORVANE_INTERNAL_FIXED_WORDS_H

#include <morvane/bn.h>

#include "internal/ct.h"

namespace morvane::internal {

// w[0 .. nl) from a (zero words above its top); reads only below a->dmax,
// which is public.
inline void load_words(BN_ULONG* w, int nl, const BIGNUM* a) noexcept {
  const unsigned top = static_cast<unsigned>(a->top);
  for (int i = 0; i < nl; i++) {
    const BN_ULONG v = i < a->dmax ? a->d[i] : 0;
    w[i] = v & ct::lt_mask(static_cast<unsigned>(i), top);
  }
}

// a = w[0 .. nl), non-negative, its top found by masks (a secret value's
// length stays hidden); 0 when a cannot grow to nl words.
inline int store_words(BIGNUM* a, const BN_ULONG* w, int nl) noexcept {
  if (a->dmax < nl && bn_expand2(a, nl) == nullptr) return 0;
  unsigned used = 0;
  for (int i = 0; i < nl; i++) {
    a->d[i] = w[i];
    used = ct::select(ct::zero_mask<BN_ULONG>(w[i]), used, static_cast<unsigned>(i + 1));
  }
  a->top = static_cast<int>(used);
  a->neg = 0;
  return 1;
}

// dest = src, sign and word count included, without looking at the count:
// every word src has room for (dmax, public) is copied, masked by whether it
// lies below the count, and dest's words above src's room are zeroed.  So a
// secret whose count was found by masks (store_words) keeps it hidden, where
// BN_copy would size and copy by it.  dest's old words are cleared before it
// grows; 0 when it cannot.
inline int copy_words(BIGNUM* dest, const BIGNUM* src) noexcept {
  if (dest == src) return 1;
  if (dest->dmax < src->dmax) {
    BN_clear(dest);
    if (bn_expand2(dest, src->dmax) == nullptr) return 0;
  }
  load_words(dest->d, dest->dmax, src);
  dest->top = src->top;
  dest->neg = src->neg;
  return 1;
}

// Whether a is non-negative and below 2^(32 nw), judged by masks over every
// word it has room for (its count may be secret); only the verdict is made
// public (ct::declassify).
inline bool fits_words(const BIGNUM* a, int nw) noexcept {
  const unsigned top = static_cast<unsigned>(a->top);
  BN_ULONG above = 0;
  for (int i = nw; i < a->dmax; i++) above |= a->d[i] & ct::lt_mask(static_cast<unsigned>(i), top);
  return a->neg == 0 && ct::declassify(ct::zero_mask(above)) != 0;
}

// r = t R^-1 mod n for t[0 .. 2 nl) < n R, with n0 = -n^-1 mod the word
// base; t is overwritten and r must not overlap its upper half.  The carry
// is kept in a word and the one subtraction of n is chosen by a mask.
inline void redc_words(BN_ULONG* r, BN_ULONG* t, const BN_ULONG* n, BN_ULONG n0,
                       int nl) noexcept {
  BN_ULONG carry = 0;
  for (int i = 0; i < nl; i++) {
    const BN_ULONG v = bn_mul_add_words(t + i, n, nl, t[i] * n0);
    const BN_ULONG s = t[i + nl] + v;
    const BN_ULONG s2 = s + carry;
    carry = (ct::lt_mask(s, v) | ct::lt_mask(s2, carry)) & 1;
    t[i + nl] = s2;
  }
  // The upper half with its carry is below 2n: keep it when it is below n.
  const BN_ULONG borrow = bn_sub_words(r, t + nl, n, nl);
  const BN_ULONG keep = ct::bit_mask(borrow & ~carry & 1);
  for (int i = 0; i < nl; i++) r[i] = ct::select(keep, t[nl + i], r[i]);
}

// ---- defined in crypto/bn ---------------------------------------------------

// Draws k uniformly in [1, range) for a public range > 1, at the range's
// fixed width (bn_rand.cc): bits(range) bits of RAND_bytes, big-endian as
// BN_rand_range reads them, compared with the range by masks, and drawn
// again until one lies in [1, range); only whether a draw is taken is made
// public, so the generator's bytes may be secret from the first.  k has room
// for the range's words (zeros above them) and its own count found by masks.
// 1, or 0 with a big-number error queued (invalid range, too many
// iterations, no memory) or the generator's own.
int draw_below(BIGNUM* k, const BIGNUM* range) noexcept;

// The blinding of a private operation (bn_blind.cc), as BN_BLINDING_convert_ex
// and BN_BLINDING_update, with mont the Montgomery context of b's modulus
// when the caller holds one (else null: b's own or one made for the call).
// Modulo an odd modulus the pair is made, applied and advanced at the
// modulus's fixed width, constant time in the pair and in n.
int blinding_convert(BIGNUM* n, BIGNUM* r, BN_BLINDING* b, const BN_MONT_CTX* mont, BN_CTX* ctx);
int blinding_update(BN_BLINDING* b, const BN_MONT_CTX* mont, BN_CTX* ctx);
// One private operation's use of b: n = n A mod N and r = a copy of Ai, then
// b advanced at once (blinding_update), so that no later use applies this
// pair.  A pair drawn by another process (a forked child holds its parent's)
// is drawn afresh first, when b has e and may draw.  1, or 0 with the reason
// queued.
int blinding_use(BIGNUM* n, BIGNUM* r, BN_BLINDING* b, const BN_MONT_CTX* mont, BN_CTX* ctx);

}  // namespace morvane::internal

#endif
