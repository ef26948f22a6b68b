// A test CA for the OCSP tests: an RSA key and a self-signed certificate
// made once per program, end-entity certificates it issues, and a basic
// response signed by it.
#ifndef MORVANE_TEST_OCSP_OCSP_UTIL_H
#define MORVANE_TEST_OCSP_OCSP_UTIL_H

#include <string>

#include <morvane/asn1.h>
#include <morvane/bn.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/ocsp.h>
#include <morvane/rsa.h>
#include <morvane/x509.h>

namespace ocsp_test {

inline void AddAlgorithms() {
  static const bool done = [] {
    MORVANE_add_all_algorithms_noconf();
    return true;
  }();
  (void)done;
}

inline EVP_PKEY* NewRsaKey() {
  RSA* rsa = RSA_new();
  BIGNUM* e = BN_new();
  BN_set_word(e, 65537);
  RSA_generate_key_ex(rsa, 1024, e, nullptr);
  BN_free(e);
  EVP_PKEY* pk = EVP_PKEY_new();
  EVP_PKEY_assign_RSA(pk, rsa);
  return pk;
}

// Lives for the program.
inline EVP_PKEY* CaKey() {
  static EVP_PKEY* k = NewRsaKey();
  return k;
}

// A certificate of subject CN=cn with serial, issued by CA (CN=Test OCSP CA)
// under key ca_key; self-signed when issuer_cn is cn.
inline X509* MakeCert(const char* cn, long serial, EVP_PKEY* pub, EVP_PKEY* ca_key) {
  AddAlgorithms();
  X509* x = X509_new();
  X509_set_version(x, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(x), serial);
  X509_NAME* subj = X509_NAME_new();
  X509_NAME_add_entry_by_txt(subj, "CN", ASN1_MB_ASCII, reinterpret_cast<const unsigned char*>(cn),
                             -1, -1, 0);
  X509_NAME* iss = X509_NAME_new();
  X509_NAME_add_entry_by_txt(iss, "CN", ASN1_MB_ASCII,
                             reinterpret_cast<const unsigned char*>("Test OCSP CA"), -1, -1, 0);
  X509_set_subject_name(x, subj);
  X509_set_issuer_name(x, iss);
  X509_NAME_free(subj);
  X509_NAME_free(iss);
  X509_gmtime_adj(x->cert_info->validity->notBefore, -3600);
  X509_gmtime_adj(x->cert_info->validity->notAfter, 86400);
  X509_set_pubkey(x, pub);
  X509_sign(x, ca_key, EVP_sha256());
  return x;
}

inline X509* CaCert() {
  static X509* x = MakeCert("Test OCSP CA", 1, CaKey(), CaKey());
  return x;
}

inline std::string Der(OCSP_RESPONSE* r) {
  unsigned char* p = nullptr;
  const int n = i2d_OCSP_RESPONSE(r, &p);
  std::string s(reinterpret_cast<char*>(p), n > 0 ? n : 0);
  CRYPTO_free(p);
  return s;
}

}  // namespace ocsp_test

#endif  // MORVANE_TEST_OCSP_OCSP_UTIL_H
