/* Morvane: Diffie-Hellman.
 *
 * Finite-field Diffie-Hellman: a DH object holds the parameters (the prime p,
 * the generator g, the bit length of private values to draw) and, after key
 * generation, a key pair.  Every key operation goes through the object's
 * method table; the built-in one is DH_Morvane() ("Morvane DH Method").  A
 * DH object is reference-counted (lock CRYPTO_LOCK_DH) and carries extra
 * data of class CRYPTO_EX_INDEX_DH.  Functions return 1 on success and 0 on
 * failure, pointers or null, unless a comment says otherwise; failing calls
 * queue errors of library 5 (ERR_LIB_DH).  The check functions report
 * through their codes and queue nothing, but DH_check's "modulus too
 * large".
 *
 * Parameters, public values and encodings are outside input: every operation
 * refuses, with an error, a modulus above DH_MAX_MODULUS_BITS bits (key
 * generation, the shared secret and DH_check) and a public value outside
 * [2, p - 2]; key generation raises a short private length to a floor.
 *
 * Null arguments: DH_free accepts null (it does nothing); DH_new_method takes
 * a null engine (the default one then); the progress callbacks may be null;
 * DH_check and DH_check_pub_key fail (0, codes 0) on a key without p or g.
 * DHparams_print refuses a null key with an error.  Every other key, number
 * and output pointer must be valid. */
#ifndef MORVANE_DH_H
#define MORVANE_DH_H

#include <stdio.h>

#include <morvane/crypto.h>
#include <morvane/export.h>
#include <morvane/types.h>

MORVANE_BEGIN_DECLS

/* ---- the key and its method ---------------------------------------------- */

/* Flags of a key (copied from its method at creation). */
#define DH_FLAG_MONT_P_CACHED 0x01 /* keep a Montgomery context of p in method_mont_p */
#define DH_FLAG_PLAIN_EXP 0x02     /* no constant-time exponentiation of the private value */

/* The largest modulus that key generation, the shared secret and DH_check
 * accept. */
#define DH_MAX_MODULUS_BITS 10000
/* The floor of the private values that key generation draws, whatever the
 * key's `length` asks (DHparams' privateValueLength comes from a file): twice
 * the security strength of p's size (NIST SP 800-57 Pt. 1, Table 2), that
 * is DH_MIN_PRIVATE_BITS (160) below 2048-bit moduli, 224 below 3072, 256
 * below 7680 and 384 above, and never more than bits(p) - 1. */
#define DH_MIN_PRIVATE_BITS 160

/* Generators that fix the residue of generated primes (see
 * DH_generate_parameters_ex). */
#define DH_GENERATOR_2 2
#define DH_GENERATOR_5 5

/* DH_check codes. */
#define DH_CODE_P_NOT_PRIME 0x01
#define DH_CODE_P_NOT_SAFE 0x02
#define DH_CODE_G_UNCHECKED 0x04
#define DH_CODE_G_UNSUITABLE 0x08
/* DH_check_pub_key codes. */
#define DH_CODE_PUB_TOO_SMALL 0x01
#define DH_CODE_PUB_TOO_LARGE 0x02

/* The method table.  A null generate_key or compute_key is an operation the
 * method does not offer: DH_generate_key (0) and DH_compute_key (-1) fail with
 * "operation not supported by the method"; so do the built-in ones when
 * bn_mod_exp is null. */
struct dh_method {
  const char *name;
  int (*generate_key)(DH *dh);
  int (*compute_key)(unsigned char *key, const BIGNUM *pub_key, DH *dh);
  int (*bn_mod_exp)(const DH *dh, BIGNUM *r, const BIGNUM *a, const BIGNUM *p,
                    const BIGNUM *m, BN_CTX *ctx, BN_MONT_CTX *m_ctx);
  int (*init)(DH *dh);
  int (*finish)(DH *dh);
  int flags;
  char *app_data;
  int (*generate_params)(DH *dh, int prime_len, int generator, BN_GENCB *cb);
};

/* The parameters and key.  Every number may be null; all belong to the key. */
struct dh_st {
  int pad;
  int version;
  BIGNUM *p; /* prime modulus */
  BIGNUM *g; /* generator */
  long length; /* bits of private values to generate; 0: bits(p) - 1 */
  BIGNUM *pub_key;  /* g^x mod p */
  BIGNUM *priv_key; /* x */
  int flags;        /* DH_FLAG_* */
  BN_MONT_CTX *method_mont_p;
  BIGNUM *q; /* the order of g, when known: DH_compute_key then checks peers against it */
  BIGNUM *j;
  unsigned char *seed;
  int seedlen;
  BIGNUM *counter;
  int references;
  CRYPTO_EX_DATA ex_data;
  const DH_METHOD *meth;
  ENGINE *engine; /* that supplied meth (one functional reference), or null */
};

