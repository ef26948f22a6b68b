/* Morvane: DSA.
 *
 * The Digital Signature Algorithm of FIPS 186 with 160-bit subgroups: a DSA
 * object holds the domain parameters (p, q, g), a key pair and optionally a
 * precomputed signing pair (kinv, r) that the next signature uses once.
 * Signing and verification go through the object's method table; the
 * built-in one is DSA_Morvane() ("Morvane DSA method"); parameter and key
 * generation are built in unless the method brings its own.  A DSA object is
 * reference-counted (lock CRYPTO_LOCK_DSA, which also guards the one-time
 * creation of its Montgomery context) and carries extra data of class
 * CRYPTO_EX_INDEX_DSA.  Functions return 1 on success and 0 on failure,
 * pointers or null, and the verifications 1 valid, 0 invalid, -1 error;
 * failing calls queue errors of library 10 (ERR_LIB_DSA).
 *
 * Signing runs in constant time in the private key and the nonce: the nonce
 * k is raised as k + q or k + 2q (always bits(q) + 1 bits) by the
 * constant-time exponentiation, and its inverse (by Fermat's little
 * theorem: q must be prime), x r and the final product are computed on
 * fixed-width words.  A key must not sign from two threads at once while it
 * holds a precomputed pair.
 *
 * Null arguments: DSA_free and DSA_SIG_free accept null; DSA_new_method
 * takes a null engine; the progress callbacks, seeds and the counter and h
 * outputs of the generators may be null.  A key without p, q or g fails its
 * operations with "missing parameters" (signing also without x,
 * verification without y).  DSA_print and DSAparams_print refuse a null
 * key with an error.  Every other pointer must be valid. */
#ifndef MORVANE_DSA_H
#define MORVANE_DSA_H

#include <stdio.h>

#include <morvane/crypto.h>
#include <morvane/export.h>
#include <morvane/types.h>

MORVANE_BEGIN_DECLS

/* ---- the key and its method ---------------------------------------------- */

/* Flags of a key (copied from its method at creation). */
#define DSA_FLAG_MONT_P_CACHED 0x01 /* keep a Montgomery context of p in method_mont_p */
#define DSA_FLAG_PLAIN_EXP 0x02     /* no constant-time exponentiation, k not lengthened */
#define DSA_FLAG_METHOD_ONLY 0x400  /* a method flag not copied into keys */

/* The largest modulus that verification accepts; also the largest that the
 * parameter generator makes. */
#define DSA_MAX_MODULUS_BITS 10000

/* A signature (r, s). */
typedef struct DSA_SIG_st {
  BIGNUM *r;
  BIGNUM *s;
} DSA_SIG;

/* The method table.  A null dsa_do_sign, dsa_sign_setup or dsa_do_verify is
 * an operation the method does not offer: its dispatcher fails (null, 0 or
 * -1) with "operation not supported by the method".  The helper slots are
 * optional: the built-in signing and verification use their own
 * exponentiation where bn_mod_exp or dsa_mod_exp is null, and
 * DSA_generate_parameters_ex and DSA_generate_key the built-in generators
 * where dsa_paramgen or dsa_keygen is null. */
struct dsa_method {
  const char *name;
  DSA_SIG *(*dsa_do_sign)(const unsigned char *dgst, int dlen, DSA *dsa);
  int (*dsa_sign_setup)(DSA *dsa, BN_CTX *ctx_in, BIGNUM **kinvp, BIGNUM **rp);
  int (*dsa_do_verify)(const unsigned char *dgst, int dgst_len, DSA_SIG *sig, DSA *dsa);
  /* rr = a1^p1 * a2^p2 mod m */
  int (*dsa_mod_exp)(DSA *dsa, BIGNUM *rr, BIGNUM *a1, BIGNUM *p1, BIGNUM *a2, BIGNUM *p2,
                     BIGNUM *m, BN_CTX *ctx, BN_MONT_CTX *in_mont);
  int (*bn_mod_exp)(DSA *dsa, BIGNUM *r, BIGNUM *a, const BIGNUM *p, const BIGNUM *m,
                    BN_CTX *ctx, BN_MONT_CTX *m_ctx);
  int (*init)(DSA *dsa);
  int (*finish)(DSA *dsa);
  int flags;
  char *app_data;
  int (*dsa_paramgen)(DSA *dsa, int bits, unsigned char *seed, int seed_len, int *counter_ret,
                      unsigned long *h_ret, BN_GENCB *cb);
  int (*dsa_keygen)(DSA *dsa);
};

