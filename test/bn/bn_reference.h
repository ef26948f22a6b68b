// The 32-bit word reference of the limb arithmetic: products, Montgomery
// reduction and products, and modular powers written with the exported word
// kernels (bn_mul_normal, bn_mul_add_words), the division and the shifts,
// none of which runs on limbs.  The differential test (bn_limb_test.cc) and
// the fuzz target (fuzz/bn_limb_fuzz.cc) compare the library against it.
// Each function returns 1, or 0 when an allocation fails.
#ifndef MORVANE_TEST_BN_REFERENCE_H
#define MORVANE_TEST_BN_REFERENCE_H

#include <morvane/bn.h>

#include <vector>

namespace bn_ref {

// r = the number over w (stripped) with sign neg.
inline int FromWords(BIGNUM* r, const std::vector<BN_ULONG>& w, int neg) {
  if (bn_expand2(r, static_cast<int>(w.size()) + 1) == nullptr) return 0;
  int top = static_cast<int>(w.size());
  for (int i = 0; i < top; i++) r->d[i] = w[i];
  while (top > 0 && r->d[top - 1] == 0) top--;
  r->top = top;
  r->neg = top > 0 ? neg : 0;
  return 1;
}

inline std::vector<BN_ULONG> WordsOf(const BIGNUM* a, size_t n) {
  std::vector<BN_ULONG> w(n, 0);
  for (int i = 0; i < a->top && static_cast<size_t>(i) < n; i++) w[i] = a->d[i];
  return w;
}

// r = a b, schoolbook.
inline int Mul(BIGNUM* r, const BIGNUM* a, const BIGNUM* b) {
  if (a->top == 0 || b->top == 0) return FromWords(r, {}, 0);
  std::vector<BN_ULONG> x = WordsOf(a, a->top), y = WordsOf(b, b->top), p(x.size() + y.size());
  bn_mul_normal(p.data(), x.data(), a->top, y.data(), b->top);
  return FromWords(r, p, a->neg ^ b->neg);
}

// r = a^2 with BN_sqr's length: 2 top - 1 words when the top word is below
// 2^16 (its square fits in one word), else 2 top, not stripped.
inline int Sqr(BIGNUM* r, const BIGNUM* a) {
  if (!Mul(r, a, a)) return 0;
  if (a->top == 0) return 1;
  const int top = (a->d[a->top - 1] >> 16) == 0 ? 2 * a->top - 1 : 2 * a->top;
  if (bn_expand2(r, top) == nullptr) return 0;
  for (int i = r->top; i < top; i++) r->d[i] = 0;
  r->top = top;
  r->neg = 0;
  return 1;
}

// r = a R^-1 mod N with a's sign (none for zero), R = 2^(32 n) for N of n
// words, word by word; |a| >= N R is reduced modulo N first.
inline int FromMont(BIGNUM* r, const BIGNUM* a, const BN_MONT_CTX* mont, BN_CTX* ctx) {
  const BIGNUM* n = &mont->N;
  const int nw = n->top;
  BIGNUM *nr = BN_new(), *t = BN_new();
  int ok = nr != nullptr && t != nullptr && BN_lshift(nr, n, 32 * nw) &&
           (BN_ucmp(a, nr) >= 0 ? BN_div(nullptr, t, a, n, ctx) : BN_copy(t, a) != nullptr);
  if (ok) {
    std::vector<BN_ULONG> w = WordsOf(t, 2 * static_cast<size_t>(nw) + 2);
    for (int i = 0; i < nw; i++) {
      BN_ULONG c = bn_mul_add_words(&w[i], n->d, nw, w[i] * mont->n0);
      for (size_t j = static_cast<size_t>(i + nw); c != 0; j++) {
        w[j] += c;
        c = w[j] < c;
      }
    }
    w.erase(w.begin(), w.begin() + nw);
    ok = FromWords(r, w, 0) && (BN_ucmp(r, n) < 0 || BN_usub(r, r, n));
    if (ok && r->top > 0) r->neg = t->neg;
  }
  BN_free(nr);
  BN_free(t);
  return ok;
}

// r = a b R^-1 mod N.
inline int MontMul(BIGNUM* r, const BIGNUM* a, const BIGNUM* b, const BN_MONT_CTX* mont,
                   BN_CTX* ctx) {
  BIGNUM* t = BN_new();
  const int ok = t != nullptr && Mul(t, a, b) && FromMont(r, t, mont, ctx);
  BN_free(t);
  return ok;
}

// r = a^|p| mod m for odd m by square and multiply over MontMul (0 for
// |m| = 1, where 1 is no residue).
inline int ModExp(BIGNUM* r, const BIGNUM* a, const BIGNUM* p, const BIGNUM* m, BN_CTX* ctx) {
  BN_MONT_CTX* mont = BN_MONT_CTX_new();
  BIGNUM *x = BN_new(), *acc = BN_new();
  int ok = mont != nullptr && x != nullptr && acc != nullptr && BN_MONT_CTX_set(mont, m, ctx) &&
           BN_nnmod(x, a, m, ctx) && MontMul(x, x, &mont->RR, mont, ctx) &&
           MontMul(acc, BN_value_one(), &mont->RR, mont, ctx);
  for (int j = BN_num_bits(p) - 1; ok && j >= 0; j--) {
    ok = MontMul(acc, acc, acc, mont, ctx) && (!BN_is_bit_set(p, j) || MontMul(acc, acc, x, mont, ctx));
  }
  ok = ok && FromMont(r, acc, mont, ctx);
  BN_MONT_CTX_free(mont);
  BN_free(x);
  BN_free(acc);
  return ok;
}

// r = a1^|p1| a2^|p2| mod m.
inline int ModExp2(BIGNUM* r, const BIGNUM* a1, const BIGNUM* p1, const BIGNUM* a2,
                   const BIGNUM* p2, const BIGNUM* m, BN_CTX* ctx) {
  BIGNUM *x = BN_new(), *y = BN_new();
  const int ok = x != nullptr && y != nullptr && ModExp(x, a1, p1, m, ctx) &&
                 ModExp(y, a2, p2, m, ctx) && Mul(r, x, y) && BN_div(nullptr, r, r, m, ctx);
  if (ok) r->neg = 0;
  BN_free(x);
  BN_free(y);
  return ok;
}

}  // namespace bn_ref

#endif  // MORVANE_TEST_BN_REFERENCE_H
