#include "pkcs7_fixture.h"

#include <morvane/objects.h>
#include <morvane/rand.h>
#include <morvane/rsa.h>

#include <gtest/gtest.h>

#include <time.h>

#include "test_support.h"

namespace pkcs7_test {

EVP_PKEY* RsaKey(int n) {
  static EVP_PKEY* keys[8] = {};
  if (keys[n] == nullptr) {
    RSA* rsa = RSA_generate_key(1024, 65537, nullptr, nullptr);
    EXPECT_NE(rsa, nullptr);
    keys[n] = EVP_PKEY_new();
    EVP_PKEY_assign_RSA(keys[n], rsa);
  }
  return keys[n];
}

X509* MakeCert(EVP_PKEY* key, const char* cn, long serial, EVP_PKEY* issuer_key,
               X509_NAME* issuer_name, bool ca) {
  X509* x = X509_new();
  X509_CINF* ci = x->cert_info;
  ci->version = ASN1_INTEGER_new();
  ASN1_INTEGER_set(ci->version, 2);
  ASN1_INTEGER_set(ci->serialNumber, serial);
  X509_NAME_add_entry_by_txt(ci->subject, "CN", ASN1_MB_FLAG | 1,
                             reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
  X509_NAME_set(&ci->issuer, issuer_name != nullptr ? issuer_name : ci->subject);
  const time_t now = time(nullptr);
  ASN1_TIME_set(ci->validity->notBefore, now - 3600);
  ASN1_TIME_set(ci->validity->notAfter, now + 86400 * 30);
  X509_PUBKEY_set(&ci->key, key);
  if (ca) {
    // basicConstraints (NID 87): SEQUENCE { cA BOOLEAN TRUE }, RFC 5280, 4.2.1.9
    static const unsigned char kCaTrue[] = {0x30, 0x03, 0x01, 0x01, 0xff};
    ASN1_OCTET_STRING* value = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(value, kCaTrue, sizeof kCaTrue);
    X509_EXTENSION* ext = X509_EXTENSION_create_by_NID(nullptr, 87, 1, value);
    EXPECT_EQ(X509_add_ext(x, ext, -1), 1);
    X509_EXTENSION_free(ext);
    ASN1_OCTET_STRING_free(value);
  }
  EXPECT_GT(ASN1_item_sign(&X509_CINF_it, ci->signature, x->sig_alg, x->signature, ci,
                           issuer_key != nullptr ? issuer_key : key, EVP_sha1()),
            0);
  return x;
}

X509* CaCert() {
  static X509* ca = MakeCert(RsaKey(0), "Morvane Test CA", 1);
  return ca;
}

EVP_PKEY* UserKey(int n) { return RsaKey(n + 1); }

X509* UserCert(int n) {
  static X509* certs[7] = {};
  if (certs[n] == nullptr) {
    const std::string cn = "Morvane Test User " + std::to_string(n);
    certs[n] = MakeCert(UserKey(n), cn.c_str(), 100 + n, RsaKey(0),
                        X509_get_subject_name(CaCert()));
  }
  return certs[n];
}

std::string MemText(BIO* b) {
  char* p = nullptr;
  const long n = BIO_get_mem_data(b, &p);
  return n > 0 ? std::string(p, static_cast<size_t>(n)) : std::string();
}

std::string ReadAll(BIO* chain) {
  std::string s;
  char buf[1024];
  int n;
  while ((n = BIO_read(chain, buf, sizeof buf)) > 0) s.append(buf, static_cast<size_t>(n));
  return s;
}

PKCS7_SIGNER_INFO* Signer(PKCS7* p7, int i) {
  return reinterpret_cast<PKCS7_SIGNER_INFO*>(sk_value(PKCS7_get_signer_info(p7), i));
}

BIO* MemOf(const std::string& s) {
  BIO* b = BIO_new(BIO_s_mem());
  BIO_write(b, s.data(), static_cast<int>(s.size()));
  return b;
}

std::vector<unsigned char> Der(PKCS7* p7) {
  unsigned char* out = nullptr;
  const int n = i2d_PKCS7(p7, &out);
  std::vector<unsigned char> v;
  if (n > 0) v.assign(out, out + n);
  MORVANE_free(out);
  return v;
}

STACK* StackOf(std::initializer_list<X509*> certs) {
  STACK* sk = sk_new_null();
  for (X509* x : certs) sk_push(sk, reinterpret_cast<char*>(x));
  return sk;
}

namespace {

uint64_t fixed_state = 1;

int FixedBytes(unsigned char* buf, int num) {
  for (int i = 0; i < num; i++) {
    fixed_state ^= fixed_state << 13;
    fixed_state ^= fixed_state >> 7;
    fixed_state ^= fixed_state << 17;
    buf[i] = static_cast<unsigned char>(fixed_state >> 56);
  }
  return 1;
}

void FixedAdd(const void*, int, double) {}
void FixedSeed(const void*, int) {}
int FixedStatus() { return 1; }

const RAND_METHOD kFixed = {FixedSeed, FixedBytes, nullptr, FixedAdd, FixedBytes, FixedStatus};

}  // namespace

FixedRandom::FixedRandom(uint64_t seed) {
  fixed_state = seed != 0 ? seed : 1;
  EXPECT_EQ(RAND_set_rand_method(&kFixed), 1);
}

FixedRandom::~FixedRandom() { RAND_set_rand_method(nullptr); }

}  // namespace pkcs7_test

namespace {

// The engine finds digests and ciphers by name: register them once.  The
// counting allocator goes in first (before the library's first allocation),
// so that a test can make an allocation fail.
class Algorithms : public testing::Environment {
 public:
  void SetUp() override {
    EXPECT_TRUE(morvane_test::InstallCountingAllocator());
    Morvane_add_all_digests();
    Morvane_add_all_ciphers();
  }
};
[[maybe_unused]] testing::Environment* const kAlgorithms =
    testing::AddGlobalTestEnvironment(new Algorithms);

}  // namespace
