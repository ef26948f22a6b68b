/* Morvane: the SHA family: SHA-0 (FIPS 180), SHA-1 (FIPS 180-1), SHA-224 and
 * SHA-256, SHA-384 and SHA-512 (FIPS 180-2 and its change notice).
 *
 * The digest family's pattern: the caller owns the context (usually on the
 * stack; it holds no pointers and may be copied to fork a computation).  Init
 * starts a message, Update absorbs any number of bytes in any number of
 * calls, Final writes the digest; a new message starts with a new Init.
 * Nothing is allocated, locked or queued.  A length that is a negative number
 * converted to size_t is treated as empty.  The one-shot functions (SHA, SHA1,
 * SHA224, ...) digest a whole buffer and return `md`, or a static buffer of
 * their own, shared by every caller, when `md` is null.
 *
 * SHA-0 and SHA-1 share SHA_CTX; SHA-224 and SHA-256 share SHA256_CTX, and
 * SHA-384 and SHA-512 share SHA512_CTX, whose field `md_len` (set by Init)
 * decides how many bytes Final writes.  Init and Update return 1; Final
 * returns 1, or 0 for the md_len and null-output cases documented below.
 *
 * Null arguments: the context, and the data for a non-zero length, must be
 * valid; the one-shot functions' `md` may be null, and Final's output is
 * checked as documented below. */
#ifndef MORVANE_SHA_H
#define MORVANE_SHA_H

#include <stddef.h>

#include <morvane/export.h>

MORVANE_BEGIN_DECLS

#define SHA_LONG unsigned int
#define SHA_LONG64 unsigned long long

#define SHA_LBLOCK 16
#define SHA_CBLOCK (SHA_LBLOCK * 4)
#define SHA_LAST_BLOCK (SHA_CBLOCK - 8)
#define SHA_DIGEST_LENGTH 20
#define SHA224_DIGEST_LENGTH 28
#define SHA256_CBLOCK (SHA_LBLOCK * 4)
#define SHA256_DIGEST_LENGTH 32
#define SHA384_DIGEST_LENGTH 48
#define SHA512_DIGEST_LENGTH 64
#define SHA512_CBLOCK (SHA_LBLOCK * 8)

/* SHA-0 and SHA-1: the 64-byte block scheme, big-endian. */
typedef struct SHAstate_st {
  SHA_LONG h0, h1, h2, h3, h4; /* chaining words */
  SHA_LONG Nl, Nh;             /* bit count, low and high half */
  SHA_LONG data[SHA_LBLOCK];   /* partial block, as bytes in input order */
  unsigned int num;            /* bytes waiting in data, 0 to 63 */
} SHA_CTX;

/* SHA-224 and SHA-256. */
typedef struct SHA256state_st {
  SHA_LONG h[8];
  SHA_LONG Nl, Nh;
  SHA_LONG data[SHA_LBLOCK];
  unsigned int num;
  unsigned int md_len; /* bytes Final writes: 28 after SHA224_Init, 32 after SHA256_Init */
} SHA256_CTX;

/* SHA-384 and SHA-512: 128-byte blocks and a 128-bit bit count. */
typedef struct SHA512state_st {
  SHA_LONG64 h[8];
  SHA_LONG64 Nl, Nh; /* bit count, low and high 64 bits */
  union {
    SHA_LONG64 d[SHA_LBLOCK];
    unsigned char p[SHA512_CBLOCK];
  } u;                 /* partial block, as bytes in input order in p */
  unsigned int num;    /* bytes waiting in u, 0 to 127 */
  unsigned int md_len; /* bytes Final writes: 48 after SHA384_Init, 64 after SHA512_Init */
} SHA512_CTX;

MORVANE_EXPORT extern const char SHA_version[];
MORVANE_EXPORT extern const char SHA1_version[];
MORVANE_EXPORT extern const char SHA256_version[];
MORVANE_EXPORT extern const char SHA512_version[];

