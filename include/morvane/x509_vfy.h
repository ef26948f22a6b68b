/* Morvane: the certificate store, its lookup methods, and chain
 * verification.
 *
 * An X509_STORE holds trusted certificates and revocation lists in a cache
 * (guarded by static lock 11, CRYPTO_LOCK_X509_STORE) and a list of lookup
 * methods that fill the cache on demand: a hashed certificate directory
 * and a certificate file.  In a hashed directory a certificate is found
 * under <hash>.<n> and a revocation list under <hash>.r<n>: <hash> is
 * X509_NAME_hash of the subject (of a list, its issuer) written as eight
 * lower-case hexadecimal digits ("%08lx"), and <n> a decimal number from 0
 * up, the files of one hash being read until the first missing number
 * (e.g. 1a2b3c4d.0, 1a2b3c4d.1, 1a2b3c4d.r0); a file that was read but
 * does not parse is passed over (its reasons stay queued when the search
 * finds nothing) and not read again while it is unchanged.  A file that
 * could not be opened or read (no descriptor left, say), or that memory
 * ran short for, is read again at the next search; a search for lists
 * that met one, or an entry that is no readable file (a dangling link, a
 * FIFO), fails (X509_LU_RETRY, its reasons queued, the file named), so that
 * the verifier never decides on the lists it could read without the one it
 * could not; "should retry" is queued only when a retry may read it.
 * For a revocation check the verifier asks every lookup method each time
 * (a directory reads again only the files that changed since it read them)
 * and, of all the issuer's lists it then sees, takes of those its issuer's
 * key signed (an authorityKeyIdentifier naming another key, or a signature
 * that fails under the key, passes a list over) the one in time with the
 * latest lastUpdate (then the highest cRLNumber; of lists still tied, one
 * that revokes the certificate).  Every list is checked until one
 * verifies, however many others fail: a list, complete or delta, counts
 * only once its signature verified under the key of the certificate above
 * in the chain.  One run (one X509_verify_cert, or one PKCS7_verify over
 * all its signers) checks each signature at most once under each key and
 * gathers and ranks an issuer's lists once.  Between runs an object keeps
 * a few verdicts, each named by the digest of everything it was reached
 * from (signed part, signature algorithm and value, and the key), so a
 * change to any of them means a fresh check.  The links of a chain are
 * checked from the trust anchor down (keys that inherit their parameters
 * take them from the key above), so that a key is used only once the
 * certificate above has vouched for it.  The lists of an issuer whose key
 * nothing vouches for (a chain the callback kept with a broken link or
 * without an anchor) are still checked with that key, best first, at most
 * 8 checks per run under such keys; when those are spent with lists left
 * unchecked the revocation check fails with X509_V_ERR_CRL_SIGNATURE_FAILURE.
 * An X509_STORE_CTX runs one verification: X509_verify_cert builds the
 * chain from the target through the untrusted list and the store (of the
 * certificates that issued the one before, those valid at the verification
 * time first, then trusted ones; when a chain reaches no trust anchor by
 * links whose signatures verify, or holds a certificate that fails whatever
 * stands below it (outside its validity period at the verification time,
 * or an anchor that the trust setting does not trust or rejects for the
 * purpose), the other candidates are tried, at most 2,048 in all, so that
 * which of several anchors or cross-signed copies of one name comes first
 * does not decide; when none holds, the first chain that reached an anchor
 * is kept with its errors, else the first one built), checks
 * the extensions, purposes and path lengths of the caller's part of the
 * chain, trust, revocation, signatures, validity times and policies, and
 * offers each problem (an X509_V_ERR_* code) to the verify callback, which
 * may accept it.  Failing calls queue errors of library 11 (ERR_LIB_X509).
 *
 * Threads: the calls that fill a store (X509_STORE_add_cert,
 * X509_STORE_add_crl, X509_STORE_add_lookup, X509_STORE_load_locations,
 * X509_STORE_set_default_paths, and on its lookups X509_LOOKUP_add_dir,
 * X509_LOOKUP_load_file and the X509_load_* loaders) may run while other
 * threads verify against it (a locking callback installed): each takes
 * lock 11 for what it changes, and a verification finds what was added
 * before it started (what is added while it runs, it may or may not).
 * X509_STORE_set_flags and the other parameter setters, X509_STORE_free,
 * and a caller's own changes to store->objs or store->get_cert_methods
 * must not overlap a verification.
 *
 * The cache, store->objs, holds the objects in the order added until a
 * search through the stack (X509_OBJECT_idx_by_subject and the two
 * retrieve calls, which sort it when it is not sorted) sorts it; the
 * store's own searches never sort it, and its additions append.
 *
 * Null arguments: X509_STORE_free, X509_LOOKUP_free and X509_STORE_CTX_free
 * accept null; X509_STORE_add_cert and X509_STORE_add_crl give 0 for a null
 * object; X509_load_cert_file, X509_load_crl_file and
 * X509_load_cert_crl_file give 1 for a null file name;
 * X509_STORE_load_locations takes a null file or directory (both null give
 * 0); the lookup dispatchers give their "no method" result for a lookup
 * without method; X509_STORE_CTX_init takes a null store, certificate and
 * untrusted list; X509_cmp_time and X509_time_adj take a null moment (now)
 * and X509_time_adj a null time (a new one); X509_get_pubkey_parameters
 * takes a null key.  Elsewhere a valid object is needed.
 *
 * X509_verify_cert_error_string keeps the text of a code it has no text for
 * ("error number N") in one buffer of the library, which the next such call
 * overwrites. */
