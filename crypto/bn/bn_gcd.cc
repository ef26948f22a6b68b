// Greatest common divisor, modular inverse and the Kronecker symbol.
//
// Implementation notes: the inverse keeps -sign X a = B and sign Y a = A
// (mod |n|) while (A, B) runs down to (gcd, 0).  Odd moduli up to 2048 bits
// take the binary method (shifts and subtractions only); others the
// Euclidean one, which replaces the division by a subtraction or two when
// the quotient is 1, 2 or 3.  Secret operands (flagged BN_FLAG_SECRET) take
// the fixed-width forms of limbs_gcd.cc instead, whose steps follow the
// operands' word counts only: the gcd with the common power of two shifted
// out and back by masks; the inverse modulo an odd n directly, and modulo
// an even n (a then odd) from y = n^-1 mod a, since n y = 1 + a k gives
// a (n - k) = 1 (mod n), with k = (n y - 1) / a found as (n y - 1) a^-1
// mod 2^(64 l), the division being exact.  Only whether the inverse exists
// is made public.

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include <utility>

#include "bn/internal.h"
#include "bn/limbs.h"
#include "internal/ct.h"

namespace bn = morvane::bn;
namespace ct = morvane::ct;
namespace limb = morvane::bn::limb;
using limb::Limb;

namespace morvane::bn {

// A view of a sharing its words, flagged secret and borrowed.
BIGNUM secret_view(const BIGNUM* a) noexcept {
  BIGNUM v;
  BN_init(&v);
  v.d = a->d;
  v.top = a->top;
  v.dmax = a->dmax;
  v.neg = a->neg;
  v.flags = BN_FLAG_SECRET | BN_FLAG_BORROWED;
  return v;
}

}  // namespace morvane::bn

