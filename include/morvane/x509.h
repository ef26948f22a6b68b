/* Morvane: X.509 certificates.
 *
 * Certificates, revocation lists and requests, names, the certificate store
 * and chain verification.  Failing calls queue errors of library 11
 * (ERR_LIB_X509); the structure and key codecs those of library 13
 * (ERR_LIB_ASN1) too.
 *
 * Null arguments: the default-path functions take none; X509_NAME_set
 * refuses a null argument and the items follow morvane/asn1.h (X_free
 * accepts null); the sections on password-based parameters, PKCS#8
 * conversion, attribute lists, certificates, public keys, the legacy
 * encrypted RSA key and text output say what their functions accept;
 * elsewhere a valid object is needed unless a function's comment says
 * otherwise. */
#ifndef MORVANE_X509_H
#define MORVANE_X509_H

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/evp.h>
#include <morvane/export.h>
#include <morvane/types.h>

MORVANE_BEGIN_DECLS

/* ---- algorithm identifiers and attributes --------------------------------
 * X509_ALGOR is AlgorithmIdentifier (RFC 5280, 4.1.1.2): an object and an
 * optional parameter of any type.  X509_ATTRIBUTE is Attribute (X.501): an
 * object with a SET OF values (single 0), or, in the form some old encoders
 * wrote, one bare value (single 1).  Their template families (X_new, X_free,
 * d2i_X, i2d_X, X_dup) are listed with the items below. */

typedef struct X509_algor_st {
  ASN1_OBJECT *algorithm;
  ASN1_TYPE *parameter; /* null when absent */
} X509_ALGOR;
typedef STACK X509_ALGORS; /* of X509_ALGOR */

typedef struct x509_attributes_st {
  ASN1_OBJECT *object;
  int single; /* 0: value.set; 1: value.single */
  union {
    char *ptr;
    STACK *set;          /* of ASN1_TYPE */
    ASN1_TYPE *single;
  } value;
} X509_ATTRIBUTE;

/* Stores aobj (not copied; the old object is freed).  ptype 0 keeps the
 * parameter (creating an empty one when there is none), -1 removes it, any
 * other type makes pval (owned from now on) the parameter's value of that
 * type.  1, or 0 for a null alg or when the parameter cannot be created. */
MORVANE_EXPORT int X509_ALGOR_set0(X509_ALGOR *alg, ASN1_OBJECT *aobj, int ptype, void *pval);
/* Reads the object, the parameter's type (-1 when absent) and its value
 * (only when present); each out-pointer may be null.  Nothing is copied. */
MORVANE_EXPORT void X509_ALGOR_get0(ASN1_OBJECT **paobj, int *pptype, void **ppval,
                                    X509_ALGOR *algor);
/* A new attribute of the built-in object of nid holding one value of type
 * atrtype (owned by the attribute from now on) in its SET; null when memory
 * runs out. */
MORVANE_EXPORT X509_ATTRIBUTE *X509_ATTRIBUTE_create(int nid, int atrtype, void *value);

/* ---- password-based encryption parameters and PKCS#8 keys ----------------
 * PBEPARAM is the PKCS#5 v1.5 parameter (RFC 8018, A.3), PBE2PARAM and
 * PBKDF2PARAM the PBES2 and PBKDF2 parameters (RFC 8018, A.4 and A.2; an
 * absent prf means HMAC-SHA1), PKCS8_PRIV_KEY_INFO the PrivateKeyInfo of
 * RFC 5208, 5.  Freeing a PKCS8_PRIV_KEY_INFO wipes the key bytes it holds
 * first.  Their template families are listed with the items below.
 * PKCS5_pbe2_set refuses a null cipher; a null salt is drawn afresh. */

typedef struct PBEPARAM_st {
  ASN1_OCTET_STRING *salt;
  ASN1_INTEGER *iter;
} PBEPARAM;

typedef struct PBE2PARAM_st {
  X509_ALGOR *keyfunc;    /* the key-derivation function and its parameters */
  X509_ALGOR *encryption; /* the cipher and its parameters */
} PBE2PARAM;

typedef struct PBKDF2PARAM_st {
  ASN1_TYPE *salt; /* an OCTET STRING as this library writes it */
  ASN1_INTEGER *iter;
  ASN1_INTEGER *keylength; /* null when absent */
  X509_ALGOR *prf;         /* null when absent (HMAC-SHA1) */
} PBKDF2PARAM;

/* The forms of the private-key field that older software wrote (the
 * `broken` field, which is not encoded). */
#define PKCS8_OK 0             /* an OCTET STRING holding the key's encoding */
#define PKCS8_NO_OCTET 1       /* that encoding tagged as a SEQUENCE, not wrapped */
#define PKCS8_EMBEDDED_PARAM 2 /* DSA: SEQUENCE { parameters, x } */
#define PKCS8_NS_DB 3          /* DSA: SEQUENCE { y, x }, parameters in the algorithm */

typedef struct pkcs8_priv_key_info_st {
  int broken; /* PKCS8_OK, _NO_OCTET, _EMBEDDED_PARAM or _NS_DB */
  ASN1_INTEGER *version;
  X509_ALGOR *pkeyalg;
  ASN1_TYPE *pkey;    /* the key: as a rule an OCTET STRING with its DER */
  STACK *attributes;  /* of X509_ATTRIBUTE, [0] IMPLICIT; null when absent */
} PKCS8_PRIV_KEY_INFO;

/* A new identifier of the password-based algorithm `alg` (any NID) with a
 * PBEPARAM: `iter` iterations (2048 when 0 or less) and saltlen bytes of
 * salt (8 when 0) copied from `salt` or, when null, pseudo-random.  Null on
 * failure ("malloc failure", function PKCS5_pbe_set); a negative saltlen is
 * refused. */
MORVANE_EXPORT X509_ALGOR *PKCS5_pbe_set(int alg, int iter, const unsigned char *salt,
                                         int saltlen);
/* A new PBES2 identifier: PBKDF2 with salt and iterations as above (a key
 * length only for RC2-CBC, no prf) and `cipher` with a fresh pseudo-random
 * IV.  Null with "cipher has no object identifier" (nothing built), "error
 * setting cipher params" or "malloc failure" (function PKCS5_pbe2_set). */
MORVANE_EXPORT X509_ALGOR *PKCS5_pbe2_set(const EVP_CIPHER *cipher, int iter,
                                          const unsigned char *salt, int saltlen);

/* ---- PKCS#8 private-key conversion ---------------------------------------
 * Between key containers and PrivateKeyInfo, for RSA, DSA and EC keys.
 * EVP_PKCS82PKEY reads every form above and records the one it found in
 * p8->broken; EVP_PKEY2PKCS8_broken writes the form asked for (RSA: 0 or 1,
 * 2 and 3 write as 0; DSA: 0 to 3, 1 writes as 0; EC: 0 only).  Errors are
 * of library 6 (EVP): "decode error", "encode error", "bn decode error",
 * "bn pubkey error", "missing parameters", "unsupported private key
 * algorithm" (data "TYPE=" and the algorithm's text), "pkcs8 unknown broken
 * type".  Null arguments: p8 and pkey are refused with "passed a null
 * parameter". */

/* A new container with the decoded key, or null. */
MORVANE_EXPORT EVP_PKEY *EVP_PKCS82PKEY(PKCS8_PRIV_KEY_INFO *p8);
/* EVP_PKEY2PKCS8_broken(pkey, PKCS8_OK). */
MORVANE_EXPORT PKCS8_PRIV_KEY_INFO *EVP_PKEY2PKCS8(EVP_PKEY *pkey);
/* A new PrivateKeyInfo in the form `broken`, or null. */
MORVANE_EXPORT PKCS8_PRIV_KEY_INFO *EVP_PKEY2PKCS8_broken(EVP_PKEY *pkey, int broken);
/* 0 marks p8 standard, 1 retags its key field as a SEQUENCE; both return
 * p8.  Any other value fails with "pkcs8 unknown broken type" and null,
 * p8 unchanged. */
MORVANE_EXPORT PKCS8_PRIV_KEY_INFO *PKCS8_set_broken(PKCS8_PRIV_KEY_INFO *p8, int broken);

/* ---- attribute lists ------------------------------------------------------
 * A STACK of X509_ATTRIBUTE, as PKCS#8 keys, key containers and requests
 * carry them.  Indexes run from 0; a search starts after `lastpos` (-1 for
 * the start) and gives the index found, -1 when there is none (or the list
 * is null), -2 for a NID without object.  The add1 calls append a copy,
 * creating the list when *x is null, and return the list or null.  The
 * by_OBJ/NID/txt forms build an attribute of one value: a character form
 * `type` (ASN1_MB_*) makes the string type the attribute's string rule
 * picks (ASN1_STRING_set_by_NID); otherwise with len -1 `bytes` is a value
 * of ASN.1 type `type` (copied), and len bytes become a string of it.  The key-container forms work on pkey->attributes.
 * Null arguments: a null list counts as empty; x and attr are refused. */
MORVANE_EXPORT int X509at_get_attr_count(const STACK *x);
MORVANE_EXPORT int X509at_get_attr_by_NID(const STACK *x, int nid, int lastpos);
MORVANE_EXPORT int X509at_get_attr_by_OBJ(const STACK *sk, ASN1_OBJECT *obj, int lastpos);
MORVANE_EXPORT X509_ATTRIBUTE *X509at_get_attr(const STACK *x, int loc);
/* Removes and returns the attribute at loc (the caller frees it). */
MORVANE_EXPORT X509_ATTRIBUTE *X509at_delete_attr(STACK *x, int loc);
MORVANE_EXPORT STACK *X509at_add1_attr(STACK **x, X509_ATTRIBUTE *attr);
MORVANE_EXPORT STACK *X509at_add1_attr_by_OBJ(STACK **x, const ASN1_OBJECT *obj, int type,
                                              const unsigned char *bytes, int len);
MORVANE_EXPORT STACK *X509at_add1_attr_by_NID(STACK **x, int nid, int type,
                                              const unsigned char *bytes, int len);
MORVANE_EXPORT STACK *X509at_add1_attr_by_txt(STACK **x, const char *attrname, int type,
                                              const unsigned char *bytes, int len);
/* The content of the first attribute of type obj after lastpos (as
 * X509_ATTRIBUTE_get0_data of its value 0 with `type`), or null; lastpos -2
 * or below also asks that the type occur only once, -3 or below that the
 * attribute hold exactly one value. */
MORVANE_EXPORT void *X509at_get0_data_by_OBJ(STACK *x, ASN1_OBJECT *obj, int lastpos, int type);

MORVANE_EXPORT int EVP_PKEY_get_attr_count(const EVP_PKEY *key);
MORVANE_EXPORT int EVP_PKEY_get_attr_by_NID(const EVP_PKEY *key, int nid, int lastpos);
MORVANE_EXPORT int EVP_PKEY_get_attr_by_OBJ(const EVP_PKEY *key, ASN1_OBJECT *obj, int lastpos);
MORVANE_EXPORT X509_ATTRIBUTE *EVP_PKEY_get_attr(const EVP_PKEY *key, int loc);
MORVANE_EXPORT X509_ATTRIBUTE *EVP_PKEY_delete_attr(EVP_PKEY *key, int loc);
/* 1 when the copy was appended, else 0. */
MORVANE_EXPORT int EVP_PKEY_add1_attr(EVP_PKEY *key, X509_ATTRIBUTE *attr);
MORVANE_EXPORT int EVP_PKEY_add1_attr_by_OBJ(EVP_PKEY *key, const ASN1_OBJECT *obj, int type,
                                             const unsigned char *bytes, int len);
MORVANE_EXPORT int EVP_PKEY_add1_attr_by_NID(EVP_PKEY *key, int nid, int type,
                                             const unsigned char *bytes, int len);
MORVANE_EXPORT int EVP_PKEY_add1_attr_by_txt(EVP_PKEY *key, const char *attrname, int type,
                                             const unsigned char *bytes, int len);

/* ---- signing, verifying and digesting encoded structures -----------------
 * Each comes as a legacy form over a structure's i2d function and an item
 * form over its ASN1_ITEM.  Signing sets algor1 and algor2 (either may be
 * null) to the signature algorithm of `type` (its pkey_type), encodes the
 * structure, digests and signs it with pkey and puts the signature in
 * `signature` as a BIT STRING without unused bits: the signature length, or
 * 0 (the identifiers may be rewritten already).  Verifying finds the digest
 * by the short name of a's algorithm: 1 valid, 0 invalid or a digest
 * failure, -1 when the encoding cannot be made or no digest has that name
 * ("unsupported signature algorithm" with the data "algorithm=" and its
 * name: ECDSA over SHA-2 is not supported).
 * Digesting writes the digest of the encoding to md (EVP_MAX_MD_SIZE room)
 * and its length to *len (len may be null): 1, or 0.  A null encoder (i2d
 * or item), and when signing a null signature, key or digest, when
 * digesting a null digest or md, is refused with "passed a null parameter"
 * before anything is changed: 0 (-1 from the verifiers).  The structure is
 * handed to the encoder as it is. */
MORVANE_EXPORT int ASN1_sign(i2d_of_void *i2d, X509_ALGOR *algor1, X509_ALGOR *algor2,
                             ASN1_BIT_STRING *signature, char *data, EVP_PKEY *pkey,
                             const EVP_MD *type);
MORVANE_EXPORT int ASN1_item_sign(const ASN1_ITEM *it, X509_ALGOR *algor1, X509_ALGOR *algor2,
                                  ASN1_BIT_STRING *signature, void *asn, EVP_PKEY *pkey,
                                  const EVP_MD *type);
