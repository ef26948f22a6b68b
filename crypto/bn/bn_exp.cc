// Modular exponentiation: the dispatcher, sliding windows over Montgomery,
// reciprocal or plain modular products, the constant-time fixed window, the
// one-word base, plain powering and the product of two powers.
//
// Implementation notes: the sliding window keeps the odd powers a^1 .. a^(2^w
// - 1).  The constant-time form works on words of the modulus's width: every
// power of the window is stored byte-interleaved (byte k of power i at
// k 2^w + i) and read back by a masked pass over all entries, each window
// costs w squarings and one product, and the window count comes from the
// exponent's word count.

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include <limits.h>
#include <stdint.h>

#include "bn/internal.h"
#include "internal/ct.h"
#include "internal/wipe.h"

namespace bn = morvane::bn;
namespace ct = morvane::ct;

namespace {

constexpr int kMaxWindow = 6;

int window_bits(int b) {
  return b >= 672 ? 6 : b >= 240 ? 5 : b >= 80 ? 4 : b >= 24 ? 3 : 1;
}

int ct_window_bits(int b) {
  return b >= 938 ? 6 : b >= 307 ? 5 : b >= 90 ? 4 : b >= 23 ? 3 : 1;
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

// A Montgomery context freed on every way out.
struct OwnMont {
  BN_MONT_CTX m;
  OwnMont() { BN_MONT_CTX_init(&m); }
  ~OwnMont() { BN_MONT_CTX_free(&m); }
};

// val[i] = base^(2i + 1) for i < 2^(w-1), by mul(r, x, y).
template <class Mul>
bool odd_powers(BIGNUM** val, int w, BIGNUM* d, Mul mul) {
  if (w == 1) return true;
  if (!mul(d, val[0], val[0])) return false;
  for (int i = 1; i < (1 << (w - 1)); i++)
    if (!mul(val[i], val[i - 1], d)) return false;
  return true;
}

// r = r * val^(bits of p) by the sliding window (r starts as the one).
template <class Mul>
bool slide(BIGNUM* r, const BIGNUM* p, BIGNUM** val, int w, Mul mul) {
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

// Byte-interleaved power table of the constant-time form.
void copy_to_table(uint8_t* table, const BN_ULONG* x, int top, int idx, int width) {
  for (int k = 0; k < top * BN_BYTES; k++)
    table[k * width + idx] = static_cast<uint8_t>(x[k / BN_BYTES] >> (8 * (k % BN_BYTES)));
}

void copy_from_table(BN_ULONG* x, const uint8_t* table, int top, int idx, int width) {
  for (int i = 0; i < top; i++) x[i] = 0;
  for (int k = 0; k < top * BN_BYTES; k++) {
    uint8_t acc = 0;
    for (int j = 0; j < width; j++)
      acc |= table[k * width + j] & ct::byte_mask(ct::eq_mask<uint32_t>(j, idx));
    x[k / BN_BYTES] |= static_cast<BN_ULONG>(acc) << (8 * (k % BN_BYTES));
  }
}

// Fixed-width Montgomery product r = a b R^-1 mod n (t: 2 nl + 1 words).
void mont_mul_words(BN_ULONG* r, const BN_ULONG* a, const BN_ULONG* b, const BN_MONT_CTX* mont,
                    BN_ULONG* t) {
  const int nl = mont->N.top;
  bn::mul_normal(t, a, nl, b, nl);
  t[2 * nl] = 0;
  bn::redc_words(r, t, mont->N.d, nl, mont->n0);
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
  OwnMont own;
  BN_MONT_CTX* mont = mont_for(in_mont, &own.m, m, ctx);
  if (mont == nullptr) return 0;
  bn::Frame frame(ctx);
  BIGNUM *acc = frame.get(), *d = frame.get(), *base = frame.get(), *val[1 << (kMaxWindow - 1)];
  const int w = window_bits(BN_num_bits(p));
  for (int i = 0; i < (1 << (w - 1)); i++) val[i] = frame.get();
  if (val[(1 << (w - 1)) - 1] == nullptr) return 0;
  const BIGNUM* b = a;
  if (a->neg || BN_ucmp(a, m) >= 0) {
    if (!BN_nnmod(base, a, m, ctx)) return 0;
    b = base;
  }
  if (BN_is_zero(b)) return BN_zero(rr);
  auto mul = [&](BIGNUM* x, const BIGNUM* y, const BIGNUM* z) {
    MORVANE_BN_COUNT_PRODUCT();
    return BN_mod_mul_montgomery(x, y, z, mont, ctx);
  };
  if (!mul(val[0], b, &mont->RR) || !odd_powers(val, w, d, mul)) return 0;
  if (!mul(acc, BN_value_one(), &mont->RR) || !slide(acc, p, val, w, mul)) return 0;
  return BN_from_montgomery(rr, acc, mont, ctx);
}

int BN_mod_exp_mont_consttime(BIGNUM* rr, const BIGNUM* a, const BIGNUM* p, const BIGNUM* m,
                              BN_CTX* ctx, BN_MONT_CTX* in_mont) {
  if (!odd_modulus(m, BN_F_BN_MOD_EXP_MONT_CONSTTIME, true)) return 0;
  if (BN_is_zero(p)) return power_zero(rr, m);
  // The modulus is taken as secret (an RSA prime): the context made here and
  // the base's reduction divide by it in the no-branch form.
  const BIGNUM sm = bn::secret_view(m);
  m = &sm;
  OwnMont own;
  BN_MONT_CTX* mont = mont_for(in_mont, &own.m, m, ctx);
  if (mont == nullptr) return 0;
  const int top = mont->N.top;
  const int pbits = p->top * BN_BITS2;  // the word count is public, the bit length is not
  const int w = ct_window_bits(pbits);
  const int width = 1 << w;
  // Table, then base, r, tmp (top words each) and the product (2 top + 1).
  // At most 2^24 words by 4 bytes by 64 powers: no overflow in size_t, but
  // possibly more than the allocator's int takes.
  const size_t tbytes = static_cast<size_t>(top) * BN_BYTES * static_cast<size_t>(width);
  const size_t words = 5 * static_cast<size_t>(top) + 1;
  const size_t total = words * sizeof(BN_ULONG) + tbytes + 64;
  if (total > INT_MAX) {
    BNerr(BN_F_BN_MOD_EXP_MONT_CONSTTIME, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  auto* block = static_cast<uint8_t*>(MORVANE_malloc(total));
  if (block == nullptr) return 0;
  auto* wv = reinterpret_cast<BN_ULONG*>(block);
  BN_ULONG *base = wv, *r = wv + top, *tmp = wv + 2 * top, *t = wv + 3 * top;
  uint8_t* after = block + words * sizeof(BN_ULONG);
  uint8_t* table = after + (64 - reinterpret_cast<uintptr_t>(after) % 64);
  bn::zero_words(wv, static_cast<int>(words));
  int ok = 0;
  bn::Frame frame(ctx);
  BIGNUM* red = frame.get();
  const BIGNUM* src = a;
  if (red != nullptr && (a->neg || a->top > top)) {  // sign and length are public
    src = BN_nnmod(red, a, m, ctx) ? red : nullptr;
  }
  if (red != nullptr && src != nullptr && bn::wexpand(rr, top) != nullptr) {
    for (int i = 0; i < src->top; i++) base[i] = src->d[i];
    // power 0 = 1 R mod N, power 1 = a R mod N, power i = power i-1 * power 1.
    // RR's words by a mask: its word count comes from the modulus.
    const int rr_words = mont->RR.dmax < top ? mont->RR.dmax : top;
    for (int i = 0; i < rr_words; i++)
      r[i] = mont->RR.d[i] & ct::lt_mask(static_cast<unsigned>(i),
                                          static_cast<unsigned>(mont->RR.top));
    tmp[0] = 1;
    mont_mul_words(tmp, tmp, r, mont, t);
    copy_to_table(table, tmp, top, 0, width);
    mont_mul_words(base, base, r, mont, t);
    copy_to_table(table, base, top, 1, width);
    for (int i = 0; i < top; i++) tmp[i] = base[i];
    for (int i = 2; i < width; i++) {
      mont_mul_words(tmp, tmp, base, mont, t);
      copy_to_table(table, tmp, top, i, width);
    }
    copy_from_table(r, table, top, 0, width);
    for (int bit = ((pbits + w - 1) / w) * w - 1; bit >= 0; bit -= w) {
      BN_ULONG v = 0;
      for (int k = 0; k < w; k++) {
        mont_mul_words(r, r, r, mont, t);
        const int j = bit - k;
        const BN_ULONG b = j < pbits ? (p->d[j / BN_BITS2] >> (j % BN_BITS2)) & 1 : 0;
        v = (v << 1) | b;
      }
      copy_from_table(tmp, table, top, static_cast<int>(v), width);
      mont_mul_words(r, r, tmp, mont, t);
    }
    bn::zero_words(t, 2 * top + 1);
    for (int i = 0; i < top; i++) t[i] = r[i];
    bn::redc_words(rr->d, t, mont->N.d, top, mont->n0);
    unsigned used = 0;  // the word count by masks, not by stripping
    for (int i = 0; i < top; i++)
      used = ct::select(ct::zero_mask<unsigned>(rr->d[i]), used, static_cast<unsigned>(i + 1));
    rr->top = static_cast<int>(used);
    rr->neg = 0;
    ok = 1;
  }
  morvane::internal::wipe(block, total);
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
  OwnMont own;
  BN_MONT_CTX* mont = mont_for(in_mont, &own.m, m, ctx);
  if (mont == nullptr) return 0;
  bn::Frame frame(ctx);
  BIGNUM *r = frame.get(), *t = frame.get();
  if (t == nullptr) return 0;
  bool one = true;  // the value is r w, r not yet made while it is one
  auto fold = [&](BN_ULONG w) {
    if (one) {
      one = false;
      return BN_set_word(t, w) && BN_mod_mul_montgomery(r, t, &mont->RR, mont, ctx);
    }
    return BN_mul_word(r, w) && bn::div(nullptr, t, r, m, ctx) && BN_copy(r, t) != nullptr;
  };
  BN_ULONG w = a;
  for (int j = BN_num_bits(p) - 2; j >= 0; j--) {
    BN_ULONG next = w * w;
    if (next / w != w) {
      if (!fold(w)) return 0;
      next = 1;
    }
    w = next;
    if (!one && !BN_mod_mul_montgomery(r, r, r, mont, ctx)) return 0;
    if (BN_is_bit_set(p, j)) {
      next = w * a;
      if (next / a != w) {
        if (!fold(w)) return 0;
        next = a;
      }
      w = next;
    }
  }
  if (w != 1 && !fold(w)) return 0;
  return one ? BN_one(rr) : BN_from_montgomery(rr, r, mont, ctx);
}

int BN_mod_exp2_mont(BIGNUM* rr, const BIGNUM* a1, const BIGNUM* p1, const BIGNUM* a2,
                     const BIGNUM* p2, const BIGNUM* m, BN_CTX* ctx, BN_MONT_CTX* in_mont) {
  if (!odd_modulus(m, BN_F_BN_MOD_EXP2_MONT, true)) return 0;
  const int b1 = BN_num_bits(p1), b2 = BN_num_bits(p2);
  if (b1 == 0 && b2 == 0) return power_zero(rr, m);
  OwnMont own;
  BN_MONT_CTX* mont = mont_for(in_mont, &own.m, m, ctx);
  if (mont == nullptr) return 0;
  bn::Frame frame(ctx);
  const BIGNUM* a[2] = {a1, a2};
  const BIGNUM* p[2] = {p1, p2};
  int w[2] = {window_bits(b1), window_bits(b2)};
  BIGNUM *val[2][1 << (kMaxWindow - 1)], *acc = frame.get(), *d = frame.get();
  auto mul = [&](BIGNUM* x, const BIGNUM* y, const BIGNUM* z) {
    return BN_mod_mul_montgomery(x, y, z, mont, ctx);
  };
  for (int k = 0; k < 2; k++) {
    if (BN_is_zero(p[k])) continue;  // a^0 is 1, even for a base of 0: no table
    for (int i = 0; i < (1 << (w[k] - 1)); i++) val[k][i] = frame.get();
    BIGNUM* v0 = val[k][(1 << (w[k] - 1)) - 1];
    if (v0 == nullptr) return 0;
    const BIGNUM* base = a[k];
    if (a[k]->neg || BN_ucmp(a[k], m) >= 0) {
      if (!BN_nnmod(val[k][0], a[k], m, ctx)) return 0;
      base = val[k][0];
    }
    if (BN_is_zero(base)) return BN_zero(rr);
    if (!mul(val[k][0], base, &mont->RR) || !odd_powers(val[k], w[k], d, mul)) return 0;
  }
  if (!mul(acc, BN_value_one(), &mont->RR)) return 0;
  int low[2] = {-1, -1}, value[2] = {0, 0};
  bool one = true;
  for (int j = (b1 > b2 ? b1 : b2) - 1; j >= 0; j--) {
    if (!one && !mul(acc, acc, acc)) return 0;
    for (int k = 0; k < 2; k++) {
      if (low[k] < 0 && BN_is_bit_set(p[k], j)) {
        int lo = j - w[k] + 1 < 0 ? 0 : j - w[k] + 1;
        while (!BN_is_bit_set(p[k], lo)) lo++;
        value[k] = 0;
        for (int i = j; i >= lo; i--) value[k] = (value[k] << 1) | BN_is_bit_set(p[k], i);
        low[k] = lo;
      }
      if (low[k] == j) {
        if (!mul(acc, acc, val[k][value[k] >> 1])) return 0;
        one = false;
        low[k] = -1;
      }
    }
  }
  return BN_from_montgomery(rr, acc, mont, ctx);
}
