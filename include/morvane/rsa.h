/* Morvane: RSA.
 *
 * RSA keys, their generation and checks, encryption, signatures and paddings.
 * Failing calls queue errors of library 4 (ERR_LIB_RSA).
 *
 * Null arguments: not built yet, every call fails as above without reading
 * its arguments, null ones included.  The printers (text form, below)
 * refuse a null key with an error and need a valid stream or FILE. */
#ifndef MORVANE_RSA_H
#define MORVANE_RSA_H

#include <stdio.h>

#include <morvane/crypto.h>
#include <morvane/export.h>
#include <morvane/types.h>

MORVANE_BEGIN_DECLS

/* ---- the key and its method ----------------------------------------------
 * Until the RSA implementation lands, the operations below exist under their
 * final names and signatures and fail: each queues ERR_R_DISABLED under this
 * library with its own name as the error data and returns the failure value
 * its comment gives; no argument makes one crash. */

/* Padding identifiers. */
#define RSA_PKCS1_PADDING 1
#define RSA_SSLV23_PADDING 2
#define RSA_NO_PADDING 3
#define RSA_PKCS1_OAEP_PADDING 4
#define RSA_X931_PADDING 5

/* The method table: the four raw operations and the key's life. */
struct rsa_meth_st {
  const char *name;
  int (*rsa_pub_enc)(int flen, const unsigned char *from, unsigned char *to, RSA *rsa,
                     int padding);
  int (*rsa_pub_dec)(int flen, const unsigned char *from, unsigned char *to, RSA *rsa,
                     int padding);
  int (*rsa_priv_enc)(int flen, const unsigned char *from, unsigned char *to, RSA *rsa,
                      int padding);
  int (*rsa_priv_dec)(int flen, const unsigned char *from, unsigned char *to, RSA *rsa,
                      int padding);
  int (*rsa_mod_exp)(BIGNUM *r0, const BIGNUM *I, RSA *rsa, BN_CTX *ctx); /* r0 = I^d mod n */
  int (*bn_mod_exp)(BIGNUM *r, const BIGNUM *a, const BIGNUM *p, const BIGNUM *m, BN_CTX *ctx,
                    BN_MONT_CTX *m_ctx);
  int (*init)(RSA *rsa);
  int (*finish)(RSA *rsa);
  int flags;
  char *app_data;
  int (*rsa_sign)(int type, const unsigned char *m, unsigned int m_length, unsigned char *sigret,
                  unsigned int *siglen, const RSA *rsa);
  int (*rsa_verify)(int dtype, const unsigned char *m, unsigned int m_length,
                    const unsigned char *sigbuf, unsigned int siglen, const RSA *rsa);
  int (*rsa_keygen)(RSA *rsa, int bits, BIGNUM *e, BN_GENCB *cb);
};

/* The key.  Every number may be null; all belong to the key. */
struct rsa_st {
  int pad;
  long version; /* of the RSAPrivateKey encoding */
  const RSA_METHOD *meth;
  ENGINE *engine; /* that supplied meth (one functional reference), or null */
  BIGNUM *n;      /* modulus */
  BIGNUM *e;      /* public exponent */
  BIGNUM *d;      /* private exponent */
  BIGNUM *p, *q;  /* prime factors */
  BIGNUM *dmp1;   /* d mod (p-1) */
  BIGNUM *dmq1;   /* d mod (q-1) */
  BIGNUM *iqmp;   /* q^-1 mod p */
  CRYPTO_EX_DATA ex_data;
  int references;
  int flags;
  BN_MONT_CTX *_method_mod_n, *_method_mod_p, *_method_mod_q;
  char *bignum_data;
  BN_BLINDING *blinding;
  BN_BLINDING *mt_blinding;
};

/* Drops one reference and destroys the key at zero; null is accepted.
 * (Unbuilt: a key is left untouched.) */
MORVANE_EXPORT void RSA_free(RSA *r);
/* Adds one reference; 1.  (Unbuilt: 0.) */
MORVANE_EXPORT int RSA_up_ref(RSA *r);
/* The modulus length in bytes.  (Unbuilt: 0.) */
MORVANE_EXPORT int RSA_size(const RSA *r);
/* PKCS#1 signature of the digest `m` of algorithm `type` into `sigret`
 * (RSA_size bytes), its length in *siglen; 1 or 0. */
MORVANE_EXPORT int RSA_sign(int type, const unsigned char *m, unsigned int m_length,
                            unsigned char *sigret, unsigned int *siglen, RSA *rsa);
