// Squaring: the schoolbook and Karatsuba vector squares of words, and BN_sqr
// on 64-bit limbs (bn/limbs.h).
//
// Implementation notes: the schoolbook square forms each cross product once
// (the triangle above the diagonal), doubles the vector and adds the diagonal
// squares.  The recursive square uses a^2 = hh B^2 + (ll + hh - d^2) B + ll
// with d = |a_low - a_high|, so its middle term is never negative.

#include <morvane/bn.h>

#include "bn/internal.h"
#include "bn/limbs.h"
#include "internal/ct.h"

namespace morvane::bn {

void sqr_normal(BN_ULONG* r, const BN_ULONG* a, int n, BN_ULONG* tmp) noexcept {
  if (n <= 0) return;
  const int max = 2 * n;
  r[0] = r[max - 1] = 0;
  if (n > 1) r[n] = mul_words(r + 1, a + 1, n - 1, a[0]);
  for (int i = 1; i <= n - 2; i++)
    r[n + i] = mul_add_words(r + 2 * i + 1, a + i + 1, n - 1 - i, a[i]);
  add_words(r, r, r, max);
  sqr_words(tmp, a, n);
  add_words(r, r, tmp, max);
}

void sqr_recursive(BN_ULONG* r, const BN_ULONG* a, int n2, BN_ULONG* t) noexcept {
  if (n2 == 4) {
    sqr_comba4(r, a);
    return;
  }
  if (n2 == 8) {
    sqr_comba8(r, a);
    return;
  }
  if (n2 < 16) {
    sqr_normal(r, a, n2, t);
    return;
  }
  const int n = n2 / 2;
  const int c1 = bn_cmp_words(a, a + n, n);
  BN_ULONG* p = t + 2 * n2;
  if (c1 == 0) {
    zero_words(t + n2, n2);
  } else {
    if (c1 > 0) {
      sub_words(t, a, a + n, n);
    } else {
      sub_words(t, a + n, a, n);
    }
    sqr_recursive(t + n2, t, n, p);
  }
  sqr_recursive(r, a, n, p);
  sqr_recursive(r + n2, a + n, n, p);
  int c = static_cast<int>(add_words(t, r, r + n2, n2));
  c -= static_cast<int>(sub_words(t + n2, t, t + n2, n2));
  c += static_cast<int>(add_words(r + n, r + n, t + n2, n2));
  if (c != 0) ripple_carry(r + n + n2, static_cast<BN_ULONG>(c));
}

namespace {

// w[0 .. top) = a^2 for a of al words, n = count(al) limbs beyond the
// unrolled kernels: Karatsuba or rows on limbs (apart, so that the short
// squares keep a small stack frame).
// With `in_place` (whole limbs, w another number's words), a is read in place
// and the square written straight into w where the words are placed as
// limbs.
[[gnu::noinline]] int sqr_long(BN_ULONG* w, int top, const BIGNUM* a, int n, bool in_place) {
  if (in_place) {
    limb::Buffer<320> work(limb::scratch_limbs(n));
    if (!work.ok()) return 0;
    if (limb::mul_square_words(w, a->d, a->d, n, work.get())) return 1;
  }
  limb::Buffer<640> buf(3 * static_cast<size_t>(n) + limb::scratch_limbs(n));
  if (!buf.ok()) return 0;
  limb::Limb *x = buf.get(), *p = x + n;
  limb::load(x, a->d, a->top);
  limb::mul_square(p, x, x, n, p + 2 * n);
  limb::store(w, p, top);
  return 1;
}

}  // namespace

int sqr(BIGNUM* r, const BIGNUM* a, BN_CTX*) {
  const int al = a->top;
  if (al == 0) {
    r->top = 0;
    r->neg = 0;
    return 1;
  }
  const int n = limb::count(al), max = 2 * al;
  // The top word's square fits in one word when it is below 2^16, found by
  // a mask: a secret's length stays out of the branches.  A fresh r takes
  // all 2 al words (the top one then zero); an aliased r grows as a copy of
  // the square would (a grown as r is still a).
  const int top = max - static_cast<int>(ct::zero_mask(a->d[al - 1] >> 16) & 1);
  const int put = r == a ? top : max;
  if (wexpand(r, put) == nullptr) return 0;
  if (n > limb::kFixedLimbs) {
    // On the MULX/ADCX/ADOX kernel, 16 limbs in place where r is another
    // number; else on limbs.
    const bool in_place =
        r != a && al % 2 == 0 && n == 16 && limb::mul_words(r->d, put, a->d, a->d, n);
    if (!in_place && !sqr_long(r->d, put, a, n, r != a && al % 2 == 0)) return 0;
  } else if (r == a || al % 2 != 0 || !limb::mul_words(r->d, put, a->d, a->d, n)) {
    // The unrolled kernels on a copy (so r may be a); whole limbs are read
    // in place where the kernel allows and r is another number.
    if (al < 1 || al > 2 * limb::kFixedLimbs) __builtin_unreachable();
    limb::Limb x[limb::kFixedLimbs];
    limb::load(x, a->d, al);
    limb::fixed_mul(r->d, put, x, x, n);
    limb::clear(x, n);
  }
  r->top = top;
  r->neg = 0;
  return 1;
}

}  // namespace morvane::bn

namespace bn = morvane::bn;

/* see morvane/bn.h */
int BN_sqr(BIGNUM* r, const BIGNUM* a, BN_CTX* ctx) {
  return bn::sqr(r, a, ctx);
}

void bn_sqr_normal(BN_ULONG* r, const BN_ULONG* a, int n, BN_ULONG* tmp) {
  bn::sqr_normal(r, a, n, tmp);
}

void bn_sqr_recursive(BN_ULONG* r, const BN_ULONG* a, int n2, BN_ULONG* t) {
  bn::sqr_recursive(r, a, n2, t);
}
