// The private exponentiation by the Chinese Remainder Theorem at one fixed
// width, and the public exponentiation, on the 64-bit limbs of bn/limbs.h.
//
// Implementation notes: both primes are taken at one width, the longer
// one's rounded up to whole limbs (L limbs, R = 2^(64 L)), whatever their own
// word counts, so that a key whose primes differ in length (as the built-in
// generator makes them for every size of 64k + 1 bits, or as an imported key
// may have them) takes the same steps as any other: no branch and no address
// depends on the values, only on the word counts of p, q, n and the
// exponents.  The Montgomery contexts give R^2 mod p for p's own word count;
// doublings carry it to the common width.  With c < n < p R, one reduction
// c R^-1 mod p and a product by R^2 give c mod p; the CRT numbers need only
// fit the width (a Montgomery product of h < p and iqmp < R is below p).  The check
// of the result (RFC 8017, 5.1.2, note) raises it to e by the public ladder,
// which follows e's bits only; check_result does the same for a result
// made elsewhere (the direct exponentiation, another method's rsa_mod_exp),
// on limbs of n's width.  The public operations take the radix-2^52
// products of AVX-512 IFMA where the processor has them (their base is
// public too), else the same ladder.

#include <stdint.h>
#include <string.h>

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/rsa.h>

#include "bn/limbs.h"
#include "internal/ct.h"
#include "internal/wipe.h"
#include "rsa/internal.h"

