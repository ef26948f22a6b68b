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
// divisor takes the two-by-one division of Algorithm 4 limb by limb.
//
// The loop is latency-bound: each digit needs the window's top limbs left
// by the pass before.  So the window's top two limbs stay in registers
// from one digit to the next, the pass is unrolled for divisors of up to 8
// limbs, and on x86-64 the passes are written out: the MULX/ADCX/ADOX one
// keeps the product's carries on OF and the subtraction, as the addition
// of the complement, on CF; the one without ADX subtracts each product's
// low half before the carry of the limb below, so that the chain from limb
// to limb is one subtraction and one addition with carry.

#include <stdint.h>

#include "bn/limbs.h"

namespace morvane::bn::limb {

namespace {

using u128 = unsigned __int128;

// r[0 .. n) -= a[0 .. n) q; returns the limb to subtract above them.  Each
// limb's product is subtracted first (its borrow joins the high half, which
// stays below 2^64), then the carry of the limb before, so that the chain
// from one limb to the next is one comparison and one addition with carry.
[[maybe_unused]] Limb submul_c(Limb* r, const Limb* a, int n, Limb q) noexcept {
  Limb carry = 0;
#pragma GCC unroll 4
  for (int i = 0; i < n; i++) {
    const u128 p = static_cast<u128>(a[i]) * q;
    const Limb lo = static_cast<Limb>(p);
    Limb hi = static_cast<Limb>(p >> 64), t = r[i];
    hi += t < lo;
    t -= lo;
    hi += t < carry;
    r[i] = t - carry;
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

// One limb without ADX, as submul_c: t = r[j] - lo, its borrow into the
// high half, then t -= c and that borrow too; the high half is the next c.
#define MORVANE_SUBMUL_PLAIN_STEP(off) \
  "movq " off "(%[a]), %%rax\n\t"     \
  "mulq %[q]\n\t"                     \
  "movq " off "(%[r]), %[t]\n\t"      \
  "subq %%rax, %[t]\n\t"              \
  "adcq $0, %%rdx\n\t"                \
  "subq %[c], %[t]\n\t"               \
  "adcq $0, %%rdx\n\t"                \
  "movq %[t], " off "(%[r])\n\t"      \
  "movq %%rdx, %[c]\n\t"

// submul_c in x86-64 without ADX: GCC's form of the loop takes a third more
// instructions per limb (it copies the carry for each comparison), which
// bound the pass.
Limb submul_plain(Limb* r, const Limb* a, int n, Limb q) noexcept {
  Limb c = 0, t;
  unsigned long fours = static_cast<unsigned>(n) >> 2, rest = n & 3;
  __asm__ volatile(
      "testq %[fours], %[fours]\n\t"
      "jz 2f\n\t"
      "1:\n\t"  //
      MORVANE_SUBMUL_PLAIN_STEP("0") MORVANE_SUBMUL_PLAIN_STEP("8")
      MORVANE_SUBMUL_PLAIN_STEP("16") MORVANE_SUBMUL_PLAIN_STEP("24")
      "leaq 32(%[a]), %[a]\n\t"
      "leaq 32(%[r]), %[r]\n\t"
      "decq %[fours]\n\t"
      "jnz 1b\n\t"
      "2:\n\t"
      "testq %[rest], %[rest]\n\t"
      "jz 4f\n\t"
      "3:\n\t"  //
      MORVANE_SUBMUL_PLAIN_STEP("0")
      "leaq 8(%[a]), %[a]\n\t"
      "leaq 8(%[r]), %[r]\n\t"
      "decq %[rest]\n\t"
      "jnz 3b\n\t"
      "4:\n\t"
      : [c] "+&r"(c), [t] "=&r"(t), [a] "+r"(a), [r] "+r"(r), [fours] "+r"(fours),
        [rest] "+r"(rest)
      : [q] "r"(q)
      : "rax", "rdx", "cc", "memory");
  return c;
}
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

// <hi, lo> = a b.  GCC passes the unsigned __int128 product through the
// stack inside the division's loop (a store and a load on its critical
// path); on x86-64 the MUL is written out.
inline Limb mul_wide(Limb a, Limb b, Limb* lo) noexcept {
#if defined(__x86_64__)
  Limb hi;
  __asm__("mulq %[b]" : "=a"(*lo), "=d"(hi) : "%a"(a), [b] "rm"(b) : "cc");
  return hi;
#else
  const u128 p = static_cast<u128>(a) * b;
  *lo = static_cast<Limb>(p);
  return static_cast<Limb>(p >> 64);
#endif
}

// q = floor(<u2, u1, u0> / <d1, d0>) for <u2, u1> < <d1, d0>, with the
// remainder in <r1, r0> (Algorithm 5), on pairs of limbs.
inline Limb div_pair(Limb u2, Limb u1, Limb u0, Limb d1, Limb d0, Limb v, Limb* r1,
                     Limb* r0) noexcept {
  Limb q0;
  Limb q = mul_wide(v, u2, &q0);
  q0 += u1;
  q += u2 + (q0 < u1);
  // <h, l> = <u1 - q d1, u0> - q d0 - d
  Limb tl;
  const Limb th = mul_wide(d0, q, &tl);
  Limb l = u0 - tl;
  Limb h = u1 - q * d1 - th - (u0 < tl);
  h -= d1 + (l < d0);
  l -= d0;
  q++;
  if (h >= q0) {  // one too large: add d back
    q--;
    l += d0;
    h += d1 + (l < d0);
  }
  if (h > d1 || (h == d1 && l >= d0)) [[unlikely]] {
    q++;
    h -= d1 + (l < d0);
    l -= d0;
  }
  *r1 = h;
  *r0 = l;
  return q;
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

// r[0 .. L) -= a[0 .. L) q for a short divisor, one straight run of
// instructions; returns the limb to subtract above them.  On x86-64 in asm
// (GCC spills the C form's carries to the stack once the division's loop
// is around it): with MULX/ADCX/ADOX as submul_adx, else by MUL with the
// carry and the borrow added into the high half.
template <int L, bool Adx>
inline Limb submul_fixed(Limb* r, const Limb* a, Limb q) noexcept {
  if constexpr (L == 0) {
    return 0;
  } else {
#if defined(__x86_64__)
    if constexpr (Adx) {
      Limb lo, ha, hb, z;
      __asm__(
          "xorl %k[z], %k[z]\n\t"  // OF = 0
          "movq %[z], %[ha]\n\t"
          "stc\n\t"  // CF = 1
          ".set .Lmvo, 0\n\t"
          ".rept %c[pairs]\n\t"  //
          MORVANE_SUBMUL_STEP(".Lmvo", "ha", "hb") MORVANE_SUBMUL_STEP(".Lmvo+8", "hb", "ha")
          ".set .Lmvo, .Lmvo+16\n\t"
          ".endr\n\t"
          ".if %c[odd]\n\t"  //
          MORVANE_SUBMUL_STEP(".Lmvo", "ha", "hb")
          "movq %[hb], %[ha]\n\t"
          ".endif\n\t"
          "adox %[z], %[ha]\n\t"
          "sbbq $-1, %[ha]\n\t"
          : [lo] "=&r"(lo), [ha] "=&r"(ha), [hb] "=&r"(hb), [z] "=&r"(z),
            "+m"(*reinterpret_cast<Limb(*)[L]>(r))
          : [a] "r"(a), [r] "r"(r), "d"(q), "m"(*reinterpret_cast<const Limb(*)[L]>(a)),
            [pairs] "n"(L / 2), [odd] "n"(L & 1)
          : "cc");
      return ha;
    } else {
      Limb c = 0, t;
      __asm__(
          ".set .Lmvo, 0\n\t"
          ".rept %c[l]\n\t"  //
          MORVANE_SUBMUL_PLAIN_STEP(".Lmvo")
          ".set .Lmvo, .Lmvo+8\n\t"
          ".endr\n\t"
          : [c] "+&r"(c), [t] "=&r"(t), "+m"(*reinterpret_cast<Limb(*)[L]>(r))
          : [a] "r"(a), [r] "r"(r), [q] "r"(q), "m"(*reinterpret_cast<const Limb(*)[L]>(a)),
            [l] "n"(L)
          : "rax", "rdx", "cc");
      return c;
    }
#else
    return submul_c(r, a, L, q);
#endif
  }
}

// The loop of divide() for nd >= 2 limbs: the window's top two limbs carried
// from one digit to the next in registers.  ND, when not 0, is nd known at
// compile time (2 to kFixedLimbs), with the pass over the divisor unrolled;
// Adx picks the MULX/ADCX/ADOX pass.
template <int ND, bool Adx>
void divide_loop(Limb* q, Limb* n, int nn, const Limb* d, int nd, Limb v) noexcept {
  if constexpr (ND != 0) nd = ND;
  // w[0 .. len) -= d[0 .. len) digit, len being nd (full) or nd - 2 (low).
  auto pass = [&](Limb* w, int len, Limb digit) {
#if defined(__x86_64__)
    return Adx ? submul_adx(w, d, len, digit) : submul_plain(w, d, len, digit);
#else
    return submul_c(w, d, len, digit);
#endif
  };
  auto full = [&](Limb* w, Limb digit) {
    if constexpr (ND != 0) {
      return submul_fixed<ND, Adx>(w, d, digit);
    } else {
      return pass(w, nd, digit);
    }
  };
  auto low = [&](Limb* w, Limb digit) {
    if constexpr (ND != 0) {
      return submul_fixed<ND - 2, Adx>(w, d, digit);
    } else {
      return pass(w, nd - 2, digit);
    }
  };
  const Limb d1 = d[nd - 1], d0 = d[nd - 2];
  Limb r1 = n[nn - 1], r0 = n[nn - 2];  // the window's top limbs
  for (int i = nn - nd - 1; i >= 0; i--) {
    Limb* w = n + i;  // the window: w[0 .. nd - 1), then r0 and r1
    Limb digit;
    if (r1 == d1 && r0 == d0) [[unlikely]] {
      // The digit is B - 1 or B - 2: subtract (B - 1) d from the window.
      w[nd - 1] = r0;
      digit = ~static_cast<Limb>(0);
      if (r1 < full(w, digit)) {  // negative: one add-back
        digit--;
        add_n(w, w, d, nd);
      }
      r1 = w[nd - 1];
      r0 = w[nd - 2];
    } else {
      Limb t1, t0;
      digit = div_pair(r1, r0, w[nd - 2], d1, d0, v, &t1, &t0);
      const Limb c = low(w, digit);
      const Limb b1 = t0 < c;
      // The next window's top limbs: this one's, one limb down.
      r0 = t0 - c;
      r1 = t1 - b1;
      w[nd - 2] = r0;
      w[nd - 1] = r1;
      if (t1 < b1) [[unlikely]] {  // the digit was one too large
        digit--;
        add_n(w, w, d, nd);
        r1 = w[nd - 1];
        r0 = w[nd - 2];
      }
    }
    q[i] = digit;
  }
}

using LoopFn = void (*)(Limb* q, Limb* n, int nn, const Limb* d, int nd, Limb v) noexcept;
template <bool Adx>
constexpr LoopFn kLoop[] = {divide_loop<0, Adx>, nullptr,
                            divide_loop<2, Adx>, divide_loop<3, Adx>,
                            divide_loop<4, Adx>, divide_loop<5, Adx>,
                            divide_loop<6, Adx>, divide_loop<7, Adx>,
                            divide_loop<8, Adx>};

#undef MORVANE_SUBMUL_STEP
#undef MORVANE_SUBMUL_PLAIN_STEP

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
  (adx_kernel() ? kLoop<true> : kLoop<false>)[nd <= kFixedLimbs ? nd : 0](q, n, nn, d, nd, v);
}

}  // namespace morvane::bn::limb
