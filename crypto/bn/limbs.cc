// Big numbers on 64-bit limbs: conversion from and to the word array (also by
// masks, at a fixed width), the row kernel in its two forms, products and
// squares by rows and by Karatsuba, the Montgomery reduction, and modular
// subtraction and doubling at a fixed width.
//
// Implementation notes: the MULX/ADCX/ADOX row keeps two carry chains, the
// CF chain adding the low halves of the products into r and the OF chain
// adding the previous high half, through the whole row in one block of
// assembly (eight limbs per turn of its loop, then four, two and one, steered
// by jrcxz, which leaves the flags alone).  With that kernel the products,
// squares and the reduction have row forms with the row inlined, and the
// squaring doubles its triangle and adds the diagonal's squares in one pass
// (the doubling on CF, the squares on OF); Montgomery products and
// reductions of 8, 16, 24 and 32 limbs take the unrolled forms of
// limbs_fixed.cc instead.  The reduction runs nw / 2 steps of one limb with
// the 64-bit n0 and, for an odd word count, a last step of one word with the
// 32-bit n0 followed by a shift of 32 bits, so R is 2^(32 nw) whatever the
// radix.  Karatsuba
// uses a b = hh B^2 + (ll + hh + (a_lo - a_hi)(b_hi - b_lo)) B + ll on halves
// of n / 2 (low) and n - n / 2 (high) limbs, the signs of the differences as
// masks; its sums, and add_n and sub_n, run on one adc chain on x86-64
// (add_xor, with the subtrahend complemented by the mask).  Below the
// crossover, a square whose halves' product is unrolled (limbs_fixed.cc) is
// split into L^2 + 2 L H B + H^2 B^2 rather than rowed.

#include <stdint.h>
#if defined(__x86_64__)
#include <immintrin.h>
#endif
#include <string.h>

#include <limits.h>

#include <atomic>

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "bn/limbs.h"
#include "internal/cpu.h"
#include "internal/ct.h"
#include "internal/wipe.h"

