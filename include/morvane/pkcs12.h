/* Morvane: PKCS#12.
 *
 * PKCS#12 files: key and certificate bags, their encryption and MAC.  Failing
 * calls queue errors of library 35 (ERR_LIB_PKCS12).
 *
 * Pass phrases are text (`pass`, `passlen`, -1 meaning "up to the
 * terminator") and enter the key derivation as a BMPString (asc2uni); a null
 * pass phrase is no bytes at all, which differs from the empty text "" (two
 * zero bytes).  Derived keys, IVs, BMPString copies and, where asked
 * (`zbuf`), plaintext DER are wiped before they are freed.
 *
 * Null arguments: a null pass phrase is allowed everywhere (as above); a
 * null salt with saltlen 0, a null `data`/`datalen`/`uni`/`unilen` output
 * pointer are allowed; any other null argument fails with "invalid null
 * argument" or a null result.  The d2i functions of the structures are
 * ASN1_item_d2i's (asn1.h): a null input pointer is refused with "passed a
 * null parameter". */
#ifndef MORVANE_PKCS12_H
#define MORVANE_PKCS12_H

#include <morvane/export.h>
#include <stdio.h>

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/evp.h>
#include <morvane/pkcs7.h>
#include <morvane/stack.h>
#include <morvane/types.h>
#include <morvane/x509.h>

MORVANE_BEGIN_DECLS

/* Registers the texts of library 35 (ERR_LIB_PKCS12) unless they are registered
 * already. */
MORVANE_EXPORT void ERR_load_PKCS12_strings(void);

/* ---- structures (RFC 7292, 4 and 4.2) --------------------------------------
 * PKCS12 is a PFX: version (3), the authenticated safes as PKCS#7 data whose
 * octets are the DER of PKCS12_AUTHSAFES (a SEQUENCE OF PKCS7, each safe
 * PKCS#7 data or encrypted data holding PKCS12_SAFEBAGS), and optional MAC
 * data.  A PKCS12_SAFEBAG's value is chosen by its type: keyBag (150)
 * PKCS8_PRIV_KEY_INFO, pkcs8ShroudedKeyBag (151) X509_SIG, certBag (152),
 * crlBag (153) and secretBag (154) PKCS12_BAGS, safeContentsBag (155) a
 * stack of PKCS12_SAFEBAG, anything else ANY.  PKCS12_BAGS holds
 * x509Certificate (158) and x509Crl (160) as OCTET STRINGs of their DER,
 * sdsiCertificate (159) as IA5String. */
typedef struct PKCS12_MAC_DATA_st {
  X509_SIG *dinfo;          /* digest algorithm and MAC value */
  ASN1_OCTET_STRING *salt;
  ASN1_INTEGER *iter;       /* null when absent: one iteration */
} PKCS12_MAC_DATA;

typedef struct PKCS12_st {
  ASN1_INTEGER *version;
  PKCS12_MAC_DATA *mac;     /* null when absent */
  PKCS7 *authsafes;
} PKCS12;

typedef struct PKCS12_BAGS_st {
  ASN1_OBJECT *type;
  union {
    ASN1_OCTET_STRING *x509cert;
    ASN1_OCTET_STRING *x509crl;
    ASN1_OCTET_STRING *octet;
    ASN1_IA5STRING *sdsicert;
    ASN1_TYPE *other;
  } value;
} PKCS12_BAGS;

typedef struct PKCS12_SAFEBAG_st {
  ASN1_OBJECT *type;
  union {
    PKCS12_BAGS *bag;
    PKCS8_PRIV_KEY_INFO *keybag;
    X509_SIG *shkeybag;
    STACK *safes;           /* of PKCS12_SAFEBAG */
    ASN1_TYPE *other;
  } value;
  STACK *attrib;            /* of X509_ATTRIBUTE; null when absent */
} PKCS12_SAFEBAG;

