// The extensions of the PKITS certificates and revocation lists
// (../shared/vectors/pkits, NIST Public Key Interoperability Test Suite):
// every one whose type has a built-in method decodes through it, encodes
// back to its octets and prints without falling back.

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include "ext_util.h"
#include "test_support.h"

namespace {

using morvane_test::Bytes;

std::vector<std::string> Files(const std::string& dir, const std::string& ext) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.path().extension() == ext) out.push_back(e.path().string());
  std::sort(out.begin(), out.end());
  return out;
}

// Checks one extension; counts those that have a method.
void CheckExtension(X509_EXTENSION* ext, int* with_method) {
  const X509V3_EXT_METHOD* m = X509V3_EXT_get(ext);
  if (m == nullptr) return;
  ++*with_method;
  const int nid = OBJ_obj2nid(ext->object);
  SCOPED_TRACE(nid);
  void* value = X509V3_EXT_d2i(ext);
  ASSERT_NE(nullptr, value);
  X509_EXTENSION* again = X509V3_EXT_i2d(nid, 0, value);
  ASSERT_NE(nullptr, again);
  EXPECT_EQ(Bytes(ext->value->data, ext->value->data + ext->value->length),
            Bytes(again->value->data, again->value->data + again->value->length));
  X509_EXTENSION_free(again);
  v3_test::FreeValue(nid, value);
  BIO* out = BIO_new(BIO_s_mem());
  EXPECT_EQ(1, X509V3_EXT_print(out, ext, X509V3_EXT_ERROR_UNKNOWN, 4));
  EXPECT_EQ(std::string::npos, v3_test::Contents(out).find("<Parse Error>"));
  BIO_free(out);
}

TEST(PkitsExtensions, CertificatesThroughTheirMethods) {
  MORVANE_VECTOR_PATH_OR_SKIP(dir, "pkits/certs");
  int with_method = 0;
  for (const std::string& f : Files(dir, ".crt")) {
    SCOPED_TRACE(f);
    const Bytes der = morvane_test::ReadFileBytes(f);
    const unsigned char* p = der.data();
    X509* x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    ASSERT_NE(nullptr, x);
    for (int i = 0; i < X509_get_ext_count(x); i++) CheckExtension(X509_get_ext(x, i), &with_method);
    X509_free(x);
  }
  EXPECT_GT(with_method, 0);
  EXPECT_ERRORS({});
}

TEST(PkitsExtensions, RevocationListsThroughTheirMethods) {
  MORVANE_VECTOR_PATH_OR_SKIP(dir, "pkits/crls");
  int with_method = 0;
  for (const std::string& f : Files(dir, ".crl")) {
    SCOPED_TRACE(f);
    const Bytes der = morvane_test::ReadFileBytes(f);
    const unsigned char* p = der.data();
    X509_CRL* crl = d2i_X509_CRL(nullptr, &p, static_cast<long>(der.size()));
    ASSERT_NE(nullptr, crl);
    for (int i = 0; i < X509_CRL_get_ext_count(crl); i++)
      CheckExtension(X509_CRL_get_ext(crl, i), &with_method);
    STACK* revoked = crl->crl->revoked;
    for (int r = 0; r < sk_num(revoked); r++) {
      auto* entry = reinterpret_cast<X509_REVOKED*>(sk_value(revoked, r));
      for (int i = 0; i < X509_REVOKED_get_ext_count(entry); i++)
        CheckExtension(X509_REVOKED_get_ext(entry, i), &with_method);
    }
    X509_CRL_free(crl);
  }
  EXPECT_GT(with_method, 0);
  EXPECT_ERRORS({});
}

// The printed value of the extension nid of a PKITS certificate, or
// "<absent>".
std::string PrintedExtension(const std::string& path, int nid) {
  const Bytes der = morvane_test::ReadFileBytes(path);
  const unsigned char* p = der.data();
  X509* x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
  if (x == nullptr) return "<undecodable>";
  const int i = X509_get_ext_by_NID(x, nid, -1);
  std::string text = i >= 0 ? v3_test::Print(X509_get_ext(x, i)) : "<absent>";
  X509_free(x);
  return text;
}

TEST(PkitsExtensions, PrintedValues) {
  MORVANE_VECTOR_PATH_OR_SKIP(dir, "pkits/certs");
  struct Case {
    const char* cert;
    int nid;
    const char* text;
  };
  const Case cases[] = {
      {"GoodCACert", 90, "keyid:E4:7D:5F:D1:5C:95:86:08:2C:05:AE:BE:75:B6:65:A7:D9:5D:A8:66\n"},
      {"GoodCACert", 82, "58:01:84:24:1B:BC:2B:52:94:4A:3D:A5:10:72:14:51:F5:AF:3A:C9"},
      {"GoodCACert", 87, "CA:TRUE"},
      {"GoodCACert", 83, "Certificate Sign, CRL Sign"},
      {"ValidRFC822nameConstraintsTest21EE", 85, "email:Test21EE@mailserver.testcertificates.gov"},
      {"ValidDNSnameConstraintsTest30EE", 85, "DNS:testserver.testcertificates.gov"},
      {"UserNoticeQualifierTest15EE", 89,
       "Policy: 2.16.840.1.101.3.2.1.48.1\n  User Notice:\n    Explicit Text: q1:  This is the user "
       "notice from qualifier 1.  This certificate is for test purposes only\n"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.text, PrintedExtension(dir + "/" + c.cert + ".crt", c.nid)) << c.cert << " " << c.nid;
  EXPECT_ERRORS({});
}

}  // namespace
