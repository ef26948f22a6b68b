// Arithmetic in GF(2^m): polynomials over GF(2) held in BIGNUMs (bit i the
// coefficient of x^i), reduced modulo a polynomial given as a number or as
// the exponents of its nonzero terms (x^163 + x^7 + x^6 + x^3 + 1 is
// {163, 7, 6, 3, 0}).  The sign of a number is ignored; results are
// non-negative.
//
// Implementation notes: reduction clears one word at a time from the top,
// folding it back through the few nonzero terms of the modulus, so a
// trinomial or pentanomial costs a handful of shifts per word.  Inversion is
// the binary extended Euclid on polynomials; modulo a reducible polynomial an
// element sharing a factor with it has no inverse, and the loop then reaches
// u = 0, where it stops with "no inverse".

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include <utility>

#include "bn/gf2m_words.h"
#include "bn/internal.h"

namespace bn = morvane::bn;

namespace {

constexpr int kSolveQuadTries = 50;

// The 4-bit values with their bits moved to the even positions.
constexpr BN_ULONG kSqrTb[16] = {0, 1, 4, 5, 16, 17, 20, 21, 64, 65, 68, 69, 80, 81, 84, 85};

// The bits 16 .. 31 (hi) or 0 .. 15 of w spread to the even positions.
constexpr BN_ULONG spread(BN_ULONG w) {
  return kSqrTb[(w >> 12) & 0xF] << 24 | kSqrTb[(w >> 8) & 0xF] << 16 |
         kSqrTb[(w >> 4) & 0xF] << 8 | kSqrTb[w & 0xF];
}
static_assert(spread(0xFFFF) == 0x55555555 && spread(0x8001) == 0x40000001, "squaring table");

// The exponent array of p, allocated for the call; n() is 0 when p is zero,
// has no constant term, or the array could not be allocated.
class Arr {
 public:
  Arr(const BIGNUM* p, int func) {
    const int max = BN_num_bits(p);
    p_ = static_cast<unsigned int*>(MORVANE_malloc(sizeof(unsigned int) * (max > 0 ? max : 1)));
    if (p_ == nullptr) return;
    n_ = BN_GF2m_poly2arr(p, p_, max);
    if (n_ == 0 || n_ > max) {
      BNerr(func, BN_R_INVALID_LENGTH);
      n_ = 0;
    }
  }
  ~Arr() { MORVANE_free(p_); }
  Arr(const Arr&) = delete;
  Arr& operator=(const Arr&) = delete;
  int n() const { return n_; }
  const unsigned int* get() const { return p_; }

 private:
  unsigned int* p_ = nullptr;
  int n_ = 0;
};

// r = |a|'s words with sign 0; a's top normalised.
void finish(BIGNUM* r) {
  r->neg = 0;
  bn::strip(r);
}

}  // namespace

/* see morvane/bn.h */
int BN_GF2m_add(BIGNUM* r, const BIGNUM* a, const BIGNUM* b) {
  const BIGNUM *at = a, *bt = b;
  if (a->top < b->top) std::swap(at, bt);
  if (bn::wexpand(r, at->top) == nullptr) return 0;
  int i = 0;
  for (; i < bt->top; i++) r->d[i] = at->d[i] ^ bt->d[i];
  for (; i < at->top; i++) r->d[i] = at->d[i];
  r->top = at->top;
  finish(r);
  return 1;
}

/* see morvane/bn.h */
int BN_GF2m_poly2arr(const BIGNUM* a, unsigned int p[], int max) {
  if (BN_is_zero(a) || !(a->d[0] & 1)) return 0;
  int k = 0;
  for (int i = a->top - 1; i >= 0; i--) {
    if (a->d[i] == 0) continue;
    for (int j = BN_BITS2 - 1; j >= 0; j--) {
      if (!((a->d[i] >> j) & 1)) continue;
      if (k < max) p[k] = static_cast<unsigned int>(BN_BITS2 * i + j);
      k++;
    }
  }
  return k;
}

/* see morvane/bn.h */
int BN_GF2m_arr2poly(const unsigned int p[], BIGNUM* a) {
  BN_zero(a);
  for (int i = 0; p[i] != 0; i++) {
    if (!BN_set_bit(a, static_cast<int>(p[i]))) return 0;
  }
  return BN_set_bit(a, 0);
}

