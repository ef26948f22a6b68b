// The extension facts of the PKITS certificates (../shared/vectors/pkits,
// NIST Public Key Interoperability Test Suite): the CA kinds, key usages
// and issued-by results the suite's descriptions give its certificates.

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/err.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include "../x509/der_util.h"
#include "test_support.h"

namespace {

constexpr int kNidKeyUsage = 83;
constexpr int kNidBasicConstraints = 87;
constexpr int kNidNameConstraints = 666;
constexpr int kNidPolicyMappings = 747;

#define NEEDS_METHODS()                                                  \
  do {                                                                   \
    if (X509V3_EXT_get_nid(kNidBasicConstraints) == nullptr ||           \
        X509V3_EXT_get_nid(kNidKeyUsage) == nullptr)                   \
      GTEST_SKIP() << "the extension methods are not registered";        \
  } while (0)

struct Cert {
  X509* x = nullptr;
  Cert(const std::string& dir, const std::string& name) {
    x = x509_test::Decode(d2i_X509, morvane_test::ReadFileBytes(dir + "/" + name + ".crt"));
    EXPECT_NE(nullptr, x) << name;
  }
  ~Cert() { X509_free(x); }
};

TEST(PkitsFacts, GoodCa) {
  NEEDS_METHODS();
  MORVANE_VECTOR_PATH_OR_SKIP(dir, "pkits/certs");
  Cert good(dir, "GoodCACert");
  Cert anchor(dir, "TrustAnchorRootCertificate");
  ASSERT_NE(nullptr, good.x);
  EXPECT_EQ(1, X509_check_ca(good.x));
  EXPECT_EQ(0x06UL, good.x->ex_kusage);
  const unsigned long want = EXFLAG_BCONS | EXFLAG_KUSAGE | EXFLAG_CA | EXFLAG_SET;
  EXPECT_EQ(want, good.x->ex_flags & want);
  EXPECT_EQ(0, X509_check_issued(anchor.x, good.x));
  EXPECT_EQ(29, X509_check_issued(good.x, anchor.x));
}

TEST(PkitsFacts, CaKindsAndKeyUsage) {
  NEEDS_METHODS();
  MORVANE_VECTOR_PATH_OR_SKIP(dir, "pkits/certs");
  Cert missing(dir, "MissingbasicConstraintsCACert");
  EXPECT_EQ(4, X509_check_ca(missing.x));
  Cert no_sign(dir, "keyUsageCriticalkeyCertSignFalseCACert");
  Cert ee(dir, "InvalidkeyUsageCriticalkeyCertSignFalseTest1EE");
  EXPECT_EQ(32, X509_check_issued(no_sign.x, ee.x));
}

TEST(PkitsFacts, EveryCertificate) {
  NEEDS_METHODS();
  MORVANE_VECTOR_PATH_OR_SKIP(dir, "pkits/certs");
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.path().extension() == ".crt") files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  ASSERT_FALSE(files.empty());
  int unhandled = 0;
  for (const std::string& f : files) {
    SCOPED_TRACE(f);
    X509* x = x509_test::Decode(d2i_X509, morvane_test::ReadFileBytes(f));
    ASSERT_NE(nullptr, x);
    EXPECT_EQ(1, X509_check_purpose(x, -1, 0));
    EXPECT_TRUE(x->ex_flags & EXFLAG_SET);
    bool critical_unhandled = false;
    for (int nid : {kNidPolicyMappings, kNidNameConstraints}) {
      const int i = X509_get_ext_by_NID(x, nid, -1);
      if (i >= 0 && X509_EXTENSION_get_critical(X509_get_ext(x, i))) critical_unhandled = true;
    }
    if (critical_unhandled) {
      EXPECT_TRUE(x->ex_flags & EXFLAG_CRITICAL);
      unhandled++;
    }
    X509_free(x);
  }
  EXPECT_GT(unhandled, 0);
  EXPECT_ERRORS({});
}

}  // namespace
