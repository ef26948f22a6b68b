/* Morvane: RSA.
 *
 * RSA keys, their generation and checks, encryption, signatures and paddings.
 * Failing calls queue errors of library 4 (ERR_LIB_RSA).
 *
 * Null arguments.  RSA_free and RSA_flags take a null key (doing nothing,
 * answering 0); RSA_new_method a null engine
 * (the default one) and RSA_setup_blinding a null BN_CTX (one of its own);
 * the OAEP functions a null label (an empty one, whatever plen says; a label
 * with a negative plen is refused with "invalid length").  Every
 * other key, method, digest and buffer must be given; the four operations and
 * the PSS functions refuse a key without a modulus ("passed a null
 * parameter" and -1, or "data too large").  RSA_X931_derive_ex takes a null
 * key (0) and null starting values (nothing derived from them); the
 * generators a null callback; RSA_check_key refuses a key without n, e, d, p
 * or q ("passed a null parameter", -1).  The DER coders follow
 * morvane/asn1.h.  The printers (text form, below) refuse a null key with an
 * error and need a valid stream or FILE. */
#ifndef MORVANE_RSA_H
#define MORVANE_RSA_H

#include <stdio.h>

#include <morvane/crypto.h>
#include <morvane/export.h>
#include <morvane/types.h>

MORVANE_BEGIN_DECLS

/* ---- the key and its method ----------------------------------------------
 * An RSA key holds its numbers (all owned by the key and wiped when freed), a
 * reference count changed under lock CRYPTO_LOCK_RSA, its flags, lazily made
 * Montgomery contexts and blindings, application data (ex_data class
 * CRYPTO_EX_INDEX_RSA) and the method that performs the four raw operations.
 * The default method computes public operations by plain exponentiation and
 * private ones by the Chinese Remainder Theorem with a check of the result,
 * behind a random blinding of the input.  Every private result, whatever
 * the method's rsa_mod_exp, is checked against e (a CRT result of the
 * built-in one that fails is replaced by the exponentiation by d, checked in
 * turn); for a key without e the result must equal the one by d, and a key
 * with neither e nor d is refused ("no public exponent").  A result that
 * fails is refused ("private result check failed"): a faulty one could
 * reveal a prime.
 *
 * The four operations take `flen` bytes at `from` and write at most
 * RSA_size(rsa) bytes to `to`; they return the output length or -1 with the
 * reason queued.  Private decryption works on a block of RSA_size bytes and
 * checks its padding without branches or addresses that depend on it; the
 * distinct padding reasons it queues (and the -1 itself) must not be revealed
 * to whoever supplied the ciphertext: an application that tells them apart
 * gives an attacker a padding oracle.
 */

/* Padding identifiers (the `padding` argument of the four operations). */
#define RSA_PKCS1_PADDING 1 /* PKCS#1 v1.5: block type 1 private, type 2 public */
#define RSA_SSLV23_PADDING 2
#define RSA_NO_PADDING 3
#define RSA_PKCS1_OAEP_PADDING 4 /* SHA-1 and MGF1 with SHA-1 */
#define RSA_X931_PADDING 5
/* Bytes that PKCS#1 v1.5 padding adds around a message: 0x00, the type, at
 * least eight padding bytes, 0x00. */
#define RSA_PKCS1_PADDING_SIZE 11

/* Key flags (RSA.flags, copied from the method's flags when a key is made). */
#define RSA_FLAG_CACHE_PUBLIC 0x0002  /* keep a Montgomery context of n */
#define RSA_FLAG_CACHE_PRIVATE 0x0004 /* keep Montgomery contexts of p and q */
#define RSA_FLAG_BLINDING 0x0008      /* blinding switched on explicitly */
#define RSA_FLAG_EXT_PKEY 0x0020      /* private operations always use rsa_mod_exp */
#define RSA_FLAG_SIGN_VER 0x0040      /* sign and verify through rsa_sign/rsa_verify */
#define RSA_FLAG_NO_BLINDING 0x0080   /* private operations without blinding */
#define RSA_FLAG_NO_CONSTTIME 0x0100  /* secret numbers not marked BN_FLAG_SECRET */
#define RSA_FLAG_METHOD_ONLY 0x0400   /* a method flag never copied into a key */