/* The parameters and key.  Every number may be null; all belong to the key. */
struct dsa_st {
  int pad;
  long version;     /* of the DSAPrivateKey encoding */
  int write_params; /* 1: the public key is written with its parameters; 0: alone */
  BIGNUM *p, *q, *g;
  BIGNUM *pub_key;  /* y = g^x mod p */
  BIGNUM *priv_key; /* x */
  BIGNUM *kinv, *r; /* a precomputed k^-1 mod q and r, used once */
  int flags;        /* DSA_FLAG_* */
  BN_MONT_CTX *method_mont_p;
  int references;
  CRYPTO_EX_DATA ex_data;
  const DSA_METHOD *meth;
  ENGINE *engine; /* that supplied meth (one functional reference), or null */
  /* The library's: the p, q, g and y under which the built-in method last
   * found g and y of order q (a copy; compared at each verification). */
  struct dsa_group_checked_st *group_checked;
};

/* A new key with the default method (DSA_new_method(NULL)). */
MORVANE_EXPORT DSA *DSA_new(void);
/* A new key: every number null, version 0, write_params 1, one reference,
 * the method's flags without DSA_FLAG_METHOD_ONLY.  With an engine, a
 * functional reference to it is taken and its DSA method used; with null,
 * the default engine for DSA when one is registered, else the default
 * method.  The method's init runs last (the built-in one sets
 * DSA_FLAG_MONT_P_CACHED).  Null on failure ("malloc failure", "ENGINE
 * lib"). */
MORVANE_EXPORT DSA *DSA_new_method(ENGINE *engine);
/* Drops one reference; at zero runs the method's finish, releases the
 * engine and the extra data, wipes and frees every number and frees the key.
 * Null is ignored. */
MORVANE_EXPORT void DSA_free(DSA *r);
/* Adds one reference; 1 when the count is then above 1. */
MORVANE_EXPORT int DSA_up_ref(DSA *r);
/* The built-in method. */
MORVANE_EXPORT const DSA_METHOD *DSA_Morvane(void);
/* The method new keys take (DSA_Morvane() until set); setting it takes no
 * lock: set it before other threads make keys. */
MORVANE_EXPORT void DSA_set_default_method(const DSA_METHOD *meth);
MORVANE_EXPORT const DSA_METHOD *DSA_get_default_method(void);
/* Runs the old method's finish, releases the key's engine, installs meth and
 * runs its init (its result ignored).  Always 1. */
MORVANE_EXPORT int DSA_set_method(DSA *dsa, const DSA_METHOD *meth);
/* Extra data of class CRYPTO_EX_INDEX_DSA. */
MORVANE_EXPORT int DSA_get_ex_new_index(long argl, void *argp, CRYPTO_EX_new *new_func,
                                        CRYPTO_EX_dup *dup_func, CRYPTO_EX_free *free_func);
MORVANE_EXPORT int DSA_set_ex_data(DSA *d, int idx, void *arg);
MORVANE_EXPORT void *DSA_get_ex_data(DSA *d, int idx);

/* The largest DER signature in bytes: two INTEGERs of bytes(q) + 1 content
 * bytes in a SEQUENCE (48 for a 160-bit q); 0 for a key without q. */
MORVANE_EXPORT int DSA_size(const DSA *r);

/* ---- parameters and keys -------------------------------------------------- */

/* New parameters by FIPS 186-2 (SHA-1, a 160-bit q) through the method's
 * paramgen, else built in.  bits below 512 become 512, then bits is rounded
 * up to a multiple of 64; above DSA_MAX_MODULUS_BITS it fails with "modulus
 * too large".  A seed of 20 bytes or more (its first 20 taken) starts the
 * search and makes it reproducible; a shorter one is ignored.  With seed
 * given and seed_len 0, the seed found is written back into it: it must
 * then hold 20 bytes.  *counter_ret and *h_ret (when not null) receive the
 * counter and h of the result.  Progress goes to cb (BN_GENCB_call).  1, or
 * 0 on failure or a stop by the callback. */
MORVANE_EXPORT int DSA_generate_parameters_ex(DSA *dsa, int bits, unsigned char *seed,
                                              int seed_len, int *counter_ret,
                                              unsigned long *h_ret, BN_GENCB *cb);
