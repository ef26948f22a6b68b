// Operations between a BIGNUM and one word: add, subtract, multiply, divide
// and remainder.
//
// Implementation notes: addition grows a before it writes whenever a carry
// can leave the top word, so a one-word number whose word overflows (not only
// a top word of all ones) finds room for the new word.

#include <stdint.h>

#include <morvane/bn.h>

#include "bn/internal.h"

namespace bn = morvane::bn;

/* see morvane/bn.h */
int BN_add_word(BIGNUM* a, BN_ULONG w) {
  if (w == 0) return 1;
  if (a->top == 0) return BN_set_word(a, w);
  if (a->neg) {
    a->neg = 0;
    const int ret = BN_sub_word(a, w);
    if (a->top != 0) a->neg = !a->neg;
    return ret;
  }
  const BN_ULONG top = a->d[a->top - 1];
  const bool may_carry_out = a->top == 1 ? top > 0xFFFFFFFFU - w : top == 0xFFFFFFFFU;
  if (may_carry_out && bn::wexpand(a, a->top + 1) == nullptr) return 0;
  int i = 0;
  for (; w != 0 && i < a->top; i++) {
    const BN_ULONG l = a->d[i] + w;
    a->d[i] = l;
    w = l < w ? 1 : 0;
  }
  if (w != 0) a->d[a->top++] = 1;
  return 1;
}

int BN_sub_word(BIGNUM* a, BN_ULONG w) {
  if (w == 0) return 1;
  if (a->top == 0) {
    const int ret = BN_set_word(a, w);
    if (ret) BN_set_negative(a, 1);
    return ret;
  }
  if (a->neg) {
    a->neg = 0;
    const int ret = BN_add_word(a, w);
    a->neg = 1;
    return ret;
  }
  if (a->top == 1 && a->d[0] < w) {
    a->d[0] = w - a->d[0];
    a->neg = 1;
    return 1;
  }
  int i = 0;
  while (a->d[i] < w) {  // borrow: the word wraps and 1 moves up
    a->d[i] -= w;
    i++;
    w = 1;
  }
  a->d[i] -= w;
  if (a->d[i] == 0 && i == a->top - 1) a->top--;
  return 1;
}

int BN_mul_word(BIGNUM* a, BN_ULONG w) {
  if (a->top == 0) return 1;
  if (w == 0) {
    a->top = 0;
    a->neg = 0;
    return 1;
  }
  const BN_ULONG carry = bn::mul_words(a->d, a->d, a->top, w);
  if (carry != 0) {
    if (bn::wexpand(a, a->top + 1) == nullptr) return 0;
    a->d[a->top++] = carry;
  }
  return 1;
}

BN_ULONG BN_div_word(BIGNUM* a, BN_ULONG w) {
  if (w == 0) return 0xFFFFFFFFU;
  if (a->top == 0) return 0;
  // Normalise: the divisor's top bit set, a shifted alike.
  const int s = 32 - BN_num_bits_word(w);
  w <<= s;
  if (!BN_lshift(a, a, s)) return 0xFFFFFFFFU;
  BN_ULONG rem = 0;
  for (int i = a->top - 1; i >= 0; i--) {
    const BN_ULONG l = a->d[i];
    const BN_ULONG q = bn::div_words(rem, l, w);
    rem = l - q * w;
    a->d[i] = q;
  }
  bn::strip(a);
  return rem >> s;
}

BN_ULONG BN_mod_word(const BIGNUM* a, BN_ULONG w) {
  if (w == 0) return 0xFFFFFFFFU;
  uint64_t rem = 0;
  for (int i = a->top - 1; i >= 0; i--) rem = ((rem << 32) | a->d[i]) % w;
  return static_cast<BN_ULONG>(rem);
}
