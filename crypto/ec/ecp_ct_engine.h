// The constant-time engine over GF(p) (ecp_ct.cc): r = k P for a secret k
// on every group of the built-in GF(p) methods, u1 G + u2 Q for
// verification and the arithmetic modulo the group order, as templates over
// the field's limb count N.  ecp_ct.cc dispatches on N; the widths with
// dedicated fields (4, 6 and 9 limbs) and the wide ones are instantiated in
// TUs of their own (ecp_ct_n4.cc, ecp_ct_n6.cc, ecp_ct_n9.cc,
// ecp_ct_wide.cc), so that no one TU compiles the engine eleven times.
//
// Implementation notes: field elements are fixed-width arrays of N 64-bit
// limbs (N = ceil(bits(p) / 64), at most 11 for the 661-bit limit) in
// Montgomery form (R = 2^(64 N)), multiplied by word-serial Montgomery
// reduction with a masked final subtraction; P-256 has its own reduction,
// P-384 its own reduction on plain residues (ct_p384.h), P-521 its own
// representation (ct_p521.h).  Points are homogeneous
// projective (X : Y : Z) and added with the complete formulas of Renes,
// Costello and Batina ("Complete addition formulas for prime order elliptic
// curves", EUROCRYPT 2016, Algorithm 1: any a), which have no exceptional
// case, doubling and the point at infinity (0 : 1 : 0) included, on a curve
// of odd order.  (Where a curve has points of order 2 they fail for P + Q
// with P - Q of order 2: such curves get only points of odd order here, and
// through ct_mul_torsion one masked sum with a multiple of a point of
// 2-power order; ecp_torsion.cc.)  The scalar
// is read as 64 N bits, whatever its value and its word count (its leading
// zeros are processed like any other bits); on P-521's curve, of prime order, it is first
// reduced modulo n in constant time and read as 521 bits.  One term: signed 5-bit windows from the top, five
// doublings and one addition of +-T[|d|], T[j] = j P for j = 0 .. 16 found
// by a masked scan over all 17 entries and negated by a mask; on a = -3
// groups the doublings are Jacobian and only the additions projective.  Two
// terms: 4-bit windows, four doublings and one addition of T[w] = w P per
// term and window (16 entries).  The number of steps thus depends only on
// the group; only the point at infinity of the result and its coordinates,
// which the caller receives, are made public.  P and the group are public.
//
// What depends only on the group is made once and kept on it (ct_cache):
// the field's constants and, once a generator product asks for it, a
// fixed-base table of the generator (ecp_ct_table.h), through which k G
// takes one mixed addition per signed 5-bit window (bits / 5 + 1 for
// scalars of `bits` bits: 64 N, or 521 on P-521's curve) and no doubling;
// u1 G + u2 Q (verification)
// takes u1 G from it and u2 Q by the windows above.

#ifndef MORVANE_CRYPTO_EC_ECP_CT_ENGINE_H
#define MORVANE_CRYPTO_EC_ECP_CT_ENGINE_H

#include <stdint.h>
#include <string.h>

#include <atomic>
#include <utility>

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/ec.h>
#include <morvane/err.h>

#include "ec/ct_arith.h"
#include "ec/ct_modinv.h"
#include "ec/ecp_ct_table.h"
#include "ec/internal.h"
#include "internal/ct.h"
#include "internal/fixed_words.h"

