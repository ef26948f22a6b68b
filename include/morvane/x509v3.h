/* Morvane: X.509 v3 extensions.
 *
 * The extension methods, purposes and the configuration-driven extension
 * builder.  Failing calls queue errors of library 34 (ERR_LIB_X509V3).
 *
 * Builders reach the certificates involved and the configuration database
 * through an X509V3_CTX, which borrows all it points to.
 *
 * Null arguments: X509V3_get_value_bool and X509V3_get_value_int need a
 * valid value and result pointer; the X509V3_add_value family needs a valid
 * list pointer (the list itself may be null); the text readers
 * (s2i_ASN1_INTEGER, string_to_hex, hex_to_string, X509V3_parse_list, the
 * IP address readers) refuse a null text, and string_to_hex accepts a null
 * length pointer; the i2s and s2i helpers ignore their method; name_cmp
 * needs two strings; the registry functions need a valid extension or list
 * pointer, while X509V3_get_d2i accepts a null list, crit and idx;
 * X509V3_conf_free, X509_email_free, X509V3_section_free and the two frees of
 * certificate caches accept null; X509V3_extensions_print accepts a null
 * list and title, the other printers need a valid stream and extension (and
 * X509V3_EXT_val_prn prints nothing for a null list); X509_get1_email and
 * X509_REQ_get1_email need a valid object; X509V3_NAME_from_section refuses
 * a null name; the context functions need a valid context;
 * X509_check_purpose needs a valid certificate.  The general-name printers
 * need a valid stream and name; the builders need a valid pair or list and
 * accept a null method and, except for names read from sections (dirName,
 * otherName) and copies from certificates, a null context;
 * X509V3_EXT_nconf and its family accept a null CONF where no section is
 * named and a null target object, and the four one-extension builders
 * refuse a null value text ("invalid null value"); X509_policy_check refuses
 * a null tree or flag pointer or chain (0 with "passed a null parameter");
 * i2a_ACCESS_DESCRIPTION prints nothing for a null description (0);
 * X509_get1_ocsp needs a valid certificate; the method functions
 * (i2v_/v2i_ASN1_BIT_STRING, the IA5String pair, i2s_ASN1_ENUMERATED_TABLE)
 * need their method and value, except that s2i_ASN1_IA5STRING refuses a null
 * text and ignores ctx; X509_POLICY_NODE_print needs a valid stream and
 * node; the SXNET add functions refuse a null list pointer, zone or user, and
 * the get functions need a valid list and refuse a null zone text. */
#ifndef MORVANE_X509V3_H
#define MORVANE_X509V3_H

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/conf.h>
#include <morvane/export.h>
#include <morvane/types.h>
#include <morvane/x509.h>

MORVANE_BEGIN_DECLS

/* The method record of one extension type, found by its NID.  When `it` is
 * set the template engine decodes, encodes, creates and frees values and
 * ext_new, ext_free, d2i and i2d are not used.  A method fills the
 * conversions it supports: the string pair (i2s/s2i), the list pair
 * (i2v/v2i, lists of CONF_VALUE) or the raw pair (i2r/r2i). */
typedef struct v3_ext_method X509V3_EXT_METHOD;
typedef void *(*X509V3_EXT_NEW)(void);
typedef void (*X509V3_EXT_FREE)(void *value);
typedef void *(*X509V3_EXT_D2I)(void *reuse, const unsigned char **in, long len);
typedef int (*X509V3_EXT_I2D)(void *value, unsigned char **out);
typedef char *(*X509V3_EXT_I2S)(const X509V3_EXT_METHOD *method, void *value);
typedef void *(*X509V3_EXT_S2I)(const X509V3_EXT_METHOD *method, X509V3_CTX *ctx,
                                const char *str);
typedef STACK *(*X509V3_EXT_I2V)(const X509V3_EXT_METHOD *method, void *value, STACK *list);
typedef void *(*X509V3_EXT_V2I)(const X509V3_EXT_METHOD *method, X509V3_CTX *ctx,
                                STACK *values);
typedef int (*X509V3_EXT_I2R)(const X509V3_EXT_METHOD *method, void *value, BIO *out,
                              int indent);
typedef void *(*X509V3_EXT_R2I)(const X509V3_EXT_METHOD *method, X509V3_CTX *ctx,
                                const char *str);
struct v3_ext_method {
  int ext_nid;   /* -1 ends a list given to X509V3_EXT_add_list */
  int ext_flags; /* X509V3_EXT_DYNAMIC, X509V3_EXT_MULTILINE */
  const ASN1_ITEM *it;
  X509V3_EXT_NEW ext_new;
  X509V3_EXT_FREE ext_free;
  X509V3_EXT_D2I d2i;
  X509V3_EXT_I2D i2d;
  X509V3_EXT_I2S i2s;
  X509V3_EXT_S2I s2i;
  X509V3_EXT_I2V i2v;
  X509V3_EXT_V2I v2i;
  X509V3_EXT_I2R i2r;
  X509V3_EXT_R2I r2i;
  void *usr_data; /* the method's own data */
};
#define X509V3_EXT_DYNAMIC 0x1   /* made by X509V3_EXT_add_alias; freed by the cleanup */
#define X509V3_EXT_CTX_DEP 0x2
#define X509V3_EXT_MULTILINE 0x4 /* its i2v list prints one pair per line */

/* The registry: a built-in table and a process-wide list that applications
 * extend (unlocked: register before other threads use the library).
 * X509V3_EXT_add keeps the caller's record itself in the list (1, or 0 with
 * "malloc failure"); _add_list adds records until one with ext_nid -1 (0 at
 * the first failure); _add_alias copies the method of nid_from as nid_to into
 * a record the list owns (0 with "extension not found" when there is none).
 * X509V3_EXT_get_nid finds the method of a NID, a built-in one first (null
 * for a negative NID or an unknown one); X509V3_EXT_get that of an
 * extension's type.  X509V3_EXT_cleanup frees the list and the records it
 * owns.  X509V3_add_standard_extensions does nothing (1). */
MORVANE_EXPORT int X509V3_EXT_add(X509V3_EXT_METHOD *ext);
MORVANE_EXPORT int X509V3_EXT_add_list(X509V3_EXT_METHOD *extlist);
MORVANE_EXPORT int X509V3_EXT_add_alias(int nid_to, int nid_from);
MORVANE_EXPORT const X509V3_EXT_METHOD *X509V3_EXT_get_nid(int nid);
MORVANE_EXPORT const X509V3_EXT_METHOD *X509V3_EXT_get(X509_EXTENSION *ext);
MORVANE_EXPORT void X509V3_EXT_cleanup(void);
MORVANE_EXPORT int X509V3_add_standard_extensions(void);
/* The extension's value decoded by its method: a new value the caller frees
 * (through the method), or null when no method is registered or the value
 * does not decode (bytes after its DER count as such: "extension value
 * error"). */
MORVANE_EXPORT void *X509V3_EXT_d2i(X509_EXTENSION *ext);
/* Searches the list x for an extension of nid and decodes it.  With idx, the
 * search starts after *idx (from 0 when it is negative) and the position
 * found is stored there; without, a second extension of nid gives null and
 * -2 through crit.  Found: its criticality (0 or 1) through crit.  Not
 * found: -1 through idx and crit.  crit and idx may be null; so may x. */
MORVANE_EXPORT void *X509V3_get_d2i(STACK *x, int nid, int *crit, int *idx);
/* Encodes value as an extension of nid into the list *x (created when null).
 * The low four bits of flags: 0 add (fails with "extension exists" when one
 * is there), 1 append always, 2 replace or add, 3 replace only ("extension
 * not found"), 4 keep an existing one (1, nothing changed), 5 delete (1; -1
 * when the removal fails).  X509V3_ADD_SILENT (0x10) queues no error for
 * those refusals (0); a value that cannot be encoded always queues "error
 * creating extension" (0).  1 done; -1 with "malloc failure" when the list
 * cannot be made or cannot hold it (a list made by the call is freed). */
MORVANE_EXPORT int X509V3_add1_i2d(STACK **x, int nid, void *value, int crit,
                                   unsigned long flags);
#define X509V3_ADD_OP_MASK 0xfUL
#define X509V3_ADD_DEFAULT 0UL
#define X509V3_ADD_APPEND 1UL
#define X509V3_ADD_REPLACE 2UL
#define X509V3_ADD_REPLACE_EXISTING 3UL
#define X509V3_ADD_KEEP_EXISTING 4UL
#define X509V3_ADD_DELETE 5UL
#define X509V3_ADD_SILENT 0x10UL
/* A new extension of ext_nid holding value encoded by its method; null with
 * "unknown extension" when no method is registered, or "malloc failure". */
MORVANE_EXPORT X509_EXTENSION *X509V3_EXT_i2d(int ext_nid, int crit, void *ext_struc);

