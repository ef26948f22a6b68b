/* Morvane: PEM armour.
 *
 * A PEM block is DER in text armour (RFC 1421, RFC 7468):
 *
 *   -----BEGIN <name>-----
 *   <header lines, then one empty line; only when there is a header>
 *   <base64 of the bytes, 64 characters a line, the last line shorter>
 *   -----END <name>-----
 *
 * Every line ends with one line feed when written; when read, trailing
 * spaces, tabs, CR and other bytes at or below 0x20 (and bytes from 0x80) are
 * ignored at line ends.  The body may be encrypted under a pass phrase; the
 * header then holds exactly two lines,
 *
 *   Proc-Type: 4,ENCRYPTED
 *   DEK-Info: <cipher short name>,<IV in upper-case hex>
 *
 * and the key is EVP_BytesToKey(cipher, MD5, salt = the first 8 bytes of the
 * IV, pass phrase, count 1).  A cipher's IV is at most 16 bytes and the two
 * header lines with their terminator fit in PEM_BUFSIZE bytes; other ciphers
 * are refused.
 *
 * Readers take the cipher by name from the algorithm-name registry: call
 * Morvane_add_all_ciphers (or MORVANE_add_all_algorithms_noconf) first.
 * Buffers the readers hand out come from CRYPTO_malloc; the caller releases
 * them with MORVANE_free.  Results are 1 or 0 unless a function says
 * otherwise; failing calls queue errors of library 9 (ERR_LIB_PEM).
 *
 * Pass phrases: a pem_password_cb is called as cb(buf, PEM_BUFSIZE, w, u),
 * w 0 when decrypting and 1 when encrypting, and returns the phrase's length
 * (0 or less, or more than PEM_BUFSIZE, is failure).  Where no callback is
 * given, PEM_def_callback stands in: with `u` it takes `u` as the phrase's
 * text, otherwise it prompts on the terminal.
 *
 * Null arguments: a null stream reads as empty input and refuses writes; a
 * null header (PEM_write_bio, PEM_get_EVP_CIPHER_INFO) is an empty one; a
 * null callback is PEM_def_callback; a null `u` makes PEM_def_callback
 * prompt; PEM_bytes_read_bio accepts a null `pnm`, PEM_ASN1_read_bio a null
 * `x`, PEM_ASN1_write_bio a null `enc` (no encryption) and a null `kstr` (the
 * callback's phrase); data may be null where its length is 0.  Other pointer
 * arguments (names, out-parameters, FILEs, the cipher record) must be valid.
 * The typed readers and writers take what PEM_ASN1_read_bio and
 * PEM_ASN1_write_bio take; the object to write must be valid. */
#ifndef MORVANE_PEM_H
#define MORVANE_PEM_H

#include <stdio.h>

#include <morvane/asn1.h>
#include <morvane/ec.h>
#include <morvane/evp.h>
#include <morvane/export.h>
#include <morvane/pkcs7.h>
#include <morvane/types.h>
#include <morvane/x509.h>

MORVANE_BEGIN_DECLS

/* "PEM part of Morvane 0.9.8o 01 Jun 2010". */
MORVANE_EXPORT extern const char PEM_version[];

/* The pass-phrase and header buffers. */
#define PEM_BUFSIZE 1024

/* Proc-Type codes (PEM_proc_type). */
#define PEM_TYPE_ENCRYPTED 10
#define PEM_TYPE_MIC_ONLY 20
#define PEM_TYPE_MIC_CLEAR 30

/* Block names. */
#define PEM_STRING_X509_OLD "X509 CERTIFICATE"
#define PEM_STRING_X509 "CERTIFICATE"
#define PEM_STRING_X509_PAIR "CERTIFICATE PAIR"
#define PEM_STRING_X509_TRUSTED "TRUSTED CERTIFICATE"
#define PEM_STRING_X509_REQ_OLD "NEW CERTIFICATE REQUEST"
#define PEM_STRING_X509_REQ "CERTIFICATE REQUEST"
#define PEM_STRING_X509_CRL "X509 CRL"
#define PEM_STRING_EVP_PKEY "ANY PRIVATE KEY" /* read only: any private-key block */
#define PEM_STRING_PUBLIC "PUBLIC KEY"
#define PEM_STRING_RSA "RSA PRIVATE KEY"
#define PEM_STRING_RSA_PUBLIC "RSA PUBLIC KEY"
#define PEM_STRING_DSA "DSA PRIVATE KEY"
#define PEM_STRING_PKCS7 "PKCS7"
#define PEM_STRING_PKCS7_SIGNED "PKCS #7 SIGNED DATA"
#define PEM_STRING_PKCS8 "ENCRYPTED PRIVATE KEY"
#define PEM_STRING_PKCS8INF "PRIVATE KEY"
#define PEM_STRING_DHPARAMS "DH PARAMETERS"
#define PEM_STRING_DSAPARAMS "DSA PARAMETERS"
#define PEM_STRING_ECPARAMETERS "EC PARAMETERS"
#define PEM_STRING_ECPRIVATEKEY "EC PRIVATE KEY"

