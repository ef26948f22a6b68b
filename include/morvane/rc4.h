/* Morvane: the RC4 stream cipher.
 *
 * An RC4_KEY is the whole running state: a permutation of 0..255 and two
 * indices.  RC4_set_key initialises it from a key; each RC4 call XORs the next
 * keystream bytes into its input and advances the state, so successive calls
 * continue one keystream and a message may be processed in pieces of any size.
 * Encryption and decryption are the same call.  The caller owns the state;
 * nothing is allocated, locked or reported.
 *
 * Null arguments: the state, key and data must point to valid memory;
 * nothing here checks them, as memcpy does not. */
#ifndef MORVANE_RC4_H
#define MORVANE_RC4_H

#include <morvane/export.h>

MORVANE_BEGIN_DECLS

typedef unsigned int RC4_INT;

typedef struct rc4_key_st {
  RC4_INT x, y;      /* the generator's indices i and j, 0..255 */
  RC4_INT data[256]; /* the permutation S */
} RC4_KEY;

MORVANE_EXPORT extern const char RC4_version[];

/* "rc4(ptr,int)": the stream function's indexing style and int-sized entries. */
MORVANE_EXPORT const char* RC4_options(void);

/* Initialises `key` from `len` bytes at `data`; only the first 256 bytes can
 * matter.  A `len` of 0 or less reads nothing and gives the state of the
 * one-byte key 0x00. */
MORVANE_EXPORT void RC4_set_key(RC4_KEY* key, int len, const unsigned char* data);

/* XORs `len` keystream bytes into `indata` and writes them to `outdata` (may
 * be the same buffer). */
MORVANE_EXPORT void RC4(RC4_KEY* key, unsigned long len, const unsigned char* indata,
                        unsigned char* outdata);

MORVANE_END_DECLS

#endif /* MORVANE_RC4_H */
