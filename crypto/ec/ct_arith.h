// The field and point arithmetic of the constant-time GF(p) engine
// (ecp_ct.cc): fixed-width field elements of N 64-bit limbs in Montgomery
// form, their sum, difference and product, the complete projective point
// formulas, the masked table read and the inversion.  Nothing here branches
// on or indexes by a secret value.
#ifndef MORVANE_CRYPTO_EC_CT_ARITH_H
#define MORVANE_CRYPTO_EC_CT_ARITH_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <morvane/bn.h>

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

template <size_t N>
struct Field {
  limb p[N];
  limb n0;           // -p^-1 mod 2^64
  Fe<N> r2;          // R^2 mod p
  Fe<N> one;         // R mod p
  Fe<N> a, b3;       // a and 3 b, Montgomery form
  Fe<N> b;           // b, Montgomery form
  bool a_is_minus3;  // a = -3 mod p (a public property of the group)
};

template <size_t N>
struct Pt {
  Fe<N> x, y, z;
};

// r = a b / R mod p; a, b < p.  The whole product first, then N rounds of
// word-serial reduction (separated operand scanning).
template <size_t N>
void mul(Fe<N>& r, const Fe<N>& a, const Fe<N>& b, const Field<N>& f) {
  limb t[2 * N];
  for (size_t j = 0; j < N; j++) t[j] = 0;
  for (size_t i = 0; i < N; i++) {
    limb c = 0;
    for (size_t j = 0; j < N; j++) {
      const u128 s = static_cast<u128>(a.v[j]) * b.v[i] + t[i + j] + c;
      t[i + j] = static_cast<limb>(s);
      c = static_cast<limb>(s >> 64);
    }
    t[i + N] = c;
  }
  limb top = 0;  // the carry out of t[2N - 1]
  for (size_t i = 0; i < N; i++) {
    const limb m = t[i] * f.n0;
    limb c = 0;
    for (size_t j = 0; j < N; j++) {
      const u128 s = static_cast<u128>(m) * f.p[j] + t[i + j] + c;
      t[i + j] = static_cast<limb>(s);
      c = static_cast<limb>(s >> 64);
    }
    const u128 s = static_cast<u128>(t[i + N]) + c + top;
    t[i + N] = static_cast<limb>(s);
    top = static_cast<limb>(s >> 64);
  }
  // (top, t[N..2N-1]) < 2p: subtract p unless that borrows past top.
  limb d[N];
  limb borrow = 0;
  for (size_t j = 0; j < N; j++) {
    const u128 s = static_cast<u128>(t[N + j]) - f.p[j] - borrow;
    d[j] = static_cast<limb>(s);
    borrow = static_cast<limb>(s >> 64) & 1;
  }
  const limb keep = ct::bit_mask<limb>(borrow & ~top & 1);
  for (size_t j = 0; j < N; j++) r.v[j] = ct::select(keep, t[N + j], d[j]);
}

template <size_t N>
void add(Fe<N>& r, const Fe<N>& a, const Fe<N>& b, const Field<N>& f) {
  limb s[N], d[N];
  limb carry = 0, borrow = 0;
  for (size_t j = 0; j < N; j++) {
    u128 t = static_cast<u128>(a.v[j]) + b.v[j] + carry;
    s[j] = static_cast<limb>(t);
    carry = static_cast<limb>(t >> 64);
  }
  for (size_t j = 0; j < N; j++) {
    u128 t = static_cast<u128>(s[j]) - f.p[j] - borrow;
    d[j] = static_cast<limb>(t);
    borrow = static_cast<limb>(t >> 64) & 1;
  }
  const limb keep = ct::bit_mask<limb>(borrow & ~carry & 1);  // s < p
  for (size_t j = 0; j < N; j++) r.v[j] = ct::select(keep, s[j], d[j]);
}

template <size_t N>
void sub(Fe<N>& r, const Fe<N>& a, const Fe<N>& b, const Field<N>& f) {
  limb d[N];
  limb borrow = 0;
  for (size_t j = 0; j < N; j++) {
    u128 t = static_cast<u128>(a.v[j]) - b.v[j] - borrow;
    d[j] = static_cast<limb>(t);
    borrow = static_cast<limb>(t >> 64) & 1;
  }
  const limb mask = ct::bit_mask<limb>(borrow);
  limb carry = 0;
  for (size_t j = 0; j < N; j++) {
    u128 t = static_cast<u128>(d[j]) + (f.p[j] & mask) + carry;
    r.v[j] = static_cast<limb>(t);
    carry = static_cast<limb>(t >> 64);
  }
}

// Complete addition, any a (Algorithm 1 of Renes-Costello-Batina); r may
// alias p or q.
template <size_t N>
void point_add(Pt<N>& r, const Pt<N>& p, const Pt<N>& q, const Field<N>& f) {
  Fe<N> t0, t1, t2, t3, t4, t5, x3, y3, z3;
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

// Complete addition for a = -3 (Algorithm 4 of Renes-Costello-Batina):
// three fewer products than the form for any a.  r may alias p or q.
template <size_t N>
void point_add_m3(Pt<N>& r, const Pt<N>& p, const Pt<N>& q, const Field<N>& f) {
  Fe<N> t0, t1, t2, t3, t4, x3, y3, z3;
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

// Complete doubling for a = -3 (Algorithm 6 of Renes-Costello-Batina);
// r may alias p.
template <size_t N>
void point_dbl_m3(Pt<N>& r, const Pt<N>& p, const Field<N>& f) {
  Fe<N> t0, t1, t2, t3, x3, y3, z3;
  mul(t0, p.x, p.x, f);
  mul(t1, p.y, p.y, f);
  mul(t2, p.z, p.z, f);
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

// dst = table[index], reading every entry.
template <size_t N>
void select_point(Pt<N>& dst, const Pt<N>* table, limb index) {
  memset(&dst, 0, sizeof dst);
  for (size_t i = 0; i < kTable; i++) {
    const limb m = ct::eq_mask<limb>(static_cast<limb>(i), index);
    const limb* src = reinterpret_cast<const limb*>(&table[i]);
    limb* out = reinterpret_cast<limb*>(&dst);
    for (size_t j = 0; j < 3 * N; j++) out[j] |= src[j] & m;
  }
}

template <size_t N>
bool to_mont(Fe<N>& r, const BIGNUM* a, const Field<N>& f) {
  Fe<N> plain;
  if (!to_limbs<N>(plain.v, a)) return false;
  mul(r, plain, f.r2, f);
  return true;
}

// r = a^(p-2) = a^-1 (0 for 0); the exponent is public.
template <size_t N>
void invert(Fe<N>& r, const Fe<N>& a, const Field<N>& f) {
  limb e[N];
  limb borrow = 2;
  for (size_t j = 0; j < N; j++) {
    u128 t = static_cast<u128>(f.p[j]) - borrow;
    e[j] = static_cast<limb>(t);
    borrow = static_cast<limb>(t >> 64) & 1;
  }
  Fe<N> acc = f.one;
  for (size_t i = 64 * N; i-- > 0;) {
    mul(acc, acc, acc, f);
    if ((e[i / 64] >> (i % 64)) & 1) mul(acc, acc, a, f);
  }
  r = acc;
}

}  // namespace morvane::ec::ctarith

#endif  // MORVANE_CRYPTO_EC_CT_ARITH_H
