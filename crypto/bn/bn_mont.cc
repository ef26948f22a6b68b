// Montgomery arithmetic: the context of an odd modulus N, the reduction
// a R^-1 mod N and the product a b R^-1 mod N.
//
// Implementation notes: R = 2^(32 nl) for a modulus of nl words, so the
// reduction works on fixed widths: nl rounds of t += (t[i] n0) N shifted by i
// words, with the carry kept in a word rather than rippled, then one
// subtraction of N chosen by a mask.  The constant-time exponentiation runs
// on the same routine.

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "bn/internal.h"
#include "internal/ct.h"

namespace bn = morvane::bn;

namespace morvane::bn {

void redc_words(BN_ULONG* ret, BN_ULONG* t, const BN_ULONG* n, int nl, BN_ULONG n0) noexcept {
  BN_ULONG carry = 0;
  for (int i = 0; i < nl; i++) {
    const BN_ULONG v = mul_add_words(t + i, n, nl, t[i] * n0);
    const BN_ULONG s = t[i + nl] + v;
    const BN_ULONG c1 = s < v;
    const BN_ULONG s2 = s + carry;
    const BN_ULONG c2 = s2 < carry;
    t[i + nl] = s2;
    carry = c1 | c2;
  }
  // The upper half plus carry is below 2N: subtract N when it is not below N.
  const BN_ULONG borrow = sub_words(ret, t + nl, n, nl);
  const BN_ULONG keep = ct::eq_mask<BN_ULONG>(borrow & ~carry, 1);  // upper < N
  for (int i = 0; i < nl; i++) ret[i] = ct::select(keep, t[nl + i], ret[i]);
}

}  // namespace morvane::bn

namespace {

// Whether |a| < N R with R = 2^(32 n), n the words of N: a's words from n
// up, as a number, are below N.
bool below_nr(const BIGNUM* a, const BIGNUM* n) {
  const int nl = n->top, high = a->top - nl;
  if (high != nl) return high < nl;
  return bn_cmp_words(a->d + nl, n->d, nl) < 0;
}

// Gives `to` the BN_FLAG_SECRET bit of `from` (BN_copy keeps the flags).
void keep_secrecy(BIGNUM* to, const BIGNUM* from) {
  to->flags = (to->flags & ~BN_FLAG_SECRET) | BN_get_flags(from, BN_FLAG_SECRET);
}

}  // namespace

/* see morvane/bn.h */
BN_MONT_CTX* BN_MONT_CTX_new(void) {
  auto* mont = static_cast<BN_MONT_CTX*>(MORVANE_malloc(sizeof(BN_MONT_CTX)));
  if (mont == nullptr) return nullptr;
  BN_MONT_CTX_init(mont);
  mont->flags = BN_FLAG_HEAP;
  return mont;
}

void BN_MONT_CTX_init(BN_MONT_CTX* ctx) {
  ctx->ri = 0;
  BN_init(&ctx->RR);
  BN_init(&ctx->N);
  BN_init(&ctx->Ni);
  ctx->n0 = 0;
  ctx->flags = 0;
}

void BN_MONT_CTX_free(BN_MONT_CTX* mont) {
  if (mont == nullptr) return;
  BN_free(&mont->RR);
  BN_free(&mont->N);
  BN_free(&mont->Ni);
  if (mont->flags & BN_FLAG_HEAP) MORVANE_free(mont);
}