/* How builders read a configuration database `db`: a string by section and
 * name, a section as a STACK of CONF_VALUE lines in file order, and how to
 * release them (null: they belong to the database). */
typedef struct X509V3_CONF_METHOD_st {
  char *(*get_string)(void *db, const char *section, const char *name);
  STACK *(*get_section)(void *db, const char *section);
  void (*free_string)(void *db, char *string);
  void (*free_section)(void *db, STACK *section);
} X509V3_CONF_METHOD;

/* The context handed to extension builders. */
struct v3_ext_ctx {
  int flags; /* X509V3_CTX_TEST: empty values instead of ones that need certificates */
  X509 *issuer_cert;
  X509 *subject_cert;
  X509_REQ *subject_req;
  X509_CRL *crl;
  const X509V3_CONF_METHOD *db_meth;
  void *db;
};
#define X509V3_CTX_TEST 0x1

/* Makes ctx read sections and strings from the configuration conf (its
 * db_meth and db; nothing else is touched). */
MORVANE_EXPORT void X509V3_set_nconf(X509V3_CTX *ctx, CONF *conf);
/* Stores the certificates, request and revocation list the builders use
 * (any may be null) and the flags (X509V3_CTX_TEST); db_meth and db are left
 * alone. */
MORVANE_EXPORT void X509V3_set_ctx(X509V3_CTX *ctx, X509 *issuer, X509 *subject, X509_REQ *req,
                                   X509_CRL *crl, int flags);
/* Makes ctx read the old configuration interface's hash table lhash. */
MORVANE_EXPORT void X509V3_set_conf_lhash(X509V3_CTX *ctx, LHASH *lhash);
/* The string of the database's method: get_string(db, name, section), name
 * acting as the section and section as the key; null with "operation not
 * defined" when the context has no database.  X509V3_string_free releases
 * it when the method has a release function (null is accepted). */
MORVANE_EXPORT char *X509V3_get_string(X509V3_CTX *ctx, const char *name, const char *section);
MORVANE_EXPORT void X509V3_string_free(X509V3_CTX *ctx, char *str);

/* One extension from a configuration line: name is the extension's short
 * name and value its text.  A value beginning "critical," makes it
 * critical; "DER:" followed by hexadecimal (name then may be any object
 * name or dotted numbers) or "ASN1:" followed by a generator text gives the
 * value raw; otherwise the method's list builder reads the value as a list
 * (or, after '@', as the section of conf it names), its string builder the
 * text, or its raw builder the text with the context's database.  A new
 * extension, or null with an X509V3 error ("error in extension" with the
 * name and value after the builder's own).  conf may be null where no
 * section is named; ctx may be null for builders that need no context.
 * The _nid form takes the extension's NID. */
MORVANE_EXPORT X509_EXTENSION *X509V3_EXT_nconf(CONF *conf, X509V3_CTX *ctx, const char *name,
                                                const char *value);
MORVANE_EXPORT X509_EXTENSION *X509V3_EXT_nconf_nid(CONF *conf, X509V3_CTX *ctx, int ext_nid,
                                                    const char *value);
/* Builds each line of section, in order, appending a copy to *sk (created
 * when null; with a null sk the lines are only built).  1; 0 when the
 * section is missing or at the first line that fails (the extensions added
 * before it stay).  The certificate (its extensions), revocation list and
 * request forms take their object, which may be null; a request gets the
 * list as one extension-request attribute. */
MORVANE_EXPORT int X509V3_EXT_add_nconf_sk(CONF *conf, X509V3_CTX *ctx, const char *section,
                                           STACK **sk);
MORVANE_EXPORT int X509V3_EXT_add_nconf(CONF *conf, X509V3_CTX *ctx, const char *section,
                                        X509 *cert);
MORVANE_EXPORT int X509V3_EXT_CRL_add_nconf(CONF *conf, X509V3_CTX *ctx, const char *section,
                                            X509_CRL *crl);
MORVANE_EXPORT int X509V3_EXT_REQ_add_nconf(CONF *conf, X509V3_CTX *ctx, const char *section,
                                            X509_REQ *req);
/* The same five over the old configuration interface's hash table. */
MORVANE_EXPORT X509_EXTENSION *X509V3_EXT_conf(LHASH *conf, X509V3_CTX *ctx, const char *name,
                                               const char *value);
MORVANE_EXPORT X509_EXTENSION *X509V3_EXT_conf_nid(LHASH *conf, X509V3_CTX *ctx, int ext_nid,
                                                   const char *value);
MORVANE_EXPORT int X509V3_EXT_add_conf(LHASH *conf, X509V3_CTX *ctx, const char *section,
                                       X509 *cert);
MORVANE_EXPORT int X509V3_EXT_CRL_add_conf(LHASH *conf, X509V3_CTX *ctx, const char *section,
                                           X509_CRL *crl);
MORVANE_EXPORT int X509V3_EXT_REQ_add_conf(LHASH *conf, X509V3_CTX *ctx, const char *section,
                                           X509_REQ *req);

/* The section of the context's database as a STACK of CONF_VALUE, or null
 * (nothing queued when the database has no such section; "operation not
 * defined" when the context has no database). */
MORVANE_EXPORT STACK *X509V3_get_section(X509V3_CTX *ctx, const char *section);
/* Releases a section from X509V3_get_section through the database's method,
 * when it has a release function. */
MORVANE_EXPORT void X509V3_section_free(X509V3_CTX *ctx, STACK *section);

/* A new INTEGER from decimal text, or hexadecimal after "0x" or "0X", with
 * an optional leading '-' ("-0" is zero, not negative); the whole text must
 * be the number.  Null with "invalid null value", "bn dec2bn error" or "bn to
 * asn1 integer error".  `method` is not used. */
MORVANE_EXPORT ASN1_INTEGER *s2i_ASN1_INTEGER(const X509V3_EXT_METHOD *method, const char *value);
/* Hexadecimal digit pairs (either case; ':' may stand where a pair would
 * begin) as a new buffer of bytes, its count stored through len when given.
 * Null with "invalid null argument", "odd number of digits", "illegal hex
 * digit", or "malloc failure" for a text shorter than two characters. */
MORVANE_EXPORT unsigned char *string_to_hex(const char *str, long *len);

/* Reads the value of a configuration line as a boolean: "TRUE", "true", "Y",
 * "y", "YES" and "yes" set *asn1_bool to 255, "FALSE", "false", "N", "n", "NO"
 * and "no" to 0; 1.  Anything else (or no value): 0 with "invalid boolean
 * string" and the line's section, name and value attached. */
MORVANE_EXPORT int X509V3_get_value_bool(CONF_VALUE *value, int *asn1_bool);

/* Name/value lists (STACKs of CONF_VALUE whose records own their strings).
 * X509V3_add_value appends a record holding copies of name and value (either
 * may be null; the section is null), creating *extlist when it is null; 1, or
 * 0 with "malloc failure" and nothing added.  The _uchar form takes unsigned
 * bytes; _bool adds "TRUE" or "FALSE"; _bool_nf adds "TRUE" for a non-zero
 * value and nothing (1) for 0; _int adds the decimal text of aint, nothing
 * (1) for a null integer. */
MORVANE_EXPORT int X509V3_add_value(const char *name, const char *value, STACK **extlist);
MORVANE_EXPORT int X509V3_add_value_uchar(const char *name, const unsigned char *value,
                                          STACK **extlist);
MORVANE_EXPORT int X509V3_add_value_bool(const char *name, int asn1_bool, STACK **extlist);
MORVANE_EXPORT int X509V3_add_value_bool_nf(const char *name, int asn1_bool, STACK **extlist);
MORVANE_EXPORT int X509V3_add_value_int(const char *name, ASN1_INTEGER *aint, STACK **extlist);
/* Frees a record of such a list with its name, value and section (null is
 * accepted). */
MORVANE_EXPORT void X509V3_conf_free(CONF_VALUE *conf);
/* Reads the value of a configuration line through s2i_ASN1_INTEGER into a
 * new integer at *aint: 1; else 0 with that function's error and the line's
 * section, name and value attached. */
MORVANE_EXPORT int X509V3_get_value_int(CONF_VALUE *value, ASN1_INTEGER **aint);
/* New decimal text of an INTEGER or ENUMERATED ("-" before a negative one);
 * null for null, or with "malloc failure".  `method` is not used. */
MORVANE_EXPORT char *i2s_ASN1_INTEGER(const X509V3_EXT_METHOD *method, ASN1_INTEGER *a);
MORVANE_EXPORT char *i2s_ASN1_ENUMERATED(const X509V3_EXT_METHOD *method, ASN1_ENUMERATED *a);
/* New text of len bytes as upper-case digit pairs joined by ':' (0A:FF);
 * null for a null buffer or a len of 0 or less, and with "malloc failure"
 * when out of memory or when the text would not fit an int. */