namespace morvane::rsa {

namespace {

namespace limb = bn::limb;
using limb::Limb;

// A prime at the common width: its modulus and R^2 mod p.
struct Prime {
  limb::Modulus m;
  const Limb* rr;
};

// The prime of `mont` at L limbs: N and R^2 loaded into n and rr (L limbs
// each), R^2 carried from the context's width by doublings (t: L limbs).
Prime at_width(const BN_MONT_CTX* mont, int L, Limb* n, Limb* rr, Limb* t) {
  limb::load_masked(n, L, &mont->N);
  const limb::Modulus m{n, 2 * L, L, limb::lift_n0(n[0], mont->n0), mont->n0};
  limb::load_masked(rr, L, &mont->RR);
  limb::shl_mod(rr, 2 * BN_BITS2 * (2 * L - mont->N.top), m, t);
  return Prime{m, rr};
}

// r = x mod p for x < p R (2 L limbs, t: 2 L limbs): x R^-1, then times R^2.
void reduce(Limb* r, const Limb* x, const Prime& p, Limb* t) {
  const int L = p.m.nl;
  for (int i = 0; i < 2 * L; i++) t[i] = x[i];
  limb::redc(r, t, p.m);
  limb::mont_mul(r, r, p.rr, p.m, t);
}

// Adds c (L limbs) at r[0] and carries through r[0 .. 2 L), by masks.
void add_low(Limb* r, const Limb* c, int L) {
  Limb carry = limb::add_n(r, r, c, L);
  for (int i = L; i < 2 * L; i++) {
    r[i] += carry;
    carry = ct::lt_mask(r[i], carry) & 1;
  }
}

}  // namespace

bool crt_fits(const RSA* rsa, const BIGNUM* I, const BN_MONT_CTX* mp, const BN_MONT_CTX* mq) {
  const int L = limb::count(rsa->p->top > rsa->q->top ? rsa->p->top : rsa->q->top);
  return rsa->p->top > 0 && rsa->q->top > 0 && BN_is_odd(rsa->p) && BN_is_odd(rsa->q) &&
         mp->N.top <= 2 * L && mq->N.top <= 2 * L && rsa->n->top <= 4 * L &&
         rsa->iqmp->top <= 2 * L && internal::fits_words(I, rsa->n->top);
}

int crt_fixed(BIGNUM* r0, const BIGNUM* I, RSA* rsa, BN_CTX* ctx, const BN_MONT_CTX* mp_ctx,
              const BN_MONT_CTX* mq_ctx, BN_MONT_CTX* mn_cached, bool* good_out) {
  const int L = limb::count(rsa->p->top > rsa->q->top ? rsa->p->top : rsa->q->top);
  const int nl = limb::count(rsa->n->top);
  const int ew = rsa->dmp1->top > rsa->dmq1->top ? rsa->dmp1->top : rsa->dmq1->top;
  // p and q (N and R^2 each), x (2 L), t (2 L), a, the two halves, h,
  // iqmp, the product (2 L); n, its R^2, the check's power, the input and
  // the ladder's scratch (3 nl); then the exponentiation's scratch.
  const size_t limbs = 15 * static_cast<size_t>(L) + 7 * static_cast<size_t>(nl);
  const size_t exp_bytes = limb::exp_consttime_bytes(2 * L, ew);
  limb::Buffer<1> buf(limbs + (exp_bytes + sizeof(Limb) - 1) / sizeof(Limb));
  if (!buf.ok()) return 0;
  Limb* w = buf.get();
  auto take = [&w](int n) {
    Limb* r = w;
    w += n;
    return r;
  };
  Limb *np = take(L), *rrp = take(L), *nq = take(L), *rrq = take(L), *x = take(2 * L),
       *t = take(2 * L), *a = take(L), *m1 = take(L), *r0p = take(L), *h = take(L), *iq = take(L),
       *prod = take(2 * L);
  Limb *nn = take(nl), *rrn = take(nl), *v = take(nl), *in = take(nl), *lt = take(3 * nl);
  void* exp_scratch = take(0);
  const Prime p = at_width(mp_ctx, L, np, rrp, t), q = at_width(mq_ctx, L, nq, rrq, t);
  limb::load_masked(x, 2 * L, I);
  // m1 = c^dmq1 mod q, r0p = c^dmp1 mod p.
  reduce(a, x, q, t);
  limb::exp_consttime(m1, a, rsa->dmq1->d, rsa->dmq1->top, q.m, q.rr, exp_scratch);
  reduce(a, x, p, t);
  limb::exp_consttime(r0p, a, rsa->dmp1->d, rsa->dmp1->top, p.m, p.rr, exp_scratch);
  // h = (r0p - m1) iqmp mod p, then the result m1 + h q < n.
  for (int i = 0; i < 2 * L; i++) x[i] = i < L ? m1[i] : 0;
  reduce(h, x, p, t);
  limb::sub_mod(h, r0p, h, p.m);
  limb::load_masked(iq, L, rsa->iqmp);
  limb::mont_mul(h, h, iq, p.m, t);  // h iqmp R^-1 < p: iqmp < R is enough
  limb::mont_mul(h, h, p.rr, p.m, t);
  limb::mul_rows(prod, h, L, nq, L);
  add_low(prod, m1, L);
  Limb* out = prod;  // its nl limbs; the rest must be zero
  *good_out = true;
  if (rsa->e != nullptr) {
    // The check: out < n and out^e = c (mod n).
    MontFor mn(mn_cached, rsa->n, ctx);
    if (mn.get() == nullptr) return 0;
    const limb::Modulus m = bn::limb_modulus(mn.get(), nn);
    for (int i = 0; i < nl; i++) rrn[i] = 0;
    limb::load(rrn, mn.get()->RR.d, mn.get()->RR.top);
    limb::exp_public(v, out, rsa->e->d, rsa->e->top, m, rrn, lt);
    limb::load_masked(in, nl, I);
    Limb good = limb::lt_mask_n(out, nn, nl);
    for (int i = nl; i < 2 * L; i++) good &= ct::zero_mask(out[i]);
    for (int i = 0; i < nl; i++) good &= ct::eq_mask(v[i], in[i]);
    *good_out = reveal(good) != 0;
  }
  return limb::store_masked(r0, out, nl);
}

int direct_fixed(BIGNUM* r0, const BIGNUM* I, RSA* rsa, BN_CTX* ctx, BN_MONT_CTX* mn_cached) {
  MontFor mn(mn_cached, rsa->n, ctx);
  if (mn.get() == nullptr) return 0;
  const int L = limb::count(rsa->n->top), dw = rsa->d->top;
  // n, R^2, the input, the result and t (2 L); then the exponentiation's
  // scratch.
  const size_t exp_bytes = limb::exp_consttime_bytes(2 * L, dw);
  limb::Buffer<1> buf(6 * static_cast<size_t>(L) + (exp_bytes + sizeof(Limb) - 1) / sizeof(Limb));
  if (!buf.ok()) return 0;
  Limb *nn = buf.get(), *rr = nn + L, *x = rr + L, *res = x + L, *t = res + L;
  const Prime n = at_width(mn.get(), L, nn, rr, t);
  limb::load_masked(x, L, I);
  limb::exp_consttime(res, x, rsa->d->d, dw, n.m, n.rr, t + 2 * L);
  return limb::store_masked(r0, res, L);
}

int check_result(const BIGNUM* r, const BIGNUM* I, RSA* rsa, BN_CTX* ctx, BN_MONT_CTX* mn_cached) {
  const BIGNUM *n = rsa->n, *e = rsa->e;
  const int nw = n->top;
  if (!internal::fits_words(r, nw) || !internal::fits_words(I, nw)) return 0;
  if (!BN_is_odd(n)) {  // no Montgomery form: on numbers
    BN_CTX_start(ctx);
    BIGNUM* v = BN_CTX_get(ctx);
    int ret = v != nullptr && BN_mod_exp(v, r, e, n, ctx) ? 1 : -1;
    if (ret == 1) ret = BN_ucmp(r, n) < 0 && BN_cmp(v, I) == 0;
    BN_CTX_end(ctx);
    return ret;
  }
  MontFor mn(mn_cached, n, ctx);
  const int nl = limb::count(nw);
  // n, R^2, r, I, the power and the ladder's scratch (3 nl): on the stack
  // up to 4096 bits.
  limb::Buffer<8 * 64> buf(8 * static_cast<size_t>(nl));
  if (mn.get() == nullptr || !buf.ok()) return -1;
  Limb *nn = buf.get(), *rr = nn + nl, *x = rr + nl, *in = x + nl, *v = in + nl, *t = v + nl;
  const limb::Modulus m = bn::limb_modulus(mn.get(), nn);
  for (int i = 0; i < nl; i++) rr[i] = 0;
  limb::load(rr, mn.get()->RR.d, mn.get()->RR.top);
  limb::load_masked(x, nl, r);
  limb::load_masked(in, nl, I);
  limb::exp_public(v, x, e->d, e->top, m, rr, t);
  Limb good = limb::lt_mask_n(x, nn, nl);
  for (int i = 0; i < nl; i++) good &= ct::eq_mask(v[i], in[i]);
  return reveal(good) ? 1 : 0;
}

int public_exp(unsigned char* to, int num, const unsigned char* from, int flen, RSA* rsa, bool x931,
               int fn) {
  const BIGNUM* e = rsa->e;
  if (rsa->meth->bn_mod_exp != BN_mod_exp_mont || !(rsa->flags & RSA_FLAG_CACHE_PUBLIC) ||
      e->top != 1 || e->neg || !BN_is_odd(rsa->n)) {
    return -1;
  }
  CRYPTO_r_lock(CRYPTO_LOCK_RSA);
  const BN_MONT_CTX* mont = rsa->_method_mod_n;
  CRYPTO_r_unlock(CRYPTO_LOCK_RSA);
  if (mont == nullptr) return -1;  // made by the first operation on numbers
  const int nl = limb::count(rsa->n->top);
  // n, R^2, the input, the result and the ladder's scratch (3 nl): on the
  // stack up to 4096 bits.
  limb::Buffer<7 * 64> buf(7 * static_cast<size_t>(nl));
  if (!buf.ok()) return 0;
  Limb *n = buf.get(), *rr = n + nl, *f = rr + nl, *r = f + nl, *t = r + nl;
  const limb::Modulus m = bn::limb_modulus(mont, n);
  for (int i = 0; i < nl; i++) rr[i] = f[i] = 0;
  limb::load(rr, mont->RR.d, mont->RR.top);
  for (int k = 0; k < flen; k++)  // big-endian bytes, k from the end
    f[k / 8] |= static_cast<Limb>(from[flen - 1 - k]) << (8 * (k % 8));
  if (!limb::lt_mask_n(f, n, nl)) {
    RSAerr(fn, RSA_R_DATA_TOO_LARGE_FOR_MODULUS);
    return 0;
  }
  if (!limb::exp_public_ifma(r, f, e->d, 1, m, rr)) limb::exp_public(r, f, e->d, 1, m, rr, t);
  // X9.31: the signature may be n - s; the representative ends in 0xC.
  if (x931 && (r[0] & 0xF) != 12) limb::sub_n(r, n, r, nl);
  for (int k = 0; k < num; k++)
    to[num - 1 - k] = static_cast<unsigned char>(r[k / 8] >> (8 * (k % 8)));
  return 1;
}

}  // namespace morvane::rsa