/* Salt lengths of PSS with a meaning of their own. */
#define RSA_PSS_SALTLEN_DIGEST (-1) /* as long as the digest */
#define RSA_PSS_SALTLEN_MAX (-2)    /* signing: the largest; verifying: from the block */

/* The method table: the four raw operations and the key's life.  The
 * built-in operations call two of its slots: rsa_mod_exp for the private
 * ones when the key has its CRT numbers (always with RSA_FLAG_EXT_PKEY), and
 * bn_mod_exp for the other exponentiations, the built-in rsa_mod_exp's
 * included.  A null slot they need is an exponentiation the method does not
 * offer: they fail with "rsa operations not supported". */
struct rsa_meth_st {
  const char* name;
  int (*rsa_pub_enc)(int flen, const unsigned char* from, unsigned char* to, RSA* rsa, int padding);
  int (*rsa_pub_dec)(int flen, const unsigned char* from, unsigned char* to, RSA* rsa, int padding);
  int (*rsa_priv_enc)(int flen, const unsigned char* from, unsigned char* to, RSA* rsa,
                      int padding);
  int (*rsa_priv_dec)(int flen, const unsigned char* from, unsigned char* to, RSA* rsa,
                      int padding);
  int (*rsa_mod_exp)(BIGNUM* r0, const BIGNUM* I, RSA* rsa, BN_CTX* ctx); /* r0 = I^d mod n */
  int (*bn_mod_exp)(BIGNUM* r, const BIGNUM* a, const BIGNUM* p, const BIGNUM* m, BN_CTX* ctx,
                    BN_MONT_CTX* m_ctx);
  int (*init)(RSA* rsa);   /* runs last when a key is made */
  int (*finish)(RSA* rsa); /* runs first when a key is freed */
  int flags;               /* RSA_FLAG_* */
  char* app_data;
  int (*rsa_sign)(int type, const unsigned char* m, unsigned int m_length, unsigned char* sigret,
                  unsigned int* siglen, const RSA* rsa);
  int (*rsa_verify)(int dtype, const unsigned char* m, unsigned int m_length,
                    const unsigned char* sigbuf, unsigned int siglen, const RSA* rsa);
  int (*rsa_keygen)(RSA* rsa, int bits, BIGNUM* e, BN_GENCB* cb);
};

/* The key.  Every number may be null; all belong to the key. */
struct rsa_st {
  int pad;
  long version; /* of the RSAPrivateKey encoding */
  const RSA_METHOD* meth;
  ENGINE* engine; /* that supplied meth (one functional reference), or null */
  BIGNUM* n;      /* modulus */
  BIGNUM* e;      /* public exponent */
  BIGNUM* d;      /* private exponent */
  BIGNUM *p, *q;  /* prime factors */
  BIGNUM* dmp1;   /* d mod (p-1) */
  BIGNUM* dmq1;   /* d mod (q-1) */
  BIGNUM* iqmp;   /* q^-1 mod p */
  CRYPTO_EX_DATA ex_data;
  int references;
  int flags; /* RSA_FLAG_* */
  BN_MONT_CTX *_method_mod_n, *_method_mod_p, *_method_mod_q;
  char* bignum_data;        /* locked block holding the private numbers, or null */
  BN_BLINDING* blinding;    /* owned by the thread recorded in it */
  BN_BLINDING* mt_blinding; /* shared by every other thread, under CRYPTO_LOCK_RSA_BLINDING */
};

/* RSA_new_method(NULL). */
MORVANE_EXPORT RSA* RSA_new(void);
/* A key with one reference and no numbers, using `engine`'s RSA method (a
 * functional reference is taken), else the default engine's, else the default
 * method; the method's init runs last.  Null on failure ("malloc failure",
 * "ENGINE lib"). */