MORVANE_EXPORT char *hex_to_string(const unsigned char *buffer, long len);
/* 0 when name is cmp, or cmp followed by '.' and anything; else the strncmp
 * of the two over the length of cmp when not 0, else 1. */
MORVANE_EXPORT int name_cmp(const char *name, const char *cmp);
/* A new name/value list from comma-separated text, each item a name or a
 * name, ':' and a value (later ':' belong to the value), white space around
 * each part stripped; reading stops at the end or the first CR or LF.  Null
 * with "invalid null name" or "invalid null value" for an empty part, or
 * "invalid null argument" for a null line. */
MORVANE_EXPORT STACK *X509V3_parse_list(const char *line);

/* IP address text: a2i_ipadd reads text holding ':' as IPv6 (16 bytes into
 * ipout, result 16), other text as dotted IPv4 (4 bytes, result 4; each
 * number one to three digits, at most 255; text after the fourth number is
 * ignored); 0 for text that is no address or null.  a2i_IPADDRESS gives a new
 * OCTET STRING of the address; a2i_IPADDRESS_NC one of "address/mask", both
 * of one family, address then mask (8 or 32 bytes).  Both null when the text
 * does not parse. */
MORVANE_EXPORT int a2i_ipadd(unsigned char *ipout, const char *ipasc);
MORVANE_EXPORT ASN1_OCTET_STRING *a2i_IPADDRESS(const char *ipasc);
MORVANE_EXPORT ASN1_OCTET_STRING *a2i_IPADDRESS_NC(const char *ipasc);

/* A new list of the distinct e-mail addresses (IA5String texts) in the
 * emailAddress entries of a certificate's or request's subject and in the
 * e-mail names of its subjectAltName extension (for a request, among its
 * requested extensions), or null when there are none; used as a set (its
 * order is not kept).  X509_email_free
 * frees such a list and its texts (null is accepted). */
MORVANE_EXPORT STACK *X509_get1_email(X509 *x);
MORVANE_EXPORT STACK *X509_REQ_get1_email(X509_REQ *x);
MORVANE_EXPORT void X509_email_free(STACK *sk);
/* Adds one entry to nm for each CONF_VALUE of dn_sk, in order: the field is
 * the name after its first ':', ',' or '.' when something follows (so
 * "1.OU" names OU), a leading '+' joining the previous RDN; the value is
 * read as chtype (a text form ASN1_MB_* of morvane/asn1.h, or a string
 * type, as X509_NAME_add_entry_by_txt takes it).  1, or 0 at the first
 * failure or for a null name. */
MORVANE_EXPORT int X509V3_NAME_from_section(X509_NAME *nm, STACK *dn_sk, unsigned long chtype);

/* General names (RFC 5280, 4.2.1.6): `type` says which member of `d` is
 * set.  An IP address holds 4 or 16 octets, or, in name constraints, the
 * address followed by its mask (8 or 32). */
#define GEN_OTHERNAME 0
#define GEN_EMAIL 1
#define GEN_DNS 2
#define GEN_X400 3
#define GEN_DIRNAME 4
#define GEN_EDIPARTY 5
#define GEN_URI 6
#define GEN_IPADD 7
#define GEN_RID 8

/* OtherName: type_id OBJECT IDENTIFIER, value [0] EXPLICIT ANY. */
typedef struct otherName_st {
  ASN1_OBJECT *type_id;
  ASN1_TYPE *value;
} OTHERNAME;

/* EDIPartyName: nameAssigner [0] and partyName [1], DirectoryStrings under
 * explicit tags (a DirectoryString is a CHOICE), both optional here (null
 * when absent). */
typedef struct EDIPartyName_st {
  ASN1_STRING *nameAssigner;
  ASN1_STRING *partyName;
} EDIPARTYNAME;

typedef struct GENERAL_NAME_st {
  int type; /* GEN_* */
  union {
    char *ptr;
    OTHERNAME *otherName;               /* GEN_OTHERNAME */
    ASN1_IA5STRING *rfc822Name;         /* GEN_EMAIL */
    ASN1_IA5STRING *dNSName;            /* GEN_DNS */
    ASN1_STRING *x400Address;           /* GEN_X400, undecoded SEQUENCE */
    X509_NAME *directoryName;           /* GEN_DIRNAME */
    EDIPARTYNAME *ediPartyName;         /* GEN_EDIPARTY */
    ASN1_IA5STRING *uniformResourceIdentifier; /* GEN_URI */
    ASN1_OCTET_STRING *iPAddress;       /* GEN_IPADD */
    ASN1_OBJECT *registeredID;          /* GEN_RID */
    /* shorter names of the same members */
    ASN1_OCTET_STRING *ip;
    X509_NAME *dirn;
    ASN1_IA5STRING *ia5;
    ASN1_OBJECT *rid;
    ASN1_TYPE *other;
  } d;
} GENERAL_NAME;

typedef STACK GENERAL_NAMES; /* of GENERAL_NAME */

/* AuthorityKeyIdentifier: keyid [0], issuer [1] and serial [2], each null
 * when absent. */
struct AUTHORITY_KEYID_st {
  ASN1_OCTET_STRING *keyid;
  GENERAL_NAMES *issuer;
  ASN1_INTEGER *serial;
};

/* BasicConstraints: ca (0 or non-zero; false is not encoded) and pathlen
 * (null when absent). */
typedef struct BASIC_CONSTRAINTS_st {
  int ca;
  ASN1_INTEGER *pathlen;
} BASIC_CONSTRAINTS;

/* DistributionPointName: type 0 a full name (GeneralNames), type 1 a name
 * relative to the issuer (a STACK of X509_NAME_ENTRY). */
typedef struct DIST_POINT_NAME_st {
  int type;
  union {
    GENERAL_NAMES *fullname;
    STACK *relativename;
  } name;
} DIST_POINT_NAME;

/* DistributionPoint: each field null when absent. */
typedef struct DIST_POINT_st {
  DIST_POINT_NAME *distpoint;
  ASN1_BIT_STRING *reasons;
  GENERAL_NAMES *CRLissuer;
} DIST_POINT;

typedef STACK CRL_DIST_POINTS; /* of DIST_POINT */

/* AccessDescription: an access method and where to reach it. */
typedef struct ACCESS_DESCRIPTION_st {
  ASN1_OBJECT *method;
  GENERAL_NAME *location;
} ACCESS_DESCRIPTION;

typedef STACK AUTHORITY_INFO_ACCESS; /* of ACCESS_DESCRIPTION */

/* GeneralSubtree of name constraints: minimum and maximum null when absent. */
typedef struct GENERAL_SUBTREE_st {
  GENERAL_NAME *base;
  ASN1_INTEGER *minimum;
  ASN1_INTEGER *maximum;
} GENERAL_SUBTREE;

/* NameConstraints: STACKs of GENERAL_SUBTREE, null when absent. */
typedef struct NAME_CONSTRAINTS_st {
  STACK *permittedSubtrees;
  STACK *excludedSubtrees;
} NAME_CONSTRAINTS;

/* PolicyConstraints: each null when absent. */
typedef struct POLICY_CONSTRAINTS_st {
  ASN1_INTEGER *requireExplicitPolicy;
  ASN1_INTEGER *inhibitPolicyMapping;
} POLICY_CONSTRAINTS;

typedef struct POLICY_MAPPING_st {
  ASN1_OBJECT *issuerDomainPolicy;
  ASN1_OBJECT *subjectDomainPolicy;
} POLICY_MAPPING;

typedef STACK POLICY_MAPPINGS; /* of POLICY_MAPPING */

/* Printing general names.  GENERAL_NAME_print writes one name ("email:",
 * "DNS:", "URI:", "DirName: ", "IP Address:", "Registered ID" and so on;
 * a 16-octet address ends with a newline); 1.  The i2v forms append
 * name/value pairs to ret (a new list when ret is null) and return it, null
 * when a pair cannot be added; i2v_GENERAL_NAMES of an empty list gives a
 * new empty list.  The method argument is not used. */
MORVANE_EXPORT int GENERAL_NAME_print(BIO *out, GENERAL_NAME *gen);
MORVANE_EXPORT STACK *i2v_GENERAL_NAME(X509V3_EXT_METHOD *method, GENERAL_NAME *gen,
                                       STACK *ret);
MORVANE_EXPORT STACK *i2v_GENERAL_NAMES(X509V3_EXT_METHOD *method, GENERAL_NAMES *gen,
                                        STACK *ret);
/* Building general names from name/value pairs ("email", "URI", "DNS",
 * "RID", "IP", "dirName" naming a section, "otherName" as OID;generator).
 * _ex fills out when it is not null (else returns a new name); is_nc reads an
 * IP value as "address/mask".  Null with an X509V3 error on failure; a name
 * made here is freed then, out is left to its owner.  ctx may be null except
 * for dirName and otherName. */
