// Names and identity of real certificates: the PKITS data
// (../shared/vectors/pkits, NIST Public Key Interoperability Test Suite,
// 2048-bit RSA edition).  The name-chaining tests of its section 4.3 decide
// which issuer names match their CA's subject.

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

#include "der_util.h"
#include "test_support.h"

namespace {

using x509_test::Decode;

X509* ReadCert(const std::string& dir, const std::string& file) {
  X509* x = Decode(d2i_X509, morvane_test::ReadFileBytes(dir + "/" + file));
  EXPECT_NE(nullptr, x) << file;
  return x;
}

// Every certificate of the folder, in file-name order.
std::vector<X509*> ReadAll(const std::string& dir) {
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.path().extension() == ".crt") files.push_back(e.path().filename().string());
  std::sort(files.begin(), files.end());
  std::vector<X509*> out;
  for (const std::string& f : files) out.push_back(ReadCert(dir, f));
  return out;
}

TEST(PkitsNames, TrustAnchorHashAndText) {
  MORVANE_VECTOR_PATH_OR_SKIP(dir, "pkits/certs");
  X509* ta = ReadCert(dir, "TrustAnchorRootCertificate.crt");
  ASSERT_NE(nullptr, ta);
  EXPECT_EQ(0x9e747f8cUL, X509_NAME_hash(X509_get_subject_name(ta)));
  EXPECT_EQ(0x9e747f8cUL, X509_subject_name_hash(ta));
  EXPECT_EQ(0x9e747f8cUL, X509_issuer_name_hash(ta));  // self-issued
  char* text = X509_NAME_oneline(X509_get_subject_name(ta), nullptr, 0);
  EXPECT_STREQ("/C=US/O=Test Certificates 2011/CN=Trust Anchor", text);
  MORVANE_free(text);
  X509_free(ta);
}

// Whitespace and capitalization differences in PrintableString match; a
// UTF8String compares byte for byte.
TEST(PkitsNames, NameChaining) {
  MORVANE_VECTOR_PATH_OR_SKIP(dir, "pkits/certs");
  const struct {
    const char* ee;
    const char* ca;
    bool match;
  } cases[] = {
      {"ValidNameChainingWhitespaceTest3EE.crt", "GoodCACert.crt", true},
      {"ValidNameChainingWhitespaceTest4EE.crt", "GoodCACert.crt", true},
      {"ValidNameChainingCapitalizationTest5EE.crt", "GoodCACert.crt", true},
      {"ValidUTF8StringCaseInsensitiveMatchTest11EE.crt",
       "UTF8StringCaseInsensitiveMatchCACert.crt", false},
      {"InvalidNameChainingTest1EE.crt", "GoodCACert.crt", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ee);
    X509* ee = ReadCert(dir, c.ee);
    X509* ca = ReadCert(dir, c.ca);
    ASSERT_TRUE(ee != nullptr && ca != nullptr);
    EXPECT_EQ(c.match, X509_NAME_cmp(X509_get_issuer_name(ee), X509_get_subject_name(ca)) == 0);
    X509_free(ee);
    X509_free(ca);
  }
}

// Each certificate equals a decoded copy of itself and differs from every
// other: sorted by X509_cmp, no two neighbours compare equal.
TEST(PkitsNames, CertificateIdentity) {
  MORVANE_VECTOR_PATH_OR_SKIP(dir, "pkits/certs");
  std::vector<X509*> certs = ReadAll(dir);
  EXPECT_EQ(405u, certs.size());
  for (X509* x : certs) {
    ASSERT_NE(nullptr, x);
    X509* copy = X509_dup(x);
    ASSERT_NE(nullptr, copy);
    EXPECT_EQ(0, X509_cmp(x, copy));
    X509_free(copy);
  }
  std::vector<X509*> sorted = certs;
  std::sort(sorted.begin(), sorted.end(), [](X509* a, X509* b) { return X509_cmp(a, b) < 0; });
  for (size_t i = 1; i < sorted.size(); i++) EXPECT_NE(0, X509_cmp(sorted[i - 1], sorted[i]));
  for (X509* x : certs) X509_free(x);
  EXPECT_ERRORS({});
}