namespace morvane::bn::limb {

namespace {

using u128 = unsigned __int128;

[[maybe_unused]] Limb mul_add_c(Limb* r, const Limb* a, int n, Limb w) noexcept {
  Limb c = 0;
  for (int i = 0; i < n; i++) {
    const u128 t = static_cast<u128>(a[i]) * w + r[i] + c;  // at most 2^128 - 1
    r[i] = static_cast<Limb>(t);
    c = static_cast<Limb>(t >> 64);
  }
  return c;
}

#if defined(__x86_64__)
// One limb of the row: lo:hi = a[j] w; r[j] += lo (CF chain) + hin (OF chain).
#define MORVANE_ROW_STEP(off, hin, hout)       \
  "mulx " off "(%[a]), %[lo], %[" hout "]\n\t" \
  "movq " off "(%[r]), %[t]\n\t"               \
  "adcx %[lo], %[t]\n\t"                       \
  "adox %[" hin "], %[t]\n\t"                  \
  "movq %[t], " off "(%[r])\n\t"
// Four limbs from byte offset o; the last high half ends in ha again.
#define MORVANE_ROW_STEP4(o0, o1, o2, o3)                                    \
  MORVANE_ROW_STEP(o0, "ha", "hb") MORVANE_ROW_STEP(o1, "hb", "ha")          \
      MORVANE_ROW_STEP(o2, "ha", "hb") MORVANE_ROW_STEP(o3, "hb", "ha")

// r[0 .. n) += a[0 .. n) w; returns the carry limb.  The CF and OF chains run
// through the whole row: the loop and the choice of the last 4, 2 and 1
// limbs use only lea, mov and jrcxz, which leave the flags alone.
__attribute__((target("bmi2,adx"), always_inline)) inline Limb row_adx(Limb* r, const Limb* a,
                                                                     int n, Limb w) noexcept {
  Limb lo, ha = 0, hb, t;
  const unsigned long eights = static_cast<unsigned>(n) >> 3, four = (n >> 2) & 1,
                      two = (n >> 1) & 1, one = n & 1;
  __asm__ volatile(
      "xorl %k[t], %k[t]\n\t"  // CF = OF = 0
      "movq %[eights], %%rcx\n\t"
      "jmp 2f\n\t"
      "1:\n\t" MORVANE_ROW_STEP4("0", "8", "16", "24") MORVANE_ROW_STEP4("32", "40", "48", "56")
      "leaq 64(%[a]), %[a]\n\t"
      "leaq 64(%[r]), %[r]\n\t"
      "leaq -1(%%rcx), %%rcx\n\t"
      "2:\n\t"
      "jrcxz 3f\n\t"
      "jmp 1b\n\t"
      "3:\n\t"
      "movq %[four], %%rcx\n\t"
      "jrcxz 4f\n\t" MORVANE_ROW_STEP4("0", "8", "16", "24")
      "leaq 32(%[a]), %[a]\n\t"
      "leaq 32(%[r]), %[r]\n\t"
      "4:\n\t"
      "movq %[two], %%rcx\n\t"
      "jrcxz 5f\n\t" MORVANE_ROW_STEP("0", "ha", "hb") MORVANE_ROW_STEP("8", "hb", "ha")
      "leaq 16(%[a]), %[a]\n\t"
      "leaq 16(%[r]), %[r]\n\t"
      "5:\n\t"
      "movq %[one], %%rcx\n\t"
      "jrcxz 6f\n\t" MORVANE_ROW_STEP("0", "ha", "hb")
      "movq %[hb], %[ha]\n\t"
      "6:\n\t"
      "movl $0, %k[t]\n\t"  // the last high half takes both chains' carries
      "adcx %[t], %[ha]\n\t"
      "adox %[t], %[ha]\n\t"
      : [lo] "=&r"(lo), [ha] "+&r"(ha), [hb] "=&r"(hb), [t] "=&r"(t), [a] "+r"(a), [r] "+r"(r)
      : "d"(w), [eights] "r"(eights), [four] "r"(four), [two] "r"(two), [one] "r"(one)
      : "rcx", "cc", "memory");
  return ha;
}
#undef MORVANE_ROW_STEP4
#undef MORVANE_ROW_STEP

__attribute__((target("bmi2,adx"))) Limb mul_add_adx(Limb* r, const Limb* a, int n,
                                                      Limb w) noexcept {
  return row_adx(r, a, n, w);
}

// r[0 .. 2n) = 2 r + the squares a[i]^2 at 2i, r holding the triangle of
// cross products below 2^(128 n - 1): the doubling (r + r) runs on the CF
// chain, the squares on the OF chain.
__attribute__((target("bmi2,adx"), always_inline)) inline void diagonal_adx(Limb* r,
                                                                          const Limb* a,
                                                                          int n) noexcept {
  Limb lo, hi, x, y;
  const unsigned long count = static_cast<unsigned>(n);
  __asm__ volatile(
      "xorl %k[x], %k[x]\n\t"
      "movq %[count], %%rcx\n\t"
      "jmp 2f\n\t"
      "1:\n\t"
      "movq (%[a]), %%rdx\n\t"
      "mulx %%rdx, %[lo], %[hi]\n\t"
      "movq (%[r]), %[x]\n\t"
      "movq 8(%[r]), %[y]\n\t"
      "adcx %[x], %[x]\n\t"
      "adox %[lo], %[x]\n\t"
      "adcx %[y], %[y]\n\t"
      "adox %[hi], %[y]\n\t"
      "movq %[x], (%[r])\n\t"
      "movq %[y], 8(%[r])\n\t"
      "leaq 8(%[a]), %[a]\n\t"
      "leaq 16(%[r]), %[r]\n\t"
      "leaq -1(%%rcx), %%rcx\n\t"
      "2:\n\t"
      "jrcxz 3f\n\t"
      "jmp 1b\n\t"
      "3:\n\t"
      : [lo] "=&r"(lo), [hi] "=&r"(hi), [x] "=&r"(x), [y] "=&r"(y), [a] "+r"(a), [r] "+r"(r)
      : [count] "r"(count)
      : "rcx", "rdx", "cc", "memory");
}

// r[0 .. n) += 2 p[0 .. n); returns the carry out, 0 to 2: the doubling
// (p + p) on the CF chain, the sum on the OF chain, four limbs a turn.
__attribute__((target("bmi2,adx"))) Limb add_double_adx(Limb* r, const Limb* p,
                                                         int n) noexcept {
  Limb x0, x1, c = 0;
  const unsigned long quads = static_cast<unsigned>(n) >> 2, rest = n & 3;
#define MORVANE_DOUBLE_STEP(off)     \
  "movq " off "(%[p]), %[x0]\n\t"   \
  "movq " off "(%[r]), %[x1]\n\t"   \
  "adcx %[x0], %[x0]\n\t"           \
  "adox %[x0], %[x1]\n\t"           \
  "movq %[x1], " off "(%[r])\n\t"
  __asm__ volatile(
      "xorl %k[x0], %k[x0]\n\t"  // CF = OF = 0
      "movq %[quads], %%rcx\n\t"
      "jmp 2f\n\t"
      "1:\n\t" MORVANE_DOUBLE_STEP("0") MORVANE_DOUBLE_STEP("8") MORVANE_DOUBLE_STEP("16")
          MORVANE_DOUBLE_STEP("24")
      "leaq 32(%[p]), %[p]\n\t"
      "leaq 32(%[r]), %[r]\n\t"
      "leaq -1(%%rcx), %%rcx\n\t"
      "2:\n\t"
      "jrcxz 3f\n\t"
      "jmp 1b\n\t"
      "3:\n\t"
      "movq %[rest], %%rcx\n\t"
      "jmp 5f\n\t"
      "4:\n\t" MORVANE_DOUBLE_STEP("0")
      "leaq 8(%[p]), %[p]\n\t"
      "leaq 8(%[r]), %[r]\n\t"
      "leaq -1(%%rcx), %%rcx\n\t"
      "5:\n\t"
      "jrcxz 6f\n\t"
      "jmp 4b\n\t"
      "6:\n\t"
      "movl $0, %k[x0]\n\t"
      "adcx %[x0], %[c]\n\t"
      "adox %[x0], %[c]\n\t"
      : [x0] "=&r"(x0), [x1] "=&r"(x1), [c] "+&r"(c), [p] "+r"(p), [r] "+r"(r)
      : [quads] "r"(quads), [rest] "r"(rest)
      : "rcx", "cc", "memory");
#undef MORVANE_DOUBLE_STEP
  return c;
}

// The row forms of mul_rows, sqr_rows and redc with the ADX row inlined.
__attribute__((target("bmi2,adx"))) void mul_rows_adx(Limb* r, const Limb* a, int na,
                                                       const Limb* b, int nb) noexcept {
  for (int i = 0; i < na; i++) r[i] = 0;
  for (int j = 0; j < nb; j++) r[na + j] = row_adx(r + j, a, na, b[j]);
}

__attribute__((target("bmi2,adx"))) void sqr_rows_adx(Limb* r, const Limb* a, int n) noexcept {
  for (int i = 0; i < 2 * n; i++) r[i] = 0;
  for (int i = 0; i + 1 < n; i++) r[i + n] = row_adx(r + 2 * i + 1, a + i + 1, n - 1 - i, a[i]);
  diagonal_adx(r, a, n);
}

// The steps of redc on the limbs of N: t[i + nl] and the carry above it
// take each row's carry limb.  Returns that carry.
__attribute__((target("bmi2,adx"))) Limb redc_rows_adx(Limb* t, const Modulus& m, int rows) noexcept {
  Limb carry = 0;
  for (int i = 0; i < rows; i++) {
    const Limb v = row_adx(t + i, m.n, m.nl, t[i] * m.n0);
    const u128 s = static_cast<u128>(t[i + m.nl]) + v + carry;
    t[i + m.nl] = static_cast<Limb>(s);
    carry = static_cast<Limb>(s >> 64);
  }
  return carry;
}
#endif

// The kernel in use, chosen on the first call.
constinit std::atomic<MulAddFn> g_mul_add{nullptr};

MulAddFn choose() noexcept {
#if defined(MORVANE_BN_FORCE_ADX) && defined(__x86_64__)
  // A test build's copy of these sources, run under valgrind, whose model of
  // the processor hides ADX (it runs the instructions).
  const MulAddFn f = mul_add_adx;
#elif defined(__x86_64__)
  const MulAddFn f = internal::Has(internal::kAdx) ? mul_add_adx : mul_add_c;
#else
  const MulAddFn f = mul_add_c;
#endif
#if defined(__x86_64__)
  g_adx.store(f == mul_add_adx ? 1 : 0, std::memory_order_relaxed);
#else
  g_adx.store(0, std::memory_order_relaxed);
#endif
  g_mul_add.store(f, std::memory_order_relaxed);
  return f;
}

// r[0 .. n) = a + (b ^ m) + cin for m and cin each all ones or zero (a
// null a reads as zeros); returns the carry out.  With m all ones and cin
// one that is a - b + 2^(64 n); with a null a, b ^ m + cin negates b where m
// is set.  The instructions and addresses follow n only; r may be a or b.
template <bool kZeroA>
Limb add_xor(Limb* r, const Limb* a, const Limb* b, int n, Limb m, Limb cin) noexcept {
#if defined(__x86_64__)
  // Four limbs a turn: their xors first (xor changes the flags), then the
  // adc chain, its carry kept as 0 or all ones in c between turns.
  Limb x0, x1, x2, x3, c = cin;
  const unsigned long count = n > 0 ? static_cast<unsigned>(n) : 0, quads = count >> 2,
                      rest = count & 3;
  // The two forms differ only in what the adc chain adds (zeros or a's
  // limbs) and in whether a moves on.
#define MORVANE_ADD_XOR(A0, A8, A16, A24, A_NEXT4, A_NEXT1)                                       \
  __asm__ volatile("movq %[quads], %%rcx\n\t"                                                   \
                   "jrcxz 2f\n\t"                                                               \
                   "1:\n\t"                                                                     \
                   "movq 0(%[b]), %[x0]\n\t"                                                    \
                   "xorq %[m], %[x0]\n\t"                                                       \
                   "movq 8(%[b]), %[x1]\n\t"                                                    \
                   "xorq %[m], %[x1]\n\t"                                                       \
                   "movq 16(%[b]), %[x2]\n\t"                                                   \
                   "xorq %[m], %[x2]\n\t"                                                       \
                   "movq 24(%[b]), %[x3]\n\t"                                                   \
                   "xorq %[m], %[x3]\n\t"                                                       \
                   "addq %[c], %[c]\n\t" /* CF = the carry */                                    \
                   "adcq " A0 ", %[x0]\n\t"                                                     \
                   "adcq " A8 ", %[x1]\n\t"                                                     \
                   "adcq " A16 ", %[x2]\n\t"                                                    \
                   "adcq " A24 ", %[x3]\n\t"                                                    \
                   "sbbq %[c], %[c]\n\t"                                                        \
                   "movq %[x0], 0(%[r])\n\t"                                                    \
                   "movq %[x1], 8(%[r])\n\t"                                                    \
                   "movq %[x2], 16(%[r])\n\t"                                                   \
                   "movq %[x3], 24(%[r])\n\t" A_NEXT4                                           \
                   "leaq 32(%[b]), %[b]\n\t"                                                    \
                   "leaq 32(%[r]), %[r]\n\t"                                                    \
                   "decq %%rcx\n\t"                                                             \
                   "jnz 1b\n\t"                                                                 \
                   "2:\n\t"                                                                     \
                   "movq %[rest], %%rcx\n\t"                                                    \
                   "jrcxz 4f\n\t"                                                               \
                   "3:\n\t"                                                                     \
                   "movq 0(%[b]), %[x0]\n\t"                                                    \
                   "xorq %[m], %[x0]\n\t"                                                       \
                   "addq %[c], %[c]\n\t"                                                        \
                   "adcq " A0 ", %[x0]\n\t"                                                     \
                   "sbbq %[c], %[c]\n\t"                                                        \
                   "movq %[x0], 0(%[r])\n\t" A_NEXT1                                            \
                   "leaq 8(%[b]), %[b]\n\t"                                                     \
                   "leaq 8(%[r]), %[r]\n\t"                                                     \
                   "decq %%rcx\n\t"                                                             \
                   "jnz 3b\n\t"                                                                 \
                   "4:\n\t"                                                                     \
                   : [x0] "=&r"(x0), [x1] "=&r"(x1), [x2] "=&r"(x2), [x3] "=&r"(x3), [c] "+&r"(c), \
                     [a] "+r"(a), [b] "+r"(b), [r] "+r"(r)                                       \
                   : [m] "r"(m), [quads] "r"(quads), [rest] "r"(rest)                             \
                   : "rcx", "cc", "memory")
  if constexpr (kZeroA) {
    MORVANE_ADD_XOR("$0", "$0", "$0", "$0", "", "");
  } else {
    MORVANE_ADD_XOR("0(%[a])", "8(%[a])", "16(%[a])", "24(%[a])", "leaq 32(%[a]), %[a]\n\t",
                    "leaq 8(%[a]), %[a]\n\t");
  }
#undef MORVANE_ADD_XOR
  return c & 1;
#else
  Limb c = cin & 1;
  for (int i = 0; i < n; i++) {
    const u128 t = static_cast<u128>(kZeroA ? 0 : a[i]) + (b[i] ^ m) + c;
    r[i] = static_cast<Limb>(t);
    c = static_cast<Limb>(t >> 64);
  }
  return c;
#endif
}

// d[0 .. k) = |x - y|, x of h <= k limbs zero-extended, y of k; returns all
// ones when x < y, else zero.  No branch on the values.
Limb abs_diff(Limb* d, const Limb* x, int h, const Limb* y, int k) noexcept {
  Limb c = sub_n(d, x, y, h);
  for (int i = h; i < k; i++) {
    const u128 t = static_cast<u128>(0) - y[i] - c;
    d[i] = static_cast<Limb>(t);
    c = static_cast<Limb>(t >> 127);
  }
  const Limb m = 0 - c;
  add_xor<true>(d, nullptr, d, k, m, m);  // two's complement where x < y
  return m;
}

// r[0 .. n) += v for a v of 0 to 2 (n >= 1); what carries out of r[n - 1]
// is dropped.  The instructions and addresses follow n only.
void add_small(Limb* r, int n, Limb v) noexcept {
  const u128 s = static_cast<u128>(r[0]) + v;
  r[0] = static_cast<Limb>(s);
  add_xor<true>(r + 1, nullptr, r + 1, n - 1, 0, 0 - static_cast<Limb>(s >> 64));
}

}  // namespace

Limb add_n(Limb* r, const Limb* a, const Limb* b, int n) noexcept {
  return add_xor<false>(r, a, b, n, 0, 0);
}

Limb sub_n(Limb* r, const Limb* a, const Limb* b, int n) noexcept {
  return add_xor<false>(r, a, b, n, ~Limb{0}, ~Limb{0}) ^ 1;  // a + ~b + 1: no carry, a borrow
}

Limb lt_mask_n(const Limb* a, const Limb* b, int n) noexcept {
  Limb c = 0;  // the borrow of a - b
#if defined(__x86_64__)
  unsigned char borrow = 0;  // on the carry flag: one sbb a limb
  for (int i = 0; i < n; i++) {
    unsigned long long d;
    borrow = _subborrow_u64(borrow, a[i], b[i], &d);
  }
  c = borrow;
#else
  for (int i = 0; i < n; i++) {
    const u128 t = static_cast<u128>(a[i]) - b[i] - c;
    c = static_cast<Limb>(t >> 127);
  }
#endif
  return ct::bit_mask(c);
}

void load_masked(Limb* l, int nl, const BIGNUM* a) noexcept {
  const unsigned top = static_cast<unsigned>(a->top);
  for (int i = 0; i < nl; i++) l[i] = 0;
  for (int i = 0; i < 2 * nl && i < a->dmax; i++) {
    const BN_ULONG w = a->d[i] & ct::lt_mask(static_cast<unsigned>(i), top);
    l[i / 2] |= static_cast<Limb>(w) << (32 * (i & 1));
  }
}

int store_masked(BIGNUM* a, const Limb* l, int nl) noexcept {
  const int nw = 2 * nl;
  if (a->dmax < nw && bn_expand2(a, nw) == nullptr) return 0;
  store(a->d, l, nw);
  unsigned used = 0;
  for (int i = 0; i < nw; i++)
    used = ct::select(ct::zero_mask<BN_ULONG>(a->d[i]), used, static_cast<unsigned>(i + 1));
  a->top = static_cast<int>(used);
  a->neg = 0;
  return 1;
}

int store_masked_fresh(BIGNUM* a, const Limb* l, int nl) noexcept {
  if (a->dmax < 2 * nl) {
    BN_clear(a);
    if (bn_expand2(a, 2 * nl) == nullptr) return 0;
  }
  return store_masked(a, l, nl);
}

void sub_mod(Limb* r, const Limb* a, const Limb* b, const Modulus& m) noexcept {
  const Limb mask = ct::bit_mask(sub_n(r, a, b, m.nl));
  Limb c = 0;  // r + (N & mask), the carry out dropped
  for (int i = 0; i < m.nl; i++) {
    const u128 t = static_cast<u128>(r[i]) + (m.n[i] & mask) + c;
    r[i] = static_cast<Limb>(t);
    c = static_cast<Limb>(t >> 64);
  }
}

void shl_mod(Limb* r, int k, const Modulus& m, Limb* t) noexcept {
  const int nl = m.nl;
  for (int j = 0; j < k; j++) {
    Limb top = 0;  // 2 r, below 2N: r[0 .. nl) and the bit shifted out
    for (int i = 0; i < nl; i++) {
      const Limb next = r[i] >> 63;
      r[i] = (r[i] << 1) | top;
      top = next;
    }
    // Keep 2r - N unless that borrows past the bit shifted out.
    const Limb borrow = sub_n(t, r, m.n, nl);
    const Limb keep = ct::eq_mask<Limb>(borrow & ~top & 1, 1);
    for (int i = 0; i < nl; i++) r[i] = ct::select(keep, r[i], t[i]);
  }
}

MulAddFn mul_add() noexcept {
  const MulAddFn f = g_mul_add.load(std::memory_order_relaxed);
  return f != nullptr ? f : choose();
}

constinit std::atomic<int> g_adx{-1};

bool adx_kernel_choose() noexcept {
  choose();
  return g_adx.load(std::memory_order_relaxed) == 1;
}

void mul_rows(Limb* r, const Limb* a, int na, const Limb* b, int nb) noexcept {
  if (na < nb) {  // the longer operand makes the rows
    const Limb* p = a;
    a = b;
    b = p;
    const int t = na;
    na = nb;
    nb = t;
  }
#if defined(__x86_64__)
  if (adx_kernel()) return mul_rows_adx(r, a, na, b, nb);
#endif
  const MulAddFn f = mul_add();
  for (int i = 0; i < na; i++) r[i] = 0;
  for (int j = 0; j < nb; j++) r[na + j] = f(r + j, a, na, b[j]);
}

void sqr_rows(Limb* r, const Limb* a, int n) noexcept {
#if defined(__x86_64__)
  if (adx_kernel()) return sqr_rows_adx(r, a, n);
#endif
  const MulAddFn f = mul_add();
  for (int i = 0; i < 2 * n; i++) r[i] = 0;
  // The triangle above the diagonal: row i is a[i] a[i+1 .. n) at 2i + 1.
  for (int i = 0; i + 1 < n; i++) r[i + n] = f(r + 2 * i + 1, a + i + 1, n - 1 - i, a[i]);
  // Doubled, plus the squares on the diagonal.
  Limb shifted = 0, c = 0;
  for (int i = 0; i < n; i++) {
    const u128 sq = static_cast<u128>(a[i]) * a[i];
    const Limb lo = r[2 * i], hi = r[2 * i + 1];
    const u128 s0 = static_cast<u128>((lo << 1) | shifted) + static_cast<Limb>(sq) + c;
    const u128 s1 =
        static_cast<u128>((hi << 1) | (lo >> 63)) + static_cast<Limb>(sq >> 64) + (s0 >> 64);
    shifted = hi >> 63;
    r[2 * i] = static_cast<Limb>(s0);
    r[2 * i + 1] = static_cast<Limb>(s1);
    c = static_cast<Limb>(s1 >> 64);
  }
}

#if defined(MORVANE_BN_SWEEP)
int g_sweep_karatsuba[2] = {0, 0};
bool g_sweep_split = true;
constexpr int kScratchFrom = 4;
#else
// The least size that takes scratch: a Karatsuba step (kKaratsuba) or a
// square split into halves (from 24 limbs, n of the 6 k + 1 that a level
// holds).
constexpr int kScratchFrom = 24;
static_assert(kScratchFrom <= kKaratsuba);
#endif

size_t scratch_limbs(int n) noexcept {
  size_t total = 0;
  while (n >= kScratchFrom) {
    const int k = n - n / 2;
    total += 6 * static_cast<size_t>(k) + 1;
    n = k;
  }
  return total;
}

namespace {

// r[0 .. 2n) = a^2 as L^2 + 2 L H B + H^2 B^2 for the halves L and H of a
// (B = 2^(32 n)), where L H is a product fixed_rows has unrolled (halves of
// 16, 24 or 32 limbs with MULX/ADCX/ADOX; not 24 on AMD's cores, where
// the rows measured faster): the products of the rows'
// triangle, in straight runs instead of rows of every length.  False,
// nothing done, for any other size or kernel.  scratch: n limbs and what
// mul_square takes for n / 2.
bool split_square(Limb* r, const Limb* a, int n, Limb* scratch) noexcept {
  const int h = n / 2;
#if defined(MORVANE_BN_SWEEP)
  if (!g_sweep_split) return false;
#else
  if (h == 24 && internal::Has(internal::kAmdMul)) return false;
#endif
  if ((h != 12 && h != 16 && h != 24 && h != 32) || n % 2 != 0 ||
      !fixed_rows(scratch, a, a + h, h))
    return false;
  mul_square(r, a, a, h, scratch + n);
  mul_square(r + n, a + h, a + h, h, scratch + n);
#if defined(__x86_64__)
  add_small(r + n + h, h, add_double_adx(r + h, scratch, n));  // fixed_rows: the ADX kernel
#endif
  return true;
}

}  // namespace

void mul_square(Limb* r, const Limb* a, const Limb* b, int n, Limb* scratch) noexcept {
#if !defined(MORVANE_BN_SWEEP)
  if (mul_square_ifma(r, a, b, n)) return;
#endif
  const bool square = a == b;
  if (n < karatsuba_limbs(square)) {
    if (fixed_rows(r, a, b, n)) return;
    if (square) {
      if (split_square(r, a, n, scratch)) return;
      sqr_rows(r, a, n);
    } else {
      mul_rows(r, a, n, b, n);
    }
    return;
  }
  const int h = n / 2, k = n - h;
  Limb *da = scratch, *db = da + k, *mid = db + k, *t = mid + 2 * k, *deeper = t + 2 * k + 1;
  // The middle term is ll + hh + (a_lo - a_hi)(b_hi - b_lo); for a square,
  // ll + hh - (a_lo - a_hi)^2.  neg: all ones where the product of the
  // differences is subtracted.
  Limb neg = abs_diff(da, a, h, a + h, k);
  if (square) {
    neg = ~Limb{0};
    mul_square(mid, da, da, k, deeper);
  } else {
    neg ^= ~abs_diff(db, b, h, b + h, k);  // b_hi - b_lo = -(b_lo - b_hi)
    mul_square(mid, da, db, k, deeper);
  }
  mul_square(r, a, b, h, deeper);                  // ll: r[0 .. 2h)
  mul_square(r + 2 * h, a + h, b + h, k, deeper);  // hh: r[2h .. 2n)
  // t[0 .. 2k] = ll + hh +- mid (never negative; the subtraction as the
  // addition of the complement, whose 2^(128 k) the top limb takes back).
  Limb c = add_n(t, r, r + 2 * h, 2 * h);
  c = add_xor<true>(t + 2 * h, nullptr, r + 4 * h, 2 * (k - h), 0, 0 - c);
  c += add_xor<false>(t, t, mid, 2 * k, neg, neg);
  t[2 * k] = c + neg;
  c = add_n(r + h, r + h, t, 2 * k + 1);
  add_xor<true>(r + h + 2 * k + 1, nullptr, r + h + 2 * k + 1, 2 * n - h - 2 * k - 1, 0, 0 - c);
}

bool mul_square_words(BN_ULONG* w, const BN_ULONG* a, const BN_ULONG* b, int n,
                      Limb* scratch) noexcept {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  const auto at = reinterpret_cast<uintptr_t>(w) | reinterpret_cast<uintptr_t>(a) |
                  reinterpret_cast<uintptr_t>(b);
  if (at % alignof(Limb) != 0) return false;
  mul_square(reinterpret_cast<Limb*>(w), reinterpret_cast<const Limb*>(a),
             reinterpret_cast<const Limb*>(b), n, scratch);
  return true;
#else
  static_cast<void>(w);
  static_cast<void>(a);
  static_cast<void>(b);
  static_cast<void>(n);
  static_cast<void>(scratch);
  return false;
#endif
}

Limb lift_n0(Limb n_low, BN_ULONG n0w) noexcept {
  Limb x = static_cast<BN_ULONG>(0u - n0w);  // N^-1 mod 2^32
  x *= 2 - n_low * x;                        // Newton: N^-1 mod 2^64
  return 0 - x;
}

void redc(Limb* r, Limb* t, const Modulus& m) noexcept {
  if (fixed_redc(r, t, m)) return;
  const MulAddFn f = mul_add();
  const int nl = m.nl, full = m.nw / 2;
  Limb carry = 0;  // the bit above t[i + nl]
  auto fold = [&](int i, Limb q) {
    const Limb v = f(t + i, m.n, nl, q);
    const Limb s = t[i + nl] + v;
    const Limb c1 = s < v;
    const Limb s2 = s + carry;
    const Limb c2 = s2 < carry;
    t[i + nl] = s2;
    carry = c1 | c2;
  };
#if defined(__x86_64__)
  if (adx_kernel()) {
    carry = redc_rows_adx(t, m, full);
  } else {
    for (int i = 0; i < full; i++) fold(i, t[i] * m.n0);
  }
#else
  for (int i = 0; i < full; i++) fold(i, t[i] * m.n0);
#endif
  Limb* u = t + full;  // the value: u[0 .. nl) plus carry 2^(64 nl)
  if (m.nw & 1) {
    // One word more: t[full]'s low word becomes zero, then all moves down a
    // word.  The value is below 2N < 2^(64 nl - 31), so carry and the upper
    // word of u[nl] end up zero.
    fold(full, static_cast<BN_ULONG>(static_cast<BN_ULONG>(t[full]) * m.n0w));
    for (int i = 0; i < nl; i++) u[i] = (u[i] >> 32) | (u[i + 1] << 32);
    carry = 0;
  }
  // u + carry 2^(64 nl) is below 2N: subtract N unless it is below N.
  const Limb borrow = sub_n(r, u, m.n, nl);
  const Limb keep = ct::eq_mask<Limb>(borrow & ~carry, 1);
  for (int i = 0; i < nl; i++) r[i] = ct::select(keep, u[i], r[i]);
}

void mont_mul(Limb* r, const Limb* a, const Limb* b, const Modulus& m, Limb* t) noexcept {
  mont_mul_for(m)(r, a, b, m, t);
}

void mont_mul_rows(Limb* r, const Limb* a, const Limb* b, const Modulus& m, Limb* t) noexcept {
  if (a == b) {
    sqr_rows(t, a, m.nl);
  } else {
    mul_rows(t, a, m.nl, b, m.nl);
  }
  redc(r, t, m);
}

Limb* allocate(size_t limbs) noexcept {
  if (limbs > static_cast<size_t>(INT_MAX) / sizeof(Limb)) {
    BNerr(BN_F_BN_EXPAND_INTERNAL, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  auto* p = static_cast<Limb*>(MORVANE_malloc(limbs * sizeof(Limb)));
  if (p == nullptr) BNerr(BN_F_BN_EXPAND_INTERNAL, ERR_R_MALLOC_FAILURE);
  return p;
}

void release(Limb* p, size_t limbs, bool heap) noexcept {
  if (limbs <= 2 * kInlineMove) {  // a few stores, not a call
    clear(p, static_cast<int>(limbs));
  } else {
    internal::wipe_scratch(p, limbs * sizeof(Limb));
  }
  if (heap) MORVANE_free(p);
}

}  // namespace morvane::bn::limb
