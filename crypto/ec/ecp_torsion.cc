// Products on curves over GF(p) with a point of order 2 (even group order,
// as the cofactor-4 curves secp112r2 and secp128r2): whether a curve has
// one, and the one-term product that keeps the constant-time engine exact
// there.
//
// Implementation notes: the engine's complete formulas (Renes, Costello and
// Batina, after Bosma and Lenstra) fail exactly for sums P + Q with P - Q of
// order 2, which no curve of odd order has.  A point of a curve with such
// points splits uniquely as P = P' + T, P' of odd order and T of 2-power
// order; multiples of P' never differ by a point of order 2, so the engine
// computes k P' exactly, and k T = (k mod 2^f) T is read from the 2^f public
// multiples of T in constant time.  The split is made from public values
// only (P and the group) with the exact windowed arithmetic: with m the odd
// part of h n, T2 = m P has 2-power order 2^f (checked by doubling), T =
// v T2 for v = m^-1 mod 2^f, and P' = P - T, whose order divides m.  Nothing
// rests on the stated h and n being right: when 2^f T2 is not at infinity
// within kMaxTwoPower doublings, the product takes the windowed NAFs
// (exact, but not constant time).

#include <atomic>

#include <morvane/bn.h>
#include <morvane/ec.h>
#include <morvane/err.h>

#include "ec/internal.h"