MORVANE_EXPORT GENERAL_NAME *v2i_GENERAL_NAME(const X509V3_EXT_METHOD *method, X509V3_CTX *ctx,
                                              CONF_VALUE *cnf);
MORVANE_EXPORT GENERAL_NAME *v2i_GENERAL_NAME_ex(GENERAL_NAME *out,
                                                 const X509V3_EXT_METHOD *method,
                                                 X509V3_CTX *ctx, CONF_VALUE *cnf, int is_nc);
MORVANE_EXPORT GENERAL_NAMES *v2i_GENERAL_NAMES(const X509V3_EXT_METHOD *method,
                                                X509V3_CTX *ctx, STACK *nval);
/* Prints the access method of a description (its location is not printed);
 * 2, or 0 (nothing printed) for a null description. */
MORVANE_EXPORT int i2a_ACCESS_DESCRIPTION(BIO *bp, ACCESS_DESCRIPTION *a);
/* The OCTET STRING as upper-case hexadecimal pairs joined by ':', and such
 * text (string_to_hex) as a new OCTET STRING; null with the error of
 * hex_to_string or string_to_hex.  The method and ctx are not used. */
MORVANE_EXPORT char *i2s_ASN1_OCTET_STRING(X509V3_EXT_METHOD *method, ASN1_OCTET_STRING *ia5);
MORVANE_EXPORT ASN1_OCTET_STRING *s2i_ASN1_OCTET_STRING(X509V3_EXT_METHOD *method,
                                                        X509V3_CTX *ctx, const char *str);
/* A new list of the OCSP responder URIs of the certificate's
 * authorityInfoAccess extension, in order and without repeats; null when it
 * has none.  Free it with X509_email_free.  x must be valid. */
MORVANE_EXPORT STACK *X509_get1_ocsp(X509 *x);

/* Releases a certificate's cached policy data; null is accepted. */
MORVANE_EXPORT void policy_cache_free(X509_POLICY_CACHE *cache);

/* ---- cached extension facts, purposes -----------------------------------
 * A certificate's extension facts (ex_flags, ex_pathlen, ex_pcpathlen,
 * ex_kusage, ex_xkusage, ex_nscert, skid, akid, sha1_hash) are computed
 * once, on first use, under lock 3 (CRYPTO_LOCK_X509) held for writing;
 * nothing recomputes them when the certificate changes later.  An extension
 * among basicConstraints, keyUsage, extendedKeyUsage, nsCertType and
 * proxyCertInfo that occurs twice or does not decode sets EXFLAG_INVALID, so
 * the restriction it may carry is never silently dropped; so does a path
 * length (basicConstraints, proxyCertInfo) that is negative or does not read
 * as a long through ASN1_INTEGER_get (an over-long encoding among them), the
 * rule the policy cache applies to its counts.
 *
 * Purpose records 1 to 8 are built in; X509_PURPOSE_add adds records or
 * changes one in place (built-in ones too).  The added table is
 * process-wide and unlocked: change it before other threads verify.
 * Null arguments: the facts and checks need valid certificates
 * (X509_check_issued both); the purpose getters need a valid record;
 * X509_PURPOSE_set needs a valid out pointer; X509_PURPOSE_get_by_sname
 * refuses null (-1). */
#define EXFLAG_BCONS 0x1       /* basicConstraints present */
#define EXFLAG_KUSAGE 0x2      /* keyUsage present */
#define EXFLAG_XKUSAGE 0x4     /* extendedKeyUsage present */
#define EXFLAG_NSCERT 0x8      /* nsCertType present */
#define EXFLAG_CA 0x10         /* basicConstraints says CA */
#define EXFLAG_SI 0x20         /* self-issued: subject name equals issuer name */
#define EXFLAG_SS 0x20
#define EXFLAG_V1 0x40         /* version 1 certificate */
#define EXFLAG_INVALID 0x80    /* invalid extensions */
#define EXFLAG_SET 0x100       /* the facts are computed */
#define EXFLAG_CRITICAL 0x200  /* a critical extension that is not supported */
#define EXFLAG_PROXY 0x400     /* proxyCertInfo present */
#define EXFLAG_INVALID_POLICY 0x800 /* invalid or inconsistent policy extensions */

#define KU_DIGITAL_SIGNATURE 0x0080
#define KU_NON_REPUDIATION 0x0040
#define KU_KEY_ENCIPHERMENT 0x0020
#define KU_DATA_ENCIPHERMENT 0x0010
#define KU_KEY_AGREEMENT 0x0008
#define KU_KEY_CERT_SIGN 0x0004
#define KU_CRL_SIGN 0x0002
#define KU_ENCIPHER_ONLY 0x0001
#define KU_DECIPHER_ONLY 0x8000

#define NS_SSL_CLIENT 0x80
#define NS_SSL_SERVER 0x40
#define NS_SMIME 0x20
#define NS_OBJSIGN 0x10
#define NS_SSL_CA 0x04
#define NS_SMIME_CA 0x02
#define NS_OBJSIGN_CA 0x01
#define NS_ANY_CA (NS_SSL_CA | NS_SMIME_CA | NS_OBJSIGN_CA)

#define XKU_SSL_SERVER 0x1
#define XKU_SSL_CLIENT 0x2
#define XKU_SMIME 0x4
#define XKU_CODE_SIGN 0x8
#define XKU_SGC 0x10
#define XKU_OCSP_SIGN 0x20
#define XKU_TIMESTAMP 0x40
#define XKU_DVCS 0x80

typedef struct x509_purpose_st {
  int purpose; /* id */
  int trust;   /* the trust id that goes with it; -1: the default purpose's */
  int flags;   /* X509_PURPOSE_DYNAMIC, X509_PURPOSE_DYNAMIC_NAME */
  int (*check_purpose)(const struct x509_purpose_st *purpose, const X509 *x, int ca);
  char *name;
  char *sname;
  void *usr_data; /* the application's */
} X509_PURPOSE;
#define X509_PURPOSE_DYNAMIC 0x1
#define X509_PURPOSE_DYNAMIC_NAME 0x2
#define X509_PURPOSE_SSL_CLIENT 1
#define X509_PURPOSE_SSL_SERVER 2
#define X509_PURPOSE_NS_SSL_SERVER 3
#define X509_PURPOSE_SMIME_SIGN 4
#define X509_PURPOSE_SMIME_ENCRYPT 5
#define X509_PURPOSE_CRL_SIGN 6
#define X509_PURPOSE_ANY 7
#define X509_PURPOSE_OCSP_HELPER 8
#define X509_PURPOSE_MIN 1
#define X509_PURPOSE_MAX 8

/* Computes the facts when they are not computed yet.  id -1: 1 (only the
 * facts were wanted); an id without a record: -1; else the record's check
 * with (record, x, ca): 0 not suitable, 1 suitable, with ca the CA kinds of
 * X509_check_ca (3, 4, 5), and 2 from the S/MIME checks for a certificate
 * marked for SSL client use only.  0 (the id -1 included) when memory ran
 * out while computing the facts; nothing is cached then. */
MORVANE_EXPORT int X509_check_purpose(X509 *x, int id, int ca);
/* Computes the facts, then whether x is a CA: 0 no (or memory ran out); 1
 * by basicConstraints; 3 a self-issued version 1 certificate; 4 by keyUsage
 * keyCertSign; 5 by a CA type of nsCertType. */
MORVANE_EXPORT int X509_check_ca(X509 *x);
/* 0 when issuer could have issued subject (names, key identifiers, key
 * usage); else the verification error that says why not: 29 names differ,
 * 30 key identifiers differ, 31 serial number or issuer name of the
 * authority key identifier differ, 32 no keyCertSign, 39 a proxy's issuer
 * without digitalSignature, 17 memory ran out while computing the facts. */
MORVANE_EXPORT int X509_check_issued(X509 *issuer, X509 *subject);
/* 1 when ext's type is one the verifier understands when critical. */
MORVANE_EXPORT int X509_supported_extension(X509_EXTENSION *ext);

/* 8 + the number of added records; X509_PURPOSE_get0 gives the record at
 * idx (built-in 0 to 7, added ones after them; null outside); _get_by_id
 * the index of id, _get_by_sname that of a short name, or -1. */
MORVANE_EXPORT int X509_PURPOSE_get_count(void);
MORVANE_EXPORT X509_PURPOSE *X509_PURPOSE_get0(int idx);
MORVANE_EXPORT int X509_PURPOSE_get_by_sname(const char *sname);
MORVANE_EXPORT int X509_PURPOSE_get_by_id(int id);
/* Stores id in *p when a record has it: 1; else 0 with "invalid purpose". */
MORVANE_EXPORT int X509_PURPOSE_set(int *p, int purpose);
/* Adds a record, or changes the record of id in place: copies of name and
 * sname, and trust, check, arg and flags (without X509_PURPOSE_DYNAMIC).
 * 1, or 0 with "malloc failure", with "passed a null parameter" for a null
 * check function, or with "purpose name exists" (data "sname=" and sname)
 * when another record has the short name sname (nothing added or changed). */
