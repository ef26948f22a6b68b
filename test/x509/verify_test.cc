// The chain verifier on PKITS paths (../shared/vectors/pkits, NIST PKITS,
// 2048-bit RSA edition): chain building at the top and at depth 0, the
// callback protocol, revocation-list choice, the signature mark, refused
// extension facts, purposes and the context's parameters.  Every run is
// judged at 2020-01-01 00:00:00 UTC, inside every PKITS validity period.

#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>
#include <morvane/x509v3.h>

#include "chain_util.h"
#include "der_util.h"
#include "key_util.h"
#include "test_support.h"

namespace {

constexpr time_t kMoment = 1577836800;  // 2020-01-01 00:00:00 UTC

std::string Pkits(const std::string& rel) {
  return morvane_test::VectorFile("pkits/" + rel);
}

X509* Cert(const std::string& name) {
  return x509_test::Decode(d2i_X509, morvane_test::ReadFileBytes(Pkits("certs/" + name + ".crt")));
}

X509_CRL* Crl(const std::string& name) {
  return x509_test::Decode(d2i_X509_CRL,
                           morvane_test::ReadFileBytes(Pkits("crls/" + name + ".crl")));
}

// What the callback saw: one (error, depth) per refusal offered.
struct Seen {
  int error;
  int depth;
  bool operator==(const Seen& o) const { return error == o.error && depth == o.depth; }
};
std::ostream& operator<<(std::ostream& os, const Seen& s) {
  return os << "{" << s.error << ", " << s.depth << "}";
}
std::vector<Seen> seen;
int passed = 0;

int Lenient(int ok, X509_STORE_CTX* ctx) {
  if (ok == 0) {
    seen.push_back({X509_STORE_CTX_get_error(ctx), X509_STORE_CTX_get_error_depth(ctx)});
  } else if (ok == 1) {
    passed++;
  }
  return 1;
}

// A verification over PKITS objects: the store holds the trust anchor (or
// what the test adds), the untrusted list what the test pushes.
class Verify : public testing::Test {
 protected:
  void SetUp() override {
    if (morvane_test::VectorFile("pkits/certs").empty())
      GTEST_SKIP() << "PKITS vectors (../shared/vectors/pkits) not present";
    Morvane_add_all_digests();
    store_ = X509_STORE_new();
    untrusted_ = sk_new_null();
    crls_ = sk_new_null();
    ctx_ = X509_STORE_CTX_new();
    seen.clear();
    passed = 0;
  }
  void TearDown() override {
    X509_STORE_CTX_free(ctx_);
    X509_STORE_free(store_);
    sk_pop_free(untrusted_, [](void* p) { X509_free(static_cast<X509*>(p)); });
    sk_pop_free(crls_, [](void* p) { X509_CRL_free(static_cast<X509_CRL*>(p)); });
    for (X509* x : owned_) X509_free(x);
    morvane_test::DrainErrors();
  }
  X509* Own(X509* x) {
    owned_.push_back(x);
    return x;
  }
  void Trust(const std::string& name) {
    X509* x = Cert(name);
    ASSERT_EQ(1, X509_STORE_add_cert(store_, x));
    X509_free(x);
  }
  void Untrusted(const std::string& name) {
    sk_push(untrusted_, reinterpret_cast<char*>(Cert(name)));
  }
  void AddCrl(X509_CRL* crl) { sk_push(crls_, reinterpret_cast<char*>(crl)); }
  // Initialises the context for target; the moment is fixed.
  void Init(X509* target, bool lenient = false, X509_STORE* store = nullptr) {
    X509_STORE_CTX_cleanup(ctx_);
    ASSERT_EQ(1, X509_STORE_CTX_init(ctx_, store != nullptr ? store : store_, target, untrusted_));
    X509_STORE_CTX_set_time(ctx_, 0, kMoment);
    X509_STORE_CTX_set0_crls(ctx_, crls_);
    if (lenient) X509_STORE_CTX_set_verify_cb(ctx_, Lenient);
  }
  int Run() { return X509_verify_cert(ctx_); }
  int Error() { return X509_STORE_CTX_get_error(ctx_); }
  int Depth() { return X509_STORE_CTX_get_error_depth(ctx_); }