namespace {

using morvane::ec::Scratch;

// The largest 2-power order taken for the part T (the table's 2^f points).
constexpr int kMaxTwoPower = 4;

// ---- a root of x^3 + a x + b -----------------------------------------------
// Polynomials over GF(p) of degree at most 3, lowest coefficient first.
struct Poly {
  BIGNUM* c[4];
  int deg;  // -1 for the zero polynomial
};

bool poly_get(Poly& q, Scratch& s) {
  for (BIGNUM*& c : q.c) {
    if ((c = s.get()) == nullptr) return false;
    BN_zero(c);
  }
  q.deg = -1;
  return true;
}

void poly_trim(Poly& q) {
  while (q.deg >= 0 && BN_is_zero(q.c[q.deg])) q.deg--;
}

// a = a mod b for b not zero (deg b <= deg a <= 3): 1, 0 on failure, -1
// when b's leading coefficient has no inverse (p is not prime; nothing
// queued).
int poly_mod(Poly& a, const Poly& b, const BIGNUM* p, BIGNUM* t, BIGNUM* inv, BN_CTX* ctx) {
  if (!BN_gcd(inv, b.c[b.deg], p, ctx)) return 0;
  if (!BN_is_one(inv)) return -1;
  if (BN_mod_inverse(inv, b.c[b.deg], p, ctx) == nullptr) return 0;
  while (a.deg >= b.deg) {
    const int shift = a.deg - b.deg;
    if (!BN_mod_mul(t, a.c[a.deg], inv, p, ctx)) return 0;  // the quotient's term
    for (int i = 0; i <= b.deg; i++) {
      BIGNUM* c = a.c[i + shift];
      BN_CTX_start(ctx);
      BIGNUM* u = BN_CTX_get(ctx);
      const bool ok =
          u != nullptr && BN_mod_mul(u, t, b.c[i], p, ctx) && BN_mod_sub(c, c, u, p, ctx);
      BN_CTX_end(ctx);
      if (!ok) return 0;
    }
    poly_trim(a);
  }
  return 1;
}

// 1 when x^3 + a x + b has a root modulo the odd prime p, that is when
// gcd(x^p - x, x^3 + a x + b) is not 1; 0 when not, -1 on failure (errors
// queued), 2 when p shows itself composite (an element without inverse;
// nothing queued).  x^p is found modulo the cubic (x^3 = -a x - b) by
// squaring and multiplying.
int cubic_has_root(const BIGNUM* p, const BIGNUM* a, const BIGNUM* b, BN_CTX* ctx) {
  Scratch s(ctx);
  Poly f, g, h;
  BIGNUM* t0 = s.get();
  BIGNUM* t1 = s.get();
  BIGNUM* t2 = s.get();
  BIGNUM* t3 = s.get();
  if (t3 == nullptr || !poly_get(f, s) || !poly_get(g, s) || !poly_get(h, s)) return -1;
  BN_CTX* c = s.ctx();
  auto mul = [&](BIGNUM* r, const BIGNUM* x, const BIGNUM* y) {
    return BN_mod_mul(r, x, y, p, c) == 1;
  };
  auto sub = [&](BIGNUM* r, const BIGNUM* x, const BIGNUM* y) {
    return BN_mod_sub(r, x, y, p, c) == 1;
  };
  auto add = [&](BIGNUM* r, const BIGNUM* x, const BIGNUM* y) {
    return BN_mod_add(r, x, y, p, c) == 1;
  };
  // g = x; then, bit after bit of p below its top: g = g^2, and g = x g for
  // a one bit.  (c0 + c1 x + c2 x^2)^2 = c0^2 - 2 b c1 c2
  //   + (2 c0 c1 - 2 a c1 c2 - b c2^2) x + (c1^2 + 2 c0 c2 - a c2^2) x^2;
  // x (c0 + c1 x + c2 x^2) = -b c2 + (c0 - a c2) x + c1 x^2.
  if (!BN_one(g.c[1])) return -1;
  BIGNUM** q = g.c;
  for (int i = BN_num_bits(p) - 2; i >= 0; i--) {
    const bool ok = mul(t0, q[1], q[2]) && add(t0, t0, t0) &&                    // 2 c1 c2
                    mul(t1, q[2], q[2]) &&                                       // c2^2
                    mul(t2, q[0], q[0]) && mul(t3, b, t0) && sub(t2, t2, t3) &&  // d0
                    mul(t3, a, t0) && mul(t0, q[0], q[1]) && add(t0, t0, t0) && sub(t0, t0, t3) &&
                    mul(t3, b, t1) && sub(t0, t0, t3) &&  // d1
                    mul(t3, a, t1) && mul(t1, q[1], q[1]) && sub(t1, t1, t3) &&
                    mul(t3, q[0], q[2]) && add(t3, t3, t3) && add(t1, t1, t3) &&  // d2
                    BN_copy(q[0], t2) != nullptr && BN_copy(q[1], t0) != nullptr &&
                    BN_copy(q[2], t1) != nullptr;
    if (!ok) return -1;
    if (BN_is_bit_set(p, i)) {
      const bool ok2 = mul(t0, b, q[2]) && BN_sub(t0, p, t0) && BN_nnmod(t0, t0, p, c) &&
                       mul(t1, a, q[2]) && sub(t1, q[0], t1) && BN_copy(q[2], q[1]) != nullptr &&
                       BN_copy(q[0], t0) != nullptr && BN_copy(q[1], t1) != nullptr;
      if (!ok2) return -1;
    }
  }
  // h = x^p - x, then Euclid's algorithm on (f, h).
  if (!BN_copy(h.c[0], g.c[0]) || !sub(h.c[1], g.c[1], BN_value_one()) || !BN_copy(h.c[2], g.c[2]))
    return -1;
  h.deg = 2;
  poly_trim(h);
  if (!BN_copy(f.c[0], b) || !BN_copy(f.c[1], a) || !BN_one(f.c[3])) return -1;
  f.deg = 3;
  Poly* u = &f;
  Poly* v = &h;
  while (v->deg >= 0) {
    const int reduced = poly_mod(*u, *v, p, t0, t1, c);
    if (reduced != 1) return reduced == 0 ? -1 : 2;
    Poly* w = u;
    u = v;
    v = w;
  }
  return u->deg >= 1 ? 1 : 0;
}

// ---- the split P = P' + T --------------------------------------------------

// Frees the points of an array of count (null entries allowed).
void free_points(EC_POINT* pts[], size_t count) {
  for (size_t i = 0; i < count; i++) EC_POINT_free(pts[i]);
}

}  // namespace

