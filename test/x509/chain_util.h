// A three-certificate chain made by the tests (root, intermediate CA and
// leaf, with a revocation list from each CA), kept as DER so that a test can
// decode fresh objects, and one verification of it with every check on.
#ifndef MORVANE_TEST_X509_CHAIN_UTIL_H
#define MORVANE_TEST_X509_CHAIN_UTIL_H

#include <vector>

#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>
#include <morvane/x509v3.h>

#include "cert_builder.h"
#include "der_util.h"
#include "test_support.h"

namespace x509_test {

using morvane_test::CertExt;
using morvane_test::FromHex;

// Extension values (RFC 5280, 4.2.1): basicConstraints cA TRUE; keyUsage
// keyCertSign and cRLSign; keyUsage digitalSignature and keyEncipherment;
// extKeyUsage serverAuth; certificatePolicies anyPolicy; policyConstraints
// without either field (which 4.2.1.11 forbids); subject and authority key
// identifiers 0102 and 0304.
constexpr int kNidSubjectKeyId = 82, kNidKeyUsage = 83, kNidBasicConstraints = 87,
              kNidCertificatePolicies = 89, kNidAuthorityKeyId = 90, kNidExtKeyUsage = 126,
              kNidPolicyConstraints = 401;
inline const CertExt kCa{kNidBasicConstraints, true, FromHex("30030101ff")};
inline const CertExt kCaUsage{kNidKeyUsage, true, FromHex("03020106")};
inline const CertExt kLeafUsage{kNidKeyUsage, true, FromHex("030205a0")};
inline const CertExt kServer{kNidExtKeyUsage, false, FromHex("300a06082b06010505070301")};
inline const CertExt kAnyPolicy{kNidCertificatePolicies, false, FromHex("300830060604551d2000")};
inline const CertExt kEmptyPolicyConstraints{kNidPolicyConstraints, true, FromHex("3000")};
inline const CertExt kSubjectKeyId0102{kNidSubjectKeyId, false, FromHex("04020102")};
inline const CertExt kAuthorityKeyId0304{kNidAuthorityKeyId, false, FromHex("300480020304")};

inline const std::vector<CertExt> kCaExts = {kCa, kCaUsage, kAnyPolicy};
inline const std::vector<CertExt> kLeafExts = {kLeafUsage, kServer, kAnyPolicy};

struct ChainDer {
  Bytes root, ca, leaf, root_crl, ca_crl;
};

// CN=Root (self-signed) issues CN=CA, which issues CN=Leaf; each CA's
// revocation list names serial numbers out of order, none of the chain's.
inline ChainDer MakeChainDer(const std::vector<CertExt>& ca_exts = kCaExts,
                             const std::vector<CertExt>& leaf_exts = kLeafExts) {
  auto cert = [](const morvane_test::CertSpec& spec) {
    X509* x = morvane_test::MakeCert(spec);
    Bytes der = Encode(i2d_X509, x);
    X509_free(x);
    return der;
  };
  auto crl = [](const char* issuer, const std::vector<morvane_test::CrlEntry>& entries) {
    X509_CRL* c = morvane_test::MakeCrl(issuer, entries);
    Bytes der = Encode(i2d_X509_CRL, c);
    X509_CRL_free(c);
    return der;
  };
  ChainDer d;
  d.root = cert({"Root", "", 2, 1, kCaExts});
  d.ca = cert({"CA", "Root", 2, 2, ca_exts});
  d.leaf = cert({"Leaf", "CA", 2, 3, leaf_exts});
  d.root_crl = crl("Root", {{7, {}}, {5, {}}});
  d.ca_crl = crl("CA", {{9, {}}, {8, {}}, {4, {}}});
  return d;
}

// Objects decoded from a ChainDer: a store holding the root, the CA as the
// untrusted list and both revocation lists.
struct Chain {
  explicit Chain(const ChainDer& d)
      : root(Decode(d2i_X509, d.root)),
        ca(Decode(d2i_X509, d.ca)),
        leaf(Decode(d2i_X509, d.leaf)),
        root_crl(Decode(d2i_X509_CRL, d.root_crl)),
        ca_crl(Decode(d2i_X509_CRL, d.ca_crl)),
        store(X509_STORE_new()),
        untrusted(sk_new_null()),
        crls(sk_new_null()) {
    EXPECT_EQ(1, X509_STORE_add_cert(store, root));
    sk_push(untrusted, reinterpret_cast<char*>(ca));
    sk_push(crls, reinterpret_cast<char*>(ca_crl));
    sk_push(crls, reinterpret_cast<char*>(root_crl));
  }
  ~Chain() {
    sk_free(untrusted);
    sk_free(crls);
    X509_STORE_free(store);
    for (X509* x : {root, ca, leaf}) X509_free(x);
    X509_CRL_free(root_crl);
    X509_CRL_free(ca_crl);
  }
  Chain(const Chain&) = delete;
  Chain& operator=(const Chain&) = delete;

  X509 *root, *ca, *leaf;
  X509_CRL *root_crl, *ca_crl;
  X509_STORE* store;
  STACK *untrusted, *crls;
};

// What X509_verify_cert gave and the context's error.
struct Outcome {
  int result = -100;
  int error = -1;
  bool operator==(const Outcome&) const = default;
};
inline std::ostream& operator<<(std::ostream& os, const Outcome& o) {
  return os << "{" << o.result << ", error " << o.error << "}";
}

constexpr time_t kChainMoment = 1609459200;  // 2021-01-01 00:00:00 UTC

// A context made (and the parameters set) before `before_run(ctx)` is
// called: the leaf against the chain's store at kChainMoment, revocation
// lists checked for the whole chain, policies checked, strict, for an SSL
// server.
template <class F>
Outcome VerifyChain(const Chain& c, F before_run) {
  Outcome out;
  X509_STORE_CTX* ctx = X509_STORE_CTX_new();
  if (ctx != nullptr && X509_STORE_CTX_init(ctx, c.store, c.leaf, c.untrusted) == 1) {
    X509_STORE_CTX_set_time(ctx, 0, kChainMoment);
    X509_STORE_CTX_set0_crls(ctx, c.crls);
    X509_STORE_CTX_set_flags(ctx, X509_V_FLAG_CRL_CHECK | X509_V_FLAG_CRL_CHECK_ALL |
                                      X509_V_FLAG_POLICY_CHECK | X509_V_FLAG_X509_STRICT);
    X509_STORE_CTX_set_purpose(ctx, X509_PURPOSE_SSL_SERVER);
    before_run(ctx);
    out.result = X509_verify_cert(ctx);
    out.error = X509_STORE_CTX_get_error(ctx);
  }
  X509_STORE_CTX_free(ctx);
  return out;
}
inline Outcome VerifyChain(const Chain& c) {
  return VerifyChain(c, [](X509_STORE_CTX*) {});
}

}  // namespace x509_test

#endif  // MORVANE_TEST_X509_CHAIN_UTIL_H