/* SHA-0.  Final writes 20 bytes and leaves the context finished (num 0, data
 * zeroed).  Transform runs the compression function on one 64-byte block;
 * only the chaining words change. */
MORVANE_EXPORT int SHA_Init(SHA_CTX *c);
MORVANE_EXPORT int SHA_Update(SHA_CTX *c, const void *data, size_t len);
MORVANE_EXPORT int SHA_Final(unsigned char *md, SHA_CTX *c);
MORVANE_EXPORT void SHA_Transform(SHA_CTX *c, const unsigned char *data);
MORVANE_EXPORT unsigned char *SHA(const unsigned char *d, size_t n, unsigned char *md);

/* SHA-1, as SHA-0.  SHA_Init and SHA1_Init set the same values, so either
 * family's Update and Final may follow either Init. */
MORVANE_EXPORT int SHA1_Init(SHA_CTX *c);
MORVANE_EXPORT int SHA1_Update(SHA_CTX *c, const void *data, size_t len);
MORVANE_EXPORT int SHA1_Final(unsigned char *md, SHA_CTX *c);
MORVANE_EXPORT void SHA1_Transform(SHA_CTX *c, const unsigned char *data);
MORVANE_EXPORT unsigned char *SHA1(const unsigned char *d, size_t n, unsigned char *md);

/* SHA-224 and SHA-256.  Final pads and processes the last block, leaves the
 * context finished, then writes md_len / 4 big-endian words of h (28 bytes
 * after SHA224_Init, 32 after SHA256_Init, whichever Final is called) and
 * returns 1; with md_len over 32 it writes nothing and returns 0. */
MORVANE_EXPORT int SHA224_Init(SHA256_CTX *c);
MORVANE_EXPORT int SHA224_Update(SHA256_CTX *c, const void *data, size_t len);
MORVANE_EXPORT int SHA224_Final(unsigned char *md, SHA256_CTX *c);
MORVANE_EXPORT unsigned char *SHA224(const unsigned char *d, size_t n, unsigned char *md);
MORVANE_EXPORT int SHA256_Init(SHA256_CTX *c);
MORVANE_EXPORT int SHA256_Update(SHA256_CTX *c, const void *data, size_t len);
MORVANE_EXPORT int SHA256_Final(unsigned char *md, SHA256_CTX *c);
MORVANE_EXPORT void SHA256_Transform(SHA256_CTX *c, const unsigned char *data);
MORVANE_EXPORT unsigned char *SHA256(const unsigned char *d, size_t n, unsigned char *md);

/* SHA-384 and SHA-512.  Final pads and processes the last block, then writes
 * 48 or 64 bytes by md_len and returns 1; it returns 0 and writes nothing
 * when `md` is null or md_len is neither 48 nor 64.  Final does not reset
 * num or clear the buffer: a new message needs a new Init.  Transform runs
 * the compression function on one 128-byte block; only h changes. */
MORVANE_EXPORT int SHA384_Init(SHA512_CTX *c);
MORVANE_EXPORT int SHA384_Update(SHA512_CTX *c, const void *data, size_t len);
MORVANE_EXPORT int SHA384_Final(unsigned char *md, SHA512_CTX *c);
MORVANE_EXPORT unsigned char *SHA384(const unsigned char *d, size_t n, unsigned char *md);
MORVANE_EXPORT int SHA512_Init(SHA512_CTX *c);
MORVANE_EXPORT int SHA512_Update(SHA512_CTX *c, const void *data, size_t len);
MORVANE_EXPORT int SHA512_Final(unsigned char *md, SHA512_CTX *c);
MORVANE_EXPORT void SHA512_Transform(SHA512_CTX *c, const unsigned char *data);
MORVANE_EXPORT unsigned char *SHA512(const unsigned char *d, size_t n, unsigned char *md);

MORVANE_END_DECLS

#endif /* MORVANE_SHA_H */