MORVANE_EXPORT RSA* RSA_new_method(ENGINE* engine);
/* Drops one reference; at zero runs the method's finish, releases the
 * engine and the application data, wipes and frees every number, the
 * blindings and the key.  Null is accepted. */
MORVANE_EXPORT void RSA_free(RSA* r);
/* Adds one reference; 1 when the key now has more than one, else 0. */
MORVANE_EXPORT int RSA_up_ref(RSA* r);
/* Replaces the key's method: the old finish runs, the engine is released, the
 * new init runs (its result is not looked at).  The key's flags stay.  1. */
MORVANE_EXPORT int RSA_set_method(RSA* rsa, const RSA_METHOD* meth);
MORVANE_EXPORT const RSA_METHOD* RSA_get_method(const RSA* rsa);
/* The process-wide default method (RSA_PKCS1_Quorix until set), which keys
 * made afterwards use.  Not locked: set it before other threads make keys. */
MORVANE_EXPORT void RSA_set_default_method(const RSA_METHOD* meth);
MORVANE_EXPORT const RSA_METHOD* RSA_get_default_method(void);
/* The built-in method ("Tamsel's PKCS#1 RSA"). */
MORVANE_EXPORT const RSA_METHOD* RSA_PKCS1_Quorix(void);
/* A method ("Null RSA") whose four operations fail with "rsa operations not
 * supported". */
MORVANE_EXPORT const RSA_METHOD* RSA_null_method(void);
/* The flags of the key's method (not the key's own), 0 for null. */
MORVANE_EXPORT int RSA_flags(const RSA* r);
/* Application data of keys (ex_data class CRYPTO_EX_INDEX_RSA). */
MORVANE_EXPORT int RSA_get_ex_new_index(long argl, void* argp, CRYPTO_EX_new* new_func,
                                        CRYPTO_EX_dup* dup_func, CRYPTO_EX_free* free_func);
MORVANE_EXPORT int RSA_set_ex_data(RSA* r, int idx, void* arg);
MORVANE_EXPORT void* RSA_get_ex_data(const RSA* r, int idx);
/* The modulus length in bytes. */
MORVANE_EXPORT int RSA_size(const RSA* r);

/* The four raw operations, dispatched to the key's method; a method whose
 * slot is null does not offer that operation (-1, "rsa operations not
 * supported").  Public-key operations accept padding 1 (type 2), 2, 3 and 4
 * for encryption and 1 (type 1), 3 and 5 for decryption; private-key ones 1
 * (type 1), 3 and 5 for encryption and 1 (type 2), 2, 3 and 4 for
 * decryption. */
MORVANE_EXPORT int RSA_public_encrypt(int flen, const unsigned char* from, unsigned char* to,
                                      RSA* rsa, int padding);
MORVANE_EXPORT int RSA_private_encrypt(int flen, const unsigned char* from, unsigned char* to,
                                       RSA* rsa, int padding);
MORVANE_EXPORT int RSA_public_decrypt(int flen, const unsigned char* from, unsigned char* to,
                                      RSA* rsa, int padding);
MORVANE_EXPORT int RSA_private_decrypt(int flen, const unsigned char* from, unsigned char* to,
                                       RSA* rsa, int padding);

/* A new blinding for the key, owned by the calling thread (its id recorded);
 * the public exponent is derived from d, p and q when the key has none.
 * Null on failure ("no public exponent", "BN lib", "malloc failure"). */
MORVANE_EXPORT BN_BLINDING* RSA_setup_blinding(RSA* rsa, BN_CTX* ctx);

