// Greatest common divisors and inverses on 64-bit limbs at a fixed width,
// for secret operands: the binary Euclidean algorithm run for a number of
// steps that follows the width only, shifts by a secret count, and the
// inverse of an odd number modulo a power of two.
//
// Implementation notes: a step of the binary algorithm keeps u odd; when v
// is odd it swaps u and v if v < u and then subtracts u from v; then it
// halves v.  Each step with v non-zero takes at least one bit off
// bits(u) + bits(v), so 128 n steps bring v to 0 from any two n-limb values,
// leaving gcd(u, v) in u.  Every choice is a mask: the instructions and
// addresses follow n only.  With a modulus m (odd, u = m at the start) the
// step also keeps x and y with u = x V and v = y V (mod m), V the value v
// started from, so that x ends as V^-1 mod m when the gcd is 1.

#include <stdint.h>

#include "bn/limbs.h"
#include "internal/ct.h"

namespace morvane::bn::limb {

namespace {

// Exchanges a and b (n limbs each) when mask is all ones.
void swap_if(Limb mask, Limb* a, Limb* b, int n) noexcept {
  for (int i = 0; i < n; i++) {
    const Limb x = (a[i] ^ b[i]) & mask;
    a[i] ^= x;
    b[i] ^= x;
  }
}

// r = a >> 1 with `top` (0 or 1) shifted in at bit 64 n - 1.
void halve(Limb* r, const Limb* a, int n, Limb top) noexcept {
  for (int i = 0; i + 1 < n; i++) r[i] = (a[i] >> 1) | (a[i + 1] << 63);
  r[n - 1] = (a[n - 1] >> 1) | (top << 63);
}

// y = y / 2 mod m for y < m odd: y + m first when y is odd.
void halve_mod(Limb* y, const Limb* m, int n) noexcept {
  const Limb odd = ct::bit_mask<Limb>(y[0] & 1);
  Limb c = 0;
  for (int i = 0; i < n; i++) {
    const unsigned __int128 t = static_cast<unsigned __int128>(y[i]) + (m[i] & odd) + c;
    y[i] = static_cast<Limb>(t);
    c = static_cast<Limb>(t >> 64);
  }
  halve(y, y, n, c);
}

// a - (b & mask), the borrow dropped.
void sub_if(Limb* a, const Limb* b, Limb mask, int n) noexcept {
  Limb c = 0;
  for (int i = 0; i < n; i++) {
    const unsigned __int128 t = static_cast<unsigned __int128>(a[i]) - (b[i] & mask) - c;
    a[i] = static_cast<Limb>(t);
    c = static_cast<Limb>(t >> 127);
  }
}

// The trailing zero bits of one limb, 64 for zero.
unsigned ctz_limb(Limb a) noexcept {
  const Limb low = a & (0 - a);  // the lowest set bit alone
  const unsigned index = 63 - ct::leading_zeros(low);
  return ct::select(static_cast<unsigned>(ct::zero_mask(a)), 64u, index);
}

// r = a shifted right (right) or left by the public count `by`, zeros in.
void shift_public(Limb* r, const Limb* a, int n, unsigned by, bool right) noexcept {
  const int limbs = static_cast<int>(by / 64), bits = static_cast<int>(by % 64);
  for (int i = 0; i < n; i++) {
    const int lo = right ? i + limbs : i - limbs;  // the limb that supplies bit 0 of r[i]...
    const int hi = right ? lo + 1 : lo - 1;        // ...and the one the carried bits come from
    const Limb a_lo = lo >= 0 && lo < n ? a[lo] : 0, a_hi = hi >= 0 && hi < n ? a[hi] : 0;
    if (bits == 0) {
      r[i] = a_lo;
    } else {
      r[i] = right ? (a_lo >> bits) | (a_hi << (64 - bits)) : (a_lo << bits) | (a_hi >> (64 - bits));
    }
  }
}

// r = a shifted by the secret s <= 64 n, one public power of two at a time,
// each kept by a mask; t: n limbs.
void shift_secret(Limb* r, const Limb* a, int n, unsigned s, Limb* t, bool right) noexcept {
  for (int i = 0; i < n; i++) r[i] = a[i];
  for (int bit = 0; (1u << bit) <= 64u * static_cast<unsigned>(n); bit++) {
    shift_public(t, r, n, 1u << bit, right);
    const Limb take = ct::bit_mask<Limb>((s >> bit) & 1);
    for (int i = 0; i < n; i++) r[i] = ct::select(take, t[i], r[i]);
  }
}

}  // namespace

Limb is_one_n(const Limb* a, int n) noexcept {
  Limb high = 0;
  for (int i = 1; i < n; i++) high |= a[i];
  return ct::eq_mask<Limb>(a[0], 1) & ct::zero_mask(high);
}

Limb equal_n(const Limb* a, const Limb* b, int n) noexcept {
  Limb d = 0;
  for (int i = 0; i < n; i++) d |= a[i] ^ b[i];
  return ct::zero_mask(d);
}

unsigned ctz_n(const Limb* a, int n) noexcept {
  unsigned count = 0;
  Limb found = 0;  // all ones from the first non-zero limb on
  for (int i = 0; i < n; i++) {
    count += ctz_limb(a[i]) & ~static_cast<unsigned>(found);
    found |= ~ct::zero_mask(a[i]);
  }
  return count;
}

void shift_right_secret(Limb* r, const Limb* a, int n, unsigned s, Limb* t) noexcept {
  shift_secret(r, a, n, s, t, true);
}

void shift_left_secret(Limb* r, const Limb* a, int n, unsigned s, Limb* t) noexcept {
  shift_secret(r, a, n, s, t, false);
}

void gcd_steps(Limb* u, Limb* v, Limb* x, Limb* y, const Limb* m, int n, Limb* t) noexcept {
  const Modulus mod{m, 2 * n, n, 0, 0};
  for (int step = 0; step < 128 * n; step++) {
    const Limb odd = ct::bit_mask<Limb>(v[0] & 1);
    const Limb swap = odd & lt_mask_n(v, u, n);
    swap_if(swap, u, v, n);
    sub_if(v, u, odd, n);  // v >= u when odd
    halve(v, v, n, 0);
    if (m == nullptr) continue;
    swap_if(swap, x, y, n);
    for (int i = 0; i < n; i++) t[i] = x[i] & odd;
    sub_mod(y, y, t, mod);
    halve_mod(y, m, n);
  }
}

Limb inverse_odd(Limb* x, const Limb* m, const Limb* v, int n, Limb* t) noexcept {
  Limb *u = t, *w = u + n, *y = w + n;
  for (int i = 0; i < n; i++) {
    u[i] = m[i];
    w[i] = v[i];
    x[i] = 0;
    y[i] = 0;
  }
  y[0] = 1 & ~is_one_n(m, n);  // 1 mod m
  gcd_steps(u, w, x, y, m, n, y + n);
  return is_one_n(u, n);
}

void inverse_2adic(Limb* x, const Limb* b, int n, Limb* t) noexcept {
  // One limb by Newton's iteration x = x (2 - b x), which doubles the
  // correct low bits (b b = 1 mod 8 for odd b), then whole limbs the same
  // way, mod 2^(64 n) each time.
  Limb x0 = b[0];
  for (int i = 0; i < 5; i++) x0 *= 2 - b[0] * x0;
  for (int i = 0; i < n; i++) x[i] = i == 0 ? x0 : 0;
  Limb *p = t, *d = t + 2 * n;
  for (int correct = 1; correct < n; correct *= 2) {
    mul_rows(p, b, n, x, n);  // b x, its low n limbs
    for (int i = 0; i < n; i++) d[i] = ~p[i];
    Limb c = 3;  // 2 - b x = ~(b x) + 3
    for (int i = 0; i < n; i++) {
      d[i] += c;
      c = ct::lt_mask(d[i], c) & 1;
    }
    mul_rows(p, x, n, d, n);
    for (int i = 0; i < n; i++) x[i] = p[i];
  }
}

}  // namespace morvane::bn::limb