int BN_MONT_CTX_set(BN_MONT_CTX* mont, const BIGNUM* mod, BN_CTX* ctx) {
  if (BN_is_zero(mod)) {
    BNerr(BN_F_BN_DIV, BN_R_DIV_BY_ZERO);
    return 0;
  }
  if (!BN_is_odd(mod)) {  // no inverse of 2^32 modulo an even low word
    BNerr(BN_F_BN_MOD_INVERSE, BN_R_NO_INVERSE);
    return 0;
  }
  if (BN_copy(&mont->N, mod) == nullptr) return 0;
  mont->N.neg = 0;
  // N and RR are as secret as the modulus: the division that makes RR, and
  // every later one by N, then takes the no-branch form.
  keep_secrecy(&mont->N, mod);
  keep_secrecy(&mont->RR, mod);
  mont->ri = mod->top * BN_BITS2;
  // Newton's iteration: x = x (2 - d x) doubles the correct low bits.
  const BN_ULONG d = mod->d[0];
  BN_ULONG x = d;  // right to 3 bits for odd d
  for (int i = 0; i < 4; i++) x *= 2 - d * x;
  mont->n0 = 0u - x;
  bn::Frame frame(ctx);
  BIGNUM* t = frame.get();
  return t != nullptr && BN_set_bit(t, 2 * mont->ri) && bn::div(nullptr, &mont->RR, t, &mont->N, ctx);
}

BN_MONT_CTX* BN_MONT_CTX_copy(BN_MONT_CTX* to, BN_MONT_CTX* from) {
  if (to == from) return to;
  if (BN_copy(&to->RR, &from->RR) == nullptr || BN_copy(&to->N, &from->N) == nullptr ||
      BN_copy(&to->Ni, &from->Ni) == nullptr)
    return nullptr;
  keep_secrecy(&to->N, &from->N);
  keep_secrecy(&to->RR, &from->RR);
  to->ri = from->ri;
  to->n0 = from->n0;
  return to;
}

BN_MONT_CTX* BN_MONT_CTX_set_locked(BN_MONT_CTX** pmont, int lock, const BIGNUM* mod,
                                    BN_CTX* ctx) {
  CRYPTO_r_lock(lock);
  BN_MONT_CTX* ret = *pmont;
  CRYPTO_r_unlock(lock);
  if (ret != nullptr) return ret;
  CRYPTO_w_lock(lock);
  if (*pmont == nullptr) {
    BN_MONT_CTX* mont = BN_MONT_CTX_new();
    if (mont != nullptr && !BN_MONT_CTX_set(mont, mod, ctx)) {
      BN_MONT_CTX_free(mont);
    } else {
      *pmont = mont;
    }
  }
  ret = *pmont;
  CRYPTO_w_unlock(lock);
  return ret;
}

int BN_from_montgomery(BIGNUM* ret, const BIGNUM* a, BN_MONT_CTX* mont, BN_CTX* ctx) {
  const int nl = mont->N.top;
  if (nl == 0 || mont->ri == 0) return BN_zero(ret);
  bn::Frame frame(ctx);
  BIGNUM *t = frame.get(), *r = frame.get();
  if (r == nullptr) return 0;
  const BIGNUM* src = a;
  if (!below_nr(a, &mont->N)) {  // |a| >= N R: reduce first (keeping the sign), same result
    if (!bn::div(nullptr, t, a, &mont->N, ctx)) return 0;
    src = t;
  }
  if (bn::wexpand(r, 2 * nl + 1) == nullptr || bn::wexpand(ret, nl) == nullptr) return 0;
  for (int i = 0; i < 2 * nl + 1; i++) r->d[i] = i < src->top ? src->d[i] : 0;
  bn::redc_words(ret->d, r->d, mont->N.d, nl, mont->n0);
  ret->top = nl;
  ret->neg = src->neg;
  bn::strip(ret);  // a zero result is non-negative
  return 1;
}

int BN_mod_mul_montgomery(BIGNUM* r, const BIGNUM* a, const BIGNUM* b, BN_MONT_CTX* mont,
                          BN_CTX* ctx) {
  bn::Frame frame(ctx);
  BIGNUM* t = frame.get();
  if (t == nullptr) return 0;
  if (!(a == b ? bn::sqr(t, a, ctx) : bn::mul(t, a, b, ctx))) return 0;
  return BN_from_montgomery(r, t, mont, ctx);
}
