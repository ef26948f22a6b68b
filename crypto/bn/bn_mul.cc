// Multiplication: the schoolbook and Karatsuba vector products, the low and
// high half-products, unequal-length vector sums, and BN_mul's choice of
// method by operand size.
//
// Implementation notes: Karatsuba writes a * b = hh B^2 + (ll + hh + m) B + ll
// with B = 2^(32n), ll and hh the products of the low and high halves and the
// middle m = (a_low - a_high)(b_high - b_low), formed from the magnitudes of
// the two differences and a sign.  The middle sum ll + hh + m equals
// a_low b_high + a_high b_low, so the carry left after the combination is
// never negative.  Each recursion level takes the front of the scratch vector
// and passes the rest down; the caller sizes it once (4j or 8j words), so the
// recursion never allocates.  BN_mul itself runs on 64-bit limbs (bn/limbs.h)
// and keeps from these word routines only the room they would give its
// result.

#include <morvane/bn.h>

#include "bn/internal.h"
#include "bn/limbs.h"
#include "internal/ct.h"
#include "internal/wipe.h"

namespace morvane::bn {

namespace {

// Adds (c > 0) or subtracts (c < 0) |c| at r[i], rippling while a carry or
// borrow remains, but never past r[end - 1] (the value is taken modulo the
// words up to end).
void ripple_signed(BN_ULONG* r, int i, int end, int c) noexcept {
  BN_ULONG lc = static_cast<BN_ULONG>(c > 0 ? c : -c);
  for (; lc != 0 && i < end; i++) {
    const BN_ULONG w = r[i];
    if (c > 0) {
      r[i] = w + lc;
      lc = r[i] < lc;
    } else {
      r[i] = w - lc;
      lc = w < lc;
    }
  }
}

// Karatsuba differences of halves of n (and tna, tnb) words into t[0 .. n)
// and t[n .. 2n); returns the sign of the middle product (true: negative).
// `swap_a`: t = a_high - a_low instead of a_low - a_high; likewise `swap_b`
// gives b_low - b_high instead of b_high - b_low.
bool differences(BN_ULONG* t, const BN_ULONG* a, const BN_ULONG* b, int n, int tna, int tnb,
                 bool swap_a, bool swap_b) noexcept {
  if (swap_a) {
    bn_sub_part_words(t, a + n, a, tna, tna - n);
  } else {
    bn_sub_part_words(t, a, a + n, tna, n - tna);
  }
  if (swap_b) {
    bn_sub_part_words(t + n, b, b + n, tnb, n - tnb);
  } else {
    bn_sub_part_words(t + n, b + n, b, tnb, tnb - n);
  }
  // (a_low - a_high)(b_high - b_low): each exchange flips the sign.
  return swap_a != swap_b;
}

// Steps 5 and 6 of the Karatsuba combination: r[0 .. 2 n2) holds ll and hh,
// t[n2 .. 2 n2) the middle product's magnitude (negative when `neg`).
void combine(BN_ULONG* r, BN_ULONG* t, int n, bool neg) noexcept {
  const int n2 = 2 * n;
  int c = static_cast<int>(add_words(t, r, r + n2, n2));
  if (neg) {
    c -= static_cast<int>(sub_words(t + n2, t, t + n2, n2));
  } else {
    c += static_cast<int>(add_words(t + n2, t + n2, t, n2));
  }
  c += static_cast<int>(add_words(r + n, r + n, t + n2, n2));
  if (c != 0) ripple_carry(r + n + n2, static_cast<BN_ULONG>(c));
}

}  // namespace

void mul_normal(BN_ULONG* r, const BN_ULONG* a, int na, const BN_ULONG* b, int nb) noexcept {
  if (na < nb) {
    const int ni = na;
    na = nb;
    nb = ni;
    const BN_ULONG* p = a;
    a = b;
    b = p;
  }
  if (nb <= 0) {
    mul_words(r, a, na, 0);
    return;
  }
  r[na] = mul_words(r, a, na, b[0]);
  for (int i = 1; i < nb; i++) r[na + i] = mul_add_words(r + i, a, na, b[i]);
}

void mul_recursive(BN_ULONG* r, const BN_ULONG* a, const BN_ULONG* b, int n2, int dna, int dnb,
                   BN_ULONG* t) noexcept {
  const int n = n2 / 2, tna = n + dna, tnb = n + dnb;
  if (n2 == 8 && dna == 0 && dnb == 0) {
    mul_comba8(r, a, b);
    return;
  }
  if (n2 < 16) {
    mul_normal(r, a, n2 + dna, b, n2 + dnb);
    if (dna + dnb < 0) zero_words(r + 2 * n2 + dna + dnb, -(dna + dnb));
    return;
  }
  // c1: a_low against a_high; c2: b_high against b_low.
  const int c1 = bn_cmp_part_words(a, a + n, tna, n - tna);
  const int c2 = bn_cmp_part_words(b + n, b, tnb, tnb - n);
  const bool zero = c1 == 0 || c2 == 0;
  bool neg = false;
  if (!zero) neg = differences(t, a, b, n, tna, tnb, c1 < 0, c2 < 0);
  BN_ULONG* p = t + 2 * n2;
  if (n == 8 && dna == 0 && dnb == 0) {
    if (zero) {
      zero_words(t + n2, 16);
    } else {
      mul_comba8(t + n2, t, t + n);
    }
    mul_comba8(r, a, b);
    mul_comba8(r + n2, a + n, b + n);
  } else {
    if (zero) {
      zero_words(t + n2, n2);
    } else {
      mul_recursive(t + n2, t, t + n, n, 0, 0, p);
    }
    mul_recursive(r, a, b, n, 0, 0, p);
    mul_recursive(r + n2, a + n, b + n, n, dna, dnb, p);
  }
  combine(r, t, n, neg);
}

void mul_part_recursive(BN_ULONG* r, const BN_ULONG* a, const BN_ULONG* b, int n, int tna, int tnb,
                        BN_ULONG* t) noexcept {
  const int n2 = 2 * n;
  if (n < 8) {
    mul_normal(r, a, n + tna, b, n + tnb);
    zero_words(r + n2 + tna + tnb, n2 - tna - tnb);  // r[0 .. 4n) like the other sizes
    return;
  }
  // Equal halves are not special here: one difference is zero, and so is
  // the middle product.  With a's halves equal, b_low - b_high is taken.
  const int c1 = bn_cmp_part_words(a, a + n, tna, n - tna);
  const int c2 = bn_cmp_part_words(b + n, b, tnb, tnb - n);
  const bool neg = differences(t, a, b, n, tna, tnb, c1 < 0, c1 == 0 || c2 < 0);
  if (n == 8) {
    mul_comba8(t + n2, t, t + n);
    mul_comba8(r, a, b);
    mul_normal(r + n2, a + n, tna, b + n, tnb);
    zero_words(r + n2 + tna + tnb, n2 - tna - tnb);
  } else {
    BN_ULONG* p = t + 2 * n2;
    mul_recursive(t + n2, t, t + n, n, 0, 0, p);
    mul_recursive(r, a, b, n, 0, 0, p);
    int i = n / 2;
    const int j = (tna > tnb ? tna : tnb) - i;
    if (j == 0) {
      mul_recursive(r + n2, a + n, b + n, i, tna - i, tnb - i, p);
      zero_words(r + n2 + 2 * i, n2 - 2 * i);
    } else if (j > 0) {
      mul_part_recursive(r + n2, a + n, b + n, i, tna - i, tnb - i, p);
      zero_words(r + n2 + tna + tnb, n2 - tna - tnb);
    } else {
      zero_words(r + n2, n2);
      if (tna < 16 && tnb < 16) {
        mul_normal(r + n2, a + n, tna, b + n, tnb);
      } else {
        for (;;) {
          i /= 2;
          if (i < tna || i < tnb) {
            mul_part_recursive(r + n2, a + n, b + n, i, tna - i, tnb - i, p);
            break;
          }
          if (i == tna || i == tnb) {
            mul_recursive(r + n2, a + n, b + n, i, tna - i, tnb - i, p);
            break;
          }
        }
      }
    }
  }
  combine(r, t, n, neg);
}

// The room the word algorithms give a fresh product, kept as it shows in
// dmax: 16 words for 8 x 8, 4j or 8j for Karatsuba, al + bl otherwise.
int product_room(int al, int bl) noexcept {
  if (al == 8 && bl == 8) return 16;
  if (al >= 16 && bl >= 16 && al - bl >= -1 && al - bl <= 1) {
    const int j = 1 << (31 - __builtin_clz(static_cast<unsigned>(bl == al + 1 ? bl : al)));
    return (al > j || bl > j) ? 8 * j : 4 * j;
  }
  return al + bl;
}

// 1 when a product's top word is zero, else 0, by a mask: the length of a
// product of secrets stays out of the branches (a fresh result's room does
// not depend on it).
BN_ULONG zero_top(BN_ULONG w) {
  return ct::zero_mask(w) & 1;
}

// r = the product p of a and b: the top word of a product may be zero
// (never two).  Stored in r directly, the operands having been copied; an
// aliased r grows as a copy of the stripped product would.
int put_product(BIGNUM* r, const BIGNUM* a, const BIGNUM* b, const limb::Limb* p) {
  const int al = a->top, bl = b->top, top = al + bl, neg = a->neg ^ b->neg;
  const auto high = static_cast<BN_ULONG>(p[(top - 1) / 2] >> (32 * ((top - 1) & 1)));
  const int used = top - static_cast<int>(zero_top(high));
  const bool aliased = r == a || r == b;
  if (wexpand(r, aliased ? used : product_room(al, bl)) == nullptr) return 0;
  limb::store(r->d, p, aliased ? used : top);
  r->top = used;
  r->neg = neg;  // used >= 1
  return 1;
}

// r = a b for operands of la and lb limbs beyond the unrolled kernels:
// Karatsuba or rows on limbs (apart, so that the short products keep a
// small stack frame).
[[gnu::noinline]] int mul_long(BIGNUM* r, const BIGNUM* a, const BIGNUM* b, int la, int lb) {
  const int al = a->top, bl = b->top;
  const int lmax = la > lb ? la : lb, lmin = la + lb - lmax;
  // Nearly equal lengths go to Karatsuba or the radix-2^52 product,
  // zero-extended to the longer one.
  const bool balanced =
      (lmin >= limb::karatsuba_limbs(false) || limb::mul_ifma_serves(lmax)) && 8 * lmin >= 7 * lmax;
  const int na = balanced ? lmax : la, nb = balanced ? lmax : lb;
  const size_t scratch = balanced ? limb::scratch_limbs(lmax) : 0;
  if (balanced && al == bl && al % 2 == 0 && r != a && r != b) {
    // Whole limbs of equal lengths: read in place and the product written
    // straight into r, where the words are placed as limbs.
    if (wexpand(r, product_room(al, bl)) == nullptr) return 0;
    limb::Buffer<320> work(scratch);
    if (!work.ok()) return 0;
    if (limb::mul_square_words(r->d, a->d, b->d, la, work.get())) {
      const int top = 2 * al;
      r->top = top - static_cast<int>(zero_top(r->d[top - 1]));
      r->neg = a->neg ^ b->neg;
      return 1;
    }
  }
  limb::Buffer<640> buf(2 * static_cast<size_t>(na + nb) + scratch);
  if (!buf.ok()) return 0;
  limb::Limb *x = buf.get(), *y = x + na, *p = y + nb;
  x[na - 1] = y[nb - 1] = 0;
  limb::load(x, a->d, al);
  limb::load(y, b->d, bl);
  if (balanced) {
    for (int i = la; i < na; i++) x[i] = 0;
    for (int i = lb; i < nb; i++) y[i] = 0;
    limb::mul_square(p, x, y, lmax, p + 2 * lmax);
  } else {
    limb::mul_rows(p, x, la, y, lb);
  }
  return put_product(r, a, b, p);
}

int mul(BIGNUM* r, const BIGNUM* a, const BIGNUM* b, BN_CTX*) {
  const int al = a->top, bl = b->top;
  if (al == 0 || bl == 0) {
    r->top = 0;
    r->neg = 0;
    return 1;
  }
  const int la = limb::count(al), lb = limb::count(bl);
  const bool rows = la == 16 || la == 24 || la == 32;  // fixed_rows' sizes
  if (al == bl && al % 2 == 0 && (la <= limb::kFixedLimbs || (rows && limb::adx_kernel())) &&
      r != a && r != b) {
    // Whole limbs read in place, where the kernel allows.
    const int top = 2 * al;
    if (wexpand(r, product_room(al, bl)) == nullptr) return 0;
    if (limb::mul_words(r->d, top, a->d, b->d, la)) {
      r->top = top - static_cast<int>(zero_top(r->d[top - 1]));
      r->neg = a->neg ^ b->neg;
      return 1;
    }
  }
  if (la == lb && la <= limb::kFixedLimbs) {
    // Short equal lengths: the unrolled kernels, on the stack.
    if (al < 1 || bl < 1 || al > 2 * limb::kFixedLimbs || bl > 2 * limb::kFixedLimbs)
      __builtin_unreachable();
    limb::Limb x[limb::kFixedLimbs], y[limb::kFixedLimbs];
    limb::load(x, a->d, al);
    if (a != b) limb::load(y, b->d, bl);
    const int top = al + bl;  // the product's top word may be zero, never two
    const limb::Limb* yy = a == b ? x : y;
    int ok = 1, used = 0;
    if (r != a && r != b) {  // straight into r, with the room of a fresh product
      ok = wexpand(r, product_room(al, bl)) != nullptr;
      if (ok) {
        limb::fixed_mul(r->d, top, x, yy, la);
        used = top - static_cast<int>(zero_top(r->d[top - 1]));
      }
    } else {  // r is an operand (copied): grown only to what the product needs
      BN_ULONG w[4 * limb::kFixedLimbs];
      limb::fixed_mul(w, top, x, yy, la);
      used = top - static_cast<int>(zero_top(w[top - 1]));
      ok = wexpand(r, used) != nullptr;
      for (int i = 0; ok && i < used; i++) r->d[i] = w[i];
      internal::wipe_scratch(w, sizeof w);
    }
    if (ok) {
      r->top = used;
      r->neg = a->neg ^ b->neg;
    }
    limb::clear(x, la);
    if (a != b) limb::clear(y, la);
    return ok;
  }
  return mul_long(r, a, b, la, lb);
}

}  // namespace morvane::bn