/* A parsed encryption header is an EVP_CIPHER_INFO (morvane/evp.h): the
 * cipher (null when the block is not encrypted) and its IV, zero past the
 * cipher's IV length. */

/* The pass-phrase callback: writes at most `size` bytes of the phrase into
 * buf and returns its length, or 0 or less to refuse; rwflag is 1 when the
 * phrase is for encrypting (and should be asked twice). */
typedef int pem_password_cb(char* buf, int size, int rwflag, void* userdata);

/* Reads the next block: text before its begin line (and begin lines without
 * the closing dashes) is skipped.  On success *name, *header (empty text
 * when the block has none) and *data are new buffers and *len the decoded
 * length.  0 with "no start line" when no block begins, "bad end line",
 * "bad base64 decode"; 0 with nothing queued when the body decodes to
 * nothing.  The first empty line after the begin line ends the header:
 * what came before it is header text, whatever it holds, so a block whose
 * body is followed by an empty line before its end line reads as a header
 * and an empty body (0, nothing queued).  Body lines hold fewer than 80
 * base64 characters (spaces, tabs and line ends not counted): a longer one
 * fails the block with "bad base64 decode" (in a block with a header, whose
 * body lines hold 64 characters, with "bad end line").  A line is read
 * whole however long it is; of a line longer than 253 characters only the
 * first 253 are kept (a header line so cut; a body line is refused in any
 * case).  A read of the stream that fails (queuing an error or not), or a stream
 * not at its end that still has nothing after 16 retries in a row, fails
 * with "BIO lib" wherever it comes: it is no end of the input and no broken
 * block.  A retry from a stream at its end (an empty memory stream, or a
 * filter chain that holds nothing in front of one) is the end. */
MORVANE_EXPORT int PEM_read_bio(BIO *bp, char **name, char **header, unsigned char **data,
                                long *len);
/* PEM_read_bio on an open FILE (not closed). */
MORVANE_EXPORT int PEM_read(FILE *fp, char **name, char **header, unsigned char **data,
                            long *len);
/* Writes one block: the begin line, the header text and an empty line when
 * the header is not empty, `len` bytes of data in base64 lines, the end line.
 * Returns the number of body characters written (line feeds included; 0 for
 * empty data), 0 on failure ("BUF lib" when the stream takes less than it
 * was given, or for a negative `len` or one whose body would pass INT_MAX
 * characters, refused before anything is written).  Holds one 8192-byte
 * buffer whatever `len` is. */
MORVANE_EXPORT int PEM_write_bio(BIO *bp, const char *name, char *header, unsigned char *data,
                                 long len);
/* PEM_write_bio on an open FILE (not closed). */
MORVANE_EXPORT int PEM_write(FILE *fp, const char *name, char *header, unsigned char *data,
                             long len);

/* Append the header lines to the text in buf, a PEM_BUFSIZE-byte buffer,
 * never writing past it: "Proc-Type: 4," and the type's word (ENCRYPTED,
 * MIC-ONLY, MIC-CLEAR or BAD-TYPE) and a line feed; "DEK-Info: ", `type`, ","
 * and then, only when they fit with their terminator, the `len` bytes of str
 * in upper-case hex and a line feed (nothing for a negative `len`). */
MORVANE_EXPORT void PEM_proc_type(char *buf, int type);
MORVANE_EXPORT void PEM_dek_info(char *buf, const char *type, int len, char *str);

/* Parses a block's header: cipher->cipher null and 1 for an empty header;
 * the cipher and IV of a "Proc-Type: 4,ENCRYPTED" / "DEK-Info:" pair and 1;
 * 0 otherwise ("not proc type", "not encrypted", "short header", "not dek
 * info", "unsupported encryption", "bad iv chars"; nothing queued for a
 * Proc-Type version other than 4).  The header is only read. */
MORVANE_EXPORT int PEM_get_EVP_CIPHER_INFO(char *header, EVP_CIPHER_INFO *cipher);
/* Decrypts *len bytes of data in place when cipher->cipher is set, with the
 * pass phrase from cb (decrypting: w 0), and sets *len to the plaintext
 * length; 1 without a cipher.  0 with "bad password read" when the phrase
 * cannot be had, "bad decrypt" when the padding is wrong (*len untouched). */
MORVANE_EXPORT int PEM_do_header(EVP_CIPHER_INFO *cipher, unsigned char *data, long *len,
                                 pem_password_cb *cb, void *u);