/* see morvane/bn.h */
int BN_GF2m_mod_arr(BIGNUM* r, const BIGNUM* a, const unsigned int p[]) {
  if (p[0] == 0) return BN_zero(r);  // modulo 1 everything is 0
  if (r != a) {
    if (bn::wexpand(r, a->top) == nullptr) return 0;
    for (int i = 0; i < a->top; i++) r->d[i] = a->d[i];
    r->top = a->top;
  }
  BN_ULONG* z = r->d;
  const int dN = static_cast<int>(p[0] / BN_BITS2);
  int j = r->top - 1;
  // Words above the degree's word: each is cleared and folded back through
  // every term (its own word again when a term lies within 32 bits of x^m).
  while (j > dN) {
    const BN_ULONG zz = z[j];
    if (zz == 0) {
      j--;
      continue;
    }
    z[j] = 0;
    for (int k = 1;; k++) {
      const unsigned int e = p[k];  // the constant term last
      const unsigned int n = p[0] - e, d0 = n % BN_BITS2, w = n / BN_BITS2;
      z[j - w] ^= zz >> d0;
      if (d0 != 0) z[j - w - 1] ^= zz << (BN_BITS2 - d0);
      if (e == 0) break;
    }
  }
  // The degree's own word: its bits from x^m up, folded back the same way.
  const unsigned int top_shift = p[0] % BN_BITS2;
  while (j == dN) {
    const BN_ULONG zz = z[dN] >> top_shift;
    if (zz == 0) break;
    z[dN] = top_shift != 0 ? (z[dN] << (BN_BITS2 - top_shift)) >> (BN_BITS2 - top_shift) : 0;
    z[0] ^= zz;
    for (int k = 1; p[k] != 0; k++) {
      const unsigned int w = p[k] / BN_BITS2, d0 = p[k] % BN_BITS2;
      z[w] ^= zz << d0;
      if (d0 != 0 && (zz >> (BN_BITS2 - d0)) != 0) z[w + 1] ^= zz >> (BN_BITS2 - d0);
    }
  }
  finish(r);
  return 1;
}

/* see morvane/bn.h */
int BN_GF2m_mod(BIGNUM* r, const BIGNUM* a, const BIGNUM* p) {
  Arr arr(p, BN_F_BN_GF2M_MOD);
  return arr.n() != 0 && BN_GF2m_mod_arr(r, a, arr.get());
}

/* see morvane/bn.h */
int BN_GF2m_mod_mul_arr(BIGNUM* r, const BIGNUM* a, const BIGNUM* b, const unsigned int p[],
                        BN_CTX* ctx) {
  if (a == b) return BN_GF2m_mod_sqr_arr(r, a, p, ctx);
  bn::Frame frame(ctx);
  BIGNUM* s = frame.get();
  const int zlen = a->top + b->top + 4;
  if (s == nullptr || bn::wexpand(s, zlen) == nullptr) return 0;
  s->top = zlen;
  bn::zero_words(s->d, zlen);
  for (int j = 0; j < b->top; j += 2) {
    const BN_ULONG y0 = b->d[j], y1 = j + 1 == b->top ? 0 : b->d[j + 1];
    for (int i = 0; i < a->top; i += 2) {
      const BN_ULONG x0 = a->d[i], x1 = i + 1 == a->top ? 0 : a->d[i + 1];
      BN_ULONG zz[4];
      bn::bn_GF2m_mul_2x2(zz, x1, x0, y1, y0);
      for (int k = 0; k < 4; k++) s->d[i + j + k] ^= zz[k];
    }
  }
  finish(s);
  return BN_GF2m_mod_arr(r, s, p);
}

/* see morvane/bn.h */
int BN_GF2m_mod_mul(BIGNUM* r, const BIGNUM* a, const BIGNUM* b, const BIGNUM* p, BN_CTX* ctx) {
  Arr arr(p, BN_F_BN_GF2M_MOD_MUL);
  return arr.n() != 0 && BN_GF2m_mod_mul_arr(r, a, b, arr.get(), ctx);
}

/* see morvane/bn.h */
int BN_GF2m_mod_sqr_arr(BIGNUM* r, const BIGNUM* a, const unsigned int p[], BN_CTX* ctx) {
  bn::Frame frame(ctx);
  BIGNUM* s = frame.get();
  if (s == nullptr || bn::wexpand(s, 2 * a->top) == nullptr) return 0;
  for (int i = a->top - 1; i >= 0; i--) {
    s->d[2 * i + 1] = spread(a->d[i] >> 16);
    s->d[2 * i] = spread(a->d[i] & 0xFFFF);
  }
  s->top = 2 * a->top;
  finish(s);
  return BN_GF2m_mod_arr(r, s, p);
}

