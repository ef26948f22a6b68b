// Modular exponentiation: the dispatcher, sliding windows over Montgomery,
// reciprocal or plain modular products, the constant-time fixed window (on
// the limbs of limbs_exp.cc), the one-word base, plain powering and the
// product of two powers.
//
// Implementation notes: the sliding window keeps the odd powers a^1 .. a^(2^w
// - 1).  The Montgomery forms load the base, N and RR once into 64-bit limbs
// (bn/limbs.h) of the modulus's width, run the whole ladder there and store
// the result once.

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include <limits.h>
#include <stdint.h>
#include <string.h>

#include "bn/internal.h"
#include "bn/limbs.h"
#include "internal/ct.h"
#include "internal/wipe.h"

namespace bn = morvane::bn;
namespace ct = morvane::ct;
namespace limb = morvane::bn::limb;
using limb::Limb;

namespace {

constexpr int kMaxWindow = 6;

int window_bits(int b) {
  return b >= 672 ? 6 : b >= 240 ? 5 : b >= 80 ? 4 : b >= 24 ? 3 : 1;
}

bool refuse_secret(const BIGNUM* p, int fn) {
  if (!BN_get_flags(p, BN_FLAG_SECRET)) return false;
  BNerr(fn, ERR_R_SHOULD_NOT_HAVE_BEEN_CALLED);
  return true;
}

// An odd modulus, else the error: a zero one is "div by zero" for the forms
// that test only the lowest word's parity (zero_divides), "called with even
// modulus" for the others.
bool odd_modulus(const BIGNUM* m, int fn, bool zero_divides) {
  if (BN_is_odd(m)) return true;
  BNerr(fn, zero_divides && BN_is_zero(m) ? BN_R_DIV_BY_ZERO : BN_R_CALLED_WITH_EVEN_MODULUS);
  return false;
}

// x^0 mod m: 1, but 0 for a modulus of 1 or -1, where 1 is no residue.
int power_zero(BIGNUM* r, const BIGNUM* m) {
  return BN_abs_is_word(m, 1) ? BN_zero(r) : BN_one(r);
}

// The context for m: in_mont, or `own` set up for the call.
BN_MONT_CTX* mont_for(BN_MONT_CTX* in_mont, BN_MONT_CTX* own, const BIGNUM* m, BN_CTX* ctx) {
  if (in_mont != nullptr) return in_mont;
  return BN_MONT_CTX_set(own, m, ctx) ? own : nullptr;
}

// val[i] = base^(2i + 1) for i < 2^(w-1), by mul(r, x, y).
template <class T, class Mul>
bool odd_powers(T* const* val, int w, T* d, Mul mul) {
  if (w == 1) return true;
  if (!mul(d, val[0], val[0])) return false;
  for (int i = 1; i < (1 << (w - 1)); i++)
    if (!mul(val[i], val[i - 1], d)) return false;
  return true;
}

// r = r * val^(bits of p) by the sliding window (r starts as the one).
template <class T, class Mul>
bool slide(T* r, const BIGNUM* p, T* const* val, int w, Mul mul) {
  bool start = true;
  for (int j = BN_num_bits(p) - 1; j >= 0;) {
    if (!BN_is_bit_set(p, j)) {
      if (!start && !mul(r, r, r)) return false;
      j--;
      continue;
    }
    int e = 0, v = 1;
    for (int i = 1; i < w && j - i >= 0; i++)
      if (BN_is_bit_set(p, j - i)) {
        v = (v << (i - e)) | 1;
        e = i;
      }
    if (!start)
      for (int i = 0; i <= e; i++)
        if (!mul(r, r, r)) return false;
    if (!mul(r, r, val[v >> 1])) return false;
    j -= e + 1;
    start = false;
  }
  return true;
}

// The plain sliding window: base = a mod m (non-negative), one = 1.
template <class Mul>
int window_exp(BIGNUM* r, const BIGNUM* a, const BIGNUM* p, const BIGNUM* m, BN_CTX* ctx,
               Mul mul) {
  if (BN_is_zero(p)) return power_zero(r, m);
  bn::Frame frame(ctx);
  BIGNUM *acc = frame.get(), *d = frame.get(), *val[1 << (kMaxWindow - 1)];
  const int w = window_bits(BN_num_bits(p));
  for (int i = 0; i < (1 << (w - 1)); i++) val[i] = frame.get();
  if (val[(1 << (w - 1)) - 1] == nullptr || !BN_nnmod(val[0], a, m, ctx)) return 0;
  if (BN_is_zero(val[0])) return BN_zero(r);
  if (!odd_powers(val, w, d, mul) || !BN_one(acc) || !slide(acc, p, val, w, mul)) return 0;
  return BN_copy(r, acc) != nullptr;
}

// Limb storage of an exponentiation, carved from one buffer.
class Carver {
 public:
  explicit Carver(Limb* p) : p_(p) {}
  Limb* take(int limbs) {
    Limb* r = p_;
    p_ += limbs;
    return r;
  }