/* Identifier bytes of the key derivation (RFC 7292, B.3). */
#define PKCS12_KEY_ID 1
#define PKCS12_IV_ID 2
#define PKCS12_MAC_ID 3

/* Adds the six PKCS#12 password-based cipher rows (NIDs 144 to 149: SHA-1
 * with RC4-128, RC4-40, three-key and two-key triple DES, RC2-128 and
 * RC2-40) to the password-based-encryption table; the cipher registration
 * calls it. */
MORVANE_EXPORT void PKCS12_PBE_add(void);

/* The PKCS#12 key derivation (RFC 7292, B.2): writes `n` bytes derived from
 * the BMPString `pass` (passlen bytes), the salt, the identifier byte `id`
 * (PKCS12_KEY_ID, _IV_ID, _MAC_ID) and `iter` rounds of `md_type` to `out`.
 * 1, or 0 ("malloc failure", "invalid null argument", or "invalid length"
 * for a negative passlen, saltlen or n; PKCS12_key_gen_asc takes passlen -1
 * as the text's length). */
MORVANE_EXPORT int PKCS12_key_gen_uni(unsigned char *pass, int passlen, unsigned char *salt,
                                      int saltlen, int id, int iter, int n, unsigned char *out,
                                      const EVP_MD *md_type);
/* As PKCS12_key_gen_uni from text: a null `pass` derives from no bytes,
 * otherwise the text is turned into a BMPString first.  A passlen below -1
 * is refused, with or without text. */
MORVANE_EXPORT int PKCS12_key_gen_asc(const char *pass, int passlen, unsigned char *salt,
                                      int saltlen, int id, int iter, int n, unsigned char *out,
                                      const EVP_MD *md_type);
/* Text to BMPString: each byte c becomes 00 c, then two zero bytes end it.
 * Returns the new buffer (the caller frees it), also stored through `uni`
 * and its length through `unilen` when given; null on failure. */
MORVANE_EXPORT unsigned char *asc2uni(const char *asc, int asclen, unsigned char **uni,
                                      int *unilen);
/* BMPString to text: the low byte of each two-byte unit, then a terminator
 * (a BMPString that ends with a zero unit gives it its own place).  A new
 * buffer the caller frees, or null (an odd length is refused). */
MORVANE_EXPORT char *uni2asc(unsigned char *uni, int unilen);

/* The key and IV generator of the six PKCS#12 rows: `param` must be a
 * SEQUENCE holding PBEPARAM ("decode error"); key (id 1) and IV (id 2) are
 * derived with the parameter's salt and iterations (1 when absent) and the
 * cipher context is set up for `en_de` (1 encrypt, 0 decrypt).  A count
 * above PKCS5_MAX_FILE_ITER (evp.h), weighed by the digest, is refused with
 * "iteration count too large" before anything is derived. */
MORVANE_EXPORT int PKCS12_PBE_keyivgen(EVP_CIPHER_CTX *ctx, const char *pass, int passlen,
                                       ASN1_TYPE *param, const EVP_CIPHER *cipher,
                                       const EVP_MD *md, int en_de);
/* Encrypts (en_de 1) or decrypts (0) `inlen` bytes under the algorithm
 * identifier, with block padding.  Returns the output (the caller frees
 * it), also stored through `data` with its length through `datalen` when
 * given; null on failure ("pkcs12 algor cipherinit error", "pkcs12
 * cipherfinal error"), and then no output pointer is written. */
MORVANE_EXPORT unsigned char *PKCS12_pbe_crypt(X509_ALGOR *algor, const char *pass, int passlen,
                                               unsigned char *in, int inlen,
                                               unsigned char **data, int *datalen, int en_de);
/* Decrypts `oct` and decodes the plaintext as `it`: the new structure, or
 * null ("pkcs12 pbe crypt error", "decode error").  A non-zero `zbuf` wipes
 * the plaintext before it is freed. */
