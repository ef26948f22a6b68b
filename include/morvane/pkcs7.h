/* Morvane: PKCS#7.
 *
 * PKCS#7 (RFC 2315) messages: the records of signed, enveloped,
 * signed-and-enveloped, digested and encrypted content with their DER codecs,
 * the calls that build a message, the data engine that streams content
 * through a message (PKCS7_dataInit / PKCS7_dataFinal to produce,
 * PKCS7_dataDecode / PKCS7_signatureVerify to consume), and the S/MIME
 * calls (PKCS7_sign, PKCS7_verify, PKCS7_encrypt, PKCS7_decrypt and the MIME
 * reader and writer).  Failing calls queue errors of library 33
 * (ERR_LIB_PKCS7).  Content types, attributes and algorithms are named by
 * NID: data 21, signed 22, enveloped 23, signed-and-enveloped 24, digested
 * 25, encrypted 26 (any other NID is an "other" content held as ASN1_TYPE).
 *
 * Ownership: a PKCS7 owns its inner record and the stacks in it.
 * Certificates, revocation lists, the signer's key and the recipient's
 * certificate added to a message are counted references.  `cipher` points at
 * a static cipher description.
 *
 * PKCS7_verify reads the message and writes nothing in it: with the locking
 * callbacks set up, several threads may verify one decoded message at once.
 * PKCS7_verify writes the content to `out` before it checks the signatures,
 * and PKCS7_decrypt writes what it decrypts to `data` as it goes: when it
 * fails (the last block does not decrypt, a write or an allocation fails)
 * part of the content, or all of it, may have been written already.  A
 * caller of either must discard what was written when the call returns 0.
 *
 * An RSA-encrypted content key that does not open to a key of the cipher's
 * length is replaced by a substitute key (RFC 3218, 2.3.2), so a bad key
 * block and a good one over damaged content fail alike, when the content is
 * read ("decrypt error" alone from PKCS7_decrypt), and tell a party that
 * submits chosen ciphertexts nothing about their padding.  The substitute is
 * derived from the key blocks tried and the private key (an HMAC keyed by
 * the private exponent), so one message gives one result however often it
 * is submitted.  The same holds for a key that opens no recipient: without
 * the recipient's certificate it shows only as content that does not
 * decrypt (with a block cipher's padding, about one message in 256 passes
 * the check as garbage; a caller that holds several keys gives the
 * certificate).  Only the block's own faults count as a block that does not
 * open (the RSA layer's padding check, a block too large for the key): a
 * decryption that fails otherwise (out of memory, above all) fails the call
 * with that layer's reasons and "EVP lib".  A CBC or CFB cipher whose
 * parameters carry no IV is refused ("missing cipher iv"), and PKCS7_encrypt
 * fails when it cannot write the IV.
 *
 * Null arguments: a null PKCS7 (p7) is refused by PKCS7_verify,
 * PKCS7_get0_signers and PKCS7_decrypt with "invalid null pointer"; every
 * other call needs a valid message, signer or recipient record.  May be
 * null: `certs` (PKCS7_sign, PKCS7_verify, PKCS7_get0_signers), `indata` and
 * `out` (PKCS7_verify), `cert` (PKCS7_decrypt), `bio` (PKCS7_dataInit),
 * `in_bio` and `pcert` (PKCS7_dataDecode), `data` (SMIME_write_PKCS7), `bcont`
 * (SMIME_read_PKCS7), `sk` of PKCS7_digest_from_attributes and of
 * PKCS7_set_signed_attributes / PKCS7_set_attributes (an empty list), and
 * `pkey` of PKCS7_dataDecode for the types without recipients (an enveloped
 * type with a null key fails with "passed a null parameter"). */
#ifndef MORVANE_PKCS7_H
#define MORVANE_PKCS7_H

#include <stdio.h>

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/evp.h>
#include <morvane/export.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/types.h>
#include <morvane/x509.h>

MORVANE_BEGIN_DECLS

/* ---- records ------------------------------------------------------------ */

typedef struct pkcs7_issuer_and_serial_st {
  X509_NAME *issuer;
  ASN1_INTEGER *serial;
} PKCS7_ISSUER_AND_SERIAL;