MORVANE_EXPORT int X509_PURPOSE_add(int id, int trust, int flags,
                                    int (*ck)(const X509_PURPOSE *, const X509 *, int),
                                    const char *name, const char *sname, void *arg);
/* Frees the added records and their stack; built-in records stay (changed
 * ones keep their change). */
MORVANE_EXPORT void X509_PURPOSE_cleanup(void);
MORVANE_EXPORT int X509_PURPOSE_get_id(X509_PURPOSE *xp);
MORVANE_EXPORT char *X509_PURPOSE_get0_name(X509_PURPOSE *xp);
MORVANE_EXPORT char *X509_PURPOSE_get0_sname(X509_PURPOSE *xp);
MORVANE_EXPORT int X509_PURPOSE_get_trust(X509_PURPOSE *xp);

/* ---- certificate-policy tree ------------------------------------------------
 * X509_policy_check builds the valid-policy tree of a chain (index 0 the
 * target, the last the trust anchor) in the manner of RFC 3280, 6.1, with
 * policy mapping always inhibited: a policy a certificate maps is removed
 * and its subject-domain policy gets no node.  (X509_verify_cert refuses a
 * critical policyMappings in the caller's part of the chain as an unhandled
 * critical extension before this runs.)  policy_oids (a STACK of
 * ASN1_OBJECT, may be null) are the acceptable policies: null or empty
 * means none, not anyPolicy (list anyPolicy to accept every policy), so an
 * explicit policy requirement then fails with -2; flags 0x100
 * requires an explicit policy, 0x200 inhibits anyPolicy.  Results: 1 valid
 * (*ptree the tree, or null when none was needed), 0 out of memory, -1 a
 * certificate has invalid or inconsistent policy extensions
 * (EXFLAG_INVALID_POLICY), -2 an explicit policy is required and the
 * user-constrained set is empty, X509_PCY_TREE_TOO_LARGE the tree would hold
 * more than 10,000 nodes.  *pexplicit_policy is set to 1 when an explicit
 * policy was required.  The tree holds a reference to each certificate
 * below the anchor until X509_policy_tree_free (null accepted).  The
 * accessors borrow; each gives 0 or null for a null argument. */
/* X509_POLICY_TREE is declared in morvane/types.h; a node of the tree: */
typedef struct X509_POLICY_NODE_st X509_POLICY_NODE;
typedef struct X509_POLICY_LEVEL_st X509_POLICY_LEVEL;
#define X509_PCY_TREE_TOO_LARGE (-3)

MORVANE_EXPORT int X509_policy_check(X509_POLICY_TREE **ptree, int *pexplicit_policy,
                                     STACK *certs, STACK *policy_oids, unsigned int flags);
MORVANE_EXPORT void X509_policy_tree_free(X509_POLICY_TREE *tree);
/* The number of levels (the chain's length); level i, or null outside. */
MORVANE_EXPORT int X509_policy_tree_level_count(const X509_POLICY_TREE *tree);
MORVANE_EXPORT X509_POLICY_LEVEL *X509_policy_tree_get0_level(const X509_POLICY_TREE *tree,
                                                             int i);
/* The authority-constrained set and the user-constrained set (the former
 * when the user's policies held anyPolicy); STACKs of X509_POLICY_NODE. */
MORVANE_EXPORT STACK *X509_policy_tree_get0_policies(const X509_POLICY_TREE *tree);
MORVANE_EXPORT STACK *X509_policy_tree_get0_user_policies(const X509_POLICY_TREE *tree);
/* Nodes of a level, its anyPolicy node (when it has one) at index 0. */
MORVANE_EXPORT int X509_policy_level_node_count(X509_POLICY_LEVEL *level);
MORVANE_EXPORT X509_POLICY_NODE *X509_policy_level_get0_node(X509_POLICY_LEVEL *level, int i);
MORVANE_EXPORT const ASN1_OBJECT *X509_policy_node_get0_policy(const X509_POLICY_NODE *node);
/* A STACK of POLICYQUALINFO, or null. */
MORVANE_EXPORT STACK *X509_policy_node_get0_qualifiers(const X509_POLICY_NODE *node);
MORVANE_EXPORT const X509_POLICY_NODE *X509_policy_node_get0_parent(const X509_POLICY_NODE *node);

/* Prints a name/value list: nothing for null; single-line (ml 0) as indent
 * spaces and the pairs joined by ", " without a final newline; multi-line as
 * one pair a line, each after indent spaces.  A pair prints as "name:value",
 * or the part that is not null; an empty list prints "<EMPTY>\n". */
MORVANE_EXPORT void X509V3_EXT_val_prn(BIO *out, STACK *val, int indent, int ml);
/* The value of an extension through its method's printer at indent: 1
 * printed, 0 not (also, with nothing printed, when the value could not be
 * decoded for want of memory).  When no method is registered or the value
 * does not decode, the bits 0xF0000 of flag choose: 0 nothing (0);
 * X509V3_EXT_ERROR_UNKNOWN "<Not Supported>" or "<Parse Error>" (1);
 * X509V3_EXT_PARSE_UNKNOWN the DER structure; X509V3_EXT_DUMP_UNKNOWN a
 * hex dump (their results); other values nothing (1).  The _fp form writes
 * to a FILE it leaves open. */
MORVANE_EXPORT int X509V3_EXT_print(BIO *out, X509_EXTENSION *ext, unsigned long flag,
                                    int indent);
MORVANE_EXPORT int X509V3_EXT_print_fp(FILE *out, X509_EXTENSION *ext, int flag, int indent);
#define X509V3_EXT_UNKNOWN_MASK (0xfUL << 16)
#define X509V3_EXT_DEFAULT 0UL
#define X509V3_EXT_ERROR_UNKNOWN (1UL << 16)
#define X509V3_EXT_PARSE_UNKNOWN (2UL << 16)
#define X509V3_EXT_DUMP_UNKNOWN (3UL << 16)
/* A list of extensions: nothing for an empty or null list; else
 * "title:" at indent (when title is not null; the entries then stand 4
 * further in), each extension's type, ": " and "critical" when marked so,
 * and its value 4 further in, through X509V3_EXT_print or, when that declines,
 * as raw text (ASN1_STRING_print).  1, or 0 when a write fails or is short,
 * or when an extension's printer ran out of memory (that reason queued;
 * nothing of its value is printed). */
MORVANE_EXPORT int X509V3_extensions_print(BIO *bp, const char *title, STACK *exts,
                                           unsigned long flag, int indent);

/* ---- usages, policies, strings and the remaining standard extensions ----
 * Value types of the built-in extension methods (RFC 5280, 4.2 and 5.2/5.3;
 * RFC 3820 for proxy certificates).  Their templates are the items declared
 * in the generated block below. */
typedef STACK CERTIFICATEPOLICIES;  /* of POLICYINFO */
typedef STACK EXTENDED_KEY_USAGE;   /* of ASN1_OBJECT */
typedef struct NOTICEREF_st {
  ASN1_STRING *organization; /* DisplayText */
  STACK *noticenos;          /* of ASN1_INTEGER */
} NOTICEREF;
typedef struct USERNOTICE_st {
  NOTICEREF *noticeref; /* may be null */
  ASN1_STRING *exptext; /* DisplayText, may be null */
} USERNOTICE;
typedef struct POLICYQUALINFO_st {
  ASN1_OBJECT *pqualid;
  union {
    ASN1_IA5STRING *cpsuri; /* id-qt-cps (NID 164) */
    USERNOTICE *usernotice; /* id-qt-unotice (NID 165) */
    ASN1_TYPE *other;       /* any other qualifier */
  } d;
} POLICYQUALINFO;
typedef struct POLICYINFO_st {
  ASN1_OBJECT *policyid;
  STACK *qualifiers; /* of POLICYQUALINFO, may be null */
} POLICYINFO;
typedef struct PKEY_USAGE_PERIOD_st {
  ASN1_GENERALIZEDTIME *notBefore; /* [0], may be null */
  ASN1_GENERALIZEDTIME *notAfter;  /* [1], may be null */
} PKEY_USAGE_PERIOD;
typedef struct SXNET_ID_st {
  ASN1_INTEGER *zone;
  ASN1_OCTET_STRING *user;
} SXNETID;
typedef struct SXNET_st {
  ASN1_INTEGER *version;
  STACK *ids; /* of SXNETID */
} SXNET;
typedef struct PROXY_POLICY_st {
  ASN1_OBJECT *policyLanguage;
  ASN1_OCTET_STRING *policy; /* may be null */
} PROXY_POLICY;
typedef struct PROXY_CERT_INFO_EXTENSION_st {
  ASN1_INTEGER *pcPathLengthConstraint; /* may be null: no limit */
  PROXY_POLICY *proxyPolicy;
} PROXY_CERT_INFO_EXTENSION;

