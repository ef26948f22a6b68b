/* Morvane: the IDEA block cipher (64-bit blocks, 128-bit keys, 8 rounds and an
 * output transformation over 16-bit words).
 *
 * IDEA has one block function for both directions: the schedule passed picks
 * the direction.  idea_set_encrypt_key builds an encryption schedule and
 * idea_set_decrypt_key derives the matching decryption schedule from it; both
 * have the same type, and the caller keeps one of each when it needs both
 * directions.  A block is two 32-bit words, each holding two 16-bit IDEA words
 * (the first in the upper half); entry points that take bytes read each word
 * big-endian.  The caller owns schedules and buffers; nothing is allocated,
 * locked or reported.  CBC needs the schedule matching its direction; CFB and
 * OFB always take the encryption schedule.  A mode length of 0 or less, or a
 * CFB/OFB offset outside 0..7, makes the call do nothing.
 *
 * Null arguments: keys, schedules, data, IVs and offsets must point to valid
 * memory; nothing here checks them, as memcpy does not. */
#ifndef MORVANE_IDEA_H
#define MORVANE_IDEA_H

#include <morvane/export.h>

MORVANE_BEGIN_DECLS

#define IDEA_ENCRYPT 1
#define IDEA_DECRYPT 0
#define IDEA_BLOCK 8
#define IDEA_KEY_LENGTH 16

typedef unsigned int IDEA_INT;

typedef struct idea_key_st {
  /* Row r (0..7): the six subkeys of round r+1 in order of use; row 8: the four
   * subkeys of the output transformation in its first places. */
  IDEA_INT data[9][6];
} IDEA_KEY_SCHEDULE;

MORVANE_EXPORT extern const char IDEA_version[];

/* "idea(int)": subkeys and words are held in ints. */
MORVANE_EXPORT const char* idea_options(void);

/* Builds an encryption schedule from the 16 bytes at `key`. */
MORVANE_EXPORT void idea_set_encrypt_key(const unsigned char* key, IDEA_KEY_SCHEDULE* ks);
/* Derives the decryption schedule `dk` from the encryption schedule `ek` (the
 * two may be the same record). */
MORVANE_EXPORT void idea_set_decrypt_key(const IDEA_KEY_SCHEDULE* ek, IDEA_KEY_SCHEDULE* dk);

/* One block in place: encrypts with an encryption schedule, decrypts with a
 * decryption schedule. */
MORVANE_EXPORT void idea_encrypt(unsigned int* d, const IDEA_KEY_SCHEDULE* key);
/* One 8-byte block from `in` to `out` (may be the same) through idea_encrypt. */
MORVANE_EXPORT void idea_ecb_encrypt(const unsigned char* in, unsigned char* out,
                                     const IDEA_KEY_SCHEDULE* ks);
/* CBC over `length` bytes; `enc` non-zero chains for encryption (give the
 * encryption schedule), zero for decryption (give the decryption schedule).  A
 * short last block is zero-padded when encrypting and written short when
 * decrypting; `iv` ends as the last ciphertext block. */
MORVANE_EXPORT void idea_cbc_encrypt(const unsigned char* in, unsigned char* out, long length,
                                     const IDEA_KEY_SCHEDULE* ks, unsigned char* iv, int enc);
/* 64-bit CFB, byte by byte, with the encryption schedule in both directions. */
MORVANE_EXPORT void idea_cfb64_encrypt(const unsigned char* in, unsigned char* out, long length,
                                       const IDEA_KEY_SCHEDULE* ks, unsigned char* iv, int* num,
                                       int enc);
/* 64-bit OFB, byte by byte, with the encryption schedule. */
MORVANE_EXPORT void idea_ofb64_encrypt(const unsigned char* in, unsigned char* out, long length,
                                       const IDEA_KEY_SCHEDULE* ks, unsigned char* iv, int* num);

MORVANE_END_DECLS

#endif /* MORVANE_IDEA_H */
