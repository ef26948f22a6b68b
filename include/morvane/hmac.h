/* Morvane: HMAC (RFC 2104) over any digest description.
 *
 * The caller owns the HMAC_CTX (on the stack or embedded), sets it up with
 * HMAC_CTX_init and releases it with HMAC_CTX_cleanup, which wipes the key
 * and the digest states.  HMAC_Init_ex keys the context with a digest
 * description; HMAC_Update absorbs the message in any number of calls and
 * HMAC_Final writes the MAC (the digest's size).  HMAC_Init_ex(ctx, NULL, 0,
 * NULL, NULL) restarts a MAC with the same key and digest without digesting
 * the pads again.  A context belongs to one thread at a time and is never
 * copied as a struct (its digest contexts own private data).
 *
 * Results: HMAC_Init, HMAC_Init_ex, HMAC_Update and HMAC_Final return 1, or
 * 0 when a digest step fails (its error is queued by the envelope); a caller
 * that ignores the result loses nothing.  HMAC() returns the MAC's address or
 * null when a step failed.  No lock is taken; HMAC() with a null output
 * writes to one static buffer shared by every caller.
 *
 * Null arguments: the context must be valid for every call but
 * HMAC_CTX_cleanup, which accepts null.  A null key keeps the context's key
 * and a null digest its digest; a context that has neither fails with "no
 * digest set".  A negative key length fails with "invalid key length".  Data
 * pointers must be valid for their lengths; HMAC_Final's and HMAC()'s
 * length pointers may be null. */
#ifndef MORVANE_HMAC_H
#define MORVANE_HMAC_H

#include <stddef.h>

#include <morvane/evp.h>
#include <morvane/export.h>
#include <morvane/types.h>

MORVANE_BEGIN_DECLS

/* The largest digest block a description may have (the pads' length). */
#define HMAC_MAX_MD_CBLOCK 128

typedef struct hmac_ctx_st {
  const EVP_MD *md;       /* the digest, or null before the first keying */
  EVP_MD_CTX md_ctx;      /* the running inner or outer digest */
  EVP_MD_CTX i_ctx;       /* the digest after the inner pad */
  EVP_MD_CTX o_ctx;       /* the digest after the outer pad */
  unsigned int key_length;
  unsigned char key[HMAC_MAX_MD_CBLOCK]; /* the key, or its digest, zero-filled */
} HMAC_CTX;

#define HMAC_size(e) (EVP_MD_size((e)->md))

/* Makes the context empty (its three digest contexts too). */
MORVANE_EXPORT void HMAC_CTX_init(HMAC_CTX *ctx);
/* Cleans the three digest contexts and zeroes the whole context, key
 * included. */
MORVANE_EXPORT void HMAC_CTX_cleanup(HMAC_CTX *ctx);
#define HMAC_cleanup(ctx) HMAC_CTX_cleanup(ctx)
/* Sets `flags` (EVP_MD_CTX_FLAG_*) on the three digest contexts. */
MORVANE_EXPORT void HMAC_CTX_set_flags(HMAC_CTX *ctx, unsigned long flags);

/* Starts a MAC.  A given `md` becomes the context's digest; a given `key`
 * (len bytes; a key longer than the digest's block is replaced by its digest,
 * computed through `impl`) becomes its key; either rebuilds the pads.  Then
 * the running digest restarts from the inner pad.  1 or 0. */
MORVANE_EXPORT int HMAC_Init_ex(HMAC_CTX *ctx, const void *key, int len, const EVP_MD *md,
                                ENGINE *impl);
/* With both `key` and `md` given, first HMAC_CTX_init (the context must hold
 * nothing); then HMAC_Init_ex without an engine. */
MORVANE_EXPORT int HMAC_Init(HMAC_CTX *ctx, const void *key, int len, const EVP_MD *md);
/* Absorbs `len` bytes of the message. */
MORVANE_EXPORT int HMAC_Update(HMAC_CTX *ctx, const unsigned char *data, size_t len);
/* Writes the MAC to `md` (EVP_MAX_MD_SIZE room is always enough) and its
 * length to *len when `len` is not null; a restart may follow. */
MORVANE_EXPORT int HMAC_Final(HMAC_CTX *ctx, unsigned char *md, unsigned int *len);
/* The MAC of the n bytes at d under `key` (key_len bytes) with `evp_md`, on
 * a context of its own, into `md` or, when `md` is null, a static buffer of
 * 64 bytes that the next such call overwrites; its length in *md_len when
 * given.  Null when a digest step fails. */
MORVANE_EXPORT unsigned char *HMAC(const EVP_MD *evp_md, const void *key, int key_len,
                                   const unsigned char *d, size_t n, unsigned char *md,
                                   unsigned int *md_len);

MORVANE_END_DECLS

#endif /* MORVANE_HMAC_H */
