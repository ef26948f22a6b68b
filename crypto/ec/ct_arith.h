// The field and point arithmetic of the constant-time GF(p) engine
// (ecp_ct.cc): fixed-width field elements of N 64-bit limbs in Montgomery
// form (x R mod p, R = 2^(64 N); R = 1 on the fields of plain_residues;
// P-521: its own digits, ct_p521.h), their sum, difference and product,
// the complete projective point formulas, the masked table read and the
// inversion.  Nothing here branches on or indexes by a secret value.
#ifndef MORVANE_CRYPTO_EC_CT_ARITH_H
#define MORVANE_CRYPTO_EC_CT_ARITH_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#if defined(__x86_64__)
#include <x86intrin.h>
#endif

#include <morvane/bn.h>
#include <morvane/crypto.h>

#include "ec/ct_p521.h"
#include "ec/internal.h"
#include "internal/ct.h"

namespace morvane::ec::ctarith {

using limb = uint64_t;
using u128 = unsigned __int128;
namespace ct = morvane::ct;
using morvane::ec::to_limbs;

constexpr size_t kWindow = 4;
constexpr size_t kTable = size_t{1} << kWindow;

template <size_t N>
struct Fe {
  limb v[N];
};

// kP384Adx: the P-384 field on the MULX/ADX kernel (ct_p384.h); kMont6Adx:
// another six-limb modulus, Montgomery form, on that kernel.  kP521:
// elements are not in Montgomery form but P-521's own digits (ct_p521.h);
// from_plain and to_plain convert.
enum class FieldKind : uint8_t { kGeneric, kP256, kP384, kP384Adx, kMont6Adx, kP521 };

// Fields whose products reduce a b directly (a b mod p, no factor R^-1):
// their elements are plain residues, and R below is 1.
constexpr bool plain_residues(FieldKind k) {
  return k == FieldKind::kP384 || k == FieldKind::kP384Adx;
}

template <size_t N>
struct Field {
  limb p[N];
  limb n0;           // -p^-1 mod 2^64
  Fe<N> r2;          // R^2 mod p
  Fe<N> one;         // 1 in the field's representation: R mod p
  Fe<N> a, b3;       // a and 3 b, in the field's representation
  Fe<N> b;           // b, in the field's representation
  bool a_is_minus3;  // a = -3 mod p (a public property of the group)
  // Which reduction the products use: chosen from the public modulus by
  // select_kind; a field left at kGeneric is always correct.
  FieldKind kind = FieldKind::kGeneric;
};

template <size_t N>
struct Pt {
  Fe<N> x, y, z;
};

// The short helpers are inlined into the point formulas even where the
// compiler would not choose to: a call costs as much as a 4-limb sum.
#define MORVANE_EC_INLINE inline __attribute__((always_inline))

// ---- carry chains ----------------------------------------------------------
// On x86-64 the add-with-carry intrinsics, which compilers turn into one
// adc/sbb chain; elsewhere 128-bit sums.  A carry or borrow is 0 or 1.
using carry_t = unsigned char;

// a + b + c, the carry out in c.
MORVANE_EC_INLINE limb adc(limb a, limb b, carry_t& c) {
#if defined(__x86_64__)
  unsigned long long s;
  c = _addcarry_u64(c, a, b, &s);
  return s;
#else
  const u128 s = static_cast<u128>(a) + b + c;
  c = static_cast<carry_t>(s >> 64);
  return static_cast<limb>(s);
#endif
}

// a - b - c, the borrow out in c.
MORVANE_EC_INLINE limb sbb(limb a, limb b, carry_t& c) {
#if defined(__x86_64__)
  unsigned long long d;
  c = _subborrow_u64(c, a, b, &d);
  return d;
#else
  const u128 d = static_cast<u128>(a) - b - c;
  c = static_cast<carry_t>((d >> 64) & 1);
  return static_cast<limb>(d);
#endif
}

// a b + c + d, the high word in hi; never overflows 128 bits.
MORVANE_EC_INLINE limb mac(limb a, limb b, limb c, limb d, limb& hi) {
  const u128 s = static_cast<u128>(a) * b + c + d;
  hi = static_cast<limb>(s >> 64);
  return static_cast<limb>(s);
}

// r = (top, t) - p when that does not borrow, else t; (top, t) < 2p.
template <size_t N>
MORVANE_EC_INLINE void final_sub(limb r[N], const limb t[N], carry_t top, const limb p[N]) {
  limb d[N];
  carry_t borrow = 0;
  for (size_t j = 0; j < N; j++) d[j] = sbb(t[j], p[j], borrow);
  const limb keep = ct::bit_mask<limb>(static_cast<limb>(borrow & ~top & 1));
  for (size_t j = 0; j < N; j++) r[j] = ct::select(keep, t[j], d[j]);
}

// r = t / R mod p for t < p R (2N limbs, clobbered): N rounds of word-serial
// Montgomery reduction, then one masked subtraction of p.
template <size_t N>
void mont_reduce(limb r[N], limb t[2 * N], const Field<N>& f) {
  carry_t top = 0;  // the carry out of t[2N - 1]
  for (size_t i = 0; i < N; i++) {
    const limb m = t[i] * f.n0;
    limb c = 0;
    for (size_t j = 0; j < N; j++) t[i + j] = mac(m, f.p[j], t[i + j], c, c);
    t[i + N] = adc(t[i + N], c, top);
  }
  final_sub<N>(r, t + N, top, f.p);
}

// t = a b (2N limbs), row by row (operand scanning).
template <size_t N>
inline void product(limb t[2 * N], const limb a[N], const limb b[N]) {
  for (size_t j = 0; j < N; j++) t[j] = 0;
  for (size_t i = 0; i < N; i++) {
    limb c = 0;
    for (size_t j = 0; j < N; j++) t[i + j] = mac(a[j], b[i], t[i + j], c, c);
    t[i + N] = c;
  }
}

// t = a^2 (2N limbs): the N (N - 1) / 2 cross products once, doubled, then
// the N squares.
template <size_t N>
inline void square(limb t[2 * N], const limb a[N]) {
  for (size_t j = 0; j < 2 * N; j++) t[j] = 0;
  for (size_t i = 0; i + 1 < N; i++) {
    limb c = 0;
    for (size_t j = i + 1; j < N; j++) t[i + j] = mac(a[j], a[i], t[i + j], c, c);
    t[i + N] = c;
  }
  limb out = 0;  // the bit shifted out of each limb
  for (size_t j = 0; j < 2 * N; j++) {
    const limb v = t[j];
    t[j] = v << 1 | out;
    out = v >> 63;
  }
  carry_t k = 0;
  for (size_t i = 0; i < N; i++) {
    limb hi;
    const limb lo = mac(a[i], a[i], 0, 0, hi);
    t[2 * i] = adc(t[2 * i], lo, k);
    t[2 * i + 1] = adc(t[2 * i + 1], hi, k);
  }
}

// r = a b / R mod p; a, b < p.  The whole product first, then the reduction
// (separated operand scanning).
template <size_t N>
void mul_generic(Fe<N>& r, const Fe<N>& a, const Fe<N>& b, const Field<N>& f) {
  limb t[2 * N];
  product<N>(t, a.v, b.v);
  mont_reduce<N>(r.v, t, f);
}

// r = a^2 / R mod p.
template <size_t N>
void sqr_generic(Fe<N>& r, const Fe<N>& a, const Field<N>& f) {
  limb t[2 * N];
  square<N>(t, a.v);
  mont_reduce<N>(r.v, t, f);
}

// ---- P-256: p = 2^256 - 2^224 + 2^192 + 2^96 - 1 ---------------------------
// Four limbs (2^64 - 1, 2^32 - 1, 0, 2^64 - 2^32 + 1) and n0 = 1, so each
// reduction round's factor is the low limb itself, and adding m p to the
// running value clears that limb and adds m 2^32 to the next one (the
// products by the first two limbs collapse into a shift) and m (2^64 - 2^32
// + 1) two limbs above: one multiplication per round instead of four.
namespace p256 {

constexpr limb kP[4] = {0xffffffffffffffffu, 0x00000000ffffffffu, 0, 0xffffffff00000001u};

// r = t / 2^256 mod p for t < p 2^256 (t[0..7]): four rounds, then one
// masked subtraction of p.
inline void reduce(limb r[4], limb t[8]) {
  carry_t top = 0;  // carry out of t[i + 4], added at the next round's top limb
  for (size_t i = 0; i < 4; i++) {
    const limb m = t[i];
    limb hi;
    const limb lo = mac(m, kP[3], 0, 0, hi);  // hi <= 2^64 - 3
    carry_t c = 0;
    t[i + 1] = adc(t[i + 1], m << 32, c);
    t[i + 2] = adc(t[i + 2], m >> 32, c);
    t[i + 3] = adc(t[i + 3], lo, c);
    t[i + 4] = adc(t[i + 4], hi + top, c);
    top = c;
  }
  final_sub<4>(r, t + 4, top, kP);
}

inline void mul(limb r[4], const limb a[4], const limb b[4]) {
  limb t[8];
  limb c;
  t[0] = mac(a[0], b[0], 0, 0, c);
  t[1] = mac(a[1], b[0], 0, c, c);
  t[2] = mac(a[2], b[0], 0, c, c);
  t[3] = mac(a[3], b[0], 0, c, c);
  t[4] = c;
  for (size_t i = 1; i < 4; i++) {
    t[i] = mac(a[0], b[i], t[i], 0, c);
    t[i + 1] = mac(a[1], b[i], t[i + 1], c, c);
    t[i + 2] = mac(a[2], b[i], t[i + 2], c, c);
    t[i + 3] = mac(a[3], b[i], t[i + 3], c, c);
    t[i + 4] = c;
  }
  reduce(r, t);
}

// r = a^2 / 2^256 mod p: the six cross products once, doubled, then the
// four squares.
inline void sqr(limb r[4], const limb a[4]) {
  limb t[8];
  limb c;
  t[1] = mac(a[0], a[1], 0, 0, c);
  t[2] = mac(a[0], a[2], 0, c, c);
  t[3] = mac(a[0], a[3], 0, c, c);
  t[4] = c;
  t[3] = mac(a[1], a[2], t[3], 0, c);
  t[4] = mac(a[1], a[3], t[4], c, c);
  t[5] = c;
  t[5] = mac(a[2], a[3], t[5], 0, c);
  t[6] = c;
  t[7] = t[6] >> 63;
  t[6] = t[6] << 1 | t[5] >> 63;
  t[5] = t[5] << 1 | t[4] >> 63;
  t[4] = t[4] << 1 | t[3] >> 63;
  t[3] = t[3] << 1 | t[2] >> 63;
  t[2] = t[2] << 1 | t[1] >> 63;
  t[1] = t[1] << 1;
  limb sq[8];
  for (size_t i = 0; i < 4; i++) sq[2 * i] = mac(a[i], a[i], 0, 0, sq[2 * i + 1]);
  t[0] = sq[0];
  carry_t k = 0;
  for (size_t j = 1; j < 8; j++) t[j] = adc(t[j], sq[j], k);
  reduce(r, t);
}

}  // namespace p256
}  // namespace morvane::ec::ctarith