namespace {

// a >= b >= 0 on entry; returns gcd(a, b) in a (or null on failure).
BIGNUM* euclid(BIGNUM* a, BIGNUM* b) {
  int shifts = 0;
  while (!BN_is_zero(b)) {
    const bool ao = BN_is_odd(a), bo = BN_is_odd(b);
    if (ao && bo) {
      if (!BN_sub(a, a, b) || !BN_rshift1(a, a)) return nullptr;
    } else if (ao) {
      if (!BN_rshift1(b, b)) return nullptr;
    } else if (bo) {
      if (!BN_rshift1(a, a)) return nullptr;
    } else {
      if (!BN_rshift1(a, a) || !BN_rshift1(b, b)) return nullptr;
      shifts++;
      continue;
    }
    if (BN_cmp(a, b) < 0) BN_swap(a, b);
  }
  if (shifts > 0 && !BN_lshift(a, a, shifts)) return nullptr;
  return a;
}

// Halves `v` over the trailing zero bits of `u`, keeping `x` v-consistent:
// x is made even by adding n before each halving.
bool halve_out(BIGNUM* u, BIGNUM* x, const BIGNUM* n) {
  int shift = 0;
  while (!BN_is_bit_set(u, shift)) {
    shift++;
    if (BN_is_odd(x) && !BN_uadd(x, x, n)) return false;
    if (!BN_rshift1(x, x)) return false;
  }
  return shift == 0 || BN_rshift(u, u, shift);
}

// T = D X + Y.
bool mul_add(BIGNUM* t, const BIGNUM* d, const BIGNUM* x, const BIGNUM* y, BN_CTX* ctx) {
  if (d->top == 1) {
    if (BN_copy(t, x) == nullptr || !BN_mul_word(t, d->d[0])) return false;
  } else if (!bn::mul(t, d, x, ctx)) {
    return false;
  }
  return BN_add(t, t, y);
}

// (D, M) = (A / B, A mod B) with shortcuts for quotients 1, 2 and 3.
bool quotient(BIGNUM* d, BIGNUM* m, const BIGNUM* a, const BIGNUM* b, BIGNUM* t, BN_CTX* ctx) {
  const int ab = BN_num_bits(a), bb = BN_num_bits(b);
  if (ab == bb) return BN_one(d) && BN_sub(m, a, b);
  if (ab == bb + 1) {
    if (!BN_lshift1(t, b)) return false;
    if (BN_ucmp(a, t) < 0) return BN_one(d) && BN_sub(m, a, b);
    if (!BN_sub(m, a, t) || !BN_add(t, t, b)) return false;
    if (BN_ucmp(a, t) < 0) return BN_set_word(d, 2);
    return BN_set_word(d, 3) && BN_sub(m, m, b);
  }
  return bn::div(d, m, a, b, ctx);
}

BIGNUM* mod_inverse(BIGNUM* in, const BIGNUM* a, const BIGNUM* n, BN_CTX* ctx) {
  bn::Frame frame(ctx);
  BIGNUM *A = frame.get(), *B = frame.get(), *X = frame.get(), *D = frame.get(),
         *M = frame.get(), *Y = frame.get(), *T = frame.get();
  if (T == nullptr) return nullptr;
  BIGNUM* R = in != nullptr ? in : BN_new();
  if (R == nullptr) return nullptr;
  auto fail = [&]() -> BIGNUM* {
    if (in == nullptr) BN_free(R);
    return nullptr;
  };
  if (!BN_one(X) || !BN_zero(Y) || BN_copy(B, a) == nullptr || BN_copy(A, n) == nullptr)
    return fail();
  A->neg = 0;
  if ((B->neg || BN_ucmp(B, A) >= 0) && !BN_nnmod(B, B, A, ctx)) return fail();
  int sign = -1;
  if (BN_is_odd(n) && BN_num_bits(n) <= 2048) {
    while (!BN_is_zero(B)) {
      if (!halve_out(B, X, n) || !halve_out(A, Y, n)) return fail();
      if (BN_ucmp(B, A) >= 0) {
        if (!BN_uadd(X, X, Y) || !BN_usub(B, B, A)) return fail();
      } else if (!BN_uadd(Y, Y, X) || !BN_usub(A, A, B)) {
        return fail();
      }
    }
  } else {
    while (!BN_is_zero(B)) {
      if (!quotient(D, M, A, B, T, ctx)) return fail();
      BIGNUM* tmp = A;  // (A, B) = (B, M)
      A = B;
      B = M;
      M = tmp;
      if (!mul_add(T, D, X, Y, ctx)) return fail();
      tmp = Y;  // (Y, X) = (X, T)
      Y = X;
      X = T;
      T = tmp;
      sign = -sign;
    }
  }
  if (sign < 0 && !BN_sub(Y, n, Y)) return fail();
  if (!BN_is_one(A)) {
    BNerr(BN_F_BN_MOD_INVERSE, BN_R_NO_INVERSE);
    return fail();
  }
  if (!Y->neg && BN_ucmp(Y, n) < 0) {
    if (BN_copy(R, Y) == nullptr) return fail();
  } else if (!BN_nnmod(R, Y, n, ctx)) {
    return fail();
  }
  return R;
}

// ---- secret operands: fixed width ------------------------------------------

// r = gcd(|a|, |b|) at the width of the longer operand: the common power of
// two (the trailing zeros of a | b) shifted out, the odd one of the two
// taken as u, the binary steps, the power shifted back in.  A longer
// operand is first reduced modulo a shorter public one (gcd(a, b) =
// gcd(a mod b, b), by the no-branch division), which leaves the steps at
// the public one's width: gcd(p - 1, e) costs a division and a few words.
int gcd_secret(BIGNUM* r, const BIGNUM* a, const BIGNUM* b, BN_CTX* ctx) {
  if (BN_get_flags(a, BN_FLAG_SECRET)) std::swap(a, b);  // a: the public one, if any
  bn::Frame frame(ctx);
  BIGNUM* red = nullptr;
  int nw = a->top > b->top ? a->top : b->top;
  if (!BN_get_flags(a, BN_FLAG_SECRET) && a->top > 0 && b->top > a->top) {
    red = frame.get();
    BIGNUM abs_a = bn::secret_view(a), vb = bn::secret_view(b);
    abs_a.neg = 0;
    vb.neg = 0;
    if (red == nullptr || !bn::div(nullptr, red, &vb, &abs_a, ctx)) return 0;
    b = red;
    nw = a->top;
  }
  const int nl = nw > 0 ? limb::count(nw) : 1;
  limb::Buffer<4 * 64> buf(4 * static_cast<size_t>(nl));
  if (!buf.ok()) return 0;
  Limb *u = buf.get(), *v = u + nl, *w = v + nl, *t = w + nl;
  limb::load_masked(u, nl, a);
  limb::load_masked(v, nl, b);
  for (int i = 0; i < nl; i++) w[i] = u[i] | v[i];
  const unsigned twos = limb::ctz_n(w, nl);
  limb::shift_right_secret(u, u, nl, twos, t);
  limb::shift_right_secret(v, v, nl, twos, t);
  const Limb even = ~ct::bit_mask<Limb>(u[0] & 1);  // then v is odd (or both are 0)
  for (int i = 0; i < nl; i++) {
    const Limb x = (u[i] ^ v[i]) & even;
    u[i] ^= x;
    v[i] ^= x;
  }
  limb::gcd_steps(u, v, nullptr, nullptr, nullptr, nl, t);
  limb::shift_left_secret(u, u, nl, twos, t);
  const bool ok = limb::store_masked_fresh(r, u, nl) != 0;
  if (red != nullptr) BN_clear(red);
  return ok ? 1 : 0;
}

// x = b^-1 mod a for an even a and b < a (n limbs each), by way of y =
// a^-1 mod b (see the notes above); all ones when b is odd and coprime to
// a.  t: 7 n limbs.
Limb inverse_even(Limb* x, const Limb* a, const Limb* b, int n, Limb* t) {
  Limb *y = t, *p = t + n, *binv = t + 3 * n, *s = t + 4 * n;
  const Limb odd = ct::bit_mask<Limb>(b[0] & 1);
  const Limb coprime = limb::inverse_odd(y, b, a, n, p);
  limb::mul_rows(p, a, n, y, n);
  Limb borrow = 1;  // a y - 1, mod 2^(64 n)
  for (int i = 0; i < n; i++) {
    const Limb v = p[i];
    p[i] = v - borrow;
    borrow = ct::lt_mask(v, borrow) & 1;
  }
  limb::inverse_2adic(binv, b, n, s);
  limb::mul_rows(s, p, n, binv, n);  // k, in the low n limbs
  limb::sub_n(x, a, s, n);
  const Limb one = limb::is_one_n(b, n);  // y is 0 then: 1 is its own inverse
  for (int i = 0; i < n; i++) x[i] = ct::select<Limb>(one, i == 0, x[i]);
  return odd & coprime;
}

// The inverse for a secret a or n, into R: a reduced modulo |n| first unless
// it is non-negative and has fewer words (sign and word count are public).
bool inverse_secret(BIGNUM* R, const BIGNUM* a, const BIGNUM* n, BN_CTX* ctx) {
  bn::Frame frame(ctx);
  BIGNUM* red = frame.get();
  if (red == nullptr) return false;
  BIGNUM abs_n = bn::secret_view(n);
  abs_n.neg = 0;
  const BIGNUM* b = a;
  if (a->neg || a->top >= n->top) {
    const BIGNUM va = bn::secret_view(a);
    if (!BN_nnmod(red, &va, &abs_n, ctx)) return false;
    b = red;
  }
  const int nl = limb::count(n->top);
  // |n|, a, the result and the scratch of the even case (7 nl).
  limb::Buffer<10 * 64> buf(10 * static_cast<size_t>(nl));
  bool ok = buf.ok();
  if (ok) {
    Limb *A = buf.get(), *B = A + nl, *x = B + nl, *t = x + nl;
    limb::load_masked(A, nl, n);
    limb::load_masked(B, nl, b);
    const Limb found =
        BN_is_odd(n) ? limb::inverse_odd(x, A, B, nl, t) : inverse_even(x, A, B, nl, t);
    if (ct::declassify(found) == 0) {
      BNerr(BN_F_BN_MOD_INVERSE_NO_BRANCH, BN_R_NO_INVERSE);
      ok = false;
    } else {
      ok = limb::store_masked_fresh(R, x, nl) != 0;
    }
  }
  BN_clear(red);
  return ok;
}

// (2 | x) by x mod 8.
constexpr int kTab[8] = {0, 1, 0, -1, 0, -1, 0, 1};

}  // namespace