MORVANE_EXPORT int ASN1_verify(i2d_of_void *i2d, X509_ALGOR *a, ASN1_BIT_STRING *signature,
                               char *data, EVP_PKEY *pkey);
MORVANE_EXPORT int ASN1_item_verify(const ASN1_ITEM *it, X509_ALGOR *a,
                                    ASN1_BIT_STRING *signature, void *asn, EVP_PKEY *pkey);
MORVANE_EXPORT int ASN1_digest(i2d_of_void *i2d, const EVP_MD *type, char *data,
                               unsigned char *md, unsigned int *len);
MORVANE_EXPORT int ASN1_item_digest(const ASN1_ITEM *it, const EVP_MD *type, void *asn,
                                    unsigned char *md, unsigned int *len);

/* ---- distinguished names -------------------------------------------------
 * A name is kept flat: `entries` lists every attribute in order, each entry
 * carrying in `set` the number of the relative distinguished name (RDN) it
 * belongs to; adjacent entries with equal numbers form one multi-valued RDN.
 * `bytes` caches the name's DER: a decoded name keeps the octets it was read
 * from, canonical or not, until a change sets `modified`, after which the
 * next encoding rebuilds them (each RDN's members then in DER order).
 * Whoever changes `entries` or an entry sets `modified` to 1.  Encoding a
 * name may rebuild its cache, so it counts as a change: one thread at a time
 * per name.  The codec's failures queue errors of library 13 (ERR_LIB_ASN1). */
typedef struct X509_name_entry_st {
  ASN1_OBJECT *object; /* attribute type */
  ASN1_STRING *value;  /* attribute value, any name-value string type */
  int set;             /* number of the RDN holding the entry, from 0 */
  int size;            /* unused */
} X509_NAME_ENTRY;

struct X509_name_st {
  STACK *entries;     /* of X509_NAME_ENTRY, RDN by RDN */
  int modified;       /* 1: bytes must be rebuilt */
  BUF_MEM *bytes;     /* the cached DER of the whole name */
  unsigned long hash; /* reserved */
};

/* Stores a copy of name in *xn (the old name freed) unless *xn already is
 * name: 1, or 0 for a null argument or a failed copy (*xn then unchanged). */
MORVANE_EXPORT int X509_NAME_set(X509_NAME **xn, X509_NAME *name);

/* Name print flags, ORed with the string print flags of morvane/asn1.h
 * (ASN1_PF_) into one word.  Exactly one separator: */
#define NAME_PF_SEP_COMMA_PLUS 0x00010000UL /* "," between RDNs, "+" inside */
#define NAME_PF_SEP_CPLUS_SPC 0x00020000UL  /* ", " and " + " */
#define NAME_PF_SEP_SPLUS_SPC 0x00030000UL  /* "; " and " + " */
#define NAME_PF_SEP_MULTILINE 0x00040000UL  /* a newline (and the indent) and " + " */
#define NAME_PF_SEP_MASK 0x000F0000UL
#define NAME_PF_DN_REV 0x00100000UL /* the entries in reverse order */
/* The field name: short name, long name, dotted number, none. */
#define NAME_PF_FN_SN 0x00000000UL
#define NAME_PF_FN_LN 0x00200000UL
#define NAME_PF_FN_OID 0x00400000UL
#define NAME_PF_FN_NONE 0x00600000UL
#define NAME_PF_FN_MASK 0x00600000UL
#define NAME_PF_SPC_EQ 0x00800000UL              /* " = " instead of "=" */
#define NAME_PF_DUMP_UNKNOWN_FIELDS 0x01000000UL /* '#' dumps for unknown types */
#define NAME_PF_FN_ALIGN 0x02000000UL            /* names padded to 10 or 25 */

/* Prints nm after indent blanks (a negative indent counts as 0; the separators
 * other than the multi-line one drop it after the first line) with the flags;
 * an object without a NID is named by its dotted number ("<INVALID>" when that
 * text cannot be made, as for an arc over OBJ_MAX_ARC_BITS) and, with
 * NAME_PF_DUMP_UNKNOWN_FIELDS, its value dumped.  The characters written, or
 * -1 (a failed write, a separator field of another value, a value
 * ASN1_STRING_print_ex refuses).  A null out counts only. */
MORVANE_EXPORT int X509_NAME_print_ex(BIO *out, X509_NAME *nm, int indent, unsigned long flags);
MORVANE_EXPORT int X509_NAME_print_ex_fp(FILE *fp, X509_NAME *nm, int indent,
                                         unsigned long flags);
/* ---- certificates, revocation lists and requests -------------------------
 * The structures of RFC 5280 (certificates, 4.1; revocation lists, 5.1),
 * PKCS#10 requests (RFC 2986, 4), Netscape's signed public key and challenge
 * and certificate sequence, and the trust record that travels after a
 * certificate.  Each has its template family (listed with the items below).
 * X509, X509_CRL and X509_REQ are reference counted under locks 3, 6 and 7:
 * X_free drops one reference and frees at zero; take one with CRYPTO_add on
 * `references`.  The signed parts of certificates, revocation lists and
 * requests keep the octets they were decoded from and re-encode them
 * unchanged, so that signatures are checked and digests taken over the
 * octets read, until their `enc.modified` is set (the setters, the
 * extension and attribute calls, X509_sign, X509_REQ_sign, X509_CRL_sign
 * and X509_CRL_add0_revoked do so; so must any other change, such as one
 * made in place through X509_get_subject_name or a field of `cert_info`);
 * afterwards they are encoded from their fields.  A certificate's `name` (its
 * subject as X509_NAME_oneline gives it) is made by every decode, and by
 * X509_get0_subject_oneline when first asked for on a certificate built here
 * (null until then); a decode into an existing certificate first drops that
 * text, its trust record, verified mark and cached extension facts (its
 * extra data stays).  The verifier sets `valid` once a signature verified
 * (it spares no later check).  What it keeps between verifications is a
 * few verdicts (`kept_sigs`, under lock 3 for a certificate, lock 6 for a
 * list), each kept with all it was reached from and compared with it at
 * each use: the signed part as decoded (by its SHA-256 digest, made once and
 * kept in `enc` with the octets), the signature algorithm's DER, the
 * signature value and the SHA-256 digest of the checking key's
 * SubjectPublicKeyInfo; so no change to the object
 * or to the issuer's key can make one stale.  Only an object whose signed
 * part is the one decoded keeps verdicts, and a list keeps its entries'
 * facts in its `flags` only then; a decode into an existing object drops
 * both.
 *
 * Null arguments: X509_INFO_free and X509_PKEY_free accept null,
 * i2d_X509_AUX a null certificate (0), X509_NAME_oneline a null name and a
 * null buffer, d2i_X509_PKEY a null `a`; the other calls of this section
 * need a valid certificate or list. */

typedef struct X509_val_st {
  ASN1_TIME *notBefore;
  ASN1_TIME *notAfter;
} X509_VAL;

typedef struct X509_extension_st {
  ASN1_OBJECT *object;
  ASN1_BOOLEAN critical; /* -1 absent, else the decoded octet */
  ASN1_OCTET_STRING *value; /* the DER of the extension's value */
} X509_EXTENSION;
typedef STACK X509_EXTENSIONS; /* of X509_EXTENSION */

/* SubjectPublicKeyInfo (RFC 5280, 4.1.2.7) with the key decoded from it. */
typedef struct X509_pubkey_st {
  X509_ALGOR *algor;
  ASN1_BIT_STRING *public_key;
  EVP_PKEY *pkey; /* cached by X509_PUBKEY_get (one reference), or null */
  /* not encoded: what the verifier checks signatures with, a key decoded
   * from the structure's encoding as first met and those octets, or null;
   * never changed once set, freed with the structure or a decode into it */
  struct x509_pubkey_copy_st *copy;
} X509_PUBKEY;

typedef struct x509_cinf_st {
  ASN1_INTEGER *version; /* [0] EXPLICIT, null when absent (version 1) */
  ASN1_INTEGER *serialNumber;
  X509_ALGOR *signature;
  X509_NAME *issuer;
  X509_VAL *validity;
  X509_NAME *subject;
  X509_PUBKEY *key;
  ASN1_BIT_STRING *issuerUID;  /* [1] IMPLICIT, null when absent */
  ASN1_BIT_STRING *subjectUID; /* [2] IMPLICIT, null when absent */
  STACK *extensions;           /* [3] EXPLICIT, of X509_EXTENSION; null when absent */
  ASN1_ENCODING enc;           /* not encoded: the octets decoded, see above */
} X509_CINF;

/* The trust record kept beside a certificate (never inside it). */
typedef struct x509_cert_aux_st {
  STACK *trust;            /* of ASN1_OBJECT: uses trusted, or null */
  STACK *reject;           /* of ASN1_OBJECT: uses rejected, [0] IMPLICIT, or null */
  ASN1_UTF8STRING *alias;  /* or null */
  ASN1_OCTET_STRING *keyid; /* or null */
  STACK *other;            /* of X509_ALGOR, [1] IMPLICIT, or null */
} X509_CERT_AUX;

struct x509_st {
  X509_CINF *cert_info;
  X509_ALGOR *sig_alg;
  ASN1_BIT_STRING *signature;
  /* not encoded: */
  int valid;
  int references;
  char *name; /* the subject as one line of text (made by a decode), or null */
  CRYPTO_EX_DATA ex_data;
  long ex_pathlen;   /* -1 after creation */
  long ex_pcpathlen;
  unsigned long ex_flags;
  unsigned long ex_kusage;
  unsigned long ex_xkusage;
  unsigned long ex_nscert;
  ASN1_OCTET_STRING *skid;
  AUTHORITY_KEYID *akid;
  X509_POLICY_CACHE *policy_cache;
  unsigned char sha1_hash[20];
  X509_CERT_AUX *aux; /* null until first needed */
  struct x509_kept_sigs_st *kept_sigs; /* the verifier's kept verdicts, or null */
};

typedef struct x509_revoked_st {
  ASN1_INTEGER *serialNumber;
  ASN1_TIME *revocationDate;
  STACK *extensions; /* of X509_EXTENSION, or null */
  int sequence;      /* not encoded */
} X509_REVOKED;

typedef struct X509_crl_info_st {
  ASN1_INTEGER *version; /* null when absent */
  X509_ALGOR *sig_alg;
  X509_NAME *issuer;
  ASN1_TIME *lastUpdate;
  ASN1_TIME *nextUpdate; /* null when absent */
  STACK *revoked;        /* of X509_REVOKED, ordered by serial number; or null */
  STACK *extensions;     /* [0] EXPLICIT, of X509_EXTENSION; or null */
  ASN1_ENCODING enc;     /* the DER decoded, reused until modified */
} X509_CRL_INFO;

struct X509_crl_st {
  X509_CRL_INFO *crl;
  X509_ALGOR *sig_alg;
  ASN1_BIT_STRING *signature;
  int references;
  /* not encoded: */
  int valid; /* 1: its signature verified once */
  struct x509_kept_sigs_st *kept_sigs; /* the verifier's kept verdicts, or null */
  int flags; /* facts the verifier keeps of its entries */
};

typedef struct X509_req_info_st {
  ASN1_ENCODING enc; /* the DER decoded, reused until modified */
  ASN1_INTEGER *version;
  X509_NAME *subject;
  X509_PUBKEY *pubkey;
  STACK *attributes; /* [0] IMPLICIT SET OF X509_ATTRIBUTE; empty when made here */
} X509_REQ_INFO;

struct X509_req_st {
  X509_REQ_INFO *req_info;
  X509_ALGOR *sig_alg;
  ASN1_BIT_STRING *signature;
  int references;
};

typedef struct Netscape_spkac_st {
  X509_PUBKEY *pubkey;
  ASN1_IA5STRING *challenge;
} NETSCAPE_SPKAC;

typedef struct Netscape_spki_st {
  NETSCAPE_SPKAC *spkac;
  X509_ALGOR *sig_algor;
  ASN1_BIT_STRING *signature;
} NETSCAPE_SPKI;

typedef struct X509_cert_pair_st {
  X509 *forward; /* [0] EXPLICIT, or null */
  X509 *reverse; /* [1] EXPLICIT, or null */
} X509_CERT_PAIR;

/* A new one carries the object of NID 79 (nsCertSequence). */
typedef struct Netscape_certificate_sequence {
  ASN1_OBJECT *type;
  STACK *certs; /* [0] EXPLICIT, of X509; or null */
} NETSCAPE_CERT_SEQUENCE;

/* A private key as the PEM layer holds it; references under lock 5. */
typedef struct private_key_st {
  int version;
  X509_ALGOR *enc_algor;      /* the cipher of the legacy encrypted form */
  ASN1_OCTET_STRING *enc_pkey; /* its encrypted key */
  EVP_PKEY *dec_pkey;         /* the key once decrypted, or null */
  int key_length;
  char *key_data;
  int key_free; /* non-zero: key_data is owned */
  EVP_CIPHER_INFO cipher;
  int references;
} X509_PKEY;

/* One item of a mixed PEM file; references under lock 4. */
typedef struct X509_info_st {
  X509 *x509;
  X509_CRL *crl;
  X509_PKEY *x_pkey;
  EVP_CIPHER_INFO enc_cipher;
  int enc_len;
  char *enc_data; /* enc_len bytes of encrypted key data, owned */
  int references;
} X509_INFO;

/* Appends rev (owned from now on) to the revocation list's entries, making
 * the list (ordered by serial number) when absent, and marks the signed part
 * modified.  1, or 0 with "malloc failure". */
