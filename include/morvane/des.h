/* Morvane: DES, DESX and triple DES (FIPS 46-3, FIPS 81, SP 800-67).
 *
 * Everything here works on caller-owned memory: a key schedule is filled by a
 * set-key call and then used by any number of encryptions; it points nowhere,
 * so it may be copied or passed by value.  Only the pass-phrase readers lock
 * or queue errors (through the prompt interface), and only they and the
 * encrypted stream records allocate (the records' buffers are kept for the
 * life of the process).  Blocks travel in "word form": `data[0]` holds bytes
 * 0-3 of a block read little-endian and `data[1]` bytes 4-7, which makes the
 * block functions compute FIPS 46 DES on the bytes exactly as written.
 *
 * Modes: `enc` nonzero encrypts, zero decrypts (except DES_3cbc_encrypt, which
 * encrypts only for 1).  CFB and OFB always run the block cipher forward.  The
 * byte-wise 64-bit CFB/OFB functions keep an offset `*num` (0 to 7, 0 for a new
 * message) into the current keystream block, so a message may be fed in
 * pieces.  CBC-like modes pad a short last block with zeros on encryption and
 * so write the length rounded up to a multiple of 8; their decryption reads
 * that rounded-up length and writes only `length` bytes.  Input and output
 * may be the same buffer.
 *
 * Process-wide switches: `DES_check_key` (initially 0) makes DES_set_key and
 * DES_key_sched check parity and weak keys; `DES_rw_mode` (initially 1)
 * chooses the mode of the encrypted stream records.  Set them before threads
 * start.  The record functions also keep process-wide buffers (see there).
 *
 * Null arguments: keys, schedules, data and IVs must point to valid memory
 * (DES_cbc_cksum and DES_quad_cksum take a null output, as each says); the
 * block and mode functions check nothing, as memcpy does not. */
#ifndef MORVANE_DES_H
#define MORVANE_DES_H

#include <morvane/export.h>

MORVANE_BEGIN_DECLS

/* A 32-bit word by definition. */
typedef unsigned int DES_LONG;

/* One block or one key; each key byte carries a parity bit in its least
 * significant bit.  const_DES_cblock is the same type: a pointer to an array
 * of const bytes would not convert implicitly from DES_cblock* in C. */
typedef unsigned char DES_cblock[8];
typedef unsigned char const_DES_cblock[8];

/* Entry i holds the subkey of round i+1 in the layout the block function
 * reads: word 0 carries the 6-bit groups of S-boxes 1, 3, 5, 7 at bits 2-7,
 * 10-15, 18-23, 26-31; word 1 those of S-boxes 2, 4, 6 at bits 6-11, 14-19,
 * 22-27 and of S-box 8 at bits 30, 31, 0-3. */
typedef struct DES_ks {
  union {
    DES_cblock cblock;
    DES_LONG deslong[2];
  } ks[16];
} DES_key_schedule;

#define DES_ENCRYPT 1
#define DES_DECRYPT 0

/* Two-key triple DES: the three-key functions with the first key again. */
#define DES_ecb2_encrypt(i, o, k1, k2, e) DES_ecb3_encrypt((i), (o), (k1), (k2), (k1), (e))
#define DES_ede2_cbc_encrypt(i, o, l, k1, k2, iv, e) \
  DES_ede3_cbc_encrypt((i), (o), (l), (k1), (k2), (k1), (iv), (e))
#define DES_ede2_cfb64_encrypt(i, o, l, k1, k2, iv, n, e) \
  DES_ede3_cfb64_encrypt((i), (o), (l), (k1), (k2), (k1), (iv), (n), (e))
#define DES_ede2_ofb64_encrypt(i, o, l, k1, k2, iv, n) \
  DES_ede3_ofb64_encrypt((i), (o), (l), (k1), (k2), (k1), (iv), (n))

/* Nonzero: DES_set_key and DES_key_sched check the key (see below). */
#define DES_check_key _shadow_DES_check_key
MORVANE_EXPORT extern int _shadow_DES_check_key;

/* Bit 0 set: DES_enc_write and DES_enc_read use propagating CBC; clear: CBC. */
#define DES_rw_mode _shadow_DES_rw_mode
MORVANE_EXPORT extern int _shadow_DES_rw_mode;

