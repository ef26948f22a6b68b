// Fuzzes the signed X.509 structures: arbitrary DER through d2i_X509,
// d2i_X509_CRL and d2i_X509_REQ, then the getters and the one-line subject,
// signature verification with the structure's own key, the digests, the
// certificate type, the sorting of revocation-list entries, the requested
// extensions and the conversion of a request to a certificate signed with a
// fixed key.
//
// Checks: verification gives 1, 0 or -1; a digest that succeeds has the
// digest's length; sorted entries are numbered in order; a request that
// converts gives a certificate that verifies with the fixed key.

#include "fuzz_check.h"

#include <cstdint>

#include <morvane/asn1.h>
#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/rsa.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

namespace {

EVP_PKEY* FixedKey() {
  static EVP_PKEY* key = [] {
    MORVANE_add_all_algorithms_noconf();
    RSA* rsa = RSA_new();
    BIGNUM* e = BN_new();
    BN_set_word(e, 65537);
    RSA_generate_key_ex(rsa, 512, e, nullptr);
    BN_free(e);
    EVP_PKEY* k = EVP_PKEY_new();
    EVP_PKEY_assign_RSA(k, rsa);
    return k;
  }();
  return key;
}

template <class T>
void Digests(int (*digest)(const T*, const EVP_MD*, unsigned char*, unsigned int*), const T* obj) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (digest(obj, EVP_sha1(), md, &len)) Check(len == 20, "SHA-1 digest length");
}

void FuzzCert(const uint8_t* data, size_t size) {
  const unsigned char* p = data;
  X509* x = d2i_X509(nullptr, &p, static_cast<long>(size));
  if (x == nullptr) return;
  X509_get_issuer_name(x);
  X509_get_subject_name(x);
  Check(X509_get0_subject_oneline(x) != nullptr || ERR_peek_error() != 0,
        "a one-line subject or a reason");
  X509_get_serialNumber(x);
  X509_get0_pubkey_bitstr(x);
  EVP_PKEY* k = X509_get_pubkey(x);
  const int v = X509_verify(x, k);
  Check(v >= -1 && v <= 1, "X509_verify result");
  X509_certificate_type(x, nullptr);
  X509_certificate_type(x, FixedKey());
  Digests(X509_digest, x);
  Digests(X509_pubkey_digest, x);
  Digests(X509_NAME_digest, X509_get_subject_name(x));
  X509_check_private_key(x, FixedKey());
  X509_REQ* r = X509_to_X509_REQ(x, nullptr, nullptr);
  X509_REQ_free(r);
  EVP_PKEY_free(k);
  X509_free(x);
}

void FuzzCrl(const uint8_t* data, size_t size) {
  const unsigned char* p = data;
  X509_CRL* c = d2i_X509_CRL(nullptr, &p, static_cast<long>(size));
  if (c == nullptr) return;
  const int v = X509_CRL_verify(c, FixedKey());
  Check(v >= -1 && v <= 1, "X509_CRL_verify result");
  Digests(X509_CRL_digest, c);
  Check(X509_CRL_sort(c) == 1, "X509_CRL_sort result");
  for (int i = 0; i < sk_num(c->crl->revoked); i++)
    Check(reinterpret_cast<X509_REVOKED*>(sk_value(c->crl->revoked, i))->sequence == i,
          "sorted entry numbered by position");
  unsigned char* der = nullptr;
  const int n = i2d_X509_CRL(c, &der);
  MORVANE_free(der);
  (void)n;
  X509_CRL_free(c);
}

void FuzzReq(const uint8_t* data, size_t size) {
  const unsigned char* p = data;
  X509_REQ* r = d2i_X509_REQ(nullptr, &p, static_cast<long>(size));
  if (r == nullptr) return;
  EVP_PKEY* k = X509_REQ_get_pubkey(r);
  const int v = X509_REQ_verify(r, k);
  Check(v >= -1 && v <= 1, "X509_REQ_verify result");
  EVP_PKEY_free(k);
  Digests(X509_REQ_digest, r);
  STACK* exts = X509_REQ_get_extensions(r);
  while (sk_num(exts) > 0) X509_EXTENSION_free(reinterpret_cast<X509_EXTENSION*>(sk_pop(exts)));
  sk_free(exts);
  X509_REQ_check_private_key(r, FixedKey());
  X509* x = X509_REQ_to_X509(r, 1, FixedKey());
  if (x != nullptr) {
    Check(X509_verify(x, FixedKey()) == 1, "converted request verifies with the fixed key");
    X509_free(x);
  }
  X509_REQ_free(r);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FixedKey();
  FuzzCert(data, size);
  FuzzCrl(data, size);
  FuzzReq(data, size);
  ERR_clear_error();
  return 0;
}