namespace bn = morvane::bn;

/* see morvane/bn.h */
int BN_mul(BIGNUM* r, const BIGNUM* a, const BIGNUM* b, BN_CTX* ctx) {
  return bn::mul(r, a, b, ctx);
}

void bn_mul_normal(BN_ULONG* r, BN_ULONG* a, int na, BN_ULONG* b, int nb) {
  bn::mul_normal(r, a, na, b, nb);
}

void bn_mul_recursive(BN_ULONG* r, BN_ULONG* a, BN_ULONG* b, int n2, int dna, int dnb,
                      BN_ULONG* t) {
  bn::mul_recursive(r, a, b, n2, dna, dnb, t);
}

void bn_mul_part_recursive(BN_ULONG* r, BN_ULONG* a, BN_ULONG* b, int n, int tna, int tnb,
                           BN_ULONG* t) {
  if (n <= 0) return;  // no halves: nothing to multiply
  bn::mul_part_recursive(r, a, b, n, tna, tnb, t);
}

void bn_mul_low_normal(BN_ULONG* r, BN_ULONG* a, BN_ULONG* b, int n) {
  bn::mul_words(r, a, n, b[0]);
  for (int i = 1; i < n; i++) bn::mul_add_words(r + i, a, n - i, b[i]);
}

void bn_mul_low_recursive(BN_ULONG* r, BN_ULONG* a, BN_ULONG* b, int n2, BN_ULONG* t) {
  const int n = n2 / 2;
  bn::mul_recursive(r, a, b, n, 0, 0, t);
  // The low halves of the cross products a_low b_high and a_high b_low.
  if (n >= 32) {
    bn_mul_low_recursive(t, a, b + n, n, t + n2);
    bn::add_words(r + n, r + n, t, n);
    bn_mul_low_recursive(t, a + n, b, n, t + n2);
    bn::add_words(r + n, r + n, t, n);
  } else {
    bn_mul_low_normal(t, a, b + n, n);
    bn_mul_low_normal(t + n, a + n, b, n);
    bn::add_words(r + n, r + n, t, n);
    bn::add_words(r + n, r + n, t + n, n);
  }
}

