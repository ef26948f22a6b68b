/* Morvane: the Blowfish block cipher (64-bit blocks, 16 rounds, keys of 1 to
 * 72 bytes).
 *
 * The caller owns the key schedule and every buffer; nothing is allocated,
 * locked or reported.  BF_set_key fills one schedule that serves both
 * directions.  The block functions work in place on a block held as two 32-bit
 * words, left half first; every entry point that takes bytes reads each half
 * big-endian.  The byte-wise modes (CBC, 64-bit CFB, 64-bit OFB) keep their
 * chaining state in the caller's `ivec` and, for CFB and OFB, the offset 0..7
 * at `num` (0 on the first call), so a message may be processed in pieces.
 * Direction arguments encrypt on any non-zero value.  A length of 0 or less,
 * or an offset outside 0..7, makes a mode call do nothing.
 *
 * Null arguments: keys, schedules, data, IVs and offsets must point to valid
 * memory; nothing here checks them, as memcpy does not. */
#ifndef MORVANE_BLOWFISH_H
#define MORVANE_BLOWFISH_H

#include <morvane/export.h>

MORVANE_BEGIN_DECLS

#define BF_ENCRYPT 1
#define BF_DECRYPT 0
#define BF_ROUNDS 16
#define BF_BLOCK 8

typedef unsigned int BF_LONG;

typedef struct bf_key_st {
  BF_LONG P[BF_ROUNDS + 2]; /* subkeys P[0] to P[17] */
  BF_LONG S[4 * 256];       /* S-box k in words 256k to 256k+255 */
} BF_KEY;

MORVANE_EXPORT extern const char BF_version[];

/* Builds `key` from `len` bytes at `data`; bytes past the 72nd are ignored.  A
 * `len` of 0 or less reads nothing and gives the schedule of the one-byte key
 * 0x00. */
MORVANE_EXPORT void BF_set_key(BF_KEY* key, int len, const unsigned char* data);

/* One block, two words left half first, in place. */
MORVANE_EXPORT void BF_encrypt(BF_LONG* data, const BF_KEY* key);
MORVANE_EXPORT void BF_decrypt(BF_LONG* data, const BF_KEY* key);

/* One 8-byte block from `in` to `out` (may be the same). */
MORVANE_EXPORT void BF_ecb_encrypt(const unsigned char* in, unsigned char* out, const BF_KEY* key,
                                   int enc);
/* CBC over `length` bytes.  Encrypting a short last block zero-pads it and
 * writes a whole block (`out` needs `length` rounded up to 8); decrypting
 * reads a whole block and writes only the remaining bytes.  `ivec` ends as the
 * last ciphertext block. */
MORVANE_EXPORT void BF_cbc_encrypt(const unsigned char* in, unsigned char* out, long length,
                                   const BF_KEY* schedule, unsigned char* ivec, int enc);
/* 64-bit CFB, byte by byte. */
MORVANE_EXPORT void BF_cfb64_encrypt(const unsigned char* in, unsigned char* out, long length,
                                     const BF_KEY* schedule, unsigned char* ivec, int* num,
                                     int enc);
/* 64-bit OFB, byte by byte; the same call encrypts and decrypts. */
MORVANE_EXPORT void BF_ofb64_encrypt(const unsigned char* in, unsigned char* out, long length,
                                     const BF_KEY* schedule, unsigned char* ivec, int* num);

/* "blowfish(idx)": the S-boxes are addressed by index. */
MORVANE_EXPORT const char* BF_options(void);

MORVANE_END_DECLS

#endif /* MORVANE_BLOWFISH_H */
