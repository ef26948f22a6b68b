// Marks a big number's words secret for the constant-time checks, keeping
// what is public about a prime defined, and the whole number public again.
#ifndef MORVANE_TEST_CT_SECRET_WORDS_H
#define MORVANE_TEST_CT_SECRET_WORDS_H

#include <stddef.h>

#include <morvane/bn.h>

#include "vg_requests.h"

// Marks b's words secret, keeping bit 0 of its low word and its top bit
// defined when `prime` (a prime's parity and length are no secret).
inline void SecretWords(const BIGNUM* b, bool prime) {
  const int top = BN_num_bits(b) - 1;
  VALGRIND_MAKE_MEM_UNDEFINED(b->d, sizeof(BN_ULONG) * static_cast<size_t>(b->top));
  if (prime) {
    BN_ULONG vbits = ~static_cast<BN_ULONG>(1);  // bit 0 defined
    VALGRIND_SET_VBITS(&b->d[0], &vbits, sizeof vbits);
    vbits = ~(static_cast<BN_ULONG>(1) << (top % BN_BITS2));
    if (top / BN_BITS2 == 0) vbits &= ~static_cast<BN_ULONG>(1);
    VALGRIND_SET_VBITS(&b->d[top / BN_BITS2], &vbits, sizeof vbits);
  }
}

// Marks b public: its record and every word it has room for.
inline void PublicNumber(const BIGNUM* b) {
  VALGRIND_MAKE_MEM_DEFINED(b, sizeof *b);
  VALGRIND_MAKE_MEM_DEFINED(b->d, sizeof(BN_ULONG) * static_cast<size_t>(b->dmax));
}

#endif  // MORVANE_TEST_CT_SECRET_WORDS_H