/* Reads blocks until one whose name matches `name` (exactly, or by the
 * typed readers' rule: "ANY PRIVATE KEY" takes every private-key block,
 * "CERTIFICATE" also "X509 CERTIFICATE", ...), decrypts it, and hands out its
 * bytes (*pdata, *plen) and, when pnm is not null, the name found.  When no
 * block is left, the "no start line" error carries "Expecting: " and
 * `name`. */
MORVANE_EXPORT int PEM_bytes_read_bio(unsigned char **pdata, long *plen, char **pnm,
                                      const char *name, BIO *bp, pem_password_cb *cb, void *u);
/* PEM_bytes_read_bio for `name`, then d2i(x, &p, len) over the bytes; the
 * object, or null ("ASN1 lib" when the bytes do not decode). */
MORVANE_EXPORT void *PEM_ASN1_read_bio(d2i_of_void *d2i, const char *name, BIO *bp, void **x,
                                       pem_password_cb *cb, void *u);
MORVANE_EXPORT void *PEM_ASN1_read(d2i_of_void *d2i, const char *name, FILE *fp, void **x,
                                   pem_password_cb *cb, void *u);
/* Encodes x with i2d and writes it as one block named `name`, encrypted with
 * `enc` when it is not null under the pass phrase kstr/klen (or, when kstr is
 * null, the callback's, w 1; "read key" when it cannot be had) and a fresh
 * IV.  "unsupported cipher", before anything is written, for a cipher
 * without short name or beyond the limits above; 1 or 0. */
MORVANE_EXPORT int PEM_ASN1_write_bio(i2d_of_void *i2d, const char *name, BIO *bp, char *x,
                                      const EVP_CIPHER *enc, unsigned char *kstr, int klen,
                                      pem_password_cb *cb, void *u);
MORVANE_EXPORT int PEM_ASN1_write(i2d_of_void *i2d, const char *name, FILE *fp, char *x,
                                  const EVP_CIPHER *enc, unsigned char *kstr, int klen,
                                  pem_password_cb *cb, void *u);

/* The default pass-phrase callback.  With `key`: copies its text (without
 * terminator, at most `num` bytes) to buf and returns the count, which may be
 * 0.  Without: prompts with the text of EVP_set_pw_prompt or "Enter PEM pass
 * phrase:" (twice when w is 1) until an answer of at least 4 characters
 * comes, and returns its length; -1 with "problems getting password" (buf
 * zeroed) when the prompt fails. */
MORVANE_EXPORT int PEM_def_callback(char *buf, int num, int w, void *key);

/* Registers the texts of library 9 (ERR_LIB_PEM) unless they are registered
 * already. */
MORVANE_EXPORT void ERR_load_PEM_strings(void);

/* ---- typed readers and writers -------------------------------------------
 * For each type T below: PEM_read_bio_T and PEM_read_T (PEM_ASN1_read_bio
 * with T's decoder and block name: the object, also stored in *x when x is
 * given, or null), PEM_write_bio_T and PEM_write_T (PEM_ASN1_write_bio with
 * T's encoder and name, never encrypted: 1 or 0).  Names written (and also
 * accepted when reading): X509 "CERTIFICATE" ("X509 CERTIFICATE"), X509_AUX
 * "TRUSTED CERTIFICATE" ("CERTIFICATE", "X509 CERTIFICATE"), X509_CERT_PAIR
 * "CERTIFICATE PAIR", X509_REQ "CERTIFICATE REQUEST" ("NEW CERTIFICATE
 * REQUEST"), X509_REQ_NEW (writers only) "NEW CERTIFICATE REQUEST",
 * X509_CRL "X509 CRL", NETSCAPE_CERT_SEQUENCE "CERTIFICATE" ("X509
 * CERTIFICATE"), RSAPublicKey "RSA PUBLIC KEY", RSA_PUBKEY, DSA_PUBKEY,
 * EC_PUBKEY and PUBKEY "PUBLIC KEY", DSAparams "DSA PARAMETERS", DHparams
 * "DH PARAMETERS", PKCS8 (encrypted PKCS#8, X509_SIG) "ENCRYPTED PRIVATE
 * KEY", PKCS8_PRIV_KEY_INFO "PRIVATE KEY".  Every reader decrypts a block
 * with an encryption header with the pass phrase from cb. */