MORVANE_EXPORT void *PKCS12_item_decrypt_d2i(X509_ALGOR *algor, const ASN1_ITEM *it,
                                             const char *pass, int passlen,
                                             ASN1_OCTET_STRING *oct, int zbuf);
/* Encodes `obj` as `it` and encrypts the DER: a new OCTET STRING, or null
 * ("encode error", "encrypt error"). */
MORVANE_EXPORT ASN1_OCTET_STRING *PKCS12_item_i2d_encrypt(X509_ALGOR *algor, const ASN1_ITEM *it,
                                                          const char *pass, int passlen,
                                                          void *obj, int zbuf);

/* An encrypted PKCS#8 key (EncryptedPrivateKeyInfo, RFC 5208): with
 * `pbe_nid` not -1 under that row of the password-based-encryption table
 * (PBEPARAM: `iter` below 1 meaning 2048, saltlen 0 meaning 8 bytes, a null
 * salt drawn at random), with -1 under PBES2 with `cipher`.  A new X509_SIG,
 * or null ("ASN1 lib", "encrypt error"). */
MORVANE_EXPORT X509_SIG *PKCS8_encrypt(int pbe_nid, const EVP_CIPHER *cipher, const char *pass,
                                       int passlen, unsigned char *salt, int saltlen, int iter,
                                       PKCS8_PRIV_KEY_INFO *p8inf);
/* Decrypts an EncryptedPrivateKeyInfo: a new PKCS8_PRIV_KEY_INFO, or null. */
MORVANE_EXPORT PKCS8_PRIV_KEY_INFO *PKCS8_decrypt(X509_SIG *p8, const char *pass, int passlen);

/* ---- the MAC (RFC 7292, 5 and B.4) ---------------------------------------
 * PKCS12_gen_mac writes the HMAC, keyed by the derivation with id 3 over the
 * MAC data's salt and iterations (1 when absent) and digest (found by its
 * short name: "unknown digest algorithm"), of the authenticated safes'
 * content octets ("content type not data" unless they are PKCS#7 data).  A
 * stated count above PKCS5_MAX_FILE_ITER (evp.h), weighed by the digest,
 * is refused with "iteration count too large" before anything is derived, so
 * PKCS12_verify_mac fails with "mac generation error" after it (and a MAC
 * set up here with a larger count cannot be verified).
 * PKCS12_verify_mac is 1 only when the stored MAC matches; a wrong password
 * gives 0 with nothing queued, a PFX without MAC "mac absent".
 * PKCS12_setup_mac attaches new MAC data (replacing any): the iteration
 * count stored only when above 1, saltlen 0 meaning 8, a null salt drawn at
 * random, the digest's OID with a NULL parameter.  PKCS12_set_mac sets up
 * and stores the MAC (a null md_type means SHA-1). */
MORVANE_EXPORT int PKCS12_gen_mac(PKCS12 *p12, const char *pass, int passlen, unsigned char *mac,
                                  unsigned int *maclen);
MORVANE_EXPORT int PKCS12_verify_mac(PKCS12 *p12, const char *pass, int passlen);
MORVANE_EXPORT int PKCS12_setup_mac(PKCS12 *p12, int iter, unsigned char *salt, int saltlen,
                                    const EVP_MD *md_type);
MORVANE_EXPORT int PKCS12_set_mac(PKCS12 *p12, const char *pass, int passlen, unsigned char *salt,
                                  int saltlen, int iter, const EVP_MD *md_type);

/* ---- bags and safes --------------------------------------------------------
 * PKCS12_item_pack_safebag: a bag of type nid2 holding PKCS12_BAGS of type
 * nid1 with the DER of `obj`.  The certificate (158 in 152) and CRL (160 in
 * 153) forms, and back (null for a bag of another kind).
 * PKCS12_MAKE_KEYBAG takes `p8`; PKCS12_MAKE_SHKEYBAG encrypts it
 * (PKCS8_encrypt with `pbe_nid`) and leaves it with the caller.
 * Safes: PKCS#7 data holding the DER of the bag stack, or encrypted data
 * under a PKCS#5/PKCS#12 algorithm; the authenticated safes of a PFX are
 * PKCS#7 data holding the DER of the safe stack ("content type not data"
 * when they are not).  The unpack calls return new stacks the caller frees
 * with their elements. */