  X509_STORE* store_ = nullptr;
  STACK* untrusted_ = nullptr;
  STACK* crls_ = nullptr;
  X509_STORE_CTX* ctx_ = nullptr;
  std::vector<X509*> owned_;
};

TEST_F(Verify, GoodPathVerifies) {
  Trust("TrustAnchorRootCertificate");
  Untrusted("GoodCACert");
  X509* ee = Own(Cert("ValidCertificatePathTest1EE"));
  Init(ee);
  EXPECT_EQ(1, Run());
  EXPECT_EQ(X509_V_OK, Error());
  STACK* chain = X509_STORE_CTX_get_chain(ctx_);
  ASSERT_EQ(3, sk_num(chain));
  EXPECT_EQ(ee, reinterpret_cast<X509*>(sk_value(chain, 0)));
  EXPECT_EQ(2, ctx_->last_untrusted);
  STACK* copy = X509_STORE_CTX_get1_chain(ctx_);
  ASSERT_EQ(3, sk_num(copy));
  EXPECT_EQ(3, ee->references);  // the caller's, the chain's, the copy's
  sk_pop_free(copy, [](void* p) { X509_free(static_cast<X509*>(p)); });
}

TEST_F(Verify, LoneSelfSignedTargetNotInTheStore) {
  X509* ta = Own(Cert("TrustAnchorRootCertificate"));
  Init(ta);
  EXPECT_EQ(0, Run());
  EXPECT_EQ(X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT, Error());
  EXPECT_EQ(0, Depth());
  EXPECT_EQ(ta, X509_STORE_CTX_get_current_cert(ctx_));

  // Accepted: the run goes on, times are checked (here at a moment past
  // the anchor's notAfter), the signature is not, and no policy check runs.
  Init(ta, true);
  X509_STORE_CTX_set_time(ctx_, 0, 4102444800);  // 2100-01-01
  X509_STORE_CTX_set_flags(ctx_, X509_V_FLAG_POLICY_CHECK | X509_V_FLAG_EXPLICIT_POLICY);
  EXPECT_EQ(1, Run());
  EXPECT_EQ((std::vector<Seen>{{18, 0}, {10, 0}}), seen);
  EXPECT_EQ(0, ta->valid);
  EXPECT_EQ(nullptr, X509_STORE_CTX_get0_policy_tree(ctx_));

  // With 0x4000 its own signature is checked and marks it.
  seen.clear();
  Init(ta, true);
  X509_STORE_CTX_set_flags(ctx_, X509_V_FLAG_CHECK_SS_SIGNATURE);
  EXPECT_EQ(1, Run());
  EXPECT_EQ((std::vector<Seen>{{18, 0}}), seen);
  EXPECT_EQ(1, ta->valid);
}

TEST_F(Verify, LoneSelfSignedTargetHeldByTheStoreIsReplaced) {
  Trust("TrustAnchorRootCertificate");
  X509* ta = Own(Cert("TrustAnchorRootCertificate"));
  Init(ta);
  EXPECT_EQ(1, Run());
  EXPECT_EQ(0, ctx_->last_untrusted);
  X509* top = reinterpret_cast<X509*>(sk_value(X509_STORE_CTX_get_chain(ctx_), 0));
  EXPECT_NE(ta, top);
  EXPECT_EQ(0, X509_cmp(ta, top));
  EXPECT_EQ(1, ta->references);
}

TEST_F(Verify, DepthZeroStopsBeforeTheIssuer) {
  Trust("TrustAnchorRootCertificate");
  X509* ca = Own(Cert("GoodCACert"));
  Init(ca);
  X509_STORE_CTX_set_depth(ctx_, 0);
  EXPECT_EQ(0, Run());
  EXPECT_EQ(X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY, Error());
  EXPECT_EQ(0, Depth());
  EXPECT_EQ(1, sk_num(X509_STORE_CTX_get_chain(ctx_)));
}

TEST_F(Verify, AcceptedMissingIssuerOfALoneTarget) {
  X509* ca = Own(Cert("GoodCACert"));
  Init(ca, true);
  X509_STORE_CTX_set_time(ctx_, 0, 4102444800);  // expired then, but not looked at
  EXPECT_EQ(1, Run());
  EXPECT_EQ((std::vector<Seen>{{20, 0}, {21, 0}}), seen);
  EXPECT_EQ(0, passed);
}

TEST_F(Verify, AcceptedTopWithoutIssuerIsNotChecked) {
  // The chain stops at GoodCACert (no anchor): error 2 would need store
  // certificates, so the caller's chain gives 20 at depth 1.
  Untrusted("GoodCACert");
  X509* ee = Own(Cert("ValidCertificatePathTest1EE"));
  Init(ee, true);
  EXPECT_EQ(1, Run());
  EXPECT_EQ((std::vector<Seen>{{20, 1}}), seen);
  EXPECT_EQ(1, passed);  // only the target passed the signature-and-time step
}

TEST_F(Verify, TargetSignedByAStoreCertificate) {
  Trust("TrustAnchorRootCertificate");
  Trust("GoodCACert");
  X509* ee = Own(Cert("ValidCertificatePathTest1EE"));
  Init(ee);
  EXPECT_EQ(1, Run());
  EXPECT_EQ(1, ctx_->last_untrusted);
  EXPECT_EQ(3, sk_num(X509_STORE_CTX_get_chain(ctx_)));
}

TEST_F(Verify, AcceptedSignatureFailureIsCheckedAgain) {
  Trust("TrustAnchorRootCertificate");
  Untrusted("BadSignedCACert");
  X509* ee = Own(Cert("InvalidCASignatureTest2EE"));
  Init(ee, true);
  EXPECT_EQ(1, Run());
  EXPECT_EQ((std::vector<Seen>{{7, 1}}), seen);
  X509* bad = reinterpret_cast<X509*>(sk_value(untrusted_, 0));
  EXPECT_EQ(0, bad->valid);
  // A strict run over the same objects still sees the bad signature.
  Init(ee);
  EXPECT_EQ(0, Run());
  EXPECT_EQ(X509_V_ERR_CERT_SIGNATURE_FAILURE, Error());
  EXPECT_EQ(1, Depth());
}

TEST_F(Verify, OuterAlgorithmUnlikeTheSignedOneIsASignatureFailure) {
  Trust("TrustAnchorRootCertificate");
  Untrusted("GoodCACert");
  X509* ca = reinterpret_cast<X509*>(sk_value(untrusted_, 0));
  // sha256WithRSAEncryption without its NULL parameter (RFC 5280, 4.1.1.2).
  ASSERT_EQ(1, X509_ALGOR_set0(ca->sig_alg, OBJ_dup(ca->sig_alg->algorithm), -1, nullptr));
  X509* ee = Own(Cert("ValidCertificatePathTest1EE"));
  Init(ee);
  EXPECT_EQ(0, Run());
  EXPECT_EQ(X509_V_ERR_CERT_SIGNATURE_FAILURE, Error());
  EXPECT_EQ(1, Depth());
}

TEST_F(Verify, InvalidExtensionFactsAreRefused) {
  Trust("TrustAnchorRootCertificate");
  Untrusted("GoodCACert");
  X509* ca = reinterpret_cast<X509*>(sk_value(untrusted_, 0));
  X509_check_purpose(ca, -1, 0);
  ca->ex_flags |= EXFLAG_INVALID;  // as the facts mark a repeated basicConstraints
  X509* ee = Own(Cert("ValidCertificatePathTest1EE"));
  Init(ee);
  EXPECT_EQ(0, Run());
  EXPECT_EQ(X509_V_ERR_INVALID_EXTENSION, Error());
  EXPECT_EQ(1, Depth());
  EXPECT_EQ(ca, X509_STORE_CTX_get_current_cert(ctx_));
}

TEST_F(Verify, CurrentCrlOfAnIssuerIsUsed) {
  Trust("TrustAnchorRootCertificate");
  Untrusted("GoodCACert");
  X509* ee = Own(Cert("ValidCertificatePathTest1EE"));
  // A copy of GoodCACRL whose nextUpdate has passed (its signature no
  // longer holds), then the CRL itself.
  X509_CRL* expired = Crl("GoodCACRL");
  time_t past = kMoment - 86400;
  ASSERT_NE(nullptr, X509_time_adj(expired->crl->nextUpdate, 0, &past));
  expired->crl->enc.modified = 1;
  AddCrl(expired);
  AddCrl(Crl("GoodCACRL"));
  Init(ee, true);
  X509_STORE_CTX_set_flags(ctx_, X509_V_FLAG_CRL_CHECK);
  EXPECT_EQ(1, Run());
  EXPECT_EQ(std::vector<Seen>{}, seen);

  // Only expired ones: the latest (the first of equals) is used, and fails
  // its time check.
  sk_pop_free(crls_, [](void* p) { X509_CRL_free(static_cast<X509_CRL*>(p)); });
  crls_ = sk_new_null();
  X509_CRL* e1 = Crl("GoodCACRL");
  X509_CRL* e2 = Crl("GoodCACRL");
  ASSERT_NE(nullptr, X509_time_adj(e1->crl->nextUpdate, 0, &past));
  ASSERT_NE(nullptr, X509_time_adj(e2->crl->nextUpdate, 0, &past));
  e1->crl->enc.modified = 1;
  e2->crl->enc.modified = 1;
  AddCrl(e1);
  AddCrl(e2);
  seen.clear();
  Init(ee, true);
  X509_STORE_CTX_set_flags(ctx_, X509_V_FLAG_CRL_CHECK);
  EXPECT_EQ(1, Run());
  EXPECT_EQ((std::vector<Seen>{{8, 0}, {12, 0}}), seen);
}

TEST_F(Verify, RevokedTargetAndMissingCrl) {
  Trust("TrustAnchorRootCertificate");
  Untrusted("GoodCACert");
  AddCrl(Crl("GoodCACRL"));
  X509* revoked = Own(Cert("InvalidRevokedEETest3EE"));
  Init(revoked);
  X509_STORE_CTX_set_flags(ctx_, X509_V_FLAG_CRL_CHECK);
  EXPECT_EQ(0, Run());
  EXPECT_EQ(X509_V_ERR_CERT_REVOKED, Error());
  EXPECT_EQ(0, Depth());
  // With 0x8 the CA's own CRL (the anchor's) is wanted too.
  X509* ee = Own(Cert("ValidCertificatePathTest1EE"));
  Init(ee);
  X509_STORE_CTX_set_flags(ctx_, X509_V_FLAG_CRL_CHECK | X509_V_FLAG_CRL_CHECK_ALL);
  EXPECT_EQ(0, Run());
  EXPECT_EQ(X509_V_ERR_UNABLE_TO_GET_CRL, Error());
  EXPECT_EQ(1, Depth());
}

TEST_F(Verify, NoCertificate) {
  Init(nullptr);
  EXPECT_EQ(-1, Run());
  EXPECT_ERRORS({{ERR_LIB_X509, X509_F_X509_VERIFY_CERT, X509_R_NO_CERT_SET_FOR_US_TO_VERIFY}});
}

TEST_F(Verify, PurposeSettings) {
  Init(nullptr);
  // The "any" purpose (7) takes its trust from a default purpose.
  EXPECT_EQ(0, X509_STORE_CTX_set_purpose(ctx_, 7));
  EXPECT_ERRORS({{ERR_LIB_X509, X509_F_X509_STORE_CTX_PURPOSE_INHERIT, X509_R_UNKNOWN_PURPOSE_ID}});
  EXPECT_EQ(0, X509_STORE_CTX_set_purpose(ctx_, 99));
  EXPECT_ERRORS({{ERR_LIB_X509, X509_F_X509_STORE_CTX_PURPOSE_INHERIT, X509_R_UNKNOWN_PURPOSE_ID}});
  EXPECT_EQ(0, X509_STORE_CTX_set_trust(ctx_, 99));
  EXPECT_ERRORS({{ERR_LIB_X509, X509_F_X509_STORE_CTX_PURPOSE_INHERIT, X509_R_UNKNOWN_TRUST_ID}});
  EXPECT_EQ(1, X509_STORE_CTX_set_purpose(ctx_, 1));
  EXPECT_EQ(1, X509_STORE_CTX_get0_param(ctx_)->purpose);
  EXPECT_EQ(2, X509_STORE_CTX_get0_param(ctx_)->trust);
  EXPECT_EQ(1, X509_STORE_CTX_set_purpose(ctx_, 2));
  EXPECT_EQ(1, X509_STORE_CTX_get0_param(ctx_)->purpose);
  EXPECT_EQ(1, X509_STORE_CTX_purpose_inherit(ctx_, 2, 7, 0));
}

TEST_F(Verify, WithoutStoreTheDefaultsAlone) {
  X509_STORE_CTX* ctx = X509_STORE_CTX_new();
  ASSERT_EQ(1, X509_STORE_CTX_init(ctx, nullptr, nullptr, nullptr));
  const X509_VERIFY_PARAM* p = X509_STORE_CTX_get0_param(ctx);
  EXPECT_EQ(100, p->depth);
  EXPECT_EQ(0UL, p->flags);
  EXPECT_EQ(0, p->purpose);
  EXPECT_EQ(0, p->trust);
  EXPECT_EQ(0, X509_STORE_CTX_set_default(ctx, "no such set"));
  EXPECT_EQ(1, X509_STORE_CTX_set_default(ctx, "ssl_server"));
  EXPECT_EQ(2, X509_STORE_CTX_get0_param(ctx)->purpose);
  // A target whose issuer nothing supplies.
  X509* ca = Own(Cert("GoodCACert"));
  X509_STORE_CTX_set_cert(ctx, ca);
  EXPECT_EQ(0, X509_verify_cert(ctx));
  EXPECT_EQ(X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY, X509_STORE_CTX_get_error(ctx));
  X509_STORE_CTX_free(ctx);
}

TEST_F(Verify, TrustedStackReplacesTheStore) {
  STACK* trusted = sk_new_null();
  X509* ta = Own(Cert("TrustAnchorRootCertificate"));
  sk_push(trusted, reinterpret_cast<char*>(ta));
  Untrusted("GoodCACert");
  X509* ee = Own(Cert("ValidCertificatePathTest1EE"));
  Init(ee);
  X509_STORE_CTX_trusted_stack(ctx_, trusted);
  EXPECT_EQ(1, Run());
  EXPECT_EQ(ta, reinterpret_cast<X509*>(sk_value(X509_STORE_CTX_get_chain(ctx_), 2)));
  sk_free(trusted);
}

TEST_F(Verify, ExtraDataOfTheContext) {
  const int idx = X509_STORE_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  ASSERT_GE(idx, 0);
  Init(nullptr);
  int value = 5;
  EXPECT_EQ(1, X509_STORE_CTX_set_ex_data(ctx_, idx, &value));
  EXPECT_EQ(&value, X509_STORE_CTX_get_ex_data(ctx_, idx));
}

// ---- proxy certificates (RFC 3820) ----

// A name from "O=Bank/CN=Alice": each "/" starts an RDN, each "+" adds an
// attribute to the one before.
X509_NAME* NameOf(const std::string& text) {
  X509_NAME* name = X509_NAME_new();
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = text.find_first_of("/+", at + 1);
    const std::string part = text.substr(at, end == std::string::npos ? end : end - at);
    const bool joins = part[0] == '+';
    const std::string field = part.substr(part[0] == '/' || joins ? 1 : 0);
    const size_t eq = field.find('=');
    EXPECT_EQ(1, X509_NAME_add_entry_by_txt(
                     name, field.substr(0, eq).c_str(), ASN1_MB_ASCII,
                     reinterpret_cast<const unsigned char*>(field.c_str() + eq + 1), -1, -1,
                     joins ? -1 : 0));
    at = end == std::string::npos ? text.size() : end;
  }
  return name;
}

