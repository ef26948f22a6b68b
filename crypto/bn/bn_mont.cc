// Montgomery arithmetic: the context of an odd modulus N, the reduction
// a R^-1 mod N and the product a b R^-1 mod N.
//
// Implementation notes: R = 2^(32 nw) for a modulus of nw words.  The
// reduction runs on 64-bit limbs (bn/limbs.h) with fixed widths and a final
// subtraction of N chosen by a mask; it needs its input below N R, so larger
// ones are reduced modulo N first.  A product of operands no longer than N
// stays on limbs from the multiplication to the reduction; where the
// processor has AVX-512 IFMA and N has 32 words or more, the product and the
// reduction are one interleaved pass in radix 2^52 (bn/limbs_ifma.cc).

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "bn/internal.h"
#include "bn/limbs.h"
#include "internal/ct.h"

namespace bn = morvane::bn;
namespace limb = morvane::bn::limb;

namespace morvane::bn {

limb::Modulus limb_modulus(const BN_MONT_CTX* mont, limb::Limb* n) noexcept {
  const int nw = mont->N.top;
  limb::load(n, mont->N.d, nw);
  return {n, nw, limb::count(nw), limb::lift_n0(n[0], mont->n0), mont->n0};
}

}  // namespace morvane::bn

namespace {

// Moduli up to this many limbs (1024 bits) keep the Montgomery products'
// scratch on the stack.
constexpr int kInlineLimbs = 16;

// Whether |a| < N R with R = 2^(32 n), n the words of N: a's words from n
// up, as a number, are below N.
bool below_nr(const BIGNUM* a, const BIGNUM* n) {
  const int nl = n->top, high = a->top - nl;
  if (high != nl) return high < nl;
  return bn_cmp_words(a->d + nl, n->d, nl) < 0;
}

// The same for a product t on limbs (2 nl of them, below R^2): its words
// from nw up against N's.
bool limbs_below_nr(const limb::Limb* t, const BN_ULONG* n, int nw) {
  for (int k = nw - 1; k >= 0; k--) {
    const int at = nw + k;
    const auto w = static_cast<BN_ULONG>(t[at / 2] >> (32 * (at & 1)));
    if (w != n[k]) return w < n[k];
  }
  return false;  // N R itself
}

// ret = t R^-1 mod N with the sign `neg` (none for zero), from t on limbs
// (2 nl of them, below N R; overwritten).
int reduced(BIGNUM* ret, limb::Limb* t, const limb::Modulus& m, int neg) {
  limb::Buffer<kInlineLimbs> res(static_cast<size_t>(m.nl));
  if (!res.ok() || bn::wexpand(ret, m.nw) == nullptr) return 0;
  limb::redc(res.get(), t, m);
  limb::store(ret->d, res.get(), m.nw);
  ret->top = m.nw;
  ret->neg = neg;
  bn::strip(ret);  // a zero result is non-negative
  return 1;
}

// Gives `to` the BN_FLAG_SECRET bit of `from` (BN_copy leaves the target's
// flags as they were).
void keep_secrecy(BIGNUM* to, const BIGNUM* from) {
  to->flags = (to->flags & ~BN_FLAG_SECRET) | BN_get_flags(from, BN_FLAG_SECRET);
}

}  // namespace

/* see morvane/bn.h */
BN_MONT_CTX* BN_MONT_CTX_new(void) {
  auto* mont = static_cast<BN_MONT_CTX*>(MORVANE_malloc(sizeof(BN_MONT_CTX)));
  if (mont == nullptr) {  // every caller that makes a context hears of it here
    BNerr(BN_F_BN_MONT_CTX_NEW, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
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
  const int nw = mont->N.top;
  if (nw == 0 || mont->ri == 0) return BN_zero(ret);
  bn::Frame frame(ctx);
  BIGNUM* t = frame.get();
  if (t == nullptr) return 0;
  const BIGNUM* src = a;
  if (!below_nr(a, &mont->N)) {  // |a| >= N R: reduce first (keeping the sign), same result
    if (!bn::div(nullptr, t, a, &mont->N, ctx)) return 0;
    src = t;
  }
  const int nl = limb::count(nw);
  limb::Buffer<4 * kInlineLimbs> buf(4 * static_cast<size_t>(nl));
  if (!buf.ok()) return 0;
  limb::Limb *n = buf.get(), *prod = n + nl;
  const limb::Modulus m = bn::limb_modulus(mont, n);
  for (int i = 0; i < 2 * nl; i++) prod[i] = 0;
  limb::load(prod, src->d, src->top);
  return reduced(ret, prod, m, src->neg);
}

int BN_mod_mul_montgomery(BIGNUM* r, const BIGNUM* a, const BIGNUM* b, BN_MONT_CTX* mont,
                          BN_CTX* ctx) {
  const int nw = mont->N.top;
  if (nw > 0 && mont->ri != 0 && a->top <= nw && b->top <= nw) {
    // Operands of at most N's words: the product on limbs, on the stack up
    // to kInlineLimbs limbs, reduced there unless it reaches N R.
    const int nl = limb::count(nw);
    limb::Buffer<6 * kInlineLimbs> buf(6 * static_cast<size_t>(nl));
    if (!buf.ok()) return 0;
    limb::Limb *n = buf.get(), *x = n + nl, *y = x + nl, *prod = y + nl;
    const limb::Modulus m = bn::limb_modulus(mont, n);
    limb::load(x, a->d, a->top);
    limb::load(y, b->d, b->top);
    for (int i = limb::count(a->top); i < nl; i++) x[i] = 0;
    for (int i = limb::count(b->top); i < nl; i++) y[i] = 0;
    // One of them below N keeps a b below N R: the radix-2^52 product where
    // the processor has it, the result reduced there.
    if (limb::mont_ifma_serves(m) && limb::mont_mul_ifma(prod, x, y, m)) {
      if (bn::wexpand(r, nw) == nullptr) return 0;
      limb::store(r->d, prod, nw);
      r->top = nw;
      r->neg = a->neg ^ b->neg;
      bn::strip(r);
      return 1;
    }
    if (a == b) {
      limb::sqr_rows(prod, x, nl);
    } else {
      limb::mul_rows(prod, x, nl, y, nl);
    }
    if (limbs_below_nr(prod, mont->N.d, nw)) return reduced(r, prod, m, a->neg ^ b->neg);
  }
  bn::Frame frame(ctx);
  BIGNUM* t = frame.get();
  if (t == nullptr) return 0;
  if (!(a == b ? bn::sqr(t, a, ctx) : bn::mul(t, a, b, ctx))) return 0;
  return BN_from_montgomery(r, t, mont, ctx);
}