#ifndef MORVANE_X509_VFY_H
#define MORVANE_X509_VFY_H

#include <time.h>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/export.h>
#include <morvane/stack.h>
#include <morvane/types.h>
#include <morvane/x509.h>

MORVANE_BEGIN_DECLS

/* Object types of the cache and of searches by name. */
#define X509_LU_RETRY -1
#define X509_LU_FAIL 0
#define X509_LU_X509 1
#define X509_LU_CRL 2
#define X509_LU_PKEY 3

/* Control commands of the lookup methods. */
#define X509_L_FILE_LOAD 1
#define X509_L_ADD_DIR 2

/* File types of the loaders. */
#define X509_FILETYPE_PEM 1
#define X509_FILETYPE_ASN1 2
#define X509_FILETYPE_DEFAULT 3

/* One cached object: a certificate (type 1) or a revocation list (type 2),
 * holding a counted reference to it. */
typedef struct x509_object_st {
  int type;
  union {
    char *ptr;
    X509 *x509;
    X509_CRL *crl;
    EVP_PKEY *pkey;
  } data;
} X509_OBJECT;

typedef struct x509_lookup_st X509_LOOKUP;
typedef struct x509_lookup_method_st X509_LOOKUP_METHOD;

/* The slots of a lookup method; a null slot is an operation not offered. */
struct x509_lookup_method_st {
  const char *name;
  int (*new_item)(X509_LOOKUP *ctx);
  void (*free)(X509_LOOKUP *ctx);
  int (*init)(X509_LOOKUP *ctx);
  int (*shutdown)(X509_LOOKUP *ctx);
  int (*ctrl)(X509_LOOKUP *ctx, int cmd, const char *argc, long argl, char **ret);
  int (*get_by_subject)(X509_LOOKUP *ctx, int type, X509_NAME *name, X509_OBJECT *ret);
  int (*get_by_issuer_serial)(X509_LOOKUP *ctx, int type, X509_NAME *name,
                              ASN1_INTEGER *serial, X509_OBJECT *ret);
  int (*get_by_fingerprint)(X509_LOOKUP *ctx, int type, unsigned char *bytes, int len,
                            X509_OBJECT *ret);
  int (*get_by_alias)(X509_LOOKUP *ctx, int type, char *str, int len, X509_OBJECT *ret);
};

/* One lookup method attached to a store. */
struct x509_lookup_st {
  int init;
  int skip; /* while non-zero, subject searches pass this lookup by */
  X509_LOOKUP_METHOD *method;
  char *method_data;
  X509_STORE *store_ctx;
};

typedef int (*X509_STORE_verify_cb)(int ok, X509_STORE_CTX *ctx);

/* The store.  The step slots replace the verifier's built-in steps when
 * set; all are null after X509_STORE_new. */
