/* Morvane: the envelope interface.
 *
 * One interface over every digest and cipher, over signing, verification,
 * sealing and opening, and over password-based encryption.  Failing calls
 * queue errors of library 6 (ERR_LIB_EVP).
 *
 * Digests.  An EVP_MD is a constant description of one digest (its numbers
 * and the functions that run it); the built-in ones come from EVP_md5() and
 * the like and are never freed.  An EVP_MD_CTX is a running digest, owned by
 * the caller (on the stack after EVP_MD_CTX_init, or from EVP_MD_CTX_create);
 * it holds the description, the engine that supplied it (a counted reference)
 * and the description's private data (ctx_size bytes on the heap).  The
 * pattern is EVP_DigestInit_ex, any number of EVP_DigestUpdate calls, then
 * EVP_DigestFinal_ex, which zeroes the private data and leaves the context
 * ready for another EVP_DigestInit_ex (same description: no new allocation).
 * A running context is duplicated with EVP_MD_CTX_copy_ex, never by copying
 * the struct.  EVP_MD_CTX_cleanup wipes and frees the private data, releases
 * the engine and empties the context.  Calls return 1 on success and 0 on
 * failure, except Update and Final, which pass on the description's result.
 * A context belongs to one thread at a time; descriptions are shared freely.
 *
 * A description that an engine or application supplies must keep md_size at
 * most EVP_MAX_MD_SIZE (64) and block_size at most 128: Final ends the process
 * (MorvaneDie) on a larger md_size rather than overrun the caller's buffer.
 *
 * Ciphers.  An EVP_CIPHER is a constant description of one cipher and mode;
 * an EVP_CIPHER_CTX a running cipher owned by the caller, set up with
 * EVP_CipherInit_ex, fed with Update calls and finished with Final (PKCS #5
 * padding unless switched off), then set up again or cleaned.  Update output
 * may be the input itself, or lag behind it in the same buffer; an output
 * that starts inside the input ahead of it is refused with "output ahead of
 * the input it overlaps", and an update whose count would pass INT_MAX with
 * "output count too large", both before anything is written.
 *
 * Null arguments.  A null context, digest or cipher, is refused: the calls
 * that can fail queue "passed a null parameter" and return their failure
 * value, the accessors answer 0 or null, and the void setters, _init and
 * _free do nothing (_cleanup returns 1).  A cipher context without a
 * description is refused by the data, control and parameter calls with "no
 * cipher set", and the Update and Final calls refuse a null count pointer.
 * Data pointers (in, out, md, key, iv where a key or IV is to be read) must
 * be valid for the lengths given; EVP_DigestFinal_ex's size and the key and
 * IV of the Init calls may be null as each says.  The base64 functions queue
 * no errors at all: for a null context the Init calls do nothing, the
 * encoder's Update and Final write nothing (count 0), and the decoder's
 * Update and Final give -1 (count 0); their count pointer must be valid. */
#ifndef MORVANE_EVP_H
#define MORVANE_EVP_H

#include <stddef.h>

#include <morvane/export.h>
#include <morvane/types.h>

MORVANE_BEGIN_DECLS

/* ---- digest descriptions ------------------------------------------------ */

#define EVP_MAX_MD_SIZE 64 /* the largest md_size of any description */

/* Description flags.  EVP_MD_FLAG_SVCTX: the sign and verify functions
 * finish the running digest themselves (they are passed the context); no
 * built-in description sets it.  0x400 is carried by EVP_dss() alone and is
 * tested by no operation. */
#define EVP_MD_FLAG_FIPS 0x0400
#define EVP_MD_FLAG_SVCTX 0x0800

struct env_md_st {
  int type;      /* NID of the digest */
  int pkey_type; /* NID of the signature algorithm that pairs it with a key */
  int md_size;   /* digest length in bytes, at most EVP_MAX_MD_SIZE */
  unsigned long flags;
  /* The three steps; EVP_DigestInit_ex refuses a description without one
   * ("operation not supported by the description"). */
  int (*init)(EVP_MD_CTX *ctx);
  int (*update)(EVP_MD_CTX *ctx, const void *data, size_t count);
  int (*final)(EVP_MD_CTX *ctx, unsigned char *md);
  /* Optional step after the private data was copied; null when built in. */
  int (*copy)(EVP_MD_CTX *to, const EVP_MD_CTX *from);
  /* Optional; null when built in. */
  int (*cleanup)(EVP_MD_CTX *ctx);
  /* Signing and verification with a key of one of required_pkey_type. */
  int (*sign)(int type, const unsigned char *m, unsigned int m_length, unsigned char *sigret,
              unsigned int *siglen, void *key);
  int (*verify)(int type, const unsigned char *m, unsigned int m_length,
                const unsigned char *sigbuf, unsigned int siglen, void *key);
  int required_pkey_type[5]; /* key types it signs with, ended by 0 */
  int block_size;            /* compression input block in bytes (HMAC pads to it) */
  int ctx_size;              /* bytes of private data a context allocates */
};

/* Context flags.  Bit 1 is set by EVP_Digest on its own context: the whole
 * input comes in one update (a hint for engine descriptions; the built-in
 * ones do not read it).  Bit 2: the description's cleanup has run (set by
 * Final, cleared by every initialisation).  Bit 4: the private data belongs to
 * a copy target that keeps its buffer, so cleanup leaves it.  Bit 8 is set by
 * the certificate name hashing on its context; no operation here tests it.
 * Other parts of the library's documentation call bit 8, not bit 1,
 * "one-shot"; the values here are the ones the code sets, and no operation
 * tests either bit. */
#define EVP_MD_CTX_FLAG_ONESHOT 0x0001
#define EVP_MD_CTX_FLAG_CLEANED 0x0002
#define EVP_MD_CTX_FLAG_REUSE 0x0004
#define EVP_MD_CTX_FLAG_NAME_HASH 0x0008

struct env_md_ctx_st {
  const EVP_MD *digest; /* null before the first initialisation */
  ENGINE *engine;       /* engine of the description (one reference), or null */
  unsigned long flags;
  void *md_data; /* ctx_size bytes of private data, or null */
};

/* The built-in descriptions (static; never freed).  Each uses the digest's
 * own Init/Update/Final on its own context structure:
 *   EVP_md2 (MD2, RFC 1319), EVP_md4 (MD4, RFC 1320), EVP_md5 (MD5, RFC 1321),
 *   EVP_sha (SHA-0), EVP_sha1, EVP_sha224, EVP_sha256, EVP_sha384,
 *   EVP_sha512 (FIPS 180), EVP_ripemd160, all signing with RSA keys;
 *   EVP_dss and EVP_dss1 (SHA-1 with DSA keys; EVP_dss is the old DSA-SHA
 *   pairing), EVP_ecdsa (SHA-1 with EC keys), and EVP_md_null, whose digest is
 *   empty and whose every step succeeds. */
MORVANE_EXPORT const EVP_MD *EVP_md_null(void);
MORVANE_EXPORT const EVP_MD *EVP_md2(void);
MORVANE_EXPORT const EVP_MD *EVP_md4(void);
MORVANE_EXPORT const EVP_MD *EVP_md5(void);
MORVANE_EXPORT const EVP_MD *EVP_sha(void);
MORVANE_EXPORT const EVP_MD *EVP_sha1(void);
MORVANE_EXPORT const EVP_MD *EVP_dss(void);
MORVANE_EXPORT const EVP_MD *EVP_dss1(void);
MORVANE_EXPORT const EVP_MD *EVP_ecdsa(void);
MORVANE_EXPORT const EVP_MD *EVP_sha224(void);
MORVANE_EXPORT const EVP_MD *EVP_sha256(void);
MORVANE_EXPORT const EVP_MD *EVP_sha384(void);
MORVANE_EXPORT const EVP_MD *EVP_sha512(void);
MORVANE_EXPORT const EVP_MD *EVP_ripemd160(void);

/* The description's type, pkey_type, md_size and block_size (0 for null). */
MORVANE_EXPORT int EVP_MD_type(const EVP_MD *md);
MORVANE_EXPORT int EVP_MD_pkey_type(const EVP_MD *md);
MORVANE_EXPORT int EVP_MD_size(const EVP_MD *md);
MORVANE_EXPORT int EVP_MD_block_size(const EVP_MD *md);