MORVANE_EXPORT X509 *PEM_read_bio_X509(BIO *bp, X509 **x, pem_password_cb *cb, void *u);
MORVANE_EXPORT X509 *PEM_read_X509(FILE *fp, X509 **x, pem_password_cb *cb, void *u);
MORVANE_EXPORT int PEM_write_bio_X509(BIO *bp, X509 *x);
MORVANE_EXPORT int PEM_write_X509(FILE *fp, X509 *x);
MORVANE_EXPORT X509 *PEM_read_bio_X509_AUX(BIO *bp, X509 **x, pem_password_cb *cb, void *u);
MORVANE_EXPORT X509 *PEM_read_X509_AUX(FILE *fp, X509 **x, pem_password_cb *cb, void *u);
MORVANE_EXPORT int PEM_write_bio_X509_AUX(BIO *bp, X509 *x);
MORVANE_EXPORT int PEM_write_X509_AUX(FILE *fp, X509 *x);
MORVANE_EXPORT X509_CERT_PAIR *PEM_read_bio_X509_CERT_PAIR(BIO *bp, X509_CERT_PAIR **x, pem_password_cb *cb, void *u);
MORVANE_EXPORT X509_CERT_PAIR *PEM_read_X509_CERT_PAIR(FILE *fp, X509_CERT_PAIR **x, pem_password_cb *cb, void *u);
MORVANE_EXPORT int PEM_write_bio_X509_CERT_PAIR(BIO *bp, X509_CERT_PAIR *x);
MORVANE_EXPORT int PEM_write_X509_CERT_PAIR(FILE *fp, X509_CERT_PAIR *x);
MORVANE_EXPORT X509_REQ *PEM_read_bio_X509_REQ(BIO *bp, X509_REQ **x, pem_password_cb *cb, void *u);
MORVANE_EXPORT X509_REQ *PEM_read_X509_REQ(FILE *fp, X509_REQ **x, pem_password_cb *cb, void *u);
MORVANE_EXPORT int PEM_write_bio_X509_REQ(BIO *bp, X509_REQ *x);
MORVANE_EXPORT int PEM_write_X509_REQ(FILE *fp, X509_REQ *x);
MORVANE_EXPORT X509_CRL *PEM_read_bio_X509_CRL(BIO *bp, X509_CRL **x, pem_password_cb *cb, void *u);
MORVANE_EXPORT X509_CRL *PEM_read_X509_CRL(FILE *fp, X509_CRL **x, pem_password_cb *cb, void *u);
MORVANE_EXPORT int PEM_write_bio_X509_CRL(BIO *bp, X509_CRL *x);
MORVANE_EXPORT int PEM_write_X509_CRL(FILE *fp, X509_CRL *x);
MORVANE_EXPORT NETSCAPE_CERT_SEQUENCE *PEM_read_bio_NETSCAPE_CERT_SEQUENCE(BIO *bp, NETSCAPE_CERT_SEQUENCE **x, pem_password_cb *cb, void *u);
MORVANE_EXPORT NETSCAPE_CERT_SEQUENCE *PEM_read_NETSCAPE_CERT_SEQUENCE(FILE *fp, NETSCAPE_CERT_SEQUENCE **x, pem_password_cb *cb, void *u);
MORVANE_EXPORT int PEM_write_bio_NETSCAPE_CERT_SEQUENCE(BIO *bp, NETSCAPE_CERT_SEQUENCE *x);
MORVANE_EXPORT int PEM_write_NETSCAPE_CERT_SEQUENCE(FILE *fp, NETSCAPE_CERT_SEQUENCE *x);
MORVANE_EXPORT RSA *PEM_read_bio_RSAPublicKey(BIO *bp, RSA **x, pem_password_cb *cb, void *u);
MORVANE_EXPORT RSA *PEM_read_RSAPublicKey(FILE *fp, RSA **x, pem_password_cb *cb, void *u);
MORVANE_EXPORT int PEM_write_bio_RSAPublicKey(BIO *bp, RSA *x);
MORVANE_EXPORT int PEM_write_RSAPublicKey(FILE *fp, RSA *x);
MORVANE_EXPORT RSA *PEM_read_bio_RSA_PUBKEY(BIO *bp, RSA **x, pem_password_cb *cb, void *u);
MORVANE_EXPORT RSA *PEM_read_RSA_PUBKEY(FILE *fp, RSA **x, pem_password_cb *cb, void *u);
MORVANE_EXPORT int PEM_write_bio_RSA_PUBKEY(BIO *bp, RSA *x);
MORVANE_EXPORT int PEM_write_RSA_PUBKEY(FILE *fp, RSA *x);
MORVANE_EXPORT DSA *PEM_read_bio_DSA_PUBKEY(BIO *bp, DSA **x, pem_password_cb *cb, void *u);
MORVANE_EXPORT DSA *PEM_read_DSA_PUBKEY(FILE *fp, DSA **x, pem_password_cb *cb, void *u);
MORVANE_EXPORT int PEM_write_bio_DSA_PUBKEY(BIO *bp, DSA *x);
MORVANE_EXPORT int PEM_write_DSA_PUBKEY(FILE *fp, DSA *x);
/* PKCS#7 messages ("PKCS7") and EC parameters ("EC PARAMETERS"). */
MORVANE_EXPORT PKCS7 *PEM_read_bio_PKCS7(BIO *bp, PKCS7 **x, pem_password_cb *cb, void *u);
MORVANE_EXPORT PKCS7 *PEM_read_PKCS7(FILE *fp, PKCS7 **x, pem_password_cb *cb, void *u);
MORVANE_EXPORT int PEM_write_bio_PKCS7(BIO *bp, PKCS7 *x);
MORVANE_EXPORT int PEM_write_PKCS7(FILE *fp, PKCS7 *x);
MORVANE_EXPORT EC_GROUP *PEM_read_bio_ECPKParameters(BIO *bp, EC_GROUP **x, pem_password_cb *cb,
                                                     void *u);
