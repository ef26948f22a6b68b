/* Morvane: the MD2 message digest (RFC 1319).
 *
 * The digest family's pattern: the caller owns the context (usually on the
 * stack; it holds no pointers and may be copied to fork a computation).
 * MD2_Init starts a message, MD2_Update absorbs any number of bytes in any
 * number of calls, MD2_Final writes the 16-byte digest and sets every field
 * of the context to zero, which is the state Init leaves, so the next message
 * may start at once.  Init, Update and Final return 1 and never fail; nothing
 * is allocated, locked or queued.  A length that is a negative number
 * converted to size_t is treated as empty.  MD2() digests a whole buffer in
 * one call and returns `md`, or a static buffer shared by every caller when
 * `md` is null.
 *
 * Null arguments: the context, and the data for a non-zero length, must be
 * valid; only MD2()'s `md` may be null. */
#ifndef MORVANE_MD2_H
#define MORVANE_MD2_H

#include <stddef.h>

#include <morvane/export.h>

MORVANE_BEGIN_DECLS

#define MD2_INT unsigned int
#define MD2_BLOCK 16
#define MD2_DIGEST_LENGTH 16

typedef struct MD2state_st {
  unsigned int num;              /* bytes waiting in data, 0 to 15 */
  unsigned char data[MD2_BLOCK]; /* partial block */
  MD2_INT cksm[MD2_BLOCK];       /* running checksum, one byte value per word */
  MD2_INT state[MD2_BLOCK];      /* running digest state, one byte value per word */
} MD2_CTX;

MORVANE_EXPORT extern const char MD2_version[];

/* "md2(int)": the word type of the tables and the state. */
MORVANE_EXPORT const char *MD2_options(void);
MORVANE_EXPORT int MD2_Init(MD2_CTX *c);
MORVANE_EXPORT int MD2_Update(MD2_CTX *c, const unsigned char *data, size_t len);
MORVANE_EXPORT int MD2_Final(unsigned char *md, MD2_CTX *c);
MORVANE_EXPORT unsigned char *MD2(const unsigned char *d, size_t n, unsigned char *md);

MORVANE_END_DECLS

#endif /* MORVANE_MD2_H */
