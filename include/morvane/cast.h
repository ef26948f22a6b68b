/* Morvane: the CAST-128 block cipher of RFC 2144 (CAST5: 64-bit blocks, keys
 * of 40 to 128 bits; 12 rounds for keys of 80 bits or less, 16 otherwise).
 *
 * The caller owns the key schedule and every buffer; nothing is allocated,
 * locked or reported.  CAST_set_key fills one schedule that serves both
 * directions.  The block functions work in place on two 32-bit words, left half
 * first; every entry point that takes bytes reads each half big-endian.  The
 * byte-wise modes (CBC, 64-bit CFB, 64-bit OFB) keep their chaining state in
 * the caller's `ivec` and, for CFB and OFB, the offset 0..7 at `num` (0 on the
 * first call).  Direction arguments encrypt on any non-zero value.  A length of
 * 0 or less, or an offset outside 0..7, makes a mode call do nothing.
 *
 * Null arguments: keys, schedules, data, IVs and offsets must point to valid
 * memory; nothing here checks them, as memcpy does not. */
#ifndef MORVANE_CAST_H
#define MORVANE_CAST_H

#include <morvane/export.h>

MORVANE_BEGIN_DECLS

#define CAST_ENCRYPT 1
#define CAST_DECRYPT 0
#define CAST_BLOCK 8
#define CAST_KEY_LENGTH 16

typedef unsigned int CAST_LONG;

typedef struct cast_key_st {
  /* Round i (1..16): word 2(i-1) is the masking subkey, word 2(i-1)+1 the
   * rotation subkey plus 16, mod 32. */
  CAST_LONG data[32];
  int short_key; /* 1 when the key had 10 bytes or fewer: 12 rounds */
} CAST_KEY;

/* The S-boxes S1 to S8 of RFC 2144, Appendix A. */
MORVANE_EXPORT extern const CAST_LONG CAST_S_table0[256];
MORVANE_EXPORT extern const CAST_LONG CAST_S_table1[256];
MORVANE_EXPORT extern const CAST_LONG CAST_S_table2[256];
MORVANE_EXPORT extern const CAST_LONG CAST_S_table3[256];
MORVANE_EXPORT extern const CAST_LONG CAST_S_table4[256];
MORVANE_EXPORT extern const CAST_LONG CAST_S_table5[256];
MORVANE_EXPORT extern const CAST_LONG CAST_S_table6[256];
MORVANE_EXPORT extern const CAST_LONG CAST_S_table7[256];

MORVANE_EXPORT extern const char CAST_version[];

/* Builds `key` from `len` bytes at `data`: bytes past the 16th are ignored and
 * shorter keys are padded with zero bytes.  A `len` of 0 or less reads nothing
 * and gives the all-zero key with `short_key` 1. */
MORVANE_EXPORT void CAST_set_key(CAST_KEY* key, int len, const unsigned char* data);

/* One block, two words left half first, in place. */
MORVANE_EXPORT void CAST_encrypt(CAST_LONG* data, const CAST_KEY* key);
MORVANE_EXPORT void CAST_decrypt(CAST_LONG* data, const CAST_KEY* key);

/* One 8-byte block from `in` to `out` (may be the same). */
MORVANE_EXPORT void CAST_ecb_encrypt(const unsigned char* in, unsigned char* out,
                                     const CAST_KEY* ks, int enc);
/* CBC over `length` bytes; a short last block is zero-padded when encrypting
 * (`out` needs `length` rounded up to 8) and written short when decrypting.
 * `iv` ends as the last ciphertext block. */
MORVANE_EXPORT void CAST_cbc_encrypt(const unsigned char* in, unsigned char* out, long length,
                                     const CAST_KEY* ks, unsigned char* iv, int enc);
/* 64-bit CFB, byte by byte. */
MORVANE_EXPORT void CAST_cfb64_encrypt(const unsigned char* in, unsigned char* out, long length,
                                       const CAST_KEY* schedule, unsigned char* ivec, int* num,
                                       int enc);
/* 64-bit OFB, byte by byte; the same call encrypts and decrypts. */
MORVANE_EXPORT void CAST_ofb64_encrypt(const unsigned char* in, unsigned char* out, long length,
                                       const CAST_KEY* schedule, unsigned char* ivec, int* num);

MORVANE_END_DECLS

#endif /* MORVANE_CAST_H */
