// Long division on 64-bit limbs: the schoolbook division behind BN_div, with
// each quotient limb from a precomputed reciprocal of the divisor's top two
// limbs instead of a hardware division, and one fused multiply-and-subtract
// pass over the divisor per quotient limb.
//
// Implementation notes: the divisor is normalised (top bit set) by the
// caller.  A quotient limb is the exact quotient of the window's top three
// limbs by the divisor's top two (Moller and Granlund, "Improved division
// by invariant integers", IEEE Trans. Computers 60 (2011), Algorithm 5,
// with the reciprocal of Algorithm 6), which is the true digit or one more;
// the pass subtracts q times the divisor's lower limbs from the window, and
// a borrow out of the top two limbs' remainder adds the divisor back once
// (Knuth, TAOCP vol. 2, 4.3.1, Algorithm D, steps D4 to D6).  A one-limb
// divisor takes the two-by-one division of Algorithm 4 limb by limb.  The
// MULX/ADCX/ADOX pass keeps the product's carries on OF and the
// subtraction, as the addition of the complement, on CF.

#include <stdint.h>

#include "bn/limbs.h"

namespace morvane::bn::limb {

namespace {

using u128 = unsigned __int128;

// r[0 .. n) -= a[0 .. n) q; returns the limb to subtract above them.  The
// borrow joins the product's carry (the high half takes both, and never
// overflows), one short chain that the compiler keeps in registers.
[[maybe_unused]] Limb submul_c(Limb* r, const Limb* a, int n, Limb q) noexcept {
  Limb carry = 0;
  for (int i = 0; i < n; i++) {
    const u128 p = static_cast<u128>(a[i]) * q;
    Limb lo = static_cast<Limb>(p), hi = static_cast<Limb>(p >> 64);
    lo += carry;
    hi += lo < carry;
    const Limb t = r[i];
    hi += t < lo;
    r[i] = t - lo;
    carry = hi;
  }
  return carry;
}

#if defined(__x86_64__)
// One limb: lo:hout = a[j] q; lo += hin (OF chain); r[j] += ~lo (CF chain,
// which started at 1: r - x = r + ~x + 1).
#define MORVANE_SUBMUL_STEP(off, hin, hout)    \
  "mulx " off "(%[a]), %[lo], %[" hout "]\n\t" \
  "adox %[" hin "], %[lo]\n\t"                 \
  "notq %[lo]\n\t"                             \
  "adcx " off "(%[r]), %[lo]\n\t"              \
  "movq %[lo], " off "(%[r])\n\t"

__attribute__((target("bmi2,adx"))) Limb submul_adx(Limb* r, const Limb* a, int n,
                                                    Limb q) noexcept {
  Limb lo, ha = 0, hb, z;
  const unsigned long fours = static_cast<unsigned>(n) >> 2, two = (n >> 1) & 1, one = n & 1;
  __asm__ volatile(
      "xorl %k[z], %k[z]\n\t"  // OF = 0
      "stc\n\t"                // CF = 1
      "movq %[fours], %%rcx\n\t"
      "jmp 2f\n\t"
      "1:\n\t"  //
      MORVANE_SUBMUL_STEP("0", "ha", "hb") MORVANE_SUBMUL_STEP("8", "hb", "ha")
      MORVANE_SUBMUL_STEP("16", "ha", "hb") MORVANE_SUBMUL_STEP("24", "hb", "ha")
      "leaq 32(%[a]), %[a]\n\t"
      "leaq 32(%[r]), %[r]\n\t"
      "leaq -1(%%rcx), %%rcx\n\t"
      "2:\n\t"
      "jrcxz 3f\n\t"
      "jmp 1b\n\t"
      "3:\n\t"
      "movq %[two], %%rcx\n\t"
      "jrcxz 4f\n\t"  //
      MORVANE_SUBMUL_STEP("0", "ha", "hb") MORVANE_SUBMUL_STEP("8", "hb", "ha")
      "leaq 16(%[a]), %[a]\n\t"
      "leaq 16(%[r]), %[r]\n\t"
      "4:\n\t"
      "movq %[one], %%rcx\n\t"
      "jrcxz 5f\n\t"  //
      MORVANE_SUBMUL_STEP("0", "ha", "hb")
      "movq %[hb], %[ha]\n\t"
      "5:\n\t"
      // The limb above: the last high half, OF, and 1 - CF.
      "adox %[z], %[ha]\n\t"
      "sbbq $-1, %[ha]\n\t"
      : [lo] "=&r"(lo), [ha] "+&r"(ha), [hb] "=&r"(hb), [z] "=&r"(z), [a] "+r"(a), [r] "+r"(r)
      : "d"(q), [fours] "r"(fours), [two] "r"(two), [one] "r"(one)
      : "rcx", "cc", "memory");
  return ha;
}
#undef MORVANE_SUBMUL_STEP
#endif

// floor((2^128 - 1) / d) - 2^64 for d with its top bit set (the reciprocal
// of Algorithm 4), by one hardware division per call of the division (on
// the processors measured, faster than the paper's table and refinements).
Limb reciprocal_word(Limb d) noexcept {
#if defined(__x86_64__)
  // (~d 2^64 + 2^64 - 1) / d: ~d < d, so the quotient fits (no call into
  // the runtime's 128-bit division).
  Limb q, r;
  __asm__("divq %[d]" : "=a"(q), "=d"(r) : "a"(~static_cast<Limb>(0)), "d"(~d), [d] "r"(d) : "cc");
  return q;
#else
  const u128 num = (static_cast<u128>(~d) << 64) | ~static_cast<Limb>(0);
  return static_cast<Limb>(num / d);
#endif
}

// The reciprocal of the two-limb divisor <d1, d0>, d1 with its top bit set
// (Algorithm 6).
Limb reciprocal_pair(Limb d1, Limb d0) noexcept {
  Limb v = reciprocal_word(d1);
  Limb p = d1 * v + d0;
  if (p < d0) {
    v--;
    if (p >= d1) {
      v--;
      p -= d1;
    }
    p -= d1;
  }
  const u128 t = static_cast<u128>(v) * d0;
  const Limb t1 = static_cast<Limb>(t >> 64), t0 = static_cast<Limb>(t);
  p += t1;
  if (p < t1) {
    v--;
    if (p > d1 || (p == d1 && t0 >= d0)) v--;
  }
  return v;
}

// q = floor(<u2, u1, u0> / <d1, d0>) for <u2, u1> < <d1, d0>, with the
// remainder in <r1, r0> (Algorithm 5).
inline Limb div_pair(Limb u2, Limb u1, Limb u0, Limb d1, Limb d0, Limb v, Limb* r1,
                     Limb* r0) noexcept {
  const u128 qq = static_cast<u128>(v) * u2 + ((static_cast<u128>(u2) << 64) | u1);
  Limb q1 = static_cast<Limb>(qq >> 64);
  const Limb q0 = static_cast<Limb>(qq);
  const Limb h = u1 - q1 * d1;
  const u128 d = (static_cast<u128>(d1) << 64) | d0;
  u128 r = ((static_cast<u128>(h) << 64) | u0) - static_cast<u128>(d0) * q1 - d;
  q1++;
  if (static_cast<Limb>(r >> 64) >= q0) {
    q1--;
    r += d;
  }
  if (r >= d) {  // rare
    q1++;
    r -= d;
  }
  *r1 = static_cast<Limb>(r >> 64);
  *r0 = static_cast<Limb>(r);
  return q1;
}

// q = floor(<u1, u0> / d) for u1 < d, the remainder in *r (Algorithm 4).
inline Limb div_word(Limb u1, Limb u0, Limb d, Limb v, Limb* r) noexcept {
  const u128 qq = static_cast<u128>(v) * u1 + ((static_cast<u128>(u1) << 64) | u0);
  Limb q1 = static_cast<Limb>(qq >> 64) + 1;
  const Limb q0 = static_cast<Limb>(qq);
  Limb rem = u0 - q1 * d;
  if (rem > q0) {
    q1--;
    rem += d;
  }
  if (rem >= d) {  // rare
    q1++;
    rem -= d;
  }
  *r = rem;
  return q1;
}

}  // namespace

Limb reciprocal(const Limb* d, int nd) noexcept {
  return nd == 1 ? reciprocal_word(d[0]) : reciprocal_pair(d[nd - 1], d[nd - 2]);
}

void divide(Limb* q, Limb* n, int nn, const Limb* d, int nd, Limb v) noexcept {
  if (nd == 1) {
    Limb rem = n[nn - 1];
    for (int i = nn - 2; i >= 0; i--) q[i] = div_word(rem, n[i], d[0], v, &rem);
    n[0] = rem;
    return;
  }
  Limb (*const submul)(Limb*, const Limb*, int, Limb) noexcept =
#if defined(__x86_64__)
      adx_kernel() ? submul_adx : submul_c;
#else
      submul_c;
#endif
  const Limb d1 = d[nd - 1], d0 = d[nd - 2];
  for (int i = nn - nd - 1; i >= 0; i--) {
    Limb* w = n + i;  // the window: nd + 1 limbs, below d B
    const Limb u2 = w[nd], u1 = w[nd - 1];
    Limb digit;
    if (u2 == d1 && u1 == d0) {
      // The digit is B - 1 or B - 2: subtract (B - 1) d from the window.
      digit = ~static_cast<Limb>(0);
      const Limb c = submul(w, d, nd, digit);
      if (u2 < c) {  // negative: one add-back
        digit--;
        add_n(w, w, d, nd);
      }
    } else {
      Limb r1, r0;
      digit = div_pair(u2, u1, w[nd - 2], d1, d0, v, &r1, &r0);
      const Limb c = submul(w, d, nd - 2, digit);
      const Limb b1 = r0 < c;
      r0 -= c;
      const Limb b2 = r1 < b1;
      r1 -= b1;
      w[nd - 2] = r0;
      w[nd - 1] = r1;
      if (b2) {  // the digit was one too large
        digit--;
        add_n(w, w, d, nd);
      }
    }
    w[nd] = 0;
    q[i] = digit;
  }
}

}  // namespace morvane::bn::limb
