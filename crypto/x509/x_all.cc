// Signing, verifying and digesting certificates, requests, revocation lists
// and signed public keys and challenges, and the DER reading and writing of
// the X.509 structures and keys on streams and FILE handles.

#include <stdio.h>
#include <string.h>

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/dsa.h>
#include <morvane/ec.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/rsa.h>
#include <morvane/pkcs7.h>
#include <morvane/x509.h>

#include "internal/codec_thunk.h"

/* see morvane/x509.h */
int X509_sign(X509* x, EVP_PKEY* pkey, const EVP_MD* md) {
  if (x == nullptr || x->cert_info == nullptr) return 0;
  // As for revocation lists below: the octets read are no longer what is
  // signed.
  x->cert_info->enc.modified = 1;
  return ASN1_item_sign(&X509_CINF_it, x->cert_info->signature, x->sig_alg, x->signature,
                        x->cert_info, pkey, md);
}

/* see morvane/x509.h */
int X509_REQ_sign(X509_REQ* x, EVP_PKEY* pkey, const EVP_MD* md) {
  if (x == nullptr || x->req_info == nullptr) return 0;
  // As for certificates: the octets read are no longer what is signed.
  x->req_info->enc.modified = 1;
  return ASN1_item_sign(&X509_REQ_INFO_it, x->sig_alg, nullptr, x->signature, x->req_info, pkey,
                        md);
}

/* see morvane/x509.h */
int X509_CRL_sign(X509_CRL* x, EVP_PKEY* pkey, const EVP_MD* md) {
  if (x == nullptr || x->crl == nullptr) return 0;
  // The algorithm written below lies inside the signed part: encode it
  // afresh rather than from the octets it was read from.
  x->crl->enc.modified = 1;
  return ASN1_item_sign(&X509_CRL_INFO_it, x->crl->sig_alg, x->sig_alg, x->signature, x->crl,
                        pkey, md);
}

/* see morvane/x509.h */
int NETSCAPE_SPKI_sign(NETSCAPE_SPKI* x, EVP_PKEY* pkey, const EVP_MD* md) {
  if (x == nullptr || x->spkac == nullptr) return 0;
  return ASN1_item_sign(&NETSCAPE_SPKAC_it, x->sig_algor, nullptr, x->signature, x->spkac, pkey,
                        md);
}

namespace {

// RFC 5280, 4.1.1.2 and 5.1.1.2: the signature algorithm outside the signed
// part must be the one inside it, octet for octet; else one signature would
// stand for two encodings.  1 when they are, 0 (with the reason queued
// under func) when not, -1 without memory to compare them.
int same_algorithm(X509_ALGOR* outer, X509_ALGOR* inner, int func) {
  const int len = i2d_X509_ALGOR(outer, nullptr);
  int same = len > 0 && len == i2d_X509_ALGOR(inner, nullptr);
  if (same) {
    auto* der = static_cast<unsigned char*>(MORVANE_malloc(2 * static_cast<size_t>(len)));
    if (der == nullptr) {
      X509err(func, ERR_R_MALLOC_FAILURE);
      return -1;
    }
    unsigned char* p = der;
    unsigned char* q = der + len;
    same = i2d_X509_ALGOR(outer, &p) == len && i2d_X509_ALGOR(inner, &q) == len &&
           memcmp(der, der + len, static_cast<size_t>(len)) == 0;
    MORVANE_free(der);
  }
  if (!same) X509err(func, X509_R_SIGNATURE_ALGORITHM_MISMATCH);
  return same;
}

}  // namespace

/* see morvane/x509.h */
int X509_verify(X509* a, EVP_PKEY* r) {
  if (a == nullptr || a->cert_info == nullptr) return -1;
  const int same = same_algorithm(a->sig_alg, a->cert_info->signature, X509_F_X509_VERIFY);
  if (same != 1) return same;
  return ASN1_item_verify(&X509_CINF_it, a->sig_alg, a->signature, a->cert_info, r);
}

/* see morvane/x509.h */
int X509_REQ_verify(X509_REQ* a, EVP_PKEY* r) {
  if (a == nullptr || a->req_info == nullptr) return -1;
  return ASN1_item_verify(&X509_REQ_INFO_it, a->sig_alg, a->signature, a->req_info, r);
}

