// The constant-time engine's per-group record and its fixed-base table for
// the generator: mixed additions (projective + affine), the table's
// construction with one shared inversion, and the fixed-base product k G.
// Built on the field and point arithmetic of ct_arith.h.
//
// Implementation notes: the scalar is read in signed 5-bit windows (the
// Booth digits d_w in [-16, 16] of ct_arith.h, signed_windows(bits) of them
// for a scalar of `bits` bits: 64 N / 5 + 1, or 105 on P-521, whose record
// reduces scalars modulo the order first), and the table holds, for each
// window w, the affine points i 2^(5 w) G for i = 1 .. 16, in the field's
// representation: 16 points of 2 N limbs per window (53,248 bytes for a
// 256-bit field, 118,272 for a 384-bit one, 241,920 for P-521).  k G is
// then the sum of one entry per window with no doubling at all: a mixed
// addition per window, each entry found by a masked scan over the window's
// 16 entries and its y negated by a mask for a negative digit, and a zero
// digit handled by a masked select that keeps the sum (an affine point
// cannot stand for the point at infinity).  The mixed additions are the complete formulas of
// Renes, Costello and Batina (Algorithms 1 and 4) with Z2 = 1 substituted,
// one product fewer each; they stay complete for any projective first
// operand, the point at infinity included, and any affine second operand.
// The generator is public: the table is built in variable time.
#ifndef MORVANE_CRYPTO_EC_ECP_CT_TABLE_H
#define MORVANE_CRYPTO_EC_ECP_CT_TABLE_H

#include <stddef.h>
#include <string.h>

#include <morvane/crypto.h>

#include "ec/ct_arith.h"

