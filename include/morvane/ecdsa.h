/* Morvane: ECDSA.
 *
 * Signatures with elliptic-curve keys (ANSI X9.62, SEC 1 section 4.1).
 * Failing calls queue errors of library 42 (ERR_LIB_ECDSA).  Every operation
 * goes through the ECDSA_METHOD of a per-key record, made on first use from
 * the default method (or the default ECDSA engine) and freed with the key.
 *
 * Digests: the leftmost bits(order) bits of the digest are the integer
 * signed; the digest length is not otherwise checked, but a negative one is
 * refused with "invalid digest length".
 *
 * Null arguments: a null key gives the failure value of each call (0, null,
 * -1 for ECDSA_do_verify and ECDSA_verify) with an error; ECDSA_SIG_free
 * accepts null; a null kinv/rp pair to ECDSA_do_sign_ex draws a fresh
 * nonce.  A key whose method is null or lacks the operation's slot gets the
 * same failure value with "operation not supported".  Verification refuses
 * a public point at infinity with -1 ("public key at infinity"). */
#ifndef MORVANE_ECDSA_H
#define MORVANE_ECDSA_H

#include <morvane/crypto.h>
#include <morvane/export.h>
#include <morvane/types.h>

MORVANE_BEGIN_DECLS

/* SEQUENCE { r INTEGER, s INTEGER }; a new signature holds two zero numbers,
 * both wiped when it is freed. */
typedef struct ECDSA_SIG_st {
  BIGNUM *r;
  BIGNUM *s;
} ECDSA_SIG;

struct ecdsa_method {
  const char *name;
  ECDSA_SIG *(*ecdsa_do_sign)(const unsigned char *dgst, int dgst_len, const BIGNUM *inv,
                              const BIGNUM *rp, EC_KEY *eckey);
  int (*ecdsa_sign_setup)(EC_KEY *eckey, BN_CTX *ctx, BIGNUM **kinv, BIGNUM **r);
  int (*ecdsa_do_verify)(const unsigned char *dgst, int dgst_len, const ECDSA_SIG *sig,
                         EC_KEY *eckey);
  int flags;
  char *app_data;
};

/* The per-key record that ties a key to its method; a key makes its own on
 * first use (ECDSA_DATA_new_method(NULL)), keeps it in its method data and
 * frees it with itself.  init is always null; flags are the method's when
 * the record was made; ex_data is of class CRYPTO_EX_INDEX_ECDSA. */
typedef struct ecdsa_data_st {
  int (*init)(EC_KEY *);
  ENGINE *engine; /* a functional reference, or null */
  int flags;
  const ECDSA_METHOD *meth;
  CRYPTO_EX_DATA ex_data;
} ECDSA_DATA;

/* A new record with the engine's ECDSA method, taking over the caller's
 * functional reference; with a null engine, the default ECDSA engine's
 * method (ENGINE_get_default_ECDSA) or, without one, the default method.
 * Null on failure: "malloc failure", or "ENGINE lib" for an engine without
 * an ECDSA method (its reference is then released).  A record made here is
 * the caller's: it is released with ENGINE_finish(engine) when engine is
 * set, CRYPTO_free_ex_data(CRYPTO_EX_INDEX_ECDSA, d, &d->ex_data) and
 * CRYPTO_free(d). */
MORVANE_EXPORT ECDSA_DATA *ECDSA_DATA_new_method(ENGINE *engine);

/* The built-in method table ("Morvane ECDSA method"). */
MORVANE_EXPORT const ECDSA_METHOD *ECDSA_Morvane(void);
/* The process-wide default (the built-in table until set), which records
 * made afterwards take.  Threads may make records at once (the built-in
 * table is installed atomically); set another before other threads use
 * keys. */
MORVANE_EXPORT void ECDSA_set_default_method(const ECDSA_METHOD *meth);
MORVANE_EXPORT const ECDSA_METHOD *ECDSA_get_default_method(void);
/* Replaces the key's method (releasing its engine); 1, or 0 without record. */
MORVANE_EXPORT int ECDSA_set_method(EC_KEY *eckey, const ECDSA_METHOD *meth);

/* A signature of the digest, or null.  ECDSA_do_sign_ex takes a
 * precomputed nonce inverse and r (both or neither; from ECDSA_sign_setup);
 * when they give s = 0 it fails with "need new setup values". */
MORVANE_EXPORT ECDSA_SIG *ECDSA_do_sign(const unsigned char *dgst, int dgst_len, EC_KEY *eckey);
MORVANE_EXPORT ECDSA_SIG *ECDSA_do_sign_ex(const unsigned char *dgst, int dgst_len,
                                           const BIGNUM *kinv, const BIGNUM *rp,
                                           EC_KEY *eckey);
