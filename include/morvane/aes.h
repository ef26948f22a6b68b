/* Morvane: the AES block cipher (FIPS-197) and its modes.
 *
 * Keys.  AES_set_encrypt_key and AES_set_decrypt_key expand a 128-, 192- or
 * 256-bit key into an AES_KEY owned by the caller; they return 0, -1 for a null
 * argument, -2 for a bad size, and write nothing on failure.  An encryption and
 * a decryption schedule are different contents of the same type: block
 * encryption, CFB, OFB, CTR, key wrapping and IGE encryption want an encryption
 * schedule; block decryption, CBC decryption, key unwrapping and IGE
 * decryption want a decryption schedule.  A schedule may be copied and shared
 * read-only between threads.
 *
 * Modes.  Plain functions over caller-owned buffers.  The chaining state (IV,
 * position `num`, counter and keystream block) lives in the caller's buffers
 * and is updated on return, so a message may be processed in pieces of any
 * size (whole blocks for ECB, CBC and IGE) with the same result as one call.
 * `num` is 0 at the start of a message.  `in` and `out` may be the same buffer
 * in every mode; partly overlapping buffers are not supported.  CBC, ECB and
 * IGE encrypt only when `enc` is AES_ENCRYPT (1); the CFB functions encrypt on
 * any non-zero `enc`.  Nothing here allocates, locks or queues errors.
 *
 * Null arguments: keys, data, IVs and offsets must point to valid memory of
 * the sizes stated; AES_set_encrypt_key and AES_set_decrypt_key refuse a null
 * key or schedule with -1, the other functions check nothing, as memcpy does. */
#ifndef MORVANE_AES_H
#define MORVANE_AES_H

#include <stddef.h>

#include <morvane/export.h>

#define AES_ENCRYPT 1
#define AES_DECRYPT 0
#define AES_MAXNR 14
#define AES_BLOCK_SIZE 16

MORVANE_BEGIN_DECLS

/* Round keys, four words a round, each word holding four schedule bytes with
 * the first in the most significant position; 4 * (rounds + 1) words used. */
struct aes_key_st {
  unsigned int rd_key[4 * (AES_MAXNR + 1)];
  int rounds; /* 10, 12 or 14 */
};
typedef struct aes_key_st AES_KEY;

/* "AES part of Morvane 0.9.8o 01 Jun 2010" */
MORVANE_EXPORT extern const char AES_version[];

/* "aes(partial)": table-driven rounds, two per loop pass. */
MORVANE_EXPORT const char *AES_options(void);

/* Expands `bits` / 8 bytes at `userKey` (bits 128, 192 or 256). */
MORVANE_EXPORT int AES_set_encrypt_key(const unsigned char *userKey, const int bits,
                                       AES_KEY *key);
MORVANE_EXPORT int AES_set_decrypt_key(const unsigned char *userKey, const int bits,
                                       AES_KEY *key);

/* One 16-byte block; `in` may equal `out`. */
MORVANE_EXPORT void AES_encrypt(const unsigned char *in, unsigned char *out, const AES_KEY *key);
MORVANE_EXPORT void AES_decrypt(const unsigned char *in, unsigned char *out, const AES_KEY *key);
/* One block: AES_encrypt when `enc` is AES_ENCRYPT, AES_decrypt otherwise. */
MORVANE_EXPORT void AES_ecb_encrypt(const unsigned char *in, unsigned char *out,
                                    const AES_KEY *key, const int enc);

/* CBC over `length` bytes; `ivec` (16 bytes) ends as the last ciphertext
 * block.  A short last block is encrypted padded with zero bytes and written
 * whole (`out` needs `length` rounded up to 16); decrypting a short last block
 * reads the whole 16-byte ciphertext block and writes `length` bytes. */
MORVANE_EXPORT void AES_cbc_encrypt(const unsigned char *in, unsigned char *out, size_t length,
                                    const AES_KEY *key, unsigned char *ivec, const int enc);

/* CFB with 128-bit feedback over `length` bytes; `*num` is 0 to 15. */
MORVANE_EXPORT void AES_cfb128_encrypt(const unsigned char *in, unsigned char *out,
                                       size_t length, const AES_KEY *key, unsigned char *ivec,
                                       int *num, const int enc);