struct x509_store_st {
  int cache;
  STACK *objs; /* of X509_OBJECT */
  STACK *get_cert_methods; /* of X509_LOOKUP */
  X509_VERIFY_PARAM *param;
  int (*verify)(X509_STORE_CTX *ctx);
  int (*verify_cb)(int ok, X509_STORE_CTX *ctx);
  int (*get_issuer)(X509 **issuer, X509_STORE_CTX *ctx, X509 *x);
  int (*check_issued)(X509_STORE_CTX *ctx, X509 *x, X509 *issuer);
  int (*check_revocation)(X509_STORE_CTX *ctx);
  int (*get_crl)(X509_STORE_CTX *ctx, X509_CRL **crl, X509 *x);
  int (*check_crl)(X509_STORE_CTX *ctx, X509_CRL *crl);
  int (*cert_crl)(X509_STORE_CTX *ctx, X509_CRL *crl, X509 *x);
  int (*cleanup)(X509_STORE_CTX *ctx);
  CRYPTO_EX_DATA ex_data;
  int references;
};

/* One verification run. */
struct x509_store_ctx_st {
  X509_STORE *ctx;
  int current_method;
  X509 *cert;
  STACK *untrusted; /* of X509, borrowed */
  STACK *crls;      /* of X509_CRL, lent */
  X509_VERIFY_PARAM *param;
  void *other_ctx;
  int (*verify)(X509_STORE_CTX *ctx);
  int (*verify_cb)(int ok, X509_STORE_CTX *ctx);
  int (*get_issuer)(X509 **issuer, X509_STORE_CTX *ctx, X509 *x);
  int (*check_issued)(X509_STORE_CTX *ctx, X509 *x, X509 *issuer);
  int (*check_revocation)(X509_STORE_CTX *ctx);
  int (*get_crl)(X509_STORE_CTX *ctx, X509_CRL **crl, X509 *x);
  int (*check_crl)(X509_STORE_CTX *ctx, X509_CRL *crl);
  int (*cert_crl)(X509_STORE_CTX *ctx, X509_CRL *crl, X509 *x);
  int (*check_policy)(X509_STORE_CTX *ctx);
  int (*cleanup)(X509_STORE_CTX *ctx);
  int valid; /* the library's: the chain, tree and error are a run's */
  int last_untrusted;
  STACK *chain; /* of X509, each holding a reference */
  X509_POLICY_TREE *tree;
  int explicit_policy;
  int error_depth;
  int error;
  X509 *current_cert;
  X509 *current_issuer;
  X509_CRL *current_crl;
  CRYPTO_EX_DATA ex_data;
  void *session; /* the library's: what the run in progress has checked */
};

/* Verification errors (X509_STORE_CTX_get_error). */
#define X509_V_OK 0
#define X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT 2
#define X509_V_ERR_UNABLE_TO_GET_CRL 3
#define X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE 4
#define X509_V_ERR_UNABLE_TO_DECRYPT_CRL_SIGNATURE 5
#define X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY 6
#define X509_V_ERR_CERT_SIGNATURE_FAILURE 7
#define X509_V_ERR_CRL_SIGNATURE_FAILURE 8
#define X509_V_ERR_CERT_NOT_YET_VALID 9
#define X509_V_ERR_CERT_HAS_EXPIRED 10
#define X509_V_ERR_CRL_NOT_YET_VALID 11
#define X509_V_ERR_CRL_HAS_EXPIRED 12
#define X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD 13
#define X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD 14
#define X509_V_ERR_ERROR_IN_CRL_LAST_UPDATE_FIELD 15
#define X509_V_ERR_ERROR_IN_CRL_NEXT_UPDATE_FIELD 16
#define X509_V_ERR_OUT_OF_MEM 17
#define X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT 18
#define X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN 19
#define X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY 20
#define X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE 21
#define X509_V_ERR_CERT_CHAIN_TOO_LONG 22
#define X509_V_ERR_CERT_REVOKED 23
#define X509_V_ERR_INVALID_CA 24
#define X509_V_ERR_PATH_LENGTH_EXCEEDED 25
#define X509_V_ERR_INVALID_PURPOSE 26
#define X509_V_ERR_CERT_UNTRUSTED 27
#define X509_V_ERR_CERT_REJECTED 28
#define X509_V_ERR_SUBJECT_ISSUER_MISMATCH 29
#define X509_V_ERR_AKID_SKID_MISMATCH 30
#define X509_V_ERR_AKID_ISSUER_SERIAL_MISMATCH 31
#define X509_V_ERR_KEYUSAGE_NO_CERTSIGN 32
#define X509_V_ERR_UNABLE_TO_GET_CRL_ISSUER 33
#define X509_V_ERR_UNHANDLED_CRITICAL_EXTENSION 34
#define X509_V_ERR_KEYUSAGE_NO_CRL_SIGN 35
#define X509_V_ERR_UNHANDLED_CRITICAL_CRL_EXTENSION 36
#define X509_V_ERR_INVALID_NON_CA 37
#define X509_V_ERR_PROXY_PATH_LENGTH_EXCEEDED 38
#define X509_V_ERR_KEYUSAGE_NO_DIGITAL_SIGNATURE 39
#define X509_V_ERR_PROXY_CERTIFICATES_NOT_ALLOWED 40
#define X509_V_ERR_INVALID_EXTENSION 41
#define X509_V_ERR_INVALID_POLICY_EXTENSION 42
#define X509_V_ERR_NO_EXPLICIT_POLICY 43
#define X509_V_ERR_UNNESTED_RESOURCE 44
#define X509_V_ERR_PROXY_SUBJECT_NAME_VIOLATION 46
#define X509_V_ERR_APPLICATION_VERIFICATION 50

