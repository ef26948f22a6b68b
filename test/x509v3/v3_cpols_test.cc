// Certificate policies and proxy certificate information: built from lists
// and from the sections of test/data/x509v3/sections.cnf, encoded and
// printed; and the policies of PKITS certificates printed.

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/conf.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include <string>

#include "ext_util.h"
#include "test_support.h"

namespace {

using v3_test::DerOf;
using v3_test::FreeValue;

constexpr int kCertPolicies = 89;
constexpr int kProxyCertInfo = 663;

// Builds through a raw builder (r2i) with the test configuration bound.
class RawBuild : public testing::Test {
 protected:
  void SetUp() override {
    conf_ = v3_test::LoadConf("x509v3/sections.cnf");
    ASSERT_NE(nullptr, conf_);
    X509V3_set_nconf(&ctx_, conf_);
  }
  void TearDown() override { NCONF_free(conf_); }

  void* Build(int nid, const char* text) {
    const X509V3_EXT_METHOD* m = X509V3_EXT_get_nid(nid);
    return m->r2i(m, &ctx_, text);
  }

  // The value printed by its method at indent.
  std::string Printed(int nid, void* value, int indent = 0) {
    X509_EXTENSION* ext = X509V3_EXT_i2d(nid, 0, value);
    std::string text = v3_test::Print(ext, indent);
    X509_EXTENSION_free(ext);
    return text;
  }

  CONF* conf_ = nullptr;
  X509V3_CTX ctx_ = {};
};

using CertificatePolicies = RawBuild;
using ProxyCertInfo = RawBuild;

POLICYINFO* PolicyAt(void* pols, int i) {
  return reinterpret_cast<POLICYINFO*>(sk_value(static_cast<STACK*>(pols), i));
}

TEST_F(CertificatePolicies, SectionsObjectsAndTheIa5Flag) {
  void* pols = Build(kCertPolicies, "ia5org, @polsect, 1.2.3.4");
  ASSERT_NE(nullptr, pols);
  ASSERT_EQ(2, sk_num(static_cast<STACK*>(pols)));
  POLICYINFO* first = PolicyAt(pols, 0);
  ASSERT_EQ(2, sk_num(first->qualifiers));
  auto* notice = reinterpret_cast<POLICYQUALINFO*>(sk_value(first->qualifiers, 1));
  EXPECT_EQ(165, OBJ_obj2nid(notice->pqualid));
  EXPECT_EQ(ASN1_UT_IA5STRING, notice->d.usernotice->noticeref->organization->type);
  EXPECT_EQ(ASN1_UT_VISIBLESTRING, notice->d.usernotice->exptext->type);
  EXPECT_EQ(nullptr, PolicyAt(pols, 1)->qualifiers);
  EXPECT_EQ("Policy: 1.3.6.1.4.1.99999.1.1\n"
            "  CPS: http://cps.example/one\n"
            "  User Notice:\n"
            "    Organization: Example Organisation\n"
            "    Numbers: 1, 2, 16\n"
            "    Explicit Text: Explicit notice text\n"
            "Policy: 1.2.3.4\n",
            Printed(kCertPolicies, pols));
  FreeValue(kCertPolicies, pols);

  // Without ia5org first, the organization is a VisibleString.
  pols = Build(kCertPolicies, "@polsect, ia5org");
  ASSERT_NE(nullptr, pols);
  notice = reinterpret_cast<POLICYQUALINFO*>(sk_value(PolicyAt(pols, 0)->qualifiers, 1));
  EXPECT_EQ(ASN1_UT_VISIBLESTRING, notice->d.usernotice->noticeref->organization->type);
  FreeValue(kCertPolicies, pols);
  EXPECT_ERRORS({});
}

TEST_F(CertificatePolicies, BareObjectsEncode) {
  void* pols = Build(kCertPolicies, "1.2.3.4, anyPolicy");
  // SEQUENCE { SEQUENCE { OID 1.2.3.4 }, SEQUENCE { OID 2.5.29.32.0 } }
  EXPECT_EQ("300F" "3005" "06032A0304" "3006" "0604551D2000", DerOf(kCertPolicies, pols));
  EXPECT_EQ("  Policy: 1.2.3.4\n  Policy: anyPolicy\n", Printed(kCertPolicies, pols, 2));
  FreeValue(kCertPolicies, pols);
  EXPECT_ERRORS({});
}

struct Refusal {
  const char* text;
  int func;
  int reason;
  const char* data;
};

// The error queue holds the refusal's function and reason, and its data.
void ExpectQueued(const Refusal& c) {
  const std::string queue = morvane_test::DrainErrors();
  const std::string func = "func " + std::to_string(c.func) + " ";
  const std::string reason = "reason " + std::to_string(c.reason) + " ";
  EXPECT_NE(std::string::npos, queue.find(func)) << queue;
  EXPECT_NE(std::string::npos, queue.find(reason)) << queue;
  if (c.data != nullptr) {
    EXPECT_NE(std::string::npos, queue.find(c.data)) << queue;
  }
}

TEST_F(CertificatePolicies, RefusedTexts) {
  const Refusal cases[] = {
      {"1.2.3.4, x:1.2.3.5", X509V3_F_R2I_CERTPOL, X509V3_R_INVALID_POLICY_IDENTIFIER,
       "section:,name:x,value:1.2.3.5"},
      {"not a policy", X509V3_F_R2I_CERTPOL, X509V3_R_INVALID_OBJECT_IDENTIFIER,
       "section:,name:not a policy,value:"},
      {"@missing", X509V3_F_R2I_CERTPOL, X509V3_R_INVALID_SECTION, "section:,name:@missing,value:"},
      {"@polsect_no_numbers", X509V3_F_NOTICE_SECTION, X509V3_R_NEED_ORGANIZATION_AND_NUMBERS,
       nullptr},
      {"@polsect_no_id", X509V3_F_POLICY_SECTION, X509V3_R_NO_POLICY_IDENTIFIER, nullptr},
      {"@polsect_bad_notice", X509V3_F_POLICY_SECTION, X509V3_R_EXPECTED_A_SECTION_NAME,
       "section:polsect_bad_notice,name:userNotice,value:notice"},
      {"@polsect_bad_option", X509V3_F_POLICY_SECTION, X509V3_R_INVALID_OPTION,
       "section:polsect_bad_option,name:colour,value:blue"},
      {"@polsect_bad_number", X509V3_F_NREF_NOS, X509V3_R_INVALID_NUMBER, nullptr},
  };
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(nullptr, Build(kCertPolicies, c.text));
    ExpectQueued(c);
  }
  EXPECT_EQ(nullptr, Build(kCertPolicies, ""));
  EXPECT_NE(std::string::npos, morvane_test::DrainErrors().find("reason 34 "));
}

