// The typed PEM readers and writers: for each row of the table below,
// PEM_read_bio_<T>, PEM_read_<T>, PEM_write_bio_<T> and PEM_write_<T>, which
// hand the type's DER decoder or encoder and its block name to the generic
// reader and writer.  Writers of keys may encrypt; the private-key readers
// are in pem_pkey.cc.

#include <stdio.h>

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/dh.h>
#include <morvane/dsa.h>
#include <morvane/ec.h>
#include <morvane/evp.h>
#include <morvane/pem.h>
#include <morvane/rsa.h>
#include <morvane/x509.h>

#include "internal/codec_thunk.h"

// Rows with both reader and writer: object type, function suffix, block
// name, decoder, encoder.
#define MORVANE_PEM_RW_ROWS(X)                                                             \
  X(X509, X509, PEM_STRING_X509, d2i_X509, i2d_X509)                                       \
  X(X509, X509_AUX, PEM_STRING_X509_TRUSTED, d2i_X509_AUX, i2d_X509_AUX)                   \
  X(X509_CERT_PAIR, X509_CERT_PAIR, PEM_STRING_X509_PAIR, d2i_X509_CERT_PAIR,              \
    i2d_X509_CERT_PAIR)                                                                    \
  X(X509_REQ, X509_REQ, PEM_STRING_X509_REQ, d2i_X509_REQ, i2d_X509_REQ)                   \
  X(X509_CRL, X509_CRL, PEM_STRING_X509_CRL, d2i_X509_CRL, i2d_X509_CRL)                   \
  X(NETSCAPE_CERT_SEQUENCE, NETSCAPE_CERT_SEQUENCE, PEM_STRING_X509,                       \
    d2i_NETSCAPE_CERT_SEQUENCE, i2d_NETSCAPE_CERT_SEQUENCE)                                \
  X(RSA, RSAPublicKey, PEM_STRING_RSA_PUBLIC, d2i_RSAPublicKey, i2d_RSAPublicKey)          \
  X(RSA, RSA_PUBKEY, PEM_STRING_PUBLIC, d2i_RSA_PUBKEY, i2d_RSA_PUBKEY)                    \
  X(DSA, DSA_PUBKEY, PEM_STRING_PUBLIC, d2i_DSA_PUBKEY, i2d_DSA_PUBKEY)                    \
  X(DSA, DSAparams, PEM_STRING_DSAPARAMS, d2i_DSAparams, i2d_DSAparams)                    \
  X(EC_KEY, EC_PUBKEY, PEM_STRING_PUBLIC, d2i_EC_PUBKEY, i2d_EC_PUBKEY)                    \
  X(DH, DHparams, PEM_STRING_DHPARAMS, d2i_DHparams, i2d_DHparams)                         \
  X(EVP_PKEY, PUBKEY, PEM_STRING_PUBLIC, d2i_PUBKEY, i2d_PUBKEY)                           \
  X(X509_SIG, PKCS8, PEM_STRING_PKCS8, d2i_X509_SIG, i2d_X509_SIG)                         \
  X(PKCS8_PRIV_KEY_INFO, PKCS8_PRIV_KEY_INFO, PEM_STRING_PKCS8INF, d2i_PKCS8_PRIV_KEY_INFO, \
    i2d_PKCS8_PRIV_KEY_INFO)

// Rows with a writer only: object type, suffix, block name, encoder.
#define MORVANE_PEM_W_ROWS(X) X(X509_REQ, X509_REQ_NEW, PEM_STRING_X509_REQ_OLD, i2d_X509_REQ)

// Key rows, whose writers may encrypt (their readers take any private-key
// block, pem_pkey.cc): object type, suffix, block name, encoder.
#define MORVANE_PEM_KEY_ROWS(X)                                  \
  X(RSA, RSAPrivateKey, PEM_STRING_RSA, i2d_RSAPrivateKey)       \
  X(DSA, DSAPrivateKey, PEM_STRING_DSA, i2d_DSAPrivateKey)       \
  X(EC_KEY, ECPrivateKey, PEM_STRING_ECPRIVATEKEY, i2d_ECPrivateKey)

#define MORVANE_PEM_READ(T, N, NAME, D2I)                                                    \
  T* PEM_read_bio_##N(BIO* bp, T** x, pem_password_cb* cb, void* u) {                        \
    return static_cast<T*>(PEM_ASN1_read_bio(d2i_thunk<T, D2I>, NAME, bp, \
                                             reinterpret_cast<void**>(x), cb, u));           \
  }                                                                                          \
  T* PEM_read_##N(FILE* fp, T** x, pem_password_cb* cb, void* u) {                           \
    return static_cast<T*>(PEM_ASN1_read(d2i_thunk<T, D2I>, NAME, fp,     \
                                         reinterpret_cast<void**>(x), cb, u));               \
  }

#define MORVANE_PEM_WRITE(T, N, NAME, I2D)                                                 \
  int PEM_write_bio_##N(BIO* bp, T* x) {                                                   \
    return PEM_ASN1_write_bio(i2d_thunk<T, I2D>, NAME, bp,               \
                              reinterpret_cast<char*>(x), nullptr, nullptr, 0, nullptr,    \
                              nullptr);                                                    \
  }                                                                                        \
  int PEM_write_##N(FILE* fp, T* x) {                                                      \
    return PEM_ASN1_write(i2d_thunk<T, I2D>, NAME, fp,                   \
                          reinterpret_cast<char*>(x), nullptr, nullptr, 0, nullptr, nullptr); \
  }

#define MORVANE_PEM_RW(T, N, NAME, D2I, I2D) \
  MORVANE_PEM_READ(T, N, NAME, D2I)          \
  MORVANE_PEM_WRITE(T, N, NAME, I2D)

#define MORVANE_PEM_KEY_WRITE(T, N, NAME, I2D)                                                \
  int PEM_write_bio_##N(BIO* bp, T* x, const EVP_CIPHER* enc, unsigned char* kstr, int klen, \
                        pem_password_cb* cb, void* u) {                                       \
    return PEM_ASN1_write_bio(i2d_thunk<T, I2D>, NAME, bp,                  \
                              reinterpret_cast<char*>(x), enc, kstr, klen, cb, u);            \
  }                                                                                           \
  int PEM_write_##N(FILE* fp, T* x, const EVP_CIPHER* enc, unsigned char* kstr, int klen,     \
                    pem_password_cb* cb, void* u) {                                           \
    return PEM_ASN1_write(i2d_thunk<T, I2D>, NAME, fp,                      \
                          reinterpret_cast<char*>(x), enc, kstr, klen, cb, u);                \
  }

using morvane::internal::d2i_thunk;
using morvane::internal::i2d_thunk;

MORVANE_PEM_RW_ROWS(MORVANE_PEM_RW)
MORVANE_PEM_W_ROWS(MORVANE_PEM_WRITE)
MORVANE_PEM_KEY_ROWS(MORVANE_PEM_KEY_WRITE)