MORVANE_EXPORT int X509_CRL_add0_revoked(X509_CRL *crl, X509_REVOKED *rev);
/* The order of a revocation list's entries: the serial numbers of *a and *b
 * compared as ASN1_STRING_cmp does (negative, 0 or positive); a null pointer,
 * entry or serial number sorts before every entry (two are equal). */
MORVANE_EXPORT int X509_REVOKED_cmp(const X509_REVOKED *const *a, const X509_REVOKED *const *b);

/* The certificate's subject as one line of text (X509_NAME_oneline), made
 * on the first call and kept in its `name` (under lock 3) until the subject
 * is set or the certificate decoded again; lent.  Null for a null
 * certificate, or with "malloc failure". */
MORVANE_EXPORT const char *X509_get0_subject_oneline(X509 *x);

/* Extra data of class CRYPTO_EX_INDEX_X509 (morvane/crypto.h). */
MORVANE_EXPORT int X509_get_ex_new_index(long argl, void *argp, CRYPTO_EX_new *new_func,
                                         CRYPTO_EX_dup *dup_func, CRYPTO_EX_free *free_func);
MORVANE_EXPORT int X509_set_ex_data(X509 *r, int idx, void *arg);
MORVANE_EXPORT void *X509_get_ex_data(X509 *r, int idx);

/* The legacy method record: i2d_X509, d2i_X509, X509_new, X509_free. */
MORVANE_EXPORT const ASN1_METHOD *X509_asn1_meth(void);

/* A certificate followed by its trust record.  d2i_X509_AUX decodes the
 * certificate and, when input remains, the record into its `aux`; a record
 * that does not decode frees the certificate (*a set to null when a is
 * given) and gives null.  i2d_X509_AUX writes both (the record only when
 * there is one) and returns the sum of their lengths; like every encoder it
 * measures with out null, writes at *out and advances it, or, with *out
 * null, allocates the whole output (free it with MORVANE_free). */