MORVANE_EXPORT EC_GROUP *PEM_read_ECPKParameters(FILE *fp, EC_GROUP **x, pem_password_cb *cb,
                                                 void *u);
MORVANE_EXPORT int PEM_write_bio_ECPKParameters(BIO *bp, EC_GROUP *x);
MORVANE_EXPORT int PEM_write_ECPKParameters(FILE *fp, EC_GROUP *x);
MORVANE_EXPORT DSA *PEM_read_bio_DSAparams(BIO *bp, DSA **x, pem_password_cb *cb, void *u);
MORVANE_EXPORT DSA *PEM_read_DSAparams(FILE *fp, DSA **x, pem_password_cb *cb, void *u);
MORVANE_EXPORT int PEM_write_bio_DSAparams(BIO *bp, DSA *x);
MORVANE_EXPORT int PEM_write_DSAparams(FILE *fp, DSA *x);
MORVANE_EXPORT EC_KEY *PEM_read_bio_EC_PUBKEY(BIO *bp, EC_KEY **x, pem_password_cb *cb, void *u);
MORVANE_EXPORT EC_KEY *PEM_read_EC_PUBKEY(FILE *fp, EC_KEY **x, pem_password_cb *cb, void *u);
MORVANE_EXPORT int PEM_write_bio_EC_PUBKEY(BIO *bp, EC_KEY *x);
MORVANE_EXPORT int PEM_write_EC_PUBKEY(FILE *fp, EC_KEY *x);
MORVANE_EXPORT DH *PEM_read_bio_DHparams(BIO *bp, DH **x, pem_password_cb *cb, void *u);
MORVANE_EXPORT DH *PEM_read_DHparams(FILE *fp, DH **x, pem_password_cb *cb, void *u);
MORVANE_EXPORT int PEM_write_bio_DHparams(BIO *bp, DH *x);
MORVANE_EXPORT int PEM_write_DHparams(FILE *fp, DH *x);
MORVANE_EXPORT EVP_PKEY *PEM_read_bio_PUBKEY(BIO *bp, EVP_PKEY **x, pem_password_cb *cb, void *u);
MORVANE_EXPORT EVP_PKEY *PEM_read_PUBKEY(FILE *fp, EVP_PKEY **x, pem_password_cb *cb, void *u);
MORVANE_EXPORT int PEM_write_bio_PUBKEY(BIO *bp, EVP_PKEY *x);
MORVANE_EXPORT int PEM_write_PUBKEY(FILE *fp, EVP_PKEY *x);
MORVANE_EXPORT X509_SIG *PEM_read_bio_PKCS8(BIO *bp, X509_SIG **x, pem_password_cb *cb, void *u);
MORVANE_EXPORT X509_SIG *PEM_read_PKCS8(FILE *fp, X509_SIG **x, pem_password_cb *cb, void *u);
MORVANE_EXPORT int PEM_write_bio_PKCS8(BIO *bp, X509_SIG *x);
MORVANE_EXPORT int PEM_write_PKCS8(FILE *fp, X509_SIG *x);
MORVANE_EXPORT PKCS8_PRIV_KEY_INFO *PEM_read_bio_PKCS8_PRIV_KEY_INFO(BIO *bp, PKCS8_PRIV_KEY_INFO **x, pem_password_cb *cb, void *u);
MORVANE_EXPORT PKCS8_PRIV_KEY_INFO *PEM_read_PKCS8_PRIV_KEY_INFO(FILE *fp, PKCS8_PRIV_KEY_INFO **x, pem_password_cb *cb, void *u);
MORVANE_EXPORT int PEM_write_bio_PKCS8_PRIV_KEY_INFO(BIO *bp, PKCS8_PRIV_KEY_INFO *x);
MORVANE_EXPORT int PEM_write_PKCS8_PRIV_KEY_INFO(FILE *fp, PKCS8_PRIV_KEY_INFO *x);
MORVANE_EXPORT int PEM_write_bio_X509_REQ_NEW(BIO *bp, X509_REQ *x);
MORVANE_EXPORT int PEM_write_X509_REQ_NEW(FILE *fp, X509_REQ *x);

