// Keys and certificates for the PKCS#7 tests: RSA keys generated once per
// test binary, certificates issued by a generated CA and signed with
// ASN1_item_sign.
#ifndef MORVANE_TEST_PKCS7_FIXTURE_H
#define MORVANE_TEST_PKCS7_FIXTURE_H

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/evp.h>
#include <morvane/pkcs7.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

#include <cstdint>
#include <string>
#include <vector>

namespace pkcs7_test {

// An RSA key of 1024 bits, the n-th of a fixed pool generated once.
EVP_PKEY* RsaKey(int n);
// A certificate for the key with the given subject common name and serial,
// signed by `issuer_key` under `issuer_name` (itself when null); `ca` adds a
// critical basicConstraints extension with cA TRUE.
X509* MakeCert(EVP_PKEY* key, const char* cn, long serial, EVP_PKEY* issuer_key = nullptr,
               X509_NAME* issuer_name = nullptr, bool ca = false);
// The CA of the tests and the end-entity certificate n (key RsaKey(n + 1)),
// built once; borrowed.
X509* CaCert();
X509* UserCert(int n);
EVP_PKEY* UserKey(int n);

std::string MemText(BIO* b);
// Reads `chain` to its end.
std::string ReadAll(BIO* chain);
// Signer record i of signed or signed-and-enveloped data (borrowed).
PKCS7_SIGNER_INFO* Signer(PKCS7* p7, int i);
BIO* MemOf(const std::string& s);
std::vector<unsigned char> Der(PKCS7* p7);
STACK* StackOf(std::initializer_list<X509*> certs);

// While it lives, random bytes come from a fixed stream (xorshift64 of
// `seed`): what a random content key decrypts to is then the same on every
// run.
class FixedRandom {
 public:
  explicit FixedRandom(uint64_t seed);
  ~FixedRandom();
  FixedRandom(const FixedRandom&) = delete;
  FixedRandom& operator=(const FixedRandom&) = delete;
};

}  // namespace pkcs7_test

#endif
