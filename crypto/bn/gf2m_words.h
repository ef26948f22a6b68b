// Carry-less word products for GF(2^m): one word by one word and two words
// by two words.  Compile-time functions, so that a published property pins
// them below and the word test can include them.
#ifndef MORVANE_CRYPTO_BN_GF2M_WORDS_H
#define MORVANE_CRYPTO_BN_GF2M_WORDS_H

#include <morvane/bn.h>

namespace morvane::bn {

// r1:r0 = a b without carries: a 3-bit window over b with a table of the
// multiples of a with its top two bits cleared; those two bits are added
// back at the end (so that no multiple overflows a word).
constexpr void bn_GF2m_mul_1x1(BN_ULONG* r1, BN_ULONG* r0, BN_ULONG a, BN_ULONG b) {
  const BN_ULONG top2b = a >> 30;
  const BN_ULONG a1 = a & 0x3FFFFFFFu, a2 = a1 << 1, a4 = a2 << 1;
  const BN_ULONG tab[8] = {0, a1, a2, a1 ^ a2, a4, a1 ^ a4, a2 ^ a4, a1 ^ a2 ^ a4};
  BN_ULONG l = tab[b & 7], h = 0;
  for (int s = 3; s <= 27; s += 3) {
    const BN_ULONG t = tab[(b >> s) & 7];
    l ^= t << s;
    h ^= t >> (32 - s);
  }
  const BN_ULONG t = tab[b >> 30];
  l ^= t << 30;
  h ^= t >> 2;
  if (top2b & 1) {
    l ^= b << 30;
    h ^= b >> 2;
  }
  if (top2b & 2) {
    l ^= b << 31;
    h ^= b >> 1;
  }
  *r1 = h;
  *r0 = l;
}

// r[0 .. 4) = (a1:a0)(b1:b0) without carries, least significant word first,
// by one Karatsuba step: three word products.
constexpr void bn_GF2m_mul_2x2(BN_ULONG* r, BN_ULONG a1, BN_ULONG a0, BN_ULONG b1, BN_ULONG b0) {
  BN_ULONG m1 = 0, m0 = 0;
  bn_GF2m_mul_1x1(r + 3, r + 2, a1, b1);
  bn_GF2m_mul_1x1(r + 1, r, a0, b0);
  bn_GF2m_mul_1x1(&m1, &m0, a0 ^ a1, b0 ^ b1);
  r[2] ^= m1 ^ r[1] ^ r[3];             // middle term, high word
  r[1] = r[3] ^ r[2] ^ r[0] ^ m1 ^ m0;  // middle term, low word
}

namespace gf2m_check {
// (x^32 - 1)^2 / (x - 1)^2 = (1 + x + ... + x^31)^2 = 1 + x^2 + ... + x^62
// over GF(2): every even power below 64.
constexpr bool all_ones_square() {
  BN_ULONG h = 0, l = 0;
  bn_GF2m_mul_1x1(&h, &l, 0xFFFFFFFFu, 0xFFFFFFFFu);
  return h == 0x55555555u && l == 0x55555555u;
}
static_assert(all_ones_square(), "carry-less square of the all-ones word");
}  // namespace gf2m_check

}  // namespace morvane::bn

#endif  // MORVANE_CRYPTO_BN_GF2M_WORDS_H