/* ---- private keys ----------------------------------------------------------
 * PEM_read_bio_PrivateKey reads the first private-key block of any name:
 * "RSA PRIVATE KEY", "DSA PRIVATE KEY" and "EC PRIVATE KEY" (decrypted by
 * their header; decoded into *x as d2i_PrivateKey does), "PRIVATE KEY"
 * (PKCS#8) and "ENCRYPTED PRIVATE KEY" (PKCS#8 under a pass phrase, asked
 * from cb with w 0; "bad password read" when there is none; decrypted by
 * PKCS8_decrypt under the PKCS#5 or PKCS#12 algorithm the block names, which
 * must be registered: see MORVANE_add_all_algorithms_noconf).  For the PKCS#8 forms
 * the key at *x is freed and replaced by the result, null included.  Null
 * with "ASN1 lib" when no key comes out.  The readers by algorithm read the
 * same way and give the algorithm key (null, with the error of
 * EVP_PKEY_get1_RSA and its twins, for a key of another algorithm),
 * replacing the key at *x only when they have one.  The writers encode the
 * algorithm's own form, encrypted with enc when given under kstr/klen (or,
 * when kstr is null, the callback's phrase); PEM_write_bio_PrivateKey names
 * the block by the container's type ("DSA PRIVATE KEY", "RSA PRIVATE KEY",
 * else "EC PRIVATE KEY"). */
MORVANE_EXPORT RSA *PEM_read_bio_RSAPrivateKey(BIO *bp, RSA **x, pem_password_cb *cb, void *u);
MORVANE_EXPORT RSA *PEM_read_RSAPrivateKey(FILE *fp, RSA **x, pem_password_cb *cb, void *u);
MORVANE_EXPORT int PEM_write_bio_RSAPrivateKey(BIO *bp, RSA *x, const EVP_CIPHER *enc,
    unsigned char *kstr, int klen, pem_password_cb *cb, void *u);
MORVANE_EXPORT int PEM_write_RSAPrivateKey(FILE *fp, RSA *x, const EVP_CIPHER *enc,
    unsigned char *kstr, int klen, pem_password_cb *cb, void *u);
MORVANE_EXPORT DSA *PEM_read_bio_DSAPrivateKey(BIO *bp, DSA **x, pem_password_cb *cb, void *u);
MORVANE_EXPORT DSA *PEM_read_DSAPrivateKey(FILE *fp, DSA **x, pem_password_cb *cb, void *u);
MORVANE_EXPORT int PEM_write_bio_DSAPrivateKey(BIO *bp, DSA *x, const EVP_CIPHER *enc,
    unsigned char *kstr, int klen, pem_password_cb *cb, void *u);
MORVANE_EXPORT int PEM_write_DSAPrivateKey(FILE *fp, DSA *x, const EVP_CIPHER *enc,
    unsigned char *kstr, int klen, pem_password_cb *cb, void *u);
MORVANE_EXPORT EC_KEY *PEM_read_bio_ECPrivateKey(BIO *bp, EC_KEY **x, pem_password_cb *cb, void *u);
MORVANE_EXPORT EC_KEY *PEM_read_ECPrivateKey(FILE *fp, EC_KEY **x, pem_password_cb *cb, void *u);
MORVANE_EXPORT int PEM_write_bio_ECPrivateKey(BIO *bp, EC_KEY *x, const EVP_CIPHER *enc,
    unsigned char *kstr, int klen, pem_password_cb *cb, void *u);
MORVANE_EXPORT int PEM_write_ECPrivateKey(FILE *fp, EC_KEY *x, const EVP_CIPHER *enc,
    unsigned char *kstr, int klen, pem_password_cb *cb, void *u);
MORVANE_EXPORT EVP_PKEY *PEM_read_bio_PrivateKey(BIO *bp, EVP_PKEY **x, pem_password_cb *cb, void *u);
MORVANE_EXPORT EVP_PKEY *PEM_read_PrivateKey(FILE *fp, EVP_PKEY **x, pem_password_cb *cb, void *u);
MORVANE_EXPORT int PEM_write_bio_PrivateKey(BIO *bp, EVP_PKEY *x, const EVP_CIPHER *enc,
    unsigned char *kstr, int klen, pem_password_cb *cb, void *u);
MORVANE_EXPORT int PEM_write_PrivateKey(FILE *fp, EVP_PKEY *x, const EVP_CIPHER *enc,
    unsigned char *kstr, int klen, pem_password_cb *cb, void *u);

/* The key as PKCS#8 PrivateKeyInfo, in PEM ("PRIVATE KEY") or DER, plain
 * when enc is null and nid -1 (the _nid forms pass no cipher, the others nid
 * -1); else encrypted by PKCS8_encrypt (PKCS#5 v2 with enc, or the
 * password-based algorithm nid; 2048 iterations, 8 random salt bytes) under
 * kstr/klen or the callback's
 * phrase (w 1; "read key" when there is none) as "ENCRYPTED PRIVATE KEY".
 * 1 or 0 ("error converting private key" for a key that has no PKCS#8
 * form).  d2i_PKCS8PrivateKey_ reads a DER encrypted PKCS#8 key, decrypting
 * it with the phrase from cb (w 0; "bad password read"); only a key
 * obtained replaces the one at *x. */