#include "ec/ct_p384.h"

namespace morvane::ec::ctarith {

// r = a b / R mod p, on the field's own reduction.
template <size_t N>
inline void mul(Fe<N>& r, const Fe<N>& a, const Fe<N>& b, const Field<N>& f) {
  if constexpr (N == 4) {
    if (f.kind == FieldKind::kP256) {
      p256::mul(r.v, a.v, b.v);
      return;
    }
  }
  if constexpr (N == 6) {
    if (f.kind == FieldKind::kP384Adx) {
      p384::mul_adx(r.v, a.v, b.v);
      return;
    }
    if (f.kind == FieldKind::kP384) {
      p384::mul(r.v, a.v, b.v);
      return;
    }
    if (f.kind == FieldKind::kMont6Adx) {
      p384::mont_mul_adx(r.v, a.v, b.v, f.p, f.n0);
      return;
    }
  }
  if constexpr (N == p521::kDigits) {
    if (f.kind == FieldKind::kP521) {
      p521::mul(r.v, a.v, b.v);
      return;
    }
  }
  mul_generic(r, a, b, f);
}

// r = a^2 / R mod p.
template <size_t N>
inline void sqr(Fe<N>& r, const Fe<N>& a, const Field<N>& f) {
  if constexpr (N == 4) {
    if (f.kind == FieldKind::kP256) {
      p256::sqr(r.v, a.v);
      return;
    }
  }
  if constexpr (N == 6) {
    if (f.kind == FieldKind::kP384Adx) {
      p384::sqr_adx(r.v, a.v);
      return;
    }
    if (f.kind == FieldKind::kP384) {
      p384::sqr(r.v, a.v);
      return;
    }
    if (f.kind == FieldKind::kMont6Adx) {
      p384::mont_sqr_adx(r.v, a.v, f.p, f.n0);
      return;
    }
  }
  if constexpr (N == p521::kDigits) {
    if (f.kind == FieldKind::kP521) {
      p521::sqr(r.v, a.v);
      return;
    }
  }
  sqr_generic(r, a, f);
}

// Sets f.kind from the modulus f.p (public).
template <size_t N>
void select_kind(Field<N>& f) {
  f.kind = FieldKind::kGeneric;
  if constexpr (N == 4) {
    if (memcmp(f.p, p256::kP, sizeof p256::kP) == 0) f.kind = FieldKind::kP256;
  }
  if constexpr (N == 6) {
    if (memcmp(f.p, p384::kP, sizeof p384::kP) == 0)
      f.kind = p384::use_adx() ? FieldKind::kP384Adx : FieldKind::kP384;
    else if (p384::use_adx())
      f.kind = FieldKind::kMont6Adx;
  }
  if constexpr (N == p521::kDigits) {
    if (memcmp(f.p, p521::kP, sizeof p521::kP) == 0) f.kind = FieldKind::kP521;
  }
}

// r = a (plain limbs, below 2^(64 N)) in the field's representation:
// a R mod p, or P-521's digits.
template <size_t N>
void from_plain(Fe<N>& r, const limb a[N], const Field<N>& f) {
  if constexpr (N == p521::kDigits) {
    if (f.kind == FieldKind::kP521) {
      p521::from_words(r.v, a);
      return;
    }
  }
  Fe<N> t;
  for (size_t j = 0; j < N; j++) t.v[j] = a[j];
  mul(r, t, f.r2, f);
}

// out = the plain value of a, in [0, p).
template <size_t N>
void to_plain(limb out[N], const Fe<N>& a, const Field<N>& f) {
  if constexpr (N == p521::kDigits) {
    if (f.kind == FieldKind::kP521) {
      p521::to_words(out, a.v);
      return;
    }
  }
  Fe<N> unit = {}, t;
  unit.v[0] = 1;
  mul(t, a, unit, f);
  for (size_t j = 0; j < N; j++) out[j] = t.v[j];
}

// All ones when a = 0 mod p, else zero.
template <size_t N>
limb fe_zero_mask(const Fe<N>& a, const Field<N>& f) {
  if constexpr (N == p521::kDigits) {
    if (f.kind == FieldKind::kP521) return p521::zero_mask(a.v);
  }
  limb acc = 0;
  for (size_t j = 0; j < N; j++) acc |= a.v[j];
  return ct::zero_mask(acc);
}

// Sets f.p, f.n0 = -p^-1 mod 2^64, f.r2 = R^2 mod p, f.one (R mod p, or
// P-521's 1) and f.kind for an odd modulus p of at most 64 N bits
// (public); leaves the curve constants alone.
template <size_t N>
bool init_modulus(Field<N>& f, const BIGNUM* p, BN_CTX* ctx) {
  if (!to_limbs<N>(f.p, p)) return false;
  limb inv = f.p[0];  // right in its low 3 bits; Newton's iteration doubles that
  for (int i = 0; i < 7; i++) inv *= 2 - f.p[0] * inv;
  f.n0 = 0 - inv;
  select_kind(f);
  if (plain_residues(f.kind)) {
    f.r2 = Fe<N>{};
    f.r2.v[0] = 1;
    f.one = f.r2;
    return true;
  }
  BN_CTX_start(ctx);
  BIGNUM* rr = BN_CTX_get(ctx);
  const bool ok = rr != nullptr && BN_set_word(rr, 1) &&
                  BN_lshift(rr, rr, static_cast<int>(128 * N)) && BN_nnmod(rr, rr, p, ctx) &&
                  to_limbs<N>(f.r2.v, rr);
  BN_CTX_end(ctx);
  if (!ok) return false;
  const limb unit[N] = {1};
  from_plain(f.one, unit, f);
  return true;
}

template <size_t N>
MORVANE_EC_INLINE void add(Fe<N>& r, const Fe<N>& a, const Fe<N>& b, const Field<N>& f) {
  if constexpr (N == p521::kDigits) {
    if (f.kind == FieldKind::kP521) {
      p521::add(r.v, a.v, b.v);
      return;
    }
  }
  limb s[N];
  carry_t carry = 0;
  for (size_t j = 0; j < N; j++) s[j] = adc(a.v[j], b.v[j], carry);
  final_sub<N>(r.v, s, carry, f.p);  // a + b < 2p
}

template <size_t N>
MORVANE_EC_INLINE void sub(Fe<N>& r, const Fe<N>& a, const Fe<N>& b, const Field<N>& f) {
  if constexpr (N == p521::kDigits) {
    if (f.kind == FieldKind::kP521) {
      p521::sub(r.v, a.v, b.v);
      return;
    }
  }
  limb d[N];
  carry_t borrow = 0;
  for (size_t j = 0; j < N; j++) d[j] = sbb(a.v[j], b.v[j], borrow);
  const limb mask = ct::bit_mask<limb>(borrow);
  carry_t carry = 0;
  for (size_t j = 0; j < N; j++) r.v[j] = adc(d[j], f.p[j] & mask, carry);
}

// The common end of the complete additions for any a (Algorithm 1 and its
// mixed form), from t0 = X1 X2, t1 = Y1 Y2, t2 = Z1 Z2, t3 = X1 Y2 + X2 Y1,
// t4 = X1 Z2 + X2 Z1 and t5 = Y1 Z2 + Y2 Z1; t0, t1, t2 and t4 are spent.
template <size_t N>
MORVANE_EC_INLINE void add_finish(Pt<N>& r, Fe<N>& t0, Fe<N>& t1, Fe<N>& t2, const Fe<N>& t3,
                                  Fe<N>& t4, const Fe<N>& t5, const Field<N>& f) {
  Fe<N> x3, y3, z3;
  mul(z3, f.a, t4, f);
  mul(x3, f.b3, t2, f);
  add(z3, x3, z3, f);
  sub(x3, t1, z3, f);
  add(z3, t1, z3, f);
  mul(y3, x3, z3, f);
  add(t1, t0, t0, f);
  add(t1, t1, t0, f);
  mul(t2, f.a, t2, f);
  mul(t4, f.b3, t4, f);
  add(t1, t1, t2, f);
  sub(t2, t0, t2, f);
  mul(t2, f.a, t2, f);
  add(t4, t4, t2, f);
  mul(t0, t1, t4, f);
  add(y3, y3, t0, f);
  mul(t0, t5, t4, f);
  mul(x3, t3, x3, f);
  sub(x3, x3, t0, f);
  mul(t0, t3, t1, f);
  mul(z3, t5, z3, f);
  add(z3, z3, t0, f);
  r.x = x3;
  r.y = y3;
  r.z = z3;
}

// Complete addition, any a (Algorithm 1 of Renes-Costello-Batina); r may
// alias p or q.
template <size_t N>
void point_add(Pt<N>& r, const Pt<N>& p, const Pt<N>& q, const Field<N>& f) {
  Fe<N> t0, t1, t2, t3, t4, t5, x3;
  mul(t0, p.x, q.x, f);
  mul(t1, p.y, q.y, f);
  mul(t2, p.z, q.z, f);
  add(t3, p.x, p.y, f);
  add(t4, q.x, q.y, f);
  mul(t3, t3, t4, f);
  add(t4, t0, t1, f);
  sub(t3, t3, t4, f);
  add(t4, p.x, p.z, f);
  add(t5, q.x, q.z, f);
  mul(t4, t4, t5, f);
  add(t5, t0, t2, f);
  sub(t4, t4, t5, f);
  add(t5, p.y, p.z, f);
  add(x3, q.y, q.z, f);
  mul(t5, t5, x3, f);
  add(x3, t1, t2, f);
  sub(t5, t5, x3, f);
  add_finish(r, t0, t1, t2, t3, t4, t5, f);
}

// The common end of the complete additions for a = -3 (Algorithm 4 and its
// mixed form), from t0 = X1 X2, t1 = Y1 Y2, t2 = Z1 Z2, t3 = X1 Y2 + X2 Y1,
// t4 = Y1 Z2 + Y2 Z1 and y3 = X1 Z2 + X2 Z1; t0, t1, t2 and y3 are spent.
template <size_t N>
MORVANE_EC_INLINE void add_finish_m3(Pt<N>& r, Fe<N>& t0, Fe<N>& t1, Fe<N>& t2, const Fe<N>& t3,
                                     const Fe<N>& t4, Fe<N>& y3, const Field<N>& f) {
  Fe<N> x3, z3;
  mul(z3, f.b, t2, f);
  sub(x3, y3, z3, f);
  add(z3, x3, x3, f);
  add(x3, x3, z3, f);
  sub(z3, t1, x3, f);
  add(x3, t1, x3, f);
  mul(y3, f.b, y3, f);
  add(t1, t2, t2, f);
  add(t2, t1, t2, f);
  sub(y3, y3, t2, f);
  sub(y3, y3, t0, f);
  add(t1, y3, y3, f);
  add(y3, t1, y3, f);
  add(t1, t0, t0, f);
  add(t0, t1, t0, f);
  sub(t0, t0, t2, f);
  mul(t1, t4, y3, f);
  mul(t2, t0, y3, f);
  mul(y3, x3, z3, f);
  add(y3, y3, t2, f);
  mul(x3, t3, x3, f);
  sub(x3, x3, t1, f);
  mul(z3, t4, z3, f);
  mul(t1, t3, t0, f);
  add(z3, z3, t1, f);
  r.x = x3;
  r.y = y3;
  r.z = z3;
}

// Complete addition for a = -3 (Algorithm 4 of Renes-Costello-Batina):
// three fewer products than the form for any a.  r may alias p or q.
template <size_t N>
void point_add_m3(Pt<N>& r, const Pt<N>& p, const Pt<N>& q, const Field<N>& f) {
  Fe<N> t0, t1, t2, t3, t4, x3, y3;
  mul(t0, p.x, q.x, f);
  mul(t1, p.y, q.y, f);
  mul(t2, p.z, q.z, f);
  add(t3, p.x, p.y, f);
  add(t4, q.x, q.y, f);
  mul(t3, t3, t4, f);
  add(t4, t0, t1, f);
  sub(t3, t3, t4, f);
  add(t4, p.y, p.z, f);
  add(x3, q.y, q.z, f);
  mul(t4, t4, x3, f);
  add(x3, t1, t2, f);
  sub(t4, t4, x3, f);
  add(x3, p.x, p.z, f);
  add(y3, q.x, q.z, f);
  mul(x3, x3, y3, f);
  add(y3, t0, t2, f);
  sub(y3, x3, y3, f);
  add_finish_m3(r, t0, t1, t2, t3, t4, y3, f);
}

// Complete doubling for a = -3 (Algorithm 6 of Renes-Costello-Batina);
// r may alias p.
template <size_t N>
void point_dbl_m3(Pt<N>& r, const Pt<N>& p, const Field<N>& f) {
  Fe<N> t0, t1, t2, t3, x3, y3, z3;
  sqr(t0, p.x, f);
  sqr(t1, p.y, f);
  sqr(t2, p.z, f);
  mul(t3, p.x, p.y, f);
  add(t3, t3, t3, f);
  mul(z3, p.x, p.z, f);
  add(z3, z3, z3, f);
  mul(y3, f.b, t2, f);
  sub(y3, y3, z3, f);
  add(x3, y3, y3, f);
  add(y3, x3, y3, f);
  sub(x3, t1, y3, f);
  add(y3, t1, y3, f);
  mul(y3, x3, y3, f);
  mul(x3, x3, t3, f);
  add(t3, t2, t2, f);
  add(t2, t2, t3, f);
  mul(z3, f.b, z3, f);
  sub(z3, z3, t2, f);
  sub(z3, z3, t0, f);
  add(t3, z3, z3, f);
  add(z3, z3, t3, f);
  add(t3, t0, t0, f);
  add(t0, t3, t0, f);
  sub(t0, t0, t2, f);
  mul(t0, t0, z3, f);
  add(y3, y3, t0, f);
  mul(t0, p.y, p.z, f);
  add(t0, t0, t0, f);
  mul(z3, t0, z3, f);
  sub(x3, x3, z3, f);
  mul(z3, t0, t1, f);
  add(z3, z3, z3, f);
  add(z3, z3, z3, f);
  r.x = x3;
  r.y = y3;
  r.z = z3;
}

// Doubling in Jacobian coordinates (x = X / Z^2, y = Y / Z^3) for a = -3
// ("dbl-2001-b" of the Explicit-Formulas Database, 3M + 5S).  It has no
// exceptional input on a curve of odd order and on the point at infinity:
// (l^2, l^3, 0) doubles to (l^8, l^12, 0), and a point with Y = 0 to a Z of
// 0 with X and Y nonzero.  r may alias p.
template <size_t N>
void point_dbl_jac_m3(Pt<N>& r, const Pt<N>& p, const Field<N>& f) {
  if constexpr (N == p521::kDigits) {
    if (f.kind == FieldKind::kP521) {
      p521::dbl_jac_m3(r.x.v, r.y.v, r.z.v, p.x.v, p.y.v, p.z.v);
      return;
    }
  }
  Fe<N> delta, gamma, beta, alpha, t;
  sqr(delta, p.z, f);
  sqr(gamma, p.y, f);
  mul(beta, p.x, gamma, f);
  sub(t, p.x, delta, f);
  add(alpha, p.x, delta, f);
  mul(alpha, t, alpha, f);
  add(t, alpha, alpha, f);
  add(alpha, t, alpha, f);  // 3 (X - delta)(X + delta)
  add(r.z, p.y, p.z, f);
  sqr(r.z, r.z, f);
  sub(r.z, r.z, gamma, f);
  sub(r.z, r.z, delta, f);  // 2 Y Z
  add(beta, beta, beta, f);
  add(beta, beta, beta, f);  // 4 beta
  sqr(r.x, alpha, f);
  add(t, beta, beta, f);
  sub(r.x, r.x, t, f);  // alpha^2 - 8 beta
  sub(t, beta, r.x, f);
  mul(t, alpha, t, f);
  sqr(gamma, gamma, f);
  add(gamma, gamma, gamma, f);
  add(gamma, gamma, gamma, f);
  add(gamma, gamma, gamma, f);  // 8 gamma^2
  sub(r.y, t, gamma, f);
}

// Jacobian (X, Y, Z) to homogeneous projective (X Z, Y, Z^3): the point at
// infinity (l^2, l^3, 0) becomes (0 : l^3 : 0).  r may alias p.
template <size_t N>
void jac_to_proj(Pt<N>& r, const Pt<N>& p, const Field<N>& f) {
  Fe<N> z2;
  sqr(z2, p.z, f);
  mul(r.x, p.x, p.z, f);
  mul(r.z, z2, p.z, f);
  r.y = p.y;
}

// Homogeneous projective (X : Y : Z) to Jacobian (X Z, Y Z^2, Z); the point
// at infinity (Z = 0) becomes (1, 1, 0) by a masked choice.  r may alias p.
template <size_t N>
void proj_to_jac(Pt<N>& r, const Pt<N>& p, const Field<N>& f) {
  Fe<N> z2;
  const limb inf = fe_zero_mask(p.z, f);
  sqr(z2, p.z, f);
  mul(r.x, p.x, p.z, f);
  mul(r.y, p.y, z2, f);
  r.z = p.z;
  for (size_t j = 0; j < N; j++) {
    r.x.v[j] = ct::select(inf, f.one.v[j], r.x.v[j]);
    r.y.v[j] = ct::select(inf, f.one.v[j], r.y.v[j]);
  }
}

// dst = table[index] for index < count, reading every entry.
template <size_t N>
void select_point_n(Pt<N>& dst, const Pt<N>* table, size_t count, limb index) {
  memset(&dst, 0, sizeof dst);
  for (size_t i = 0; i < count; i++) {
    const limb m = ct::eq_mask<limb>(static_cast<limb>(i), index);
    const limb* src = reinterpret_cast<const limb*>(&table[i]);
    limb* out = reinterpret_cast<limb*>(&dst);
    for (size_t j = 0; j < 3 * N; j++) out[j] |= src[j] & m;
  }
}

// y = -y when neg is all ones, y when it is zero.
template <size_t N>
MORVANE_EC_INLINE void cond_negate(Fe<N>& y, limb neg, const Field<N>& f) {
  Fe<N> zero = {}, minus;
  sub(minus, zero, y, f);
  for (size_t j = 0; j < N; j++) y.v[j] = ct::select(neg, minus.v[j], y.v[j]);
}

// ---- signed 5-bit windows (Booth recoding) ---------------------------------
// k = sum of d_i 2^(5 i) with digits d_i in [-16, 16] (d_i = b[5i+4..5i] +
// b[5i-1] - 32 b[5i+4]), signed_windows(bits) windows over a scalar below
// 2^bits (64 N bits, or fewer where the engine reduces scalars modulo the
// order first), the top one reaching past bit bits - 1 so that its digit is
// never negative.
constexpr size_t kSignedWidth = 5;
constexpr size_t kSignedEntries = (size_t{1} << (kSignedWidth - 1)) + 1;  // 0 .. 16

constexpr size_t signed_windows(size_t bits) {
  return bits / kSignedWidth + 1;
}

// Bit j of the scalar (0 past its limbs); j is public.
template <size_t N>
inline limb scalar_bit(const limb scalar[N], size_t j) {
  return j < 64 * N ? (scalar[j / 64] >> (j % 64)) & 1 : 0;
}

// Window i's digit as its magnitude and a sign mask (all ones if negative).
template <size_t N>
inline limb booth_digit(const limb scalar[N], size_t i, limb& neg) {
  limb v = 0;  // b[5i+4..5i-1], six bits
  for (size_t j = kSignedWidth + 1; j-- > 0;)
    v = v << 1 | (i == 0 && j == 0 ? 0 : scalar_bit<N>(scalar, kSignedWidth * i + j - 1));
  const limb top = v >> kSignedWidth;
  neg = ct::bit_mask<limb>(top);
  const limb t = (v ^ neg) & ((limb{1} << (kSignedWidth + 1)) - 1);  // 63 - v when negative
  return (t + 1) >> 1;
}

// dst = table[index], reading every entry.
template <size_t N>
void select_point(Pt<N>& dst, const Pt<N>* table, limb index) {
  select_point_n(dst, table, kTable, index);
}

// r = a in the field's representation (from_plain).
template <size_t N>
bool to_mont(Fe<N>& r, const BIGNUM* a, const Field<N>& f) {
  limb plain[N];
  if (!to_limbs<N>(plain, a)) return false;
  from_plain(r, plain, f);
  return true;
}

// r = a^(2^n) (n squarings).
template <size_t N>
void sqr_n(Fe<N>& r, const Fe<N>& a, size_t n, const Field<N>& f) {
  r = a;
  for (size_t i = 0; i < n; i++) sqr(r, r, f);
}

// r = a^(p-2) = a^-1 on P-256, by a fixed addition chain: with x_k =
// a^(2^k - 1), p - 2 is x32 2^224 + 2^192 + x94 2^2 + 1 in those terms
// (32 ones, 31 zeros, a one, 96 zeros, 94 ones, a zero, a one).  255
// squarings and 12 products.
template <size_t N>
void invert_p256(Fe<N>& r, const Fe<N>& a, const Field<N>& f) {
  Fe<N> x2, x3, x6, x12, x15, x30, x32, t;
  sqr(t, a, f);
  mul(x2, t, a, f);
  sqr(t, x2, f);
  mul(x3, t, a, f);
  sqr_n(t, x3, 3, f);
  mul(x6, t, x3, f);
  sqr_n(t, x6, 6, f);
  mul(x12, t, x6, f);
  sqr_n(t, x12, 3, f);
  mul(x15, t, x3, f);
  sqr_n(t, x15, 15, f);
  mul(x30, t, x15, f);
  sqr_n(t, x30, 2, f);
  mul(x32, t, x2, f);
  sqr_n(t, x32, 32, f);  // 32 ones, then 31 zeros and a one
  mul(t, t, a, f);
  sqr_n(t, t, 96 + 32, f);  // 96 zeros, then 94 ones
  mul(t, t, x32, f);
  sqr_n(t, t, 32, f);
  mul(t, t, x32, f);
  sqr_n(t, t, 30, f);
  mul(t, t, x30, f);
  sqr_n(t, t, 2, f);  // a zero and a one
  mul(r, t, a, f);
}

// r = a^e for a public exponent e of N limbs: 4-bit fixed windows from the
// top, each window's power read from a table by the (public) digit.
template <size_t N>
void pow_public(Fe<N>& r, const Fe<N>& a, const limb e[N], const Field<N>& f) {
  Fe<N> tab[16];
  tab[0] = f.one;
  tab[1] = a;
  for (size_t i = 2; i < 16; i++) mul(tab[i], tab[i - 1], a, f);
  Fe<N> acc = f.one;
  for (size_t w = 16 * N; w-- > 0;) {
    for (size_t d = 0; d < 4; d++) sqr(acc, acc, f);
    const limb digit = (e[w / 16] >> (4 * (w % 16))) & 15;
    if (digit != 0) mul(acc, acc, tab[digit], f);
  }
  r = acc;
  MORVANE_cleanse(tab, sizeof tab);
}

// r = a^(p-2) = a^-1 (0 for 0); the exponent is public.
template <size_t N>
void invert(Fe<N>& r, const Fe<N>& a, const Field<N>& f) {
  if constexpr (N == 4) {
    if (f.kind == FieldKind::kP256) {
      invert_p256(r, a, f);
      return;
    }
  }
  if constexpr (N == 6) {
    if (f.kind == FieldKind::kP384Adx) {
      p384::invert_adx(r.v, a.v);
      return;
    }
    if (f.kind == FieldKind::kP384) {
      p384::invert(r.v, a.v);
      return;
    }
  }
  if constexpr (N == p521::kDigits) {
    if (f.kind == FieldKind::kP521) {
      p521::invert(r.v, a.v);
      return;
    }
  }
  limb e[N];
  limb borrow = 2;
  for (size_t j = 0; j < N; j++) {
    u128 t = static_cast<u128>(f.p[j]) - borrow;
    e[j] = static_cast<limb>(t);
    borrow = static_cast<limb>(t >> 64) & 1;
  }
  pow_public(r, a, e, f);
}

}  // namespace morvane::ec::ctarith

#undef MORVANE_EC_INLINE

#endif  // MORVANE_CRYPTO_EC_CT_ARITH_H