// A certificate of the subject and issuer names, its key `key`, signed by
// issuer_key, decoded afresh.
X509* Named(const std::string& subject, const std::string& issuer, long serial,
            const std::vector<morvane_test::CertExt>& exts, EVP_PKEY* key, EVP_PKEY* issuer_key) {
  X509* x = morvane_test::MakeCert({"x", "", 2, serial, exts, key, issuer_key});
  X509_NAME* s = NameOf(subject);
  X509_NAME* i = NameOf(issuer);
  EXPECT_EQ(1, X509_set_subject_name(x, s));
  EXPECT_EQ(1, X509_set_issuer_name(x, i));
  X509_NAME_free(s);
  X509_NAME_free(i);
  EXPECT_GT(X509_sign(x, issuer_key, EVP_sha1()), 0);
  X509* d = x509_test::Decode(d2i_X509, x509_test::Encode(i2d_X509, x));
  X509_free(x);
  return d;
}

// proxyCertInfo (RFC 3820, 3.8) with the policy language id-ppl-inheritAll;
// keyUsage digitalSignature, and keyEncipherment alone.
const morvane_test::CertExt kProxyInfo{663, true,
                                       morvane_test::FromHex("300c300a06082b06010505071501")};
const morvane_test::CertExt kSigning{83, true, morvane_test::FromHex("03020780")};
const morvane_test::CertExt kEnciphering{83, true, morvane_test::FromHex("03020520")};