/* ---- signatures -----------------------------------------------------------
 * PKCS#1 v1.5 signatures (RFC 8017, 8.2) over a DigestInfo: `m` is the digest
 * (m_length bytes) made with the digest of NID `type`; NID 114 (MD5-SHA1)
 * signs the 36 bytes of an MD5 and a SHA-1 digest without DigestInfo.
 * sigret has room for RSA_size bytes; *siglen receives the length.  Both
 * return 1 or 0 (never -1) with the reason queued.  A key whose flags have
 * RSA_FLAG_SIGN_VER and whose method has rsa_sign / rsa_verify hands the
 * call to the method.
 *
 * RSA_verify accepts only a DigestInfo in DER that fills the whole recovered
 * block: a BER form, trailing bytes or a parameter other than NULL is "bad
 * signature"; an absent parameter is accepted.  A signature whose
 * DigestInfo names md5WithRSAEncryption (md2WithRSAEncryption) verifies for
 * NID 4, MD5 (NID 3, MD2), with a note on standard error. */
MORVANE_EXPORT int RSA_sign(int type, const unsigned char* m, unsigned int m_length,
                            unsigned char* sigret, unsigned int* siglen, RSA* rsa);
MORVANE_EXPORT int RSA_verify(int type, const unsigned char* m, unsigned int m_length,
                              const unsigned char* sigbuf, unsigned int siglen, RSA* rsa);
/* The same over the DER OCTET STRING holding m instead of a DigestInfo
 * (`type` is not used); the recovered OCTET STRING must be DER and fill the
 * block. */
MORVANE_EXPORT int RSA_sign_ASN1_OCTET_STRING(int type, const unsigned char* m,
                                              unsigned int m_length, unsigned char* sigret,
                                              unsigned int* siglen, RSA* rsa);
MORVANE_EXPORT int RSA_verify_ASN1_OCTET_STRING(int type, const unsigned char* m,
                                                unsigned int m_length, unsigned char* sigbuf,
                                                unsigned int siglen, RSA* rsa);

/* ---- key generation and the key check --------------------------------------
 * Generation fills `rsa` in place through the method's rsa_keygen, else the
 * built-in generator: p of (bits + 1) / 2 bits and q of the rest, both with
 * gcd(prime - 1, e) = 1, p > q, d = e^-1 mod (p-1)(q-1).  The callback gets
 * (2, count) for each prime refused for its gcd with e and (3, 0), (3, 1)
 * when p, q are found, besides the prime search's own events.  An even e or
 * one below 3 is "bad e value"; 1 or 0 ("BN lib" for a failed step or a
 * stopping callback). */
MORVANE_EXPORT int RSA_generate_key_ex(RSA* rsa, int bits, BIGNUM* e, BN_GENCB* cb);
/* The older form: a new key with the public exponent e (all 64 bits of it)
 * and a version-1 callback; null on failure. */
MORVANE_EXPORT RSA* RSA_generate_key(int bits, unsigned long e,
                                     void (*callback)(int, int, void *), void* cb_arg);
/* ANSI X9.31 key derivation from the starting values of p (Xp1, Xp2, Xp) and
 * q (Xq1, Xq2, Xq): the key's e is kept (else a copy of e taken), and p, q
 * only derived when missing; the auxiliary primes go to p1, p2, q1, q2 when
 * given.  d = e^-1 mod lcm(p-1, q-1).  1; 2 when p or q is still missing
 * (nothing more derived); 0 on failure (no reason queued). */
MORVANE_EXPORT int RSA_X931_derive_ex(RSA* rsa, BIGNUM* p1, BIGNUM* p2, BIGNUM* q1, BIGNUM* q2,
                                      const BIGNUM* Xp1, const BIGNUM* Xp2, const BIGNUM* Xp,
                                      const BIGNUM* Xq1, const BIGNUM* Xq2, const BIGNUM* Xq,
                                      const BIGNUM* e, BN_GENCB* cb);
/* A new X9.31 key of `bits` bits (at least 1024, a multiple of 256) with
 * random starting values; 1 or 0 (no reason queued). */
MORVANE_EXPORT int RSA_X931_generate_key_ex(RSA* rsa, int bits, const BIGNUM* e, BN_GENCB* cb);
/* Checks a private key: p and q prime, n = p q, d e = 1 mod lcm(p-1, q-1)
 * and, when dmp1, dmq1 and iqmp are all present, those three.  Every test
 * runs and queues its reason: 1 valid, 0 invalid, -1 on an error (a missing
 * n, e, d, p or q: "passed a null parameter").  Before them, p = q ("p
 * equals q", 0 at once) and e = 1 ("bad e value") are refused. */