/* Verification flags (X509_VERIFY_PARAM_set_flags).
 *
 * Critical extensions: the verifier acts on basicConstraints, keyUsage,
 * extKeyUsage, subjectAltName, certificatePolicies, policyConstraints,
 * inhibitAnyPolicy, proxyCertInfo and nsCertType.  Any other critical
 * extension of a certificate in the caller's part of the chain (the target
 * and the untrusted certificates; the store's are not looked at) fails the
 * chain with X509_V_ERR_UNHANDLED_CRITICAL_EXTENSION: a critical
 * policyMappings (mappings are never applied), nameConstraints (names are
 * not checked against them) or cRLDistributionPoints among them.
 *
 * Revocation checking: of the issuer's complete lists (those without
 * deltaCRLIndicator) the one in time with the latest lastUpdate decides;
 * when none is in time, the latest one, with its time error; when there is
 * none, X509_V_ERR_UNABLE_TO_GET_CRL (a delta list alone is not enough).
 * The list that decides fails with X509_V_ERR_UNHANDLED_CRITICAL_CRL_EXTENSION
 * when it has any critical extension (an issuingDistributionPoint among
 * them) or a critical entry extension other than reasonCode, invalidityDate
 * and holdInstructionCode.  X509_V_FLAG_IGNORE_CRITICAL lets both kinds of
 * extension pass.  A delta list is never taken as a complete one nor merged
 * into it: one in time, issued after the deciding list and listing the
 * certificate (with a reason other than removeFromCRL) is checked like a
 * complete one (signature and times) and then gives
 * X509_V_ERR_CERT_REVOKED; a delta list never clears a revocation.  This
 * is the built-in cert_crl's work: a check the application installs in its
 * place decides alone.
 *
 * X509_V_FLAG_X509_STRICT: in the caller's part of the chain, a certificate
 * in a CA position must be a CA by basicConstraints (X509_check_ca 1); one
 * that is a CA only as a self-issued version 1 certificate, by keyUsage
 * keyCertSign or by nsCertType fails with X509_V_ERR_INVALID_CA (so a CA
 * certificate without basicConstraints is refused, as PKITS 4.6.1 expects),
 * and so does a target that is such a CA; the purpose check must give
 * exactly 1, else X509_V_ERR_INVALID_PURPOSE.
 *
 * Proxy certificates (RFC 3820: a certificate with proxyCertInfo, issued
 * by an end entity or another proxy) fail with
 * X509_V_ERR_PROXY_CERTIFICATES_NOT_ALLOWED unless X509_V_FLAG_ALLOW_PROXY_CERTS
 * is set or the environment variable MORVANE_ALLOW_PROXY_CERTS is set (to
 * any value): that allows them in every verification of the process, unless
 * the process is set-user-id or set-group-id.  A proxy's subject must be
 * its issuer's subject followed by one commonName, an RDN of its own, else
 * X509_V_ERR_PROXY_SUBJECT_NAME_VIOLATION; an issuer whose keyUsage lacks
 * digitalSignature is not taken, and the chain fails with
 * X509_V_ERR_KEYUSAGE_NO_DIGITAL_SIGNATURE at the proxy.
 *
 * Policy checking (X509_V_FLAG_POLICY_CHECK, which the other policy flags
 * and the parameters' policy setters turn on) takes the parameters'
 * acceptable policies: an empty set means no policy is acceptable, not
 * anyPolicy, so a chain that must carry an explicit policy
 * (X509_V_FLAG_EXPLICIT_POLICY or a requireExplicitPolicy in the chain) then
 * fails with X509_V_ERR_NO_EXPLICIT_POLICY; add anyPolicy (2.5.29.32.0) to
 * accept every policy.  Policy mapping is always inhibited (morvane/x509v3.h,
 * X509_policy_check). */