// With B = 2^(32n), a b = hh B^2 + (ll + hh + m) B + ll.  The low product's
// upper half ll_h follows from l: l[n .. 2n) = (ll_l + hh + m + ll_h) mod B,
// and the high half of the product is hh + ll_h + floor(S / B) with
// S = ll_l + ll_h + hh + m (never negative).  A null l stands for zeros.
void bn_mul_high(BN_ULONG* r, BN_ULONG* a, BN_ULONG* b, BN_ULONG* l, int n2, BN_ULONG* t) {
  const int n = n2 / 2;
  const int c1 = bn_cmp_words(a, a + n, n), c2 = bn_cmp_words(b + n, b, n);
  const bool zero = c1 == 0 || c2 == 0;
  bool neg = false;
  if (!zero) {
    // r[0 .. n) = |a_low - a_high|, r[n .. 2n) = |b_high - b_low|.
    if (c1 > 0) {
      bn::sub_words(r, a, a + n, n);
    } else {
      bn::sub_words(r, a + n, a, n);
    }
    if (c2 > 0) {
      bn::sub_words(r + n, b + n, b, n);
    } else {
      bn::sub_words(r + n, b, b + n, n);
    }
    neg = (c1 > 0) != (c2 > 0);
  }
  // t[0 .. n2) = |m|; r[0 .. n2) = hh.
  if (zero) {
    bn::zero_words(t, n2);
  } else if (n == 8) {
    bn::mul_comba8(t, r, r + n);
  } else {
    bn::mul_recursive(t, r, r + n, n, 0, 0, t + n2);
  }
  if (n == 8) {
    bn::mul_comba8(r, a + n, b + n);
  } else {
    bn::mul_recursive(r, a + n, b + n, n, 0, 0, t + n2);
  }
  BN_ULONG* u = t + n2;        // n words
  BN_ULONG* llh = t + n2 + n;  // n words
  // u = low words of hh + ll_l +- m; ll_h = l_high - u.
  if (l != nullptr) {
    bn::add_words(u, r, l, n);
  } else {
    for (int i = 0; i < n; i++) u[i] = r[i];
  }
  if (neg) {
    bn::sub_words(u, u, t, n);
  } else {
    bn::add_words(u, u, t, n);
  }
  if (l != nullptr) {
    bn::sub_words(llh, l + n, u, n);
  } else {
    for (int i = 0; i < n; i++) llh[i] = 0 - u[i];
  }
  // c1: the carry out of the low n words of S.
  int c = 0;
  if (l != nullptr) {
    c = static_cast<int>(bn::add_words(u, llh, l, n));
  } else {
    for (int i = 0; i < n; i++) u[i] = llh[i];
  }
  c += static_cast<int>(bn::add_words(u, u, r, n));
  if (neg) {
    c -= static_cast<int>(bn::sub_words(u, u, t, n));
  } else {
    c += static_cast<int>(bn::add_words(u, u, t, n));
  }
  // r[0 .. n) = hh_low + ll_h + hh_high +- m_high, its carry ch into r[n].
  int ch = static_cast<int>(bn::add_words(r, r, llh, n));
  ch += static_cast<int>(bn::add_words(r, r, r + n, n));
  if (neg) {
    ch -= static_cast<int>(bn::sub_words(r, r, t + n, n));
  } else {
    ch += static_cast<int>(bn::add_words(r, r, t + n, n));
  }
  bn::ripple_signed(r, 0, n2, c);
  bn::ripple_signed(r, n, n2, ch);
}