/* see morvane/x509.h */
int X509_CRL_verify(X509_CRL* a, EVP_PKEY* r) {
  if (a == nullptr || a->crl == nullptr) return -1;
  const int same = same_algorithm(a->sig_alg, a->crl->sig_alg, X509_F_X509_CRL_VERIFY);
  if (same != 1) return same;
  return ASN1_item_verify(&X509_CRL_INFO_it, a->sig_alg, a->signature, a->crl, r);
}

/* see morvane/x509.h */
int NETSCAPE_SPKI_verify(NETSCAPE_SPKI* a, EVP_PKEY* r) {
  if (a == nullptr || a->spkac == nullptr) return -1;
  return ASN1_item_verify(&NETSCAPE_SPKAC_it, a->sig_algor, a->signature, a->spkac, r);
}

namespace {

int item_digest(const ASN1_ITEM* it, void* data, const EVP_MD* type, unsigned char* md,
                unsigned int* len) {
  if (data == nullptr) return 0;
  unsigned int n = 0;
  if (!ASN1_item_digest(it, type, data, md, &n)) return 0;
  if (len != nullptr) *len = n;
  return 1;
}

}  // namespace

/* see morvane/x509.h */
int X509_digest(const X509* data, const EVP_MD* type, unsigned char* md, unsigned int* len) {
  return item_digest(&X509_it, const_cast<X509*>(data), type, md, len);
}

/* see morvane/x509.h */
int X509_CRL_digest(const X509_CRL* data, const EVP_MD* type, unsigned char* md,
                    unsigned int* len) {
  return item_digest(&X509_CRL_it, const_cast<X509_CRL*>(data), type, md, len);
}

/* see morvane/x509.h */
int X509_REQ_digest(const X509_REQ* data, const EVP_MD* type, unsigned char* md,
                    unsigned int* len) {
  return item_digest(&X509_REQ_it, const_cast<X509_REQ*>(data), type, md, len);
}

/* see morvane/x509.h */
int X509_NAME_digest(const X509_NAME* data, const EVP_MD* type, unsigned char* md,
                     unsigned int* len) {
  return item_digest(&X509_NAME_it, const_cast<X509_NAME*>(data), type, md, len);
}

/* see morvane/x509.h */
int X509_pubkey_digest(const X509* data, const EVP_MD* type, unsigned char* md,
                       unsigned int* len) {
  if (data == nullptr) return 0;
  const ASN1_BIT_STRING* key = X509_get0_pubkey_bitstr(data);
  if (key == nullptr) return 0;
  return EVP_Digest(key->data, static_cast<size_t>(key->length), md, len, type, nullptr);
}

// The DER stream and FILE functions, four for each row: d2i_<N>_fp,
// i2d_<N>_fp, d2i_<N>_bio and i2d_<N>_bio.  Template rows go through the
// structure's item; function rows through a constructor, a decoder and an
// encoder.
#define MORVANE_X509_DER_ITEM_ROWS(X)          \
  X(X509, X509, X509_it)                       \
  X(X509_CRL, X509_CRL, X509_CRL_it)           \
  X(X509_REQ, X509_REQ, X509_REQ_it)           \
  X(RSA, RSAPrivateKey, RSAPrivateKey_it)      \
  X(RSA, RSAPublicKey, RSAPublicKey_it)      \
  X(PKCS7, PKCS7, PKCS7_it)

#define MORVANE_X509_DER_FUNC_ROWS(X)                                                       \
  X(RSA, RSA_PUBKEY, RSA_new, d2i_RSA_PUBKEY, i2d_RSA_PUBKEY)                               \
  X(DSA, DSAPrivateKey, DSA_new, d2i_DSAPrivateKey, i2d_DSAPrivateKey)                      \
  X(DSA, DSA_PUBKEY, DSA_new, d2i_DSA_PUBKEY, i2d_DSA_PUBKEY)                               \
  X(EC_KEY, EC_PUBKEY, EC_KEY_new, d2i_EC_PUBKEY, i2d_EC_PUBKEY)                            \
  X(EC_KEY, ECPrivateKey, EC_KEY_new, d2i_ECPrivateKey, i2d_ECPrivateKey)                   \
  X(X509_SIG, PKCS8, X509_SIG_new, d2i_X509_SIG, i2d_X509_SIG)                              \
  X(PKCS8_PRIV_KEY_INFO, PKCS8_PRIV_KEY_INFO, PKCS8_PRIV_KEY_INFO_new,                      \
    d2i_PKCS8_PRIV_KEY_INFO, i2d_PKCS8_PRIV_KEY_INFO)                                       \
  X(EVP_PKEY, PrivateKey, EVP_PKEY_new, d2i_AutoPrivateKey, i2d_PrivateKey)                 \
  X(EVP_PKEY, PUBKEY, EVP_PKEY_new, d2i_PUBKEY, i2d_PUBKEY)