#define X509_V_FLAG_CB_ISSUER_CHECK 0x1
#define X509_V_FLAG_USE_CHECK_TIME 0x2
#define X509_V_FLAG_CRL_CHECK 0x4
#define X509_V_FLAG_CRL_CHECK_ALL 0x8
#define X509_V_FLAG_IGNORE_CRITICAL 0x10
#define X509_V_FLAG_X509_STRICT 0x20
#define X509_V_FLAG_ALLOW_PROXY_CERTS 0x40
#define X509_V_FLAG_POLICY_CHECK 0x80
#define X509_V_FLAG_EXPLICIT_POLICY 0x100
#define X509_V_FLAG_INHIBIT_ANY 0x200
#define X509_V_FLAG_INHIBIT_MAP 0x400
#define X509_V_FLAG_NOTIFY_POLICY 0x800
#define X509_V_FLAG_CHECK_SS_SIGNATURE 0x4000

/* ---- objects -------------------------------------------------------------- */

/* Adds a reference to the object's certificate (lock 3) or CRL (lock 6). */
MORVANE_EXPORT void X509_OBJECT_up_ref_count(X509_OBJECT *a);
/* Drops the object's reference; other types: nothing. */
MORVANE_EXPORT void X509_OBJECT_free_contents(X509_OBJECT *a);
/* Index of the first object of the type with that subject (certificate) or
 * issuer (CRL) name in a stack of objects; -1 when none or for another
 * type. */
MORVANE_EXPORT int X509_OBJECT_idx_by_subject(STACK *h, int type, X509_NAME *name);
MORVANE_EXPORT X509_OBJECT *X509_OBJECT_retrieve_by_subject(STACK *h, int type,
                                                            X509_NAME *name);
/* The cached object that counts as a duplicate of x: the same certificate,
 * or the same CRL (one object or one encoding; an issuer's other CRLs are
 * not duplicates); null when none. */
MORVANE_EXPORT X509_OBJECT *X509_OBJECT_retrieve_match(STACK *h, X509_OBJECT *x);

/* ---- store ---------------------------------------------------------------- */

/* A new empty store with a new parameter block; null with "malloc failure"
 * when memory runs out. */
MORVANE_EXPORT X509_STORE *X509_STORE_new(void);
/* Shuts down and frees the lookups, the cached objects, the extra data and
 * the parameters; null is accepted. */
MORVANE_EXPORT void X509_STORE_free(X509_STORE *v);
/* Adds a certificate or CRL (one new reference) to the end of the cache
 * under lock 11: 1, or 0 with "cert already in hash table" for a duplicate
 * (the store is then unchanged).  A cache in order stays so when the object
 * sorts after the last. */
MORVANE_EXPORT int X509_STORE_add_cert(X509_STORE *ctx, X509 *x);
MORVANE_EXPORT int X509_STORE_add_crl(X509_STORE *ctx, X509_CRL *x);
/* The store's lookup for method m, attached on first use; null on
 * failure, with "malloc failure" queued (or the method's own reason). */
MORVANE_EXPORT X509_LOOKUP *X509_STORE_add_lookup(X509_STORE *v, X509_LOOKUP_METHOD *m);
/* An object of the type by name, from the cache or else from the lookups
 * (from the context's current method on): 1 found (ret holds a new
 * reference), 0 none, negative when a lookup asked to be retried. */
MORVANE_EXPORT int X509_STORE_get_by_subject(X509_STORE_CTX *vs, int type, X509_NAME *name,
                                             X509_OBJECT *ret);
/* The default issuer search of the verifier: 1 found (*issuer holds a
 * reference), 0 none, -1 error. */
