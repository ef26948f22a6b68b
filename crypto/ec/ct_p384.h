// P-384 field arithmetic for the constant-time engine: the product and
// square reduced by the prime's own folding (Solinas), and the inverse by a
// fixed addition chain, each on two kernels: portable C, and on x86-64
// processors with MULX and ADCX/ADOX the double-width product and square in
// inline assembly.  Included by ct_arith.h, whose limb helpers (adc, sbb,
// final_sub, product, square) it uses; nothing here branches on or indexes
// by a value.
//
// Implementation notes: p = 2^384 - 2^128 - 2^96 + 2^32 - 1 (FIPS 186-4,
// D.1.2.4), so 2^384 = d mod p with d = 2^128 + 2^96 - 2^32 + 1.  The
// elements are plain residues (not Montgomery form: the field's R is 1).  A
// product c = L + H 2^384 (two halves of six limbs) becomes L + H d, which
// is L + H + H 2^128 + H 2^96 - H 2^32: shifted copies of H added and
// subtracted, no multiplication.  That leaves at most 129 bits above 2^384,
// folded the same way once more; the result is below 2p and one masked
// subtraction finishes.  The prime's 32-bit-word form of the routine is in
// FIPS 186-4, D.2.4; here it runs on 64-bit limbs, the 32-bit offsets as
// double-limb shifts.  A Montgomery reduction specialised to this prime
// (n0 = 2^32 + 1: one multiplication per round instead of six) was
// measured too, and was slower: its six rounds form one dependent chain.
// The assembly kernels carry two chains at once (ADCX through the carry
// flag, ADOX through the overflow flag), which compiled C cannot express.
// The same product and square, with a Montgomery reduction for any odd
// six-limb modulus, serve the other six-limb fields on that kernel (kind
// kMont6Adx: P-384's order, for ECDSA).
#ifndef MORVANE_CRYPTO_EC_CT_P384_H
#define MORVANE_CRYPTO_EC_CT_P384_H

#include "internal/cpu.h"

