/* Morvane: the MD4 message digest (RFC 1320).
 *
 * The digest family's pattern: the caller owns the context (usually on the
 * stack; it holds no pointers and may be copied to fork a computation).
 * MD4_Init starts a message, MD4_Update absorbs any number of bytes in any
 * number of calls, MD4_Final writes the 16-byte digest and leaves the context
 * finished (num 0, data zeroed); a new message starts with a new Init.  Init,
 * Update and Final return 1 and never fail; nothing is allocated, locked or
 * queued.  A length that is a negative number converted to size_t is treated
 * as empty.  MD4() digests a whole buffer in one call and returns `md`, or a
 * static buffer shared by every caller when `md` is null.
 *
 * Null arguments: the context, and the data for a non-zero length, must be
 * valid; only MD4()'s `md` may be null. */
#ifndef MORVANE_MD4_H
#define MORVANE_MD4_H

#include <stddef.h>

#include <morvane/export.h>

MORVANE_BEGIN_DECLS

#define MD4_CBLOCK 64
#define MD4_LBLOCK (MD4_CBLOCK / 4)
#define MD4_DIGEST_LENGTH 16
#define MD4_LONG unsigned int

typedef struct MD4state_st {
  MD4_LONG A, B, C, D;       /* chaining words */
  MD4_LONG Nl, Nh;           /* bit count, low and high half */
  MD4_LONG data[MD4_LBLOCK]; /* partial block, as bytes in input order */
  unsigned int num;          /* bytes waiting in data, 0 to 63 */
} MD4_CTX;

MORVANE_EXPORT extern const char MD4_version[];

MORVANE_EXPORT int MD4_Init(MD4_CTX *c);
MORVANE_EXPORT int MD4_Update(MD4_CTX *c, const void *data, size_t len);
MORVANE_EXPORT int MD4_Final(unsigned char *md, MD4_CTX *c);
/* Runs the compression function on the 64 bytes at `b`; only the chaining
 * words change. */
MORVANE_EXPORT void MD4_Transform(MD4_CTX *c, const unsigned char *b);
/* Runs the compression function on `num` consecutive 64-byte blocks (none
 * when `num` is 0); only the chaining words change. */
MORVANE_EXPORT void md4_block_data_order(MD4_CTX *c, const void *p, size_t num);
MORVANE_EXPORT unsigned char *MD4(const unsigned char *d, size_t n, unsigned char *md);

MORVANE_END_DECLS

#endif /* MORVANE_MD4_H */
