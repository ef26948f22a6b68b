/* Morvane: the RIPEMD-160 message digest (ISO/IEC 10118-3; Dobbertin,
 * Bosselaers and Preneel, 1996).
 *
 * The digest family's pattern: the caller owns the context (usually on the
 * stack; it holds no pointers and may be copied to fork a computation).
 * RIPEMD160_Init starts a message, RIPEMD160_Update absorbs any number of
 * bytes in any number of calls, RIPEMD160_Final writes the 20-byte digest and
 * leaves the context finished (num 0, data zeroed); a new message starts with
 * a new Init.  Init, Update and Final return 1 and never fail; nothing is
 * allocated, locked or queued.  A length that is a negative number converted
 * to size_t is treated as empty.  RIPEMD160() digests a whole buffer in one
 * call and returns `md`, or a static buffer shared by every caller when `md`
 * is null.  The file-digest program's functions are in morvane/rmd160.h.
 *
 * Null arguments: the context, and the data for a non-zero length, must be
 * valid; only RIPEMD160()'s `md` may be null. */
#ifndef MORVANE_RIPEMD_H
#define MORVANE_RIPEMD_H

#include <stddef.h>

#include <morvane/export.h>

MORVANE_BEGIN_DECLS

#define RIPEMD160_CBLOCK 64
#define RIPEMD160_LBLOCK (RIPEMD160_CBLOCK / 4)
#define RIPEMD160_DIGEST_LENGTH 20
#define RIPEMD160_LONG unsigned int

typedef struct RIPEMD160state_st {
  RIPEMD160_LONG A, B, C, D, E;          /* chaining words */
  RIPEMD160_LONG Nl, Nh;                 /* bit count, low and high half */
  RIPEMD160_LONG data[RIPEMD160_LBLOCK]; /* partial block, as bytes in input order */
  unsigned int num;                      /* bytes waiting in data, 0 to 63 */
} RIPEMD160_CTX;

MORVANE_EXPORT extern const char RMD160_version[];

MORVANE_EXPORT int RIPEMD160_Init(RIPEMD160_CTX *c);
MORVANE_EXPORT int RIPEMD160_Update(RIPEMD160_CTX *c, const void *data, size_t len);
MORVANE_EXPORT int RIPEMD160_Final(unsigned char *md, RIPEMD160_CTX *c);
/* Runs the compression function on the 64 bytes at `b`; only the chaining
 * words change. */
MORVANE_EXPORT void RIPEMD160_Transform(RIPEMD160_CTX *c, const unsigned char *b);
/* Runs the compression function on `num` consecutive 64-byte blocks (none
 * when `num` is 0); only the chaining words change. */
MORVANE_EXPORT void ripemd160_block_data_order(RIPEMD160_CTX *c, const void *p, size_t num);
MORVANE_EXPORT unsigned char *RIPEMD160(const unsigned char *d, size_t n, unsigned char *md);

MORVANE_END_DECLS

#endif /* MORVANE_RIPEMD_H */