/* Named bit strings (keyUsage, nsCertType): i2v_ASN1_BIT_STRING appends to
 * ret one pair per set bit of the method's table (its usr_data), named by the
 * row's long name, in table order; v2i_ASN1_BIT_STRING builds a BIT STRING
 * from pairs naming rows by short or long name (null with "unknown bit
 * string argument").  The IA5String pair: i2s_ASN1_IA5STRING gives a new
 * text copy (null for a null or empty string), s2i_ASN1_IA5STRING a new
 * IA5String of str ("invalid null argument" for null).
 * i2s_ASN1_ENUMERATED_TABLE gives a new copy of the long name of the row of
 * the method's table matching e, or e in decimal. */
MORVANE_EXPORT STACK *i2v_ASN1_BIT_STRING(const X509V3_EXT_METHOD *method,
                                          ASN1_BIT_STRING *bits, STACK *ret);
MORVANE_EXPORT ASN1_BIT_STRING *v2i_ASN1_BIT_STRING(const X509V3_EXT_METHOD *method,
                                                    X509V3_CTX *ctx, STACK *nval);
MORVANE_EXPORT char *i2s_ASN1_IA5STRING(const X509V3_EXT_METHOD *method, ASN1_IA5STRING *ia5);
MORVANE_EXPORT ASN1_IA5STRING *s2i_ASN1_IA5STRING(const X509V3_EXT_METHOD *method,
                                                  X509V3_CTX *ctx, const char *str);
MORVANE_EXPORT char *i2s_ASN1_ENUMERATED_TABLE(const X509V3_EXT_METHOD *method,
                                               ASN1_ENUMERATED *e);

/* Prints a policy-tree node: its policy, "Critical" or "Non Critical" and its
 * qualifiers (or "No Qualifiers"), each line after indent blanks. */
MORVANE_EXPORT void X509_POLICY_NODE_print(BIO *out, X509_POLICY_NODE *node, int indent);

/* ---- the parts of the policy cache and tree ------------------------------
 * What X509_policy_check builds with, exported for code that inspects or
 * builds policy data the same way.  One policy of one certificate is an
 * X509_POLICY_DATA (opaque here): its identifier, qualifiers and flags.
 * Pointers must be valid except where a function says otherwise. */
typedef struct X509_POLICY_DATA_st X509_POLICY_DATA;

/* x's policy cache (its policies, mappings and policy counts, read from its
 * extensions), built first under lock 3 when x has none; null when building
 * ran out of memory.  Invalid or inconsistent policy extensions do not fail
 * the build: they set EXFLAG_INVALID_POLICY.  The certificate owns it. */
MORVANE_EXPORT const X509_POLICY_CACHE *policy_cache_set(X509 *x);
/* The cache's data with identifier id (anyPolicy aside), or null. */
MORVANE_EXPORT const X509_POLICY_DATA *policy_cache_find_data(const X509_POLICY_CACHE *cache,
                                                              const ASN1_OBJECT *id);
/* New data from `policy` (taking over its identifier and qualifiers, which
 * are then cleared in it) or else from `id` (copied); crit non-zero marks the
 * policy critical.  Null when both are null or memory runs out. */
MORVANE_EXPORT X509_POLICY_DATA *policy_data_new(POLICYINFO *policy, const ASN1_OBJECT *id,
                                                 int crit);
/* Frees the data with its identifier, its qualifiers (unless shared) and its
 * expected policies; null is ignored. */
MORVANE_EXPORT void policy_data_free(X509_POLICY_DATA *data);
/* A new empty STACK of X509_POLICY_NODE ordered by policy identifier, or
 * null. */
MORVANE_EXPORT STACK *policy_node_cmp_new(void);
/* Frees the node alone (not its data); null is ignored. */
MORVANE_EXPORT void policy_node_free(X509_POLICY_NODE *node);
/* A new node for `data` under `parent` (may be null), whose child count
 * grows.  With a level, anyPolicy data becomes the level's anyPolicy node (a
 * second one is refused) and other data joins the level's nodes; with a tree,
 * the tree takes the data over (freed with the tree).  Null on failure, the
 * node then freed and the data not taken. */
MORVANE_EXPORT X509_POLICY_NODE *level_add_node(X509_POLICY_LEVEL *level, X509_POLICY_DATA *data,
                                                X509_POLICY_NODE *parent, X509_POLICY_TREE *tree);
/* The node of the level (its anyPolicy node aside) or of the STACK of nodes
 * (null: none) whose policy is id, or null. */
MORVANE_EXPORT X509_POLICY_NODE *level_find_node(const X509_POLICY_LEVEL *level,
                                                 const ASN1_OBJECT *id);
MORVANE_EXPORT X509_POLICY_NODE *tree_find_sk(STACK *nodes, const ASN1_OBJECT *id);

/* Strong Extranet identifiers.  The add functions append (zone, user) to
 * *psx, creating the list (version 0) when *psx is null: 1, or 0 with
 * "invalid null argument" (null psx, zone or user), "user too long" (more
 * than 64 bytes; userlen -1 takes strlen(user)), "invalid length" (userlen
 * below -1), "duplicate zone id" or "error converting zone" (the _asc zone
 * is s2i_ASN1_INTEGER text).  On a malloc failure a list the call made is
 * freed and a list the caller holds keeps its identifiers.  The _INTEGER
 * form takes ownership of zone when it succeeds.  The get functions return
 * the user of the first identifier of that zone (owned by sx), or null; sx
 * must be valid. */
MORVANE_EXPORT int SXNET_add_id_asc(SXNET **psx, const char *zone, const char *user, int userlen);
MORVANE_EXPORT int SXNET_add_id_ulong(SXNET **psx, unsigned long lzone, const char *user,
                                      int userlen);
MORVANE_EXPORT int SXNET_add_id_INTEGER(SXNET **psx, ASN1_INTEGER *zone, const char *user,
                                        int userlen);
MORVANE_EXPORT ASN1_OCTET_STRING *SXNET_get_id_asc(SXNET *sx, const char *zone);
MORVANE_EXPORT ASN1_OCTET_STRING *SXNET_get_id_ulong(SXNET *sx, unsigned long lzone);
MORVANE_EXPORT ASN1_OCTET_STRING *SXNET_get_id_INTEGER(SXNET *sx, ASN1_INTEGER *zone);