MORVANE_EXPORT int RSA_check_key(const RSA* key);

/* ---- blinding and locked memory ------------------------------------------ */
/* A new blinding owned by the calling thread (ctx may be null); sets
 * RSA_FLAG_BLINDING and clears RSA_FLAG_NO_BLINDING.  1 or 0. */
MORVANE_EXPORT int RSA_blinding_on(RSA* rsa, BN_CTX* ctx);
/* Frees the thread-owned blinding, clears RSA_FLAG_BLINDING and sets
 * RSA_FLAG_NO_BLINDING. */
MORVANE_EXPORT void RSA_blinding_off(RSA* rsa);
/* Moves d, p, q, dmp1, dmq1 and iqmp into one block of locked memory (wiped
 * and released by RSA_free) and stops caching Montgomery contexts.  1; 1 and
 * nothing done for a key without d; 0 when memory runs out or one of the
 * other five is missing ("passed a null parameter"). */
MORVANE_EXPORT int RSA_memory_lock(RSA* r);

/* ---- DER: RSAPrivateKey and RSAPublicKey (RFC 8017, A.1) -------------------
 * Decoding makes a key with RSA_new (the default method); freeing goes
 * through RSA_free.  RSAPrivateKey_asn1_meth is the old-style codec table of
 * private keys. */