 private:
  Limb* p_;
};

// The modulus of a ladder, loaded into n, with R = 2^(64 nl), so that an
// odd word count takes the products of whole limbs too: rr, the context's
// R'^2 mod N for R' = 2^(32 nw) on nl limbs, becomes R^2 = R'^2 2^64 mod N
// by 64 doublings when nw is odd (t: nl limbs).  The doublings follow the
// word count only.
limb::Modulus ladder_modulus(const BN_MONT_CTX* mont, Limb* n, Limb* rr, Limb* t) {
  limb::Modulus m = bn::limb_modulus(mont, n);
  if (m.nw & 1) {
    m.nw++;
    limb::shl_mod(rr, 64, m, t);
  }
  return m;
}

// The result of a ladder: rr = x R^-1 mod N (x below N, t of 2 nl limbs), N
// of nw words.
int out_of_montgomery(BIGNUM* rr, const Limb* x, const limb::Modulus& m, int nw, Limb* t,
                      Limb* res) {
  if (bn::wexpand(rr, nw) == nullptr) return 0;
  for (int i = 0; i < 2 * m.nl; i++) t[i] = i < m.nl ? x[i] : 0;
  limb::redc(res, t, m);
  limb::store(rr->d, res, nw);
  rr->top = nw;
  rr->neg = 0;
  bn::strip(rr);
  return 1;
}

}  // namespace

/* see morvane/bn.h */
int BN_exp(BIGNUM* r, const BIGNUM* a, const BIGNUM* p, BN_CTX* ctx) {
  if (refuse_secret(p, BN_F_BN_EXP)) return -1;
  bn::Frame frame(ctx);
  BIGNUM *rr = (r == a || r == p) ? frame.get() : r, *v = frame.get();
  if (v == nullptr || BN_copy(v, a) == nullptr) return 0;
  if (!(BN_is_odd(p) ? BN_copy(rr, a) != nullptr : BN_one(rr))) return 0;
  const int bits = BN_num_bits(p);
  for (int i = 1; i < bits; i++) {
    if (!bn::sqr(v, v, ctx)) return 0;
    if (BN_is_bit_set(p, i) && !bn::mul(rr, rr, v, ctx)) return 0;
  }
  return rr == r || BN_copy(r, rr) != nullptr;
}

int BN_mod_exp(BIGNUM* r, const BIGNUM* a, const BIGNUM* p, const BIGNUM* m, BN_CTX* ctx) {
  if (BN_is_odd(m)) {
    if (a->top == 1 && !a->neg && !BN_get_flags(p, BN_FLAG_SECRET))
      return BN_mod_exp_mont_word(r, a->d[0], p, m, ctx, nullptr);
    return BN_mod_exp_mont(r, a, p, m, ctx, nullptr);
  }
  return BN_mod_exp_recp(r, a, p, m, ctx);
}

int BN_mod_exp_simple(BIGNUM* r, const BIGNUM* a, const BIGNUM* p, const BIGNUM* m, BN_CTX* ctx) {
  if (refuse_secret(p, BN_F_BN_MOD_EXP_SIMPLE)) return -1;
  return window_exp(r, a, p, m, ctx, [&](BIGNUM* x, const BIGNUM* y, const BIGNUM* z) {
    return BN_mod_mul(x, y, z, m, ctx);
  });
}

int BN_mod_exp_recp(BIGNUM* r, const BIGNUM* a, const BIGNUM* p, const BIGNUM* m, BN_CTX* ctx) {
  if (refuse_secret(p, BN_F_BN_MOD_EXP_RECP)) return -1;
  if (BN_is_zero(p)) return power_zero(r, m);
  BN_RECP_CTX recp;
  BN_RECP_CTX_init(&recp);
  const int ok = BN_RECP_CTX_set(&recp, m, ctx) && (recp.N.neg = 0, true) &&
                 window_exp(r, a, p, m, ctx, [&](BIGNUM* x, const BIGNUM* y, const BIGNUM* z) {
                   return BN_mod_mul_reciprocal(x, y, z, &recp, ctx);
                 });
  BN_RECP_CTX_free(&recp);
  return ok;
}