TEST(CertificatePoliciesPrint, QualifierKinds) {
  // One policy 1.2.3.4 with an unknown qualifier 1.2.3.5 (NULL), and a user
  // notice whose reference has one number and a UTF8String text.
  const std::string der = "303A" "3038" "06032A0304" "3031"
                          "3007" "06032A0305" "0500"
                          "3026" "06082B06010505070202" "301A"
                          "300A" "1603" "4F7267" "3003" "020107"
                          "0C0C" "4E6F7469636520746578742E";
  EXPECT_EQ("Policy: 1.2.3.4\n"
            "    Unknown Qualifier: 1.2.3.5\n"
            "  User Notice:\n"
            "    Organization: Org\n"
            "    Number: 7\n"
            "    Explicit Text: Notice text.\n",
            v3_test::PrintDer(kCertPolicies, der));
  EXPECT_ERRORS({});
}

TEST(CertificatePoliciesPrint, PkitsUserNotice) {
  MORVANE_VECTOR_PATH_OR_SKIP(path, "pkits/certs/UserNoticeQualifierTest15EE.crt");
  const morvane_test::Bytes der = morvane_test::ReadFileBytes(path);
  const unsigned char* p = der.data();
  X509* x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
  ASSERT_NE(nullptr, x);
  const int i = X509_get_ext_by_NID(x, kCertPolicies, -1);
  ASSERT_GE(i, 0);
  EXPECT_EQ("Policy: 2.16.840.1.101.3.2.1.48.1\n"
            "  User Notice:\n"
            "    Explicit Text: q1:  This is the user notice from qualifier 1.  "
            "This certificate is for test purposes only\n",
            v3_test::Print(X509_get_ext(x, i)));
  X509_free(x);
  EXPECT_ERRORS({});
}

