/* Morvane: DSA.
 *
 * DSA parameters, keys, signatures and verification.  Failing calls queue
 * errors of library 10 (ERR_LIB_DSA).
 *
 * Null arguments: not built yet, every call fails as above without reading
 * its arguments, null ones included.  The printers (text form, below)
 * refuse a null key with an error and need a valid stream or FILE. */
#ifndef MORVANE_DSA_H
#define MORVANE_DSA_H

#include <stdio.h>

#include <morvane/crypto.h>
#include <morvane/export.h>
#include <morvane/types.h>

MORVANE_BEGIN_DECLS

/* ---- the key and its method ----------------------------------------------
 * Until the DSA implementation lands, the operations below exist under their
 * final names and signatures and fail: each queues ERR_R_DISABLED under this
 * library with its own name as the error data and returns the failure value
 * its comment gives; no argument makes one crash. */

/* A signature (r, s). */
typedef struct DSA_SIG_st {
  BIGNUM *r;
  BIGNUM *s;
} DSA_SIG;

/* The method table. */
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
  int flags;
  BN_MONT_CTX *method_mont_p;
  int references;
  CRYPTO_EX_DATA ex_data;
  const DSA_METHOD *meth;
  ENGINE *engine; /* that supplied meth (one functional reference), or null */
};

/* A new empty key, or null.  (Unbuilt: null.) */
MORVANE_EXPORT DSA *DSA_new(void);
/* Drops one reference and destroys the key at zero; null is accepted.
 * (Unbuilt: a key is left untouched.) */
MORVANE_EXPORT void DSA_free(DSA *r);
/* Adds one reference; 1.  (Unbuilt: 0.) */
MORVANE_EXPORT int DSA_up_ref(DSA *r);
/* The largest DER signature in bytes.  (Unbuilt: 0.) */
MORVANE_EXPORT int DSA_size(const DSA *r);
/* DER signature of the digest into `sig`, its length in *siglen; 1 or 0. */
MORVANE_EXPORT int DSA_sign(int type, const unsigned char *dgst, int dlen, unsigned char *sig,
                            unsigned int *siglen, DSA *dsa);
/* 1 valid, 0 invalid, -1 error. */
MORVANE_EXPORT int DSA_verify(int type, const unsigned char *dgst, int dgst_len,
                              const unsigned char *sigbuf, int siglen, DSA *dsa);
/* The current default method, the built-in one on first use.  (Unbuilt:
 * null.) */
MORVANE_EXPORT const DSA_METHOD *DSA_get_default_method(void);
/* DER: the private key (six INTEGERs), the public key (one INTEGER when
 * write_params is 0) and the parameters (p, q, g).  Decoders give the key or
 * null, encoders the length written or 0 or less. */
MORVANE_EXPORT DSA *d2i_DSAPrivateKey(DSA **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_DSAPrivateKey(const DSA *a, unsigned char **out);
MORVANE_EXPORT DSA *d2i_DSAPublicKey(DSA **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_DSAPublicKey(const DSA *a, unsigned char **out);
MORVANE_EXPORT DSA *d2i_DSAparams(DSA **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_DSAparams(const DSA *a, unsigned char **out);

/* ---- text form ------------------------------------------------------------
 * DSA_print: after `off` blanks, "Private-Key: (N bit)" when priv_key is
 * set, then priv:, pub:, P:, Q:, G: (absent numbers left out), numbers as
 * RSA_print writes them.  DSAparams_print: "DSA-Parameters: (N bit)" and p:,
 * q:, g: at indent 4.  1, or 0: without p "missing parameters" (nothing is
 * printed), a null key "passed a null parameter", "malloc failure"; a
 * failed write queues nothing.  The _fp forms write to fp through a file
 * stream that leaves it open ("BUF lib" when that cannot be made). */
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
/* END ERROR CODES */

MORVANE_END_DECLS

#endif /* MORVANE_DSA_H */