/* see morvane/bn.h */
int BN_GF2m_mod_sqr(BIGNUM* r, const BIGNUM* a, const BIGNUM* p, BN_CTX* ctx) {
  Arr arr(p, BN_F_BN_GF2M_MOD_SQR);
  return arr.n() != 0 && BN_GF2m_mod_sqr_arr(r, a, arr.get(), ctx);
}

/* see morvane/bn.h */
int BN_GF2m_mod_inv(BIGNUM* r, const BIGNUM* a, const BIGNUM* p, BN_CTX* ctx) {
  bn::Frame frame(ctx);
  BIGNUM *b = frame.get(), *c = frame.get(), *u = frame.get(), *v = frame.get();
  if (v == nullptr || !BN_one(b) || !BN_GF2m_mod(u, a, p) || BN_copy(v, p) == nullptr) return 0;
  v->neg = 0;
  if (BN_is_zero(u)) return 0;  // 0 has no inverse; nothing queued
  // Invariants: b a = u and c a = v (mod p).
  for (;;) {
    while (!BN_is_odd(u)) {
      if (BN_is_zero(u)) {  // u and v met: a shares a factor with a reducible p
        BNerr(BN_F_BN_GF2M_MOD_INV, BN_R_NO_INVERSE);
        return 0;
      }
      if (!BN_rshift1(u, u)) return 0;
      if (BN_is_odd(b) && !BN_GF2m_add(b, b, p)) return 0;
      if (!BN_rshift1(b, b)) return 0;
    }
    if (BN_abs_is_word(u, 1)) break;
    if (BN_num_bits(u) < BN_num_bits(v)) {
      std::swap(u, v);
      std::swap(b, c);
    }
    if (!BN_GF2m_add(u, u, v) || !BN_GF2m_add(b, b, c)) return 0;
  }
  return BN_copy(r, b) != nullptr;
}

/* see morvane/bn.h */
int BN_GF2m_mod_inv_arr(BIGNUM* r, const BIGNUM* a, const unsigned int p[], BN_CTX* ctx) {
  bn::Frame frame(ctx);
  BIGNUM* field = frame.get();
  return field != nullptr && BN_GF2m_arr2poly(p, field) && BN_GF2m_mod_inv(r, a, field, ctx);
}

/* see morvane/bn.h */
int BN_GF2m_mod_div(BIGNUM* r, const BIGNUM* y, const BIGNUM* x, const BIGNUM* p, BN_CTX* ctx) {
  bn::Frame frame(ctx);
  BIGNUM* xinv = frame.get();
  return xinv != nullptr && BN_GF2m_mod_inv(xinv, x, p, ctx) && BN_GF2m_mod_mul(r, y, xinv, p, ctx);
}

/* see morvane/bn.h */
int BN_GF2m_mod_div_arr(BIGNUM* r, const BIGNUM* y, const BIGNUM* x, const unsigned int p[],
                        BN_CTX* ctx) {
  bn::Frame frame(ctx);
  BIGNUM* field = frame.get();
  return field != nullptr && BN_GF2m_arr2poly(p, field) && BN_GF2m_mod_div(r, y, x, field, ctx);
}

/* see morvane/bn.h */
int BN_GF2m_mod_exp_arr(BIGNUM* r, const BIGNUM* a, const BIGNUM* b, const unsigned int p[],
                        BN_CTX* ctx) {
  if (BN_is_zero(b)) return BN_one(r);
  if (BN_abs_is_word(b, 1)) return BN_copy(r, a) != nullptr;  // a as it is, not reduced
  bn::Frame frame(ctx);
  BIGNUM* u = frame.get();
  if (u == nullptr || !BN_GF2m_mod_arr(u, a, p)) return 0;
  for (int i = BN_num_bits(b) - 2; i >= 0; i--) {
    if (!BN_GF2m_mod_sqr_arr(u, u, p, ctx)) return 0;
    if (BN_is_bit_set(b, i) && !BN_GF2m_mod_mul_arr(u, u, a, p, ctx)) return 0;
  }
  return BN_copy(r, u) != nullptr;
}

/* see morvane/bn.h */
int BN_GF2m_mod_exp(BIGNUM* r, const BIGNUM* a, const BIGNUM* b, const BIGNUM* p, BN_CTX* ctx) {
  Arr arr(p, BN_F_BN_GF2M_MOD_EXP);
  return arr.n() != 0 && BN_GF2m_mod_exp_arr(r, a, b, arr.get(), ctx);
}