/* The combined S-box and P tables of the round function: row j, index x (the
 * S-box's first input bit least significant) gives P of S-box j+1's output,
 * standard bit n of the half block at bit (n+2) mod 32. */
MORVANE_EXPORT extern const DES_LONG DES_SPtrans[8][64];

MORVANE_EXPORT extern const char QARN_DES_version[];
MORVANE_EXPORT extern const char QARN_brevik_version[];

/* "des(idx,cisc,4,long)": how the DES code was built. */
MORVANE_EXPORT const char *DES_options(void);

/* ---- block functions (data: two words, changed in place) ---------------- */

/* Word form in and out: IP, 16 rounds, FP. */
MORVANE_EXPORT void DES_encrypt1(DES_LONG *data, DES_key_schedule *ks, int enc);
/* The 16 rounds only, on the words after IP: data[0] holds the right half R,
 * data[1] the left half L, standard bit n of each at bit n-1.  Maps the IP of
 * a block to the IP of its encryption (decryption for enc 0). */
MORVANE_EXPORT void DES_encrypt2(DES_LONG *data, DES_key_schedule *ks, int enc);
/* Word form: EDE encryption (E with ks1, D with ks2, E with ks3) and its
 * inverse. */
MORVANE_EXPORT void DES_encrypt3(DES_LONG *data, DES_key_schedule *ks1, DES_key_schedule *ks2,
                                 DES_key_schedule *ks3);
MORVANE_EXPORT void DES_decrypt3(DES_LONG *data, DES_key_schedule *ks1, DES_key_schedule *ks2,
                                 DES_key_schedule *ks3);

/* One 8-byte block; input and output may be the same block. */
MORVANE_EXPORT void DES_ecb_encrypt(const_DES_cblock *input, DES_cblock *output,
                                    DES_key_schedule *ks, int enc);
MORVANE_EXPORT void DES_ecb3_encrypt(const_DES_cblock *input, DES_cblock *output,
                                     DES_key_schedule *ks1, DES_key_schedule *ks2,
                                     DES_key_schedule *ks3, int enc);

/* ---- key schedule ------------------------------------------------------- */

/* Builds the schedule; parity bits are ignored. */
MORVANE_EXPORT void DES_set_key_unchecked(const_DES_cblock *key, DES_key_schedule *schedule);
/* -1 bad parity, -2 weak or semi-weak key (schedule untouched), else 0. */
MORVANE_EXPORT int DES_set_key_checked(const_DES_cblock *key, DES_key_schedule *schedule);
/* Unchecked (returning 0) while DES_check_key is 0, else checked. */
MORVANE_EXPORT int DES_set_key(const_DES_cblock *key, DES_key_schedule *schedule);
MORVANE_EXPORT int DES_key_sched(const_DES_cblock *key, DES_key_schedule *schedule);
MORVANE_EXPORT void DES_set_odd_parity(DES_cblock *key);
/* 1 when every byte has odd parity, else 0. */
MORVANE_EXPORT int DES_check_key_parity(const_DES_cblock *key);
/* 1 for the 4 weak and 12 semi-weak keys (with odd parity), else 0. */
MORVANE_EXPORT int DES_is_weak_key(const_DES_cblock *key);
/* A random key with odd parity that is not weak: 1, or 0 when the random
 * generator fails. */
MORVANE_EXPORT int DES_random_key(DES_cblock *ret);

/* ---- single-DES modes --------------------------------------------------- */

/* CBC; ivec ends as the last ciphertext block (unchanged for length 0). */
MORVANE_EXPORT void DES_ncbc_encrypt(const unsigned char *in, unsigned char *out, long length,
                                     DES_key_schedule *_schedule, DES_cblock *ivec, int enc);
/* CBC that only reads ivec. */
MORVANE_EXPORT void DES_cbc_encrypt(const unsigned char *in, unsigned char *out, long length,
                                    DES_key_schedule *_schedule, DES_cblock *ivec, int enc);
/* Propagating CBC; only reads ivec. */
MORVANE_EXPORT void DES_pcbc_encrypt(const unsigned char *input, unsigned char *output,
                                     long length, DES_key_schedule *schedule, DES_cblock *ivec,
                                     int enc);