typedef struct pkcs7_signer_info_st {
  ASN1_INTEGER *version;
  PKCS7_ISSUER_AND_SERIAL *issuer_and_serial;
  X509_ALGOR *digest_alg;
  STACK *auth_attr; /* of X509_ATTRIBUTE: the signed attributes, or null */
  X509_ALGOR *digest_enc_alg;
  ASN1_OCTET_STRING *enc_digest;
  STACK *unauth_attr; /* of X509_ATTRIBUTE, or null */
  EVP_PKEY *pkey;     /* not encoded: the signing key (a reference), or null */
} PKCS7_SIGNER_INFO;

typedef struct pkcs7_recip_info_st {
  ASN1_INTEGER *version;
  PKCS7_ISSUER_AND_SERIAL *issuer_and_serial;
  X509_ALGOR *key_enc_algor;
  ASN1_OCTET_STRING *enc_key;
  X509 *cert; /* not encoded: the recipient (a reference), or null */
} PKCS7_RECIP_INFO;

typedef struct pkcs7_st PKCS7;

typedef struct pkcs7_signed_st {
  ASN1_INTEGER *version;
  STACK *md_algs;     /* of X509_ALGOR, one per digest NID */
  STACK *cert;        /* of X509, or null */
  STACK *crl;         /* of X509_CRL, or null */
  STACK *signer_info; /* of PKCS7_SIGNER_INFO */
  PKCS7 *contents;
} PKCS7_SIGNED;

typedef struct pkcs7_enc_content_st {
  ASN1_OBJECT *content_type;
  X509_ALGOR *algorithm;
  ASN1_OCTET_STRING *enc_data; /* or null */
  const EVP_CIPHER *cipher;    /* not encoded: the cipher chosen, or null */
} PKCS7_ENC_CONTENT;

typedef struct pkcs7_enveloped_st {
  ASN1_INTEGER *version;
  STACK *recipientinfo; /* of PKCS7_RECIP_INFO */
  PKCS7_ENC_CONTENT *enc_data;
} PKCS7_ENVELOPE;

/* The first five fields are those of PKCS7_SIGNED, in the same order. */
typedef struct pkcs7_signedandenveloped_st {
  ASN1_INTEGER *version;
  STACK *md_algs;
  STACK *cert;
  STACK *crl;
  STACK *signer_info;
  PKCS7_ENC_CONTENT *enc_data;
  STACK *recipientinfo;
} PKCS7_SIGN_ENVELOPE;

typedef struct pkcs7_digest_st {
  ASN1_INTEGER *version;
  X509_ALGOR *md;
  PKCS7 *contents;
  ASN1_OCTET_STRING *digest;
} PKCS7_DIGEST;

typedef struct pkcs7_encrypted_st {
  ASN1_INTEGER *version;
  PKCS7_ENC_CONTENT *enc_data;
} PKCS7_ENCRYPT;

struct pkcs7_st {
  unsigned char *asn1; /* unused */
  long length;         /* unused */
  int state;           /* set to 0 by the data engine */
  int detached;        /* 1: the content of signed data travels apart */
  ASN1_OBJECT *type;   /* the content type; selects the member of d */
  union {
    char *ptr;
    ASN1_OCTET_STRING *data;                    /* 21 */
    PKCS7_SIGNED *sign;                         /* 22 */
    PKCS7_ENVELOPE *enveloped;                  /* 23 */
    PKCS7_SIGN_ENVELOPE *signed_and_enveloped;  /* 24 */
    PKCS7_DIGEST *digest;                       /* 25 */
    PKCS7_ENCRYPT *encrypted;                   /* 26 */
    ASN1_TYPE *other;                           /* any other type */
  } d;
};

/* The content type of a message, by NID. */
#define PKCS7_type_is_data(a) (OBJ_obj2nid((a)->type) == 21)
#define PKCS7_type_is_signed(a) (OBJ_obj2nid((a)->type) == 22)
#define PKCS7_type_is_enveloped(a) (OBJ_obj2nid((a)->type) == 23)
#define PKCS7_type_is_signedAndEnveloped(a) (OBJ_obj2nid((a)->type) == 24)
#define PKCS7_type_is_digest(a) (OBJ_obj2nid((a)->type) == 25)
#define PKCS7_type_is_encrypted(a) (OBJ_obj2nid((a)->type) == 26)