/* see morvane/bn.h */
int BN_GF2m_mod_sqrt_arr(BIGNUM* r, const BIGNUM* a, const unsigned int p[], BN_CTX* ctx) {
  if (p[0] == 0) return BN_zero(r);
  // Squaring is a bijection of GF(2^m) with order m: sqrt(a) = a^(2^(m-1)).
  bn::Frame frame(ctx);
  BIGNUM* e = frame.get();
  return e != nullptr && BN_set_bit(e, static_cast<int>(p[0] - 1)) &&
         BN_GF2m_mod_exp_arr(r, a, e, p, ctx);
}

/* see morvane/bn.h */
int BN_GF2m_mod_sqrt(BIGNUM* r, const BIGNUM* a, const BIGNUM* p, BN_CTX* ctx) {
  Arr arr(p, BN_F_BN_GF2M_MOD_SQRT);
  return arr.n() != 0 && BN_GF2m_mod_sqrt_arr(r, a, arr.get(), ctx);
}

/* see morvane/bn.h */
int BN_GF2m_mod_solve_quad_arr(BIGNUM* r, const BIGNUM* a_, const unsigned int p[], BN_CTX* ctx) {
  if (p[0] == 0) return BN_zero(r);
  bn::Frame frame(ctx);
  BIGNUM *a = frame.get(), *z = frame.get(), *w = frame.get();
  if (w == nullptr || !BN_GF2m_mod_arr(a, a_, p)) return 0;
  if (BN_is_zero(a)) return BN_zero(r);
  const unsigned int m = p[0];
  if (m & 1) {
    // The half-trace: z = sum of a^(4^i) for i = 0 .. (m - 1) / 2.
    if (BN_copy(z, a) == nullptr) return 0;
    for (unsigned int j = 1; j <= (m - 1) / 2; j++) {
      if (!BN_GF2m_mod_sqr_arr(z, z, p, ctx) || !BN_GF2m_mod_sqr_arr(z, z, p, ctx) ||
          !BN_GF2m_add(z, z, a))
        return 0;
    }
  } else {
    // IEEE 1363-2000, A.4.7: for a random rho, z gathers a^(2^i) times the
    // partial traces of rho; w ends as the trace of rho, and a rho of trace 0
    // gives no root, so another is drawn.
    BIGNUM *rho = frame.get(), *w2 = frame.get(), *tmp = frame.get();
    if (tmp == nullptr) return 0;
    int count = 0;
    do {
      if (!BN_rand(rho, static_cast<int>(m), 0, 0) || !BN_GF2m_mod_arr(rho, rho, p) ||
          !BN_zero(z) || BN_copy(w, rho) == nullptr)
        return 0;
      for (unsigned int j = 1; j <= m - 1; j++) {
        if (!BN_GF2m_mod_sqr_arr(z, z, p, ctx) || !BN_GF2m_mod_sqr_arr(w2, w, p, ctx) ||
            !BN_GF2m_mod_mul_arr(tmp, w2, a, p, ctx) || !BN_GF2m_add(z, z, tmp) ||
            !BN_GF2m_add(w, w2, rho))
          return 0;
      }
      count++;
    } while (BN_is_zero(w) && count < kSolveQuadTries);
    if (BN_is_zero(w)) {
      BNerr(BN_F_BN_GF2M_MOD_SOLVE_QUAD_ARR, BN_R_TOO_MANY_ITERATIONS);
      return 0;
    }
  }
  if (!BN_GF2m_mod_sqr_arr(w, z, p, ctx) || !BN_GF2m_add(w, z, w)) return 0;
  if (BN_ucmp(w, a) != 0) {  // a has trace 1: z^2 + z = a has no root
    BNerr(BN_F_BN_GF2M_MOD_SOLVE_QUAD_ARR, BN_R_NO_SOLUTION);
    return 0;
  }
  return BN_copy(r, z) != nullptr;
}

/* see morvane/bn.h */
int BN_GF2m_mod_solve_quad(BIGNUM* r, const BIGNUM* a, const BIGNUM* p, BN_CTX* ctx) {
  Arr arr(p, BN_F_BN_GF2M_MOD_SOLVE_QUAD);
  return arr.n() != 0 && BN_GF2m_mod_solve_quad_arr(r, a, arr.get(), ctx);
}