MORVANE_EXPORT PKCS12_SAFEBAG *PKCS12_item_pack_safebag(void *obj, const ASN1_ITEM *it, int nid1,
                                                        int nid2);
MORVANE_EXPORT PKCS12_SAFEBAG *PKCS12_x5092certbag(X509 *x509);
MORVANE_EXPORT PKCS12_SAFEBAG *PKCS12_x509crl2certbag(X509_CRL *crl);
MORVANE_EXPORT X509 *PKCS12_certbag2x509(PKCS12_SAFEBAG *bag);
MORVANE_EXPORT X509_CRL *PKCS12_certbag2x509crl(PKCS12_SAFEBAG *bag);
MORVANE_EXPORT PKCS12_SAFEBAG *PKCS12_MAKE_KEYBAG(PKCS8_PRIV_KEY_INFO *p8);
MORVANE_EXPORT PKCS12_SAFEBAG *PKCS12_MAKE_SHKEYBAG(int pbe_nid, const char *pass, int passlen,
                                                    unsigned char *salt, int saltlen, int iter,
                                                    PKCS8_PRIV_KEY_INFO *p8);
MORVANE_EXPORT PKCS8_PRIV_KEY_INFO *PKCS12_decrypt_skey(PKCS12_SAFEBAG *bag, const char *pass,
                                                        int passlen);
MORVANE_EXPORT PKCS7 *PKCS12_pack_p7data(STACK *bags);
MORVANE_EXPORT STACK *PKCS12_unpack_p7data(PKCS7 *p7);
MORVANE_EXPORT PKCS7 *PKCS12_pack_p7encdata(int pbe_nid, const char *pass, int passlen,
                                            unsigned char *salt, int saltlen, int iter,
                                            STACK *bags);
MORVANE_EXPORT STACK *PKCS12_unpack_p7encdata(PKCS7 *p7, const char *pass, int passlen);
MORVANE_EXPORT int PKCS12_pack_authsafes(PKCS12 *p12, STACK *safes);
MORVANE_EXPORT STACK *PKCS12_unpack_authsafes(PKCS12 *p12);

/* ---- attributes ------------------------------------------------------------
 * localKeyID as OCTET STRING bytes, friendlyName and CSPName from text (or
 * BMPString bytes) stored as BMPStrings; PKCS8_add_keyusage adds keyUsage as
 * a one-byte BIT STRING (the low 8 bits of `usage`).  1 or 0.  The _asc forms
 * take namelen -1 as the text's length; any other negative length is
 * refused ("invalid length").
 * PKCS12_get_attr_gen lends the first value of the first attribute with
 * that NID, or null; PKCS12_get_friendlyname returns it as new text (the
 * caller frees it), null unless it is a BMPString. */
MORVANE_EXPORT int PKCS12_add_localkeyid(PKCS12_SAFEBAG *bag, unsigned char *name, int namelen);
MORVANE_EXPORT int PKCS12_add_friendlyname_asc(PKCS12_SAFEBAG *bag, const char *name,
                                               int namelen);
MORVANE_EXPORT int PKCS12_add_friendlyname_uni(PKCS12_SAFEBAG *bag, const unsigned char *name,
                                               int namelen);
MORVANE_EXPORT int PKCS12_add_CSPName_asc(PKCS12_SAFEBAG *bag, const char *name, int namelen);
MORVANE_EXPORT int PKCS8_add_keyusage(PKCS8_PRIV_KEY_INFO *p8, int usage);
MORVANE_EXPORT ASN1_TYPE *PKCS12_get_attr_gen(STACK *attrs, int attr_nid);
MORVANE_EXPORT char *PKCS12_get_friendlyname(PKCS12_SAFEBAG *bag);

