// Inversion modulo an odd number by divsteps, in constant time, for the
// constant-time engine's arithmetic modulo the group order (the ECDSA
// nonce's inverse): x^-1 mod m for a secret x and a public odd m of N
// 64-bit limbs, 0 for x = 0 mod m.
//
// Implementation notes: Bernstein and Yang, "Fast constant-time gcd
// computation and modular inversion" (CHES 2019).  A divstep maps (delta, f,
// g), f odd, to (1 - delta, g, (g - f) / 2) when delta > 0 and g is odd,
// else to (1 + delta, f, (g + (g mod 2) f) / 2).  From (1, m, x), after
// floor((49 d + 57) / 17) steps (floor((49 d + 80) / 17) for d < 46) with
// m, x < 2^d (their Theorem 11.2), g is 0 and f is +-gcd(m, x), +-1 here.
// The steps run in batches of 62 on the low 62 bits of f and g alone,
// giving a 2 x 2 matrix T of integers (|u| + |v| and |q| + |r| at most
// 2^62) with 2^62 (f', g') = T (f, g); the whole f and g (signed, 62-bit
// limbs) are then updated by T, and so are d and e, kept with d x = f and
// e x = g mod m: (u d + v e) / 2^62 mod m, made divisible by adding the
// multiple of m that clears its low 62 bits (m^-1 mod 2^62 from the
// Montgomery constant n0 = -m^-1 mod 2^64).  d and e stay in [0, m).  At
// the end x^-1 = +-d.  The number of batches depends on bits(m) only;
// nothing branches on or indexes by x.
#ifndef MORVANE_CRYPTO_EC_CT_MODINV_H
#define MORVANE_CRYPTO_EC_CT_MODINV_H

#include <stddef.h>
#include <stdint.h>

#include <morvane/crypto.h>

