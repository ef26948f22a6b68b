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

// A new DSA key of key's parameters.
inline EVP_PKEY* DsaKeySharingParameters(EVP_PKEY* key) {
  DSA* from = EVP_PKEY_get1_DSA(key);
  DSA* dsa = DSA_new();
  dsa->p = BN_dup(from->p);
  dsa->q = BN_dup(from->q);
  dsa->g = BN_dup(from->g);
  DSA_generate_key(dsa);
  DSA_free(from);
  EVP_PKEY* pk = EVP_PKEY_new();
  EVP_PKEY_assign_DSA(pk, dsa);
  return pk;
}

// Counts the RSA public-key operations (signature checks) of the keys
// decoded while it lives, whose method is then a counting copy of the
// default one; with `only`, those of that modulus alone.  One at a time.
class CountingRsaPublic {
 public:
  explicit CountingRsaPublic(const BIGNUM* only = nullptr) {
    method_ = *RSA_get_default_method();
    pub_dec_ = method_.rsa_pub_dec;
    method_.rsa_pub_dec = Count;
    only_ = only;
    count_ = 0;
    RSA_set_default_method(&method_);
  }
  ~CountingRsaPublic() { RSA_set_default_method(nullptr); }
  CountingRsaPublic(const CountingRsaPublic&) = delete;
  CountingRsaPublic& operator=(const CountingRsaPublic&) = delete;

  long count() const { return count_; }
  void reset() { count_ = 0; }

 private:
  static int Count(int flen, const unsigned char* from, unsigned char* to, RSA* rsa, int padding) {
    if (only_ == nullptr || BN_cmp(rsa->n, only_) == 0) count_++;
    return pub_dec_(flen, from, to, rsa, padding);
  }

  RSA_METHOD method_;
  static inline int (*pub_dec_)(int, const unsigned char*, unsigned char*, RSA*, int) = nullptr;
  static inline const BIGNUM* only_ = nullptr;
  static inline long count_ = 0;
};

}  // namespace x509_test

#endif  // MORVANE_TEST_X509_KEY_UTIL_H