int BN_mod_exp_mont(BIGNUM* rr, const BIGNUM* a, const BIGNUM* p, const BIGNUM* m, BN_CTX* ctx,
                    BN_MONT_CTX* in_mont) {
  if (BN_get_flags(p, BN_FLAG_SECRET)) return BN_mod_exp_mont_consttime(rr, a, p, m, ctx, in_mont);
  if (!odd_modulus(m, BN_F_BN_MOD_EXP_MONT, false)) return 0;
  if (BN_is_zero(p)) return power_zero(rr, m);
  bn::OwnMont own;
  BN_MONT_CTX* mont = mont_for(in_mont, &own.m, m, ctx);
  if (mont == nullptr) return 0;
  bn::Frame frame(ctx);
  BIGNUM* base = frame.get();
  if (base == nullptr) return 0;
  const BIGNUM* b = a;
  if (a->neg || BN_ucmp(a, m) >= 0) {
    if (!BN_nnmod(base, a, m, ctx)) return 0;
    b = base;
  }
  if (BN_is_zero(b)) return BN_zero(rr);
  // The ladder on limbs: N, RR, the odd powers, the accumulator, d, the
  // product (2 nl) and the result.
  const int w = window_bits(BN_num_bits(p)), powers = 1 << (w - 1);
  const int nl = limb::count(mont->N.top);
  limb::Buffer<64> buf(static_cast<size_t>(nl) * (powers + 7));
  if (!buf.ok()) return 0;
  Carver carve(buf.get());
  Limb *n = carve.take(nl), *rr_l = carve.take(nl), *acc = carve.take(nl), *d = carve.take(nl);
  Limb *t = carve.take(2 * nl), *res = carve.take(nl), *val[1 << (kMaxWindow - 1)];
  for (int i = 0; i < powers; i++) val[i] = carve.take(nl);
  for (int i = 0; i < nl; i++) rr_l[i] = acc[i] = 0;
  limb::load(rr_l, mont->RR.d, mont->RR.top);
  limb::load(acc, b->d, b->top);  // the base, then the one
  // Above 1024 bits with AVX-512 IFMA: the ladder in radix 2^52.
  if (limb::exp_window_ifma(res, acc, p->d, p->top, bn::limb_modulus(mont, n), rr_l, w)) {
    if (bn::wexpand(rr, mont->N.top) == nullptr) return 0;
    limb::store(rr->d, res, mont->N.top);
    rr->top = mont->N.top;
    rr->neg = 0;
    bn::strip(rr);
    return 1;
  }
  const limb::Modulus lm = ladder_modulus(mont, n, rr_l, t);
  const limb::MontMulFn mont_mul = limb::mont_mul_for(lm);
  auto mul = [&](Limb* x, const Limb* y, const Limb* z) {
    MORVANE_BN_COUNT_PRODUCT();
    mont_mul(x, y, z, lm, t);
    return true;
  };
  mul(val[0], acc, rr_l);
  odd_powers(val, w, d, mul);
  for (int i = 0; i < nl; i++) acc[i] = i == 0;
  mul(acc, acc, rr_l);
  slide(acc, p, val, w, mul);
  return out_of_montgomery(rr, acc, lm, mont->N.top, t, res);
}