/* Draws a nonce k: *kinv = k^-1 mod n, *rp = x(k G) mod n (the numbers they
 * held are freed); ctx may be null.  1 or 0. */
MORVANE_EXPORT int ECDSA_sign_setup(EC_KEY *eckey, BN_CTX *ctx, BIGNUM **kinv, BIGNUM **rp);
/* 1 valid, 0 invalid, -1 error. */
MORVANE_EXPORT int ECDSA_do_verify(const unsigned char *dgst, int dgst_len, const ECDSA_SIG *sig,
                                   EC_KEY *eckey);

/* DER signature of the digest into `sig` (ECDSA_size(eckey) bytes of room),
 * its length in *siglen; 1, or 0 with *siglen 0 (a negative dgstlen: "invalid
 * digest length").  The digest is mixed into the random generator's pool
 * first, counted as no entropy (it is public).  type is not used. */
MORVANE_EXPORT int ECDSA_sign(int type, const unsigned char *dgst, int dgstlen,
                              unsigned char *sig, unsigned int *siglen, EC_KEY *eckey);
MORVANE_EXPORT int ECDSA_sign_ex(int type, const unsigned char *dgst, int dgstlen,
                                 unsigned char *sig, unsigned int *siglen, const BIGNUM *kinv,
                                 const BIGNUM *rp, EC_KEY *eckey);
/* 1 valid, 0 invalid, -1 error.  The siglen bytes must be exactly the DER
 * encoding of one signature (no BER form, nothing after it), else -1. */
MORVANE_EXPORT int ECDSA_verify(int type, const unsigned char *dgst, int dgstlen,
                                const unsigned char *sig, int siglen, EC_KEY *eckey);
/* The largest DER signature in bytes for the key's order; 0 without key,
 * group or order. */
MORVANE_EXPORT int ECDSA_size(const EC_KEY *eckey);

/* Extra data of the key's ECDSA record (class CRYPTO_EX_INDEX_ECDSA). */
MORVANE_EXPORT int ECDSA_get_ex_new_index(long argl, void *argp, CRYPTO_EX_new *new_func,
                                          CRYPTO_EX_dup *dup_func, CRYPTO_EX_free *free_func);
MORVANE_EXPORT int ECDSA_set_ex_data(EC_KEY *eckey, int idx, void *arg);
MORVANE_EXPORT void *ECDSA_get_ex_data(EC_KEY *eckey, int idx);

/* BEGIN ITEMS (generated by tools/gen_asn1_items.py) */
MORVANE_EXPORT extern const ASN1_ITEM ECDSA_SIG_it;
MORVANE_EXPORT ECDSA_SIG *ECDSA_SIG_new(void);
MORVANE_EXPORT void ECDSA_SIG_free(ECDSA_SIG *a);
MORVANE_EXPORT ECDSA_SIG *d2i_ECDSA_SIG(ECDSA_SIG **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_ECDSA_SIG(ECDSA_SIG *a, unsigned char **out);
/* END ITEMS */

/* Registers the texts of library 42 (ERR_LIB_ECDSA) unless they are registered
 * already. */
MORVANE_EXPORT void ERR_load_ECDSA_strings(void);

/* BEGIN ERROR CODES (generated by tools/gen_errors.py) */
/* Function codes of library 42 (ECDSA). */
#define ECDSA_F_ECDSA_DATA_NEW_METHOD 100
#define ECDSA_F_ECDSA_DO_SIGN 101
#define ECDSA_F_ECDSA_DO_VERIFY 102
#define ECDSA_F_ECDSA_SIGN_SETUP 103
/* Reason codes of library 42 (ECDSA). */
#define ECDSA_R_BAD_SIGNATURE 100
#define ECDSA_R_DATA_TOO_LARGE_FOR_KEY_SIZE 101
#define ECDSA_R_ERR_EC_LIB 102
#define ECDSA_R_MISSING_PARAMETERS 103
#define ECDSA_R_RANDOM_NUMBER_GENERATION_FAILED 104
#define ECDSA_R_SIGNATURE_MALLOC_FAILED 105
#define ECDSA_R_NEED_NEW_SETUP_VALUES 106
#define ECDSA_R_OPERATION_NOT_SUPPORTED 107
#define ECDSA_R_INVALID_DIGEST_LENGTH 108
#define ECDSA_R_PUBLIC_KEY_AT_INFINITY 109
/* END ERROR CODES */

MORVANE_END_DECLS

#endif /* MORVANE_ECDSA_H */