MORVANE_EXPORT int PEM_write_bio_PKCS8PrivateKey(BIO *bp, EVP_PKEY *x, const EVP_CIPHER *enc,
    char *kstr, int klen, pem_password_cb *cb, void *u);
MORVANE_EXPORT int PEM_write_bio_PKCS8PrivateKey_nid(BIO *bp, EVP_PKEY *x, int nid, char *kstr,
    int klen, pem_password_cb *cb, void *u);
MORVANE_EXPORT int PEM_write_PKCS8PrivateKey(FILE *fp, EVP_PKEY *x, const EVP_CIPHER *enc,
    char *kstr, int klen, pem_password_cb *cb, void *u);
MORVANE_EXPORT int PEM_write_PKCS8PrivateKey_nid(FILE *fp, EVP_PKEY *x, int nid, char *kstr,
    int klen, pem_password_cb *cb, void *u);
MORVANE_EXPORT int i2d_PKCS8PrivateKey_bio(BIO *bp, EVP_PKEY *x, const EVP_CIPHER *enc,
    char *kstr, int klen, pem_password_cb *cb, void *u);
MORVANE_EXPORT int i2d_PKCS8PrivateKey_nid_bio(BIO *bp, EVP_PKEY *x, int nid, char *kstr,
    int klen, pem_password_cb *cb, void *u);
MORVANE_EXPORT int i2d_PKCS8PrivateKey_fp(FILE *fp, EVP_PKEY *x, const EVP_CIPHER *enc,
    char *kstr, int klen, pem_password_cb *cb, void *u);
MORVANE_EXPORT int i2d_PKCS8PrivateKey_nid_fp(FILE *fp, EVP_PKEY *x, int nid, char *kstr,
    int klen, pem_password_cb *cb, void *u);
MORVANE_EXPORT EVP_PKEY *d2i_PKCS8PrivateKey_bio(BIO *bp, EVP_PKEY **x, pem_password_cb *cb,
    void *u);
MORVANE_EXPORT EVP_PKEY *d2i_PKCS8PrivateKey_fp(FILE *fp, EVP_PKEY **x, pem_password_cb *cb,
    void *u);

/* ---- mixed files -------------------------------------------------------------
 * PEM_X509_INFO_read_bio reads every block up to the end of the input into
 * X509_INFO records pushed onto sk (or a new stack when sk is null):
 * "CERTIFICATE", "X509 CERTIFICATE" and "TRUSTED CERTIFICATE" (with its
 * trust record) fill x509, "X509 CRL" crl, "RSA PRIVATE KEY", "DSA PRIVATE
 * KEY" and "EC PRIVATE KEY" x_pkey; other blocks are skipped.  Blocks share
 * a record until one would fill a slot already filled.  An encrypted key is
 * kept as it is: its cipher and IV in enc_cipher, its bytes in enc_data and
 * enc_len (no pass phrase asked); other encrypted blocks are decrypted with
 * cb.  The stack, or null on the first block that fails ("ASN1 lib" when
 * its body does not decode): records pushed by this call are then freed
 * and removed, the caller's records and stack stay, a stack made here is
 * freed.  Reaching the end of the input is success; the "no start line"
 * that marks it is removed from the queue, earlier errors stay.  A read
 * that fails is no end, whether the stream queues an error (as a folder
 * opened as a file does) or not (a descriptor or socket): the call fails,
 * with "BIO lib" from PEM_read_bio after the stream's own errors.
 *
 * PEM_X509_INFO_write_bio writes the record's key (a still-encrypted key
 * as its stored bytes, cipher and IV under the name of its type; else
 * encrypted with enc as PEM_write_bio_PrivateKey does) and then its
 * certificate; a revocation list is not written.  1 or 0 ("unsupported
 * cipher" for a cipher without short name). */
MORVANE_EXPORT STACK *PEM_X509_INFO_read_bio(BIO *bp, STACK *sk, pem_password_cb *cb, void *u);
MORVANE_EXPORT STACK *PEM_X509_INFO_read(FILE *fp, STACK *sk, pem_password_cb *cb, void *u);
MORVANE_EXPORT int PEM_X509_INFO_write_bio(BIO *bp, X509_INFO *xi, const EVP_CIPHER *enc,
                                           unsigned char *kstr, int klen, pem_password_cb *cb,
                                           void *u);