/* ---- running digests ---------------------------------------------------- */

/* Zeroes the context (it must hold no private data).  Here and below, a null
 * context is refused (with an error where the call can fail) and a context
 * whose private data could not be allocated counts as empty. */
MORVANE_EXPORT void EVP_MD_CTX_init(EVP_MD_CTX *ctx);
/* A new zeroed context on the heap; null when memory runs out (nothing is
 * queued). */
MORVANE_EXPORT EVP_MD_CTX *EVP_MD_CTX_create(void);
/* EVP_MD_CTX_cleanup, then frees the context; null is accepted. */
MORVANE_EXPORT void EVP_MD_CTX_destroy(EVP_MD_CTX *ctx);
/* Runs the description's cleanup (unless Final ran it), wipes and frees the
 * private data (unless it is a kept copy buffer), releases the engine and
 * zeroes the context; returns 1. */
MORVANE_EXPORT int EVP_MD_CTX_cleanup(EVP_MD_CTX *ctx);

/* Starts a digest of `type` on `ctx`, through the engine `impl` when given,
 * else through the default engine for the digest (none is registered in this
 * build).  A null `type` starts the context's current description again; on
 * an empty context that fails with "no digest set".  The same description is
 * started again in the private data it has; another one replaces the private
 * data (the old is wiped first).  1, or 0 with an error queued. */
MORVANE_EXPORT int EVP_DigestInit_ex(EVP_MD_CTX *ctx, const EVP_MD *type, ENGINE *impl);
/* EVP_MD_CTX_init, then EVP_DigestInit_ex without an engine: only for a
 * context that holds no private data. */
MORVANE_EXPORT int EVP_DigestInit(EVP_MD_CTX *ctx, const EVP_MD *type);
/* Absorbs `count` bytes; the description's result. */
MORVANE_EXPORT int EVP_DigestUpdate(EVP_MD_CTX *ctx, const void *data, size_t count);
/* Writes md_size bytes to `md` (room for EVP_MAX_MD_SIZE is always enough)
 * and md_size to *size when `size` is not null, then zeroes the private data;
 * the context may be started again.  The description's result. */
MORVANE_EXPORT int EVP_DigestFinal_ex(EVP_MD_CTX *ctx, unsigned char *md, unsigned int *size);
/* EVP_DigestFinal_ex, then EVP_MD_CTX_cleanup; the first one's result. */
MORVANE_EXPORT int EVP_DigestFinal(EVP_MD_CTX *ctx, unsigned char *md, unsigned int *size);
/* Digests `count` bytes at once on a context of its own; 1 or 0. */
MORVANE_EXPORT int EVP_Digest(const void *data, size_t count, unsigned char *md,
                              unsigned int *size, const EVP_MD *type, ENGINE *impl);

/* Makes `out` a running copy of `in` (with its own engine reference and
 * private data; a target that already runs the same description keeps its
 * buffer).  0 with "input not initialized" when `in` is null or empty. */
MORVANE_EXPORT int EVP_MD_CTX_copy_ex(EVP_MD_CTX *out, const EVP_MD_CTX *in);
/* EVP_MD_CTX_init(out), then EVP_MD_CTX_copy_ex: `out` must hold nothing. */
MORVANE_EXPORT int EVP_MD_CTX_copy(EVP_MD_CTX *out, const EVP_MD_CTX *in);

/* The context's description (null when empty). */
MORVANE_EXPORT const EVP_MD *EVP_MD_CTX_md(const EVP_MD_CTX *ctx);
/* Sets, clears and tests context flags (EVP_MD_CTX_FLAG_*). */
MORVANE_EXPORT void EVP_MD_CTX_set_flags(EVP_MD_CTX *ctx, int flags);
MORVANE_EXPORT void EVP_MD_CTX_clear_flags(EVP_MD_CTX *ctx, int flags);
MORVANE_EXPORT int EVP_MD_CTX_test_flags(const EVP_MD_CTX *ctx, int flags);

/* ---- cipher descriptions ------------------------------------------------ */

/* Limits on every description, built in or supplied: IV at most 16 bytes,
 * keys that a fixed buffer receives at most 32, blocks of 1, 8 or 16 bytes.
 * Set-up and the data calls end the process (MorvaneDie) on a description
 * that breaks them. */
#define EVP_MAX_KEY_LENGTH 32
#define EVP_MAX_IV_LENGTH 16
#define EVP_MAX_BLOCK_LENGTH 32

/* Description flags: the mode in the low three bits, then behaviour bits. */
#define EVP_CIPH_STREAM_CIPHER 0x0
#define EVP_CIPH_ECB_MODE 0x1
#define EVP_CIPH_CBC_MODE 0x2
#define EVP_CIPH_CFB_MODE 0x3
#define EVP_CIPH_OFB_MODE 0x4
#define EVP_CIPH_MODE 0x7
#define EVP_CIPH_VARIABLE_LENGTH 0x8      /* any positive key length */
#define EVP_CIPH_CUSTOM_IV 0x10           /* init handles the IV itself */
#define EVP_CIPH_ALWAYS_CALL_INIT 0x20    /* init runs also without a key */
#define EVP_CIPH_CTRL_INIT 0x40           /* control 0 when a context takes it up */
#define EVP_CIPH_CUSTOM_KEY_LENGTH 0x80   /* key-length changes go to control 1 */
#define EVP_CIPH_NO_PADDING 0x100         /* (context flag) no PKCS#5 padding */
#define EVP_CIPH_RAND_KEY 0x200           /* random keys from control 6 */
#define EVP_CIPH_FLAG_FIPS 0x400          /* tested by no operation */
#define EVP_CIPH_FLAG_DEFAULT_ASN1 0x1000 /* parameters: the IV as an OCTET STRING */
#define EVP_CIPH_FLAG_LENGTH_BITS 0x2000  /* (context flag) CFB1 lengths in bits */

/* Control codes of EVP_CIPHER_CTX_ctrl. */
#define EVP_CTRL_INIT 0
#define EVP_CTRL_SET_KEY_LENGTH 1
#define EVP_CTRL_GET_RC2_KEY_BITS 2
#define EVP_CTRL_SET_RC2_KEY_BITS 3
#define EVP_CTRL_RAND_KEY 6

struct evp_cipher_st {
  int nid;
  int block_size; /* 1 for stream-like modes, else the block length */
  int key_len;    /* default key length in bytes */
  int iv_len;
  unsigned long flags;
  /* Key set-up; without it a set-up call that gives a key (or whose
   * description asks for init always) fails with "operation not supported by
   * the description". */
  int (*init)(EVP_CIPHER_CTX *ctx, const unsigned char *key, const unsigned char *iv, int enc);
  /* inl bytes (bits for CFB1 when the context asks for bits); 1 or 0.  A
   * description without it is refused at set-up, with the same reason. */
  int (*do_cipher)(EVP_CIPHER_CTX *ctx, unsigned char *out, const unsigned char *in,
                   size_t inl);
  int (*cleanup)(EVP_CIPHER_CTX *ctx);
  int ctx_size; /* bytes of private key state in cipher_data */
  int (*set_asn1_parameters)(EVP_CIPHER_CTX *ctx, ASN1_TYPE *type);
  int (*get_asn1_parameters)(EVP_CIPHER_CTX *ctx, ASN1_TYPE *type);
  int (*ctrl)(EVP_CIPHER_CTX *ctx, int type, int arg, void *ptr); /* -1: unknown code */
  void *app_data;
};

/* A running cipher: caller memory after EVP_CIPHER_CTX_init, or the heap. */
struct evp_cipher_ctx_st {
  const EVP_CIPHER *cipher;
  ENGINE *engine; /* engine of the description (one functional reference) */
  int encrypt;    /* 1 encrypt, 0 decrypt */
  int buf_len;    /* bytes of an incomplete block in buf */
  unsigned char oiv[EVP_MAX_IV_LENGTH]; /* the IV given at set-up */
  unsigned char iv[EVP_MAX_IV_LENGTH];  /* the running IV */
  unsigned char buf[EVP_MAX_BLOCK_LENGTH];
  int num; /* position inside the IV block (CFB, OFB) */
  void *app_data;
  int key_len;
  unsigned long flags; /* context flags: EVP_CIPH_NO_PADDING, _FLAG_LENGTH_BITS */
  void *cipher_data;   /* the description's private key state */
  int final_used;      /* 1 when final holds a block not yet returned */
  int block_mask;      /* block size - 1 */
  unsigned char final[EVP_MAX_BLOCK_LENGTH]; /* the held-back decrypted block */
};