/* ---- codecs --------------------------------------------------------------
 * The records' items and functions follow (generated block).  The content of
 * a PKCS7 is [0] EXPLICIT and OPTIONAL: a decoded message may lack its inner
 * record (d.ptr null), which every call treats as an absent record.  Signed
 * data writes its certificates in insertion order, signed-and-enveloped data
 * as a sorted SET OF.  PKCS7_ATTR_SIGN_it encodes an attribute stack as a
 * sorted SET OF and reorders the stack to match (what a signature covers);
 * PKCS7_ATTR_VERIFY_it encodes it in stack order under the SET tag.
 * i2d_PKCS7_NDEF writes the message in indefinite-length form; PKCS7_dup
 * copies by encoding and decoding. */
MORVANE_EXPORT int i2d_PKCS7_NDEF(PKCS7 *a, unsigned char **out);
/* BEGIN ITEMS (generated by tools/gen_asn1_items.py) */
MORVANE_EXPORT extern const ASN1_ITEM PKCS7_it;
MORVANE_EXPORT PKCS7 *PKCS7_new(void);
MORVANE_EXPORT void PKCS7_free(PKCS7 *a);
MORVANE_EXPORT PKCS7 *d2i_PKCS7(PKCS7 **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_PKCS7(PKCS7 *a, unsigned char **out);
MORVANE_EXPORT PKCS7 *PKCS7_dup(PKCS7 *a);
MORVANE_EXPORT extern const ASN1_ITEM PKCS7_SIGNED_it;
MORVANE_EXPORT PKCS7_SIGNED *PKCS7_SIGNED_new(void);
MORVANE_EXPORT void PKCS7_SIGNED_free(PKCS7_SIGNED *a);
MORVANE_EXPORT PKCS7_SIGNED *d2i_PKCS7_SIGNED(PKCS7_SIGNED **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_PKCS7_SIGNED(PKCS7_SIGNED *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM PKCS7_SIGNER_INFO_it;
MORVANE_EXPORT PKCS7_SIGNER_INFO *PKCS7_SIGNER_INFO_new(void);
MORVANE_EXPORT void PKCS7_SIGNER_INFO_free(PKCS7_SIGNER_INFO *a);
MORVANE_EXPORT PKCS7_SIGNER_INFO *d2i_PKCS7_SIGNER_INFO(PKCS7_SIGNER_INFO **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_PKCS7_SIGNER_INFO(PKCS7_SIGNER_INFO *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM PKCS7_ISSUER_AND_SERIAL_it;
MORVANE_EXPORT PKCS7_ISSUER_AND_SERIAL *PKCS7_ISSUER_AND_SERIAL_new(void);
MORVANE_EXPORT void PKCS7_ISSUER_AND_SERIAL_free(PKCS7_ISSUER_AND_SERIAL *a);
MORVANE_EXPORT PKCS7_ISSUER_AND_SERIAL *d2i_PKCS7_ISSUER_AND_SERIAL(PKCS7_ISSUER_AND_SERIAL **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_PKCS7_ISSUER_AND_SERIAL(PKCS7_ISSUER_AND_SERIAL *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM PKCS7_ENVELOPE_it;
MORVANE_EXPORT PKCS7_ENVELOPE *PKCS7_ENVELOPE_new(void);
MORVANE_EXPORT void PKCS7_ENVELOPE_free(PKCS7_ENVELOPE *a);
MORVANE_EXPORT PKCS7_ENVELOPE *d2i_PKCS7_ENVELOPE(PKCS7_ENVELOPE **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_PKCS7_ENVELOPE(PKCS7_ENVELOPE *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM PKCS7_RECIP_INFO_it;
MORVANE_EXPORT PKCS7_RECIP_INFO *PKCS7_RECIP_INFO_new(void);
MORVANE_EXPORT void PKCS7_RECIP_INFO_free(PKCS7_RECIP_INFO *a);
MORVANE_EXPORT PKCS7_RECIP_INFO *d2i_PKCS7_RECIP_INFO(PKCS7_RECIP_INFO **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_PKCS7_RECIP_INFO(PKCS7_RECIP_INFO *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM PKCS7_ENC_CONTENT_it;
MORVANE_EXPORT PKCS7_ENC_CONTENT *PKCS7_ENC_CONTENT_new(void);
MORVANE_EXPORT void PKCS7_ENC_CONTENT_free(PKCS7_ENC_CONTENT *a);
MORVANE_EXPORT PKCS7_ENC_CONTENT *d2i_PKCS7_ENC_CONTENT(PKCS7_ENC_CONTENT **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_PKCS7_ENC_CONTENT(PKCS7_ENC_CONTENT *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM PKCS7_SIGN_ENVELOPE_it;
MORVANE_EXPORT PKCS7_SIGN_ENVELOPE *PKCS7_SIGN_ENVELOPE_new(void);
MORVANE_EXPORT void PKCS7_SIGN_ENVELOPE_free(PKCS7_SIGN_ENVELOPE *a);
MORVANE_EXPORT PKCS7_SIGN_ENVELOPE *d2i_PKCS7_SIGN_ENVELOPE(PKCS7_SIGN_ENVELOPE **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_PKCS7_SIGN_ENVELOPE(PKCS7_SIGN_ENVELOPE *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM PKCS7_DIGEST_it;
MORVANE_EXPORT PKCS7_DIGEST *PKCS7_DIGEST_new(void);
MORVANE_EXPORT void PKCS7_DIGEST_free(PKCS7_DIGEST *a);
MORVANE_EXPORT PKCS7_DIGEST *d2i_PKCS7_DIGEST(PKCS7_DIGEST **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_PKCS7_DIGEST(PKCS7_DIGEST *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM PKCS7_ENCRYPT_it;
MORVANE_EXPORT PKCS7_ENCRYPT *PKCS7_ENCRYPT_new(void);
MORVANE_EXPORT void PKCS7_ENCRYPT_free(PKCS7_ENCRYPT *a);
MORVANE_EXPORT PKCS7_ENCRYPT *d2i_PKCS7_ENCRYPT(PKCS7_ENCRYPT **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_PKCS7_ENCRYPT(PKCS7_ENCRYPT *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM PKCS7_ATTR_SIGN_it;
MORVANE_EXPORT extern const ASN1_ITEM PKCS7_ATTR_VERIFY_it;
/* END ITEMS */

/* ---- construction --------------------------------------------------------
 * Results 1 success, 0 failure unless said otherwise.  PKCS7_set_type (for a
 * new, empty message) sets the content type 21..26 and makes its inner record
 * ("unsupported content type" otherwise); PKCS7_set0_type_other takes `other`
 * over.  PKCS7_set_content stores p7_data (taken over) as the inner content
 * of signed or digested data; PKCS7_content_new makes it of `type`.
 * PKCS7_ctrl: command 1 (PKCS7_CTRL_SET_DETACHED) sets `detached` from larg
 * and with larg non-zero drops inner data content; command 2
 * (PKCS7_CTRL_GET_DETACHED) sets and returns whether the content is absent;
 * signed data only.  The adders of signers, certificates, revocation lists
 * and recipients serve signed (22) / signed-and-enveloped (24) and enveloped
 * (23) / signed-and-enveloped data ("wrong content type" otherwise);
 * records are taken over, certificates, revocation lists and keys
 * referenced.  PKCS7_add_signature and PKCS7_add_recipient return the new
 * record, owned by the message.  A DSA or EC signer always digests with
 * SHA-1.  PKCS7_set_cipher refuses a cipher without object identifier. */
#define PKCS7_CTRL_SET_DETACHED 1
#define PKCS7_CTRL_GET_DETACHED 2
MORVANE_EXPORT int PKCS7_set_type(PKCS7 *p7, int type);
MORVANE_EXPORT int PKCS7_set0_type_other(PKCS7 *p7, int type, ASN1_TYPE *other);
MORVANE_EXPORT int PKCS7_set_content(PKCS7 *p7, PKCS7 *p7_data);
MORVANE_EXPORT int PKCS7_content_new(PKCS7 *p7, int type);
MORVANE_EXPORT long PKCS7_ctrl(PKCS7 *p7, int cmd, long larg, char *parg);
#define PKCS7_set_detached(p, v) PKCS7_ctrl((p), PKCS7_CTRL_SET_DETACHED, (v), NULL)
#define PKCS7_get_detached(p) PKCS7_ctrl((p), PKCS7_CTRL_GET_DETACHED, 0, NULL)
#define PKCS7_is_detached(p7) (PKCS7_type_is_signed(p7) && PKCS7_get_detached(p7))
MORVANE_EXPORT int PKCS7_add_signer(PKCS7 *p7, PKCS7_SIGNER_INFO *psi);
MORVANE_EXPORT int PKCS7_add_certificate(PKCS7 *p7, X509 *x509);
MORVANE_EXPORT int PKCS7_add_crl(PKCS7 *p7, X509_CRL *crl);
MORVANE_EXPORT int PKCS7_SIGNER_INFO_set(PKCS7_SIGNER_INFO *p7i, X509 *x509, EVP_PKEY *pkey,
                                         const EVP_MD *dgst);
MORVANE_EXPORT PKCS7_SIGNER_INFO *PKCS7_add_signature(PKCS7 *p7, X509 *x509, EVP_PKEY *pkey,
                                                      const EVP_MD *dgst);
MORVANE_EXPORT int PKCS7_set_digest(PKCS7 *p7, const EVP_MD *md);
/* The signer records of signed or signed-and-enveloped data (borrowed). */
MORVANE_EXPORT STACK *PKCS7_get_signer_info(PKCS7 *p7);
/* Signed data: the message's certificate of signer si (borrowed), or null. */
MORVANE_EXPORT X509 *PKCS7_cert_from_signer_info(PKCS7 *p7, PKCS7_SIGNER_INFO *si);
MORVANE_EXPORT int PKCS7_RECIP_INFO_set(PKCS7_RECIP_INFO *p7i, X509 *x509);
MORVANE_EXPORT int PKCS7_add_recipient_info(PKCS7 *p7, PKCS7_RECIP_INFO *ri);
MORVANE_EXPORT PKCS7_RECIP_INFO *PKCS7_add_recipient(PKCS7 *p7, X509 *x509);
MORVANE_EXPORT int PKCS7_set_cipher(PKCS7 *p7, const EVP_CIPHER *cipher);
/* Signed-and-enveloped data: the issuer and serial of recipient idx. */
MORVANE_EXPORT PKCS7_ISSUER_AND_SERIAL *PKCS7_get_issuer_and_serial(PKCS7 *p7, int idx);

/* ---- attributes of a signer ----------------------------------------------
 * The signed (auth_attr) and unsigned (unauth_attr) attributes.  Adding an
 * attribute whose NID is present replaces it in its position; on success
 * the attribute owns `value`, on failure it stays the caller's.  The getters
 * lend the first value of the first attribute of the NID.  The setters
 * replace the list with copies of `sk`.  PKCS7_simple_smimecap appends an
 * algorithm (with an INTEGER parameter when arg > 0) to an X509_ALGOR
 * stack; PKCS7_add_attrib_smimecap stores such a stack as the SMIME-CAPS
 * signed attribute (NID 167), PKCS7_get_smimecap decodes it into a new
 * stack (null unless the attribute holds a SEQUENCE). */
MORVANE_EXPORT int PKCS7_add_signed_attribute(PKCS7_SIGNER_INFO *si, int nid, int atrtype,
                                              void *value);
MORVANE_EXPORT int PKCS7_add_attribute(PKCS7_SIGNER_INFO *si, int nid, int atrtype, void *value);
MORVANE_EXPORT ASN1_TYPE *PKCS7_get_signed_attribute(PKCS7_SIGNER_INFO *si, int nid);
MORVANE_EXPORT ASN1_TYPE *PKCS7_get_attribute(PKCS7_SIGNER_INFO *si, int nid);
MORVANE_EXPORT int PKCS7_set_signed_attributes(PKCS7_SIGNER_INFO *si, STACK *sk);
MORVANE_EXPORT int PKCS7_set_attributes(PKCS7_SIGNER_INFO *si, STACK *sk);
MORVANE_EXPORT int PKCS7_simple_smimecap(STACK *sk, int nid, int arg);
MORVANE_EXPORT int PKCS7_add_attrib_smimecap(PKCS7_SIGNER_INFO *si, STACK *cap);
MORVANE_EXPORT STACK *PKCS7_get_smimecap(PKCS7_SIGNER_INFO *si);

/* ---- the data engine -----------------------------------------------------
 * PKCS7_dataInit returns the top of a write chain: a digest filter per digest
 * (one for all the entries of the digest algorithms that name the same
 * digest), then for the enveloped types a cipher filter keyed with a fresh
 * content key encrypted to every recipient, then `bio` (or a memory stream,
 * or a null sink for detached signed data).  Write the content, flush, then
 * PKCS7_dataFinal(p7, chain) signs or digests and makes the message take over
 * the bytes of the memory stream; free the chain after it.  Signers with
 * signed attributes gain contentType (the content's type) when they lack it,
 * signingTime and messageDigest.
 * PKCS7_dataDecode returns the top of a read chain (digests, one filter per
 * digest likewise, and, for the enveloped types, decryption with the content
 * key that pkey unwraps: from the first key block that opens to a key the
 * cipher takes, among the recipients matching pcert (several may) or,
 * without pcert, among all, every such block being tried; a random key when
 * none does, see above).
 * Inner content that is not an octet string (an "other" type holding any
 * other value, or nested typed content) is read from both chains, when no
 * `bio` or `in_bio` is given, as what a signature over it covers: the
 * contents octets of its DER value, without the value's tag and length
 * (RFC 2315, 9.3); content with no such encoding (an indefinite length)
 * fails with "unsupported content type".  Such content stays in the message
 * as it is: to sign it, read the chain to its end before PKCS7_dataFinal.
 * After reading to the end, PKCS7_signatureVerify checks one signer: 1 valid,
 * -1 digest mismatch, more than one messageDigest attribute or value
 * ("duplicate message digest"), bad signature, no public key, a contentType
 * attribute that names another type than the content's ("content type
 * mismatch") or a digestEncryptionAlgorithm that does not fit the key
 * ("signature algorithm mismatch": for RSA rsaEncryption or an
 * RSA-with-digest identifier, for DSA dsaEncryption or a DSA signature
 * identifier, for EC id-ecPublicKey or an ECDSA one), 0 other failure
 * (among them "no content type": signed attributes without contentType over
 * content other than data).
 * PKCS7_dataVerify first verifies the chain of the signer's certificate
 * (found in the message) with `ctx` initialised on cert_store.
 * PKCS7_digest_from_attributes lends the messageDigest value of `sk`. */
MORVANE_EXPORT BIO *PKCS7_dataInit(PKCS7 *p7, BIO *bio);
MORVANE_EXPORT int PKCS7_dataFinal(PKCS7 *p7, BIO *bio);
MORVANE_EXPORT BIO *PKCS7_dataDecode(PKCS7 *p7, EVP_PKEY *pkey, BIO *in_bio, X509 *pcert);
MORVANE_EXPORT int PKCS7_signatureVerify(BIO *bio, PKCS7 *p7, PKCS7_SIGNER_INFO *si, X509 *x509);
MORVANE_EXPORT int PKCS7_dataVerify(X509_STORE *cert_store, X509_STORE_CTX *ctx, BIO *bio,
                                    PKCS7 *p7, PKCS7_SIGNER_INFO *si);
MORVANE_EXPORT ASN1_OCTET_STRING *PKCS7_digest_from_attributes(STACK *sk);

/* ---- S/MIME --------------------------------------------------------------
 * Flags of the calls below (passed on to the MIME framing of asn1.h). */
#define PKCS7_FLAG_TEXT 0x1
#define PKCS7_FLAG_NO_CERTS 0x2
#define PKCS7_FLAG_NO_SIGNATURES 0x4
#define PKCS7_FLAG_NO_CHAIN 0x8
#define PKCS7_FLAG_NO_INTERNAL 0x10
#define PKCS7_FLAG_NO_VERIFY 0x20
#define PKCS7_FLAG_DETACHED 0x40
#define PKCS7_FLAG_BINARY 0x80
#define PKCS7_FLAG_NO_ATTRIBUTES 0x100
#define PKCS7_FLAG_NO_CAPABILITIES 0x200
#define PKCS7_FLAG_OLD_MIME_TYPE 0x400
#define PKCS7_FLAG_CRLF_EOL 0x800
#define PKCS7_FLAG_PARTIAL 0x1000
#define PKCS7_FLAG_NO_CRLS 0x2000

/* PKCS7_sign: a new signed message (one SHA-1 signer; unless flags say
 * otherwise the certificates, contentType, SMIME-CAPS, signingTime and
 * messageDigest), or null; so is PKCS7_encrypt's message, and both fail
 * ("pkcs7 datasign", "pkcs7 datafinal error") when `data` cannot be read to
 * its end or the message cannot hold it (SMIME_crlf_copy).  PKCS7_verify: 1
 * when every check asked for passes (content written to `out` when given,
 * see above: the bytes read through the data engine's chain, which for
 * content other than data are its contents octets), else 0 (also with
 * "content write error" when `out` takes less than it is given, as
 * PKCS7_decrypt with `data`); a memory stream given as indata is left unread.
 * Where several certificates (of `certs`, then of the message) carry a
 * signer's issuer and serial, the first 16 of them are tried, in that order,
 * and the first whose signature and then chain verify is the signer's (the
 * signature over the signed attributes before the content is read; without
 * signed attributes, over the content, which is then written to `out` before
 * the chain is verified); when none serves, the reasons are the first one's.
 * One certificate's chain is verified once per call, however many signers
 * name it.  PKCS7_get0_signers: a new stack (free with sk_free) of the
 * signers' certificates (borrowed), the first that carries each signer's
 * issuer and serial.
 * PKCS7_encrypt: a new enveloped message to `certs`.  PKCS7_decrypt: 1 and
 * the content in `data`, or 0 ("decrypt error" also when the last block did
 * not decrypt).  SMIME_write_PKCS7 writes an S/MIME message (multipart/signed
 * with PKCS7_FLAG_DETACHED and data); SMIME_read_PKCS7 reads one, storing the
 * detached content stream through bcont, as SMIME_read_ASN1 reads (it owns
 * the rest of the stream and may read past the message). */
MORVANE_EXPORT PKCS7 *PKCS7_sign(X509 *signcert, EVP_PKEY *pkey, STACK *certs, BIO *data,
                                 int flags);
MORVANE_EXPORT int PKCS7_verify(PKCS7 *p7, STACK *certs, X509_STORE *store, BIO *indata,
                                BIO *out, int flags);
MORVANE_EXPORT STACK *PKCS7_get0_signers(PKCS7 *p7, STACK *certs, int flags);
MORVANE_EXPORT PKCS7 *PKCS7_encrypt(STACK *certs, BIO *in, const EVP_CIPHER *cipher, int flags);
MORVANE_EXPORT int PKCS7_decrypt(PKCS7 *p7, EVP_PKEY *pkey, X509 *cert, BIO *data, int flags);
MORVANE_EXPORT int SMIME_write_PKCS7(BIO *bio, PKCS7 *p7, BIO *data, int flags);
MORVANE_EXPORT PKCS7 *SMIME_read_PKCS7(BIO *bio, BIO **bcont);

/* Registers the texts of library 33 (ERR_LIB_PKCS7) unless they are registered
 * already. */
MORVANE_EXPORT void ERR_load_PKCS7_strings(void);

/* PKCS#7 messages as DER through streams and stdio, and the digest of an
 * issuer-and-serial record's DER. */
MORVANE_EXPORT PKCS7 *d2i_PKCS7_fp(FILE *fp, PKCS7 **p7);
MORVANE_EXPORT int i2d_PKCS7_fp(FILE *fp, PKCS7 *p7);
MORVANE_EXPORT PKCS7 *d2i_PKCS7_bio(BIO *bp, PKCS7 **p7);
MORVANE_EXPORT int i2d_PKCS7_bio(BIO *bp, PKCS7 *p7);
MORVANE_EXPORT int PKCS7_ISSUER_AND_SERIAL_digest(PKCS7_ISSUER_AND_SERIAL *data,
                                                  const EVP_MD *type, unsigned char *md,
                                                  unsigned int *len);

/* BEGIN ERROR CODES (generated by tools/gen_errors.py) */
/* Function codes of library 33 (PKCS7). */
#define PKCS7_F_PKCS7_ADD_CERTIFICATE 100
#define PKCS7_F_PKCS7_ADD_CRL 101
#define PKCS7_F_PKCS7_ADD_RECIPIENT_INFO 102
#define PKCS7_F_PKCS7_ADD_SIGNER 103
#define PKCS7_F_PKCS7_CTRL 104
#define PKCS7_F_PKCS7_DATAINIT 105
#define PKCS7_F_PKCS7_DATASIGN 106
#define PKCS7_F_PKCS7_DATAVERIFY 107
#define PKCS7_F_PKCS7_SET_CIPHER 108
#define PKCS7_F_PKCS7_SET_CONTENT 109
#define PKCS7_F_PKCS7_SET_TYPE 110
#define PKCS7_F_PKCS7_DATADECODE 112
#define PKCS7_F_PKCS7_SIGNATUREVERIFY 113
#define PKCS7_F_PKCS7_DECRYPT 114
#define PKCS7_F_PKCS7_ENCRYPT 115
#define PKCS7_F_PKCS7_SIGN 116
#define PKCS7_F_PKCS7_VERIFY 117
#define PKCS7_F_PKCS7_ADD_ATTRIB_SMIMECAP 118
#define PKCS7_F_PKCS7_SIMPLE_SMIMECAP 119
#define PKCS7_F_B64_READ_PKCS7 120
#define PKCS7_F_B64_WRITE_PKCS7 121
#define PKCS7_F_SMIME_READ_PKCS7 122
#define PKCS7_F_SMIME_TEXT 123
#define PKCS7_F_PKCS7_GET0_SIGNERS 124
#define PKCS7_F_PKCS7_BIO_ADD_DIGEST 125
#define PKCS7_F_PKCS7_SET_DIGEST 126
#define PKCS7_F_PKCS7_FIND_DIGEST 127
#define PKCS7_F_PKCS7_DATAFINAL 128
#define PKCS7_F_ADD_ATTRIBUTE 129
/* Reason codes of library 33 (PKCS7). */
#define PKCS7_R_DECRYPTED_KEY_IS_WRONG_LENGTH 100
#define PKCS7_R_DIGEST_FAILURE 101
#define PKCS7_R_MISSING_CERIPEND_INFO 103
#define PKCS7_R_OPERATION_NOT_SUPPORTED_ON_THIS_TYPE 104
#define PKCS7_R_SIGNATURE_FAILURE 105
#define PKCS7_R_UNABLE_TO_FIND_CERTIFICATE 106
#define PKCS7_R_UNABLE_TO_FIND_MEM_BIO 107
#define PKCS7_R_UNABLE_TO_FIND_MESSAGE_DIGEST 108
#define PKCS7_R_UNKNOWN_DIGEST_TYPE 109
#define PKCS7_R_UNKNOWN_OPERATION 110
#define PKCS7_R_UNSUPPORTED_CIPHER_TYPE 111
#define PKCS7_R_UNSUPPORTED_CONTENT_TYPE 112
#define PKCS7_R_WRONG_CONTENT_TYPE 113
#define PKCS7_R_WRONG_PKCS7_TYPE 114
#define PKCS7_R_NO_RECIPIENT_MATCHES_CERTIFICATE 115
#define PKCS7_R_CIPHER_NOT_INITIALIZED 116
#define PKCS7_R_CERTIFICATE_VERIFY_ERROR 117
#define PKCS7_R_CONTENT_AND_DATA_PRESENT 118
#define PKCS7_R_DECRYPT_ERROR 119
#define PKCS7_R_ERROR_ADDING_RECIPIENT 120
#define PKCS7_R_ERROR_SETTING_CIPHER 121
#define PKCS7_R_NO_CONTENT 122
#define PKCS7_R_NO_SIGNATURES_ON_DATA 123
#define PKCS7_R_PKCS7_ADD_SIGNATURE_ERROR 124
#define PKCS7_R_PKCS7_DATAFINAL_ERROR 125
#define PKCS7_R_PKCS7_DATAFINAL 126
#define PKCS7_R_PRIVATE_KEY_DOES_NOT_MATCH_CERTIFICATE 127
#define PKCS7_R_SIGNER_CERTIFICATE_NOT_FOUND 128
#define PKCS7_R_SMIME_TEXT_ERROR 129
#define PKCS7_R_DECODE_ERROR 130
#define PKCS7_R_INVALID_MIME_TYPE 131
#define PKCS7_R_MIME_NO_CONTENT_TYPE 132
#define PKCS7_R_MIME_PARSE_ERROR 133
#define PKCS7_R_MIME_SIG_PARSE_ERROR 134
#define PKCS7_R_NO_CONTENT_TYPE 135
#define PKCS7_R_NO_MULTIPART_BODY_FAILURE 136
#define PKCS7_R_NO_MULTIPART_BOUNDARY 137
#define PKCS7_R_NO_SIG_CONTENT_TYPE 138
#define PKCS7_R_PKCS7_PARSE_ERROR 139
#define PKCS7_R_PKCS7_SIG_PARSE_ERROR 140
#define PKCS7_R_SIG_INVALID_MIME_TYPE 141
#define PKCS7_R_NO_SIGNERS 142
#define PKCS7_R_INVALID_NULL_POINTER 143
#define PKCS7_R_CIPHER_HAS_NO_OBJECT_IDENTIFIER 144
#define PKCS7_R_PKCS7_DATASIGN 145
#define PKCS7_R_NO_RECIPIENT_MATCHES_KEY 146
#define PKCS7_R_CONTENT_TYPE_MISMATCH 147
#define PKCS7_R_CONTENT_WRITE_ERROR 148
#define PKCS7_R_SIGNATURE_ALGORITHM_MISMATCH 149
#define PKCS7_R_DUPLICATE_MESSAGE_DIGEST 150
#define PKCS7_R_MISSING_CIPHER_IV 151
/* END ERROR CODES */

MORVANE_END_DECLS

#endif /* MORVANE_PKCS7_H */