MORVANE_EXPORT const ASN1_METHOD* RSAPrivateKey_asn1_meth(void);
/* BEGIN ITEMS (generated by tools/gen_asn1_items.py) */
MORVANE_EXPORT extern const ASN1_ITEM RSAPrivateKey_it;
MORVANE_EXPORT RSA *d2i_RSAPrivateKey(RSA **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_RSAPrivateKey(RSA *a, unsigned char **out);
MORVANE_EXPORT RSA *RSAPrivateKey_dup(RSA *a);
MORVANE_EXPORT extern const ASN1_ITEM RSAPublicKey_it;
MORVANE_EXPORT RSA *d2i_RSAPublicKey(RSA **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_RSAPublicKey(RSA *a, unsigned char **out);
MORVANE_EXPORT RSA *RSAPublicKey_dup(RSA *a);
/* END ITEMS */

/* ---- paddings ---------------------------------------------------------------
 * Each scheme has an add function, run before the raw operation, and a check
 * function, run after it.  Add functions write exactly `tlen` bytes (the
 * modulus length) to `to` from the `flen`-byte message `from` and return 1,
 * or 0 with the reason queued (X9.31: -1); a failing random generator makes
 * them return 0 without a reason of this library.  Check functions take the
 * decrypted block `from` of `flen` bytes as a raw operation gives it with its
 * leading zero bytes removed (so usually flen = num - 1), the modulus length
 * `num` and room for `tlen` bytes at `to`; they return the message length, or
 * -1 with the reason queued, and write to `to` only when they succeed.  The
 * type 2, SSLv23 and OAEP checks run in constant time over a block of `num`
 * bytes (the input right-aligned, its missing leading byte taken as zero):
 * see the warning above about their reasons. */
MORVANE_EXPORT int RSA_padding_add_PKCS1_type_1(unsigned char* to, int tlen,
                                                const unsigned char* from, int flen);
MORVANE_EXPORT int RSA_padding_check_PKCS1_type_1(unsigned char* to, int tlen,
                                                  const unsigned char* from, int flen, int num);
MORVANE_EXPORT int RSA_padding_add_PKCS1_type_2(unsigned char* to, int tlen,
                                                const unsigned char* from, int flen);
MORVANE_EXPORT int RSA_padding_check_PKCS1_type_2(unsigned char* to, int tlen,
                                                  const unsigned char* from, int flen, int num);
/* Type 2 with the last eight padding bytes 0x03, which the check refuses
 * ("sslv3 rollback attack"). */
MORVANE_EXPORT int RSA_padding_add_SSLv23(unsigned char* to, int tlen, const unsigned char* from,
                                          int flen);
MORVANE_EXPORT int RSA_padding_check_SSLv23(unsigned char* to, int tlen, const unsigned char* from,
                                            int flen, int num);
/* No padding: the message is the block (flen = tlen); the check restores the
 * leading zeros and returns tlen. */
MORVANE_EXPORT int RSA_padding_add_none(unsigned char* to, int tlen, const unsigned char* from,
                                        int flen);
MORVANE_EXPORT int RSA_padding_check_none(unsigned char* to, int tlen, const unsigned char* from,
                                          int flen, int num);
/* OAEP with SHA-1 and MGF1 over SHA-1 (RFC 8017, 7.1), the encoding
 * parameters (label) `param` of `plen` bytes. */
MORVANE_EXPORT int RSA_padding_add_PKCS1_OAEP(unsigned char* to, int tlen,
                                              const unsigned char* from, int flen,
                                              const unsigned char* param, int plen);
MORVANE_EXPORT int RSA_padding_check_PKCS1_OAEP(unsigned char* to, int tlen,
                                                const unsigned char* from, int flen, int num,
                                                const unsigned char* param, int plen);
/* MGF1 of RFC 8017, B.2.1: `len` bytes of mask from the seed with `dgst`;
 * 0, or -1 when a digest step failed or with "invalid length" for a
 * negative len or seedlen (nothing written). */
MORVANE_EXPORT int PKCS1_MGF1(unsigned char* mask, long len, const unsigned char* seed,
                              long seedlen, const EVP_MD* dgst);
/* PKCS1_MGF1 with SHA-1, the mask function of OAEP here. */
MORVANE_EXPORT int MGF1(unsigned char* mask, long len, const unsigned char* seed, long seedlen);
/* PSS (RFC 8017, 9.1) over the hash mHash made with `Hash`, MGF1 with the
 * same digest, for the modulus of `rsa`; EM has RSA_size(rsa) bytes.  sLen is
 * the salt length or RSA_PSS_SALTLEN_DIGEST or RSA_PSS_SALTLEN_MAX.  The add
 * returns 1 or 0; the verification 1 when EM encodes mHash, else 0. */
MORVANE_EXPORT int RSA_padding_add_PKCS1_PSS(RSA* rsa, unsigned char* EM,
                                             const unsigned char* mHash, const EVP_MD* Hash,
                                             int sLen);
MORVANE_EXPORT int RSA_verify_PKCS1_PSS(RSA* rsa, const unsigned char* mHash, const EVP_MD* Hash,
                                        const unsigned char* EM, int sLen);
/* X9.31: 0x6A, m, 0xCC, or 0x6B, 0xBB..., 0xBA, m, 0xCC.  The add returns 1
 * or -1. */
MORVANE_EXPORT int RSA_padding_add_X931(unsigned char* to, int tlen, const unsigned char* from,
                                        int flen);
MORVANE_EXPORT int RSA_padding_check_X931(unsigned char* to, int tlen, const unsigned char* from,
                                          int flen, int num);
/* The X9.31 identifier of a digest NID: SHA-1 0x33, SHA-256 0x34, SHA-384
 * 0x36, SHA-512 0x35; -1 for any other. */
MORVANE_EXPORT int RSA_X931_hash_id(int nid);

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
#define RSA_F_RSA_PUBLIC_ENCRYPT 143
#define RSA_F_RSA_PRIVATE_DECRYPT 144
#define RSA_F_PKCS1_MGF1 145
#define RSA_F_RSA_VEK_MOD_EXP 146
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
#define RSA_R_INVALID_LENGTH 143
#define RSA_R_PRIVATE_RESULT_CHECK_FAILED 144
#define RSA_R_P_EQUALS_Q 145
/* END ERROR CODES */

MORVANE_END_DECLS

#endif /* MORVANE_RSA_H */