/* A cipher and its IV, as the PEM layer and the legacy key records keep
 * them: a null cipher means none. */
typedef struct evp_cipher_info_st {
  const EVP_CIPHER *cipher;
  unsigned char iv[EVP_MAX_IV_LENGTH];
} EVP_CIPHER_INFO;

/* The built-in descriptions (static; never freed).  EVP_des_ede and
 * EVP_des_ede3 are the ECB records; the _cfb names are the 64- or 128-bit
 * CFB records. */
MORVANE_EXPORT const EVP_CIPHER *EVP_enc_null(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_des_ecb(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_des_ede(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_des_ede3(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_des_ede_ecb(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_des_ede3_ecb(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_des_cfb64(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_des_cfb(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_des_cfb1(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_des_cfb8(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_des_ede_cfb64(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_des_ede_cfb(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_des_ede3_cfb64(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_des_ede3_cfb(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_des_ede3_cfb1(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_des_ede3_cfb8(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_des_ofb(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_des_ede_ofb(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_des_ede3_ofb(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_des_cbc(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_des_ede_cbc(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_des_ede3_cbc(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_desx_cbc(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_rc4(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_rc4_40(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_idea_ecb(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_idea_cfb64(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_idea_cfb(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_idea_ofb(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_idea_cbc(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_rc2_ecb(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_rc2_cbc(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_rc2_40_cbc(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_rc2_64_cbc(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_rc2_cfb64(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_rc2_cfb(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_rc2_ofb(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_bf_ecb(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_bf_cbc(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_bf_cfb64(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_bf_cfb(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_bf_ofb(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_cast5_ecb(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_cast5_cbc(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_cast5_cfb64(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_cast5_cfb(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_cast5_ofb(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_aes_128_ecb(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_aes_128_cbc(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_aes_128_cfb1(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_aes_128_cfb8(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_aes_128_cfb128(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_aes_128_cfb(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_aes_128_ofb(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_aes_192_ecb(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_aes_192_cbc(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_aes_192_cfb1(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_aes_192_cfb8(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_aes_192_cfb128(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_aes_192_cfb(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_aes_192_ofb(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_aes_256_ecb(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_aes_256_cbc(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_aes_256_cfb1(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_aes_256_cfb8(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_aes_256_cfb128(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_aes_256_cfb(void);
MORVANE_EXPORT const EVP_CIPHER *EVP_aes_256_ofb(void);

/* Fields of a description. */
MORVANE_EXPORT int EVP_CIPHER_nid(const EVP_CIPHER *cipher);
MORVANE_EXPORT int EVP_CIPHER_block_size(const EVP_CIPHER *cipher);
MORVANE_EXPORT int EVP_CIPHER_key_length(const EVP_CIPHER *cipher);
MORVANE_EXPORT int EVP_CIPHER_iv_length(const EVP_CIPHER *cipher);
MORVANE_EXPORT unsigned long EVP_CIPHER_flags(const EVP_CIPHER *cipher);
/* The NID to name in an AlgorithmIdentifier: the base cipher of the CFB
 * variants and of the RC2/RC4 key sizes, else the NID when it has an object
 * identifier, else 0 (three-key triple-DES CFB too: no identifier). */
MORVANE_EXPORT int EVP_CIPHER_type(const EVP_CIPHER *cipher);

/* ---- running ciphers ---------------------------------------------------- */

MORVANE_EXPORT void EVP_CIPHER_CTX_init(EVP_CIPHER_CTX *ctx);
MORVANE_EXPORT EVP_CIPHER_CTX *EVP_CIPHER_CTX_new(void);
MORVANE_EXPORT void EVP_CIPHER_CTX_free(EVP_CIPHER_CTX *ctx);
/* Runs the description's cleanup, wipes and frees the key state, releases
 * the engine and zeroes the context, in every case; 0 when the
 * description's cleanup failed, else 1. */
MORVANE_EXPORT int EVP_CIPHER_CTX_cleanup(EVP_CIPHER_CTX *ctx);

/* enc 1 encrypts, 0 decrypts, -1 keeps the direction.  A null cipher
 * re-keys the current description; a null key keeps the key. */
MORVANE_EXPORT int EVP_CipherInit_ex(EVP_CIPHER_CTX *ctx, const EVP_CIPHER *cipher, ENGINE *impl,
                                     const unsigned char *key, const unsigned char *iv, int enc);
MORVANE_EXPORT int EVP_EncryptInit_ex(EVP_CIPHER_CTX *ctx, const EVP_CIPHER *cipher,
                                      ENGINE *impl, const unsigned char *key,
                                      const unsigned char *iv);
MORVANE_EXPORT int EVP_DecryptInit_ex(EVP_CIPHER_CTX *ctx, const EVP_CIPHER *cipher,
                                      ENGINE *impl, const unsigned char *key,
                                      const unsigned char *iv);
/* As the _ex forms without an engine; a given cipher first zeroes the
 * context (whatever it held is dropped, not cleaned). */
MORVANE_EXPORT int EVP_CipherInit(EVP_CIPHER_CTX *ctx, const EVP_CIPHER *cipher,
                                  const unsigned char *key, const unsigned char *iv, int enc);
MORVANE_EXPORT int EVP_EncryptInit(EVP_CIPHER_CTX *ctx, const EVP_CIPHER *cipher,
                                   const unsigned char *key, const unsigned char *iv);
MORVANE_EXPORT int EVP_DecryptInit(EVP_CIPHER_CTX *ctx, const EVP_CIPHER *cipher,
                                   const unsigned char *key, const unsigned char *iv);

/* Output room: inl + block - 1 bytes encrypting, inl + block decrypting;
 * `out` may equal `in` or lag behind it, never start inside it ahead of it
 * (see Ciphers above). */
MORVANE_EXPORT int EVP_EncryptUpdate(EVP_CIPHER_CTX *ctx, unsigned char *out, int *outl,
                                     const unsigned char *in, int inl);
MORVANE_EXPORT int EVP_DecryptUpdate(EVP_CIPHER_CTX *ctx, unsigned char *out, int *outl,
                                     const unsigned char *in, int inl);
MORVANE_EXPORT int EVP_CipherUpdate(EVP_CIPHER_CTX *ctx, unsigned char *out, int *outl,
                                    const unsigned char *in, int inl);
MORVANE_EXPORT int EVP_EncryptFinal_ex(EVP_CIPHER_CTX *ctx, unsigned char *out, int *outl);
MORVANE_EXPORT int EVP_EncryptFinal(EVP_CIPHER_CTX *ctx, unsigned char *out, int *outl);
MORVANE_EXPORT int EVP_DecryptFinal_ex(EVP_CIPHER_CTX *ctx, unsigned char *out, int *outl);
MORVANE_EXPORT int EVP_DecryptFinal(EVP_CIPHER_CTX *ctx, unsigned char *out, int *outl);
MORVANE_EXPORT int EVP_CipherFinal_ex(EVP_CIPHER_CTX *ctx, unsigned char *out, int *outl);
MORVANE_EXPORT int EVP_CipherFinal(EVP_CIPHER_CTX *ctx, unsigned char *out, int *outl);
/* The description's do_cipher on inl bytes: no buffering, no padding. */
MORVANE_EXPORT int EVP_Cipher(EVP_CIPHER_CTX *ctx, unsigned char *out, const unsigned char *in,
                              unsigned int inl);

MORVANE_EXPORT int EVP_CIPHER_CTX_ctrl(EVP_CIPHER_CTX *ctx, int type, int arg, void *ptr);
MORVANE_EXPORT int EVP_CIPHER_CTX_set_key_length(EVP_CIPHER_CTX *ctx, int keylen);
MORVANE_EXPORT int EVP_CIPHER_CTX_set_padding(EVP_CIPHER_CTX *ctx, int pad);
MORVANE_EXPORT int EVP_CIPHER_CTX_rand_key(EVP_CIPHER_CTX *ctx, unsigned char *key);

/* AlgorithmIdentifier parameters: the setter's result or the IV length
 * read, 0 for a null type, -1 on failure or for a description without. */
MORVANE_EXPORT int EVP_CIPHER_param_to_asn1(EVP_CIPHER_CTX *ctx, ASN1_TYPE *type);
MORVANE_EXPORT int EVP_CIPHER_asn1_to_param(EVP_CIPHER_CTX *ctx, ASN1_TYPE *type);
MORVANE_EXPORT int EVP_CIPHER_set_asn1_iv(EVP_CIPHER_CTX *ctx, ASN1_TYPE *type);
MORVANE_EXPORT int EVP_CIPHER_get_asn1_iv(EVP_CIPHER_CTX *ctx, ASN1_TYPE *type);

MORVANE_EXPORT const EVP_CIPHER *EVP_CIPHER_CTX_cipher(const EVP_CIPHER_CTX *ctx);
MORVANE_EXPORT int EVP_CIPHER_CTX_nid(const EVP_CIPHER_CTX *ctx);
MORVANE_EXPORT int EVP_CIPHER_CTX_block_size(const EVP_CIPHER_CTX *ctx);
MORVANE_EXPORT int EVP_CIPHER_CTX_key_length(const EVP_CIPHER_CTX *ctx);
MORVANE_EXPORT int EVP_CIPHER_CTX_iv_length(const EVP_CIPHER_CTX *ctx);
/* The description's flags (not the context's). */
MORVANE_EXPORT unsigned long EVP_CIPHER_CTX_flags(const EVP_CIPHER_CTX *ctx);
MORVANE_EXPORT void *EVP_CIPHER_CTX_get_app_data(const EVP_CIPHER_CTX *ctx);
MORVANE_EXPORT void EVP_CIPHER_CTX_set_app_data(EVP_CIPHER_CTX *ctx, void *data);
MORVANE_EXPORT void EVP_CIPHER_CTX_set_flags(EVP_CIPHER_CTX *ctx, int flags);
MORVANE_EXPORT void EVP_CIPHER_CTX_clear_flags(EVP_CIPHER_CTX *ctx, int flags);
MORVANE_EXPORT int EVP_CIPHER_CTX_test_flags(const EVP_CIPHER_CTX *ctx, int flags);

/* ---- base64 -------------------------------------------------------------
 * RFC 4648 base64 ("A"-"Z", "a"-"z", "0"-"9", "+", "/", padding "=") in lines
 * of 64 characters (48 bytes) as PEM writes it.  The streaming coders keep
 * their state in a caller-owned EVP_ENCODE_CTX (no allocation, nothing to
 * free); EncodeInit/DecodeInit start it.  Counts are stored at `outl`.
 * Output room: 65 characters per started line and a terminating zero when
 * encoding, 3 bytes per 4 characters (pending ones included) when decoding. */
typedef struct evp_Encode_Ctx_st {
  int num;                     /* bytes (encoding) or characters (decoding) pending */
  int length;                  /* encoding: bytes per line; decoding: last line's bytes,
                                  below 0 once the end of the data was seen */
  unsigned char enc_data[80];  /* the pending input of an unfinished line */
  int line_num;                /* decoding: characters stored on this line */
  int expect_nl;               /* decoding: a full line ended without its newline */
} EVP_ENCODE_CTX;

MORVANE_EXPORT void EVP_EncodeInit(EVP_ENCODE_CTX *ctx);
/* Writes every completed 48-byte line as 64 characters and a newline, then a
 * zero that the count leaves out, keeping the rest.  Input whose output count
 * would pass INT_MAX is refused (nothing written, count 0). */
MORVANE_EXPORT void EVP_EncodeUpdate(EVP_ENCODE_CTX *ctx, unsigned char *out, int *outl,
                                     const unsigned char *in, int inl);
/* Writes the pending bytes as a last padded line with its newline (count 0
 * when none were pending). */
MORVANE_EXPORT void EVP_EncodeFinal(EVP_ENCODE_CTX *ctx, unsigned char *out, int *outl);
/* Encodes n bytes as one line without newline, followed by a zero; returns
 * the characters written (4 per 3 bytes or part of 3), 0 for n <= 0 or for n
 * whose count would pass INT_MAX (nothing written then). */
MORVANE_EXPORT int EVP_EncodeBlock(unsigned char *t, const unsigned char *f, int n);
MORVANE_EXPORT void EVP_DecodeInit(EVP_ENCODE_CTX *ctx);
/* Decodes lines of text: 1 when more may follow, 0 at the end of the data
 * (a group with "=" padding, a line starting with "-" after whole groups,
 * or no input), -1 for a line of 80 stored characters or more, for a byte
 * outside the alphabet (any byte with its top bit set among them), for a
 * "-" inside a line or after an unfinished group, or for data after the
 * padded group (line ends, white space and a "-" may follow it).  The end
 * is kept in the context: once it was seen, later calls give 0 for line
 * ends, white space and a "-" (after which nothing is read) and -1 for
 * data.  Blanks at line ends and where the calls split the text change
 * nothing: the calls' results end as one call's would, with the same bytes
 * counted in all, but that before a byte outside the alphabet or an
 * over-long line the whole groups an earlier call ended with count.  The
 * count is the bytes written, padding left out, also when the result is
 * -1. */
MORVANE_EXPORT int EVP_DecodeUpdate(EVP_ENCODE_CTX *ctx, unsigned char *out, int *outl,
                                    const unsigned char *in, int inl);
/* Decodes the pending characters: 1 (count stored), -1 when they are no
 * whole groups of 4. */
MORVANE_EXPORT int EVP_DecodeFinal(EVP_ENCODE_CTX *ctx, unsigned char *out, int *outl);
/* Decodes n characters after leading tabs and spaces and without trailing
 * white space, line ends and "-": 3 bytes per group of 4 ("=" decodes as
 * zero bits and is counted: the caller drops padding), or -1 for a length
 * that is no multiple of 4 or a character outside the alphabet (nothing
 * queued) or for a negative n ("invalid length"). */
MORVANE_EXPORT int EVP_DecodeBlock(unsigned char *t, const unsigned char *f, int n);

/* ---- filter streams -------------------------------------------------------
 * Filters in front of a next stream (BIO_push); they report through
 * results, the next stream's retry flags and controls, and queue no errors
 * but the base64 reader's "decode error".
 *
 * "base64 encoding" encodes what is written and decodes what is read (the
 * first read or write fixes the direction; BIO_flush writes the last line).
 * BIO_FLAGS_BASE64_NO_NL on the filter selects one unbroken line.  Reading
 * skips leading blank lines and lines that do not decode (armour lines such
 * as "-----BEGIN ...-----"), but not a line of base64 characters up to its
 * first "=" run; a line ends at a line feed or a carriage return.  A
 * leading header line is skipped only when it does not decode: one that
 * yields bytes before its first character outside the alphabet (whole
 * groups of 4, as "MIME" of "MIME-Version: 1.0" and "Proc" of "Proc-Type:
 * 4,ENCRYPTED") is read as the first line of data, and its fault then ends
 * the read with a negative result.  Text
 * after a padded group is read as new groups (a writer flushed between
 * writes, files joined); the data ends at a line starting with "-" or at the
 * source's end.  A source that asks to retry but says it is at its end (a
 * memory stream the caller wrote) is its end for now: the text it holds is
 * delivered, a last line without a line end too; then a read after a padded
 * group returns 0, and one after other text returns the source's -1 with
 * retry while BIO_eof gives 1 (the text may go on); a later read goes on
 * with what was written since.  BIO_eof is 1 only when the filter holds no
 * decoded bytes and no text to decode (an unfinished group waits for more)
 * and its source is at its end, or once its data has ended.
 * After what the text before a fault decodes to (its lines that end whole
 * groups; of unbroken text, its whole groups), reading ends with a negative
 * result ("decode error" queued by the read that returns it) when the text
 * turns out corrupt: a character outside the alphabet, an over-long line, a
 * bad group, or the source ending inside a group (text cut short, or a line
 * that is not base64 after the data).  The 0 of a clean end comes only
 * after complete text.
 *
 * "cipher" encrypts what is written and decrypts what is read, after
 * BIO_set_cipher; BIO_flush writes the final padded block, and
 * BIO_get_cipher_status tells whether the final block of a read was sound.
 * The final block of a read comes when the source ends (0); a source that
 * asks to retry is waited for, also at its end, as more may be written to
 * it.  BIO_eof is 1 only when the filter holds nothing (no processed bytes,
 * no block held in the cipher, no final block to come) and its source is
 * at its end.
 *
 * Every filter answers BIO_eof for itself in this way: bytes it holds, in
 * either direction, are no end, whatever its source says.
 *
 * "message digest" digests what passes either way after BIO_set_md;
 * BIO_gets with room for the digest and a terminator (a size above the
 * digest's) finishes the digest into the buffer, the terminator after it,
 * and returns the digest's size; a smaller size gives -1 and the digest
 * runs on.  The digest handed out is not there again: BIO_gets gives 0
 * until more data passes or the digest is set again (or reset).
 *
 * "reliable" cuts a stream into blocks of at most 4096 bytes, each sealed
 * with a digest after a digest handshake (BIO_set_md names the digest: one
 * of the built-in descriptions but the null one, else 0); the reader stops at the first block
 * that does not check, and BIO_ctrl(b, BIO_CTRL_INFO, 0, NULL) then gives 0
 * (and BIO_eof 1: it delivers nothing more).  Its reads then give -1, also
 * after a source that ends inside the handshake or a block: only a stream
 * that ends between blocks ends with 0.
 * A writer must be flushed to send its last block.
 *
 * Every filter passes on the retry of its source: when the source asks to
 * retry and the filter has nothing to give, the result is -1 with the
 * source's retry flags, never 0. */
MORVANE_EXPORT BIO_METHOD *BIO_f_base64(void);
MORVANE_EXPORT BIO_METHOD *BIO_f_cipher(void);
MORVANE_EXPORT BIO_METHOD *BIO_f_md(void);
MORVANE_EXPORT BIO_METHOD *BIO_f_reliable(void);
/* Sets up the cipher filter `b` (EVP_CipherInit_ex with key `k`, IV `i` and
 * direction `enc`); the filter is usable only when that succeeded, and
 * BIO_get_cipher_status gives 0 after a failed set-up.  The
 * stream's callback, when set, may veto the call (BIO_CB_CTRL before, with
 * argument 0 and result 0 or less) and sees its end.  Null `b`: nothing. */
MORVANE_EXPORT void BIO_set_cipher(BIO *b, const EVP_CIPHER *c, const unsigned char *k,
                                   const unsigned char *i, int enc);

#define BIO_set_md(b, md) BIO_ctrl((b), BIO_C_SET_MD, 0, (char *)(md))
#define BIO_get_md(b, mdp) BIO_ctrl((b), BIO_C_GET_MD, 0, (char *)(mdp))
#define BIO_get_md_ctx(b, mdcp) BIO_ctrl((b), BIO_C_GET_MD_CTX, 0, (char *)(mdcp))
#define BIO_set_md_ctx(b, mdcp) BIO_ctrl((b), BIO_C_SET_MD_CTX, 0, (char *)(mdcp))
#define BIO_get_cipher_status(b) BIO_ctrl((b), BIO_C_GET_CIPHER_STATUS, 0, NULL)
#define BIO_get_cipher_ctx(b, c_pp) BIO_ctrl((b), BIO_C_GET_CIPHER_CTX, 0, (char *)(c_pp))

/* ---- key containers ------------------------------------------------------
 * An EVP_PKEY holds one RSA, DSA, Diffie-Hellman or elliptic-curve key under
 * a folded type number, with a reference count (changed under lock 10,
 * CRYPTO_LOCK_EVP_PKEY) and optional PKCS#8 attributes.  EVP_PKEY_new gives
 * one reference; every holder that keeps the container adds one with
 * CRYPTO_add on `references` and drops it with EVP_PKEY_free, which frees the
 * key at zero.  EVP_PKEY_assign hands the caller's key reference over to the
 * container; the set1 calls keep the caller's reference and add one; the get1
 * calls return a key with a reference added for the caller. */

/* Container types: the key type numbers that EVP_PKEY_type folds into. */
#define EVP_PKEY_NONE 0
#define EVP_PKEY_RSA 6
#define EVP_PKEY_RSA2 19
#define EVP_PKEY_DSA 116
#define EVP_PKEY_DSA1 66
#define EVP_PKEY_DSA2 67
#define EVP_PKEY_DSA3 113
#define EVP_PKEY_DSA4 70
#define EVP_PKEY_DH 28
#define EVP_PKEY_EC 408

struct evp_pkey_st {
  int type;      /* the folded type (EVP_PKEY_RSA, _DSA, _DH, _EC) or 0 */
  int save_type; /* the type as last passed to EVP_PKEY_assign */
  int references;
  union {
    char *ptr;
    RSA *rsa;
    DSA *dsa;
    DH *dh;
    EC_KEY *ec;
  } pkey;
  /* 1 (default): the public-key encoder writes DSA or EC domain parameters
   * into the algorithm identifier; 0: it leaves them out. */
  int save_parameters;
  STACK *attributes; /* of X509_ATTRIBUTE, or null; freed with the container */
};

/* 6 for 6 and 19 (RSA); 116 for 116, 66, 67, 70 and 113 (DSA); 28; 408; any
 * other number 0. */
MORVANE_EXPORT int EVP_PKEY_type(int type);
/* A container of type 0 with one reference and no key; null with "malloc
 * failure" when memory runs out. */
MORVANE_EXPORT EVP_PKEY *EVP_PKEY_new(void);
/* Frees the key the container holds, then stores `key` (taking over the
 * caller's reference) under the folded `type`.  1 when `key` is not null; 0
 * otherwise (the container is then empty with the new type) and for a null
 * container. */
MORVANE_EXPORT int EVP_PKEY_assign(EVP_PKEY *pkey, int type, void *key);
#define EVP_PKEY_assign_RSA(pkey, rsa) EVP_PKEY_assign((pkey), EVP_PKEY_RSA, (char *)(rsa))
#define EVP_PKEY_assign_DSA(pkey, dsa) EVP_PKEY_assign((pkey), EVP_PKEY_DSA, (char *)(dsa))
#define EVP_PKEY_assign_DH(pkey, dh) EVP_PKEY_assign((pkey), EVP_PKEY_DH, (char *)(dh))
#define EVP_PKEY_assign_EC_KEY(pkey, ec) EVP_PKEY_assign((pkey), EVP_PKEY_EC, (char *)(ec))
/* EVP_PKEY_assign with the key's type, then one reference added to the key
 * (the caller keeps its own); the assign result. */
MORVANE_EXPORT int EVP_PKEY_set1_RSA(EVP_PKEY *pkey, RSA *key);
MORVANE_EXPORT int EVP_PKEY_set1_DSA(EVP_PKEY *pkey, DSA *key);
MORVANE_EXPORT int EVP_PKEY_set1_DH(EVP_PKEY *pkey, DH *key);
MORVANE_EXPORT int EVP_PKEY_set1_EC_KEY(EVP_PKEY *pkey, EC_KEY *key);
/* The key with one reference added for the caller, or null with "expecting
 * an rsa key" (a dsa, a dh, a ec key) when the container holds another
 * type. */
MORVANE_EXPORT RSA *EVP_PKEY_get1_RSA(EVP_PKEY *pkey);
MORVANE_EXPORT DSA *EVP_PKEY_get1_DSA(EVP_PKEY *pkey);
MORVANE_EXPORT DH *EVP_PKEY_get1_DH(EVP_PKEY *pkey);
MORVANE_EXPORT EC_KEY *EVP_PKEY_get1_EC_KEY(EVP_PKEY *pkey);
/* Drops one reference (lock 10); at zero frees the key, the attributes and
 * the container.  Null is accepted. */
MORVANE_EXPORT void EVP_PKEY_free(EVP_PKEY *pkey);
/* Bits of the RSA modulus, the DSA prime or the EC group order; 0 for other
 * types, an empty container or an order that cannot be read (what reading
 * it queued is removed; entries queued before the call stay). */
MORVANE_EXPORT int EVP_PKEY_bits(EVP_PKEY *pkey);
/* The largest signature or encryption output in bytes (RSA_size, DSA_size,
 * ECDSA_size); 0 for other types, an empty container and null. */
MORVANE_EXPORT int EVP_PKEY_size(EVP_PKEY *pkey);
/* DSA and EC containers: returns the previous save_parameters and sets it to
 * `mode` when `mode` >= 0 (a negative mode only asks); other types 0. */
MORVANE_EXPORT int EVP_PKEY_save_parameters(EVP_PKEY *pkey, int mode);
/* 1 for a DSA key without p, q or g, or an EC key without a group; else 0. */
MORVANE_EXPORT int EVP_PKEY_missing_parameters(const EVP_PKEY *pkey);
/* Copies the DSA p, q, g or the EC group of `from` into `to`: 1 (also for
 * types without parameters), 0 with "different key types" or "missing
 * parameters", or 0 when a copy fails. */
MORVANE_EXPORT int EVP_PKEY_copy_parameters(EVP_PKEY *to, const EVP_PKEY *from);
/* Two DSA or two EC keys: 1 when their parameters are equal, else 0; any
 * other pair -1. */
MORVANE_EXPORT int EVP_PKEY_cmp_parameters(const EVP_PKEY *a, const EVP_PKEY *b);
/* 1 when the public keys are equal, 0 when they differ (or their parameters
 * do), -1 for different types, -2 when the keys cannot be compared (DH and
 * other types, or an EC comparison that fails). */
MORVANE_EXPORT int EVP_PKEY_cmp(const EVP_PKEY *a, const EVP_PKEY *b);

/* ---- signing, verification, sealing and opening -------------------------
 * Signing and verification run over a running digest: EVP_SignInit_ex and
 * EVP_SignUpdate are the digest calls, EVP_SignFinal signs what was fed so
 * far with the description's sign function and leaves the caller's context
 * running (it works on a copy), so it may be fed and finished again.  The
 * container's type must be one of the description's required_pkey_type.
 * Sealing makes a random message key, encrypts it to each RSA recipient with
 * PKCS#1 v1.5 and keys a cipher context with it; data then goes through
 * EVP_SealUpdate (EVP_EncryptUpdate) and EVP_SealFinal.  Opening decrypts
 * the message key with the recipient's private key. */
#define EVP_SignInit_ex(ctx, md, engine) EVP_DigestInit_ex((ctx), (md), (engine))
#define EVP_SignInit(ctx, md) EVP_DigestInit((ctx), (md))
#define EVP_SignUpdate(ctx, data, count) EVP_DigestUpdate((ctx), (data), (count))
#define EVP_VerifyInit_ex(ctx, md, engine) EVP_DigestInit_ex((ctx), (md), (engine))
#define EVP_VerifyInit(ctx, md) EVP_DigestInit((ctx), (md))
#define EVP_VerifyUpdate(ctx, data, count) EVP_DigestUpdate((ctx), (data), (count))
#define EVP_SealUpdate(ctx, out, outl, in, inl) EVP_EncryptUpdate((ctx), (out), (outl), (in), (inl))
#define EVP_OpenUpdate(ctx, out, outl, in, inl) EVP_DecryptUpdate((ctx), (out), (outl), (in), (inl))

/* What a description with EVP_MD_FLAG_SVCTX receives as its key: the running
 * context (a copy) and the container's key. */
typedef struct {
  EVP_MD_CTX *mctx;
  void *key;
} EVP_MD_SVCTX;

/* Signs the digest so far into `sigret` (EVP_PKEY_size bytes), its length in
 * *siglen (0 on failure).  1, or 0 with "wrong public key type", "no sign
 * function configured", the copy's error or the sign function's; a null
 * sigret or siglen is refused with "passed a null parameter". */
MORVANE_EXPORT int EVP_SignFinal(EVP_MD_CTX *ctx, unsigned char *sigret, unsigned int *siglen,
                                 EVP_PKEY *pkey);
/* 1 for a valid signature, 0 for an invalid one (or "no verify function
 * configured"), -1 with "wrong public key type" or when the context cannot
 * be copied; otherwise the verify function's result (DSA and ECDSA give -1
 * for an error inside the verification). */
MORVANE_EXPORT int EVP_VerifyFinal(EVP_MD_CTX *ctx, const unsigned char *sigbuf,
                                   unsigned int siglen, EVP_PKEY *pkey);

/* Sets ctx up to encrypt with `type` (when given: the context is zeroed
 * first), and with npubk > 0 and pubk given makes a random message key,
 * fills `iv` (the cipher's IV length) with random bytes, keys the context
 * and encrypts the key to each pubk[i] into ek[i] (EVP_PKEY_size bytes),
 * its length in ekl[i].  Returns npubk (1 for the set-up alone); 0 when the
 * set-up, the key, the IV or the keying fails; -1 when a recipient fails
 * (the recipients before it stay filled in). */
MORVANE_EXPORT int EVP_SealInit(EVP_CIPHER_CTX *ctx, const EVP_CIPHER *type, unsigned char **ek,
                                int *ekl, unsigned char *iv, EVP_PKEY **pubk, int npubk);
/* EVP_EncryptFinal_ex, then the context is rewound to its IV for another
 * message; the first one's result. */
MORVANE_EXPORT int EVP_SealFinal(EVP_CIPHER_CTX *ctx, unsigned char *out, int *outl);
/* Sets ctx up to decrypt with `type` (when given) and, with `priv`, decrypts
 * the message key `ek` (ekl bytes) and keys the context with it and `iv`.  1,
 * or 0 ("public key not rsa" for a non-RSA container).  As with
 * RSA_private_decrypt (rsa.h), the distinct padding reasons a bad key block
 * queues, and the 0 itself, must not be revealed to whoever supplied `ek`:
 * telling them apart gives an attacker a padding oracle. */
MORVANE_EXPORT int EVP_OpenInit(EVP_CIPHER_CTX *ctx, const EVP_CIPHER *type,
                                const unsigned char *ek, int ekl, const unsigned char *iv,
                                EVP_PKEY *priv);
/* EVP_DecryptFinal_ex, then the context is rewound to its IV; the first
 * one's result. */
MORVANE_EXPORT int EVP_OpenFinal(EVP_CIPHER_CTX *ctx, unsigned char *out, int *outl);
/* RSA PKCS#1 v1.5 encryption of key_len bytes into ek (EVP_PKEY_size
 * bytes): the length written, or RSA's failure value; 0 with "public key not
 * rsa" for other containers. */
MORVANE_EXPORT int EVP_PKEY_encrypt(unsigned char *ek, const unsigned char *key, int key_len,
                                    EVP_PKEY *pubk);
/* RSA PKCS#1 v1.5 decryption of ekl bytes into key (EVP_PKEY_size bytes):
 * the key length, or -1 (also with "public key not rsa" for other
 * containers).  The padding warning of EVP_OpenInit holds here too. */
MORVANE_EXPORT int EVP_PKEY_decrypt(unsigned char *key, const unsigned char *ek, int ekl,
                                    EVP_PKEY *priv);

/* ---- the algorithm name registry ----------------------------------------
 * Descriptions are registered under the short and long names of their NIDs
 * (OBJ_NAME_TYPE_CIPHER_METH, OBJ_NAME_TYPE_MD_METH); a digest whose
 * pkey_type differs from its type also gets that NID's names as aliases.
 * Lookups follow aliases; null when unknown.  Registration and EVP_cleanup
 * are process-wide and unlocked. */
MORVANE_EXPORT int EVP_add_cipher(const EVP_CIPHER *cipher);
MORVANE_EXPORT int EVP_add_digest(const EVP_MD *md);
MORVANE_EXPORT const EVP_CIPHER *EVP_get_cipherbyname(const char *name);
MORVANE_EXPORT const EVP_MD *EVP_get_digestbyname(const char *name);
/* Empties the registry (every type), back to its first state, and the
 * password-based-encryption table (EVP_PBE_cleanup). */
MORVANE_EXPORT void EVP_cleanup(void);
/* Registers every built-in digest (MD4, MD5, SHA, DSA-SHA, SHA1, DSS1,
 * ECDSA, RIPEMD160, SHA224 to SHA512; not MD2 or the null digest) with their
 * aliases ("ssl2-md5", "ssl3-md5", "ssl3-sha1", "RSA-SHA1-2", "DSA-SHA1-old",
 * "DSS1", "dss1", "ripemd", "rmd160"). */
MORVANE_EXPORT void Morvane_add_all_digests(void);
/* Registers every built-in cipher but the null one, with their aliases
 * ("DESX", "DES", "DES3"/"des3", "IDEA", "RC2", "BF"/"blowfish", "CAST",
 * "CAST-cbc", "AES128" to "aes256" and lower-case forms), then the
 * password-based-encryption rows (PKCS12_PBE_add, PKCS5_PBE_add). */
MORVANE_EXPORT void Morvane_add_all_ciphers(void);
/* Adds the seven PKCS#5 password-based-encryption rows (see below). */
MORVANE_EXPORT void PKCS5_PBE_add(void);
/* MORVANE_cpuid_setup, then the cipher and the digest lists. */
MORVANE_EXPORT void MORVANE_add_all_algorithms_noconf(void);
/* As _noconf, then MORVANE_config(NULL). */
MORVANE_EXPORT void MORVANE_add_all_algorithms_conf(void);

/* ---- keys from pass phrases ----------------------------------------------
 * EVP_BytesToKey derives a cipher's key and IV from a pass phrase the way
 * PEM encryption does: digest passes D1 = H(data || salt), Di = H(Di-1 ||
 * data || salt), each digested count - 1 times more, their bytes filling
 * the key and then the IV.  The stored prompt and EVP_read_pw_string serve
 * the pass-phrase callbacks; the prompt is process-wide and unlocked (set it
 * before threads use it).  Null arguments: EVP_BytesToKey refuses a null
 * cipher or digest ("passed a null parameter"); a null salt means none, a
 * null key or iv receives nothing.  EVP_read_pw_string refuses a null
 * buffer; a null prompt takes the stored one. */

#define PKCS5_SALT_LEN 8       /* salt bytes of EVP_BytesToKey and PBES1 */
#define PKCS5_DEFAULT_ITER 2048 /* iteration count written by default */
/* The largest iteration count taken from an encoding (the PBES1, PBES2 and
 * PKCS#12 parameters and a PFX's MAC data, so from a file): a larger one is
 * refused with "iteration count too large" before anything is derived, for
 * such a count holds the caller for minutes.  The bound is one of SHA-1
 * iterations: a count with a slower digest is weighed by what an iteration
 * of it costs (MD2 71, SHA-384 and SHA-512 2.9, RIPEMD-160 2.3, MD5 1.7,
 * SHA-0 1.4, SHA-224 and SHA-256 1.3, MD4 1.1; others 1).  Tools write 2048 to 600000.
 * The derivation functions a program calls with its own count
 * (PKCS5_PBKDF2_HMAC_SHA1, PKCS12_key_gen_*, EVP_BytesToKey) take any. */
#define PKCS5_MAX_FILE_ITER 10000000

/* Fills the cipher's key (into `key`) and IV (into `iv`) from datal bytes of
 * `data`, with 8 bytes of `salt` when given.  Returns the cipher's key
 * length (also when `data` is null: nothing is derived then), or 0 when a
 * digest step fails, datal is negative or the digest has no output. */
MORVANE_EXPORT int EVP_BytesToKey(const EVP_CIPHER *type, const EVP_MD *md,
                                  const unsigned char *salt, const unsigned char *data,
                                  int datal, int count, unsigned char *key, unsigned char *iv);
/* Stores at most 79 characters of `prompt` (null empties the store). */
MORVANE_EXPORT void EVP_set_pw_prompt(const char *prompt);
/* The stored prompt, or null while it is empty. */
MORVANE_EXPORT char *EVP_get_pw_prompt(void);
/* Reads a pass phrase of at most length - 1 characters (and 1023) into `buf`
 * through the prompt interface (UI_new's default method), with `prompt` or,
 * when null, the stored prompt; with `verify` not 0 it is asked twice and
 * must match.  Returns UI_process's result (0 on success, negative on
 * failure), or -1 for a length below 1 or a null buffer. */
MORVANE_EXPORT int EVP_read_pw_string(char *buf, int length, const char *prompt, int verify);

/* ---- password-based encryption ------------------------------------------
 * A process-wide table (unlocked: fill it before threads use it) maps the
 * NID of a password-based algorithm to a cipher, a digest and a key
 * generator that keys a cipher context from a pass phrase and the
 * algorithm's parameter.  PKCS5_PBE_add adds, in this order: PBE-MD5-DES
 * (10), PBE-MD2-DES (9), PBE-SHA1-DES (170), PBE-MD5-RC2-64 (169),
 * PBE-MD2-RC2-64 (168), PBE-SHA1-RC2-64 (68), all with PKCS5_PBE_keyivgen
 * (PBES1, RFC 8018, 6.1), and PBES2 (161) with PKCS5_v2_PBE_keyivgen (RFC
 * 8018, 6.2, PBKDF2 with HMAC-SHA1 only).  Pass-phrase lengths: -1 means
 * the string length of `pass`, and a null `pass` is empty; other negative
 * lengths are refused.  Null arguments: a null object or parameter fails as
 * an unknown algorithm or a "decode error", a null context as the cipher
 * calls refuse it, and PKCS5_PBKDF2_HMAC_SHA1 refuses a null salt or output
 * for a non-zero length ("passed a null parameter"). */
typedef int EVP_PBE_KEYGEN(EVP_CIPHER_CTX *ctx, const char *pass, int passlen,
                           ASN1_TYPE *param, const EVP_CIPHER *cipher, const EVP_MD *md,
                           int en_de);

/* Appends a row (duplicates are not checked); 1, or 0 with "malloc
 * failure". */
MORVANE_EXPORT int EVP_PBE_alg_add(int nid, const EVP_CIPHER *cipher, const EVP_MD *md,
                                   EVP_PBE_KEYGEN *keygen);
/* Keys `ctx` for direction en_de (1 encrypt, 0 decrypt) with the row of
 * pbe_obj's NID: 1, or 0 with "unknown pbe algorithm" (data "TYPE=" and the
 * object's text, or "NULL") or "keygen failure" after the generator's own
 * error. */
MORVANE_EXPORT int EVP_PBE_CipherInit(ASN1_OBJECT *pbe_obj, const char *pass, int passlen,
                                      ASN1_TYPE *param, EVP_CIPHER_CTX *ctx, int en_de);
/* Frees every row; the next addition starts a new table. */
MORVANE_EXPORT void EVP_PBE_cleanup(void);

/* PBES1: `param` is a SEQUENCE holding PBEPARAM; the key is the first key
 * bytes of the iterated digest of pass || salt, the IV bytes 16 - iv_len to
 * 15 of it.  1, or 0 with "decode error", "iteration count too large" (above
 * PKCS5_MAX_FILE_ITER once weighed by the digest) or a cipher or digest
 * failure. */
MORVANE_EXPORT int PKCS5_PBE_keyivgen(EVP_CIPHER_CTX *ctx, const char *pass, int passlen,
                                      ASN1_TYPE *param, const EVP_CIPHER *cipher,
                                      const EVP_MD *md, int en_de);
/* PBES2: `param` is a SEQUENCE holding PBE2PARAM; the cipher is found by its
 * short name (registered names only) and takes its IV from its parameters;
 * `cipher` and `md` are not used.  1, or 0 with "decode error",
 * "unsupported key derivation function", "unsupported cipher", "cipher
 * parameter error", "unsupported keylength", "unsupported prf",
 * "unsupported salt type" or "iteration count too large" (above
 * PKCS5_MAX_FILE_ITER). */
MORVANE_EXPORT int PKCS5_v2_PBE_keyivgen(EVP_CIPHER_CTX *ctx, const char *pass, int passlen,
                                         ASN1_TYPE *param, const EVP_CIPHER *cipher,
                                         const EVP_MD *md, int en_de);
/* PBKDF2 with HMAC-SHA1 (RFC 8018, 5.2): keylen bytes into `out`; an
 * iteration count below 1 counts as 1.  1, or 0 for a negative salt or key
 * length or when a digest step fails. */
MORVANE_EXPORT int PKCS5_PBKDF2_HMAC_SHA1(const char *pass, int passlen,
                                          const unsigned char *salt, int saltlen, int iter,
                                          int keylen, unsigned char *out);

/* ---- configuration and errors ------------------------------------------- */

/* Registers the configuration module "alg_section": its section may set
 * "fips_mode", which must be false (a true value fails with "fips mode not
 * supported", another value with "invalid fips mode"); any other name queues
 * "unknown option" without failing.  Returns CONF_module_add's result. */
MORVANE_EXPORT int EVP_add_alg_module(void);

/* Registers the texts of library 6 (ERR_LIB_EVP) unless they are registered
 * already. */
MORVANE_EXPORT void ERR_load_EVP_strings(void);

/* BEGIN ERROR CODES (generated by tools/gen_errors.py) */
/* Function codes of library 6 (EVP). */
#define EVP_F_D2I_PKEY 100
#define EVP_F_EVP_DECRYPTFINAL_EX 101
#define EVP_F_EVP_OPENINIT 102
#define EVP_F_EVP_PKEY_COPY_PARAMETERS 103
#define EVP_F_EVP_PKEY_DECRYPT 104
#define EVP_F_EVP_PKEY_ENCRYPT 105
#define EVP_F_EVP_PKEY_NEW 106
#define EVP_F_EVP_SIGNFINAL 107
#define EVP_F_EVP_VERIFYFINAL 108
#define EVP_F_RC2_MAGIC_TO_METH 109
#define EVP_F_EVP_MD_CTX_COPY_EX 110
#define EVP_F_EVP_PKCS82PKEY 111
#define EVP_F_PKCS8_SET_BROKEN 112
#define EVP_F_EVP_PKEY2PKCS8_BROKEN 113
#define EVP_F_EVP_PBE_ALG_ADD 115
#define EVP_F_EVP_PBE_CIPHERINIT 116
#define EVP_F_PKCS5_PBE_KEYIVGEN 117
#define EVP_F_PKCS5_V2_PBE_KEYIVGEN 118
#define EVP_F_EVP_PKEY_GET1_DH 119
#define EVP_F_EVP_PKEY_GET1_DSA 120
#define EVP_F_EVP_PKEY_GET1_RSA 121
#define EVP_F_EVP_CIPHER_CTX_SET_KEY_LENGTH 122
#define EVP_F_EVP_CIPHERINIT_EX 123
#define EVP_F_EVP_CIPHER_CTX_CTRL 124
#define EVP_F_RC5_CTRL 125
#define EVP_F_EVP_RIJNDAEL 126
#define EVP_F_EVP_ENCRYPTFINAL_EX 127
#define EVP_F_EVP_DIGESTINIT_EX 128
#define EVP_F_ECDSA_PKEY2PKCS8 129
#define EVP_F_EVP_PKEY_GET1_ECDSA 130
#define EVP_F_EVP_PKEY_GET1_EC_KEY 131
#define EVP_F_ECKEY_PKEY2PKCS8 132
#define EVP_F_AES_INIT_KEY 133
#define EVP_F_DSAPKEY2PKCS8 134
#define EVP_F_DSA_PKEY2PKCS8 135
#define EVP_F_EVP_DIGESTINIT 136
#define EVP_F_EVP_CIPHERINIT 137
#define EVP_F_ALG_MODULE_INIT 138
#define EVP_F_DO_EVP_MD_ENGINE 139
#define EVP_F_DO_EVP_ENC_ENGINE 140
#define EVP_F_DO_EVP_ENC_ENGINE_FULL 141
#define EVP_F_DO_EVP_MD_ENGINE_FULL 142
#define EVP_F_CAMELLIA_INIT_KEY 159
#define EVP_F_EVP_ENCRYPTUPDATE 166
#define EVP_F_EVP_DECRYPTUPDATE 167
#define EVP_F_EVP_CIPHER 168
#define EVP_F_EVP_CIPHER_CTX_SET_PADDING 169
#define EVP_F_EVP_CIPHER_CTX_RAND_KEY 170
#define EVP_F_EVP_CIPHER_PARAM_TO_ASN1 171
#define EVP_F_EVP_CIPHER_ASN1_TO_PARAM 172
#define EVP_F_EVP_CIPHER_GET_ASN1_IV 173
#define EVP_F_EVP_CIPHER_SET_ASN1_IV 174
#define EVP_F_EVP_DECODEBLOCK 175
#define EVP_F_B64_READ 176
/* Reason codes of library 6 (EVP). */
#define EVP_R_BAD_DECRYPT 100
#define EVP_R_DIFFERENT_KEY_TYPES 101
#define EVP_R_IV_TOO_LARGE 102
#define EVP_R_MISSING_PARAMETERS 103
#define EVP_R_NO_SIGN_FUNCTION_CONFIGURED 104
#define EVP_R_NO_VERIFY_FUNCTION_CONFIGURED 105
#define EVP_R_PUBLIC_KEY_NOT_RSA 106
#define EVP_R_UNSUPPORTED_CIPHER 107
#define EVP_R_UNSUPPORTED_KEY_SIZE 108
#define EVP_R_WRONG_FINAL_BLOCK_LENGTH 109
#define EVP_R_WRONG_PUBLIC_KEY_TYPE 110
#define EVP_R_INPUT_NOT_INITIALIZED 111
#define EVP_R_BN_DECODE_ERROR 112
#define EVP_R_BN_PUBKEY_ERROR 113
#define EVP_R_DECODE_ERROR 114
#define EVP_R_ENCODE_ERROR 115
#define EVP_R_NO_DSA_PARAMETERS 116
#define EVP_R_PKCS8_UNKNOWN_BROKEN_TYPE 117
#define EVP_R_UNSUPPORTED_PRIVATE_KEY_ALGORITHM 118
#define EVP_R_EVP_PBE_CIPHERINIT_ERROR 119
#define EVP_R_KEYGEN_FAILURE 120
#define EVP_R_UNKNOWN_PBE_ALGORITHM 121
#define EVP_R_CIPHER_PARAMETER_ERROR 122
#define EVP_R_UNSUPPORTED_KEYLENGTH 123
#define EVP_R_UNSUPPORTED_KEY_DERIVATION_FUNCTION 124
#define EVP_R_UNSUPPORTED_PRF 125
#define EVP_R_UNSUPPORTED_SALT_TYPE 126
#define EVP_R_EXPECTING_AN_RSA_KEY 127
#define EVP_R_EXPECTING_A_DH_KEY 128
#define EVP_R_EXPECTING_A_DSA_KEY 129
#define EVP_R_INVALID_KEY_LENGTH 130
#define EVP_R_NO_CIPHER_SET 131
#define EVP_R_CTRL_NOT_IMPLEMENTED 132
#define EVP_R_CTRL_OPERATION_NOT_IMPLEMENTED 133
#define EVP_R_INITIALIZATION_ERROR 134
#define EVP_R_UNSUPORTED_NUMBER_OF_ROUNDS 135
#define EVP_R_BAD_BLOCK_LENGTH 136
#define EVP_R_BAD_KEY_LENGTH 137
#define EVP_R_DATA_NOT_MULTIPLE_OF_BLOCK_LENGTH 138
#define EVP_R_NO_DIGEST_SET 139
#define EVP_R_ASN1_LIB 140
#define EVP_R_EXPECTING_A_ECDSA_KEY 141
#define EVP_R_EXPECTING_A_EC_KEY 142
#define EVP_R_AES_KEY_SETUP_FAILED 143
#define EVP_R_DISABLED_FOR_FIPS 144
#define EVP_R_ERROR_LOADING_SECTION 145
#define EVP_R_ERROR_SETTING_FIPS_MODE 146
#define EVP_R_FIPS_MODE_NOT_SUPPORTED 147
#define EVP_R_INVALID_FIPS_MODE 148
#define EVP_R_UNKNOWN_OPTION 149
#define EVP_R_CAMELLIA_KEY_SETUP_FAILED 157
#define EVP_R_SEED_KEY_SETUP_FAILED 162
#define EVP_R_PARTIALLY_OVERLAPPING 166
#define EVP_R_OUTPUT_TOO_LARGE 167
#define EVP_R_OPERATION_NOT_SUPPORTED 168
#define EVP_R_INVALID_LENGTH 169
#define EVP_R_ITERATION_COUNT_TOO_LARGE 170
/* END ERROR CODES */

MORVANE_END_DECLS

#endif /* MORVANE_EVP_H */