/* ---- building and reading a PFX ----------------------------------------------
 * PKCS12_init: a PFX of version 3 with empty authenticated safes; only mode
 * 21 (PKCS#7 data) is accepted ("unsupported pkcs12 mode").
 * PKCS12_add_cert / PKCS12_add_key: a bag (the certificate's alias and key
 * identifier become friendlyName and localKeyID; the key plain with nid_key
 * -1, else shrouded with that algorithm) appended to *pbags (made when
 * null; a null pbags only builds the bag).  PKCS12_add_safe packs the bags
 * as plain data (nid_safe -1) or encrypted (0 meaning PBE-SHA1-RC2-40, a
 * fresh 8-byte salt) onto *psafes; PKCS12_add_safes makes a PFX of them.
 * PKCS12_create: defaults nid_cert 0 PBE-SHA1-RC2-40, nid_key 0
 * PBE-SHA1-3DES, iter 0 2048, mac_iter 0 one iteration, mac_iter -1 no MAC;
 * certificate and key share the certificate's SHA-1 as localKeyID and
 * `name` as friendlyName; null when the key does not match the certificate
 * or anything fails.
 * PKCS12_parse: the key (the first key bag), its certificate and the other
 * certificates in file order (appended to *ca, made when null), whatever
 * the order of the bags.  The key's certificate is the first with the key's
 * localKeyID and the key's public key or, for a key without localKeyID, the
 * first with the key's public key: a certificate of another key is never
 * paired with it, whatever localKeyID it carries.  With no such certificate
 * *cert is null (and every certificate goes to *ca).  When the key is not
 * asked for, a key that does not decrypt or decode fails nothing, and no
 * certificate is paired then.  A file without a key gives
 * as *cert the first certificate carrying a localKeyID.  A null or empty
 * pass phrase is tried as both forms.  0 with "mac verify failure",
 * "parse error" or "malloc failure" (also when memory runs short while the
 * key is compared with a certificate's), and then nothing is handed out and
 * a stack the caller gave holds what it held before.
 * PKCS12_newpass re-encrypts the safes and shrouded keys and the MAC under
 * `newpass` (a shrouded key under PBES2 again under PBES2 with its cipher
 * and key length; a safe under PBES2 is refused with "unsupported
 * encryption algorithm"); on failure the PFX is left as it was.
 * Both spend at most three counts at PKCS5_MAX_FILE_ITER (evp.h) over the
 * whole file: the MAC, every encrypted safe and every shrouded key (the
 * parse decrypts the first key only), each count weighed by its digest's
 * cost as the single-count bound weighs it (an MD2 iteration as 71 of
 * SHA-1).  Every file PKCS12_create writes is within it (its MAC,
 * certificate safe and key each within the single-count bound), also when
 * PKCS12_parse tries a null or empty pass phrase in both forms, each with
 * its own MAC computation.  A file whose counts add up to more fails with
 * "iteration budget exceeded" alone, before the work past it starts:
 * PKCS12_newpass draws the keys of the encrypted safes once those are
 * decrypted, before any key is. */
MORVANE_EXPORT PKCS12 *PKCS12_init(int mode);
MORVANE_EXPORT PKCS12_SAFEBAG *PKCS12_add_cert(STACK **pbags, X509 *cert);
MORVANE_EXPORT PKCS12_SAFEBAG *PKCS12_add_key(STACK **pbags, EVP_PKEY *key, int key_usage,
                                              int iter, int nid_key, char *pass);
MORVANE_EXPORT int PKCS12_add_safe(STACK **psafes, STACK *bags, int nid_safe, int iter,
                                   char *pass);
