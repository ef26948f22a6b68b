// Big numbers: helpers shared by the sources of crypto/bn.
#ifndef MORVANE_CRYPTO_BN_INTERNAL_H
#define MORVANE_CRYPTO_BN_INTERNAL_H

#include <morvane/bn.h>

// Grows b's array to at least `words` words, keeping the words in use.
// Returns b, or null with b unchanged when the size exceeds 0xFFFFFF words,
// the array is borrowed or the allocation fails.
namespace morvane::bn {

BIGNUM* bn_expand2(BIGNUM* b, int words);

// Grows b only when it has fewer than `words` words allocated.
inline BIGNUM* bn_wexpand(BIGNUM* b, int words) {
  return words <= b->dmax ? b : bn_expand2(b, words);
}

}  // namespace morvane::bn

#endif  // MORVANE_CRYPTO_BN_INTERNAL_H