struct ProxyCase {
  const char* name;
  const char* proxy;   // the proxy's subject under "O=Bank/CN=Alice"
  const char* second;  // a proxy under it, or null
  bool alice_signs;    // Alice's keyUsage has digitalSignature
  int error;           // 0: verifies
};

const ProxyCase kProxyCases[] = {
    {"FollowsTheRule", "O=Bank/CN=Alice/CN=1", nullptr, true, 0},
    {"ChainOfTwo", "O=Bank/CN=Alice/CN=1", "O=Bank/CN=Alice/CN=1/CN=2", true, 0},
    {"AnotherName", "CN=Bob", nullptr, true, X509_V_ERR_PROXY_SUBJECT_NAME_VIOLATION},
    {"AnotherPrefix", "O=Other/CN=Alice/CN=1", nullptr, true,
     X509_V_ERR_PROXY_SUBJECT_NAME_VIOLATION},
    {"CnJoinsTheLastRdn", "O=Bank/CN=Alice+CN=1", nullptr, true,
     X509_V_ERR_PROXY_SUBJECT_NAME_VIOLATION},
    {"LastRdnOfTwo", "O=Bank/CN=Alice/CN=1+O=Bank", nullptr, true,
     X509_V_ERR_PROXY_SUBJECT_NAME_VIOLATION},
    {"NotACn", "O=Bank/CN=Alice/O=1", nullptr, true, X509_V_ERR_PROXY_SUBJECT_NAME_VIOLATION},
    {"TwoMore", "O=Bank/CN=Alice/CN=1/CN=2", nullptr, true,
     X509_V_ERR_PROXY_SUBJECT_NAME_VIOLATION},
    {"SecondBreaksTheRule", "O=Bank/CN=Alice/CN=1", "O=Bank/CN=Alice/CN=2", true,
     X509_V_ERR_PROXY_SUBJECT_NAME_VIOLATION},
    {"IssuerDoesNotSign", "O=Bank/CN=Alice/CN=1", nullptr, false,
     X509_V_ERR_KEYUSAGE_NO_DIGITAL_SIGNATURE},
};