MORVANE_EXPORT PKCS12 *PKCS12_add_safes(STACK *safes, int nid_p7);
MORVANE_EXPORT PKCS12 *PKCS12_create(char *pass, char *name, EVP_PKEY *pkey, X509 *cert,
                                     STACK *ca, int nid_key, int nid_cert, int iter,
                                     int mac_iter, int keytype);
MORVANE_EXPORT int PKCS12_parse(PKCS12 *p12, const char *pass, EVP_PKEY **pkey, X509 **cert,
                                STACK **ca);
MORVANE_EXPORT int PKCS12_newpass(PKCS12 *p12, char *oldpass, char *newpass);

/* PFX files through streams and stdio (DER). */
MORVANE_EXPORT PKCS12 *d2i_PKCS12_bio(BIO *bp, PKCS12 **p12);
MORVANE_EXPORT PKCS12 *d2i_PKCS12_fp(FILE *fp, PKCS12 **p12);
MORVANE_EXPORT int i2d_PKCS12_bio(BIO *bp, PKCS12 *p12);
MORVANE_EXPORT int i2d_PKCS12_fp(FILE *fp, PKCS12 *p12);

/* The structures' items and functions follow (generated block);
 * PKCS12_SAFEBAGS_it and PKCS12_AUTHSAFES_it encode a stack of bags and a
 * stack of safes. */
