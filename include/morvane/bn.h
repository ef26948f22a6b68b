/* Morvane: big numbers.
 *
 * A BIGNUM is a signed multi-precision integer in sign-magnitude form: an
 * array `d` of 32-bit words, least significant first, of which the first `top`
 * are in use (no leading zero word; zero has top 0 and neg 0), `dmax` words
 * allocated, a sign `neg` and a flag word.  A record may be allocated by the
 * library (BN_FLAG_HEAP) or embedded in the caller's memory and set up with
 * BN_init; either way BN_free releases what the library allocated.  Growing a
 * number replaces its word array; a borrowed array (BN_FLAG_BORROWED) is never
 * grown or freed.  Records have no lock: one writer at a time. */
#ifndef MORVANE_BN_H
#define MORVANE_BN_H

#include <morvane/export.h>
#include <morvane/types.h>

MORVANE_BEGIN_DECLS

/* One word of a number: 32 bits on every platform. */
typedef unsigned int BN_ULONG;
#define BN_BITS2 32
#define BN_BYTES 4
#define BN_MASK2 (0xffffffffU)

/* Flag bits of a BIGNUM. */
#define BN_FLAG_HEAP 0x01       /* the record itself was allocated by the library */
#define BN_FLAG_BORROWED 0x02   /* the word array belongs to somebody else */
#define BN_FLAG_SECRET 0x04     /* a secret value: constant-time variants apply */
#define BN_FLAG_RELEASED 0x8000 /* an embedded record whose words were freed */

struct bignum_st {
  BN_ULONG *d; /* the magnitude, least significant word first */
  int top;     /* words in use; 0 for the value zero */
  int dmax;    /* words allocated in d */
  int neg;     /* 1 when negative */
  int flags;   /* BN_FLAG_* */
};

/* Sets every field of a caller-owned record to zero: no words, value 0. */
MORVANE_EXPORT void BN_init(BIGNUM *a);
/* Makes a equal to b (words, length and sign; a's flags stay), growing a's
 * array when needed.  Returns a, or null when growth fails (a unchanged).
 * BN_copy(a, a) returns a at once. */
MORVANE_EXPORT BIGNUM *BN_copy(BIGNUM *a, const BIGNUM *b);
/* Frees a's words unless borrowed; frees a record the library allocated, and
 * marks an embedded one BN_FLAG_RELEASED with d null (top and dmax kept).
 * Null is ignored. */
MORVANE_EXPORT void BN_free(BIGNUM *a);
/* Compares magnitudes, signs ignored: a's top minus b's top when the word
 * counts differ (only its sign matters), else 1, -1 or 0 from the most
 * significant differing word. */
MORVANE_EXPORT int BN_ucmp(const BIGNUM *a, const BIGNUM *b);

MORVANE_END_DECLS

#endif /* MORVANE_BN_H */
