/* Morvane: the RC2 block cipher of RFC 2268 (64-bit blocks, keys of 1 to 128
 * bytes, an effective key length of 1 to 1024 bits).
 *
 * The caller owns the key schedule and every buffer; nothing is allocated,
 * locked or reported.  RC2_set_key fills one schedule that serves both
 * directions.  A block is two 32-bit words: word 0 holds R0 in its low and R1
 * in its high 16 bits, word 1 holds R2 and R3.  Every entry point that takes
 * bytes reads each word little-endian, as RFC 2268 orders the bytes.  The
 * byte-wise modes (CBC, 64-bit CFB, 64-bit OFB) keep their chaining state in
 * the caller's `ivec` and, for CFB and OFB, the offset 0..7 at `num` (0 on the
 * first call).  Direction arguments encrypt on any non-zero value.  A length of
 * 0 or less, or an offset outside 0..7, makes a mode call do nothing.
 *
 * Null arguments: keys, schedules, data, IVs and offsets must point to valid
 * memory; nothing here checks them, as memcpy does not. */
#ifndef MORVANE_RC2_H
#define MORVANE_RC2_H

#include <morvane/export.h>

MORVANE_BEGIN_DECLS

#define RC2_ENCRYPT 1
#define RC2_DECRYPT 0
#define RC2_BLOCK 8
#define RC2_KEY_LENGTH 16

typedef unsigned int RC2_INT;

typedef struct rc2_key_st {
  RC2_INT data[64]; /* the expanded key K[0..63], 16 bits each */
} RC2_KEY;

MORVANE_EXPORT extern const char RC2_version[];

/* Builds `key` from `len` bytes at `data` with an effective key length of
 * `bits` bits.  Bytes past the 128th are ignored; `bits` of 0 or less, or over
 * 1024, means 1024.  A `len` of 0 or less reads nothing and gives the schedule
 * of the one-byte key 0x00. */
MORVANE_EXPORT void RC2_set_key(RC2_KEY* key, int len, const unsigned char* data, int bits);

/* One block in word form, in place. */
MORVANE_EXPORT void RC2_encrypt(unsigned int* d, const RC2_KEY* key);
MORVANE_EXPORT void RC2_decrypt(unsigned int* d, const RC2_KEY* key);

/* One 8-byte block from `in` to `out` (may be the same). */
MORVANE_EXPORT void RC2_ecb_encrypt(const unsigned char* in, unsigned char* out, const RC2_KEY* key,
                                    int enc);
/* CBC over `length` bytes; a short last block is zero-padded when encrypting
 * (`out` needs `length` rounded up to 8) and written short when decrypting.
 * `iv` ends as the last ciphertext block. */
MORVANE_EXPORT void RC2_cbc_encrypt(const unsigned char* in, unsigned char* out, long length,
                                    const RC2_KEY* ks, unsigned char* iv, int enc);
/* 64-bit CFB, byte by byte. */
MORVANE_EXPORT void RC2_cfb64_encrypt(const unsigned char* in, unsigned char* out, long length,
                                      const RC2_KEY* schedule, unsigned char* ivec, int* num,
                                      int enc);
/* 64-bit OFB, byte by byte; the same call encrypts and decrypts. */
MORVANE_EXPORT void RC2_ofb64_encrypt(const unsigned char* in, unsigned char* out, long length,
                                      const RC2_KEY* schedule, unsigned char* ivec, int* num);

MORVANE_END_DECLS

#endif /* MORVANE_RC2_H */