BN_ULONG bn_add_part_words(BN_ULONG* r, const BN_ULONG* a, const BN_ULONG* b, int cl, int dl) {
  BN_ULONG c = bn::add_words(r, a, b, cl);
  if (dl == 0) return c;
  r += cl;
  // The longer operand's further words take the carry; the rest are copied.
  const BN_ULONG* rest = dl > 0 ? a + cl : b + cl;
  const int len = dl > 0 ? dl : -dl;
  for (int i = 0; i < len; i++) {
    const BN_ULONG w = rest[i] + c;
    c = w < c;
    r[i] = w;
  }
  return c;
}

BN_ULONG bn_sub_part_words(BN_ULONG* r, const BN_ULONG* a, const BN_ULONG* b, int cl, int dl) {
  BN_ULONG c = bn::sub_words(r, a, b, cl);
  if (dl == 0) return c;
  r += cl;
  if (dl > 0) {  // a's further words less the borrow
    a += cl;
    for (int i = 0; i < dl; i++) {
      const BN_ULONG w = a[i];
      r[i] = w - c;
      c = w < c;
    }
  } else {  // 0 - b - borrow: the borrow is 1 from b's first non-zero word on
    b += cl;
    for (int i = 0; i < -dl; i++) {
      const BN_ULONG w = b[i];
      r[i] = 0 - w - c;
      c |= w != 0;
    }
  }
  return c;
}