/* The same on a new key with an old-style callback (a version-1 BN_GENCB
 * over callback and cb_arg): the key, or null. */
MORVANE_EXPORT DSA *DSA_generate_parameters(int bits, unsigned char *seed, int seed_len,
                                            int *counter_ret, unsigned long *h_ret,
                                            void (*callback)(int, int, void *), void *cb_arg);
/* Through the method's keygen, else built in: x (the key's own number when
 * it has one) drawn uniformly in [1, q), y = g^x mod p (in constant time
 * unless DSA_FLAG_PLAIN_EXP).  1 or 0. */
MORVANE_EXPORT int DSA_generate_key(DSA *dsa);

/* ---- signatures ------------------------------------------------------------ */

/* Through the method: a new signature of the dlen-byte digest (taken whole
 * as a number, not cut), or null.  Built in: a digest longer than bytes(q)
 * or 50 bytes is refused with "data too large for key size", a negative dlen
 * with "invalid digest length"; a precomputed
 * pair is taken and cleared, else a fresh one is made; r or s zero draws a
 * new nonce, or fails with "BN lib" when the pair was precomputed. */
MORVANE_EXPORT DSA_SIG *DSA_do_sign(const unsigned char *dgst, int dlen, DSA *dsa);
/* Through the method: a fresh kinv = k^-1 mod q and r = (g^k mod p) mod q
 * into *kinvp and *rp (the old numbers there wiped and freed); ctx_in may be
 * null.  DSA_sign_setup(dsa, ctx, &dsa->kinv, &dsa->r) precomputes the pair
 * of the next signature.  1 or 0. */
MORVANE_EXPORT int DSA_sign_setup(DSA *dsa, BN_CTX *ctx_in, BIGNUM **kinvp, BIGNUM **rp);
/* Through the method: 1 valid, 0 invalid, -1 error.  Built in: a negative
 * dgst_len is refused ("invalid digest length", -1); q must have 160 bits
 * ("bad q value", -1) and p at most DSA_MAX_MODULUS_BITS ("modulus too
 * large", -1), g and pub_key in [2, p - 1] ("bad g value", "bad public
 * key", -1); r and s must lie in [1, q - 1]; the digest is taken whole.
 * Every result but 1 from the range test on leaves "BN lib" on the queue. */
MORVANE_EXPORT int DSA_do_verify(const unsigned char *dgst, int dgst_len, DSA_SIG *sig,
                                 DSA *dsa);
/* The DER signature of the digest into sig (room for DSA_size(dsa) bytes),
 * its length into *siglen; 1, or 0 with *siglen 0.  The digest is mixed into
 * the random generator's pool first, counted as no entropy (it is public).
 * type is not used. */
MORVANE_EXPORT int DSA_sign(int type, const unsigned char *dgst, int dlen, unsigned char *sig,
                            unsigned int *siglen, DSA *dsa);
/* Verifies the siglen bytes at sigbuf, which must be exactly the DER
 * encoding of one DSA_SIG (no BER form, nothing after it; else -1).  type is
 * not used. */
MORVANE_EXPORT int DSA_verify(int type, const unsigned char *dgst, int dgst_len,
                              const unsigned char *sigbuf, int siglen, DSA *dsa);

/* A new Diffie-Hellman key with copies of p, g, q, pub_key and priv_key
 * (each when present) and length = bits(q) when q is present; null on
 * failure or for a null key.  q makes DH_compute_key check that peers' values
 * lie in the subgroup of order q. */
MORVANE_EXPORT DH *DSA_dup_DH(const DSA *r);

/* ---- DER --------------------------------------------------------------------
 * DSA_SIG: SEQUENCE { r, s } (DSA_SIG_new gives r = s = null; the free
 * functions wipe both).  DSAPrivateKey: SEQUENCE { version, p, q, g,
 * pub_key, priv_key }.  DSAparams: SEQUENCE { p, q, g }.  DSAPublicKey: the
 * bare INTEGER pub_key when write_params is 0, else SEQUENCE { pub_key, p, q,
 * g }; decoding sets write_params from the form found.  The key decoders
 * make a complete key (DSA_new); the usual d2i/i2d conventions apply. */