/* see morvane/bn.h */
int BN_gcd(BIGNUM* r, const BIGNUM* in_a, const BIGNUM* in_b, BN_CTX* ctx) {
  if (BN_get_flags(in_a, BN_FLAG_SECRET) || BN_get_flags(in_b, BN_FLAG_SECRET))
    return gcd_secret(r, in_a, in_b, ctx);
  bn::Frame frame(ctx);
  BIGNUM *a = frame.get(), *b = frame.get();
  if (b == nullptr || BN_copy(a, in_a) == nullptr || BN_copy(b, in_b) == nullptr) return 0;
  a->neg = 0;
  b->neg = 0;
  if (BN_cmp(a, b) < 0) BN_swap(a, b);
  BIGNUM* t = euclid(a, b);
  return t != nullptr && BN_copy(r, t) != nullptr;
}

BIGNUM* BN_mod_inverse(BIGNUM* in, const BIGNUM* a, const BIGNUM* n, BN_CTX* ctx) {
  const bool secret = BN_get_flags(a, BN_FLAG_SECRET) || BN_get_flags(n, BN_FLAG_SECRET);
  if (BN_is_zero(n)) {
    BNerr(secret ? BN_F_BN_MOD_INVERSE_NO_BRANCH : BN_F_BN_MOD_INVERSE, BN_R_DIV_BY_ZERO);
    return nullptr;
  }
  if (!secret) return mod_inverse(in, a, n, ctx);
  BIGNUM* R = in != nullptr ? in : BN_new();
  if (R == nullptr) return nullptr;
  if (inverse_secret(R, a, n, ctx)) return R;
  if (in == nullptr) BN_free(R);
  return nullptr;
}