/* BEGIN ITEMS (generated by tools/gen_asn1_items.py) */
MORVANE_EXPORT extern const ASN1_ITEM PKCS12_it;
MORVANE_EXPORT PKCS12 *PKCS12_new(void);
MORVANE_EXPORT void PKCS12_free(PKCS12 *a);
MORVANE_EXPORT PKCS12 *d2i_PKCS12(PKCS12 **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_PKCS12(PKCS12 *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM PKCS12_MAC_DATA_it;
MORVANE_EXPORT PKCS12_MAC_DATA *PKCS12_MAC_DATA_new(void);
MORVANE_EXPORT void PKCS12_MAC_DATA_free(PKCS12_MAC_DATA *a);
MORVANE_EXPORT PKCS12_MAC_DATA *d2i_PKCS12_MAC_DATA(PKCS12_MAC_DATA **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_PKCS12_MAC_DATA(PKCS12_MAC_DATA *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM PKCS12_BAGS_it;
MORVANE_EXPORT PKCS12_BAGS *PKCS12_BAGS_new(void);
MORVANE_EXPORT void PKCS12_BAGS_free(PKCS12_BAGS *a);
MORVANE_EXPORT PKCS12_BAGS *d2i_PKCS12_BAGS(PKCS12_BAGS **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_PKCS12_BAGS(PKCS12_BAGS *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM PKCS12_SAFEBAG_it;
MORVANE_EXPORT PKCS12_SAFEBAG *PKCS12_SAFEBAG_new(void);
MORVANE_EXPORT void PKCS12_SAFEBAG_free(PKCS12_SAFEBAG *a);
MORVANE_EXPORT PKCS12_SAFEBAG *d2i_PKCS12_SAFEBAG(PKCS12_SAFEBAG **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_PKCS12_SAFEBAG(PKCS12_SAFEBAG *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM PKCS12_SAFEBAGS_it;
MORVANE_EXPORT extern const ASN1_ITEM PKCS12_AUTHSAFES_it;
/* END ITEMS */

/* BEGIN ERROR CODES (generated by tools/gen_errors.py) */
/* Function codes of library 35 (PKCS12). */
#define PKCS12_F_PKCS12_ADD_FRIENDLYNAME 100
#define PKCS12_F_PKCS12_ADD_FRIENDLYNAME_UNI 102
#define PKCS12_F_PARSE_BAGS 103
#define PKCS12_F_PKCS12_ADD_LOCALKEYID 104
#define PKCS12_F_PKCS12_CREATE 105
#define PKCS12_F_PKCS12_ITEM_DECRYPT_D2I 106
#define PKCS12_F_PKCS12_GEN_MAC 107
#define PKCS12_F_PKCS12_ITEM_I2D_ENCRYPT 108
#define PKCS12_F_PKCS12_INIT 109
#define PKCS12_F_PKCS12_KEY_GEN_ASC 110
#define PKCS12_F_PKCS12_KEY_GEN_UNI 111
#define PKCS12_F_PKCS12_MAKE_KEYBAG 112
#define PKCS12_F_PKCS12_MAKE_SHKEYBAG 113
#define PKCS12_F_PKCS12_PACK_P7DATA 114
#define PKCS12_F_PKCS12_PACK_P7ENCDATA 115
#define PKCS12_F_PKCS12_ITEM_PACK_SAFEBAG 117
#define PKCS12_F_PKCS12_PARSE 118
#define PKCS12_F_PKCS12_PBE_CRYPT 119
#define PKCS12_F_PKCS12_PBE_KEYIVGEN 120
#define PKCS12_F_PKCS12_SETUP_MAC 122
#define PKCS12_F_PKCS12_SET_MAC 123
#define PKCS12_F_PKCS8_ADD_KEYUSAGE 124
#define PKCS12_F_PKCS8_ENCRYPT 125
#define PKCS12_F_PKCS12_VERIFY_MAC 126
#define PKCS12_F_PKCS12_ADD_FRIENDLYNAME_ASC 127
#define PKCS12_F_PKCS12_NEWPASS 128
#define PKCS12_F_PARSE_BAG 129
#define PKCS12_F_PKCS12_UNPACK_AUTHSAFES 130
#define PKCS12_F_PKCS12_UNPACK_P7DATA 131
#define PKCS12_F_PKCS12_ADD_CSPNAME_ASC 132
#define PKCS12_F_PKCS12_ADD_CERT 133
#define PKCS12_F_PKCS12_ADD_KEY 134
#define PKCS12_F_PKCS12_ADD_SAFE 135
/* Reason codes of library 35 (PKCS12). */
#define PKCS12_R_CANT_PACK_STRUCTURE 100
#define PKCS12_R_DECODE_ERROR 101
#define PKCS12_R_ENCODE_ERROR 102
#define PKCS12_R_ENCRYPT_ERROR 103
#define PKCS12_R_INVALID_NULL_ARGUMENT 104
#define PKCS12_R_INVALID_NULL_PKCS12_POINTER 105
#define PKCS12_R_IV_GEN_ERROR 106
#define PKCS12_R_KEY_GEN_ERROR 107
#define PKCS12_R_MAC_ABSENT 108
#define PKCS12_R_MAC_GENERATION_ERROR 109
#define PKCS12_R_MAC_SETUP_ERROR 110
#define PKCS12_R_MAC_STRING_SET_ERROR 111
#define PKCS12_R_MAC_VERIFY_ERROR 112
#define PKCS12_R_MAC_VERIFY_FAILURE 113
#define PKCS12_R_PARSE_ERROR 114
#define PKCS12_R_PKCS12_ALGOR_CIPHERINIT_ERROR 115
#define PKCS12_R_PKCS12_CIPHERFINAL_ERROR 116
#define PKCS12_R_PKCS12_PBE_CRYPT_ERROR 117
#define PKCS12_R_UNKNOWN_DIGEST_ALGORITHM 118
#define PKCS12_R_UNSUPPORTED_PKCS12_MODE 119
#define PKCS12_R_ERROR_SETTING_ENCRYPTED_DATA_TYPE 120
#define PKCS12_R_CONTENT_TYPE_NOT_DATA 121
#define PKCS12_R_INVALID_LENGTH 122
#define PKCS12_R_ITERATION_COUNT_TOO_LARGE 123
#define PKCS12_R_UNSUPPORTED_ENCRYPTION_ALGORITHM 124
#define PKCS12_R_ITERATION_BUDGET_EXCEEDED 125
/* END ERROR CODES */

MORVANE_END_DECLS

#endif /* MORVANE_PKCS12_H */