MORVANE_EXPORT X509 *d2i_X509_AUX(X509 **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_X509_AUX(X509 *a, unsigned char **out);

/* The alias and key id of the trust record.  With a value: make the record
 * and the field as needed and copy len bytes (-1: a zero-terminated text);
 * 1, or 0.  With a null value: free the field (if any); 1. */
MORVANE_EXPORT int X509_alias_set1(X509 *x, const unsigned char *name, int len);
MORVANE_EXPORT int X509_keyid_set1(X509 *x, const unsigned char *id, int len);
/* Their bytes (length at *len when len is not null), or null when absent. */
MORVANE_EXPORT unsigned char *X509_alias_get0(X509 *x, int *len);
MORVANE_EXPORT unsigned char *X509_keyid_get0(X509 *x, int *len);
/* Push a copy of obj onto the trusted or rejected uses, making the record
 * and list as needed: the new count, or 0. */
MORVANE_EXPORT int X509_add1_trust_object(X509 *x, ASN1_OBJECT *obj);
MORVANE_EXPORT int X509_add1_reject_object(X509 *x, ASN1_OBJECT *obj);
/* Free the whole list of trusted (rejected) uses. */
MORVANE_EXPORT void X509_trust_clear(X509 *x);
MORVANE_EXPORT void X509_reject_clear(X509 *x);

/* A new X509_INFO (all null, one reference), or null with "malloc failure".
 * X509_INFO_free drops one reference and at zero frees what it holds. */
MORVANE_EXPORT X509_INFO *X509_INFO_new(void);
MORVANE_EXPORT void X509_INFO_free(X509_INFO *a);
/* A new X509_PKEY (version 0, empty algorithm and key string, one
 * reference), or null.  X509_PKEY_free drops one reference and at zero frees
 * what it holds. */
MORVANE_EXPORT X509_PKEY *X509_PKEY_new(void);
MORVANE_EXPORT void X509_PKEY_free(X509_PKEY *a);
/* Reads the legacy form SEQUENCE { algorithm, OCTET STRING } into *a (or a
 * new record) and sets `cipher` from the algorithm (by its long name) and its
 * OCTET STRING parameter (the IV, at most 16 bytes; else a zero IV).  Null
 * with "unsupported cipher", "iv too large" or a decoding reason (the
 * position attached).  i2d_X509_PKEY writes nothing and returns 0. */
MORVANE_EXPORT X509_PKEY *d2i_X509_PKEY(X509_PKEY **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_X509_PKEY(X509_PKEY *a, unsigned char **out);

/* ---- public keys ---------------------------------------------------------
 * X509_PUBKEY_set builds a structure from a key container (RSA, DSA or EC):
 * the algorithm is the object of the key's type with a NULL parameter for
 * RSA and whenever the container's save_parameters is 0, else the DSA
 * parameters (a SEQUENCE) or the EC curve's object (a named curve) or
 * explicit parameters (a SEQUENCE); the key is the algorithm's public-key
 * encoding (i2d_PublicKey).  It replaces *x (freed) and returns 1, or 0 with
 * *x untouched.  X509_PUBKEY_get returns the key with one reference for the
 * caller, decoding and caching it on first use (safe from several threads:
 * the first key published under lock 10 is kept); null when key or its
 * public_key is null or the key cannot be decoded.  A decode into an
 * existing X509_PUBKEY drops the key it cached.
 *
 * d2i_PUBKEY/i2d_PUBKEY code a key container as SubjectPublicKeyInfo; the
 * _RSA_, _DSA_ and _EC_ forms code the algorithm key (a key of another type
 * fails and leaves *in where it was).  d2i_PrivateKey and d2i_PublicKey
 * decode the algorithm's own encoding (RSAPrivateKey, DSA's six INTEGERs,
 * ECPrivateKey; RSAPublicKey, DSA's public INTEGER, the EC point into the
 * group already in *a) into *a (when a and *a are given) or a new container;
 * d2i_AutoPrivateKey finds the type by counting the elements of the outer
 * SEQUENCE (6 DSA, 4 EC, else RSA).  A failed decode leaves a container
 * passed in as it was (the DSA and EC public forms excepted, which fill its
 * key in place).  i2d_PrivateKey and i2d_PublicKey encode an RSA, DSA or EC
 * container and give -1 with "unsupported public key type" for any other
 * (or one without its key).
 *
 * Null arguments: X509_PUBKEY_set gives 0 for a null x or pkey and
 * X509_PUBKEY_get null for a null key; a null key to an encoder gives 0
 * (the _PUBKEY forms) or -1; the decoders take a null `a`. */
MORVANE_EXPORT int X509_PUBKEY_set(X509_PUBKEY **x, EVP_PKEY *pkey);
MORVANE_EXPORT EVP_PKEY *X509_PUBKEY_get(X509_PUBKEY *key);
MORVANE_EXPORT EVP_PKEY *d2i_PUBKEY(EVP_PKEY **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_PUBKEY(EVP_PKEY *a, unsigned char **out);
MORVANE_EXPORT RSA *d2i_RSA_PUBKEY(RSA **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_RSA_PUBKEY(RSA *a, unsigned char **out);
MORVANE_EXPORT DSA *d2i_DSA_PUBKEY(DSA **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_DSA_PUBKEY(DSA *a, unsigned char **out);
MORVANE_EXPORT EC_KEY *d2i_EC_PUBKEY(EC_KEY **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_EC_PUBKEY(EC_KEY *a, unsigned char **out);
MORVANE_EXPORT EVP_PKEY *d2i_PrivateKey(int type, EVP_PKEY **a, const unsigned char **in,
                                        long len);
MORVANE_EXPORT EVP_PKEY *d2i_AutoPrivateKey(EVP_PKEY **a, const unsigned char **in, long len);
MORVANE_EXPORT EVP_PKEY *d2i_PublicKey(int type, EVP_PKEY **a, const unsigned char **in,
                                       long len);
MORVANE_EXPORT int i2d_PrivateKey(EVP_PKEY *a, unsigned char **out);
MORVANE_EXPORT int i2d_PublicKey(EVP_PKEY *a, unsigned char **out);

/* The subject as one line of text: "/" short name (or dotted object, or
 * "<INVALID>" when that text cannot be made) "=" value for each entry, value
 * bytes below 0x20 or above 0x7E written as \xHH.  With buf null, a new text
 * (free it with MORVANE_free), else at most len bytes with the zero in buf,
 * holding the whole entries that fit; a null name gives "NO X509_NAME".  Null
 * with "malloc failure" (or for a caller's buffer with len 0 or less). */
MORVANE_EXPORT char *X509_NAME_oneline(X509_NAME *a, char *buf, int len);
/* ---- digests and the legacy encrypted RSA key ---------------------------
 * X509_SIG is DigestInfo (RFC 8017, 9.2): a digest algorithm and the digest;
 * the encrypted PKCS#8 key reuses it for its algorithm and ciphertext.
 *
 * The Netscape private-key format keeps an RSA private key under a pass
 * phrase: NETSCAPE_ENCRYPTED_PKEY { OCTET STRING "private-key", X509_SIG {
 * rc4, the RC4 encryption of the DER of NETSCAPE_PKEY { version 0,
 * rsaEncryption, the key's RSAPrivateKey DER } } }, the RC4 key made from
 * the pass phrase with MD5 (EVP_BytesToKey, one round, no salt); with
 * `sgckey` the pass phrase is first replaced by its MD5 digest followed by
 * the ten characters "PLOVRAKTEN".  The pass phrase comes from `cb` (null:
 * EVP_read_pw_string), called with a 256-byte buffer, the prompt "Enter
 * Private Key password:" and verify 1 when writing, 0 when reading; a
 * non-zero result is "bad password read".  At most 255 bytes of the buffer
 * are taken, up to its first zero.  The pass phrase, the key and every
 * plaintext copy of the private key are wiped before they are released.
 * Null arguments: a null key gives 0, a null out measures, a null cb asks
 * through EVP_read_pw_string, a null a decodes into a new key; in must
 * point to the record. */

typedef struct X509_sig_st {
  X509_ALGOR *algor;
  ASN1_OCTET_STRING *digest;
} X509_SIG;

typedef struct Netscape_pkey_st {
  long version;
  X509_ALGOR *algor;
  ASN1_OCTET_STRING *private_key;
} NETSCAPE_PKEY;

typedef struct Netscape_encrypted_pkey_st {
  ASN1_OCTET_STRING *os; /* the label "private-key" */
  X509_SIG *enckey;      /* rc4 and the encrypted NETSCAPE_PKEY */
} NETSCAPE_ENCRYPTED_PKEY;

/* Writes the stored record of `a` at *out as DER does (out null: only
 * measures, asking for no pass phrase); its length, or 0 for a null key or
 * on failure. */
MORVANE_EXPORT int i2d_RSA_NET(const RSA *a, unsigned char **out,
                               int (*cb)(char *buf, int len, const char *prompt, int verify),
                               int sgckey);
MORVANE_EXPORT int i2d_Netscape_RSA(const RSA *a, unsigned char **out,
                                    int (*cb)(char *buf, int len, const char *prompt, int verify));
/* Reads a stored record: the label must be "private-key" ("private key
 * header missing") and the cipher RC4 ("unsupported encryption algorithm"),
 * both checked before the pass phrase is asked for; a wrong pass phrase shows
 * as "unable to decode rsa private key" or "unable to decode rsa key".  The
 * key (decoded into *a when a is given, as d2i_RSAPrivateKey does), with
 * *in advanced, or null with *in unchanged.  A null `in` (or null *in with
 * len above 0) is refused with "passed a null parameter". */
MORVANE_EXPORT RSA *d2i_RSA_NET(RSA **a, const unsigned char **in, long len,
                                int (*cb)(char *buf, int len, const char *prompt, int verify),
                                int sgckey);
MORVANE_EXPORT RSA *d2i_Netscape_RSA(RSA **a, const unsigned char **in, long len,
                                     int (*cb)(char *buf, int len, const char *prompt,
                                               int verify));

/* ---- name entries --------------------------------------------------------
 * Indexes run from 0 over the flat list of entries.  A search starts after
 * `lastpos` (any negative value: at the start) and gives the index found,
 * -1 when there is none (or the name is null), -2 for a NID without object.
 * X509_NAME_get_text_by_OBJ (_NID) reads the first entry of that type: with
 * buf null the value's length; else min(length, len-1) bytes and a zero,
 * returning the bytes copied; -1 when there is no such entry (or, for _NID,
 * no object) and when buf is given with len below 1.  X509_NAME_get_entry
 * lends the entry at loc, X509_NAME_delete_entry removes it (the caller frees
 * it) and closes the gap in the RDN numbers when it was alone in its RDN;
 * both give null for loc outside 0..count-1.
 *
 * X509_NAME_add_entry inserts a copy of ne at loc (negative or past the end:
 * appended).  With set -1 the entry joins the RDN before it (at loc 0 it
 * makes a new first RDN); with any other set it joins the RDN now at loc, or
 * makes a new last RDN when appended; a new first RDN shifts the numbers of
 * the entries after it.  1, or 0 (null name or entry, or memory).  The
 * by_OBJ/NID/txt forms build a temporary entry as the create calls below do.
 *
 * X509_NAME_ENTRY_create_by_OBJ (_NID, _txt: a short or long name or dotted
 * number, "invalid field name" with "name=" attached when unknown) fills
 * *ne when ne and *ne are given, else a new entry (stored in *ne when ne is
 * given): the entry, or null (a new entry freed, never the caller's).
 * X509_NAME_ENTRY_set_data stores len bytes (negative len: strlen(bytes));
 * type ASN1_MB_* converts text to the string type the attribute's rule
 * picks (ASN1_STRING_set_by_NID: len -1 is strlen(bytes), a length below -1
 * is refused), -1 keeps the value's type, -2 takes
 * ASN1_PRINTABLE_type, any other number becomes the type.  bytes may be null
 * only with len 0.
 *
 * Null arguments: names and entries may be null (counts 0, searches -1,
 * getters null, changes 0; set_object queues "passed a null parameter"). */
MORVANE_EXPORT int X509_NAME_entry_count(X509_NAME *name);
MORVANE_EXPORT int X509_NAME_get_index_by_NID(X509_NAME *name, int nid, int lastpos);
MORVANE_EXPORT int X509_NAME_get_index_by_OBJ(X509_NAME *name, ASN1_OBJECT *obj, int lastpos);
MORVANE_EXPORT int X509_NAME_get_text_by_NID(X509_NAME *name, int nid, char *buf, int len);
MORVANE_EXPORT int X509_NAME_get_text_by_OBJ(X509_NAME *name, ASN1_OBJECT *obj, char *buf,
                                             int len);
MORVANE_EXPORT X509_NAME_ENTRY *X509_NAME_get_entry(X509_NAME *name, int loc);
MORVANE_EXPORT X509_NAME_ENTRY *X509_NAME_delete_entry(X509_NAME *name, int loc);
MORVANE_EXPORT int X509_NAME_add_entry(X509_NAME *name, X509_NAME_ENTRY *ne, int loc, int set);
MORVANE_EXPORT int X509_NAME_add_entry_by_OBJ(X509_NAME *name, ASN1_OBJECT *obj, int type,
                                              const unsigned char *bytes, int len, int loc,
                                              int set);
MORVANE_EXPORT int X509_NAME_add_entry_by_NID(X509_NAME *name, int nid, int type,
                                              const unsigned char *bytes, int len, int loc,
                                              int set);
MORVANE_EXPORT int X509_NAME_add_entry_by_txt(X509_NAME *name, const char *field, int type,
                                              const unsigned char *bytes, int len, int loc,
                                              int set);
MORVANE_EXPORT X509_NAME_ENTRY *X509_NAME_ENTRY_create_by_OBJ(X509_NAME_ENTRY **ne,
                                                              ASN1_OBJECT *obj, int type,
                                                              const unsigned char *bytes,
                                                              int len);
MORVANE_EXPORT X509_NAME_ENTRY *X509_NAME_ENTRY_create_by_NID(X509_NAME_ENTRY **ne, int nid,
                                                              int type,
                                                              const unsigned char *bytes,
                                                              int len);
MORVANE_EXPORT X509_NAME_ENTRY *X509_NAME_ENTRY_create_by_txt(X509_NAME_ENTRY **ne,
                                                              const char *field, int type,
                                                              const unsigned char *bytes,
                                                              int len);
/* Frees the old object and stores a copy of obj: 1, or 0. */
MORVANE_EXPORT int X509_NAME_ENTRY_set_object(X509_NAME_ENTRY *ne, ASN1_OBJECT *obj);
MORVANE_EXPORT int X509_NAME_ENTRY_set_data(X509_NAME_ENTRY *ne, int type,
                                            const unsigned char *bytes, int len);
MORVANE_EXPORT ASN1_OBJECT *X509_NAME_ENTRY_get_object(X509_NAME_ENTRY *ne);
MORVANE_EXPORT ASN1_STRING *X509_NAME_ENTRY_get_data(X509_NAME_ENTRY *ne);

/* ---- comparing names and certificates ------------------------------------
 * X509_NAME_cmp orders names: by entry count, then entry by entry from the
 * last: values (PrintableString without regard to case and with runs of
 * white space equal, leading and trailing white space ignored; IA5String
 * e-mail addresses without regard to case; PrintableString, T61String and
 * UTF8String of equal bytes equal whatever their types; other types first by
 * type, then by length and bytes), RDN numbers, and last the objects; 0
 * means equal.  A null name compares as an empty one.
 *
 * X509_NAME_hash is the MD5 of the name's DER (refreshing its cached
 * encoding), its first four bytes read least significant first: the file
 * name of hashed certificate directories; 0 for a null name or one that
 * cannot be encoded.  X509_issuer_and_serial_hash reads the MD5 of the
 * issuer's one-line text followed by the serial's bytes the same way.
 *
 * X509_cmp compares the SHA-1 digests of the two certificates' DER (filled
 * by X509_check_purpose with id -1, morvane/x509v3.h): 0 for the same
 * certificate; -1 for two objects when memory for the digests ran out.  The
 * find calls return the first certificate of sk (not a
 * new reference) whose issuer and serial number, or subject, equal the ones
 * given; null when none or sk is null.
 *
 * X509_get_pubkey returns the certificate's key with a reference for the
 * caller (X509_PUBKEY_get); X509_get0_pubkey_bitstr lends the BIT STRING of
 * its SubjectPublicKeyInfo; both give null for a null certificate.
 * X509_check_private_key is 1 when k is the private key of the
 * certificate's public key; else 0 with "key values mismatch", "key type
 * mismatch", "EC lib" (EC keys that cannot be compared), "cant check dh key"
 * or "unknown key type" (other keys that cannot be compared), or "unable to
 * get certs public key".
 *
 * Null arguments: as said above; otherwise valid certificates and lists. */
MORVANE_EXPORT int X509_NAME_cmp(const X509_NAME *a, const X509_NAME *b);
MORVANE_EXPORT unsigned long X509_NAME_hash(X509_NAME *x);
MORVANE_EXPORT unsigned long X509_issuer_name_hash(X509 *x);
MORVANE_EXPORT unsigned long X509_subject_name_hash(X509 *x);
MORVANE_EXPORT unsigned long X509_issuer_and_serial_hash(X509 *a);
/* Serial numbers first (ASN1_STRING_cmp), then issuers. */
MORVANE_EXPORT int X509_issuer_and_serial_cmp(const X509 *a, const X509 *b);
MORVANE_EXPORT int X509_issuer_name_cmp(const X509 *a, const X509 *b);
MORVANE_EXPORT int X509_subject_name_cmp(const X509 *a, const X509 *b);
/* The issuers of two revocation lists. */
MORVANE_EXPORT int X509_CRL_cmp(const X509_CRL *a, const X509_CRL *b);
MORVANE_EXPORT int X509_cmp(const X509 *a, const X509 *b);
/* The fields of the certificate (borrowed). */
MORVANE_EXPORT X509_NAME *X509_get_issuer_name(X509 *a);
MORVANE_EXPORT X509_NAME *X509_get_subject_name(X509 *a);
MORVANE_EXPORT ASN1_INTEGER *X509_get_serialNumber(X509 *a);
MORVANE_EXPORT X509 *X509_find_by_issuer_and_serial(STACK *sk, X509_NAME *name,
                                                    ASN1_INTEGER *serial);
MORVANE_EXPORT X509 *X509_find_by_subject(STACK *sk, X509_NAME *name);
MORVANE_EXPORT EVP_PKEY *X509_get_pubkey(X509 *x);
MORVANE_EXPORT ASN1_BIT_STRING *X509_get0_pubkey_bitstr(const X509 *x);
MORVANE_EXPORT int X509_check_private_key(X509 *x, EVP_PKEY *k);

/* ---- extension lists -----------------------------------------------------
 * A STACK of X509_EXTENSION, as certificates, revocation lists and their
 * entries carry them; a null list counts as empty.  Indexes run from 0; a
 * search starts after `lastpos` (any negative value: at the start) and gives
 * the index found, -1 when there is none, -2 for a NID without object.
 * X509v3_get_ext_by_critical finds an extension whose criticality (critical
 * above 0) equals the truth of crit.  X509v3_get_ext lends and
 * X509v3_delete_ext removes (the caller frees) the extension at loc; null
 * for loc outside 0..count-1.  X509v3_add_ext inserts a copy at loc
 * (negative or past the end: appended), creating the list when *x is null:
 * the list, or null (the caller's list unchanged).
 *
 * X509_EXTENSION_create_by_OBJ (_NID) fills *ex when ex and *ex are given,
 * else a new extension (stored in *ex when ex is given), with a copy of the
 * object, the criticality and a copy of data's bytes: the extension, or
 * null (a new extension freed, never the caller's).  set_critical stores 255
 * for a non-zero crit, else -1 (absent); get_critical is 1 when critical is
 * above 0, else 0.  The setters return 1, or 0 for a null argument or
 * memory; the getters lend the field, null for a null extension.
 *
 * The X509_, X509_CRL_ and X509_REVOKED_ forms apply the list calls to the
 * object's own list (created by a first add, which returns 1 or 0); they
 * need a valid object.  Their get_ext_d2i and add1_ext_i2d forms are
 * X509V3_get_d2i and X509V3_add1_i2d of <morvane/x509v3.h> on that list:
 * add1_ext_i2d gives 1 when done, 0 when the operation is refused or the
 * value cannot be encoded, and -1 ("malloc failure" queued) when the list
 * cannot be made or cannot take the extension; test its result with > 0. */
MORVANE_EXPORT int X509v3_get_ext_count(const STACK *x);
MORVANE_EXPORT int X509v3_get_ext_by_NID(const STACK *x, int nid, int lastpos);
MORVANE_EXPORT int X509v3_get_ext_by_OBJ(const STACK *x, ASN1_OBJECT *obj, int lastpos);
MORVANE_EXPORT int X509v3_get_ext_by_critical(const STACK *x, int crit, int lastpos);
MORVANE_EXPORT X509_EXTENSION *X509v3_get_ext(const STACK *x, int loc);
MORVANE_EXPORT X509_EXTENSION *X509v3_delete_ext(STACK *x, int loc);
MORVANE_EXPORT STACK *X509v3_add_ext(STACK **x, X509_EXTENSION *ex, int loc);
MORVANE_EXPORT X509_EXTENSION *X509_EXTENSION_create_by_NID(X509_EXTENSION **ex, int nid,
                                                            int crit, ASN1_OCTET_STRING *data);
MORVANE_EXPORT X509_EXTENSION *X509_EXTENSION_create_by_OBJ(X509_EXTENSION **ex,
                                                            ASN1_OBJECT *obj, int crit,
                                                            ASN1_OCTET_STRING *data);
MORVANE_EXPORT int X509_EXTENSION_set_object(X509_EXTENSION *ex, ASN1_OBJECT *obj);
MORVANE_EXPORT int X509_EXTENSION_set_critical(X509_EXTENSION *ex, int crit);
MORVANE_EXPORT int X509_EXTENSION_set_data(X509_EXTENSION *ex, ASN1_OCTET_STRING *data);
MORVANE_EXPORT ASN1_OBJECT *X509_EXTENSION_get_object(X509_EXTENSION *ex);
MORVANE_EXPORT ASN1_OCTET_STRING *X509_EXTENSION_get_data(X509_EXTENSION *ex);
MORVANE_EXPORT int X509_EXTENSION_get_critical(X509_EXTENSION *ex);

MORVANE_EXPORT int X509_get_ext_count(X509 *x);
MORVANE_EXPORT int X509_get_ext_by_NID(X509 *x, int nid, int lastpos);
MORVANE_EXPORT int X509_get_ext_by_OBJ(X509 *x, ASN1_OBJECT *obj, int lastpos);
MORVANE_EXPORT int X509_get_ext_by_critical(X509 *x, int crit, int lastpos);
MORVANE_EXPORT X509_EXTENSION *X509_get_ext(X509 *x, int loc);
MORVANE_EXPORT X509_EXTENSION *X509_delete_ext(X509 *x, int loc);
MORVANE_EXPORT int X509_add_ext(X509 *x, X509_EXTENSION *ex, int loc);
MORVANE_EXPORT void *X509_get_ext_d2i(X509 *x, int nid, int *crit, int *idx);
MORVANE_EXPORT int X509_add1_ext_i2d(X509 *x, int nid, void *value, int crit,
                                     unsigned long flags);
MORVANE_EXPORT int X509_CRL_get_ext_count(X509_CRL *x);
MORVANE_EXPORT int X509_CRL_get_ext_by_NID(X509_CRL *x, int nid, int lastpos);
MORVANE_EXPORT int X509_CRL_get_ext_by_OBJ(X509_CRL *x, ASN1_OBJECT *obj, int lastpos);
MORVANE_EXPORT int X509_CRL_get_ext_by_critical(X509_CRL *x, int crit, int lastpos);
MORVANE_EXPORT X509_EXTENSION *X509_CRL_get_ext(X509_CRL *x, int loc);
MORVANE_EXPORT X509_EXTENSION *X509_CRL_delete_ext(X509_CRL *x, int loc);
MORVANE_EXPORT int X509_CRL_add_ext(X509_CRL *x, X509_EXTENSION *ex, int loc);
MORVANE_EXPORT void *X509_CRL_get_ext_d2i(X509_CRL *x, int nid, int *crit, int *idx);
MORVANE_EXPORT int X509_CRL_add1_ext_i2d(X509_CRL *x, int nid, void *value, int crit,
                                         unsigned long flags);
MORVANE_EXPORT int X509_REVOKED_get_ext_count(X509_REVOKED *x);
MORVANE_EXPORT int X509_REVOKED_get_ext_by_NID(X509_REVOKED *x, int nid, int lastpos);
MORVANE_EXPORT int X509_REVOKED_get_ext_by_OBJ(X509_REVOKED *x, ASN1_OBJECT *obj, int lastpos);
MORVANE_EXPORT int X509_REVOKED_get_ext_by_critical(X509_REVOKED *x, int crit, int lastpos);
MORVANE_EXPORT X509_EXTENSION *X509_REVOKED_get_ext(X509_REVOKED *x, int loc);
MORVANE_EXPORT X509_EXTENSION *X509_REVOKED_delete_ext(X509_REVOKED *x, int loc);
MORVANE_EXPORT int X509_REVOKED_add_ext(X509_REVOKED *x, X509_EXTENSION *ex, int loc);
MORVANE_EXPORT void *X509_REVOKED_get_ext_d2i(X509_REVOKED *x, int nid, int *crit, int *idx);
MORVANE_EXPORT int X509_REVOKED_add1_ext_i2d(X509_REVOKED *x, int nid, void *value, int crit,
                                             unsigned long flags);

/* The attribute-list calls on a request's attributes (req_info->attributes;
 * a null list counts -1); the add1 forms create the list when there is none
 * and return 1 or 0.  They need a valid request. */
MORVANE_EXPORT int X509_REQ_get_attr_count(X509_REQ *x);
MORVANE_EXPORT int X509_REQ_get_attr_by_NID(X509_REQ *x, int nid, int lastpos);
MORVANE_EXPORT int X509_REQ_get_attr_by_OBJ(X509_REQ *x, ASN1_OBJECT *obj, int lastpos);
MORVANE_EXPORT X509_ATTRIBUTE *X509_REQ_get_attr(X509_REQ *x, int loc);
MORVANE_EXPORT X509_ATTRIBUTE *X509_REQ_delete_attr(X509_REQ *x, int loc);
MORVANE_EXPORT int X509_REQ_add1_attr(X509_REQ *x, X509_ATTRIBUTE *attr);
MORVANE_EXPORT int X509_REQ_add1_attr_by_OBJ(X509_REQ *x, const ASN1_OBJECT *obj, int type,
                                             const unsigned char *bytes, int len);
MORVANE_EXPORT int X509_REQ_add1_attr_by_NID(X509_REQ *x, int nid, int type,
                                             const unsigned char *bytes, int len);
MORVANE_EXPORT int X509_REQ_add1_attr_by_txt(X509_REQ *x, const char *attrname, int type,
                                             const unsigned char *bytes, int len);

/* ---- single attributes ---------------------------------------------------
 * X509_ATTRIBUTE_create_by_OBJ (_NID; _txt: a short or long name or dotted
 * number, "invalid field name" with "name=" attached when unknown) fills
 * *attr when attr and *attr are given, else a new attribute (stored in *attr
 * when attr is given), with a copy of the object and the value as
 * X509_ATTRIBUTE_set1_data makes it: the attribute, or null (a new
 * attribute freed, never the caller's).
 *
 * X509_ATTRIBUTE_set1_data makes the attribute's value a SET of at most one
 * value, freeing the old value (a failure leaves it as it was): with
 * attrtype 0 an empty SET; with a character form (ASN1_MB_*) the string type
 * the attribute's rule picks (ASN1_STRING_set_by_NID; "ASN1 lib" when the
 * text does not fit it); with len -1 a copy of the value of ASN.1 type
 * attrtype at data (an ASN1_OBJECT, an ASN1_STRING, ...); else a string of
 * type attrtype holding len bytes.  A negative type, a length below -1, or
 * a length with a type that is no string (OBJECT, BOOLEAN, NULL) gives
 * "wrong type".  1, or 0.
 *
 * X509_ATTRIBUTE_count is the number of values (1 or 0 for the single
 * form).  X509_ATTRIBUTE_get0_type lends value idx (the single form's value
 * for any idx below 1); X509_ATTRIBUTE_get0_data lends the content of that
 * value (its string, object, ...) when its type is atrtype, else queues
 * "wrong type"; data is not read.  Both give null for idx not below the
 * count.
 *
 * Null arguments: a null attribute gives 0 or null; set1_object refuses a
 * null object (0). */
MORVANE_EXPORT X509_ATTRIBUTE *X509_ATTRIBUTE_create_by_OBJ(X509_ATTRIBUTE **attr,
                                                            const ASN1_OBJECT *obj, int atrtype,
                                                            const void *data, int len);
MORVANE_EXPORT X509_ATTRIBUTE *X509_ATTRIBUTE_create_by_NID(X509_ATTRIBUTE **attr, int nid,
                                                            int atrtype, const void *data,
                                                            int len);
MORVANE_EXPORT X509_ATTRIBUTE *X509_ATTRIBUTE_create_by_txt(X509_ATTRIBUTE **attr,
                                                            const char *atrname, int type,
                                                            const unsigned char *bytes, int len);
/* Frees the old object and stores a copy of obj: 1, or 0. */
MORVANE_EXPORT int X509_ATTRIBUTE_set1_object(X509_ATTRIBUTE *attr, const ASN1_OBJECT *obj);
MORVANE_EXPORT int X509_ATTRIBUTE_set1_data(X509_ATTRIBUTE *attr, int attrtype, const void *data,
                                            int len);
MORVANE_EXPORT int X509_ATTRIBUTE_count(X509_ATTRIBUTE *attr);
MORVANE_EXPORT ASN1_OBJECT *X509_ATTRIBUTE_get0_object(X509_ATTRIBUTE *attr);
MORVANE_EXPORT ASN1_TYPE *X509_ATTRIBUTE_get0_type(X509_ATTRIBUTE *attr, int idx);
MORVANE_EXPORT void *X509_ATTRIBUTE_get0_data(X509_ATTRIBUTE *attr, int idx, int atrtype,
                                              void *data);

/* The X.509 items and their functions (X_new, X_free, d2i_X, i2d_X, X_dup),
 * with the two nested forms of a name's wire encoding (SET OF entries for one
 * RDN, SEQUENCE OF those for the whole name). */
/* BEGIN ITEMS (generated by tools/gen_asn1_items.py) */
MORVANE_EXPORT extern const ASN1_ITEM X509_NAME_ENTRY_it;
MORVANE_EXPORT X509_NAME_ENTRY *X509_NAME_ENTRY_new(void);
MORVANE_EXPORT void X509_NAME_ENTRY_free(X509_NAME_ENTRY *a);
MORVANE_EXPORT X509_NAME_ENTRY *d2i_X509_NAME_ENTRY(X509_NAME_ENTRY **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_X509_NAME_ENTRY(X509_NAME_ENTRY *a, unsigned char **out);
MORVANE_EXPORT X509_NAME_ENTRY *X509_NAME_ENTRY_dup(X509_NAME_ENTRY *a);
MORVANE_EXPORT extern const ASN1_ITEM X509_NAME_ENTRIES_it;
MORVANE_EXPORT extern const ASN1_ITEM X509_NAME_INTERNAL_it;
MORVANE_EXPORT extern const ASN1_ITEM X509_NAME_it;
MORVANE_EXPORT X509_NAME *X509_NAME_new(void);
MORVANE_EXPORT void X509_NAME_free(X509_NAME *a);
MORVANE_EXPORT X509_NAME *d2i_X509_NAME(X509_NAME **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_X509_NAME(X509_NAME *a, unsigned char **out);
MORVANE_EXPORT X509_NAME *X509_NAME_dup(X509_NAME *a);
MORVANE_EXPORT extern const ASN1_ITEM X509_VAL_it;
MORVANE_EXPORT X509_VAL *X509_VAL_new(void);
MORVANE_EXPORT void X509_VAL_free(X509_VAL *a);
MORVANE_EXPORT X509_VAL *d2i_X509_VAL(X509_VAL **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_X509_VAL(X509_VAL *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM X509_EXTENSION_it;
MORVANE_EXPORT X509_EXTENSION *X509_EXTENSION_new(void);
MORVANE_EXPORT void X509_EXTENSION_free(X509_EXTENSION *a);
MORVANE_EXPORT X509_EXTENSION *d2i_X509_EXTENSION(X509_EXTENSION **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_X509_EXTENSION(X509_EXTENSION *a, unsigned char **out);
MORVANE_EXPORT X509_EXTENSION *X509_EXTENSION_dup(X509_EXTENSION *a);
MORVANE_EXPORT extern const ASN1_ITEM X509_EXTENSIONS_it;
MORVANE_EXPORT X509_EXTENSIONS *d2i_X509_EXTENSIONS(X509_EXTENSIONS **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_X509_EXTENSIONS(X509_EXTENSIONS *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM X509_PUBKEY_it;
MORVANE_EXPORT X509_PUBKEY *X509_PUBKEY_new(void);
MORVANE_EXPORT void X509_PUBKEY_free(X509_PUBKEY *a);
MORVANE_EXPORT X509_PUBKEY *d2i_X509_PUBKEY(X509_PUBKEY **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_X509_PUBKEY(X509_PUBKEY *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM X509_CINF_it;
MORVANE_EXPORT X509_CINF *X509_CINF_new(void);
MORVANE_EXPORT void X509_CINF_free(X509_CINF *a);
MORVANE_EXPORT X509_CINF *d2i_X509_CINF(X509_CINF **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_X509_CINF(X509_CINF *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM X509_it;
MORVANE_EXPORT X509 *X509_new(void);
MORVANE_EXPORT void X509_free(X509 *a);
MORVANE_EXPORT X509 *d2i_X509(X509 **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_X509(X509 *a, unsigned char **out);
MORVANE_EXPORT X509 *X509_dup(X509 *a);
MORVANE_EXPORT extern const ASN1_ITEM X509_CERT_AUX_it;
MORVANE_EXPORT X509_CERT_AUX *X509_CERT_AUX_new(void);
MORVANE_EXPORT void X509_CERT_AUX_free(X509_CERT_AUX *a);
MORVANE_EXPORT X509_CERT_AUX *d2i_X509_CERT_AUX(X509_CERT_AUX **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_X509_CERT_AUX(X509_CERT_AUX *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM X509_CERT_PAIR_it;
MORVANE_EXPORT X509_CERT_PAIR *X509_CERT_PAIR_new(void);
MORVANE_EXPORT void X509_CERT_PAIR_free(X509_CERT_PAIR *a);
MORVANE_EXPORT X509_CERT_PAIR *d2i_X509_CERT_PAIR(X509_CERT_PAIR **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_X509_CERT_PAIR(X509_CERT_PAIR *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM X509_REVOKED_it;
MORVANE_EXPORT X509_REVOKED *X509_REVOKED_new(void);
MORVANE_EXPORT void X509_REVOKED_free(X509_REVOKED *a);
MORVANE_EXPORT X509_REVOKED *d2i_X509_REVOKED(X509_REVOKED **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_X509_REVOKED(X509_REVOKED *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM X509_CRL_INFO_it;
MORVANE_EXPORT X509_CRL_INFO *X509_CRL_INFO_new(void);
MORVANE_EXPORT void X509_CRL_INFO_free(X509_CRL_INFO *a);
MORVANE_EXPORT X509_CRL_INFO *d2i_X509_CRL_INFO(X509_CRL_INFO **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_X509_CRL_INFO(X509_CRL_INFO *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM X509_CRL_it;
MORVANE_EXPORT X509_CRL *X509_CRL_new(void);
MORVANE_EXPORT void X509_CRL_free(X509_CRL *a);
MORVANE_EXPORT X509_CRL *d2i_X509_CRL(X509_CRL **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_X509_CRL(X509_CRL *a, unsigned char **out);
MORVANE_EXPORT X509_CRL *X509_CRL_dup(X509_CRL *a);
MORVANE_EXPORT extern const ASN1_ITEM X509_REQ_INFO_it;
MORVANE_EXPORT X509_REQ_INFO *X509_REQ_INFO_new(void);
MORVANE_EXPORT void X509_REQ_INFO_free(X509_REQ_INFO *a);
MORVANE_EXPORT X509_REQ_INFO *d2i_X509_REQ_INFO(X509_REQ_INFO **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_X509_REQ_INFO(X509_REQ_INFO *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM X509_REQ_it;
MORVANE_EXPORT X509_REQ *X509_REQ_new(void);
MORVANE_EXPORT void X509_REQ_free(X509_REQ *a);
MORVANE_EXPORT X509_REQ *d2i_X509_REQ(X509_REQ **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_X509_REQ(X509_REQ *a, unsigned char **out);
MORVANE_EXPORT X509_REQ *X509_REQ_dup(X509_REQ *a);
MORVANE_EXPORT extern const ASN1_ITEM NETSCAPE_SPKAC_it;
MORVANE_EXPORT NETSCAPE_SPKAC *NETSCAPE_SPKAC_new(void);
MORVANE_EXPORT void NETSCAPE_SPKAC_free(NETSCAPE_SPKAC *a);
MORVANE_EXPORT NETSCAPE_SPKAC *d2i_NETSCAPE_SPKAC(NETSCAPE_SPKAC **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_NETSCAPE_SPKAC(NETSCAPE_SPKAC *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM NETSCAPE_SPKI_it;
MORVANE_EXPORT NETSCAPE_SPKI *NETSCAPE_SPKI_new(void);
MORVANE_EXPORT void NETSCAPE_SPKI_free(NETSCAPE_SPKI *a);
MORVANE_EXPORT NETSCAPE_SPKI *d2i_NETSCAPE_SPKI(NETSCAPE_SPKI **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_NETSCAPE_SPKI(NETSCAPE_SPKI *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM NETSCAPE_CERT_SEQUENCE_it;
MORVANE_EXPORT NETSCAPE_CERT_SEQUENCE *NETSCAPE_CERT_SEQUENCE_new(void);
MORVANE_EXPORT void NETSCAPE_CERT_SEQUENCE_free(NETSCAPE_CERT_SEQUENCE *a);
MORVANE_EXPORT NETSCAPE_CERT_SEQUENCE *d2i_NETSCAPE_CERT_SEQUENCE(NETSCAPE_CERT_SEQUENCE **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_NETSCAPE_CERT_SEQUENCE(NETSCAPE_CERT_SEQUENCE *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM X509_ALGOR_it;
MORVANE_EXPORT X509_ALGOR *X509_ALGOR_new(void);
MORVANE_EXPORT void X509_ALGOR_free(X509_ALGOR *a);
MORVANE_EXPORT X509_ALGOR *d2i_X509_ALGOR(X509_ALGOR **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_X509_ALGOR(X509_ALGOR *a, unsigned char **out);
MORVANE_EXPORT X509_ALGOR *X509_ALGOR_dup(X509_ALGOR *a);
MORVANE_EXPORT extern const ASN1_ITEM X509_ALGORS_it;
MORVANE_EXPORT X509_ALGORS *d2i_X509_ALGORS(X509_ALGORS **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_X509_ALGORS(X509_ALGORS *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM X509_ATTRIBUTE_it;
MORVANE_EXPORT X509_ATTRIBUTE *X509_ATTRIBUTE_new(void);
MORVANE_EXPORT void X509_ATTRIBUTE_free(X509_ATTRIBUTE *a);
MORVANE_EXPORT X509_ATTRIBUTE *d2i_X509_ATTRIBUTE(X509_ATTRIBUTE **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_X509_ATTRIBUTE(X509_ATTRIBUTE *a, unsigned char **out);
MORVANE_EXPORT X509_ATTRIBUTE *X509_ATTRIBUTE_dup(X509_ATTRIBUTE *a);
MORVANE_EXPORT extern const ASN1_ITEM X509_SIG_it;
MORVANE_EXPORT X509_SIG *X509_SIG_new(void);
MORVANE_EXPORT void X509_SIG_free(X509_SIG *a);
MORVANE_EXPORT X509_SIG *d2i_X509_SIG(X509_SIG **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_X509_SIG(X509_SIG *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM NETSCAPE_PKEY_it;
MORVANE_EXPORT NETSCAPE_PKEY *NETSCAPE_PKEY_new(void);
MORVANE_EXPORT void NETSCAPE_PKEY_free(NETSCAPE_PKEY *a);
MORVANE_EXPORT NETSCAPE_PKEY *d2i_NETSCAPE_PKEY(NETSCAPE_PKEY **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_NETSCAPE_PKEY(NETSCAPE_PKEY *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM NETSCAPE_ENCRYPTED_PKEY_it;
MORVANE_EXPORT NETSCAPE_ENCRYPTED_PKEY *NETSCAPE_ENCRYPTED_PKEY_new(void);
MORVANE_EXPORT void NETSCAPE_ENCRYPTED_PKEY_free(NETSCAPE_ENCRYPTED_PKEY *a);
MORVANE_EXPORT NETSCAPE_ENCRYPTED_PKEY *d2i_NETSCAPE_ENCRYPTED_PKEY(NETSCAPE_ENCRYPTED_PKEY **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_NETSCAPE_ENCRYPTED_PKEY(NETSCAPE_ENCRYPTED_PKEY *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM PBEPARAM_it;
MORVANE_EXPORT PBEPARAM *PBEPARAM_new(void);
MORVANE_EXPORT void PBEPARAM_free(PBEPARAM *a);
MORVANE_EXPORT PBEPARAM *d2i_PBEPARAM(PBEPARAM **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_PBEPARAM(PBEPARAM *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM PBE2PARAM_it;
MORVANE_EXPORT PBE2PARAM *PBE2PARAM_new(void);
MORVANE_EXPORT void PBE2PARAM_free(PBE2PARAM *a);
MORVANE_EXPORT PBE2PARAM *d2i_PBE2PARAM(PBE2PARAM **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_PBE2PARAM(PBE2PARAM *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM PBKDF2PARAM_it;
MORVANE_EXPORT PBKDF2PARAM *PBKDF2PARAM_new(void);
MORVANE_EXPORT void PBKDF2PARAM_free(PBKDF2PARAM *a);
MORVANE_EXPORT PBKDF2PARAM *d2i_PBKDF2PARAM(PBKDF2PARAM **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_PBKDF2PARAM(PBKDF2PARAM *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM PKCS8_PRIV_KEY_INFO_it;
MORVANE_EXPORT PKCS8_PRIV_KEY_INFO *PKCS8_PRIV_KEY_INFO_new(void);
MORVANE_EXPORT void PKCS8_PRIV_KEY_INFO_free(PKCS8_PRIV_KEY_INFO *a);
MORVANE_EXPORT PKCS8_PRIV_KEY_INFO *d2i_PKCS8_PRIV_KEY_INFO(PKCS8_PRIV_KEY_INFO **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_PKCS8_PRIV_KEY_INFO(PKCS8_PRIV_KEY_INFO *a, unsigned char **out);
/* END ITEMS */

/* ---- trust settings -------------------------------------------------------
 * A trust record says whether a certificate is trusted for one use, by the
 * trusted and rejected uses of its auxiliary record.  Records 1 to 7 are
 * built in; X509_TRUST_add adds records or changes one in place (built-in
 * ones too).  The tables and the default trust function are process-wide and
 * unlocked: change them before other threads verify.  Null arguments:
 * X509_check_trust and the check functions need a valid certificate; the
 * field getters need a valid record; X509_TRUST_set needs a valid out
 * pointer; X509_TRUST_add accepts a null name only for a record that keeps
 * no name (it stores a copy of name) and refuses a null check function
 * ("passed a null parameter", 0, nothing added or changed). */
typedef struct x509_trust_st {
  int trust; /* id */
  int flags; /* X509_TRUST_DYNAMIC, X509_TRUST_DYNAMIC_NAME */
  int (*check_trust)(struct x509_trust_st *trust, X509 *x, int flags);
  char *name;
  int arg1;   /* the NID of the use the certificate's settings must name */
  void *arg2; /* the application's */
} X509_TRUST;
#define X509_TRUST_DEFAULT (-1) /* X509_check_trust: trusted without looking */
#define X509_TRUST_COMPAT 1
#define X509_TRUST_SSL_CLIENT 2
#define X509_TRUST_SSL_SERVER 3
#define X509_TRUST_EMAIL 4
#define X509_TRUST_OBJECT_SIGN 5
#define X509_TRUST_OCSP_SIGN 6
#define X509_TRUST_OCSP_REQUEST 7
#define X509_TRUST_MIN 1
#define X509_TRUST_MAX 7
#define X509_TRUST_DYNAMIC 0x1      /* the record is allocated */
#define X509_TRUST_DYNAMIC_NAME 0x2 /* its name is allocated */
#define X509_TRUST_TRUSTED 1
#define X509_TRUST_REJECTED 2
#define X509_TRUST_UNTRUSTED 3

/* id -1: 1.  An id with a record: its check function with (record, x,
 * flags).  Otherwise the default trust function with (id, x, flags), which
 * at first reads the certificate's settings for the use of NID id.  Results
 * X509_TRUST_TRUSTED, _REJECTED, _UNTRUSTED. */
MORVANE_EXPORT int X509_check_trust(X509 *x, int id, int flags);
/* Installs the default trust function (null: the built-in one, which reads
 * the certificate's settings); returns the one it replaces. */
MORVANE_EXPORT int (*X509_TRUST_set_default(int (*trust)(int, X509 *, int)))(int, X509 *, int);
/* 7 + the number of added records; X509_TRUST_get0 gives the record at idx
 * (built-in 0 to 6, added ones after them; null outside); _get_by_id the
 * index of id, or -1. */
MORVANE_EXPORT int X509_TRUST_get_count(void);
MORVANE_EXPORT X509_TRUST *X509_TRUST_get0(int idx);
MORVANE_EXPORT int X509_TRUST_get_by_id(int id);
/* Stores id in *t when a record has it: 1; else 0 with "invalid trust". */
MORVANE_EXPORT int X509_TRUST_set(int *t, int trust);
/* Adds a record, or changes the record of id in place: copies of name,
 * check, arg1, arg2 and flags (without X509_TRUST_DYNAMIC).  1, or 0 with
 * "malloc failure". */
MORVANE_EXPORT int X509_TRUST_add(int id, int flags, int (*ck)(X509_TRUST *, X509 *, int),
                                  const char *name, int arg1, void *arg2);
/* Frees the added records and their stack; built-in records stay (changed
 * ones keep their change). */
MORVANE_EXPORT void X509_TRUST_cleanup(void);
MORVANE_EXPORT int X509_TRUST_get_flags(X509_TRUST *xp);
MORVANE_EXPORT char *X509_TRUST_get0_name(X509_TRUST *xp);
MORVANE_EXPORT int X509_TRUST_get_trust(X509_TRUST *xp);

/* ---- verification parameters ----------------------------------------------
 * A parameter block holds the settings of one verification; blocks inherit
 * field by field (X509_VERIFY_PARAM_inherit) under the inheritance flags of
 * both sides.  Named blocks: five built-in ones ("default", "pkcs7",
 * "smime_sign", "ssl_client", "ssl_server") and a process-wide table that the
 * application fills, unlocked, before verifications start.  A lookup returns
 * a borrowed block, the added table first.  Null arguments:
 * X509_VERIFY_PARAM_free accepts null, X509_VERIFY_PARAM_inherit and _set1
 * accept a null source (1, nothing done), _set1_policies a null list (no
 * policies) and a null block (0); every other call needs a valid block. */
struct X509_VERIFY_PARAM_st {
  char *name;              /* owned, or null */
  time_t check_time;       /* used with verification flag 0x2 */
  unsigned long inh_flags; /* X509_VP_FLAG_* */
  unsigned long flags;     /* the verification flags */
  int purpose;             /* 0: unset */
  int trust;               /* 0: unset */
  int depth;               /* -1: unset */
  STACK *policies;         /* of ASN1_OBJECT, owned; or null */
};
#define X509_VP_FLAG_DEFAULT 0x1     /* a set source value replaces the destination's */
#define X509_VP_FLAG_OVERWRITE 0x2   /* every source value replaces, set or not */
#define X509_VP_FLAG_RESET_FLAGS 0x4 /* the destination's flags are cleared first */
#define X509_VP_FLAG_LOCKED 0x8      /* nothing is inherited */
#define X509_VP_FLAG_ONCE 0x10       /* the destination's inheritance flags clear after use */

MORVANE_EXPORT X509_VERIFY_PARAM *X509_VERIFY_PARAM_new(void);
MORVANE_EXPORT void X509_VERIFY_PARAM_free(X509_VERIFY_PARAM *param);
/* 1, or 0 when the policies cannot be copied. */
MORVANE_EXPORT int X509_VERIFY_PARAM_inherit(X509_VERIFY_PARAM *to, const X509_VERIFY_PARAM *from);
/* Inheritance with X509_VP_FLAG_DEFAULT added on to's side for this call. */
MORVANE_EXPORT int X509_VERIFY_PARAM_set1(X509_VERIFY_PARAM *to, const X509_VERIFY_PARAM *from);
MORVANE_EXPORT int X509_VERIFY_PARAM_set1_name(X509_VERIFY_PARAM *param, const char *name);
/* Adds flags; any of 0x80, 0x100, 0x200, 0x400 also adds 0x80 (policy
 * checking).  1. */
MORVANE_EXPORT int X509_VERIFY_PARAM_set_flags(X509_VERIFY_PARAM *param, unsigned long flags);
MORVANE_EXPORT int X509_VERIFY_PARAM_clear_flags(X509_VERIFY_PARAM *param, unsigned long flags);
MORVANE_EXPORT unsigned long X509_VERIFY_PARAM_get_flags(X509_VERIFY_PARAM *param);
/* 0 with "invalid purpose" (library 34) or "invalid trust" for an id no
 * record has. */
MORVANE_EXPORT int X509_VERIFY_PARAM_set_purpose(X509_VERIFY_PARAM *param, int purpose);
MORVANE_EXPORT int X509_VERIFY_PARAM_set_trust(X509_VERIFY_PARAM *param, int trust);
/* The depth limit, trust anchor included (X509_STORE_CTX_set_depth in
 * morvane/x509_vfy.h). */
MORVANE_EXPORT void X509_VERIFY_PARAM_set_depth(X509_VERIFY_PARAM *param, int depth);
MORVANE_EXPORT int X509_VERIFY_PARAM_get_depth(const X509_VERIFY_PARAM *param);
/* check_time = t and verification flag 0x2. */
MORVANE_EXPORT void X509_VERIFY_PARAM_set_time(X509_VERIFY_PARAM *param, time_t t);
/* Appends policy (taken over) to the acceptable policies and turns policy
 * checking on (0x80), as _set1_policies does.  1, or 0 with "malloc
 * failure" (policy not taken). */
MORVANE_EXPORT int X509_VERIFY_PARAM_add0_policy(X509_VERIFY_PARAM *param, ASN1_OBJECT *policy);
/* Replaces the acceptable policies with copies of those of policies (a
 * STACK of ASN1_OBJECT) and sets 0x80; a null list leaves none.  An empty
 * set accepts no policy, not anyPolicy (morvane/x509_vfy.h).  1 or 0. */
MORVANE_EXPORT int X509_VERIFY_PARAM_set1_policies(X509_VERIFY_PARAM *param, STACK *policies);
/* Adds param (taken over) to the named table, replacing and freeing a block
 * of the same name.  1, or 0 (param not taken). */
MORVANE_EXPORT int X509_VERIFY_PARAM_add0_table(X509_VERIFY_PARAM *param);
MORVANE_EXPORT const X509_VERIFY_PARAM *X509_VERIFY_PARAM_lookup(const char *name);
MORVANE_EXPORT void X509_VERIFY_PARAM_table_cleanup(void);

/* ---- text output ---------------------------------------------------------
 * The text forms of certificates, requests, revocation lists, SPKACs and
 * trust records: labelled lines with fixed indents.  Names print through
 * X509_NAME_print_ex with the caller's name flags (0: the older
 * X509_NAME_print form); a subject key that does not decode prints "Unable
 * to load Public Key" and the error queue instead.  Null arguments:
 * X509_CERT_AUX_print accepts a null record (nothing printed); every other
 * call of this section needs a valid stream and object. */

/* The omit flags of X509_print_ex and X509_REQ_print_ex: a set bit leaves
 * the section out. */
#define X509_FLAG_COMPAT 0UL
#define X509_FLAG_NO_HEADER 0x1UL
#define X509_FLAG_NO_VERSION 0x2UL
#define X509_FLAG_NO_SERIAL 0x4UL
#define X509_FLAG_NO_SIGNAME 0x8UL
#define X509_FLAG_NO_ISSUER 0x10UL
#define X509_FLAG_NO_VALIDITY 0x20UL
#define X509_FLAG_NO_SUBJECT 0x40UL
#define X509_FLAG_NO_PUBKEY 0x80UL
#define X509_FLAG_NO_EXTENSIONS 0x100UL
#define X509_FLAG_NO_SIGDUMP 0x200UL
#define X509_FLAG_NO_AUX 0x400UL
#define X509_FLAG_NO_ATTRIBUTES 0x800UL

/* A certificate: header, version, serial number, signature algorithm,
 * issuer, validity, subject, subject key, extensions, signature and trust
 * record, less the sections cflag omits.  1, or 0 at the first write that
 * fails or is short, in whichever section (or a time that does not print,
 * or an extension whose printer ran out of memory, that reason queued); a
 * key that cannot be decoded or printed is no failure.  No error of its
 * own is queued.  X509_print uses flags 0 and 0.  The FILE forms leave fp
 * open; they fail with "BUF lib" when the stream cannot be made. */
MORVANE_EXPORT int X509_print_ex(BIO *bp, X509 *x, unsigned long nmflags, unsigned long cflag);
MORVANE_EXPORT int X509_print(BIO *bp, X509 *x);
MORVANE_EXPORT int X509_print_ex_fp(FILE *fp, X509 *x, unsigned long nmflags,
                                    unsigned long cflag);
MORVANE_EXPORT int X509_print_fp(FILE *fp, X509 *x);
/* A request: header, version, subject, subject key, attributes, requested
 * extensions and signature.  1, or 0 with "BUF lib" when a write fails or
 * is short. */
MORVANE_EXPORT int X509_REQ_print_ex(BIO *bp, X509_REQ *x, unsigned long nmflags,
                                     unsigned long cflag);
MORVANE_EXPORT int X509_REQ_print(BIO *bp, X509_REQ *x);
MORVANE_EXPORT int X509_REQ_print_fp(FILE *fp, X509_REQ *x);
/* A revocation list (the issuer in its one-line form) and an SPKAC: 1, or 0
 * at the first write that fails or is short (or when the issuer's one-line
 * form cannot be made, "malloc failure" queued).  A time that does not
 * parse prints "Bad time value" and is no failure. */
MORVANE_EXPORT int X509_CRL_print(BIO *out, X509_CRL *x);
MORVANE_EXPORT int X509_CRL_print_fp(FILE *fp, X509_CRL *x);
MORVANE_EXPORT int NETSCAPE_SPKI_print(BIO *out, NETSCAPE_SPKI *spki);
/* The signature algorithm and the signature's octets, 18 a line: 1, or 0
 * when a write fails. */
MORVANE_EXPORT int X509_signature_print(BIO *bp, X509_ALGOR *sigalg, ASN1_STRING *sig);
/* The SHA-1 hashes of the subject's DER and of the subject key's octets in
 * upper-case hex: 1, or 0. */
MORVANE_EXPORT int X509_ocspid_print(BIO *bp, X509 *x);
/* Trusted and rejected uses, alias and key id at indent: 1, or 0 when a
 * write fails or is short. */
MORVANE_EXPORT int X509_CERT_AUX_print(BIO *out, X509_CERT_AUX *aux, int indent);
/* The one-line form without its first "/", each "/" that starts a
 * component ("/" then one or two upper-case letters and "=") written as
 * ", "; obase is not used.  1, or 0 with "BUF lib" when a write fails. */
MORVANE_EXPORT int X509_NAME_print(BIO *bp, X509_NAME *name, int obase);

/* The subject key of a certificate or request (X509_PUBKEY_get): one
 * reference for the caller, or null when absent or not decodable; a null
 * argument gives null. */
MORVANE_EXPORT EVP_PKEY *X509_get_pubkey(X509 *x);
MORVANE_EXPORT EVP_PKEY *X509_REQ_get_pubkey(X509_REQ *req);
/* 1 when attributes of type nid carry requested extensions (PKCS #9
 * extensionRequest, NID 172, and Microsoft's, NID 171), else 0. */
MORVANE_EXPORT int X509_REQ_extension_nid(int nid);
/* A new list of the extensions the request asks for (free each with
 * X509_EXTENSION_free, then the list), or null when it asks for none or
 * they do not decode; a null request gives null. */
MORVANE_EXPORT STACK *X509_REQ_get_extensions(X509_REQ *req);

/* ---- setters, requests, signing and DER file I/O -------------------------
 * The setters store copies (names through X509_NAME_set, keys through
 * X509_PUBKEY_set) and return 1, or 0 for a null object, a missing inner
 * part or a failed copy; setting a field to the value it already holds
 * changes nothing.  The setters of certificates, requests and revocation
 * lists mark the signed part modified, and X509_set_subject_name drops the
 * certificate's one-line subject.  X509_REQ_set_version needs the request's version.
 * X509_CRL_sort orders the entries by serial number, numbers each entry's
 * `sequence` from 0 and marks the signed part modified; 1.
 *
 * Null arguments: setters, getters, signers and digests give 0 or null for
 * a null object, the verify calls -1; NETSCAPE_SPKI_b64_decode a null text
 * null; X509_certificate_type a null certificate 0 and a null pkey means
 * the certificate's key.  A null md is refused by the signers; FILE and
 * stream arguments must be valid. */
MORVANE_EXPORT int X509_set_version(X509 *x, long version);
MORVANE_EXPORT int X509_set_serialNumber(X509 *x, ASN1_INTEGER *serial);
MORVANE_EXPORT int X509_set_issuer_name(X509 *x, X509_NAME *name);
MORVANE_EXPORT int X509_set_subject_name(X509 *x, X509_NAME *name);
MORVANE_EXPORT int X509_set_notBefore(X509 *x, ASN1_TIME *tm);
MORVANE_EXPORT int X509_set_notAfter(X509 *x, ASN1_TIME *tm);
MORVANE_EXPORT int X509_set_pubkey(X509 *x, EVP_PKEY *pkey);
MORVANE_EXPORT int X509_CRL_set_version(X509_CRL *x, long version);
MORVANE_EXPORT int X509_CRL_set_issuer_name(X509_CRL *x, X509_NAME *name);
MORVANE_EXPORT int X509_CRL_set_lastUpdate(X509_CRL *x, ASN1_TIME *tm);
MORVANE_EXPORT int X509_CRL_set_nextUpdate(X509_CRL *x, ASN1_TIME *tm);
MORVANE_EXPORT int X509_CRL_sort(X509_CRL *c);
MORVANE_EXPORT int X509_REVOKED_set_serialNumber(X509_REVOKED *x, ASN1_INTEGER *serial);
MORVANE_EXPORT int X509_REVOKED_set_revocationDate(X509_REVOKED *x, ASN1_TIME *tm);
MORVANE_EXPORT int X509_REQ_set_version(X509_REQ *x, long version);
MORVANE_EXPORT int X509_REQ_set_subject_name(X509_REQ *x, X509_NAME *name);
MORVANE_EXPORT int X509_REQ_set_pubkey(X509_REQ *x, EVP_PKEY *pkey);
MORVANE_EXPORT int NETSCAPE_SPKI_set_pubkey(NETSCAPE_SPKI *x, EVP_PKEY *pkey);
/* The signed key (new reference), or null. */
MORVANE_EXPORT EVP_PKEY *NETSCAPE_SPKI_get_pubkey(NETSCAPE_SPKI *x);

/* X509_time_adj(s, adj, NULL) (morvane/x509_vfy.h): the current time plus
 * adj seconds in s, or in a new time when s is null; s or the new time, or
 * null. */
MORVANE_EXPORT ASN1_TIME *X509_gmtime_adj(ASN1_TIME *s, long adj);

/* As X509_check_private_key, on the request's key. */
MORVANE_EXPORT int X509_REQ_check_private_key(X509_REQ *x, EVP_PKEY *k);
/* The attribute types that carry requested extensions: a list ending in 0,
 * by default {172, 171, 0}.  The set call keeps the caller's list (not
 * copied); set it before other threads use the library. */
MORVANE_EXPORT int *X509_REQ_get_extension_nids(void);
MORVANE_EXPORT void X509_REQ_set_extension_nids(int *nids);
/* Adds exts as one attribute of type nid (172 for X509_REQ_add_extensions)
 * holding a SEQUENCE OF Extension: 1, or 0 (nothing added). */
MORVANE_EXPORT int X509_REQ_add_extensions_nid(X509_REQ *req, STACK *exts, int nid);
MORVANE_EXPORT int X509_REQ_add_extensions(X509_REQ *req, STACK *exts);
/* A new request (version 0) with the certificate's subject and key, signed
 * with pkey and md when pkey is not null; null on failure ("malloc
 * failure" when the request cannot be made). */
MORVANE_EXPORT X509_REQ *X509_to_X509_REQ(X509 *x, EVP_PKEY *pkey, const EVP_MD *md);
/* A new certificate from the request: version 3 when the request has
 * attributes (or no list), else version 1 (no version field); subject and
 * issuer the request's subject; valid from now for `days` days; the
 * request's key; signed with pkey and MD5.  Null on failure ("malloc
 * failure" when the certificate cannot be made). */
MORVANE_EXPORT X509 *X509_REQ_to_X509(X509_REQ *r, int days, EVP_PKEY *pkey);

/* Sign the signed part with pkey and md, writing the algorithm (into the
 * signed part too for certificates and revocation lists) and the
 * signature: the signature's length, or 0.  The signed part of a
 * certificate or revocation list is encoded afresh from its fields. */
MORVANE_EXPORT int X509_sign(X509 *x, EVP_PKEY *pkey, const EVP_MD *md);
MORVANE_EXPORT int X509_REQ_sign(X509_REQ *x, EVP_PKEY *pkey, const EVP_MD *md);
MORVANE_EXPORT int X509_CRL_sign(X509_CRL *x, EVP_PKEY *pkey, const EVP_MD *md);
MORVANE_EXPORT int NETSCAPE_SPKI_sign(NETSCAPE_SPKI *x, EVP_PKEY *pkey, const EVP_MD *md);
/* Check the signature with the public key r: 1 valid, 0 invalid, -1 error.
 * The signature is checked over the signed part's octets as they were read
 * (encoded from the fields once modified).  A certificate or CRL whose
 * signature algorithm differs from the one in its signed part (DER
 * compared) is invalid: 0 with "signature algorithm mismatch". */
MORVANE_EXPORT int X509_verify(X509 *a, EVP_PKEY *r);
MORVANE_EXPORT int X509_REQ_verify(X509_REQ *a, EVP_PKEY *r);
MORVANE_EXPORT int X509_CRL_verify(X509_CRL *a, EVP_PKEY *r);
MORVANE_EXPORT int NETSCAPE_SPKI_verify(NETSCAPE_SPKI *a, EVP_PKEY *r);
/* The digest of the structure's encoding as i2d gives it into md
 * (EVP_MAX_MD_SIZE room), its length at *len when len is not null: 1, or 0.
 * A certificate's, list's or request's signed part is the octets read (DER
 * or not) until it is modified, as above.  X509_pubkey_digest
 * digests the octets of the subject key's BIT STRING. */
MORVANE_EXPORT int X509_digest(const X509 *data, const EVP_MD *type, unsigned char *md,
                               unsigned int *len);
MORVANE_EXPORT int X509_CRL_digest(const X509_CRL *data, const EVP_MD *type, unsigned char *md,
                                   unsigned int *len);
MORVANE_EXPORT int X509_REQ_digest(const X509_REQ *data, const EVP_MD *type, unsigned char *md,
                                   unsigned int *len);
MORVANE_EXPORT int X509_NAME_digest(const X509_NAME *data, const EVP_MD *type, unsigned char *md,
                                    unsigned int *len);
MORVANE_EXPORT int X509_pubkey_digest(const X509 *data, const EVP_MD *type, unsigned char *md,
                                      unsigned int *len);

/* The text form of a signed public key and challenge: base64 of its DER.
 * The decoder takes len characters (0 or less: strlen(str)): the structure,
 * or null ("base64 decode error", "malloc failure", or a decoding error).
 * The encoder gives a new text without line breaks (free it with
 * MORVANE_free), or null ("malloc failure"). */
MORVANE_EXPORT NETSCAPE_SPKI *NETSCAPE_SPKI_b64_decode(const char *str, int len);
MORVANE_EXPORT char *NETSCAPE_SPKI_b64_encode(NETSCAPE_SPKI *spki);

/* Bits of X509_certificate_type. */
#define EVP_PK_RSA 0x0001
#define EVP_PK_DSA 0x0002
#define EVP_PK_DH 0x0004
#define EVP_PK_EC 0x0008
#define EVP_PKT_SIGN 0x0010
#define EVP_PKT_ENC 0x0020
#define EVP_PKT_EXCH 0x0040
#define EVP_PKS_RSA 0x0100
#define EVP_PKS_DSA 0x0200
#define EVP_PKS_EC 0x0400
#define EVP_PKT_EXP 0x1000 /* a key of 128 bytes or less */
/* The key's type and uses, the signer's type, and the short-key bit, for
 * pkey or (when null) the certificate's key; 0 without a key. */
MORVANE_EXPORT int X509_certificate_type(X509 *x, EVP_PKEY *pkey);

/* DER on FILE handles and streams, one object per call: the readers give
 * the object (also stored in *x when x is not null) or null, the writers 1
 * or 0.  _PrivateKey reads any traditional private key (its type found
 * from the DER) and writes the algorithm's own form; _PKCS8 is the
 * encrypted PKCS#8 form (X509_SIG); i2d_PKCS8PrivateKeyInfo_ writes a key
 * container as PrivateKeyInfo (0 when it cannot be converted). */
MORVANE_EXPORT X509 *d2i_X509_fp(FILE *fp, X509 **x);
MORVANE_EXPORT int i2d_X509_fp(FILE *fp, X509 *x);
MORVANE_EXPORT X509 *d2i_X509_bio(BIO *bp, X509 **x);
MORVANE_EXPORT int i2d_X509_bio(BIO *bp, X509 *x);
MORVANE_EXPORT X509_CRL *d2i_X509_CRL_fp(FILE *fp, X509_CRL **x);
MORVANE_EXPORT int i2d_X509_CRL_fp(FILE *fp, X509_CRL *x);
MORVANE_EXPORT X509_CRL *d2i_X509_CRL_bio(BIO *bp, X509_CRL **x);
MORVANE_EXPORT int i2d_X509_CRL_bio(BIO *bp, X509_CRL *x);
MORVANE_EXPORT X509_REQ *d2i_X509_REQ_fp(FILE *fp, X509_REQ **x);
MORVANE_EXPORT int i2d_X509_REQ_fp(FILE *fp, X509_REQ *x);
MORVANE_EXPORT X509_REQ *d2i_X509_REQ_bio(BIO *bp, X509_REQ **x);
MORVANE_EXPORT int i2d_X509_REQ_bio(BIO *bp, X509_REQ *x);
MORVANE_EXPORT RSA *d2i_RSAPrivateKey_fp(FILE *fp, RSA **x);
MORVANE_EXPORT int i2d_RSAPrivateKey_fp(FILE *fp, RSA *x);
MORVANE_EXPORT RSA *d2i_RSAPrivateKey_bio(BIO *bp, RSA **x);
MORVANE_EXPORT int i2d_RSAPrivateKey_bio(BIO *bp, RSA *x);
MORVANE_EXPORT RSA *d2i_RSAPublicKey_fp(FILE *fp, RSA **x);
MORVANE_EXPORT int i2d_RSAPublicKey_fp(FILE *fp, RSA *x);
MORVANE_EXPORT RSA *d2i_RSAPublicKey_bio(BIO *bp, RSA **x);
MORVANE_EXPORT int i2d_RSAPublicKey_bio(BIO *bp, RSA *x);
MORVANE_EXPORT RSA *d2i_RSA_PUBKEY_fp(FILE *fp, RSA **x);
MORVANE_EXPORT int i2d_RSA_PUBKEY_fp(FILE *fp, RSA *x);
MORVANE_EXPORT RSA *d2i_RSA_PUBKEY_bio(BIO *bp, RSA **x);
MORVANE_EXPORT int i2d_RSA_PUBKEY_bio(BIO *bp, RSA *x);
MORVANE_EXPORT DSA *d2i_DSAPrivateKey_fp(FILE *fp, DSA **x);
MORVANE_EXPORT int i2d_DSAPrivateKey_fp(FILE *fp, DSA *x);
MORVANE_EXPORT DSA *d2i_DSAPrivateKey_bio(BIO *bp, DSA **x);
MORVANE_EXPORT int i2d_DSAPrivateKey_bio(BIO *bp, DSA *x);
MORVANE_EXPORT DSA *d2i_DSA_PUBKEY_fp(FILE *fp, DSA **x);
MORVANE_EXPORT int i2d_DSA_PUBKEY_fp(FILE *fp, DSA *x);
MORVANE_EXPORT DSA *d2i_DSA_PUBKEY_bio(BIO *bp, DSA **x);
MORVANE_EXPORT int i2d_DSA_PUBKEY_bio(BIO *bp, DSA *x);
MORVANE_EXPORT EC_KEY *d2i_EC_PUBKEY_fp(FILE *fp, EC_KEY **x);
MORVANE_EXPORT int i2d_EC_PUBKEY_fp(FILE *fp, EC_KEY *x);
MORVANE_EXPORT EC_KEY *d2i_EC_PUBKEY_bio(BIO *bp, EC_KEY **x);
MORVANE_EXPORT int i2d_EC_PUBKEY_bio(BIO *bp, EC_KEY *x);
MORVANE_EXPORT EC_KEY *d2i_ECPrivateKey_fp(FILE *fp, EC_KEY **x);
MORVANE_EXPORT int i2d_ECPrivateKey_fp(FILE *fp, EC_KEY *x);
MORVANE_EXPORT EC_KEY *d2i_ECPrivateKey_bio(BIO *bp, EC_KEY **x);
MORVANE_EXPORT int i2d_ECPrivateKey_bio(BIO *bp, EC_KEY *x);
MORVANE_EXPORT X509_SIG *d2i_PKCS8_fp(FILE *fp, X509_SIG **x);
MORVANE_EXPORT int i2d_PKCS8_fp(FILE *fp, X509_SIG *x);
MORVANE_EXPORT X509_SIG *d2i_PKCS8_bio(BIO *bp, X509_SIG **x);
MORVANE_EXPORT int i2d_PKCS8_bio(BIO *bp, X509_SIG *x);
MORVANE_EXPORT PKCS8_PRIV_KEY_INFO *d2i_PKCS8_PRIV_KEY_INFO_fp(FILE *fp, PKCS8_PRIV_KEY_INFO **x);
MORVANE_EXPORT int i2d_PKCS8_PRIV_KEY_INFO_fp(FILE *fp, PKCS8_PRIV_KEY_INFO *x);
MORVANE_EXPORT PKCS8_PRIV_KEY_INFO *d2i_PKCS8_PRIV_KEY_INFO_bio(BIO *bp, PKCS8_PRIV_KEY_INFO **x);
MORVANE_EXPORT int i2d_PKCS8_PRIV_KEY_INFO_bio(BIO *bp, PKCS8_PRIV_KEY_INFO *x);
MORVANE_EXPORT EVP_PKEY *d2i_PrivateKey_fp(FILE *fp, EVP_PKEY **x);
MORVANE_EXPORT int i2d_PrivateKey_fp(FILE *fp, EVP_PKEY *x);
MORVANE_EXPORT EVP_PKEY *d2i_PrivateKey_bio(BIO *bp, EVP_PKEY **x);
MORVANE_EXPORT int i2d_PrivateKey_bio(BIO *bp, EVP_PKEY *x);
MORVANE_EXPORT EVP_PKEY *d2i_PUBKEY_fp(FILE *fp, EVP_PKEY **x);
MORVANE_EXPORT int i2d_PUBKEY_fp(FILE *fp, EVP_PKEY *x);
MORVANE_EXPORT EVP_PKEY *d2i_PUBKEY_bio(BIO *bp, EVP_PKEY **x);
MORVANE_EXPORT int i2d_PUBKEY_bio(BIO *bp, EVP_PKEY *x);
MORVANE_EXPORT int i2d_PKCS8PrivateKeyInfo_fp(FILE *fp, EVP_PKEY *key);
MORVANE_EXPORT int i2d_PKCS8PrivateKeyInfo_bio(BIO *bp, EVP_PKEY *key);

/* The library's default directory, "/usr/local/ssl"; never null. */
MORVANE_EXPORT const char *X509_get_default_cert_area(void);

/* Registers the texts of library 11 (ERR_LIB_X509) unless they are registered
 * already. */
MORVANE_EXPORT void ERR_load_X509_strings(void);

/* BEGIN ERROR CODES (generated by tools/gen_errors.py) */
/* Function codes of library 11 (X509). */
#define X509_F_ADD_CERT_DIR 100
#define X509_F_BY_FILE_CTRL 101
#define X509_F_DIR_CTRL 102
#define X509_F_GET_CERT_BY_SUBJECT 103
#define X509_F_X509V3_ADD_EXT 104
#define X509_F_X509_EXTENSION_CREATE_BY_NID 108
#define X509_F_X509_EXTENSION_CREATE_BY_OBJ 109
#define X509_F_X509_GET_PUBKEY_PARAMETERS 110
#define X509_F_X509_LOAD_CERT_FILE 111
#define X509_F_X509_LOAD_CRL_FILE 112
#define X509_F_X509_NAME_ADD_ENTRY 113
#define X509_F_X509_NAME_ENTRY_CREATE_BY_NID 114
#define X509_F_X509_NAME_ENTRY_SET_OBJECT 115
#define X509_F_X509_NAME_ONELINE 116
#define X509_F_X509_NAME_PRINT 117
#define X509_F_X509_PRINT_EX_FP 118
#define X509_F_X509_PUBKEY_GET 119
#define X509_F_X509_PUBKEY_SET 120
#define X509_F_X509_REQ_PRINT_EX 121
#define X509_F_X509_REQ_PRINT_FP 122
#define X509_F_X509_REQ_TO_X509 123
#define X509_F_X509_STORE_ADD_CERT 124
#define X509_F_X509_STORE_ADD_CRL 125
#define X509_F_X509_TO_X509_REQ 126
#define X509_F_X509_VERIFY_CERT 127
#define X509_F_X509_CHECK_PRIVATE_KEY 128
#define X509_F_NETSCAPE_SPKI_B64_DECODE 129
#define X509_F_NETSCAPE_SPKI_B64_ENCODE 130
#define X509_F_X509_NAME_ENTRY_CREATE_BY_TXT 131
#define X509_F_X509_LOAD_CERT_CRL_FILE 132
#define X509_F_X509_TRUST_ADD 133
#define X509_F_X509_STORE_CTX_PURPOSE_INHERIT 134
#define X509_F_X509AT_ADD1_ATTR 135
#define X509_F_X509_ATTRIBUTE_CREATE_BY_NID 136
#define X509_F_X509_ATTRIBUTE_CREATE_BY_OBJ 137
#define X509_F_X509_ATTRIBUTE_SET1_DATA 138
#define X509_F_X509_ATTRIBUTE_GET0_DATA 139
#define X509_F_X509_ATTRIBUTE_CREATE_BY_TXT 140
#define X509_F_X509_TRUST_SET 141
#define X509_F_X509_STORE_CTX_NEW 142
#define X509_F_X509_STORE_CTX_INIT 143
#define X509_F_X509_REQ_CHECK_PRIVATE_KEY 144
#define X509_F_CHECK_POLICY 145
#define X509_F_X509_STORE_CTX_GET1_ISSUER 146
#define X509_F_X509_CRL_PRINT_FP 147
#define X509_F_X509_VERIFY 148
#define X509_F_X509_CRL_VERIFY 149
#define X509_F_X509_STORE_NEW 150
#define X509_F_X509_LOOKUP_NEW 151
#define X509_F_X509_STORE_ADD_LOOKUP 152
#define X509_F_X509_VERIFY_PARAM_ADD0_POLICY 153
/* Reason codes of library 11 (X509). */
#define X509_R_BAD_X509_FILETYPE 100
#define X509_R_CERT_ALREADY_IN_HASH_TABLE 101
#define X509_R_ERR_ASN1_LIB 102
#define X509_R_LOADING_CERT_DIR 103
#define X509_R_LOADING_DEFAULTS 104
#define X509_R_NO_CERT_SET_FOR_US_TO_VERIFY 105
#define X509_R_SHOULD_RETRY 106
#define X509_R_UNABLE_TO_FIND_PARAMETERS_IN_CHAIN 107
#define X509_R_UNABLE_TO_GET_CERTS_PUBLIC_KEY 108
#define X509_R_UNKNOWN_NID 109
#define X509_R_UNSUPPORTED_ALGORITHM 111
#define X509_R_WRONG_LOOKUP_TYPE 112
#define X509_R_INVALID_DIRECTORY 113
#define X509_R_CANT_CHECK_DH_KEY 114
#define X509_R_KEY_TYPE_MISMATCH 115
#define X509_R_KEY_VALUES_MISMATCH 116
#define X509_R_UNKNOWN_KEY_TYPE 117
#define X509_R_BASE64_DECODE_ERROR 118
#define X509_R_INVALID_FIELD_NAME 119
#define X509_R_UNKNOWN_TRUST_ID 120
#define X509_R_UNKNOWN_PURPOSE_ID 121
#define X509_R_WRONG_TYPE 122
#define X509_R_INVALID_TRUST 123
#define X509_R_SIGNATURE_ALGORITHM_MISMATCH 124
#define X509_R_NO_CERTIFICATE_OR_CRL_FOUND 125
/* END ERROR CODES */

MORVANE_END_DECLS

#endif /* MORVANE_X509_H */