/* BEGIN ITEMS (generated by tools/gen_asn1_items.py) */
MORVANE_EXPORT extern const ASN1_ITEM DSA_SIG_it;
MORVANE_EXPORT DSA_SIG *DSA_SIG_new(void);
MORVANE_EXPORT void DSA_SIG_free(DSA_SIG *a);
MORVANE_EXPORT DSA_SIG *d2i_DSA_SIG(DSA_SIG **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_DSA_SIG(DSA_SIG *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM DSAPrivateKey_it;
MORVANE_EXPORT DSA *d2i_DSAPrivateKey(DSA **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_DSAPrivateKey(DSA *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM DSAparams_it;
MORVANE_EXPORT DSA *d2i_DSAparams(DSA **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_DSAparams(DSA *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM DSAPublicKey_it;
MORVANE_EXPORT DSA *d2i_DSAPublicKey(DSA **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_DSAPublicKey(DSA *a, unsigned char **out);
/* END ITEMS */

/* ---- text form ------------------------------------------------------------
 * DSA_print: after `off` blanks, "Private-Key: (N bit)" when priv_key is
 * set, then priv:, pub:, P:, Q:, G: (absent numbers left out); numbers of
 * at most 32 bits print as "v (0xhex)" on their label's line, larger ones as
 * hex octets, 15 a line indented off + 4.  DSAparams_print: "DSA-Parameters:
 * (N bit)" and p:, q:, g: at indent 4.  1, or 0: without p "missing
 * parameters" (nothing is printed), a null key "passed a null parameter",
 * "malloc failure"; a failed write queues nothing.  The _fp forms write to
 * fp through a file stream that leaves it open ("BUF lib" when that cannot
 * be made).  The stream (or FILE) must be valid. */
MORVANE_EXPORT int DSA_print(BIO *bp, const DSA *x, int off);
MORVANE_EXPORT int DSA_print_fp(FILE *fp, const DSA *x, int off);
MORVANE_EXPORT int DSAparams_print(BIO *bp, const DSA *x);
MORVANE_EXPORT int DSAparams_print_fp(FILE *fp, const DSA *x);

/* Registers the texts of library 10 (ERR_LIB_DSA) unless they are registered
 * already. */
MORVANE_EXPORT void ERR_load_DSA_strings(void);

/* BEGIN ERROR CODES (generated by tools/gen_errors.py) */
/* Function codes of library 10 (DSA). */
#define DSA_F_DSAPARAMS_PRINT 100
#define DSA_F_DSAPARAMS_PRINT_FP 101
#define DSA_F_DSA_NEW_METHOD 103
#define DSA_F_DSA_PRINT 104
#define DSA_F_DSA_PRINT_FP 105
#define DSA_F_DSA_SIGN 106
#define DSA_F_DSA_SIGN_SETUP 107
#define DSA_F_DSA_VERIFY 108
#define DSA_F_DSA_SIG_NEW 109
#define DSA_F_D2I_DSA_SIG 110
#define DSA_F_I2D_DSA_SIG 111
#define DSA_F_DSA_DO_SIGN 112
#define DSA_F_DSA_DO_VERIFY 113
#define DSA_F_SIG_CB 114
#define DSA_F_DSA_SET_DEFAULT_METHOD 115
#define DSA_F_DSA_SET_METHOD 116
#define DSA_F_DSA_GENERATE_PARAMETERS 117
#define DSA_F_DSA_BUILTIN_PARAMGEN 118
#define DSA_F_DSA_BUILTIN_KEYGEN 119
/* Reason codes of library 10 (DSA). */
#define DSA_R_DATA_TOO_LARGE_FOR_KEY_SIZE 100
#define DSA_R_MISSING_PARAMETERS 101
#define DSA_R_BAD_Q_VALUE 102
#define DSA_R_MODULUS_TOO_LARGE 103
#define DSA_R_NON_FIPS_METHOD 104
#define DSA_R_OPERATION_NOT_ALLOWED_IN_FIPS_MODE 105
#define DSA_R_KEY_SIZE_TOO_SMALL 106
#define DSA_R_OPERATION_NOT_SUPPORTED 107
#define DSA_R_INVALID_DIGEST_LENGTH 108
#define DSA_R_BAD_G_VALUE 109
#define DSA_R_BAD_PUBLIC_KEY 110
/* END ERROR CODES */

MORVANE_END_DECLS

#endif /* MORVANE_DSA_H */