int BN_kronecker(const BIGNUM* a, const BIGNUM* b, BN_CTX* ctx) {
  bn::Frame frame(ctx);
  BIGNUM *A = frame.get(), *B = frame.get();
  if (B == nullptr || BN_copy(A, a) == nullptr || BN_copy(B, b) == nullptr) return -2;
  if (BN_is_zero(B)) return BN_abs_is_word(A, 1) ? 1 : 0;
  if (!BN_is_odd(A) && !BN_is_odd(B)) return 0;
  int v = 0;
  while (!BN_is_bit_set(B, v)) v++;
  if (v > 0 && !BN_rshift(B, B, v)) return -2;
  int k = (v & 1) ? (A->top == 0 ? 0 : kTab[A->d[0] & 7]) : 1;
  if (B->neg) {
    B->neg = 0;
    if (A->neg) k = -k;
  }
  while (!BN_is_zero(A)) {
    v = 0;
    while (!BN_is_bit_set(A, v)) v++;
    if (v > 0 && !BN_rshift(A, A, v)) return -2;
    if (v & 1) k *= kTab[B->d[0] & 7];
    const BN_ULONG alow = A->neg ? ~A->d[0] : A->d[0];
    if (alow & B->d[0] & 2) k = -k;
    if (!BN_nnmod(B, B, A, ctx)) return -2;
    BN_swap(A, B);
    A->neg = 0;  // the remainder is non-negative; B = |A|
    B->neg = 0;
  }
  return BN_is_one(B) ? k : 0;
}