/* A new key with the default method (DH_new_method(NULL)). */
MORVANE_EXPORT DH *DH_new(void);
/* A new key, every number null and `length` 0, one reference.  With an
 * engine, a functional reference to it is taken and its DH method used; with
 * null, the default engine for DH when one is registered, else the default
 * method.  The method's init runs last.  Null on failure ("malloc failure",
 * "ENGINE lib"; a failing init queues nothing of its own). */
MORVANE_EXPORT DH *DH_new_method(ENGINE *engine);
/* Drops one reference; at zero runs the method's finish, releases the
 * engine and the extra data, wipes and frees every number and frees the key.
 * Null is ignored. */
MORVANE_EXPORT void DH_free(DH *dh);
/* Adds one reference; 1 when the count is then above 1. */
MORVANE_EXPORT int DH_up_ref(DH *dh);
/* The built-in method. */
MORVANE_EXPORT const DH_METHOD *DH_Morvane(void);
/* The method new keys take (DH_Morvane() until set); setting it takes no
 * lock: set it before other threads make keys. */
MORVANE_EXPORT void DH_set_default_method(const DH_METHOD *meth);
MORVANE_EXPORT const DH_METHOD *DH_get_default_method(void);
/* Runs the old method's finish, releases the key's engine, installs meth and
 * runs its init (its result ignored); the flags stay.  Always 1. */
MORVANE_EXPORT int DH_set_method(DH *dh, const DH_METHOD *meth);
/* Extra data of class CRYPTO_EX_INDEX_DH. */
MORVANE_EXPORT int DH_get_ex_new_index(long argl, void *argp, CRYPTO_EX_new *new_func,
                                       CRYPTO_EX_dup *dup_func, CRYPTO_EX_free *free_func);
MORVANE_EXPORT int DH_set_ex_data(DH *d, int idx, void *arg);
MORVANE_EXPORT void *DH_get_ex_data(DH *d, int idx);

/* The bytes a shared secret may take: ceil(bits(p) / 8); 0 without p. */
MORVANE_EXPORT int DH_size(const DH *dh);

/* ---- parameters ------------------------------------------------------------ */

/* New parameters through the method's generate_params, else built in: p a
 * safe prime of prime_len bits ((p - 1) / 2 prime too) and g = generator.
 * Generator 2 gives p = 11 mod 24, 5 gives p = 3 mod 10, any other
 * generator an odd p (g is not checked further).  A generator below 2
 * queues "bad generator", a prime_len above DH_MAX_MODULUS_BITS "modulus too
 * large"; every failure then queues "BN lib" and returns 0.  Progress goes
 * to cb (BN_GENCB_call; (3, 0) when p is found). */
MORVANE_EXPORT int DH_generate_parameters_ex(DH *dh, int prime_len, int generator, BN_GENCB *cb);
/* The same with an old-style callback (a version-1 BN_GENCB over callback
 * and cb_arg): a new key, or null. */
MORVANE_EXPORT DH *DH_generate_parameters(int prime_len, int generator,
                                          void (*callback)(int, int, void *), void *cb_arg);

/* Checks the parameters and sets *codes (0 first) to DH_CODE_* bits: for g
 * = 2, G_UNSUITABLE unless p = 11 mod 24; for g = 5, G_UNSUITABLE unless p
 * = 3 or 7 mod 10; for any other g, G_UNCHECKED; P_NOT_PRIME when p fails
 * the probable-prime test, else P_NOT_SAFE when (p - 1) / 2 fails it.  A p
 * above DH_MAX_MODULUS_BITS bits is not checked: 0 with "modulus too large"
 * (the one reason a check queues).  The
 * generator test predates groups whose prime is 23 mod 24, such as the MODP
 * groups of RFC 3526 with g = 2: those get G_UNSUITABLE, though 2 generates
 * the subgroup of order (p - 1) / 2 there.  Returns 1 when the check ran (the
 * verdict is in *codes), 0 when it could not (p or g missing, no memory). */
MORVANE_EXPORT int DH_check(const DH *dh, int *codes);
/* Sets *codes to PUB_TOO_SMALL when pub_key <= 1 and PUB_TOO_LARGE when
 * pub_key >= p - 1, else 0: the accepted range is [2, p - 2].  1, or 0 when
 * the check could not run. */
