// Big numbers: helpers shared by the sources of crypto/bn.
//
// The word kernels have one internal entry each (namespace morvane::bn); the
// exported bn_* kernels and every operation of this component go through
// them, so a faster implementation replaces them in one place.
#ifndef MORVANE_CRYPTO_BN_INTERNAL_H
#define MORVANE_CRYPTO_BN_INTERNAL_H

#include <stddef.h>
#include <stdint.h>

#include <morvane/bn.h>

namespace morvane::bn {

// The most words an array may have (arrays of up to 0xFFFFFF words).
constexpr int kMaxWords = 0xFFFFFF;

// ---- word kernels (kernels.cc); contracts as the exported bn_* kernels ----
BN_ULONG mul_add_words(BN_ULONG* rp, const BN_ULONG* ap, int num, BN_ULONG w) noexcept;
BN_ULONG mul_words(BN_ULONG* rp, const BN_ULONG* ap, int num, BN_ULONG w) noexcept;
void sqr_words(BN_ULONG* r, const BN_ULONG* a, int n) noexcept;
BN_ULONG div_words(BN_ULONG h, BN_ULONG l, BN_ULONG d) noexcept;
BN_ULONG add_words(BN_ULONG* r, const BN_ULONG* a, const BN_ULONG* b, int n) noexcept;
BN_ULONG sub_words(BN_ULONG* r, const BN_ULONG* a, const BN_ULONG* b, int n) noexcept;
void mul_comba4(BN_ULONG* r, const BN_ULONG* a, const BN_ULONG* b) noexcept;
void mul_comba8(BN_ULONG* r, const BN_ULONG* a, const BN_ULONG* b) noexcept;
void sqr_comba4(BN_ULONG* r, const BN_ULONG* a) noexcept;
void sqr_comba8(BN_ULONG* r, const BN_ULONG* a) noexcept;

// ---- records ----
// Grows b only when it has fewer than `words` words allocated.
inline BIGNUM* wexpand(BIGNUM* b, int words) {
  return words <= b->dmax ? b : bn_expand2(b, words);
}

// Drops leading zero words; a zero value becomes non-negative.
inline void strip(BIGNUM* a) noexcept {
  int top = a->top;
  while (top > 0 && a->d[top - 1] == 0) top--;
  a->top = top;
  if (top == 0) a->neg = 0;
}

// Pushes (BN_EXPAND_INTERNAL, "bignum too long"): a size past kMaxWords.
void err_too_long();

// Bytes in `words` words.
inline size_t word_bytes(int words) { return sizeof(BN_ULONG) * static_cast<size_t>(words); }

}  // namespace morvane::bn

#endif  // MORVANE_CRYPTO_BN_INTERNAL_H