namespace morvane::ec::ctarith::modinv {

using i64 = int64_t;
using u64 = uint64_t;
using i128 = __int128;

constexpr unsigned kBits = 62;
constexpr u64 kMask = (u64{1} << kBits) - 1;

// Signed numbers of 62-bit limbs with room for m and its negation: limbs
// below the top in [0, 2^62), the top limb signed.
template <size_t N>
constexpr size_t kLimbs = (64 * N + 2 + kBits - 1) / kBits;

struct Matrix {
  i64 u, v, q, r;
};

// 62 divsteps on the low bits of f (odd) and g: the matrix in t, delta
// returned.  Step i reads bit i of the original g (and lower bits of both),
// so the low 62 bits suffice.
inline i64 divsteps(i64 delta, u64 f, u64 g, Matrix& t) {
  u64 u = 1, v = 0, q = 0, r = 1;
  for (unsigned i = 0; i < kBits; i++) {
    const u64 odd = 0 - (g & 1);
    const u64 swap = odd & static_cast<u64>((0 - delta) >> 63);  // delta > 0 and g odd
    // The new g takes -f (swap) or f (g odd) or nothing; the new f is g
    // (swap) or f, its matrix row doubled.
    const u64 nf = (f ^ swap) - swap, nu = (u ^ swap) - swap, nv = (v ^ swap) - swap;
    f ^= (f ^ g) & swap;
    u ^= (u ^ q) & swap;
    v ^= (v ^ r) & swap;
    g += nf & odd;
    q += nu & odd;
    r += nv & odd;
    g >>= 1;
    u <<= 1;
    v <<= 1;
    const i64 s = static_cast<i64>(swap);
    delta = 1 + ((delta ^ s) - s);
  }
  t = {static_cast<i64>(u), static_cast<i64>(v), static_cast<i64>(q), static_cast<i64>(r)};
  return delta;
}

// (f, g) = T (f, g) / 2^62 (exact).
template <size_t L>
void update_fg(i64 f[L], i64 g[L], const Matrix& t) {
  i128 cf = static_cast<i128>(t.u) * f[0] + static_cast<i128>(t.v) * g[0];
  i128 cg = static_cast<i128>(t.q) * f[0] + static_cast<i128>(t.r) * g[0];
  cf >>= kBits;  // the low 62 bits are zero
  cg >>= kBits;
  for (size_t i = 1; i < L; i++) {
    cf += static_cast<i128>(t.u) * f[i] + static_cast<i128>(t.v) * g[i];
    cg += static_cast<i128>(t.q) * f[i] + static_cast<i128>(t.r) * g[i];
    f[i - 1] = static_cast<i64>(static_cast<u64>(cf) & kMask);
    g[i - 1] = static_cast<i64>(static_cast<u64>(cg) & kMask);
    cf >>= kBits;
    cg >>= kBits;
  }
  f[L - 1] = static_cast<i64>(cf);
  g[L - 1] = static_cast<i64>(cg);
}

// a = a + (m & mask) (mask all ones or zero).
template <size_t L>
void add_masked(i64 a[L], const i64 m[L], i64 mask) {
  i128 c = 0;
  for (size_t i = 0; i + 1 < L; i++) {
    c += static_cast<i128>(a[i]) + (m[i] & mask);
    a[i] = static_cast<i64>(static_cast<u64>(c) & kMask);
    c >>= kBits;
  }
  a[L - 1] = static_cast<i64>(c + a[L - 1] + (m[L - 1] & mask));
}

// r = a - b.
template <size_t L>
void sub(i64 r[L], const i64 a[L], const i64 b[L]) {
  i128 c = 0;
  for (size_t i = 0; i + 1 < L; i++) {
    c += static_cast<i128>(a[i]) - b[i];
    r[i] = static_cast<i64>(static_cast<u64>(c) & kMask);
    c >>= kBits;
  }
  r[L - 1] = static_cast<i64>(c + a[L - 1] - b[L - 1]);
}

// a = b where mask is all ones, a where it is zero.
template <size_t L>
void take_masked(i64 a[L], const i64 b[L], i64 mask) {
  for (size_t i = 0; i < L; i++) a[i] = (b[i] & mask) | (a[i] & ~mask);
}

// a in (-m, 2 m) to [0, m).
template <size_t L>
void normalize(i64 a[L], const i64 m[L]) {
  add_masked<L>(a, m, a[L - 1] >> 63);  // negative: add m
  i64 t[L];
  sub<L>(t, a, m);
  take_masked<L>(a, t, ~(t[L - 1] >> 63));  // a - m >= 0: take it
}

// (d, e) = T (d, e) / 2^62 mod m, both in [0, m); minv = m^-1 mod 2^62.
template <size_t L>
void update_de(i64 d[L], i64 e[L], const Matrix& t, const i64 m[L], u64 minv) {
  i128 cd = static_cast<i128>(t.u) * d[0] + static_cast<i128>(t.v) * e[0];
  i128 ce = static_cast<i128>(t.q) * d[0] + static_cast<i128>(t.r) * e[0];
  // md m clears the low 62 bits of cd: md = -cd m^-1 mod 2^62.
  const i64 md = static_cast<i64>((0 - static_cast<u64>(cd) * minv) & kMask);
  const i64 me = static_cast<i64>((0 - static_cast<u64>(ce) * minv) & kMask);
  cd += static_cast<i128>(md) * m[0];
  ce += static_cast<i128>(me) * m[0];
  cd >>= kBits;
  ce >>= kBits;
  for (size_t i = 1; i < L; i++) {
    cd += static_cast<i128>(t.u) * d[i] + static_cast<i128>(t.v) * e[i] +
          static_cast<i128>(md) * m[i];
    ce += static_cast<i128>(t.q) * d[i] + static_cast<i128>(t.r) * e[i] +
          static_cast<i128>(me) * m[i];
    d[i - 1] = static_cast<i64>(static_cast<u64>(cd) & kMask);
    e[i - 1] = static_cast<i64>(static_cast<u64>(ce) & kMask);
    cd >>= kBits;
    ce >>= kBits;
  }
  d[L - 1] = static_cast<i64>(cd);
  e[L - 1] = static_cast<i64>(ce);
  // |u d + v e| < 2^62 m and md m < 2^62 m: the results lie in (-m, 2 m).
  normalize<L>(d, m);
  normalize<L>(e, m);
}

// Plain 64-bit limbs (a number below 2^(64 N)) to 62-bit limbs and back.
template <size_t N, size_t L>
void to_62(i64 out[L], const u64 a[N]) {
  for (size_t i = 0; i < L; i++) {
    const size_t bit = kBits * i, w = bit / 64, s = bit % 64;
    u64 v = w < N ? a[w] >> s : 0;
    if (s > 64 - kBits && w + 1 < N) v |= a[w + 1] << (64 - s);
    out[i] = static_cast<i64>(v & kMask);
  }
}

template <size_t N, size_t L>
void from_62(u64 out[N], const i64 a[L]) {
  for (size_t j = 0; j < N; j++) out[j] = 0;
  for (size_t i = 0; i < L; i++) {
    const size_t bit = kBits * i, w = bit / 64, s = bit % 64;
    const u64 v = static_cast<u64>(a[i]);
    if (w < N) out[w] |= v << s;
    if (s > 64 - kBits && w + 1 < N) out[w + 1] |= v >> (64 - s);
  }
}

// r = x^-1 mod m (0 when x = 0 mod m): m odd, public, of `bits` bits
// (bits(m) <= 64 N), with n0 = -m^-1 mod 2^64; x below m.  r may alias x.
template <size_t N>
void invert(u64 r[N], const u64 x[N], const u64 m[N], size_t bits, u64 n0) {
  constexpr size_t L = kLimbs<N>;
  i64 f[L], g[L], d[L] = {}, e[L] = {}, mm[L];
  to_62<N, L>(mm, m);
  to_62<N, L>(g, x);
  for (size_t i = 0; i < L; i++) f[i] = mm[i];
  e[0] = 1;
  const size_t steps = bits < 46 ? (49 * bits + 80) / 17 : (49 * bits + 57) / 17;
  const u64 minv = (0 - n0) & kMask;
  i64 delta = 1;
  Matrix t;
  for (size_t done = 0; done < steps; done += kBits) {
    delta = divsteps(delta, static_cast<u64>(f[0]), static_cast<u64>(g[0]), t);
    update_fg<L>(f, g, t);
    update_de<L>(d, e, t, mm, minv);
  }
  // f = +-1: x^-1 = d, or m - d when f is negative.
  i64 md[L];
  sub<L>(md, mm, d);
  take_masked<L>(d, md, f[L - 1] >> 63);
  from_62<N, L>(r, d);
  MORVANE_cleanse(f, sizeof f);
  MORVANE_cleanse(g, sizeof g);
  MORVANE_cleanse(d, sizeof d);
  MORVANE_cleanse(e, sizeof e);
  MORVANE_cleanse(md, sizeof md);
  MORVANE_cleanse(&t, sizeof t);
  MORVANE_cleanse(&delta, sizeof delta);
}

}  // namespace morvane::ec::ctarith::modinv

#endif  // MORVANE_CRYPTO_EC_CT_MODINV_H