// Every certificate's key decodes; it matches the certificate it came from
// and no other (the RSA moduli all differ).
TEST(PkitsNames, PublicKeys) {
  MORVANE_VECTOR_PATH_OR_SKIP(dir, "pkits/certs");
  X509* ta = ReadCert(dir, "TrustAnchorRootCertificate.crt");
  X509* ca = ReadCert(dir, "GoodCACert.crt");
  ASSERT_TRUE(ta != nullptr && ca != nullptr);
  EVP_PKEY* ta_key = X509_get_pubkey(ta);
  if (ta_key == nullptr) {
    ERR_clear_error();
    X509_free(ta);
    X509_free(ca);
    GTEST_SKIP() << "RSA keys are not built yet";
  }
  EXPECT_EQ(EVP_PKEY_RSA, ta_key->type);
  EXPECT_EQ(1, X509_check_private_key(ta, ta_key));
  EXPECT_EQ(0, X509_check_private_key(ca, ta_key));
  EXPECT_ERRORS({{ERR_LIB_X509, X509_F_X509_CHECK_PRIVATE_KEY, X509_R_KEY_VALUES_MISMATCH}});
  // The BIT STRING holds the RSAPublicKey whose key was decoded.
  const ASN1_BIT_STRING* bits = X509_get0_pubkey_bitstr(ta);
  ASSERT_NE(nullptr, bits);
  const unsigned char* p = bits->data;
  EVP_PKEY* again = d2i_PublicKey(EVP_PKEY_RSA, nullptr, &p, bits->length);
  ASSERT_NE(nullptr, again);
  EXPECT_EQ(1, EVP_PKEY_cmp(ta_key, again));
  EVP_PKEY_free(again);
  EVP_PKEY_free(ta_key);
  X509_free(ta);
  X509_free(ca);
}

TEST(PkitsNames, FindByIssuerAndSerialAndSubject) {
  MORVANE_VECTOR_PATH_OR_SKIP(dir, "pkits/certs");
  std::vector<X509*> certs = ReadAll(dir);
  STACK* sk = sk_new_null();
  for (X509* x : certs) ASSERT_TRUE(sk_push(sk, reinterpret_cast<char*>(x)));
  for (X509* x : certs) {
    X509* found =
        X509_find_by_issuer_and_serial(sk, X509_get_issuer_name(x), X509_get_serialNumber(x));
    ASSERT_NE(nullptr, found);
    EXPECT_EQ(0, X509_issuer_and_serial_cmp(found, x));
    EXPECT_EQ(X509_issuer_and_serial_hash(found), X509_issuer_and_serial_hash(x));
    X509* by_subject = X509_find_by_subject(sk, X509_get_subject_name(x));
    ASSERT_NE(nullptr, by_subject);
    EXPECT_EQ(0, X509_subject_name_cmp(by_subject, x));
  }
  // A serial number no certificate of the anchor's carries.
  ASN1_INTEGER* serial = ASN1_INTEGER_new();
  ASN1_INTEGER_set(serial, 0x7fffffff);
  EXPECT_EQ(nullptr, X509_find_by_issuer_and_serial(sk, X509_get_subject_name(certs[0]), serial));
  EXPECT_EQ(nullptr,
            X509_find_by_issuer_and_serial(nullptr, X509_get_subject_name(certs[0]), serial));
  ASN1_INTEGER_free(serial);
  X509_NAME* other = X509_NAME_new();
  ASSERT_EQ(
      1, X509_NAME_add_entry_by_txt(other, "CN", ASN1_UT_PRINTABLESTRING,
                                    reinterpret_cast<const unsigned char*>("Nobody"), -1, -1, 0));
  EXPECT_EQ(nullptr, X509_find_by_subject(sk, other));
  X509_NAME_free(other);
  sk_free(sk);
  for (X509* x : certs) X509_free(x);
  EXPECT_ERRORS({});
}

}  // namespace