MORVANE_EXPORT int X509_STORE_CTX_get1_issuer(X509 **issuer, X509_STORE_CTX *ctx, X509 *x);
MORVANE_EXPORT int X509_STORE_set_flags(X509_STORE *ctx, unsigned long flags);
MORVANE_EXPORT int X509_STORE_set_purpose(X509_STORE *ctx, int purpose);
MORVANE_EXPORT int X509_STORE_set_trust(X509_STORE *ctx, int trust);
/* The depth limit of the store's runs (X509_STORE_CTX_set_depth). */
MORVANE_EXPORT int X509_STORE_set_depth(X509_STORE *store, int depth);
MORVANE_EXPORT int X509_STORE_set1_param(X509_STORE *ctx, X509_VERIFY_PARAM *pm);
/* Attaches the file and directory methods with their default locations
 * (the files named by SSL_CERT_FILE and SSL_CERT_DIR when set); a missing
 * default leaves no error behind.  1, or 0 when a lookup cannot be
 * attached. */
MORVANE_EXPORT int X509_STORE_set_default_paths(X509_STORE *ctx);
/* Loads a PEM file (X509_load_cert_crl_file) and/or adds a ':'-separated
 * directory list: 1, or 0 on failure, with the error queued, or when both
 * are null.  Every directory of the list must exist now: one that does not
 * (or is no directory) fails with the system error of "stat" and "invalid
 * directory" naming it ("dir=<name>"), and no directory of the list is
 * added.  (X509_LOOKUP_add_dir takes a directory that does not exist yet.) */
MORVANE_EXPORT int X509_STORE_load_locations(X509_STORE *ctx, const char *file,
                                             const char *dir);

/* ---- lookups -------------------------------------------------------------- */

/* The hashed-directory and file methods. */
MORVANE_EXPORT X509_LOOKUP_METHOD *X509_LOOKUP_hash_dir(void);
MORVANE_EXPORT X509_LOOKUP_METHOD *X509_LOOKUP_file(void);

/* X509_LOOKUP_new: a lookup of method (may be null), or null with "malloc
 * failure" queued (a method whose own state cannot be made queues its
 * reason).  The dispatchers run the method's slot.  A null init or shutdown
 * has nothing to do (1); a null ctrl or lookup slot is an operation the
 * method does not offer (0). */
MORVANE_EXPORT X509_LOOKUP *X509_LOOKUP_new(X509_LOOKUP_METHOD *method);
MORVANE_EXPORT void X509_LOOKUP_free(X509_LOOKUP *ctx);
MORVANE_EXPORT int X509_LOOKUP_init(X509_LOOKUP *ctx);
MORVANE_EXPORT int X509_LOOKUP_shutdown(X509_LOOKUP *ctx);
MORVANE_EXPORT int X509_LOOKUP_ctrl(X509_LOOKUP *ctx, int cmd, const char *argc, long argl,
                                    char **ret);
MORVANE_EXPORT int X509_LOOKUP_by_subject(X509_LOOKUP *ctx, int type, X509_NAME *name,
                                          X509_OBJECT *ret);
MORVANE_EXPORT int X509_LOOKUP_by_issuer_serial(X509_LOOKUP *ctx, int type, X509_NAME *name,
                                                ASN1_INTEGER *serial, X509_OBJECT *ret);
MORVANE_EXPORT int X509_LOOKUP_by_fingerprint(X509_LOOKUP *ctx, int type,
                                              unsigned char *bytes, int len,
                                              X509_OBJECT *ret);
MORVANE_EXPORT int X509_LOOKUP_by_alias(X509_LOOKUP *ctx, int type, char *str, int len,
                                        X509_OBJECT *ret);

#define X509_LOOKUP_load_file(x, name, type) \
  X509_LOOKUP_ctrl((x), X509_L_FILE_LOAD, (name), (long)(type), NULL)
#define X509_LOOKUP_add_dir(x, name, type) \
  X509_LOOKUP_ctrl((x), X509_L_ADD_DIR, (name), (long)(type), NULL)

/* Load the certificates (CRLs) of a PEM (type 1) or DER (type 2) file into
 * the lookup's store: the number added, 0 on failure (a duplicate, or a
 * read of the file that fails, ends the loading, the ones added before it
 * staying). */
MORVANE_EXPORT int X509_load_cert_file(X509_LOOKUP *ctx, const char *file, int type);
MORVANE_EXPORT int X509_load_crl_file(X509_LOOKUP *ctx, const char *file, int type);
/* Every certificate and CRL of a PEM file, counted whether added or not;
 * other types go to X509_load_cert_file.  A file without any (empty or DER)
 * gives 0 with "no certificate or crl found" and the data "file=" and its
 * name; one that cannot be read (such as a folder) gives 0 with the read
 * error, then "PEM lib" and the same data.  A block that is broken or
 * decodes to nothing, or an object that does not decode, is passed over
 * (its reasons queued, then "PEM lib") and the others load; memory that
 * runs short gives 0 with "malloc failure", and a read that fails after
 * some objects gives 0 with its reasons and "PEM lib" (those read before
 * it staying in the store). */