namespace morvane::ec::ctarith::p384 {

constexpr limb kP[6] = {0x00000000ffffffffu, 0xffffffff00000000u, 0xfffffffffffffffeu,
                        0xffffffffffffffffu, 0xffffffffffffffffu, 0xffffffffffffffffu};

// out = l + h d (K limbs) for l of six limbs and h of M limbs, K = max(6,
// M + 2) + 1 limbs: l + h + h 2^128 + h 2^96 - h 2^32 with s = h 2^32
// (M + 1 limbs), the subtraction last so that no partial sum is negative.
template <size_t M, size_t K>
inline void fold(limb out[K], const limb l[6], const limb h[M]) {
  static_assert(K == (M + 2 > 6 ? M + 2 : 6) + 1);
  limb s[M + 1];
  s[0] = h[0] << 32;
  for (size_t j = 1; j < M; j++) s[j] = h[j] << 32 | h[j - 1] >> 32;
  s[M] = h[M - 1] >> 32;
  carry_t k = 0;
  for (size_t j = 0; j < K; j++) out[j] = adc(j < 6 ? l[j] : 0, j < M ? h[j] : 0, k);
  k = 0;
  for (size_t j = 2; j < K; j++) out[j] = adc(out[j], j - 2 < M ? h[j - 2] : 0, k);
  k = 0;
  for (size_t j = 1; j < K; j++) out[j] = adc(out[j], j - 1 <= M ? s[j - 1] : 0, k);
  k = 0;
  for (size_t j = 0; j < K; j++) out[j] = sbb(out[j], j <= M ? s[j] : 0, k);
}

// r = c mod p for c < 2^768 (c[0..11]): the upper half folded into a <
// 2^513, then a's top 129 bits into b < 2^385 < 2p, then one masked
// subtraction.
inline void reduce(limb r[6], const limb c[12]) {
  limb a[9];
  fold<6, 9>(a, c, c + 6);
  limb b[7];
  fold<3, 7>(b, a, a + 6);
  final_sub<6>(r, b, static_cast<carry_t>(b[6]), kP);
}

// r = a b mod p and r = a^2 mod p, portable.
inline void mul(limb r[6], const limb a[6], const limb b[6]) {
  limb t[12];
  product<6>(t, a, b);
  reduce(r, t);
}

inline void sqr(limb r[6], const limb a[6]) {
  limb t[12];
  square<6>(t, a);
  reduce(r, t);
}

// r = a^(2^n) (n squarings); r may alias a.
template <class K>
inline void sqr_n(limb r[6], const limb a[6], size_t n) {
  if (r != a) memcpy(r, a, 6 * sizeof(limb));
  for (size_t i = 0; i < n; i++) K::sqr(r, r);
}

// r = a^(p-2) = a^-1 (0 for 0) by a fixed addition chain on the kernel K:
// with x_k = a^(2^k - 1), p - 2 is 255 ones, a zero, 32 ones, 64 zeros, 30
// ones, a zero and a one, so a^(p-2) = ((x255^(2^33) x32)^(2^94)
// x30)^(2^2) a.  383 squarings and 14 products.
template <class K>
inline void invert_chain(limb r[6], const limb a[6]) {
  limb x2[6], x3[6], x15[6], x30[6], x32[6], t[6], u[6];
  K::sqr(t, a);
  K::mul(x2, t, a);
  K::sqr(t, x2);
  K::mul(x3, t, a);
  sqr_n<K>(t, x3, 3);
  K::mul(u, t, x3);  // x6
  sqr_n<K>(t, u, 6);
  K::mul(u, t, u);  // x12
  sqr_n<K>(t, u, 3);
  K::mul(x15, t, x3);
  sqr_n<K>(t, x15, 15);
  K::mul(x30, t, x15);
  sqr_n<K>(t, x30, 2);
  K::mul(x32, t, x2);
  sqr_n<K>(t, x30, 30);
  K::mul(u, t, x30);  // x60
  sqr_n<K>(t, u, 60);
  K::mul(u, t, u);  // x120
  sqr_n<K>(t, u, 120);
  K::mul(u, t, u);  // x240
  sqr_n<K>(t, u, 15);
  K::mul(u, t, x15);   // x255
  sqr_n<K>(t, u, 33);  // a zero, then 32 ones
  K::mul(u, t, x32);
  sqr_n<K>(t, u, 94);  // 64 zeros, then 30 ones
  K::mul(u, t, x30);
  sqr_n<K>(t, u, 2);  // a zero and a one
  K::mul(r, t, a);
}

struct Portable {
  static void mul(limb r[6], const limb a[6], const limb b[6]) { p384::mul(r, a, b); }
  static void sqr(limb r[6], const limb a[6]) { p384::sqr(r, a); }
};

inline void invert(limb r[6], const limb a[6]) {
  invert_chain<Portable>(r, a);
}

#if defined(__x86_64__)
// ---- MULX/ADCX/ADOX kernels --------------------------------------------------
// clang-format off
// lo:hi = src[off] rdx; dlo += lo on the carry chain, dhi += hi on the
// overflow chain.
#define MORVANE_P384_MULADD(src, off, dlo, dhi)                                                    \
  "mulxq " off "(%[" src "]), %[lo], %[hi]\n\t"                                                    \
  "adcxq %[lo], %[" dlo "]\n\t"                                                                    \
  "adoxq %[hi], %[" dhi "]\n\t"
// The row's last limb: lo:top = a[off] rdx, dlo += lo, and top takes both
// chains' carries (it cannot overflow: the row's sum fits its limbs).
#define MORVANE_P384_MULTOP(off, dlo, top)                                                         \
  "mulxq " off "(%[a]), %[lo], %[" top "]\n\t"                                                     \
  "adcxq %[lo], %[" dlo "]\n\t"                                                                    \
  "movl $0, %k[lo]\n\t"                                                                            \
  "adcxq %[lo], %[" top "]\n\t"                                                                    \
  "adoxq %[lo], %[" top "]\n\t"
// Row i of the product: w0 .. w5 hold limbs i .. i + 5 of the running sum;
// adds a b[i] 2^(64 i), stores limb i (final) and leaves limb i + 6 in top.
#define MORVANE_P384_ROW(boff, w0, w1, w2, w3, w4, w5, top)                                        \
  "movq " boff "(%[b]), %%rdx\n\t"                                                                 \
  "xorl %k[lo], %k[lo]\n\t" /* CF = OF = 0 */                                                      \
  MORVANE_P384_MULADD("a", "0", w0, w1) MORVANE_P384_MULADD("a", "8", w1, w2)                      \
  MORVANE_P384_MULADD("a", "16", w2, w3) MORVANE_P384_MULADD("a", "24", w3, w4)                    \
  MORVANE_P384_MULADD("a", "32", w4, w5) MORVANE_P384_MULTOP("40", w5, top)                        \
  "movq %[" w0 "], " boff "(%[c])\n\t"

// c = a b (twelve limbs).
__attribute__((target("bmi2,adx"))) inline void product_adx(limb c[12], const limb a[6],
                                                          const limb b[6]) {
  limb x0, x1, x2, x3, x4, x5, x6, lo, hi;
  __asm__ volatile(
      "movq 0(%[b]), %%rdx\n\t"
      "xorl %k[lo], %k[lo]\n\t"
      "mulxq 0(%[a]), %[x0], %[x1]\n\t"
      "mulxq 8(%[a]), %[lo], %[x2]\n\t"
      "adcxq %[lo], %[x1]\n\t"
      "mulxq 16(%[a]), %[lo], %[x3]\n\t"
      "adcxq %[lo], %[x2]\n\t"
      "mulxq 24(%[a]), %[lo], %[x4]\n\t"
      "adcxq %[lo], %[x3]\n\t"
      "mulxq 32(%[a]), %[lo], %[x5]\n\t"
      "adcxq %[lo], %[x4]\n\t"
      "mulxq 40(%[a]), %[lo], %[x6]\n\t"
      "adcxq %[lo], %[x5]\n\t"
      "movl $0, %k[lo]\n\t"
      "adcxq %[lo], %[x6]\n\t"
      "movq %[x0], 0(%[c])\n\t"
      MORVANE_P384_ROW("8", "x1", "x2", "x3", "x4", "x5", "x6", "x0")
      MORVANE_P384_ROW("16", "x2", "x3", "x4", "x5", "x6", "x0", "x1")
      MORVANE_P384_ROW("24", "x3", "x4", "x5", "x6", "x0", "x1", "x2")
      MORVANE_P384_ROW("32", "x4", "x5", "x6", "x0", "x1", "x2", "x3")
      MORVANE_P384_ROW("40", "x5", "x6", "x0", "x1", "x2", "x3", "x4")
      "movq %[x6], 48(%[c])\n\t"
      "movq %[x0], 56(%[c])\n\t"
      "movq %[x1], 64(%[c])\n\t"
      "movq %[x2], 72(%[c])\n\t"
      "movq %[x3], 80(%[c])\n\t"
      "movq %[x4], 88(%[c])\n\t"
      : [x0] "=&r"(x0), [x1] "=&r"(x1), [x2] "=&r"(x2), [x3] "=&r"(x3), [x4] "=&r"(x4),
        [x5] "=&r"(x5), [x6] "=&r"(x6), [lo] "=&r"(lo), [hi] "=&r"(hi)
      : [a] "r"(a), [b] "r"(b), [c] "r"(c)
      : "rdx", "cc", "memory");
}

// c = a^2 (twelve limbs): the 15 cross products a[i] a[j], i < j, row by
// row into x1 .. x10 (x1 and x2 stored once final, their registers then
// holding x9 and x10), then 2 x plus the six squares, the doubling on the
// carry chain and the squares on the overflow chain.
__attribute__((target("bmi2,adx"))) inline void square_adx(limb c[12], const limb a[6]) {
  limb r1, r2, r3, r4, r5, r6, r7, r8, lo, hi;
  __asm__ volatile(
      // a[0] a[1 .. 5] into x1 .. x6
      "movq 0(%[a]), %%rdx\n\t"
      "xorl %k[lo], %k[lo]\n\t"
      "mulxq 8(%[a]), %[r1], %[r2]\n\t"
      "mulxq 16(%[a]), %[lo], %[r3]\n\t"
      "adcxq %[lo], %[r2]\n\t"
      "mulxq 24(%[a]), %[lo], %[r4]\n\t"
      "adcxq %[lo], %[r3]\n\t"
      "mulxq 32(%[a]), %[lo], %[r5]\n\t"
      "adcxq %[lo], %[r4]\n\t"
      "mulxq 40(%[a]), %[lo], %[r6]\n\t"
      "adcxq %[lo], %[r5]\n\t"
      "movl $0, %k[lo]\n\t"
      "adcxq %[lo], %[r6]\n\t"
      "movq %[r1], 8(%[c])\n\t"
      "movq %[r2], 16(%[c])\n\t"
      // a[1] a[2 .. 5] into x3 .. x7
      "movq 8(%[a]), %%rdx\n\t"
      "xorl %k[lo], %k[lo]\n\t"
      MORVANE_P384_MULADD("a", "16", "r3", "r4") MORVANE_P384_MULADD("a", "24", "r4", "r5")
      MORVANE_P384_MULADD("a", "32", "r5", "r6") MORVANE_P384_MULTOP("40", "r6", "r7")
      // a[2] a[3 .. 5] into x5 .. x8
      "movq 16(%[a]), %%rdx\n\t"
      "xorl %k[lo], %k[lo]\n\t"
      MORVANE_P384_MULADD("a", "24", "r5", "r6") MORVANE_P384_MULADD("a", "32", "r6", "r7")
      MORVANE_P384_MULTOP("40", "r7", "r8")
      // a[3] a[4 .. 5] into x7 .. x9 (x9 in r1)
      "movq 24(%[a]), %%rdx\n\t"
      "xorl %k[lo], %k[lo]\n\t"
      MORVANE_P384_MULADD("a", "32", "r7", "r8") MORVANE_P384_MULTOP("40", "r8", "r1")
      // a[4] a[5] into x9 .. x10 (x10 in r2)
      "movq 32(%[a]), %%rdx\n\t"
      "mulxq 40(%[a]), %[lo], %[r2]\n\t"
      "addq %[lo], %[r1]\n\t"
      "adcq $0, %[r2]\n\t"
      // c = 2 x + a[i]^2 at limbs 2i, 2i + 1
      "xorl %k[lo], %k[lo]\n\t"
      "movq 0(%[a]), %%rdx\n\t"
      "mulxq %%rdx, %[lo], %[hi]\n\t"
      "movq %[lo], 0(%[c])\n\t"
      "movq 8(%[c]), %[lo]\n\t"
      "adcxq %[lo], %[lo]\n\t"
      "adoxq %[hi], %[lo]\n\t"
      "movq %[lo], 8(%[c])\n\t"
      "movq 8(%[a]), %%rdx\n\t"
      "mulxq %%rdx, %[lo], %[hi]\n\t"
      "movq 16(%[c]), %%rdx\n\t"
      "adcxq %%rdx, %%rdx\n\t"
      "adoxq %[lo], %%rdx\n\t"
      "movq %%rdx, 16(%[c])\n\t"
      "adcxq %[r3], %[r3]\n\t"
      "adoxq %[hi], %[r3]\n\t"
      "movq %[r3], 24(%[c])\n\t"
      "movq 16(%[a]), %%rdx\n\t"
      "mulxq %%rdx, %[lo], %[hi]\n\t"
      "adcxq %[r4], %[r4]\n\t"
      "adoxq %[lo], %[r4]\n\t"
      "movq %[r4], 32(%[c])\n\t"
      "adcxq %[r5], %[r5]\n\t"
      "adoxq %[hi], %[r5]\n\t"
      "movq %[r5], 40(%[c])\n\t"
      "movq 24(%[a]), %%rdx\n\t"
      "mulxq %%rdx, %[lo], %[hi]\n\t"
      "adcxq %[r6], %[r6]\n\t"
      "adoxq %[lo], %[r6]\n\t"
      "movq %[r6], 48(%[c])\n\t"
      "adcxq %[r7], %[r7]\n\t"
      "adoxq %[hi], %[r7]\n\t"
      "movq %[r7], 56(%[c])\n\t"
      "movq 32(%[a]), %%rdx\n\t"
      "mulxq %%rdx, %[lo], %[hi]\n\t"
      "adcxq %[r8], %[r8]\n\t"
      "adoxq %[lo], %[r8]\n\t"
      "movq %[r8], 64(%[c])\n\t"
      "adcxq %[r1], %[r1]\n\t"
      "adoxq %[hi], %[r1]\n\t"
      "movq %[r1], 72(%[c])\n\t"
      "movq 40(%[a]), %%rdx\n\t"
      "mulxq %%rdx, %[lo], %[hi]\n\t"
      "adcxq %[r2], %[r2]\n\t"
      "adoxq %[lo], %[r2]\n\t"
      "movq %[r2], 80(%[c])\n\t"
      "movl $0, %k[lo]\n\t"
      "adcxq %[lo], %[hi]\n\t"
      "adoxq %[lo], %[hi]\n\t"
      "movq %[hi], 88(%[c])\n\t"
      : [r1] "=&r"(r1), [r2] "=&r"(r2), [r3] "=&r"(r3), [r4] "=&r"(r4), [r5] "=&r"(r5),
        [r6] "=&r"(r6), [r7] "=&r"(r7), [r8] "=&r"(r8), [lo] "=&r"(lo), [hi] "=&r"(hi)
      : [a] "r"(a), [c] "r"(c)
      : "rdx", "cc", "memory");
}

// A reduction round: w0 .. w5 hold limbs i .. i + 5 and top the carry into
// limb i + 6; adds m p 2^(64 i), m = w0 n0 (w0 becomes 0), and leaves limbs
// i + 1 .. i + 6 in w1 .. w5, w0 (limb i + 6 read from t at toff) and the
// carry into limb i + 7 in top.
#define MORVANE_P384_REDC(w0, w1, w2, w3, w4, w5, toff)                                            \
  "movq %[" w0 "], %%rdx\n\t"                                                                      \
  "imulq %[n0], %%rdx\n\t"                                                                         \
  "xorl %k[lo], %k[lo]\n\t"                                                                        \
  MORVANE_P384_MULADD("p", "0", w0, w1) MORVANE_P384_MULADD("p", "8", w1, w2)                      \
  MORVANE_P384_MULADD("p", "16", w2, w3) MORVANE_P384_MULADD("p", "24", w3, w4)                    \
  MORVANE_P384_MULADD("p", "32", w4, w5)                                                           \
  "mulxq 40(%[p]), %[lo], %[hi]\n\t"                                                               \
  "adcxq %[lo], %[" w5 "]\n\t"                                                                     \
  "movq " toff "(%[t]), %[" w0 "]\n\t"                                                             \
  "adoxq %[hi], %[" w0 "]\n\t"                                                                     \
  "adcxq %[top], %[" w0 "]\n\t"                                                                    \
  "movl $0, %k[lo]\n\t"                                                                            \
  "movl $0, %k[top]\n\t"                                                                           \
  "adcxq %[lo], %[top]\n\t"                                                                        \
  "adoxq %[lo], %[top]\n\t"

// w = (t + m p) / 2^384 for any six-limb odd modulus p and n0 = -p^-1 mod
// 2^64, t < p 2^384: six rounds of word-serial Montgomery reduction, m = t[i]
// n0 each, m p added on both chains; w has six limbs and a carry out top (0
// or 1: the sum is below 2p).
__attribute__((target("bmi2,adx"))) inline void mont_reduce_adx(limb w[6], limb& top,
                                                               const limb t[12], const limb p[6],
                                                               const limb& n0) {
  limb w0, w1, w2, w3, w4, w5, lo, hi;
  __asm__ volatile(
      "movq 0(%[t]), %[w0]\n\t"
      "movq 8(%[t]), %[w1]\n\t"
      "movq 16(%[t]), %[w2]\n\t"
      "movq 24(%[t]), %[w3]\n\t"
      "movq 32(%[t]), %[w4]\n\t"
      "movq 40(%[t]), %[w5]\n\t"
      "xorl %k[top], %k[top]\n\t"
      MORVANE_P384_REDC("w0", "w1", "w2", "w3", "w4", "w5", "48")
      MORVANE_P384_REDC("w1", "w2", "w3", "w4", "w5", "w0", "56")
      MORVANE_P384_REDC("w2", "w3", "w4", "w5", "w0", "w1", "64")
      MORVANE_P384_REDC("w3", "w4", "w5", "w0", "w1", "w2", "72")
      MORVANE_P384_REDC("w4", "w5", "w0", "w1", "w2", "w3", "80")
      MORVANE_P384_REDC("w5", "w0", "w1", "w2", "w3", "w4", "88")
      "movq %[w0], 0(%[r])\n\t"
      "movq %[w1], 8(%[r])\n\t"
      "movq %[w2], 16(%[r])\n\t"
      "movq %[w3], 24(%[r])\n\t"
      "movq %[w4], 32(%[r])\n\t"
      "movq %[w5], 40(%[r])\n\t"
      : [w0] "=&r"(w0), [w1] "=&r"(w1), [w2] "=&r"(w2), [w3] "=&r"(w3), [w4] "=&r"(w4),
        [w5] "=&r"(w5), [lo] "=&r"(lo), [hi] "=&r"(hi), [top] "=&r"(top)
      : [t] "r"(t), [p] "r"(p), [r] "r"(w), [n0] "m"(n0)
      : "rdx", "cc", "memory");
}
#undef MORVANE_P384_MULADD
#undef MORVANE_P384_MULTOP
#undef MORVANE_P384_ROW
#undef MORVANE_P384_REDC
// clang-format on

// r = a b mod p and r = a^2 mod p on the MULX/ADX kernel.
__attribute__((target("bmi2,adx"))) inline void mul_adx(limb r[6], const limb a[6],
                                                        const limb b[6]) {
  limb t[12];
  product_adx(t, a, b);
  reduce(r, t);
}

__attribute__((target("bmi2,adx"))) inline void sqr_adx(limb r[6], const limb a[6]) {
  limb t[12];
  square_adx(t, a);
  reduce(r, t);
}

// The Montgomery product and square modulo another six-limb modulus (p, n0)
// on the same kernel: r = a b / 2^384 mod p and r = a^2 / 2^384 mod p.
__attribute__((target("bmi2,adx"))) inline void mont_mul_adx(limb r[6], const limb a[6],
                                                             const limb b[6], const limb p[6],
                                                             const limb& n0) {
  limb t[12], w[6], top;
  product_adx(t, a, b);
  mont_reduce_adx(w, top, t, p, n0);
  final_sub<6>(r, w, static_cast<carry_t>(top), p);
}

__attribute__((target("bmi2,adx"))) inline void mont_sqr_adx(limb r[6], const limb a[6],
                                                             const limb p[6], const limb& n0) {
  limb t[12], w[6], top;
  square_adx(t, a);
  mont_reduce_adx(w, top, t, p, n0);
  final_sub<6>(r, w, static_cast<carry_t>(top), p);
}

struct Adx {
  static void mul(limb r[6], const limb a[6], const limb b[6]) { mul_adx(r, a, b); }
  static void sqr(limb r[6], const limb a[6]) { sqr_adx(r, a); }
};

__attribute__((target("bmi2,adx"))) inline void invert_adx(limb r[6], const limb a[6]) {
  invert_chain<Adx>(r, a);
}

// True when the MULX/ADX kernel may run: the processor has MULX, ADCX and
// ADOX and MORVANE_NO_HWCRYPT does not switch "adx" off.  A test build's
// copy of the engine defines MORVANE_EC_FORCE_ADX to take the kernel under
// valgrind, whose model of the processor hides ADX (it runs the
// instructions).
inline bool use_adx() {
#if defined(MORVANE_EC_FORCE_ADX)
  return true;
#else
  return morvane::internal::Has(morvane::internal::kAdx);
#endif
}
#else
inline void mul_adx(limb r[6], const limb a[6], const limb b[6]) {
  mul(r, a, b);
}
inline void sqr_adx(limb r[6], const limb a[6]) {
  sqr(r, a);
}
inline void invert_adx(limb r[6], const limb a[6]) {
  invert(r, a);
}
inline void mont_mul_adx(limb[6], const limb[6], const limb[6], const limb[6], const limb&) {}
inline void mont_sqr_adx(limb[6], const limb[6], const limb[6], const limb&) {}
inline bool use_adx() {
  return false;
}
#endif

}  // namespace morvane::ec::ctarith::p384

#endif  // MORVANE_CRYPTO_EC_CT_P384_H