namespace morvane::ec::cttable {

using namespace morvane::ec::ctarith;

template <size_t N>
struct AffinePt {
  Fe<N> x, y;  // the field's representation
};

constexpr size_t kFixedEntries = kSignedEntries - 1;  // i 2^(5 w) G for i = 1 .. 16

// The signed 5-bit windows of scalars of `bits` bits (Cache::scalar_bits).
constexpr size_t fixed_windows(size_t bits) {
  return signed_windows(bits);
}

// r = p + (x2 : y2 : 1) for any a (Algorithm 1 with Z2 = 1); r may alias p.
template <size_t N>
void point_add_mixed(Pt<N>& r, const Pt<N>& p, const AffinePt<N>& q, const Field<N>& f) {
  Fe<N> t0, t1, t2, t3, t4, t5;
  mul(t0, p.x, q.x, f);
  mul(t1, p.y, q.y, f);
  t2 = p.z;
  add(t3, p.x, p.y, f);
  add(t4, q.x, q.y, f);
  mul(t3, t3, t4, f);
  add(t4, t0, t1, f);
  sub(t3, t3, t4, f);
  mul(t4, q.x, p.z, f);
  add(t4, t4, p.x, f);
  mul(t5, q.y, p.z, f);
  add(t5, t5, p.y, f);
  add_finish(r, t0, t1, t2, t3, t4, t5, f);
}

// r = p + (x2 : y2 : 1) for a = -3 (Algorithm 4 with Z2 = 1); r may alias p.
template <size_t N>
void point_add_mixed_m3(Pt<N>& r, const Pt<N>& p, const AffinePt<N>& q, const Field<N>& f) {
  Fe<N> t0, t1, t2, t3, t4, y3;
  mul(t0, p.x, q.x, f);
  mul(t1, p.y, q.y, f);
  t2 = p.z;
  add(t3, p.x, p.y, f);
  add(t4, q.x, q.y, f);
  mul(t3, t3, t4, f);
  add(t4, t0, t1, f);
  sub(t3, t3, t4, f);
  mul(t4, q.y, p.z, f);
  add(t4, t4, p.y, f);
  mul(y3, q.x, p.z, f);
  add(y3, y3, p.x, f);
  add_finish_m3(r, t0, t1, t2, t3, t4, y3, f);
}

template <size_t N>
bool fe_is_zero(const Fe<N>& a, const Field<N>& f) {
  return fe_zero_mask(a, f) != 0;
}

// The group's record: the field's constants (Montgomery form), the order's
// when it has as many limbs, and the generator's table once a generator
// product has asked for it.  `table` is null until built, kNoTable when the
// generator cannot have one (an entry at infinity: an order with a small
// factor), else AffinePt<N>[fixed_windows(scalar_bits) * 16], window after
// window.  Both pointers are published with release order and read with
// acquire order; a thread that loses the race to publish frees what it
// built and uses the winner's.  The table costs about fifteen generator
// products to build, so a group's first generator product goes without it
// (a group made for one product, as a key made by name for one key
// generation, never pays for it).
struct CacheHead {
  size_t limbs;  // N
  void* table;
  int generator_uses;  // generator products asked for so far (atomic_ref)
};

template <size_t N>
struct Cache {
  CacheHead head;
  Field<N> f;
  Field<N> order;  // the group's order as a Montgomery modulus, when has_order
  bool has_order;  // the order is odd and has N limbs
  // The bits of scalar the one-term products and the table read: 64 N, or
  // the order's length on a group whose scalars are reduced modulo the
  // order first (P-521's curve: of prime order, so the result is the same).
  size_t scalar_bits;
};

inline constinit const char kNoTableMark = 0;
inline constinit void* const kNoTable = const_cast<char*>(&kNoTableMark);

// Fills t (`windows` windows of 16 points) from the affine generator (gx,
// gy): 1, or 0 on a malloc failure, -1 when an entry is the point at
// infinity.
template <size_t N>
int build_fixed_table(AffinePt<N>* t, const Fe<N>& gx, const Fe<N>& gy, const Field<N>& f,
                      size_t windows) {
  const size_t count = windows * kFixedEntries;
  auto* proj = static_cast<Pt<N>*>(MORVANE_malloc(count * sizeof(Pt<N>)));
  auto* prefix = static_cast<Fe<N>*>(MORVANE_malloc(count * sizeof(Fe<N>)));
  int ok = proj != nullptr && prefix != nullptr;
  if (ok) {
    Pt<N> base{gx, gy, f.one};
    const bool m3 = f.a_is_minus3;
    for (size_t w = 0; w < windows; w++) {
      Pt<N>* row = proj + w * kFixedEntries;
      row[0] = base;
      for (size_t i = 1; i <= kFixedEntries; i++) {
        // The last sum doubles 16 base: the next window's 32 base.
        const Pt<N>& q = i < kFixedEntries ? row[0] : row[i - 1];
        Pt<N>& out = i < kFixedEntries ? row[i] : base;
        if (m3)
          point_add_m3(out, row[i - 1], q, f);
        else
          point_add(out, row[i - 1], q, f);
      }
    }
    // One inversion for all: prefix[i] = z0 ... zi.
    for (size_t i = 0; ok == 1 && i < count; i++) {
      if (fe_is_zero(proj[i].z, f)) ok = -1;
      if (i == 0)
        prefix[0] = proj[0].z;
      else
        mul(prefix[i], prefix[i - 1], proj[i].z, f);
    }
    if (ok == 1) {
      Fe<N> inv, zinv;
      invert(inv, prefix[count - 1], f);  // (z0 ... z_last)^-1
      for (size_t i = count; i-- > 0;) {
        if (i > 0) {
          mul(zinv, inv, prefix[i - 1], f);  // zi^-1
          mul(inv, inv, proj[i].z, f);       // (z0 ... z(i-1))^-1
        } else {
          zinv = inv;
        }
        mul(t[i].x, proj[i].x, zinv, f);
        mul(t[i].y, proj[i].y, zinv, f);
      }
    }
  }
  MORVANE_free(proj);
  MORVANE_free(prefix);
  return ok;
}

// dst = row[index - 1] for index 1 .. 16, zeros for index 0, reading every
// entry of the row.
template <size_t N>
void select_affine(AffinePt<N>& dst, const AffinePt<N>* row, limb index) {
  memset(&dst, 0, sizeof dst);
  limb* out = reinterpret_cast<limb*>(&dst);
  for (size_t i = 0; i < kFixedEntries; i++) {
    const limb m = ct::eq_mask<limb>(static_cast<limb>(i + 1), index);
    const limb* src = reinterpret_cast<const limb*>(&row[i]);
    for (size_t j = 0; j < 2 * N; j++) out[j] |= src[j] & m;
  }
}

// acc = k G from the table of `windows` windows, those bits of k in
// constant time.
template <size_t N>
void fixed_mul(Pt<N>& acc, const limb scalar[N], const AffinePt<N>* table, const Field<N>& f,
               size_t windows) {
  memset(&acc, 0, sizeof acc);
  acc.y = f.one;  // (0 : 1 : 0)
  AffinePt<N> sel;
  Pt<N> sum;
  const bool m3 = f.a_is_minus3;  // public
  for (size_t w = 0; w < windows; w++) {
    limb neg;
    const limb digit = booth_digit<N>(scalar, w, neg);
    select_affine(sel, table + w * kFixedEntries, digit);
    cond_negate(sel.y, neg, f);
    if (m3)
      point_add_mixed_m3(sum, acc, sel, f);
    else
      point_add_mixed(sum, acc, sel, f);
    const limb keep = ct::zero_mask(digit);  // digit 0: the sum stays
    limb* a = reinterpret_cast<limb*>(&acc);
    const limb* s = reinterpret_cast<const limb*>(&sum);
    for (size_t j = 0; j < 3 * N; j++) a[j] = ct::select(keep, a[j], s[j]);
  }
  MORVANE_cleanse(&sel, sizeof sel);
  MORVANE_cleanse(&sum, sizeof sum);
}

// ---- mixed additions in Jacobian coordinates -------------------------------
// p + (x2, y2), p = (X1, Y1, Z1) with x = X / Z^2, y = Y / Z^3: madd-2007-bl
// of the Explicit-Formulas Database (7M + 4S), any a.  It fails when p is
// the point at infinity or +-(x2, y2) (H = 0); its users rule those out.

// The end both Jacobian additions share: X3 = r^2 - J - 2 V and Y3 = r (V -
// X3) - 2 S1 J.  x and y must not alias the inputs.
template <size_t N>
void jac_add_xy(Fe<N>& x, Fe<N>& y, const Fe<N>& rr, const Fe<N>& j, const Fe<N>& v,
                const Fe<N>& s1, const Field<N>& f) {
  Fe<N> t;
  sqr(x, rr, f);
  sub(x, x, j, f);
  sub(x, x, v, f);
  sub(x, x, v, f);
  sub(y, v, x, f);
  mul(y, y, rr, f);
  mul(t, s1, j, f);
  sub(y, y, t, f);
  sub(y, y, t, f);
}

// The start: Z1Z1 = Z1^2, H = x2 Z1Z1 - X1 and r = y2 Z1 Z1Z1 - Y1.
template <size_t N>
void madd_start(Fe<N>& z1z1, Fe<N>& h, Fe<N>& rr, const Fe<N>& x1, const Fe<N>& y1,
                const Fe<N>& z1, const AffinePt<N>& q, const Field<N>& f) {
  Fe<N> u2, s2;
  sqr(z1z1, z1, f);
  mul(u2, q.x, z1z1, f);
  mul(s2, q.y, z1, f);
  mul(s2, s2, z1z1, f);
  sub(h, u2, x1, f);
  sub(rr, s2, y1, f);
}

// The end, from those (rr spent); x3, y3, z3 may alias x1, y1, z1.
template <size_t N>
void madd_finish(Fe<N>& x3, Fe<N>& y3, Fe<N>& z3, const Fe<N>& x1, const Fe<N>& y1,
                 const Fe<N>& z1, const Fe<N>& z1z1, const Fe<N>& h, Fe<N>& rr,
                 const Field<N>& f) {
  Fe<N> hh, i, j, v, x, y, z;
  add(rr, rr, rr, f);
  sqr(hh, h, f);
  add(i, hh, hh, f);
  add(i, i, i, f);  // I = 4 HH
  mul(j, h, i, f);
  mul(v, x1, i, f);
  jac_add_xy(x, y, rr, j, v, y1, f);
  add(z, z1, h, f);
  sqr(z, z, f);
  sub(z, z, z1z1, f);
  sub(z, z, hh, f);
  x3 = x;
  y3 = y;
  z3 = z;
}

// k G (projective) from the table of `windows` windows for k below n on
// P-521's curve (prime order n, 2^520 + 2^519 < n < 2^521; the record's
// scalar_bits 521): Jacobian mixed additions in place of the complete ones,
// about half their cost.  Before window w the sum is s G with s = (k mod
// 2^(5 w)) - b[5w-1] 2^(5 w), so |s| <= 2^(5 w - 1), and the entry is e G,
// e = +-d 2^(5 w) with d in 1 .. 16.  The formula fails (H = 0) for s = +-e
// mod n.  s + e is the next sum, below n in size before the top window and
// k after it: 0 mod n only when all digits so far are 0.  s - e is below n
// in size before the top window and, |s| < |e|, never 0; at the top window
// (bits 520 and up, d = b[520] + b[519]) s - e = k - d 2^521 = 0 mod n
// would make k = d (2^521 - n), below 2^260, whose d is 0.  So the only
// failure is a sum still at infinity, handled by masks along with the zero
// digits.
template <size_t N>
void fixed_mul_jacobian(Pt<N>& out, const limb scalar[N], const AffinePt<N>* table,
                        const Field<N>& f, size_t windows) {
  Pt<N> acc, sum;
  AffinePt<N> sel;
  acc.x = f.one;  // (1, 1, 0): the point at infinity
  acc.y = f.one;
  memset(&acc.z, 0, sizeof acc.z);
  limb inf = ~limb{0};  // acc is still the point at infinity
  for (size_t w = 0; w < windows; w++) {
    limb neg;
    const limb digit = booth_digit<N>(scalar, w, neg);
    select_affine(sel, table + w * kFixedEntries, digit);
    cond_negate(sel.y, neg, f);
    Fe<N> z1z1, h, rr;
    madd_start(z1z1, h, rr, acc.x, acc.y, acc.z, sel, f);
    madd_finish(sum.x, sum.y, sum.z, acc.x, acc.y, acc.z, z1z1, h, rr, f);
    // acc at infinity: the entry itself, (x2, y2, 1).
    const limb keep = ct::zero_mask(digit);  // digit 0: acc stays
    for (size_t j = 0; j < N; j++) {
      sum.x.v[j] = ct::select(inf, sel.x.v[j], sum.x.v[j]);
      sum.y.v[j] = ct::select(inf, sel.y.v[j], sum.y.v[j]);
      sum.z.v[j] = ct::select(inf, f.one.v[j], sum.z.v[j]);
    }
    limb* a = reinterpret_cast<limb*>(&acc);
    const limb* s = reinterpret_cast<const limb*>(&sum);
    for (size_t j = 0; j < 3 * N; j++) a[j] = ct::select(keep, a[j], s[j]);
    inf &= keep;
  }
  jac_to_proj(out, acc, f);  // (X Z, Y, Z^3): (0 : 1 : 0) at infinity
  MORVANE_cleanse(&acc, sizeof acc);
  MORVANE_cleanse(&sel, sizeof sel);
  MORVANE_cleanse(&sum, sizeof sum);
}

// ---- two-term products with public scalars ---------------------------------
// u1 G + u2 Q for verification, whose scalars are public: Jacobian
// coordinates (x = X / Z^2, y = Y / Z^3) and formulas with exceptional
// cases, decided by branches on public values; u2 Q by a width-5 NAF with
// the odd multiples Q, 3 Q, ..., 15 Q, then u1 G as the table's entries for
// u1's nonzero signed 5-bit digits, added without doubling.  The formulas are
// those of the Explicit-Formulas Database (Bernstein and Lange):
// dbl-2001-b (a = -3) and dbl-2007-bl, add-2007-bl and madd-2007-bl.

template <size_t N>
struct JPt {
  Fe<N> x, y, z;
  bool inf;  // the point at infinity (x, y, z unused)
};

template <size_t N>
bool fe_equal(const Fe<N>& a, const Fe<N>& b) {
  limb acc = 0;
  for (size_t j = 0; j < N; j++) acc |= a.v[j] ^ b.v[j];
  return acc == 0;
}

// r = 2 p; r may alias p.
template <size_t N>
void jdbl(JPt<N>& r, const JPt<N>& p, const Field<N>& f) {
  if (p.inf || fe_is_zero(p.y, f)) {  // a point of order 2 doubles to infinity
    r.inf = true;
    return;
  }
  r.inf = false;
  if (f.a_is_minus3) {  // the engine's doubling (dbl-2001-b)
    Pt<N> t{p.x, p.y, p.z};
    point_dbl_jac_m3(t, t, f);
    r.x = t.x;
    r.y = t.y;
    r.z = t.z;
    return;
  }
  Fe<N> t0, t1, t2, t3, zz, yy, xx, yyyy, s4, m;
  sqr(zz, p.z, f);  // ZZ
  sqr(yy, p.y, f);  // YY
  sqr(xx, p.x, f);
  sqr(yyyy, yy, f);
  add(t0, p.x, yy, f);
  sqr(t0, t0, f);
  sub(t0, t0, xx, f);
  sub(t0, t0, yyyy, f);
  add(s4, t0, t0, f);  // S = 2 ((X + YY)^2 - XX - YYYY)
  sqr(t1, zz, f);
  mul(t1, t1, f.a, f);
  add(m, xx, xx, f);
  add(m, m, xx, f);
  add(m, m, t1, f);  // M = 3 XX + a ZZ^2
  add(t2, p.y, p.z, f);
  sqr(t2, t2, f);
  sub(t2, t2, yy, f);
  sub(r.z, t2, zz, f);  // Z3 = (Y + Z)^2 - YY - ZZ
  sqr(t2, m, f);
  sub(t2, t2, s4, f);
  sub(t2, t2, s4, f);  // X3 = M^2 - 2 S
  sub(t3, s4, t2, f);
  mul(t3, t3, m, f);
  add(yyyy, yyyy, yyyy, f);
  add(yyyy, yyyy, yyyy, f);
  add(yyyy, yyyy, yyyy, f);
  sub(r.y, t3, yyyy, f);  // Y3 = M (S - X3) - 8 YYYY
  r.x = t2;
}

// r = p + q; r may alias p or q.
template <size_t N>
void jadd(JPt<N>& r, const JPt<N>& p, const JPt<N>& q, const Field<N>& f) {
  if (p.inf) {
    r = q;
    return;
  }
  if (q.inf) {
    r = p;
    return;
  }
  Fe<N> z1z1, z2z2, u1, u2, s1, s2, h, rr, i, j, v;
  sqr(z1z1, p.z, f);
  sqr(z2z2, q.z, f);
  mul(u1, p.x, z2z2, f);
  mul(u2, q.x, z1z1, f);
  mul(s1, p.y, q.z, f);
  mul(s1, s1, z2z2, f);
  mul(s2, q.y, p.z, f);
  mul(s2, s2, z1z1, f);
  sub(h, u2, u1, f);
  sub(rr, s2, s1, f);
  if (fe_is_zero(h, f)) {
    if (fe_is_zero(rr, f)) {
      jdbl(r, p, f);
    } else {
      r.inf = true;
    }
    return;
  }
  add(rr, rr, rr, f);
  add(i, h, h, f);
  sqr(i, i, f);  // I = (2 H)^2
  mul(j, h, i, f);
  mul(v, u1, i, f);
  Fe<N> x3, y3, z3;
  jac_add_xy(x3, y3, rr, j, v, s1, f);
  add(z3, p.z, q.z, f);
  sqr(z3, z3, f);
  sub(z3, z3, z1z1, f);
  sub(z3, z3, z2z2, f);
  mul(z3, z3, h, f);
  r.x = x3;
  r.y = y3;
  r.z = z3;
  r.inf = false;
}

// r = p + (x2, y2); r may alias p.
template <size_t N>
void jadd_affine(JPt<N>& r, const JPt<N>& p, const AffinePt<N>& q, const Field<N>& f) {
  if (p.inf) {
    r.x = q.x;
    r.y = q.y;
    r.z = f.one;
    r.inf = false;
    return;
  }
  Fe<N> z1z1, h, rr;
  madd_start(z1z1, h, rr, p.x, p.y, p.z, q, f);
  if (fe_is_zero(h, f)) {
    if (fe_is_zero(rr, f)) {
      jdbl(r, p, f);
    } else {
      r.inf = true;
    }
    return;
  }
  madd_finish(r.x, r.y, r.z, p.x, p.y, p.z, z1z1, h, rr, f);
  r.inf = false;
}

// The width-5 NAF of the 64 N-bit number k: digits odd in -15 .. 15 or 0,
// at most one nonzero digit in any 5 consecutive places; 64 N + 1 places.
// Variable time (k is public).
template <size_t N>
void naf5(signed char* digits, const limb k[N]) {
  limb w[N + 1];
  for (size_t j = 0; j < N; j++) w[j] = k[j];
  w[N] = 0;
  for (size_t i = 0; i <= 64 * N; i++) {
    int d = 0;
    if (w[0] & 1) {
      d = static_cast<int>(w[0] & 31);
      if (d > 16) d -= 32;
      // w -= d
      if (d > 0) {
        limb borrow = static_cast<limb>(d);
        for (size_t j = 0; j <= N && borrow != 0; j++) {
          const limb old = w[j];
          w[j] = old - borrow;
          borrow = old < borrow ? 1 : 0;
        }
      } else {
        limb carry = static_cast<limb>(-d);
        for (size_t j = 0; j <= N && carry != 0; j++) {
          w[j] += carry;
          carry = w[j] < carry ? 1 : 0;
        }
      }
    }
    digits[i] = static_cast<signed char>(d);
    for (size_t j = 0; j < N; j++) w[j] = (w[j] >> 1) | (w[j + 1] << 63);
    w[N] >>= 1;
  }
}

// acc = u1 G + u2 Q with G's fixed table of `windows` windows (u1 below
// 2^(4 windows)) and Q affine (qx, qy), the scalars public.
template <size_t N>
void public_mul2(JPt<N>& acc, const limb u1[N], const AffinePt<N>* table, const limb u2[N],
                 const Fe<N>& qx, const Fe<N>& qy, const Field<N>& f, size_t windows) {
  // Q, 3 Q, ..., 15 Q.
  JPt<N> odd[8], q2;
  odd[0] = JPt<N>{qx, qy, f.one, false};
  jdbl(q2, odd[0], f);
  for (size_t i = 1; i < 8; i++) jadd(odd[i], odd[i - 1], q2, f);
  signed char digits[64 * N + 1];
  naf5<N>(digits, u2);
  acc.inf = true;
  JPt<N> neg;
  for (size_t i = 64 * N + 1; i-- > 0;) {
    if (!acc.inf) jdbl(acc, acc, f);
    const int d = digits[i];
    if (d > 0) {
      jadd(acc, acc, odd[(d - 1) / 2], f);
    } else if (d < 0) {
      neg = odd[(-d - 1) / 2];
      Fe<N> zero = {};
      sub(neg.y, zero, neg.y, f);
      jadd(acc, acc, neg, f);
    }
  }
  AffinePt<N> entry;
  for (size_t w = 0; w < windows; w++) {
    limb neg;
    const limb d = booth_digit<N>(u1, w, neg);
    if (d == 0) continue;
    entry = table[w * kFixedEntries + (d - 1)];
    if (neg != 0) {
      Fe<N> zero = {};
      sub(entry.y, zero, entry.y, f);
    }
    jadd_affine(acc, acc, entry, f);
  }
}

}  // namespace morvane::ec::cttable

#endif  // MORVANE_CRYPTO_EC_ECP_CT_TABLE_H
