/* Morvane: X.509 certificates.
 *
 * Certificates, revocation lists and requests, names, the certificate store
 * and chain verification.  Failing calls queue errors of library 11
 * (ERR_LIB_X509).
 *
 * Null arguments: the default-path functions take none; X509_NAME_set
 * refuses a null argument and the name items follow morvane/asn1.h (X_free
 * accepts null); the sections on password-based parameters, PKCS#8
 * conversion and attribute lists say what their functions accept; the rest
 * is not built yet and fails as above without reading its arguments. */
#ifndef MORVANE_X509_H
#define MORVANE_X509_H

#include <morvane/asn1.h>
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
 * failure, -1 when the digest is unknown or the encoding cannot be made.
 * Digesting writes the digest of the encoding to md (EVP_MAX_MD_SIZE room)
 * and its length to *len: 1, or 0. */
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

/* Prints nm after indent blanks (a negative indent counts as 0; the
 * separators other than the multi-line one drop it after the first line)
 * with the flags; an object without a NID is named by its dotted number and,
 * with NAME_PF_DUMP_UNKNOWN_FIELDS, its value dumped.  The characters
 * written, or -1 (a failed write, a separator field of another value, a
 * value ASN1_STRING_print_ex refuses).  A null out counts only. */
MORVANE_EXPORT int X509_NAME_print_ex(BIO *out, X509_NAME *nm, int indent, unsigned long flags);
MORVANE_EXPORT int X509_NAME_print_ex_fp(FILE *fp, X509_NAME *nm, int indent,
                                         unsigned long flags);

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
/* END ERROR CODES */

MORVANE_END_DECLS

#endif /* MORVANE_X509_H */