/* 1 when `sigbuf` is a valid signature of the digest `m`, else 0. */
MORVANE_EXPORT int RSA_verify(int type, const unsigned char *m, unsigned int m_length,
                              const unsigned char *sigbuf, unsigned int siglen, RSA *rsa);
/* Encrypts `flen` bytes with the public key; the output length or -1. */
MORVANE_EXPORT int RSA_public_encrypt(int flen, const unsigned char *from, unsigned char *to,
                                      RSA *rsa, int padding);
/* Decrypts with the private key; the recovered length or -1. */
MORVANE_EXPORT int RSA_private_decrypt(int flen, const unsigned char *from, unsigned char *to,
                                       RSA *rsa, int padding);
/* The current default method, the built-in one on first use.  (Unbuilt:
 * null.) */
MORVANE_EXPORT const RSA_METHOD *RSA_get_default_method(void);
/* PKCS#1 RSAPrivateKey and RSAPublicKey in DER: decoders give the key or
 * null, encoders the length written or 0 or less. */
MORVANE_EXPORT RSA *d2i_RSAPrivateKey(RSA **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_RSAPrivateKey(const RSA *a, unsigned char **out);
MORVANE_EXPORT RSA *d2i_RSAPublicKey(RSA **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_RSAPublicKey(const RSA *a, unsigned char **out);

/* ---- text form ------------------------------------------------------------
 * The key after `off` blanks: a private key (one with d) as "Private-Key:
 * (N bit)" and modulus:, publicExponent:, privateExponent:, prime1:,
 * prime2:, exponent1:, exponent2:, coefficient:; a public key as "Modulus (N
 * bit):" and Exponent:.  Numbers of at most 32 bits print as "v (0xhex)" on
 * their label's line, larger ones as hex octets, 15 a line indented off + 4;
 * absent numbers are left out.  1, or 0 (a null key: "passed a null
 * parameter"; no memory: "malloc failure"; a failed write: no error).
 * RSA_print_fp writes to fp through a file stream that leaves it open
 * ("BUF lib" when that cannot be made).  These printers work on any key
 * whose fields are set, built or not. */
MORVANE_EXPORT int RSA_print(BIO *bp, const RSA *x, int off);
MORVANE_EXPORT int RSA_print_fp(FILE *fp, const RSA *x, int off);

/* Registers the texts of library 4 (ERR_LIB_RSA) unless they are registered
 * already. */
MORVANE_EXPORT void ERR_load_RSA_strings(void);

/* BEGIN ERROR CODES (generated by tools/gen_errors.py) */
/* Function codes of library 4 (RSA). */
#define RSA_F_MEMORY_LOCK 100
#define RSA_F_RSA_VEK_PRIVATE_DECRYPT 101
#define RSA_F_RSA_VEK_PRIVATE_ENCRYPT 102
#define RSA_F_RSA_VEK_PUBLIC_DECRYPT 103
#define RSA_F_RSA_VEK_PUBLIC_ENCRYPT 104
#define RSA_F_RSA_GENERATE_KEY 105
#define RSA_F_RSA_NEW_METHOD 106
#define RSA_F_RSA_PADDING_ADD_NONE 107
#define RSA_F_RSA_PADDING_ADD_PKCS1_TYPE_1 108
#define RSA_F_RSA_PADDING_ADD_PKCS1_TYPE_2 109
#define RSA_F_RSA_PADDING_ADD_SSLV23 110
#define RSA_F_RSA_PADDING_CHECK_NONE 111
#define RSA_F_RSA_PADDING_CHECK_PKCS1_TYPE_1 112
#define RSA_F_RSA_PADDING_CHECK_PKCS1_TYPE_2 113
#define RSA_F_RSA_PADDING_CHECK_SSLV23 114
#define RSA_F_RSA_PRINT 115
#define RSA_F_RSA_PRINT_FP 116
#define RSA_F_RSA_SIGN 117
#define RSA_F_RSA_SIGN_ASN1_OCTET_STRING 118
#define RSA_F_RSA_VERIFY 119
#define RSA_F_RSA_VERIFY_ASN1_OCTET_STRING 120
#define RSA_F_RSA_PADDING_ADD_PKCS1_OAEP 121
#define RSA_F_RSA_PADDING_CHECK_PKCS1_OAEP 122
#define RSA_F_RSA_CHECK_KEY 123
#define RSA_F_RSA_NULL 124
#define RSA_F_RSA_PADDING_ADD_PKCS1_PSS 125
#define RSA_F_RSA_VERIFY_PKCS1_PSS 126
#define RSA_F_RSA_PADDING_ADD_X931 127
#define RSA_F_RSA_PADDING_CHECK_X931 128
#define RSA_F_RSA_BUILTIN_KEYGEN 129
#define RSA_F_RSA_MEMORY_LOCK 130
#define RSA_F_RSA_NULL_MOD_EXP 131
#define RSA_F_RSA_NULL_PRIVATE_DECRYPT 132
#define RSA_F_RSA_NULL_PRIVATE_ENCRYPT 133
#define RSA_F_RSA_NULL_PUBLIC_DECRYPT 134
#define RSA_F_RSA_NULL_PUBLIC_ENCRYPT 135
#define RSA_F_RSA_SETUP_BLINDING 136
#define RSA_F_RSA_PRIVATE_ENCRYPT 137
#define RSA_F_RSA_PUBLIC_DECRYPT 138
#define RSA_F_RSA_SET_DEFAULT_METHOD 139
#define RSA_F_FIPS_RSA_SIGN 140
#define RSA_F_FIPS_RSA_VERIFY 141
#define RSA_F_RSA_SET_METHOD 142
/* Reason codes of library 4 (RSA). */
#define RSA_R_ALGORITHM_MISMATCH 100
#define RSA_R_BAD_E_VALUE 101
#define RSA_R_BAD_FIXED_HEADER_DECRYPT 102
#define RSA_R_BAD_PAD_BYTE_COUNT 103
#define RSA_R_BAD_SIGNATURE 104
#define RSA_R_MODULUS_TOO_LARGE 105
#define RSA_R_BLOCK_TYPE_IS_NOT_01 106
#define RSA_R_BLOCK_TYPE_IS_NOT_02 107
#define RSA_R_DATA_GREATER_THAN_MOD_LEN 108
#define RSA_R_DATA_TOO_LARGE 109
#define RSA_R_DATA_TOO_LARGE_FOR_KEY_SIZE 110
#define RSA_R_DATA_TOO_SMALL 111
#define RSA_R_DIGEST_TOO_BIG_FOR_RSA_KEY 112
#define RSA_R_NULL_BEFORE_BLOCK_MISSING 113
#define RSA_R_PADDING_CHECK_FAILED 114
#define RSA_R_SSLV3_ROLLBACK_ATTACK 115
#define RSA_R_THE_ASN1_OBJECT_IDENTIFIER_IS_NOT_KNOWN_FOR_THIS_MD 116
#define RSA_R_UNKNOWN_ALGORITHM_TYPE 117
#define RSA_R_UNKNOWN_PADDING_TYPE 118
#define RSA_R_WRONG_SIGNATURE_LENGTH 119
#define RSA_R_KEY_SIZE_TOO_SMALL 120
#define RSA_R_OAEP_DECODING_ERROR 121
#define RSA_R_DATA_TOO_SMALL_FOR_KEY_SIZE 122
#define RSA_R_D_E_NOT_CONGRUENT_TO_1 123
#define RSA_R_DMP1_NOT_CONGRUENT_TO_D 124
#define RSA_R_DMQ1_NOT_CONGRUENT_TO_D 125
#define RSA_R_IQMP_NOT_INVERSE_OF_Q 126
#define RSA_R_N_DOES_NOT_EQUAL_P_Q 127
#define RSA_R_P_NOT_PRIME 128
#define RSA_R_Q_NOT_PRIME 129
#define RSA_R_RSA_OPERATIONS_NOT_SUPPORTED 130
#define RSA_R_INVALID_MESSAGE_LENGTH 131
#define RSA_R_DATA_TOO_LARGE_FOR_MODULUS 132
#define RSA_R_FIRST_OCTET_INVALID 133
#define RSA_R_LAST_OCTET_INVALID 134
#define RSA_R_SALT_LENGTH_RECOVERY_FAILED 135
#define RSA_R_SALT_LENGTH_CHECK_FAILED 136
#define RSA_R_INVALID_HEADER 137
#define RSA_R_INVALID_PADDING 138
#define RSA_R_INVALID_TRAILER 139
#define RSA_R_NO_PUBLIC_EXPONENT 140
#define RSA_R_NON_FIPS_METHOD 141
#define RSA_R_OPERATION_NOT_ALLOWED_IN_FIPS_MODE 142
/* END ERROR CODES */

MORVANE_END_DECLS

#endif /* MORVANE_RSA_H */
