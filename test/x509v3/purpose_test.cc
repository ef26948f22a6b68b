// Cached extension facts, the CA test, the purpose checks and the purpose
// table, on certificates the test makes with chosen extensions (their
// values written as DER below, from the ASN.1 of RFC 5280, 4.2.1, and the
// Netscape certificate-type bits).  The purpose table is process-wide;
// each test runs in its own process.

#include <limits.h>

#include <string>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>
#include <morvane/x509v3.h>

#include "../x509/der_util.h"
#include "cert_builder.h"
#include "test_support.h"

namespace {

using morvane_test::Bytes;
using morvane_test::CertExt;
using morvane_test::CertSpec;
using morvane_test::MakeCert;
using morvane_test::FromHex;

constexpr int kNidNsCertType = 71;
constexpr int kNidKeyUsage = 83;
constexpr int kNidBasicConstraints = 87;
constexpr int kNidExtKeyUsage = 126;
constexpr int kNidProxyCertInfo = 663;
constexpr int kNidPolicyMappings = 747;
constexpr int kNidNameConstraints = 666;

// The facts that need the extension methods are skipped while they are not
// registered.
bool Registered(std::initializer_list<int> nids) {
  for (int nid : nids)
    if (X509V3_EXT_get_nid(nid) == nullptr) return false;
  return true;
}
#define NEEDS_METHODS(...)                                               \
  do {                                                                   \
    if (!Registered({__VA_ARGS__}))                                      \
      GTEST_SKIP() << "the extension methods are not registered";        \
  } while (0)

// DER values.
const Bytes kBcCa = FromHex("30030101ff");                  // cA TRUE
const Bytes kBcCaPath0 = FromHex("30060101ff020100");       // cA TRUE, pathLen 0
const Bytes kBcLeafPath1 = FromHex("3003020101");           // cA absent, pathLen 1
const Bytes kKuCertCrlSign = FromHex("03020106");           // keyCertSign, cRLSign
const Bytes kKuEmpty = FromHex("030100");                   // no bits
const Bytes kKuDigitalSignature = FromHex("03020780");      // digitalSignature
const Bytes kNsSslClient = FromHex("03020780");             // SSL client
const Bytes kNsSmime = FromHex("03020520");                 // S/MIME
const Bytes kNsSmimeCa = FromHex("03020102");               // S/MIME CA
const Bytes kEkuServerAuth = FromHex("300a06082b06010505070301");
// policyMappings { 1.2.3.4 -> 1.2.3.5 }
const Bytes kMapping = FromHex("300c300a06032a030406032a0305");
// nameConstraints: permitted [0] { dNSName "a" }
const Bytes kNameConstraints = FromHex("3007a0053003820161");

struct Cert {
  X509* x;
  explicit Cert(const CertSpec& spec) : x(MakeCert(spec)) {}
  ~Cert() { X509_free(x); }
};

CertSpec Spec(std::string subject, std::string issuer, std::vector<CertExt> exts, int version = 2) {
  CertSpec s;
  s.subject = std::move(subject);
  s.issuer = std::move(issuer);
  s.exts = std::move(exts);
  s.version = version;
  return s;
}

TEST(Facts, Version1SelfIssuedIsCaOfKind3) {
  Cert c(Spec("Root", "Root", {}, 0));
  EXPECT_EQ(3, X509_check_ca(c.x));
  EXPECT_EQ(EXFLAG_SET | EXFLAG_SI | EXFLAG_V1, c.x->ex_flags);
  Cert v3(Spec("Root", "Root", {}));
  EXPECT_EQ(0, X509_check_ca(v3.x));
  Cert v1(Spec("Leaf", "Root", {}, 0));
  EXPECT_EQ(0, X509_check_ca(v1.x));
  EXPECT_EQ(EXFLAG_SET | EXFLAG_V1, v1.x->ex_flags);
}

TEST(Facts, ComputedOnceUnderWriteLock) {
  morvane_test::InstallLockingCallback();
  Cert c(Spec("Leaf", "Root", {}));
  morvane_test::StartRecordingLocks();
  EXPECT_EQ(1, X509_check_purpose(c.x, -1, 0));
  EXPECT_EQ(1, X509_check_purpose(c.x, -1, 0));
  EXPECT_EQ(0, X509_check_ca(c.x));
  const auto events = morvane_test::StopRecordingLocks({CRYPTO_LOCK_X509});
  const std::vector<morvane_test::LockEvent> want = {
      morvane_test::WriteLock(CRYPTO_LOCK_X509), morvane_test::WriteUnlock(CRYPTO_LOCK_X509)};
  EXPECT_EQ(want, events);
  // The SHA-1 digest of the DER is among the facts.
  unsigned char* der = nullptr;
  const int len = i2d_X509(c.x, &der);
  unsigned char md[20];
  ASSERT_EQ(1, EVP_Digest(der, static_cast<size_t>(len), md, nullptr, EVP_sha1(), nullptr));
  MORVANE_free(der);
  EXPECT_EQ(morvane_test::ToHex(md, 20), morvane_test::ToHex(c.x->sha1_hash, 20));
}

TEST(Facts, UnsupportedCriticalExtensions) {
  struct Row {
    int nid;
    bool critical;
    const Bytes* der;
    bool flagged;
  };
  const Row rows[] = {{kNidPolicyMappings, true, &kMapping, true},
                      {kNidPolicyMappings, false, &kMapping, false},
                      {kNidNameConstraints, true, &kNameConstraints, true},
                      {kNidKeyUsage, true, &kKuDigitalSignature, false}};
  for (const Row& r : rows) {
    Cert c(Spec("Leaf", "Root", {{r.nid, r.critical, *r.der}}));
    X509_check_purpose(c.x, -1, 0);
    EXPECT_EQ(r.flagged, (c.x->ex_flags & EXFLAG_CRITICAL) != 0) << r.nid << " " << r.critical;
  }
}

TEST(Facts, SupportedExtensionList) {
  const int supported[] = {71, 83, 85, 87, 89, 126, 401, 663, 748};
  const int unsupported[] = {82, 86, 90, 103, 666, 747};
  ASN1_OCTET_STRING* empty = ASN1_OCTET_STRING_new();
  for (int nid : supported) {
    X509_EXTENSION* ext = X509_EXTENSION_create_by_NID(nullptr, nid, 1, empty);
    EXPECT_EQ(1, X509_supported_extension(ext)) << nid;
    X509_EXTENSION_free(ext);
  }
  for (int nid : unsupported) {
    X509_EXTENSION* ext = X509_EXTENSION_create_by_NID(nullptr, nid, 1, empty);
    EXPECT_EQ(0, X509_supported_extension(ext)) << nid;
    X509_EXTENSION_free(ext);
  }
  ASN1_OCTET_STRING_free(empty);
}

TEST(Facts, BasicConstraints) {
  NEEDS_METHODS(kNidBasicConstraints);
  Cert ca(Spec("CA", "Root", {{kNidBasicConstraints, true, kBcCaPath0}}));
  EXPECT_EQ(1, X509_check_ca(ca.x));
  EXPECT_EQ(EXFLAG_SET | EXFLAG_BCONS | EXFLAG_CA, ca.x->ex_flags);
  EXPECT_EQ(0, ca.x->ex_pathlen);
  Cert leaf(Spec("Leaf", "Root", {{kNidBasicConstraints, true, kBcLeafPath1}}));
  EXPECT_EQ(0, X509_check_ca(leaf.x));
  EXPECT_EQ(EXFLAG_SET | EXFLAG_BCONS | EXFLAG_INVALID, leaf.x->ex_flags);
  EXPECT_EQ(0, leaf.x->ex_pathlen);
}

// A SEQUENCE of the given content (shorter than 128 octets).
Bytes Sequence(Bytes content) {
  content.insert(content.begin(), {0x30, static_cast<unsigned char>(content.size())});
  return content;
}

// basicConstraints { cA TRUE, pathLenConstraint } with the INTEGER's DER.
Bytes CaWithPathLen(const Bytes& integer) {
  Bytes content = FromHex("0101ff");
  content.insert(content.end(), integer.begin(), integer.end());
  return Sequence(content);
}

// Verifies Leaf <- CA2 <- CA1 <- Root, CA1's basicConstraints carrying
// pathLenConstraint as the INTEGER `pathlen` (its whole DER); the error, or 0.
int VerifyThroughCa(const Bytes& pathlen) {
  Morvane_add_all_digests();  // the signatures' digest by name
  const Bytes bc = CaWithPathLen(pathlen);
  CertSpec specs[] = {Spec("Root", "Root", {{kNidBasicConstraints, true, kBcCa}}),
                      Spec("CA1", "Root", {{kNidBasicConstraints, true, bc}}),
                      Spec("CA2", "CA1", {{kNidBasicConstraints, true, kBcCa}}),
                      Spec("Leaf", "CA2", {})};
  for (int i = 0; i < 4; i++) specs[i].serial = i + 1;
  Cert root(specs[0]), ca1(specs[1]), ca2(specs[2]), leaf(specs[3]);
  X509_STORE* store = X509_STORE_new();
  EXPECT_EQ(1, X509_STORE_add_cert(store, root.x));
  STACK* untrusted = sk_new_null();
  sk_push(untrusted, reinterpret_cast<char*>(ca1.x));
  sk_push(untrusted, reinterpret_cast<char*>(ca2.x));
  X509_STORE_CTX* ctx = X509_STORE_CTX_new();
  EXPECT_EQ(1, X509_STORE_CTX_init(ctx, store, leaf.x, untrusted));
  const int ok = X509_verify_cert(ctx);
  const int err = X509_STORE_CTX_get_error(ctx);
  EXPECT_EQ(err == X509_V_OK, ok == 1);
  X509_STORE_CTX_free(ctx);
  sk_free(untrusted);
  X509_STORE_free(store);
  ERR_clear_error();
  return err;
}

// A path length that does not read as a non-negative long is no "no limit":
// the CA's extensions are invalid and the chain through it fails.  X.690,
// 8.3.2: an INTEGER's content octets are minimal; a zero in more octets
// leaves the extension undecodable (and no path length read).
TEST(Facts, PathLengthMustReadAsACount) {
  NEEDS_METHODS(kNidBasicConstraints);
  struct Row {
    const char* what;
    const char* integer;  // the pathLenConstraint's DER
    long pathlen;         // CA1's ex_pathlen
    bool invalid;
    int error;
  };
  const Row rows[] = {
      {"0, minimal", "020100", 0, false, X509_V_ERR_PATH_LENGTH_EXCEEDED},
      {"0 in six octets", "0206000000000000", -1, true, X509_V_ERR_INVALID_EXTENSION},
      {"0 in three octets", "0203000000", -1, true, X509_V_ERR_INVALID_EXTENSION},
      {"2^40, wider than a count", "0206010000000000", 0, true, X509_V_ERR_INVALID_EXTENSION},
      {"-1", "0201ff", 0, true, X509_V_ERR_INVALID_EXTENSION},
      {"1", "020101", 1, false, X509_V_OK},
      {"2^32 - 1", "020500ffffffff", 4294967295L, false, X509_V_OK},
  };
  for (const Row& r : rows) {
    const Bytes integer = FromHex(r.integer);
    Cert ca(Spec("CA1", "Root", {{kNidBasicConstraints, true, CaWithPathLen(integer)}}));
    X509_check_purpose(ca.x, -1, 0);
    EXPECT_EQ(r.invalid, (ca.x->ex_flags & EXFLAG_INVALID) != 0) << r.what;
    EXPECT_EQ(r.pathlen, ca.x->ex_pathlen) << r.what;
    EXPECT_EQ(r.error, VerifyThroughCa(integer)) << r.what;
  }
}

// RFC 3820, 3.8: the proxy's path length is held to the same rule.
TEST(Facts, ProxyPathLengthMustReadAsACount) {
  NEEDS_METHODS(kNidProxyCertInfo);
  // ProxyPolicy { id-ppl-inheritAll (1.3.6.1.5.5.7.21.1) }
  const Bytes policy = FromHex("300a06082b06010505071501");
  struct Row {
    const char* integer;  // the pcPathLenConstraint's DER, empty: absent
    long pcpathlen;
    bool invalid;
  };
  const Row rows[] = {
      {"", -1, false}, {"020102", 2, false}, {"0206010000000000", 0, true}, {"0201ff", 0, true}};
  for (const Row& r : rows) {
    Bytes content = FromHex(r.integer);
    content.insert(content.end(), policy.begin(), policy.end());
    Cert proxy(Spec("Proxy", "Leaf", {{kNidProxyCertInfo, true, Sequence(content)}}));
    X509_check_purpose(proxy.x, -1, 0);
    EXPECT_TRUE(proxy.x->ex_flags & EXFLAG_PROXY) << r.integer;
    EXPECT_EQ(r.invalid, (proxy.x->ex_flags & EXFLAG_INVALID) != 0) << r.integer;
    EXPECT_EQ(r.pcpathlen, proxy.x->ex_pcpathlen) << r.integer;
  }
}

TEST(Facts, EmptyKeyUsageForbidsEverything) {
  NEEDS_METHODS(kNidKeyUsage);
  Cert c(Spec("CA", "Root", {{kNidKeyUsage, true, kKuEmpty}}));
  EXPECT_EQ(0, X509_check_ca(c.x));
  EXPECT_EQ(EXFLAG_SET | EXFLAG_KUSAGE, c.x->ex_flags);
  EXPECT_EQ(0UL, c.x->ex_kusage);
  for (int id = 1; id <= 6; id++) EXPECT_EQ(0, X509_check_purpose(c.x, id, 0)) << id;
  Cert ku(Spec("CA", "Root", {{kNidKeyUsage, true, kKuCertCrlSign}}));
  EXPECT_EQ(4, X509_check_ca(ku.x));
  EXPECT_EQ(0x06UL, ku.x->ex_kusage);
}

// A restriction must survive a malformed or repeated extension: the
// certificate is marked invalid instead of passing as unrestricted.
TEST(Facts, RepeatedOrUndecodableExtensionsAreInvalid) {
  NEEDS_METHODS(kNidBasicConstraints);
  const Bytes garbage = FromHex("0500");
  const int nids[] = {kNidBasicConstraints, kNidKeyUsage, kNidExtKeyUsage, kNidNsCertType};
  for (int nid : nids) {
    if (!Registered({nid})) continue;
    Cert bad(Spec("Leaf", "Root", {{nid, false, garbage}}));
    X509_check_purpose(bad.x, -1, 0);
    EXPECT_TRUE(bad.x->ex_flags & EXFLAG_INVALID) << nid;
  }
  // cA TRUE followed by bytes outside the value: not read as a CA.
  Cert tail(Spec("CA", "Root", {{kNidBasicConstraints, true, FromHex("30030101ff0000")}}));
  X509_check_purpose(tail.x, -1, 0);
  EXPECT_EQ(EXFLAG_INVALID, tail.x->ex_flags & (EXFLAG_INVALID | EXFLAG_CA));
  // Two basicConstraints, one saying CA: neither is taken, the mark is set.
  Cert twice(Spec("Leaf", "Root", {{kNidBasicConstraints, true, kBcCa},
                                    {kNidBasicConstraints, true, FromHex("3000")}}));
  X509_check_purpose(twice.x, -1, 0);
  EXPECT_TRUE(twice.x->ex_flags & EXFLAG_INVALID);
  EXPECT_FALSE(twice.x->ex_flags & EXFLAG_CA);
  Cert ok(Spec("CA", "Root", {{kNidBasicConstraints, true, kBcCa}}));
  X509_check_purpose(ok.x, -1, 0);
  EXPECT_FALSE(ok.x->ex_flags & EXFLAG_INVALID);
  ERR_clear_error();
}

TEST(Purpose, Checks) {
  NEEDS_METHODS(kNidBasicConstraints, kNidKeyUsage, kNidExtKeyUsage, kNidNsCertType);
  struct Row {
    const char* what;
    std::vector<CertExt> exts;
    int id, ca, want;
  };
  const Row rows[] = {
      {"S/MIME leaf marked SSL client only", {{kNidNsCertType, false, kNsSslClient}}, 4, 0, 2},
      {"S/MIME leaf marked S/MIME", {{kNidNsCertType, false, kNsSmime}}, 4, 0, 1},
      {"S/MIME CA by nsCertType", {{kNidNsCertType, false, kNsSmimeCa}}, 4, 1, 5},
      {"SSL CA refused for an S/MIME-only type", {{kNidNsCertType, false, kNsSmimeCa}}, 1, 1, 0},
      {"server EKU for a client", {{kNidExtKeyUsage, false, kEkuServerAuth}}, 1, 0, 0},
      {"server EKU for a server", {{kNidExtKeyUsage, false, kEkuServerAuth}}, 2, 0, 1},
      {"digitalSignature for the Netscape server",
       {{kNidKeyUsage, true, kKuDigitalSignature}}, 3, 0, 0},
      {"digitalSignature for the server", {{kNidKeyUsage, true, kKuDigitalSignature}}, 2, 0, 1},
      {"CRL signing CA", {{kNidBasicConstraints, true, kBcCa}}, 6, 1, 1},
      {"CRL signing leaf without cRLSign", {{kNidKeyUsage, true, kKuDigitalSignature}}, 6, 0, 0},
      {"any purpose", {{kNidKeyUsage, true, kKuEmpty}}, 7, 0, 1},
      {"OCSP helper leaf", {{kNidKeyUsage, true, kKuEmpty}}, 8, 0, 1},
  };
  for (const Row& r : rows) {
    Cert c(Spec("Leaf", "Root", r.exts));
    EXPECT_EQ(r.want, X509_check_purpose(c.x, r.id, r.ca)) << r.what;
  }
}

TEST(Purpose, UnknownId) {
  Cert c(Spec("Leaf", "Root", {}));
  EXPECT_EQ(-1, X509_check_purpose(c.x, 99, 0));
  EXPECT_EQ(-1, X509_check_purpose(c.x, 0, 0));
  EXPECT_EQ(1, X509_check_purpose(c.x, 7, 0));
}

TEST(Purpose, BuiltInTable) {
  struct Row {
    int id, trust;
    const char* name;
    const char* sname;
  };
  const Row rows[] = {{1, 2, "SSL client", "sslclient"},
                      {2, 3, "SSL server", "sslserver"},
                      {3, 3, "Netscape SSL server", "nssslserver"},
                      {4, 4, "S/MIME signing", "smimesign"},
                      {5, 4, "S/MIME encryption", "smimeencrypt"},
                      {6, 1, "CRL signing", "crlsign"},
                      {7, -1, "Any Purpose", "any"},
                      {8, 1, "OCSP helper", "ocsphelper"}};
  EXPECT_EQ(8, X509_PURPOSE_get_count());
  for (const Row& r : rows) {
    const int idx = X509_PURPOSE_get_by_id(r.id);
    ASSERT_EQ(r.id - 1, idx);
    X509_PURPOSE* p = X509_PURPOSE_get0(idx);
    EXPECT_EQ(r.id, X509_PURPOSE_get_id(p));
    EXPECT_EQ(r.trust, X509_PURPOSE_get_trust(p));
    EXPECT_STREQ(r.name, X509_PURPOSE_get0_name(p));
    EXPECT_STREQ(r.sname, X509_PURPOSE_get0_sname(p));
    EXPECT_EQ(idx, X509_PURPOSE_get_by_sname(r.sname));
  }
  EXPECT_EQ(-1, X509_PURPOSE_get_by_sname("nonesuch"));
  EXPECT_EQ(nullptr, X509_PURPOSE_get0(-1));
  EXPECT_EQ(nullptr, X509_PURPOSE_get0(8));
  int p = 0;
  EXPECT_EQ(0, X509_PURPOSE_set(&p, 9));
  EXPECT_TRUE(morvane_test::ErrorsAre(
      {{ERR_LIB_X509V3, X509V3_F_X509_PURPOSE_SET, X509V3_R_INVALID_PURPOSE}}));
  EXPECT_EQ(1, X509_PURPOSE_set(&p, 5));
  EXPECT_EQ(5, p);
}

int refuse(const X509_PURPOSE*, const X509*, int) { return 0; }
int accept_ca(const X509_PURPOSE*, const X509*, int ca) { return ca ? 1 : 0; }

TEST(Purpose, AddChangesInPlaceAndAppends) {
  X509_PURPOSE* before = X509_PURPOSE_get0(6);
  ASSERT_EQ(1, X509_PURPOSE_add(7, 3, X509_PURPOSE_DYNAMIC, refuse, "None", "none", nullptr));
  EXPECT_EQ(8, X509_PURPOSE_get_count());
  EXPECT_EQ(before, X509_PURPOSE_get0(X509_PURPOSE_get_by_id(7)));
  EXPECT_STREQ("none", X509_PURPOSE_get0_sname(before));
  EXPECT_EQ(X509_PURPOSE_DYNAMIC_NAME, before->flags);
  Cert c(Spec("Leaf", "Root", {}));
  EXPECT_EQ(0, X509_check_purpose(c.x, 7, 0));

  ASSERT_EQ(1, X509_PURPOSE_add(100, 1, 0, accept_ca, "Hundred", "hundred", nullptr));
  ASSERT_EQ(1, X509_PURPOSE_add(50, 1, 0, accept_ca, "Fifty", "fifty", nullptr));
  EXPECT_EQ(10, X509_PURPOSE_get_count());
  EXPECT_EQ(8, X509_PURPOSE_get_by_id(50));
  EXPECT_EQ(9, X509_PURPOSE_get_by_id(100));
  EXPECT_EQ(9, X509_PURPOSE_get_by_sname("hundred"));
  EXPECT_EQ(X509_PURPOSE_DYNAMIC | X509_PURPOSE_DYNAMIC_NAME, X509_PURPOSE_get0(9)->flags);
  EXPECT_EQ(1, X509_check_purpose(c.x, 100, 1));
  EXPECT_EQ(0, X509_check_purpose(c.x, 100, 0));
  // A short name another record has would leave the new record unreachable
  // by name: refused, for a new record and for a change in place, while a
  // record keeps its own.
  EXPECT_EQ(0, X509_PURPOSE_add(200, 1, 0, accept_ca, "Server", "sslserver", nullptr));
  EXPECT_EQ(0, X509_PURPOSE_add(50, 1, 0, accept_ca, "Fifty", "hundred", nullptr));
  EXPECT_TRUE(morvane_test::ErrorsAre(
      {{ERR_LIB_X509V3, X509V3_F_X509_PURPOSE_ADD, X509V3_R_PURPOSE_NAME_EXISTS, "sname=sslserver"},
       {ERR_LIB_X509V3, X509V3_F_X509_PURPOSE_ADD, X509V3_R_PURPOSE_NAME_EXISTS,
        "sname=hundred"}}));
  EXPECT_EQ(10, X509_PURPOSE_get_count());
  EXPECT_STREQ("fifty", X509_PURPOSE_get0_sname(X509_PURPOSE_get0(8)));
  EXPECT_EQ(1, X509_PURPOSE_add(50, 2, 0, accept_ca, "Fifty again", "fifty", nullptr));
  // Ids at both ends of the range are found (an order by their difference
  // overflowed).
  for (int end : {INT_MAX, INT_MIN, INT_MAX - 1, INT_MIN + 1})
    ASSERT_EQ(1, X509_PURPOSE_add(end, 1, 0, accept_ca, "End",
                                  ("end" + std::to_string(end)).c_str(), nullptr));
  for (int end : {INT_MAX, INT_MIN, INT_MAX - 1, INT_MIN + 1, 50, 100})
    EXPECT_EQ(end, X509_PURPOSE_get_id(X509_PURPOSE_get0(X509_PURPOSE_get_by_id(end))));
  X509_PURPOSE_cleanup();
  EXPECT_EQ(8, X509_PURPOSE_get_count());
  EXPECT_EQ(-1, X509_check_purpose(c.x, 100, 1));
  EXPECT_STREQ("None", X509_PURPOSE_get0_name(before));
}

TEST(Issued, NamesAndKeyUsage) {
  Cert root(Spec("Root", "Root", {}));
  Cert leaf(Spec("Leaf", "Root", {}));
  EXPECT_EQ(0, X509_check_issued(root.x, leaf.x));
  EXPECT_EQ(29, X509_check_issued(leaf.x, root.x));
  EXPECT_EQ(0, X509_check_issued(root.x, root.x));
}

TEST(Issued, KeyUsageOfTheIssuer) {
  NEEDS_METHODS(kNidKeyUsage);
  Cert ca(Spec("CA", "Root", {{kNidKeyUsage, true, kKuDigitalSignature}}));
  Cert leaf(Spec("Leaf", "CA", {}));
  EXPECT_EQ(32, X509_check_issued(ca.x, leaf.x));
  Cert signer(Spec("CA", "Root", {{kNidKeyUsage, true, kKuCertCrlSign}}));
  EXPECT_EQ(0, X509_check_issued(signer.x, leaf.x));
}

}  // namespace