/* CFB with 1-bit feedback over `length` bits, most significant bit of each
 * byte first; bits of the last output byte past `length` are left alone.
 * `num` is not used. */
MORVANE_EXPORT void AES_cfb1_encrypt(const unsigned char *in, unsigned char *out, size_t length,
                                     const AES_KEY *key, unsigned char *ivec, int *num,
                                     const int enc);
/* CFB with 8-bit feedback over `length` bytes; `num` is not used. */
MORVANE_EXPORT void AES_cfb8_encrypt(const unsigned char *in, unsigned char *out, size_t length,
                                     const AES_KEY *key, unsigned char *ivec, int *num,
                                     const int enc);
/* One CFB step of `nbits` (1 to 128; otherwise nothing happens): writes
 * ceil(nbits / 8) bytes and shifts the ciphertext bits into `ivec`. */
MORVANE_EXPORT void AES_cfbr_encrypt_block(const unsigned char *in, unsigned char *out,
                                           const int nbits, const AES_KEY *key,
                                           unsigned char *ivec, const int enc);

/* OFB over `length` bytes; the same call encrypts and decrypts.  `ivec`
 * holds the keystream block in use, `*num` (0 to 15) the place within it. */
MORVANE_EXPORT void AES_ofb128_encrypt(const unsigned char *in, unsigned char *out,
                                       size_t length, const AES_KEY *key, unsigned char *ivec,
                                       int *num);

/* CTR over `length` bytes with a 128-bit big-endian counter in `ivec` (the
 * counter of the next keystream block); `ecount_buf` holds the keystream
 * block in use and `*num` (0 to 15) the place within it.  `ecount_buf` need
 * not be initialised while `*num` is 0. */
MORVANE_EXPORT void AES_ctr128_encrypt(const unsigned char *in, unsigned char *out,
                                       size_t length, const AES_KEY *key,
                                       unsigned char ivec[AES_BLOCK_SIZE],
                                       unsigned char ecount_buf[AES_BLOCK_SIZE],
                                       unsigned int *num);

/* IGE over `length` bytes, a multiple of 16.  `ivec` is 32 bytes: the
 * previous ciphertext block, then the previous plaintext block; updated on
 * return.  A null pointer, an `enc` other than AES_ENCRYPT or AES_DECRYPT, or
 * a length that is not a whole number of blocks ends the process through
 * MorvaneDie. */
MORVANE_EXPORT void AES_ige_encrypt(const unsigned char *in, unsigned char *out, size_t length,
                                    const AES_KEY *key, unsigned char *ivec, const int enc);
/* Bidirectional IGE: a forward IGE pass (`ivec` bytes 0-31) and a backward
 * one (bytes 32-63), so that every output block depends on the whole message.
 * `ivec` is not updated.  Both passes run with `key`; `key2` is not read.
 * Same preconditions as AES_ige_encrypt. */
MORVANE_EXPORT void AES_bi_ige_encrypt(const unsigned char *in, unsigned char *out,
                                       size_t length, const AES_KEY *key, const AES_KEY *key2,
                                       const unsigned char *ivec, const int enc);

/* RFC 3394 key wrap of `inlen` bytes (a multiple of 8, at least 16) into
 * `inlen` + 8 bytes, under an encryption schedule; `iv` is 8 bytes or null
 * for the default A6A6A6A6A6A6A6A6.  Returns `inlen` + 8, or -1 for a bad
 * length. */
MORVANE_EXPORT int AES_wrap_key(const AES_KEY *key, const unsigned char *iv, unsigned char *out,
                                const unsigned char *in, unsigned int inlen);
/* Unwraps `inlen` bytes (a multiple of 8, at least 24) into `inlen` - 8 bytes
 * under a decryption schedule.  Returns `inlen` - 8; 0 when the integrity
 * check fails (the output is wiped); -1 for a bad length. */
MORVANE_EXPORT int AES_unwrap_key(const AES_KEY *key, const unsigned char *iv,
                                  unsigned char *out, const unsigned char *in,
                                  unsigned int inlen);

MORVANE_END_DECLS

#endif /* MORVANE_AES_H */