MORVANE_EXPORT int X509_load_cert_crl_file(X509_LOOKUP *ctx, const char *file, int type);

/* The default locations and the environment variables that replace them. */
MORVANE_EXPORT const char *X509_get_default_cert_dir(void);
MORVANE_EXPORT const char *X509_get_default_cert_file(void);
MORVANE_EXPORT const char *X509_get_default_private_dir(void);
MORVANE_EXPORT const char *X509_get_default_cert_dir_env(void);
MORVANE_EXPORT const char *X509_get_default_cert_file_env(void);

/* ---- verification context ------------------------------------------------- */

MORVANE_EXPORT X509_STORE_CTX *X509_STORE_CTX_new(void);
/* Prepares ctx for one run over x509 with the untrusted list chain: 1, or 0
 * with "malloc failure". */
MORVANE_EXPORT int X509_STORE_CTX_init(X509_STORE_CTX *ctx, X509_STORE *store, X509 *x509,
                                       STACK *chain);
MORVANE_EXPORT void X509_STORE_CTX_cleanup(X509_STORE_CTX *ctx);
MORVANE_EXPORT void X509_STORE_CTX_free(X509_STORE_CTX *ctx);
/* 1 verified (possibly with errors the callback accepted), 0 failed
 * (X509_STORE_CTX_get_error says why), -1 without certificate, or the
 * negative answer of an issuer lookup.  A run in which memory ran out fails
 * with X509_V_ERR_OUT_OF_MEM, whatever a step or the callback said; the
 * certificates keep no fact computed from the failed allocations.
 * Verifications of shared certificates may run in several threads at once,
 * each with its own context, under the locking callbacks.
 * A context may be verified again without cleanup: the chain, policy tree,
 * error and depth of the earlier run are dropped first (the chain and tree
 * read from it before are freed) and the run starts afresh from what the
 * caller set (the target, untrusted list, store, lists and parameters),
 * with the verdict a fresh context gives.  A chain placed in the context
 * before its first run is built on. */
MORVANE_EXPORT int X509_verify_cert(X509_STORE_CTX *ctx);

MORVANE_EXPORT int X509_STORE_CTX_get_ex_new_index(long argl, void *argp,
                                                   CRYPTO_EX_new *new_func,
                                                   CRYPTO_EX_dup *dup_func,
                                                   CRYPTO_EX_free *free_func);
MORVANE_EXPORT int X509_STORE_CTX_set_ex_data(X509_STORE_CTX *ctx, int idx, void *data);
MORVANE_EXPORT void *X509_STORE_CTX_get_ex_data(X509_STORE_CTX *ctx, int idx);
MORVANE_EXPORT int X509_STORE_CTX_get_error(X509_STORE_CTX *ctx);
MORVANE_EXPORT void X509_STORE_CTX_set_error(X509_STORE_CTX *ctx, int s);
MORVANE_EXPORT int X509_STORE_CTX_get_error_depth(X509_STORE_CTX *ctx);
MORVANE_EXPORT X509 *X509_STORE_CTX_get_current_cert(X509_STORE_CTX *ctx);
MORVANE_EXPORT STACK *X509_STORE_CTX_get_chain(X509_STORE_CTX *ctx);
/* A new stack of the chain's certificates, each with a new reference; null
 * without chain or on failure. */
MORVANE_EXPORT STACK *X509_STORE_CTX_get1_chain(X509_STORE_CTX *ctx);
/* The target of the next run (borrowed), also after a run: the next
 * X509_verify_cert builds its chain afresh from it. */
MORVANE_EXPORT void X509_STORE_CTX_set_cert(X509_STORE_CTX *c, X509 *x);
MORVANE_EXPORT void X509_STORE_CTX_set_chain(X509_STORE_CTX *c, STACK *sk);
MORVANE_EXPORT void X509_STORE_CTX_set0_crls(X509_STORE_CTX *c, STACK *sk);
/* Issuers come from sk (borrowed) instead of the store. */
MORVANE_EXPORT void X509_STORE_CTX_trusted_stack(X509_STORE_CTX *ctx, STACK *sk);
/* The callback of the run's verdicts; null restores the built-in one (which
 * returns the verdict it is given), as a null slot of the store does. */