/* CFB with a feedback of numbits (1 to 64) bits, (numbits+7)/8 bytes a unit;
 * a remainder shorter than a unit is left alone.  With numbits 1 each bit
 * sits in the most significant bit of its byte.  Other widths do nothing. */
MORVANE_EXPORT void DES_cfb_encrypt(const unsigned char *in, unsigned char *out, int numbits,
                                    long length, DES_key_schedule *schedule, DES_cblock *ivec,
                                    int enc);
MORVANE_EXPORT void DES_cfb64_encrypt(const unsigned char *in, unsigned char *out, long length,
                                      DES_key_schedule *schedule, DES_cblock *ivec, int *num,
                                      int enc);
/* OFB with numbits (1 to 64) bits a unit; `length` counts units.  For widths
 * that are not whole bytes the unit is the low-order bits of its last byte.
 * Other widths do nothing. */
MORVANE_EXPORT void DES_ofb_encrypt(const unsigned char *in, unsigned char *out, int numbits,
                                    long length, DES_key_schedule *schedule, DES_cblock *ivec);
MORVANE_EXPORT void DES_ofb64_encrypt(const unsigned char *in, unsigned char *out, long length,
                                      DES_key_schedule *schedule, DES_cblock *ivec, int *num);
/* DESX in CBC mode: E(p ^ chain ^ inw) ^ outw. */
MORVANE_EXPORT void DES_xcbc_encrypt(const unsigned char *in, unsigned char *out, long length,
                                     DES_key_schedule *schedule, DES_cblock *ivec,
                                     const_DES_cblock *inw, const_DES_cblock *outw, int enc);

/* ---- triple-DES modes (EDE order: E ks1, D ks2, E ks3) ------------------- */

MORVANE_EXPORT void DES_ede3_cbc_encrypt(const unsigned char *input, unsigned char *output,
                                         long length, DES_key_schedule *ks1,
                                         DES_key_schedule *ks2, DES_key_schedule *ks3,
                                         DES_cblock *ivec, int enc);
/* CBC with output-feedback masking: ivec1 carries the mask register (advanced
 * with ks3), ivec2 the chaining value. */
MORVANE_EXPORT void DES_ede3_cbcm_encrypt(const unsigned char *in, unsigned char *out,
                                          long length, DES_key_schedule *ks1,
                                          DES_key_schedule *ks2, DES_key_schedule *ks3,
                                          DES_cblock *ivec1, DES_cblock *ivec2, int enc);
MORVANE_EXPORT void DES_ede3_cfb64_encrypt(const unsigned char *in, unsigned char *out,
                                           long length, DES_key_schedule *ks1,
                                           DES_key_schedule *ks2, DES_key_schedule *ks3,
                                           DES_cblock *ivec, int *num, int enc);
MORVANE_EXPORT void DES_ede3_cfb_encrypt(const unsigned char *in, unsigned char *out,
                                         int numbits, long length, DES_key_schedule *ks1,
                                         DES_key_schedule *ks2, DES_key_schedule *ks3,
                                         DES_cblock *ivec, int enc);
MORVANE_EXPORT void DES_ede3_ofb64_encrypt(const unsigned char *in, unsigned char *out,
                                           long length, DES_key_schedule *k1,
                                           DES_key_schedule *k2, DES_key_schedule *k3,
                                           DES_cblock *ivec, int *num);
/* Two-key triple DES as three single-DES CBC passes (E ks1, D ks2, E ks1 with
 * iv1 inside and iv2 outside); enc 1 encrypts, anything else decrypts.  iv1
 * ends as the last inner ciphertext block and iv2 as the last outer one; both
 * stay unchanged for a length of 0. */
MORVANE_EXPORT void DES_3cbc_encrypt(DES_cblock *input, DES_cblock *output, long length,
                                     DES_key_schedule ks1, DES_key_schedule ks2,
                                     DES_cblock *iv1, DES_cblock *iv2, int enc);

/* ---- checksums and keys from text --------------------------------------- */

/* The DES CBC-MAC (FIPS 113) of `length` bytes, the last block zero-padded,
 * chained from `ivec`.  The final block goes to `output` when it is not null
 * (it may be `ivec` itself); the result is its bytes 4-7 read big-endian.
 * Over 0 bytes the final block is `ivec`. */