void PrintTo(const ProxyCase& c, std::ostream* os) {
  *os << c.name;
}

class ProxyNames : public testing::TestWithParam<ProxyCase> {};

// Root issues the end entity "O=Bank, CN=Alice", who issues the proxy (and
// the proxy a second one); proxies allowed by the flag, by the environment
// variable, and by the flag under strict checks for an SSL client.
TEST_P(ProxyNames, AProxyIsNamedByItsIssuer) {
  const ProxyCase& c = GetParam();
  Morvane_add_all_digests();
  EVP_PKEY* root_key = x509_test::RsaKey();
  EVP_PKEY* alice_key = x509_test::RsaKey2();
  X509* root = Named("CN=Root", "CN=Root", 1, x509_test::kCaExts, root_key, root_key);
  X509* alice = Named("O=Bank/CN=Alice", "CN=Root", 2, {c.alice_signs ? kSigning : kEnciphering},
                      alice_key, root_key);
  X509* proxy = Named(c.proxy, "O=Bank/CN=Alice", 3, {kProxyInfo}, root_key, alice_key);
  X509* second = c.second != nullptr
                     ? Named(c.second, c.proxy, 4, {kProxyInfo}, alice_key, root_key)
                     : nullptr;
  X509_STORE* store = X509_STORE_new();
  ASSERT_EQ(1, X509_STORE_add_cert(store, root));
  STACK* untrusted = sk_new_null();
  sk_push(untrusted, reinterpret_cast<char*>(alice));
  if (second != nullptr) sk_push(untrusted, reinterpret_cast<char*>(proxy));
  const x509_test::Outcome want{c.error == 0 ? 1 : 0, c.error};
  enum { kFlag, kVariable, kStrictClient };
  for (const int mode : {kFlag, kVariable, kStrictClient}) {
    SCOPED_TRACE(mode);
    if (mode == kVariable) setenv("MORVANE_ALLOW_PROXY_CERTS", "1", 1);
    X509_STORE_CTX* ctx = X509_STORE_CTX_new();
    ASSERT_EQ(1, X509_STORE_CTX_init(ctx, store, second != nullptr ? second : proxy, untrusted));
    X509_STORE_CTX_set_time(ctx, 0, x509_test::kChainMoment);
    if (mode != kVariable) X509_STORE_CTX_set_flags(ctx, X509_V_FLAG_ALLOW_PROXY_CERTS);
    if (mode == kStrictClient) {
      X509_STORE_CTX_set_flags(ctx, X509_V_FLAG_X509_STRICT);
      X509_STORE_CTX_set_purpose(ctx, X509_PURPOSE_SSL_CLIENT);
    }
    EXPECT_EQ(want, (x509_test::Outcome{X509_verify_cert(ctx), X509_STORE_CTX_get_error(ctx)}));
    X509_STORE_CTX_free(ctx);
    unsetenv("MORVANE_ALLOW_PROXY_CERTS");
    morvane_test::DrainErrors();
  }
  sk_free(untrusted);
  X509_STORE_free(store);
  for (X509* x : {root, alice, proxy, second}) X509_free(x);
}

INSTANTIATE_TEST_SUITE_P(Proxies, ProxyNames, testing::ValuesIn(kProxyCases),
                         [](const testing::TestParamInfo<ProxyCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