namespace morvane::ec::ctengine {

using namespace morvane::ec::ctarith;
using namespace morvane::ec::cttable;
using morvane::ec::from_limbs;

constexpr size_t kMaxLimbs = 11;  // 661 bits

// The group's field constants from its curve: p, n0 = -p^-1 mod 2^64,
// R^2, R, a, b and 3 b (Montgomery form).  With `say`, numbers that could
// not be had are queued as "malloc failure".
template <size_t N>
bool make_field(Field<N>& f, const EC_GROUP* group, BN_CTX* ctx, bool say) {
  BN_CTX_start(ctx);
  BIGNUM* p = BN_CTX_get(ctx);
  BIGNUM* a = BN_CTX_get(ctx);
  BIGNUM* b = BN_CTX_get(ctx);
  if (b == nullptr && say) ECERR(EC_F_EC_POINT_MUL, ERR_R_MALLOC_FAILURE);
  bool ok = b != nullptr && EC_GROUP_get_curve_GFp(group, p, a, b, ctx) &&
            init_modulus<N>(f, p, ctx) && BN_nnmod(b, b, p, ctx) && to_mont(f.b, b, f) &&
            BN_mul_word(b, 3) && BN_nnmod(b, b, p, ctx) && BN_nnmod(a, a, p, ctx) &&
            to_mont(f.a, a, f) && to_mont(f.b3, b, f) && BN_add_word(a, 3);
  if (ok) f.a_is_minus3 = BN_cmp(a, p) == 0;  // a + 3 = p
  BN_CTX_end(ctx);
  return ok;
}

// Whether the group is P-521's curve with its order and cofactor 1: all its
// points have order n, so k P = (k mod n) P and the products read
// bits(n) = 521 bits of scalar instead of 576.  The constants are public.
template <size_t N>
bool reduces_scalars(const EC_GROUP* group, const Cache<N>& c) {
  if constexpr (N == p521::kDigits) {
    limb b[N], n[N];
    to_plain(b, c.f.b, c.f);
    return c.f.kind == FieldKind::kP521 && c.f.a_is_minus3 && c.has_order &&
           BN_is_one(&group->cofactor) && to_limbs<N>(n, &group->order) &&
           memcmp(b, p521::kB, sizeof b) == 0 && memcmp(n, p521::kOrder, sizeof n) == 0;
  }
  return false;
}

// The group's record, made and published on first use (null on failure;
// with `say`, failed allocations are queued, for callers that fail with
// them).
template <size_t N>
Cache<N>* group_cache(const EC_GROUP* group, BN_CTX* ctx, bool say = true) {
  std::atomic_ref<void*> slot(const_cast<EC_GROUP*>(group)->ct_cache);
  void* cur = slot.load(std::memory_order_acquire);
  if (cur == nullptr) {
    auto* fresh = static_cast<Cache<N>*>(MORVANE_malloc(sizeof(Cache<N>)));
    if (fresh == nullptr) {
      if (say) ECERR(EC_F_EC_POINT_MUL, ERR_R_MALLOC_FAILURE);
      return nullptr;
    }
    *fresh = Cache<N>{};
    fresh->head.limbs = N;
    if (!make_field<N>(fresh->f, group, ctx, say)) {
      MORVANE_free(fresh);
      return nullptr;
    }
    const BIGNUM* n = &group->order;
    fresh->has_order = !BN_is_zero(n) && BN_is_odd(n) &&
                       (static_cast<size_t>(BN_num_bits(n)) + 63) / 64 == N &&
                       init_modulus<N>(fresh->order, n, ctx);
    fresh->scalar_bits = reduces_scalars<N>(group, *fresh)
                             ? static_cast<size_t>(BN_num_bits(n))
                             : 64 * N;
    if (slot.compare_exchange_strong(cur, fresh, std::memory_order_acq_rel,
                                     std::memory_order_acquire)) {
      cur = fresh;
    } else {
      MORVANE_free(fresh);  // another thread's record is in place: cur
    }
  }
  auto* c = static_cast<Cache<N>*>(cur);
  return c->head.limbs == N ? c : nullptr;
}

// The generator's fixed-base table of the record, made and published on
// first use; null when the generator cannot have one or it could not be
// made (the windowed product is used instead).
template <size_t N>
const AffinePt<N>* generator_table(const EC_GROUP* group, Cache<N>* c, BN_CTX* ctx) {
  std::atomic_ref<void*> slot(c->head.table);
  void* cur = slot.load(std::memory_order_acquire);
  if (cur == nullptr) {
    // The group's first generator product goes without the table.
    if (std::atomic_ref<int>(c->head.generator_uses).fetch_add(1, std::memory_order_relaxed) == 0)
      return nullptr;
    const size_t windows = fixed_windows(c->scalar_bits);
    auto* fresh =
        static_cast<AffinePt<N>*>(MORVANE_malloc(windows * kFixedEntries * sizeof(AffinePt<N>)));
    if (fresh == nullptr) return nullptr;
    Fe<N> gx, gy;
    BN_CTX_start(ctx);
    BIGNUM* x = BN_CTX_get(ctx);
    BIGNUM* y = BN_CTX_get(ctx);
    const bool have = y != nullptr &&
                      EC_POINT_get_affine_coordinates_GFp(group, group->generator, x, y, ctx) &&
                      to_mont(gx, x, c->f) && to_mont(gy, y, c->f);
    BN_CTX_end(ctx);
    const int built = have ? build_fixed_table<N>(fresh, gx, gy, c->f, windows) : 0;
    if (built == 0) {  // no memory, or no generator: try again next time
      MORVANE_free(fresh);
      return nullptr;
    }
    void* mine = fresh;
    if (built < 0) {
      MORVANE_free(fresh);
      mine = kNoTable;
    }
    if (slot.compare_exchange_strong(cur, mine, std::memory_order_acq_rel,
                                     std::memory_order_acquire)) {
      cur = mine;
    } else if (mine != kNoTable) {
      MORVANE_free(mine);  // another thread's table is in place: cur
    }
  }
  return cur == kNoTable ? nullptr : static_cast<const AffinePt<N>*>(cur);
}

// out = the public point (the point at infinity as (0 : 1 : 0)).
template <size_t N>
bool load_point(Pt<N>& out, const EC_GROUP* group, const EC_POINT* point, const Field<N>& f,
                BN_CTX* ctx) {
  memset(&out, 0, sizeof out);
  if (EC_POINT_is_at_infinity(group, point)) {
    out.y = f.one;
    return true;
  }
  BN_CTX_start(ctx);
  BIGNUM* x = BN_CTX_get(ctx);
  BIGNUM* y = BN_CTX_get(ctx);
  const bool ok = y != nullptr && EC_POINT_get_affine_coordinates_GFp(group, point, x, y, ctx) &&
                  to_mont(out.x, x, f) && to_mont(out.y, y, f);
  BN_CTX_end(ctx);
  out.z = f.one;
  return ok;
}

// table[i] = i P for i = 0 .. count - 1 (table[0] the point at infinity).
template <size_t N>
bool window_table(Pt<N>* table, size_t count, const EC_GROUP* group, const EC_POINT* point,
                  const Field<N>& f, BN_CTX* ctx) {
  memset(&table[0], 0, sizeof table[0]);
  table[0].y = f.one;  // (0 : 1 : 0)
  if (!load_point(table[1], group, point, f, ctx)) return false;
  // Which formulas is a public property of the group.
  for (size_t i = 2; i < count; i++) {
    if (f.a_is_minus3)
      point_add_m3(table[i], table[i - 1], table[1], f);
    else
      point_add(table[i], table[i - 1], table[1], f);
  }
  return true;
}

// acc = k P (+ k2 P2 with table2): 4-bit windows from the top, four
// doublings and one addition per table per window (Shamir's trick).
template <size_t N>
void window_mul(Pt<N>& acc, const Pt<N>* table, const limb scalar[N], const Pt<N>* table2,
                const limb scalar2[N], const Field<N>& f) {
  Pt<N> sel;
  const bool m3 = f.a_is_minus3;
  acc = table[0];
  for (size_t w = 64 * N / kWindow; w-- > 0;) {
    for (size_t d = 0; d < kWindow; d++) {
      if (m3)
        point_dbl_m3(acc, acc, f);
      else
        point_add(acc, acc, acc, f);
    }
    const size_t bit = w * kWindow;
    select_point(sel, table, (scalar[bit / 64] >> (bit % 64)) & (kTable - 1));
    if (m3)
      point_add_m3(acc, acc, sel, f);
    else
      point_add(acc, acc, sel, f);
    if (table2 != nullptr) {
      select_point(sel, table2, (scalar2[bit / 64] >> (bit % 64)) & (kTable - 1));
      if (m3)
        point_add_m3(acc, acc, sel, f);
      else
        point_add(acc, acc, sel, f);
    }
  }
  MORVANE_cleanse(&sel, sizeof sel);
}

// ---- one term: signed 5-bit windows -----------------------------------------
// k = sum of d_i 2^(5 i) with digits d_i in [-16, 16] (Booth recoding: d_i =
// b[5i+4..5i] + b[5i-1] - 32 b[5i+4]), signed_windows(bits) windows over
// a scalar of `bits` bits (64 N, or the record's scalar_bits), the top one
// reaching past its top bit so that its digit is never negative.  Each
// window: five doublings and one complete addition of sign(d_i) T[|d_i|],
// T[j] = j P for j = 0 .. 16 read by a masked scan and its y negated by a
// mask.  On a = -3 groups the doublings are Jacobian (3M + 5S) and the
// accumulator is converted to the projective form around each addition.
// The recoding (booth_digit, signed_windows) is in ct_arith.h.
// acc = k P (projective), k below 2^bits.
template <size_t N>
void signed_window_mul(Pt<N>& acc, const Pt<N>* table, const limb scalar[N], const Field<N>& f,
                       size_t bits) {
  Pt<N> sel;
  const bool m3 = f.a_is_minus3;
  const size_t windows = signed_windows(bits);
  // The top window's digit (never negative) starts the accumulator.
  limb neg;
  select_point_n(acc, table, kSignedEntries, booth_digit<N>(scalar, windows - 1, neg));
  if (m3) proj_to_jac(acc, acc, f);
  for (size_t w = windows - 1; w-- > 0;) {
    for (size_t d = 0; d < kSignedWidth; d++) {
      if (m3)
        point_dbl_jac_m3(acc, acc, f);
      else
        point_add(acc, acc, acc, f);
    }
    const limb mag = booth_digit<N>(scalar, w, neg);
    select_point_n(sel, table, kSignedEntries, mag);
    cond_negate(sel.y, neg, f);
    if (m3) {
      jac_to_proj(acc, acc, f);
      point_add_m3(acc, acc, sel, f);
      if (w != 0) proj_to_jac(acc, acc, f);
    } else {
      point_add(acc, acc, sel, f);
    }
  }
  MORVANE_cleanse(&sel, sizeof sel);
}

// r = (x, y), given in the field's representation; the coordinates are
// made public.
template <size_t N>
int set_result(const EC_GROUP* group, EC_POINT* r, Fe<N>& x, Fe<N>& y, const Field<N>& f,
               BN_CTX* ctx) {
  to_plain(x.v, x, f);
  to_plain(y.v, y, f);
  for (size_t j = 0; j < N; j++) {
    x.v[j] = ct::declassify(x.v[j]);
    y.v[j] = ct::declassify(y.v[j]);
  }
  BIGNUM* ox = from_limbs<N>(x.v);
  BIGNUM* oy = from_limbs<N>(y.v);
  const int ok = ox != nullptr && oy != nullptr &&
                 EC_POINT_set_affine_coordinates_GFp(group, r, ox, oy, ctx);
  BN_free(ox);
  BN_free(oy);
  return ok;
}

// The most points ct_mul_torsion's table may have.
constexpr size_t kMaxTorsion = 16;

// acc = acc + T[|k| mod count] for acc a multiple of a point of odd order
// and T the public multiples of a point of 2-power order (count of them, a
// power of two).  acc - T has order 2 only when acc is the point at
// infinity and T of order 2, where the formulas give (0 : 0 : 0): the sum
// is then T itself, chosen by a mask.
template <size_t N>
bool add_torsion(Pt<N>& acc, const limb scalar[N], const EC_GROUP* group,
                 const EC_POINT* const small[], size_t count, const Field<N>& f, BN_CTX* ctx) {
  Pt<N> t[kMaxTorsion], sel, sum;
  bool ok = count != 0 && count <= kMaxTorsion && (count & (count - 1)) == 0;
  for (size_t j = 0; ok && j < count; j++) ok = load_point(t[j], group, small[j], f, ctx);
  if (ok) {
    select_point_n(sel, t, count, scalar[0] & (count - 1));
    if (f.a_is_minus3)
      point_add_m3(sum, acc, sel, f);
    else
      point_add(sum, acc, sel, f);
    const limb at_infinity = fe_zero_mask(acc.z, f);
    limb* a = reinterpret_cast<limb*>(&acc);
    const limb* from_sel = reinterpret_cast<const limb*>(&sel);
    const limb* from_sum = reinterpret_cast<const limb*>(&sum);
    for (size_t j = 0; j < 3 * N; j++) a[j] = ct::select(at_infinity, from_sel[j], from_sum[j]);
  }
  MORVANE_cleanse(&sel, sizeof sel);
  MORVANE_cleanse(&sum, sizeof sum);
  return ok;
}

// k = k mod n for k below 2^(64 N) and the order's record: k R^2 / R =
// k R mod n, then k R / R, two Montgomery products modulo n.
template <size_t N>
void reduce_scalar(limb k[N], const Field<N>& order) {
  Fe<N> t, unit = {};
  for (size_t j = 0; j < N; j++) t.v[j] = k[j];
  mul(t, t, order.r2, order);
  unit.v[0] = 1;
  mul(t, t, unit, order);
  for (size_t j = 0; j < N; j++) k[j] = t.v[j];
  MORVANE_cleanse(&t, sizeof t);
}

// r = k P, or r = k P + k2 P2 when P2 is given, or r = k P + T[|k| mod
// count] when `small` is given (P then of odd order, null for the point at
// infinity: ct_mul_torsion).  A generator term takes the group's fixed-base
// table when it has one.  (The groups whose scalars are reduced modulo n
// have cofactor 1, so never a `small` table.)
template <size_t N>
int mul_n(const EC_GROUP* group, EC_POINT* r, const BIGNUM* k, const EC_POINT* point,
          const BIGNUM* k2, const EC_POINT* point2, const EC_POINT* const small[],
          size_t small_count, BN_CTX* ctx) {
  Pt<N> table[kTable];
  Pt<N> table2[kTable];
  Pt<N> one_table[kSignedEntries];
  limb scalar2[N] = {};
  const bool two = point2 != nullptr;
  Pt<N> acc;
  limb scalar[N];
  int ok = 0;
  Cache<N>* cache = group_cache<N>(group, ctx);
  if (cache == nullptr || !to_limbs<N>(scalar, k) || (two && !to_limbs<N>(scalar2, k2))) goto done;
  {
    const Field<N>& f = cache->f;
    const size_t bits = cache->scalar_bits;  // public
    if (bits < 64 * N) {
      reduce_scalar<N>(scalar, cache->order);
      if (two) reduce_scalar<N>(scalar2, cache->order);
    }
    const AffinePt<N>* fixed =
        point == group->generator ? generator_table<N>(group, cache, ctx) : nullptr;
    if (fixed != nullptr && two) {
      // Verification: public scalars.
      Fe<N> qx, qy;
      BN_CTX_start(ctx);
      BIGNUM* x = BN_CTX_get(ctx);
      BIGNUM* y = BN_CTX_get(ctx);
      const bool have = y != nullptr &&
                        EC_POINT_get_affine_coordinates_GFp(group, point2, x, y, ctx) &&
                        to_mont(qx, x, f) && to_mont(qy, y, f);
      BN_CTX_end(ctx);
      if (!have) goto done;
      JPt<N> j;
      public_mul2(j, scalar, fixed, scalar2, qx, qy, f, fixed_windows(bits));
      if (j.inf) {
        ok = EC_POINT_set_to_infinity(group, r);
        goto done;
      }
      Fe<N> zinv, z2;
      invert(zinv, j.z, f);
      sqr(z2, zinv, f);
      mul(j.x, j.x, z2, f);
      mul(z2, z2, zinv, f);
      mul(j.y, j.y, z2, f);
      ok = set_result(group, r, j.x, j.y, f, ctx);
      goto done;
    }
    if (fixed != nullptr) {
      if (bits < 64 * N)  // k < n, reduced on a group of prime order n
        fixed_mul_jacobian(acc, scalar, fixed, f, fixed_windows(bits));
      else
        fixed_mul(acc, scalar, fixed, f, fixed_windows(bits));
    } else {
      if (point == nullptr) {
        memset(&acc, 0, sizeof acc);
        acc.y = f.one;  // (0 : 1 : 0)
      } else if (!two) {
        if (!window_table(one_table, kSignedEntries, group, point, f, ctx)) goto done;
        signed_window_mul(acc, one_table, scalar, f, bits);
      } else {
        if (!window_table(table, kTable, group, point, f, ctx) ||
            !window_table(table2, kTable, group, point2, f, ctx))
          goto done;
        window_mul(acc, table, scalar, table2, scalar2, f);
      }
    }
    if (small != nullptr && !add_torsion(acc, scalar, group, small, small_count, f, ctx)) goto done;

    // To affine; only the result is made public.
    if (ct::declassify(fe_zero_mask(acc.z, f)) != 0) {
      ok = EC_POINT_set_to_infinity(group, r);
      goto done;
    }
    Fe<N> zinv, ax, ay;
    invert(zinv, acc.z, f);
    mul(ax, acc.x, zinv, f);
    mul(ay, acc.y, zinv, f);
    ok = set_result(group, r, ax, ay, f, ctx);
  }
done:
  MORVANE_cleanse(scalar, sizeof scalar);
  MORVANE_cleanse(table, sizeof table);
  MORVANE_cleanse(scalar2, sizeof scalar2);
  MORVANE_cleanse(table2, sizeof table2);
  MORVANE_cleanse(one_table, sizeof one_table);
  MORVANE_cleanse(&acc, sizeof acc);
  return ok;
}

// ---- arithmetic modulo the group order ------------------------------------
// The same Montgomery arithmetic with the order n in place of p: the nonce's
// inverse (by divsteps, ct_modinv.h) and the signature's s = k^-1 (m + x r)
// mod n, with no branch and no address that depends on k, its inverse or x,
// nor on their word counts: a number enters as its 64 N-bit limbs, read at
// that width by masks (to_limbs), and must be below 2^(64 N); Montgomery
// products reduce it modulo n on the way.  So k^-1 as ct_order_inverse
// stores it (its count found by masks) may come back as a precomputed
// inverse.

// Stores v (plain form) in a; `reveal` makes the words public first.  The
// top of a secret value is found by masks (internal/fixed_words.h).
template <size_t N>
bool store(BIGNUM* a, const Fe<N>& v, bool reveal) {
  BN_ULONG w[2 * N];
  for (size_t j = 0; j < N; j++) {
    const limb x = reveal ? ct::declassify(v.v[j]) : v.v[j];
    w[2 * j] = static_cast<BN_ULONG>(x);
    w[2 * j + 1] = static_cast<BN_ULONG>(x >> 32);
  }
  const int ok = morvane::internal::store_words(a, w, static_cast<int>(2 * N));
  MORVANE_cleanse(w, sizeof w);
  return ok == 1;
}

// out = k^-1 mod n when x is null; otherwise out = k' (m + x r) mod n, made
// public, with k' = k^-1 unless k_is_inverse.
template <size_t N>
int order_op_n(const EC_GROUP* group, BIGNUM* out, const BIGNUM* k, bool k_is_inverse,
               const BIGNUM* x, const BIGNUM* r, const BIGNUM* m, BN_CTX* ctx) {
  Field<N> local;
  const Field<N>* fp = nullptr;
  Fe<N> kk, t, u, unit = {};
  unit.v[0] = 1;
  int ok = 0;
  // The order as the modulus: the group's record keeps it when the field
  // has as many limbs.
  if ((static_cast<size_t>(BN_num_bits(&group->field)) + 63) / 64 == N) {
    // Without the record the modulus is made here: nothing to say.
    const Cache<N>* cache = group_cache<N>(group, ctx, false);
    if (cache != nullptr && cache->has_order) fp = &cache->order;
  }
  if (fp == nullptr) {
    if (!init_modulus<N>(local, &group->order, ctx)) goto done;
    fp = &local;
  }
  if (!to_limbs<N>(t.v, k)) goto done;
  mul(kk, t, fp->r2, *fp);  // k R
  if (!k_is_inverse) {
    mul(t, kk, unit, *fp);  // k mod n
    modinv::invert<N>(t.v, t.v, fp->p, static_cast<size_t>(BN_num_bits(&group->order)), fp->n0);
    mul(kk, t, fp->r2, *fp);  // k^-1 R
  }
  if (x == nullptr) {
    mul(kk, kk, unit, *fp);
    ok = store<N>(out, kk, false);
    goto done;
  }
  if (!to_limbs<N>(t.v, x)) goto done;
  mul(t, t, fp->r2, *fp);  // x R
  if (!to_limbs<N>(u.v, r)) goto done;
  mul(u, u, fp->r2, *fp);  // r R
  mul(t, t, u, *fp);     // x r R
  if (!to_limbs<N>(u.v, m)) goto done;
  mul(u, u, fp->r2, *fp);  // m R
  add(t, t, u, *fp);     // (m + x r) R
  mul(t, t, kk, *fp);    // s R
  mul(t, t, unit, *fp);  // s
  ok = store<N>(out, t, true);
done:
  MORVANE_cleanse(&kk, sizeof kk);
  MORVANE_cleanse(&t, sizeof t);
  MORVANE_cleanse(&u, sizeof u);
  return ok;
}

// Declares (kind extern) or defines (kind empty) the instantiations of the
// engine for N limbs.
#define MORVANE_EC_CT_INSTANTIATE(kind, N)                                                  \
  kind template int mul_n<N>(const EC_GROUP*, EC_POINT*, const BIGNUM*, const EC_POINT*,    \
                             const BIGNUM*, const EC_POINT*, const EC_POINT* const[], size_t, \
                             BN_CTX*);                                                       \
  kind template int order_op_n<N>(const EC_GROUP*, BIGNUM*, const BIGNUM*, bool,            \
                                  const BIGNUM*, const BIGNUM*, const BIGNUM*, BN_CTX*)

MORVANE_EC_CT_INSTANTIATE(extern, 4);
MORVANE_EC_CT_INSTANTIATE(extern, 6);
MORVANE_EC_CT_INSTANTIATE(extern, 7);
MORVANE_EC_CT_INSTANTIATE(extern, 8);
MORVANE_EC_CT_INSTANTIATE(extern, 9);
MORVANE_EC_CT_INSTANTIATE(extern, 10);
MORVANE_EC_CT_INSTANTIATE(extern, 11);

}  // namespace morvane::ec::ctengine

#endif  // MORVANE_CRYPTO_EC_ECP_CT_ENGINE_H