int BN_mod_exp_mont_consttime(BIGNUM* rr, const BIGNUM* a, const BIGNUM* p, const BIGNUM* m,
                              BN_CTX* ctx, BN_MONT_CTX* in_mont) {
  if (!odd_modulus(m, BN_F_BN_MOD_EXP_MONT_CONSTTIME, true)) return 0;
  if (BN_is_zero(p)) return power_zero(rr, m);
  // The modulus is taken as secret (an RSA prime): the context made here and
  // the base's reduction divide by it in the no-branch form.
  const BIGNUM sm = bn::secret_view(m);
  m = &sm;
  bn::OwnMont own;
  BN_MONT_CTX* mont = mont_for(in_mont, &own.m, m, ctx);
  if (mont == nullptr) return 0;
  const int top = mont->N.top, nl = limb::count(top);
  // Limbs (N, RR, the base and the result), then the exponentiation's
  // scratch with its table of 2^w powers.  At most 2^23 limbs by 64 powers:
  // no overflow in size_t, but possibly more than the allocator's int takes.
  const size_t limbs = 4 * static_cast<size_t>(nl);
  const size_t total = limbs * sizeof(Limb) + limb::exp_consttime_bytes(top, p->top);
  void* block = total <= INT_MAX ? MORVANE_malloc(total) : nullptr;
  if (block == nullptr) {
    BNerr(BN_F_BN_MOD_EXP_MONT_CONSTTIME, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  Carver carve(static_cast<Limb*>(block));
  Limb *n = carve.take(nl), *rr_l = carve.take(nl), *base = carve.take(nl), *res = carve.take(nl);
  for (size_t i = 0; i < limbs; i++) n[i] = 0;
  int ok = 0;
  bn::Frame frame(ctx);
  BIGNUM* red = frame.get();
  const BIGNUM* src = a;
  if (red != nullptr && (a->neg || a->top > top)) {  // sign and length are public
    src = BN_nnmod(red, a, m, ctx) ? red : nullptr;
  }
  if (red != nullptr && src != nullptr && bn::wexpand(rr, top) != nullptr) {
    limb::load(base, src->d, src->top);
    // RR's words by a mask: its word count comes from the modulus.
    limb::load_masked(rr_l, nl, &mont->RR);
    const limb::Modulus lm = ladder_modulus(mont, n, rr_l, res);
    limb::exp_consttime(res, base, p->d, p->top, lm, rr_l, carve.take(0));
    limb::store(rr->d, res, top);
    unsigned used = 0;  // the word count by masks, not by stripping
    for (int i = 0; i < top; i++)
      used = ct::select(ct::zero_mask<unsigned>(rr->d[i]), used, static_cast<unsigned>(i + 1));
    rr->top = static_cast<int>(used);
    rr->neg = 0;
    ok = 1;
  }
  morvane::internal::wipe_scratch(block, total);
  MORVANE_free(block);
  if (red != nullptr) BN_clear(red);
  return ok;
}

int BN_mod_exp_mont_word(BIGNUM* rr, BN_ULONG a, const BIGNUM* p, const BIGNUM* m, BN_CTX* ctx,
                         BN_MONT_CTX* in_mont) {
  if (refuse_secret(p, BN_F_BN_MOD_EXP_MONT_WORD)) return -1;
  if (!odd_modulus(m, BN_F_BN_MOD_EXP_MONT_WORD, false)) return 0;
  if (m->top == 1) a %= m->d[0];
  if (BN_is_zero(p)) return power_zero(rr, m);
  if (a == 0) return BN_zero(rr);
  bn::OwnMont own;
  BN_MONT_CTX* mont = mont_for(in_mont, &own.m, m, ctx);
  if (mont == nullptr) return 0;
  // The value is r w: r in Montgomery form on limbs (not yet made while it
  // is one), w a plain limb, squared and multiplied by a while that fits in
  // 64 bits, then folded into r: r w mod N by a division by N (normalised
  // into dn once, with its reciprocal).  N, RR, r, the limb w, dn, the
  // product (2 nl, also r w on nl + 2 limbs) and the quotient (2).
  const int nl = limb::count(mont->N.top);
  limb::Buffer<64> buf(static_cast<size_t>(nl) * 7 + 4);
  if (!buf.ok()) return 0;
  Carver carve(buf.get());
  Limb *n = carve.take(nl), *rr_l = carve.take(nl), *r = carve.take(nl), *x = carve.take(nl);
  Limb *dn = carve.take(nl), *t = carve.take(2 * nl + 2), *quot = carve.take(2);
  for (int i = 0; i < nl; i++) rr_l[i] = x[i] = 0;
  limb::load(rr_l, mont->RR.d, mont->RR.top);
  const limb::Modulus lm = ladder_modulus(mont, n, rr_l, t);
  const limb::MontMulFn mont_mul = limb::mont_mul_for(lm);
  const int s = __builtin_clzll(n[nl - 1]);
  limb::shift_left(dn, n, nl, s);
  const Limb v = limb::reciprocal(dn, nl);
  bool one = true;
  auto fold = [&](Limb w) {
    if (one) {
      x[0] = w;
      mont_mul(r, x, rr_l, lm, t);
      one = false;
      return;
    }
    // r w < N 2^64, shifted: its top nl limbs are below dn.
    for (int i = 0; i <= nl; i++) t[i] = 0;
    t[nl] = limb::mul_add()(t, r, nl, w);
    t[nl + 1] = limb::shift_left(t, t, nl + 1, s);
    limb::divide(quot, t, nl + 2, dn, nl, v);
    limb::shift_right(r, t, nl, s);
  };
  using u128 = unsigned __int128;
  const Limb base = a;
  Limb w = base;
  for (int j = BN_num_bits(p) - 2; j >= 0; j--) {
    u128 next = static_cast<u128>(w) * w;
    if ((next >> 64) != 0) {
      fold(w);
      next = 1;
    }
    w = static_cast<Limb>(next);
    if (!one) mont_mul(r, r, r, lm, t);
    if (BN_is_bit_set(p, j)) {
      next = static_cast<u128>(w) * base;
      if ((next >> 64) != 0) {
        fold(w);
        next = base;
      }
      w = static_cast<Limb>(next);
    }
  }
  if (w != 1) fold(w);
  if (one) return BN_one(rr);
  return out_of_montgomery(rr, r, lm, mont->N.top, t, x);
}

int BN_mod_exp2_mont(BIGNUM* rr, const BIGNUM* a1, const BIGNUM* p1, const BIGNUM* a2,
                     const BIGNUM* p2, const BIGNUM* m, BN_CTX* ctx, BN_MONT_CTX* in_mont) {
  if (!odd_modulus(m, BN_F_BN_MOD_EXP2_MONT, true)) return 0;
  const int b1 = BN_num_bits(p1), b2 = BN_num_bits(p2);
  if (b1 == 0 && b2 == 0) return power_zero(rr, m);
  bn::OwnMont own;
  BN_MONT_CTX* mont = mont_for(in_mont, &own.m, m, ctx);
  if (mont == nullptr) return 0;
  bn::Frame frame(ctx);
  const BIGNUM* a[2] = {a1, a2};
  const BIGNUM* p[2] = {p1, p2};
  const int w[2] = {window_bits(b1), window_bits(b2)};
  // The bases, reduced; a factor whose exponent is 0 is 1, even for a base
  // of 0: it gets no table.
  const BIGNUM* base[2] = {nullptr, nullptr};
  int powers[2] = {0, 0};
  for (int k = 0; k < 2; k++) {
    if (BN_is_zero(p[k])) continue;
    base[k] = a[k];
    if (a[k]->neg || BN_ucmp(a[k], m) >= 0) {
      BIGNUM* red = frame.get();
      if (red == nullptr || !BN_nnmod(red, a[k], m, ctx)) return 0;
      base[k] = red;
    }
    if (BN_is_zero(base[k])) return BN_zero(rr);
    powers[k] = 1 << (w[k] - 1);
  }
  // The ladder on limbs: N, RR, the accumulator, d, a base, the product
  // (2 nl), the result and both tables of odd powers.
  const int nl = limb::count(mont->N.top);
  limb::Buffer<64> buf(static_cast<size_t>(nl) * (powers[0] + powers[1] + 8));
  if (!buf.ok()) return 0;
  Carver carve(buf.get());
  Limb *n = carve.take(nl), *rr_l = carve.take(nl), *acc = carve.take(nl), *d = carve.take(nl);
  Limb *x = carve.take(nl), *t = carve.take(2 * nl), *res = carve.take(nl);
  Limb* val[2][1 << (kMaxWindow - 1)];
  for (int i = 0; i < nl; i++) rr_l[i] = 0;
  limb::load(rr_l, mont->RR.d, mont->RR.top);
  const limb::Modulus lm = ladder_modulus(mont, n, rr_l, t);
  const limb::MontMulFn mont_mul = limb::mont_mul_for(lm);
  auto mul = [&](Limb* r, const Limb* y, const Limb* z) {
    mont_mul(r, y, z, lm, t);
    return true;
  };
  for (int k = 0; k < 2; k++) {
    for (int i = 0; i < powers[k]; i++) val[k][i] = carve.take(nl);
    if (powers[k] == 0) continue;
    for (int i = 0; i < nl; i++) x[i] = 0;
    limb::load(x, base[k]->d, base[k]->top);
    mul(val[k][0], x, rr_l);
    odd_powers(val[k], w[k], d, mul);
  }
  for (int i = 0; i < nl; i++) acc[i] = i == 0;
  mul(acc, acc, rr_l);
  int low[2] = {-1, -1}, value[2] = {0, 0};
  bool one = true;
  for (int j = (b1 > b2 ? b1 : b2) - 1; j >= 0; j--) {
    if (!one) mul(acc, acc, acc);
    for (int k = 0; k < 2; k++) {
      if (low[k] < 0 && BN_is_bit_set(p[k], j)) {
        int lo = j - w[k] + 1 < 0 ? 0 : j - w[k] + 1;
        while (!BN_is_bit_set(p[k], lo)) lo++;
        value[k] = 0;
        for (int i = j; i >= lo; i--) value[k] = (value[k] << 1) | BN_is_bit_set(p[k], i);
        low[k] = lo;
      }
      if (low[k] == j) {
        mul(acc, acc, val[k][value[k] >> 1]);
        one = false;
        low[k] = -1;
      }
    }
  }
  return out_of_montgomery(rr, acc, lm, mont->N.top, t, res);
}