TEST_F(ProxyCertInfo, LanguageAndPolicyText) {
  void* pci = Build(kProxyCertInfo, "language:id-ppl-anyLanguage, policy:text:hello world");
  ASSERT_NE(nullptr, pci);
  // SEQUENCE { SEQUENCE { OID 1.3.6.1.5.5.7.21.0, OCTET STRING "hello world" } }
  EXPECT_EQ("3019" "3017" "06082B06010505071500" "040B68656C6C6F20776F726C64",
            DerOf(kProxyCertInfo, pci));
  EXPECT_EQ("  Path Length Constraint: infinite\n"
            "  Policy Language: id-ppl-anyLanguage\n"
            "  Policy Text: hello world\n",
            Printed(kProxyCertInfo, pci, 2));
  FreeValue(kProxyCertInfo, pci);

  // Pieces append; a section supplies its pairs in order.
  pci = Build(kProxyCertInfo, "pathlen:1, language:1.2.3.4, policy:hex:41:42, policy:text:cd");
  ASSERT_NE(nullptr, pci);
  EXPECT_EQ("Path Length Constraint: 01\nPolicy Language: 1.2.3.4\nPolicy Text: ABcd\n",
            Printed(kProxyCertInfo, pci));
  FreeValue(kProxyCertInfo, pci);
  pci = Build(kProxyCertInfo, "@pci_sect");
  ASSERT_NE(nullptr, pci);
  EXPECT_EQ("Path Length Constraint: 03\nPolicy Language: id-ppl-anyLanguage\n"
            "Policy Text: from a section\n",
            Printed(kProxyCertInfo, pci));
  FreeValue(kProxyCertInfo, pci);
  EXPECT_ERRORS({});
}

TEST_F(ProxyCertInfo, PolicyFromAFile) {
  morvane_test::TempPath file;
  morvane_test::WriteFile(file.path(), "file policy");
  std::string text = "language:id-ppl-anyLanguage, policy:file:" + file.path();
  void* pci = Build(kProxyCertInfo, text.c_str());
  ASSERT_NE(nullptr, pci);
  EXPECT_EQ("Path Length Constraint: infinite\nPolicy Language: id-ppl-anyLanguage\n"
            "Policy Text: file policy\n",
            Printed(kProxyCertInfo, pci));
  FreeValue(kProxyCertInfo, pci);
  // An empty file gives an empty policy.
  morvane_test::WriteFile(file.path(), "");
  pci = Build(kProxyCertInfo, text.c_str());
  ASSERT_NE(nullptr, pci);
  EXPECT_EQ("300E" "300C" "06082B06010505071500" "0400", DerOf(kProxyCertInfo, pci));
  FreeValue(kProxyCertInfo, pci);
  EXPECT_ERRORS({});
  text += ".absent";
  EXPECT_EQ(nullptr, Build(kProxyCertInfo, text.c_str()));
  const std::string queue = morvane_test::DrainErrors();
  EXPECT_NE(std::string::npos, queue.find("reason 32 ")) << queue;
}

TEST_F(ProxyCertInfo, RefusedSettings) {
  const Refusal cases[] = {
      {"language:id-ppl-independent, policy:text:x", X509V3_F_R2I_PCI,
       X509V3_R_POLICY_WHEN_PROXY_LANGUAGE_REQUIRES_NO_POLICY, nullptr},
      {"language:id-ppl-inheritAll, policy:text:x", X509V3_F_R2I_PCI,
       X509V3_R_POLICY_WHEN_PROXY_LANGUAGE_REQUIRES_NO_POLICY, nullptr},
      {"pathlen:1", X509V3_F_R2I_PCI, X509V3_R_NO_PROXY_CERT_POLICY_LANGUAGE_DEFINED, nullptr},
      {"language:1.2.3.4, language:1.2.3.5", X509V3_F_PROCESS_PCI_VALUE,
       X509V3_R_POLICY_LANGUAGE_ALREADTY_DEFINED, "name:language,value:1.2.3.5"},
      {"language:nonsense", X509V3_F_PROCESS_PCI_VALUE, X509V3_R_INVALID_OBJECT_IDENTIFIER,
       nullptr},
      {"pathlen:1, pathlen:2", X509V3_F_PROCESS_PCI_VALUE,
       X509V3_R_POLICY_PATH_LENGTH_ALREADTY_DEFINED, nullptr},
      {"pathlen:many", X509V3_F_PROCESS_PCI_VALUE, X509V3_R_POLICY_PATH_LENGTH, nullptr},
      {"language:1.2.3.4, policy:base64:QQ==", X509V3_F_PROCESS_PCI_VALUE,
       X509V3_R_INCORRECT_POLICY_SYNTAX_TAG, nullptr},
      {"language:1.2.3.4, policy:hex:4", X509V3_F_PROCESS_PCI_VALUE,
       X509V3_R_ILLEGAL_HEX_DIGIT, nullptr},
      {"language:1.2.3.4, bare", X509V3_F_R2I_PCI, X509V3_R_INVALID_PROXY_POLICY_SETTING,
       "name:bare"},
      {"@missing", X509V3_F_R2I_PCI, X509V3_R_INVALID_SECTION, nullptr},
  };
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(nullptr, Build(kProxyCertInfo, c.text));
    ExpectQueued(c);
  }
}

}  // namespace
