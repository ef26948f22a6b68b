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
 * argument" or a null result. */
#ifndef MORVANE_PKCS12_H
#define MORVANE_PKCS12_H

#include <morvane/export.h>
#include <morvane/asn1.h>
#include <morvane/evp.h>
#include <morvane/types.h>
#include <morvane/x509.h>

MORVANE_BEGIN_DECLS

/* Registers the texts of library 35 (ERR_LIB_PKCS12) unless they are registered
 * already. */
MORVANE_EXPORT void ERR_load_PKCS12_strings(void);

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
 * 1, or 0 ("malloc failure", "invalid null argument"). */
MORVANE_EXPORT int PKCS12_key_gen_uni(unsigned char *pass, int passlen, unsigned char *salt,
                                      int saltlen, int id, int iter, int n, unsigned char *out,
                                      const EVP_MD *md_type);
/* As PKCS12_key_gen_uni from text: a null `pass` derives from no bytes,
 * otherwise the text is turned into a BMPString first. */
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
 * cipher context is set up for `en_de` (1 encrypt, 0 decrypt). */
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
/* END ERROR CODES */

MORVANE_END_DECLS

#endif /* MORVANE_PKCS12_H */