/* BEGIN ITEMS (generated by tools/gen_asn1_items.py) */
MORVANE_EXPORT extern const ASN1_ITEM GENERAL_NAME_it;
MORVANE_EXPORT GENERAL_NAME *GENERAL_NAME_new(void);
MORVANE_EXPORT void GENERAL_NAME_free(GENERAL_NAME *a);
MORVANE_EXPORT GENERAL_NAME *d2i_GENERAL_NAME(GENERAL_NAME **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_GENERAL_NAME(GENERAL_NAME *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM GENERAL_NAMES_it;
MORVANE_EXPORT GENERAL_NAMES *GENERAL_NAMES_new(void);
MORVANE_EXPORT void GENERAL_NAMES_free(GENERAL_NAMES *a);
MORVANE_EXPORT GENERAL_NAMES *d2i_GENERAL_NAMES(GENERAL_NAMES **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_GENERAL_NAMES(GENERAL_NAMES *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM OTHERNAME_it;
MORVANE_EXPORT OTHERNAME *OTHERNAME_new(void);
MORVANE_EXPORT void OTHERNAME_free(OTHERNAME *a);
MORVANE_EXPORT OTHERNAME *d2i_OTHERNAME(OTHERNAME **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_OTHERNAME(OTHERNAME *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM EDIPARTYNAME_it;
MORVANE_EXPORT EDIPARTYNAME *EDIPARTYNAME_new(void);
MORVANE_EXPORT void EDIPARTYNAME_free(EDIPARTYNAME *a);
MORVANE_EXPORT EDIPARTYNAME *d2i_EDIPARTYNAME(EDIPARTYNAME **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_EDIPARTYNAME(EDIPARTYNAME *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM AUTHORITY_KEYID_it;
MORVANE_EXPORT AUTHORITY_KEYID *AUTHORITY_KEYID_new(void);
MORVANE_EXPORT void AUTHORITY_KEYID_free(AUTHORITY_KEYID *a);
MORVANE_EXPORT AUTHORITY_KEYID *d2i_AUTHORITY_KEYID(AUTHORITY_KEYID **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_AUTHORITY_KEYID(AUTHORITY_KEYID *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM BASIC_CONSTRAINTS_it;
MORVANE_EXPORT BASIC_CONSTRAINTS *BASIC_CONSTRAINTS_new(void);
MORVANE_EXPORT void BASIC_CONSTRAINTS_free(BASIC_CONSTRAINTS *a);
MORVANE_EXPORT BASIC_CONSTRAINTS *d2i_BASIC_CONSTRAINTS(BASIC_CONSTRAINTS **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_BASIC_CONSTRAINTS(BASIC_CONSTRAINTS *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM DIST_POINT_NAME_it;
MORVANE_EXPORT DIST_POINT_NAME *DIST_POINT_NAME_new(void);
MORVANE_EXPORT void DIST_POINT_NAME_free(DIST_POINT_NAME *a);
MORVANE_EXPORT DIST_POINT_NAME *d2i_DIST_POINT_NAME(DIST_POINT_NAME **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_DIST_POINT_NAME(DIST_POINT_NAME *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM DIST_POINT_it;
MORVANE_EXPORT DIST_POINT *DIST_POINT_new(void);
MORVANE_EXPORT void DIST_POINT_free(DIST_POINT *a);
MORVANE_EXPORT DIST_POINT *d2i_DIST_POINT(DIST_POINT **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_DIST_POINT(DIST_POINT *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM CRL_DIST_POINTS_it;
MORVANE_EXPORT CRL_DIST_POINTS *CRL_DIST_POINTS_new(void);
MORVANE_EXPORT void CRL_DIST_POINTS_free(CRL_DIST_POINTS *a);
MORVANE_EXPORT CRL_DIST_POINTS *d2i_CRL_DIST_POINTS(CRL_DIST_POINTS **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_CRL_DIST_POINTS(CRL_DIST_POINTS *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM ACCESS_DESCRIPTION_it;
MORVANE_EXPORT ACCESS_DESCRIPTION *ACCESS_DESCRIPTION_new(void);
MORVANE_EXPORT void ACCESS_DESCRIPTION_free(ACCESS_DESCRIPTION *a);
MORVANE_EXPORT ACCESS_DESCRIPTION *d2i_ACCESS_DESCRIPTION(ACCESS_DESCRIPTION **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_ACCESS_DESCRIPTION(ACCESS_DESCRIPTION *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM AUTHORITY_INFO_ACCESS_it;
MORVANE_EXPORT AUTHORITY_INFO_ACCESS *AUTHORITY_INFO_ACCESS_new(void);
MORVANE_EXPORT void AUTHORITY_INFO_ACCESS_free(AUTHORITY_INFO_ACCESS *a);
MORVANE_EXPORT AUTHORITY_INFO_ACCESS *d2i_AUTHORITY_INFO_ACCESS(AUTHORITY_INFO_ACCESS **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_AUTHORITY_INFO_ACCESS(AUTHORITY_INFO_ACCESS *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM GENERAL_SUBTREE_it;
MORVANE_EXPORT GENERAL_SUBTREE *GENERAL_SUBTREE_new(void);
MORVANE_EXPORT void GENERAL_SUBTREE_free(GENERAL_SUBTREE *a);
MORVANE_EXPORT extern const ASN1_ITEM NAME_CONSTRAINTS_it;
MORVANE_EXPORT NAME_CONSTRAINTS *NAME_CONSTRAINTS_new(void);
MORVANE_EXPORT void NAME_CONSTRAINTS_free(NAME_CONSTRAINTS *a);
MORVANE_EXPORT extern const ASN1_ITEM POLICY_CONSTRAINTS_it;
MORVANE_EXPORT POLICY_CONSTRAINTS *POLICY_CONSTRAINTS_new(void);
MORVANE_EXPORT void POLICY_CONSTRAINTS_free(POLICY_CONSTRAINTS *a);
MORVANE_EXPORT extern const ASN1_ITEM POLICY_MAPPING_it;
MORVANE_EXPORT POLICY_MAPPING *POLICY_MAPPING_new(void);
MORVANE_EXPORT void POLICY_MAPPING_free(POLICY_MAPPING *a);
MORVANE_EXPORT extern const ASN1_ITEM POLICY_MAPPINGS_it;
MORVANE_EXPORT extern const ASN1_ITEM EXTENDED_KEY_USAGE_it;
MORVANE_EXPORT EXTENDED_KEY_USAGE *EXTENDED_KEY_USAGE_new(void);
MORVANE_EXPORT void EXTENDED_KEY_USAGE_free(EXTENDED_KEY_USAGE *a);
MORVANE_EXPORT EXTENDED_KEY_USAGE *d2i_EXTENDED_KEY_USAGE(EXTENDED_KEY_USAGE **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_EXTENDED_KEY_USAGE(EXTENDED_KEY_USAGE *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM CERTIFICATEPOLICIES_it;
MORVANE_EXPORT CERTIFICATEPOLICIES *CERTIFICATEPOLICIES_new(void);
MORVANE_EXPORT void CERTIFICATEPOLICIES_free(CERTIFICATEPOLICIES *a);
MORVANE_EXPORT CERTIFICATEPOLICIES *d2i_CERTIFICATEPOLICIES(CERTIFICATEPOLICIES **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_CERTIFICATEPOLICIES(CERTIFICATEPOLICIES *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM POLICYINFO_it;
MORVANE_EXPORT POLICYINFO *POLICYINFO_new(void);
MORVANE_EXPORT void POLICYINFO_free(POLICYINFO *a);
MORVANE_EXPORT POLICYINFO *d2i_POLICYINFO(POLICYINFO **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_POLICYINFO(POLICYINFO *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM POLICYQUALINFO_it;
MORVANE_EXPORT POLICYQUALINFO *POLICYQUALINFO_new(void);
MORVANE_EXPORT void POLICYQUALINFO_free(POLICYQUALINFO *a);
MORVANE_EXPORT POLICYQUALINFO *d2i_POLICYQUALINFO(POLICYQUALINFO **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_POLICYQUALINFO(POLICYQUALINFO *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM USERNOTICE_it;
MORVANE_EXPORT USERNOTICE *USERNOTICE_new(void);
MORVANE_EXPORT void USERNOTICE_free(USERNOTICE *a);
MORVANE_EXPORT USERNOTICE *d2i_USERNOTICE(USERNOTICE **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_USERNOTICE(USERNOTICE *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM NOTICEREF_it;
MORVANE_EXPORT NOTICEREF *NOTICEREF_new(void);
MORVANE_EXPORT void NOTICEREF_free(NOTICEREF *a);
MORVANE_EXPORT NOTICEREF *d2i_NOTICEREF(NOTICEREF **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_NOTICEREF(NOTICEREF *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM PKEY_USAGE_PERIOD_it;
MORVANE_EXPORT PKEY_USAGE_PERIOD *PKEY_USAGE_PERIOD_new(void);
MORVANE_EXPORT void PKEY_USAGE_PERIOD_free(PKEY_USAGE_PERIOD *a);
MORVANE_EXPORT PKEY_USAGE_PERIOD *d2i_PKEY_USAGE_PERIOD(PKEY_USAGE_PERIOD **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_PKEY_USAGE_PERIOD(PKEY_USAGE_PERIOD *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM SXNETID_it;
MORVANE_EXPORT SXNETID *SXNETID_new(void);
MORVANE_EXPORT void SXNETID_free(SXNETID *a);
MORVANE_EXPORT SXNETID *d2i_SXNETID(SXNETID **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_SXNETID(SXNETID *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM SXNET_it;
MORVANE_EXPORT SXNET *SXNET_new(void);
MORVANE_EXPORT void SXNET_free(SXNET *a);
MORVANE_EXPORT SXNET *d2i_SXNET(SXNET **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_SXNET(SXNET *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM PROXY_POLICY_it;
MORVANE_EXPORT PROXY_POLICY *PROXY_POLICY_new(void);
MORVANE_EXPORT void PROXY_POLICY_free(PROXY_POLICY *a);
MORVANE_EXPORT PROXY_POLICY *d2i_PROXY_POLICY(PROXY_POLICY **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_PROXY_POLICY(PROXY_POLICY *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM PROXY_CERT_INFO_EXTENSION_it;
MORVANE_EXPORT PROXY_CERT_INFO_EXTENSION *PROXY_CERT_INFO_EXTENSION_new(void);
MORVANE_EXPORT void PROXY_CERT_INFO_EXTENSION_free(PROXY_CERT_INFO_EXTENSION *a);
MORVANE_EXPORT PROXY_CERT_INFO_EXTENSION *d2i_PROXY_CERT_INFO_EXTENSION(PROXY_CERT_INFO_EXTENSION **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_PROXY_CERT_INFO_EXTENSION(PROXY_CERT_INFO_EXTENSION *a, unsigned char **out);
/* END ITEMS */

/* Registers the texts of library 34 (ERR_LIB_X509V3) unless they are registered
 * already. */
MORVANE_EXPORT void ERR_load_X509V3_strings(void);

/* BEGIN ERROR CODES (generated by tools/gen_errors.py) */
/* Function codes of library 34 (X509V3). */
#define X509V3_F_S2I_ASN1_IA5STRING 100
#define X509V3_F_V2I_ASN1_BIT_STRING 101
#define X509V3_F_V2I_BASIC_CONSTRAINTS 102
#define X509V3_F_V2I_EXTENDED_KEY_USAGE 103
#define X509V3_F_X509V3_EXT_ADD 104
#define X509V3_F_X509V3_ADD_VALUE 105
#define X509V3_F_X509V3_EXT_ADD_ALIAS 106
#define X509V3_F_X509V3_EXT_CONF 107
#define X509V3_F_S2I_ASN1_INTEGER 108
#define X509V3_F_X509V3_PARSE_LIST 109
#define X509V3_F_X509V3_GET_VALUE_BOOL 110
#define X509V3_F_HEX_TO_STRING 111
#define X509V3_F_S2I_ASN1_OCTET_STRING 112
#define X509V3_F_STRING_TO_HEX 113
#define X509V3_F_S2I_ASN1_SKEY_ID 114
#define X509V3_F_S2I_SKEY_ID 115
#define X509V3_F_V3_GENERIC_EXTENSION 116
#define X509V3_F_V2I_GENERAL_NAME_EX 117
#define X509V3_F_V2I_GENERAL_NAMES 118
#define X509V3_F_V2I_AUTHORITY_KEYID 119
#define X509V3_F_I2S_ASN1_INTEGER 120
#define X509V3_F_I2S_ASN1_ENUMERATED 121
#define X509V3_F_COPY_EMAIL 122
#define X509V3_F_COPY_ISSUER 123
#define X509V3_F_DO_EXT_CONF 124
#define X509V3_F_SXNET_ADD_ID_ASC 125
#define X509V3_F_SXNET_ADD_ID_INTEGER 126
#define X509V3_F_SXNET_ADD_ID_ULONG 127
#define X509V3_F_SXNET_GET_ID_ASC 128
#define X509V3_F_SXNET_GET_ID_ULONG 129
#define X509V3_F_R2I_CERTPOL 130
#define X509V3_F_POLICY_SECTION 131
#define X509V3_F_NOTICE_SECTION 132
#define X509V3_F_NREF_NOS 133
#define X509V3_F_V2I_CRLD 134
#define X509V3_F_DO_EXT_I2D 135
#define X509V3_F_X509V3_EXT_I2D 136
#define X509V3_F_X509_PURPOSE_ADD 137
#define X509V3_F_I2V_AUTHORITY_INFO_ACCESS 138
#define X509V3_F_V2I_AUTHORITY_INFO_ACCESS 139
#define X509V3_F_X509V3_ADD1_I2D 140
#define X509V3_F_X509_PURPOSE_SET 141
#define X509V3_F_X509V3_GET_SECTION 142
#define X509V3_F_X509V3_GET_STRING 143
#define X509V3_F_DO_DIRNAME 144
#define X509V3_F_V2I_POLICY_MAPPINGS 145
#define X509V3_F_V2I_POLICY_CONSTRAINTS 146
#define X509V3_F_V2I_NAME_CONSTRAINTS 147
#define X509V3_F_DO_I2V_NAME_CONSTRAINTS 148
#define X509V3_F_I2S_ASN1_IA5STRING 149
#define X509V3_F_PROCESS_PCI_VALUE 150
#define X509V3_F_DO_EXT_NCONF 151
#define X509V3_F_X509V3_EXT_NCONF 152
#define X509V3_F_V2I_ISSUER_ALT 153
#define X509V3_F_V2I_SUBJECT_ALT 154
#define X509V3_F_R2I_PCI 155
#define X509V3_F_ASIDENTIFIERCHOICE_CANONIZE 156
#define X509V3_F_ASIDENTIFIERCHOICE_IS_CANONICAL 157
#define X509V3_F_V2I_ASIDENTIFIERS 158
#define X509V3_F_V2I_IPADDRBLOCKS 159
#define X509V3_F_V3_ADDR_VALIDATE_PATH_INTERNAL 160
#define X509V3_F_X509V3_EXT_D2I 161
/* Reason codes of library 34 (X509V3). */
#define X509V3_R_BN_DEC2BN_ERROR 100
#define X509V3_R_BN_TO_ASN1_INTEGER_ERROR 101
#define X509V3_R_EXTENSION_NOT_FOUND 102
#define X509V3_R_EXTENSION_SETTING_NOT_SUPPORTED 103
#define X509V3_R_INVALID_BOOLEAN_STRING 104
#define X509V3_R_INVALID_EXTENSION_STRING 105
#define X509V3_R_INVALID_NAME 106
#define X509V3_R_INVALID_NULL_ARGUMENT 107
#define X509V3_R_INVALID_NULL_NAME 108
#define X509V3_R_INVALID_NULL_VALUE 109
#define X509V3_R_INVALID_OBJECT_IDENTIFIER 110
#define X509V3_R_UNKNOWN_BIT_STRING_ARGUMENT 111
#define X509V3_R_ODD_NUMBER_OF_DIGITS 112
#define X509V3_R_ILLEGAL_HEX_DIGIT 113
#define X509V3_R_NO_PUBLIC_KEY 114
#define X509V3_R_EXTENSION_NAME_ERROR 115
#define X509V3_R_EXTENSION_VALUE_ERROR 116
#define X509V3_R_UNSUPPORTED_OPTION 117
#define X509V3_R_BAD_IP_ADDRESS 118
#define X509V3_R_BAD_OBJECT 119
#define X509V3_R_UNKNOWN_OPTION 120
#define X509V3_R_NO_ISSUER_CERTIFICATE 121
#define X509V3_R_UNABLE_TO_GET_ISSUER_DETAILS 122
#define X509V3_R_UNABLE_TO_GET_ISSUER_KEYID 123
#define X509V3_R_MISSING_VALUE 124
#define X509V3_R_NO_SUBJECT_DETAILS 125
#define X509V3_R_ISSUER_DECODE_ERROR 126
#define X509V3_R_NO_ISSUER_DETAILS 127
#define X509V3_R_ERROR_IN_EXTENSION 128
#define X509V3_R_UNKNOWN_EXTENSION 129
#define X509V3_R_UNKNOWN_EXTENSION_NAME 130
#define X509V3_R_ERROR_CONVERTING_ZONE 131
#define X509V3_R_USER_TOO_LONG 132
#define X509V3_R_DUPLICATE_ZONE_ID 133
#define X509V3_R_INVALID_POLICY_IDENTIFIER 134
#define X509V3_R_INVALID_SECTION 135
#define X509V3_R_NO_CONFIG_DATABASE 136
#define X509V3_R_EXPECTED_A_SECTION_NAME 137
#define X509V3_R_INVALID_OPTION 138
#define X509V3_R_NO_POLICY_IDENTIFIER 139
#define X509V3_R_INVALID_NUMBER 140
#define X509V3_R_INVALID_NUMBERS 141
#define X509V3_R_NEED_ORGANIZATION_AND_NUMBERS 142
#define X509V3_R_INVALID_SYNTAX 143
#define X509V3_R_ERROR_CREATING_EXTENSION 144
#define X509V3_R_EXTENSION_EXISTS 145
#define X509V3_R_INVALID_PURPOSE 146
#define X509V3_R_OTHERNAME_ERROR 147
#define X509V3_R_OPERATION_NOT_DEFINED 148
#define X509V3_R_DIRNAME_ERROR 149
#define X509V3_R_SECTION_NOT_FOUND 150
#define X509V3_R_ILLEGAL_EMPTY_EXTENSION 151
#define X509V3_R_INCORRECT_POLICY_SYNTAX_TAG 152
#define X509V3_R_INVALID_PROXY_POLICY_SETTING 153
#define X509V3_R_NO_PROXY_CERT_POLICY_LANGUAGE_DEFINED 154
#define X509V3_R_POLICY_LANGUAGE_ALREADTY_DEFINED 155
#define X509V3_R_POLICY_PATH_LENGTH 156
#define X509V3_R_POLICY_PATH_LENGTH_ALREADTY_DEFINED 157
#define X509V3_R_POLICY_SYNTAX_NOT_CURRENTLY_SUPPORTED 158
#define X509V3_R_POLICY_WHEN_PROXY_LANGUAGE_REQUIRES_NO_POLICY 159
#define X509V3_R_INVALID_ASNUMBER 160
#define X509V3_R_INVALID_ASRANGE 161
#define X509V3_R_INVALID_INHERITANCE 162
#define X509V3_R_INVALID_IPADDRESS 163
#define X509V3_R_INVALID_SAFI 164
#define X509V3_R_PURPOSE_NAME_EXISTS 165
#define X509V3_R_INVALID_LENGTH 166
/* END ERROR CODES */

MORVANE_END_DECLS

#endif /* MORVANE_X509V3_H */
