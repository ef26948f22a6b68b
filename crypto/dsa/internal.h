// DSA: what the sources of crypto/dsa share.
//
// Implementation notes: signing computes modulo q on fixed-width limb
// arrays (dsa_words.cc): a BIGNUM's `top` follows its value, so it would be
// secret for a secret number, while the arrays here have the public width of
// q.  Values that the signature makes public (r, s) leave that discipline
// through ct::declassify.
#ifndef MORVANE_CRYPTO_DSA_INTERNAL_H
#define MORVANE_CRYPTO_DSA_INTERNAL_H

#include <stddef.h>
#include <stdint.h>

#include <morvane/bn.h>
#include <morvane/dsa.h>

#include "internal/fixed_words.h"

// The values under which the built-in method found g and y of order q (a
// key's `group_checked`), copies of the key's own.
struct dsa_group_checked_st {
  BIGNUM* p;
  BIGNUM* q;
  BIGNUM* g;
  BIGNUM* y;
};

namespace morvane::dsa {

// The most words a DSA q may have here (q of up to 512 bits).
constexpr int kMaxQWords = 16;

// Arithmetic modulo q is on 64-bit limbs.
using Limb = uint64_t;
constexpr int kMaxQLimbs = kMaxQWords / 2;

// An odd modulus N of nw words (nl = ceil(nw / 2) limbs, at most
// kMaxQLimbs): N, n0 = -N^-1 mod 2^64 and R^2 mod N for R = 2^(64 nl).
struct Modulus {
  Limb n[kMaxQLimbs];
  Limb rr[kMaxQLimbs];
  Limb n0;
  int nl, nw;
};

// Fills m from a Montgomery context of a public modulus of at most
// kMaxQWords words; false when it is longer.
bool set_modulus(Modulus* m, const BN_MONT_CTX* mont) noexcept;

// w[0 .. nl) = a's words below its top, zeros above, reading at most
// min(nl, a->dmax) words: constant time in a->top, for a < 2^(32 nl).
using internal::load_words;
// l[0 .. ceil(nw / 2)) = w[0 .. nw), the upper half of an odd top limb zero.
void words_to_limbs(Limb* l, const BN_ULONG* w, int nw) noexcept;
// l[0 .. m.nl) = a (load_words at the width of m's limbs), for a < R.
void load_limbs(Limb* l, const BIGNUM* a, const Modulus& m) noexcept;
// r = the n words at src, reduced modulo N (any n >= 0); n is public.
void reduce(Limb* r, const BN_ULONG* src, int n, const Modulus& m) noexcept;
// r = a b R^-1 mod N for a < R and b < N; r may be a or b.
void mont_mul(Limb* r, const Limb* a, const Limb* b, const Modulus& m) noexcept;
// r = a + b mod N for a, b < N.
void add_mod(Limb* r, const Limb* a, const Limb* b, const Modulus& m) noexcept;
// r = a^-1 R mod N for a in Montgomery form (a R mod N), by Fermat's little
// theorem (N prime): a^(N-2) in Montgomery form.  The steps follow the
// public N only.
void mont_inverse(Limb* r, const Limb* a, const Modulus& m) noexcept;
// All ones when the n limbs at a and b are equal.
Limb equal_limbs(const Limb* a, const Limb* b, int n) noexcept;
// a = l (m.nw words), its word count found by masks (so it stays secret);
// 1 or 0.
int store_secret(BIGNUM* a, const Limb* l, const Modulus& m) noexcept;
// a = l (m.nw words), made public first (ct::declassify); 1 or 0.
int store_public(BIGNUM* a, const Limb* l, const Modulus& m) noexcept;

// A view of x at the width of q's words, sharing its words, marked secret
// (the exponentiation takes its constant-time form, which reads exactly the
// words below top: x's own count, found by masks, stays hidden) and
// borrowed (nothing frees or grows them through it).  x has room for q's
// words and zeros above its value, as internal::draw_below leaves it.
inline BIGNUM secret_view(const BIGNUM* x, const BIGNUM* q) noexcept {
  BIGNUM v = *x;
  v.top = q->top;
  v.flags = BN_FLAG_BORROWED | BN_FLAG_SECRET;
  return v;
}

// Frees what a key keeps of the values whose group it checked (null is
// ignored).
void group_checked_free(dsa_group_checked_st* checked);

// The key's Montgomery context of p when DSA_FLAG_MONT_P_CACHED is set (made
// once under CRYPTO_LOCK_DSA), else null; *failed when it could not be made.
BN_MONT_CTX* cached_mont(DSA* dsa, BN_CTX* ctx, bool* failed);

}  // namespace morvane::dsa

#endif  // MORVANE_CRYPTO_DSA_INTERNAL_H