MORVANE_EXPORT int DH_check_pub_key(const DH *dh, const BIGNUM *pub_key, int *codes);

/* ---- keys and the shared secret ------------------------------------------- */

/* Through the method: a key pair.  Built in: a key that already holds a
 * private value keeps it and only recomputes pub_key = g^x mod p; otherwise
 * x is drawn with exactly l bits, its top bit set (l = length, raised to the
 * floor of DH_MIN_PRIVATE_BITS for p's size, or bits(p) - 1 when length is
 * 0; a negative length fails).  Unless DH_FLAG_PLAIN_EXP is set, the exponentiation
 * runs in constant time on a secret view of x.  Failures queue "BN lib"
 * (or "modulus too large") and return 0. */
MORVANE_EXPORT int DH_generate_key(DH *dh);
/* Through the method: the shared secret pub_key^x mod p into key (room for
 * DH_size(dh) bytes), big-endian without leading zero bytes, so it can be
 * shorter than DH_size; returns its length, or -1.  Built in: a modulus
 * above DH_MAX_MODULUS_BITS bits fails with "modulus too large" before
 * anything else, a key without private value with "no private value"; a
 * public value outside [2, p - 2], or, when the key's q is set, one whose
 * q-th power is not 1 mod p (a value outside the subgroup of order q, which
 * would give away the private value bit by bit), fails with "invalid public
 * key".  The private value takes the constant-time exponentiation through a
 * secret view unless DH_FLAG_PLAIN_EXP is set. */
MORVANE_EXPORT int DH_compute_key(unsigned char *key, const BIGNUM *pub_key, DH *dh);

/* ---- DER --------------------------------------------------------------------
 * DHparams: SEQUENCE { p INTEGER, g INTEGER, length INTEGER OPTIONAL }, the
 * last omitted when length is 0.  Decoding makes a complete key (DH_new);
 * the usual d2i/i2d conventions apply. */
/* BEGIN ITEMS (generated by tools/gen_asn1_items.py) */
MORVANE_EXPORT extern const ASN1_ITEM DHparams_it;
MORVANE_EXPORT DH *d2i_DHparams(DH **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_DHparams(DH *a, unsigned char **out);
/* END ITEMS */

/* ---- text form ------------------------------------------------------------
 * "Diffie-Hellman-Parameters: (N bit)", prime: and generator: at indent 4
 * (numbers of at most 32 bits as "v (0xhex)" on their label's line, larger
 * ones as hex octets, 15 a line) and, when length is set, the recommended
 * private length.  1, or 0 with "passed a null parameter" (no key or no p),
 * "malloc failure" or "BUF lib" (a failed write).  DHparams_print_fp writes
 * to fp through a file stream that leaves it open.  The stream (or FILE)
 * must be valid. */
MORVANE_EXPORT int DHparams_print(BIO *bp, const DH *x);
MORVANE_EXPORT int DHparams_print_fp(FILE *fp, const DH *x);

/* Registers the texts of library 5 (ERR_LIB_DH) unless they are registered
 * already. */
MORVANE_EXPORT void ERR_load_DH_strings(void);

/* BEGIN ERROR CODES (generated by tools/gen_errors.py) */
/* Function codes of library 5 (DH). */
#define DH_F_DHPARAMS_PRINT 100
#define DH_F_DHPARAMS_PRINT_FP 101
#define DH_F_COMPUTE_KEY 102
#define DH_F_GENERATE_KEY 103
#define DH_F_GENERATE_PARAMETERS 104
#define DH_F_DH_NEW_METHOD 105
#define DH_F_DH_BUILTIN_GENPARAMS 106
#define DH_F_DH_COMPUTE_KEY 107
#define DH_F_DH_GENERATE_KEY 108
#define DH_F_DH_GENERATE_PARAMETERS 109
#define DH_F_DH_CHECK 110
/* Reason codes of library 5 (DH). */
#define DH_R_NO_PRIVATE_VALUE 100
#define DH_R_BAD_GENERATOR 101
#define DH_R_INVALID_PUBLIC_KEY 102
#define DH_R_MODULUS_TOO_LARGE 103
#define DH_R_KEY_SIZE_TOO_SMALL 104
#define DH_R_OPERATION_NOT_SUPPORTED 105
/* END ERROR CODES */

MORVANE_END_DECLS

#endif /* MORVANE_DH_H */
