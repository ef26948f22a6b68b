/* Morvane: the MD5 message digest (RFC 1321).
 *
 * The digest family's pattern: the caller owns the context (usually on the
 * stack; it holds no pointers and may be copied to fork a computation).
 * MD5_Init starts a message, MD5_Update absorbs any number of bytes in any
 * number of calls, MD5_Final writes the 16-byte digest and leaves the context
 * finished (num 0, data zeroed); a new message starts with a new Init.  Init,
 * Update and Final return 1 and never fail; nothing is allocated, locked or
 * queued.  A length that is a negative number converted to size_t is treated
 * as empty.  MD5() digests a whole buffer in one call and returns `md`, or a
 * static buffer shared by every caller when `md` is null.
 *
 * Null arguments: the context, and the data for a non-zero length, must be
 * valid; only MD5()'s `md` may be null. */
#ifndef MORVANE_MD5_H
#define MORVANE_MD5_H

#include <stddef.h>

#include <morvane/export.h>

MORVANE_BEGIN_DECLS

#define MD5_CBLOCK 64
#define MD5_LBLOCK (MD5_CBLOCK / 4)
#define MD5_DIGEST_LENGTH 16
#define MD5_LONG unsigned int

typedef struct MD5state_st {
  MD5_LONG A, B, C, D;       /* chaining words */
  MD5_LONG Nl, Nh;           /* bit count, low and high half */
  MD5_LONG data[MD5_LBLOCK]; /* partial block, as bytes in input order */
  unsigned int num;          /* bytes waiting in data, 0 to 63 */
} MD5_CTX;

MORVANE_EXPORT extern const char MD5_version[];

MORVANE_EXPORT int MD5_Init(MD5_CTX *c);
MORVANE_EXPORT int MD5_Update(MD5_CTX *c, const void *data, size_t len);
MORVANE_EXPORT int MD5_Final(unsigned char *md, MD5_CTX *c);
/* Runs the compression function on the 64 bytes at `b`; only the chaining
 * words change. */
MORVANE_EXPORT void MD5_Transform(MD5_CTX *c, const unsigned char *b);
/* Runs the compression function on `num` consecutive 64-byte blocks (none
 * when `num` is 0); only the chaining words change. */
MORVANE_EXPORT void md5_block_data_order(MD5_CTX *c, const void *p, size_t num);
MORVANE_EXPORT unsigned char *MD5(const unsigned char *d, size_t n, unsigned char *md);

MORVANE_END_DECLS

#endif /* MORVANE_MD5_H */