namespace morvane::ec {

int has_order_two_point(const EC_GROUP* group, BN_CTX* ctx) {
  std::atomic_ref<int> slot(const_cast<EC_GROUP*>(group)->order_two);
  const int known = slot.load(std::memory_order_relaxed);
  if (known != 0) return known == 2 ? 1 : 0;
  Scratch s(ctx);
  BIGNUM* p = s.get();
  BIGNUM* a = s.get();
  BIGNUM* b = s.get();
  if (b == nullptr || !EC_GROUP_get_curve_GFp(group, p, a, b, s.ctx())) {
    ECERR(EC_F_EC_POINTS_MUL, ERR_R_EC_LIB);
    return -1;
  }
  bool even = false;
  if (!named_curve_order_parity(p, a, b, &even)) {
    const int root = cubic_has_root(p, a, b, s.ctx());
    if (root < 0) {
      ECERR(EC_F_EC_POINTS_MUL, ERR_R_BN_LIB);
      return -1;
    }
    even = root != 0;  // 2, p not prime: no point of order 2 can be ruled out
  }
  slot.store(even ? 2 : 1, std::memory_order_relaxed);
  return even ? 1 : 0;
}

int torsion_mul(const EC_GROUP* group, EC_POINT* r, const BIGNUM* scalar, size_t num,
                const EC_POINT* points[], const BIGNUM* scalars[], BN_CTX* ctx) {
  const EC_POINT* point = num == 0 ? group->generator : points[0];
  const BIGNUM* k = num == 0 ? scalar : scalars[0];
  Scratch s(ctx);
  BIGNUM* m = s.get();
  BIGNUM* v = s.get();
  EC_POINT* small[1 << kMaxTwoPower] = {};
  EC_POINT* t2 = EC_POINT_new(group);
  EC_POINT* odd = EC_POINT_new(group);
  int ok = 0;
  int f = 0;
  size_t count = 0;
  if (v == nullptr || t2 == nullptr || odd == nullptr) goto done;
  // m: the odd part of h n (h taken as 1 when unknown); T2 = m P.
  if (BN_is_zero(&group->cofactor) ? BN_copy(m, &group->order) == nullptr
                                   : !BN_mul(m, &group->order, &group->cofactor, s.ctx()))
    goto done;
  while (!BN_is_zero(m) && !BN_is_odd(m))
    if (!BN_rshift1(m, m)) goto done;
  {
    const EC_POINT* pts[1] = {point};
    const BIGNUM* ms[1] = {m};
    if (!ec_wNAF_mul(group, t2, nullptr, 1, pts, ms, s.ctx()) || !EC_POINT_copy(odd, t2)) goto done;
  }
  // 2^f: the order of T2, by doubling.
  while (!EC_POINT_is_at_infinity(group, odd) && f <= kMaxTwoPower) {
    if (!EC_POINT_dbl(group, odd, odd, s.ctx())) goto done;
    f++;
  }
  if (f > kMaxTwoPower) {
    // T2 is of no small 2-power order: the stated h n is not a multiple of
    // P's order.  The windowed NAFs are exact on any point.
    ok = ec_wNAF_mul(group, r, scalar, num, points, scalars, s.ctx());
    goto done;
  }
  if (f == 0) {
    // P has odd order: the engine is exact on it as it stands.
    ok = ct_mul(group, r, scalar, num, points, scalars, s.ctx());
    goto done;
  }
  count = size_t{1} << f;
  {
    // T = v T2 with v m = 1 mod 2^f; small[j] = j T; P' = P - T.
    const BN_ULONG low = BN_mod_word(m, static_cast<BN_ULONG>(count));
    BN_ULONG inv = 1;
    while ((inv * low) % count != 1) inv += 2;
    if (!BN_set_word(v, inv)) goto done;
    const EC_POINT* pts[1] = {t2};
    const BIGNUM* vs[1] = {v};
    for (size_t j = 0; j < count; j++) {
      if ((small[j] = EC_POINT_new(group)) == nullptr) goto done;
    }
    if (!EC_POINT_set_to_infinity(group, small[0]) ||
        !ec_wNAF_mul(group, small[1], nullptr, 1, pts, vs, s.ctx()))
      goto done;
    for (size_t j = 2; j < count; j++) {
      if (!EC_POINT_add(group, small[j], small[j - 1], small[1], s.ctx())) goto done;
    }
    if (!EC_POINT_copy(t2, small[1]) || !EC_POINT_invert(group, t2, s.ctx()) ||
        !EC_POINT_add(group, odd, point, t2, s.ctx()))
      goto done;
  }
  ok = ct_mul_torsion(group, r, k, EC_POINT_is_at_infinity(group, odd) ? nullptr : odd, small,
                      count, s.ctx());
done:
  free_points(small, count);
  EC_POINT_free(t2);
  EC_POINT_free(odd);
  return ok;
}

}  // namespace morvane::ec