#define MORVANE_DER_ITEM_IO(T, N, IT)                                      \
  T* d2i_##N##_fp(FILE* fp, T** x) {                                       \
    return static_cast<T*>(ASN1_item_d2i_fp(&IT, fp, x));                  \
  }                                                                        \
  int i2d_##N##_fp(FILE* fp, T* x) { return ASN1_item_i2d_fp(&IT, fp, x); } \
  T* d2i_##N##_bio(BIO* bp, T** x) {                                       \
    return static_cast<T*>(ASN1_item_d2i_bio(&IT, bp, x));                 \
  }                                                                        \
  int i2d_##N##_bio(BIO* bp, T* x) { return ASN1_item_i2d_bio(&IT, bp, x); }

#define MORVANE_DER_FUNC_IO(T, N, NEW, D2I, I2D)                                            \
  T* d2i_##N##_fp(FILE* fp, T** x) {                                                        \
    return static_cast<T*>(ASN1_d2i_fp(new_thunk<T, NEW>, d2i_thunk<T, D2I>, fp,            \
                                       reinterpret_cast<void**>(x)));                       \
  }                                                                                         \
  int i2d_##N##_fp(FILE* fp, T* x) { return ASN1_i2d_fp(i2d_thunk<T, I2D>, fp, x); }        \
  T* d2i_##N##_bio(BIO* bp, T** x) {                                                        \
    return static_cast<T*>(ASN1_d2i_bio(new_thunk<T, NEW>, d2i_thunk<T, D2I>, bp,           \
                                        reinterpret_cast<void**>(x)));                      \
  }                                                                                         \
  int i2d_##N##_bio(BIO* bp, T* x) { return ASN1_i2d_bio(i2d_thunk<T, I2D>, bp, x); }

using morvane::internal::d2i_thunk;
using morvane::internal::i2d_thunk;
using morvane::internal::new_thunk;

MORVANE_X509_DER_ITEM_ROWS(MORVANE_DER_ITEM_IO)
MORVANE_X509_DER_FUNC_ROWS(MORVANE_DER_FUNC_IO)

namespace {

template <class Writer>
int write_pkcs8(EVP_PKEY* key, Writer write) {
  PKCS8_PRIV_KEY_INFO* p8 = EVP_PKEY2PKCS8(key);
  if (p8 == nullptr) return 0;
  const int ret = write(p8);
  PKCS8_PRIV_KEY_INFO_free(p8);
  return ret;
}

}  // namespace

/* see morvane/x509.h */
int i2d_PKCS8PrivateKeyInfo_fp(FILE* fp, EVP_PKEY* key) {
  return write_pkcs8(key, [fp](PKCS8_PRIV_KEY_INFO* p8) {
    return i2d_PKCS8_PRIV_KEY_INFO_fp(fp, p8);
  });
}

/* see morvane/x509.h */
int i2d_PKCS8PrivateKeyInfo_bio(BIO* bp, EVP_PKEY* key) {
  return write_pkcs8(key, [bp](PKCS8_PRIV_KEY_INFO* p8) {
    return i2d_PKCS8_PRIV_KEY_INFO_bio(bp, p8);
  });
}

/* see morvane/pkcs7.h */
int PKCS7_ISSUER_AND_SERIAL_digest(PKCS7_ISSUER_AND_SERIAL* data, const EVP_MD* type,
                                   unsigned char* md, unsigned int* len) {
  return item_digest(&PKCS7_ISSUER_AND_SERIAL_it, data, type, md, len);
}