MORVANE_EXPORT void X509_STORE_CTX_set_verify_cb(X509_STORE_CTX *ctx,
                                                 int (*verify_cb)(int, X509_STORE_CTX *));
MORVANE_EXPORT void X509_STORE_CTX_set_flags(X509_STORE_CTX *ctx, unsigned long flags);
/* The depth limit of chain building counts the trust anchor: the chain holds
 * at most depth + 1 certificates, the target at depth 0 (depth 1: the
 * target and the anchor that issued it).  A longer path fails as an issuer
 * not found (X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY or
 * X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT at the last certificate reached). */
MORVANE_EXPORT void X509_STORE_CTX_set_depth(X509_STORE_CTX *ctx, int depth);
/* The moment at which validity is judged; flags is not used. */
MORVANE_EXPORT void X509_STORE_CTX_set_time(X509_STORE_CTX *ctx, unsigned long flags,
                                            time_t t);
MORVANE_EXPORT X509_VERIFY_PARAM *X509_STORE_CTX_get0_param(X509_STORE_CTX *ctx);
/* Frees the current parameters and takes param. */
MORVANE_EXPORT void X509_STORE_CTX_set0_param(X509_STORE_CTX *ctx, X509_VERIFY_PARAM *param);
/* Inherits the named parameter set: 1, or 0 for an unknown name. */
MORVANE_EXPORT int X509_STORE_CTX_set_default(X509_STORE_CTX *ctx, const char *name);
MORVANE_EXPORT X509_POLICY_TREE *X509_STORE_CTX_get0_policy_tree(X509_STORE_CTX *ctx);
MORVANE_EXPORT int X509_STORE_CTX_get_explicit_policy(X509_STORE_CTX *ctx);
MORVANE_EXPORT int X509_STORE_CTX_set_purpose(X509_STORE_CTX *ctx, int purpose);
MORVANE_EXPORT int X509_STORE_CTX_set_trust(X509_STORE_CTX *ctx, int trust);
/* Stores purpose (def_purpose when 0) and trust (the purpose's when 0) in
 * the parameters where still unset: 1, or 0 with "unknown purpose id" or
 * "unknown trust id". */
MORVANE_EXPORT int X509_STORE_CTX_purpose_inherit(X509_STORE_CTX *ctx, int def_purpose,
                                                  int purpose, int trust);

/* ---- times and texts ------------------------------------------------------ */

/* Compares the UTCTime or GeneralizedTime ctm with *cmp_time (now when
 * null): negative when ctm is earlier or equal, positive when later (a
 * fraction of a second above zero makes it later than its whole second), 0
 * when ctm is malformed: ASN1_TIME_check refuses it, or it has no zone.  An
 * offset +hhmm means local time, UTC + offset.  Every time_t compares. */
MORVANE_EXPORT int X509_cmp_time(ASN1_TIME *ctm, time_t *cmp_time);
MORVANE_EXPORT int X509_cmp_current_time(ASN1_TIME *ctm);
/* Sets s to *in_tm (now when null) plus adj seconds; a null s gets a new
 * time.  A GeneralizedTime stays one; any other time (a UTCTime included)
 * takes the form ASN1_TIME_set chooses, UTCTime for 1950 to 2049 and
 * GeneralizedTime outside (RFC 5280, 4.1.2.5), so that a year is never
 * written as one of another century (a value that only a UTCTime may hold,
 * coded by ASN1_UTCTIME_it, then fails to encode past 2049 rather than be
 * written wrongly).  The time, or null on failure, s left
 * as it was ("error getting time" for a moment past time_t, "illegal time
 * value" for one beyond the year 9999). */
MORVANE_EXPORT ASN1_TIME *X509_time_adj(ASN1_TIME *s, long adj, time_t *in_tm);
/* Copies missing key parameters down the chain (and into pkey): 1, or 0.
 * The keys changed are those the certificates cache, for the life of the
 * certificates; X509_verify_cert never calls it (a key without parameters
 * takes them from the chain within the call only). */
MORVANE_EXPORT int X509_get_pubkey_parameters(EVP_PKEY *pkey, STACK *chain);
/* The text of a verification error; for a code without text "error number
 * N" in a buffer the next such call overwrites. */
MORVANE_EXPORT const char *X509_verify_cert_error_string(long n);

MORVANE_END_DECLS

#endif /* MORVANE_X509_VFY_H */