/* ---- printable envelopes and signatures ----------------------------------
 * PEM_SealInit seals to RSA recipients (EVP_SealInit) and replaces each
 * encrypted key ek[i] by its base64 text (ek[i] needs room for 4 characters
 * per 3 bytes of the key size, rounded up, and a zero; ekl[i] its length):
 * npubk, -1 with "public key no rsa" for another key type, or EVP_SealInit's
 * failing result.  PEM_SealUpdate digests the plaintext and writes the
 * ciphertext in base64 lines to out (length at *outl; nothing is done for
 * an inl of 0 or less, or one whose text would pass INT_MAX characters, about
 * 1.5 GB); PEM_SealFinal ends the
 * base64 text and writes the signature of the plaintext's digest made with
 * priv (RSA only) in base64 to sig: 1 or 0.  PEM_SignInit/Update run a
 * digest; PEM_SignFinal signs it with pkey into sigret as base64 (room for
 * EVP_PKEY_size, in base64, and a zero): 1 or 0.  The contexts must be
 * valid. */
typedef struct PEM_Encode_Seal_st {
  EVP_ENCODE_CTX encode;
  EVP_MD_CTX md;
  EVP_CIPHER_CTX cipher;
} PEM_ENCODE_SEAL_CTX;

MORVANE_EXPORT int PEM_SealInit(PEM_ENCODE_SEAL_CTX *ctx, const EVP_CIPHER *type,
                                const EVP_MD *md_type, unsigned char **ek, int *ekl,
                                unsigned char *iv, EVP_PKEY **pubk, int npubk);
MORVANE_EXPORT void PEM_SealUpdate(PEM_ENCODE_SEAL_CTX *ctx, unsigned char *out, int *outl,
                                   unsigned char *in, int inl);
MORVANE_EXPORT int PEM_SealFinal(PEM_ENCODE_SEAL_CTX *ctx, unsigned char *sig, int *sigl,
                                 unsigned char *out, int *outl, EVP_PKEY *priv);
MORVANE_EXPORT void PEM_SignInit(EVP_MD_CTX *ctx, const EVP_MD *type);
MORVANE_EXPORT void PEM_SignUpdate(EVP_MD_CTX *ctx, unsigned char *data, unsigned int count);
MORVANE_EXPORT int PEM_SignFinal(EVP_MD_CTX *ctx, unsigned char *sigret, unsigned int *siglen,
                                 EVP_PKEY *pkey);

/* BEGIN ERROR CODES (generated by tools/gen_errors.py) */
/* Function codes of library 9 (PEM). */
#define PEM_F_PEM_DEF_CALLBACK 100
#define PEM_F_LOAD_IV 101
#define PEM_F_PEM_ASN1_READ 102
#define PEM_F_PEM_ASN1_READ_BIO 103
#define PEM_F_PEM_ASN1_WRITE 104
#define PEM_F_PEM_ASN1_WRITE_BIO 105
#define PEM_F_PEM_DO_HEADER 106
#define PEM_F_PEM_GET_EVP_CIPHER_INFO 107
#define PEM_F_PEM_READ 108
#define PEM_F_PEM_READ_BIO 109
#define PEM_F_PEM_SEALFINAL 110
#define PEM_F_PEM_SEALINIT 111
#define PEM_F_PEM_SIGNFINAL 112
#define PEM_F_PEM_WRITE 113
#define PEM_F_PEM_WRITE_BIO 114
#define PEM_F_PEM_X509_INFO_READ 115
#define PEM_F_PEM_X509_INFO_READ_BIO 116
#define PEM_F_PEM_X509_INFO_WRITE_BIO 117
#define PEM_F_PEM_WRITE_PKCS8PRIVATEKEY 118
#define PEM_F_PEM_PK8PKEY 119
#define PEM_F_D2I_PKCS8PRIVATEKEY_BIO 120
#define PEM_F_D2I_PKCS8PRIVATEKEY_FP 121
#define PEM_F_PEM_READ_BIO_PRIVATEKEY 123
#define PEM_F_PEM_READ_PRIVATEKEY 124
#define PEM_F_DO_PK8PKEY_FP 125
#define PEM_F_DO_PK8PKEY 126
/* Reason codes of library 9 (PEM). */
#define PEM_R_BAD_BASE64_DECODE 100
#define PEM_R_BAD_DECRYPT 101
#define PEM_R_BAD_END_LINE 102
#define PEM_R_BAD_IV_CHARS 103
#define PEM_R_BAD_PASSWORD_READ 104
#define PEM_R_NOT_DEK_INFO 105
#define PEM_R_NOT_ENCRYPTED 106
#define PEM_R_NOT_PROC_TYPE 107
#define PEM_R_NO_START_LINE 108
#define PEM_R_PROBLEMS_GETTING_PASSWORD 109
#define PEM_R_PUBLIC_KEY_NO_RSA 110
#define PEM_R_READ_KEY 111
#define PEM_R_SHORT_HEADER 112
#define PEM_R_UNSUPPORTED_CIPHER 113
#define PEM_R_UNSUPPORTED_ENCRYPTION 114
#define PEM_R_ERROR_CONVERTING_PRIVATE_KEY 115
#define PEM_R_EMPTY_BLOCK 116
/* END ERROR CODES */

MORVANE_END_DECLS

#endif /* MORVANE_PEM_H */