MORVANE_EXPORT DES_LONG DES_cbc_cksum(const unsigned char *input, DES_cblock *output, long length,
                                      DES_key_schedule *schedule, const_DES_cblock *ivec);
/* The quadratic checksum (no DES): min(out_count, 4) passes, at least one,
 * over the input taken as little-endian 16-bit values, starting from `seed`.
 * Each pass stores its two 32-bit words in native byte order into `output`
 * (null allowed), which must then hold 8 bytes a pass.  Returns the first
 * word of the last pass. */
MORVANE_EXPORT DES_LONG DES_quad_cksum(const unsigned char *input, DES_cblock output[], long length,
                                       int out_count, DES_cblock *seed);
/* A key with odd parity from a NUL-terminated text: the text folded into 8
 * bytes, then its CBC-MAC under that key with the key as IV. */
MORVANE_EXPORT void DES_string_to_key(const char *str, DES_cblock *key);
/* Two keys the same way (equal for texts of 8 characters or fewer). */
MORVANE_EXPORT void DES_string_to_2keys(const char *str, DES_cblock *key1, DES_cblock *key2);

/* ---- keys from pass phrases --------------------------------------------- */

/* Prompts for a pass phrase of up to 1023 characters with `prompt` through
 * UI_UTIL_read_pw (the default prompt method), asking a second time when
 * `verify` is nonzero, and makes the key from it with DES_string_to_key.
 * Returns UI_UTIL_read_pw's result: 0 when a pass phrase was read, else its
 * failure value (-1, or -2 when interrupted) with the key untouched.  The
 * phrase is wiped before returning. */
MORVANE_EXPORT int DES_read_password(DES_cblock *key, const char *prompt, int verify);
/* The same with DES_string_to_2keys. */
MORVANE_EXPORT int DES_read_2passwords(DES_cblock *key1, DES_cblock *key2, const char *prompt,
                                       int verify);

/* ---- encrypted stream records ------------------------------------------- */

/* Records on a descriptor: a 4-byte big-endian plaintext length n (0 to
 * 16384), then the encryption of the plaintext (PCBC or CBC by DES_rw_mode,
 * each record from `iv` afresh; `iv` is never changed), n rounded up to a
 * multiple of 8 bytes and at least 8, a short record filled up with
 * RAND_pseudo_bytes.
 *
 * DES_enc_write sends `len` bytes as records of at most 16384 bytes and
 * returns `len`, or -1 (a negative `len`, no memory, a write error other than
 * EINTR; records already sent stay sent).
 *
 * DES_enc_read returns up to `len` plaintext bytes of the next record; what
 * does not fit is kept and returned by the next calls, which then do not read
 * `fd`.  0 at end of input, on a read error and for an empty record; -1 for a
 * negative `len`, no memory, or a header announcing more than 16384 bytes.
 *
 * Not thread-safe: the buffers and the kept bytes are shared by every caller
 * and every descriptor. */
MORVANE_EXPORT int DES_enc_write(int fd, const void *buf, int len, DES_key_schedule *sched,
                                 DES_cblock *iv);
MORVANE_EXPORT int DES_enc_read(int fd, void *buf, int len, DES_key_schedule *sched,
                                DES_cblock *iv);

/* ---- Unix crypt --------------------------------------------------------- */

/* The traditional 13-character password hash: the salt's two characters
 * ("A" for a missing one) and eleven of "./0-9A-Za-z".  Only the first 8
 * password characters count.  `ret` holds at least 14 bytes; returns ret. */
MORVANE_EXPORT char *DES_fcrypt(const char *buf, const char *salt, char *ret);
/* DES_fcrypt into a static buffer, overwritten by the next call. */
MORVANE_EXPORT char *DES_crypt(const char *buf, const char *salt);
/* 25 salted DES encryptions of the zero block; `out` in word form. */
MORVANE_EXPORT void fcrypt_body(DES_LONG *out, DES_key_schedule *ks, DES_LONG Eswap0,
                                DES_LONG Eswap1);

MORVANE_END_DECLS

#endif /* MORVANE_DES_H */
