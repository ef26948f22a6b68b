// Keys of the X.509 and PEM tests, generated once per test program, and the
// algorithm registry filled once (signature verification finds digests by
// name).
#ifndef MORVANE_TEST_X509_KEY_UTIL_H
#define MORVANE_TEST_X509_KEY_UTIL_H

#include <morvane/bn.h>
#include <morvane/dsa.h>
#include <morvane/ec.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/rsa.h>

namespace x509_test {

inline void AddAlgorithms() {
  static const bool done = [] {
    MORVANE_add_all_algorithms_noconf();
    return true;
  }();
  (void)done;
}

inline EVP_PKEY* NewRsaKey(int bits) {
  RSA* rsa = RSA_new();
  BIGNUM* e = BN_new();
  BN_set_word(e, 65537);
  RSA_generate_key_ex(rsa, bits, e, nullptr);
  BN_free(e);
  EVP_PKEY* pk = EVP_PKEY_new();
  EVP_PKEY_assign_RSA(pk, rsa);
  return pk;
}

// Shared keys: never freed by the tests (they live for the program).
inline EVP_PKEY* RsaKey() {
  static EVP_PKEY* k = NewRsaKey(1024);
  return k;
}
inline EVP_PKEY* RsaKey2() {
  static EVP_PKEY* k = NewRsaKey(1024);
  return k;
}
inline EVP_PKEY* DsaKey() {
  static EVP_PKEY* k = [] {
    DSA* dsa = DSA_new();
    DSA_generate_parameters_ex(dsa, 1024, nullptr, 0, nullptr, nullptr, nullptr);
    DSA_generate_key(dsa);
    EVP_PKEY* pk = EVP_PKEY_new();
    EVP_PKEY_assign_DSA(pk, dsa);
    return pk;
  }();
  return k;
}
inline EVP_PKEY* EcKey() {
  static EVP_PKEY* k = [] {
    EC_KEY* ec = EC_KEY_new_by_curve_name(415);  // prime256v1
    EC_KEY_generate_key(ec);
    EVP_PKEY* pk = EVP_PKEY_new();
    EVP_PKEY_assign_EC_KEY(pk, ec);
    return pk;
  }();
  return k;
}

}  // namespace x509_test

#endif  // MORVANE_TEST_X509_KEY_UTIL_H
