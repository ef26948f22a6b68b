// Verification of basic responses and signed requests against a test PKI:
// a CA with end-entity certificates, a delegated responder with the
// OCSPSigning key purpose, one without it, and a second CA with a responder
// of its own; a DSA responder whose key inherits its CA's parameters.

#include <ctype.h>
#include <string.h>

#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/bn.h>
#include <morvane/dsa.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/ocsp.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>
#include <morvane/x509v3.h>

#include "cert_builder.h"
#include "ocsp_util.h"
#include "test_support.h"

namespace {

using morvane_test::CertExt;
using morvane_test::CertSpec;
using morvane_test::ErrEntry;
using morvane_test::ErrorsAre;
using morvane_test::FromHex;

constexpr int kLib = ERR_LIB_OCSP;
constexpr int kNidBasicConstraints = 87;
constexpr int kNidExtKeyUsage = 126;
constexpr int kNidOcspSign = 180;

// basicConstraints cA TRUE, and extKeyUsage id-kp-OCSPSigning (RFC 5280,
// 4.2.1.9 and 4.2.1.12).
CertExt CaExt() {
  return {kNidBasicConstraints, true, FromHex("30030101ff")};
}
CertExt OcspSignExt() {
  return {kNidExtKeyUsage, false, FromHex("300a06082b06010505070309")};
}

enum Who { kCa, kResponder, kPlain, kOtherCa, kOtherResponder, kNobody };

// The test PKI, made once for the program.
struct Pki {
  EVP_PKEY* ca_key;
  EVP_PKEY* resp_key;
  EVP_PKEY* plain_key;
  EVP_PKEY* other_key;
  X509* ca;
  X509* responder;    // issued by ca, with OCSPSigning
  X509* plain;        // issued by ca, without extended key usage
  X509* stale_plain;  // plain's name with another key: an old certificate
  X509* other_ca;
  X509* other_responder;  // issued by other_ca, with OCSPSigning
  X509* ee1;
  X509* ee2;

  X509* cert(Who w) const {
    switch (w) {
      case kCa:
        return ca;
      case kResponder:
        return responder;
      case kPlain:
        return plain;
      case kOtherCa:
        return other_ca;
      case kOtherResponder:
        return other_responder;
      default:
        return nullptr;
    }
  }
  EVP_PKEY* key(Who w) const {
    switch (w) {
      case kCa:
        return ca_key;
      case kResponder:
        return resp_key;
      case kPlain:
        return plain_key;
      case kOtherCa:
        return other_key;
      case kOtherResponder:
        return resp_key;
      default:
        return nullptr;
    }
  }
};

const Pki& TestPki() {
  static const Pki pki = [] {
    MORVANE_add_all_algorithms_noconf();
    Pki p;
    p.ca_key = ocsp_test::NewRsaKey();
    p.resp_key = ocsp_test::NewRsaKey();
    p.plain_key = ocsp_test::NewRsaKey();
    p.other_key = ocsp_test::NewRsaKey();
    auto make = [](const char* subject, const char* issuer, long serial, EVP_PKEY* key,
                   EVP_PKEY* issuer_key, std::vector<CertExt> exts) {
      CertSpec s;
      s.subject = subject;
      s.issuer = issuer;
      s.serial = serial;
      s.key = key;
      s.issuer_key = issuer_key;
      s.exts = std::move(exts);
      return morvane_test::MakeCert(s);
    };
    p.ca = make("OCSP Test CA", "", 1, p.ca_key, p.ca_key, {CaExt()});
    p.responder = make("OCSP Responder", "OCSP Test CA", 2, p.resp_key, p.ca_key, {OcspSignExt()});
    p.plain = make("Plain Responder", "OCSP Test CA", 3, p.plain_key, p.ca_key, {});
    p.stale_plain = make("Plain Responder", "OCSP Test CA", 4, p.other_key, p.ca_key, {});
    p.ee1 = make("End Entity 1", "OCSP Test CA", 5, p.plain_key, p.ca_key, {});
    p.ee2 = make("End Entity 2", "OCSP Test CA", 6, p.plain_key, p.ca_key, {});
    p.other_ca = make("Other Test CA", "", 1, p.other_key, p.other_key, {CaExt()});
    p.other_responder =
        make("Other Responder", "Other Test CA", 2, p.resp_key, p.other_key, {OcspSignExt()});
    return p;
  }();
  return pki;
}

X509_STORE* NewStore(std::initializer_list<X509*> trusted) {
  X509_STORE* st = X509_STORE_new();
  for (X509* x : trusted) EXPECT_EQ(1, X509_STORE_add_cert(st, x));
  return st;
}

STACK* CertList(std::initializer_list<X509*> certs) {
  STACK* sk = sk_new_null();
  for (X509* x : certs) sk_push(sk, reinterpret_cast<char*>(x));
  return sk;  // borrowed entries: free with sk_free
}

// One identifier of a single response: the digest and the certificate asked
// about (issued by issuer).
struct IdSpec {
  const EVP_MD* (*md)();
  X509* (*subject)(const Pki&);
  X509* (*issuer)(const Pki&);
};
X509* Ee1(const Pki& p) {
  return p.ee1;
}
X509* Ee2(const Pki& p) {
  return p.ee2;
}
X509* Ca(const Pki& p) {
  return p.ca;
}
X509* OtherCa(const Pki& p) {
  return p.other_ca;
}
X509* OtherResp(const Pki& p) {
  return p.other_responder;
}

enum Mutation { kNone, kShortKeyId, kBadSignature };

// A basic response with a good status for each identifier, signed by
// signer.
OCSP_BASICRESP* SignedResponse(Who signer, const std::vector<IdSpec>& ids, unsigned long sign_flags,
                               Mutation m) {
  const Pki& p = TestPki();
  OCSP_BASICRESP* bs = OCSP_BASICRESP_new();
  ASN1_TIME* now = X509_gmtime_adj(nullptr, 0);
  for (const IdSpec& s : ids) {
    OCSP_CERTID* id = OCSP_cert_to_id(s.md(), s.subject(p), s.issuer(p));
    EXPECT_NE(nullptr,
              OCSP_basic_add1_status(bs, id, V_OCSP_CERTSTATUS_GOOD, -1, nullptr, now, nullptr));
    OCSP_CERTID_free(id);
  }
  ASN1_TIME_free(now);
  EXPECT_EQ(1, OCSP_basic_sign(bs, p.cert(signer), p.key(signer), EVP_sha1(), nullptr, sign_flags));
  if (m == kShortKeyId) bs->tbsResponseData->responderId->value.byKey->length = 19;
  if (m == kBadSignature) bs->signature->data[0] ^= 1;
  return bs;
}

const IdSpec kEe1Sha1{EVP_sha1, Ee1, Ca};
const IdSpec kEe2Sha1{EVP_sha1, Ee2, Ca};
const IdSpec kEe2Sha256{EVP_sha256, Ee2, Ca};
const IdSpec kOtherSha1{EVP_sha1, OtherResp, OtherCa};

struct BasicCase {
  const char* name;
  Who signer;
  std::vector<IdSpec> ids;
  unsigned long sign_flags;  // of OCSP_basic_sign
  Mutation mutation;
  Who caller_cert;  // the one certificate in the caller's certs (kNobody: none)
  bool store;       // the store holds both CAs (else it is empty)
  unsigned long flags;
  int want;
  std::vector<ErrEntry> errors;
};

const BasicCase kBasicCases[] = {
    {"signed by the issuing CA, in the store", kCa, {kEe1Sha1}, 0, kNone, kNobody, true, 0, 1, {}},
    {"delegated without OCSPSigning",
     kPlain,
     {kEe1Sha1},
     0,
     kNone,
     kNobody,
     true,
     0,
     0,
     {{kLib, OCSP_F_OCSP_CHECK_DELEGATED, OCSP_R_MISSING_OCSPSIGNING_USAGE},
      {kLib, OCSP_F_OCSP_BASIC_VERIFY, OCSP_R_ROOT_CA_NOT_TRUSTED}}},
    {"delegated with OCSPSigning", kResponder, {kEe1Sha1}, 0, kNone, kNobody, true, 0, 1, {}},
    {"delegated, responder id by key",
     kResponder,
     {kEe1Sha1},
     OCSP_RESPID_KEY,
     kNone,
     kNobody,
     true,
     0,
     1,
     {}},
    {"trusted caller certificate: only the signature",
     kPlain,
     {kEe1Sha1},
     OCSP_NOCERTS,
     kNone,
     kPlain,
     false,
     OCSP_TRUSTOTHER,
     1,
     {}},
    {"trusted caller certificate, bad signature",
     kPlain,
     {kEe1Sha1},
     OCSP_NOCERTS,
     kBadSignature,
     kPlain,
     false,
     OCSP_TRUSTOTHER,
     0,
     {{kLib, OCSP_F_OCSP_BASIC_VERIFY, OCSP_R_SIGNATURE_FAILURE}}},
    {"caller certificate without OCSP_TRUSTOTHER verifies its chain",
     kPlain,
     {kEe1Sha1},
     OCSP_NOCERTS,
     kNone,
     kPlain,
     true,
     0,
     0,
     {{kLib, OCSP_F_OCSP_CHECK_DELEGATED, OCSP_R_MISSING_OCSPSIGNING_USAGE},
      {kLib, OCSP_F_OCSP_BASIC_VERIFY, OCSP_R_ROOT_CA_NOT_TRUSTED}}},
    {"key id of 19 bytes finds no signer",
     kResponder,
     {kEe1Sha1},
     OCSP_RESPID_KEY,
     kShortKeyId,
     kResponder,
     true,
     0,
     0,
     {{kLib, OCSP_F_OCSP_BASIC_VERIFY, OCSP_R_SIGNER_CERTIFICATE_NOT_FOUND}}},
    {"OCSP_NOINTERN ignores the response's certificates",
     kCa,
     {kEe1Sha1},
     0,
     kNone,
     kNobody,
     true,
     OCSP_NOINTERN,
     0,
     {{kLib, OCSP_F_OCSP_BASIC_VERIFY, OCSP_R_SIGNER_CERTIFICATE_NOT_FOUND}}},
    {"two hash algorithms for one issuer, delegated",
     kResponder,
     {kEe1Sha1, kEe2Sha256},
     0,
     kNone,
     kNobody,
     true,
     0,
     1,
     {}},
    {"two hash algorithms for one issuer, the CA",
     kCa,
     {kEe1Sha1, kEe2Sha256, kEe2Sha1},
     0,
     kNone,
     kNobody,
     true,
     0,
     1,
     {}},
    {"two issuers, one algorithm: the root must be trusted",
     kResponder,
     {kEe1Sha1, kOtherSha1},
     0,
     kNone,
     kNobody,
     true,
     0,
     0,
     {{kLib, OCSP_F_OCSP_BASIC_VERIFY, OCSP_R_ROOT_CA_NOT_TRUSTED}}},
    {"no single responses",
     kCa,
     {},
     0,
     kNone,
     kNobody,
     true,
     0,
     -1,
     {{kLib, OCSP_F_OCSP_CHECK_IDS, OCSP_R_RESPONSE_CONTAINS_NO_REVOCATION_DATA}}},
    {"unrelated signer with OCSP_NOEXPLICIT",
     kOtherResponder,
     {kEe1Sha1},
     0,
     kNone,
     kNobody,
     true,
     OCSP_NOEXPLICIT,
     0,
     {}},
    {"unrelated signer, root not trusted for OCSP",
     kOtherResponder,
     {kEe1Sha1},
     0,
     kNone,
     kNobody,
     true,
     0,
     0,
     {{kLib, OCSP_F_OCSP_BASIC_VERIFY, OCSP_R_ROOT_CA_NOT_TRUSTED}}},
    {"chain to a CA outside the store",
     kResponder,
     {kEe1Sha1},
     0,
     kNone,
     kNobody,
     false,
     0,
     0,
     {{kLib, OCSP_F_OCSP_BASIC_VERIFY, OCSP_R_CERTIFICATE_VERIFY_ERROR,
       "Verify error:unable to get local issuer certificate"}}},
    {"OCSP_NOVERIFY skips the chain",
     kResponder,
     {kEe1Sha1},
     0,
     kNone,
     kNobody,
     false,
     OCSP_NOVERIFY,
     1,
     {}},
    {"OCSP_NOCHECKS skips the issuer check",
     kPlain,
     {kEe1Sha1},
     0,
     kNone,
     kNobody,
     true,
     OCSP_NOCHECKS,
     1,
     {}},
    {"OCSP_NOSIGS skips a bad signature",
     kCa,
     {kEe1Sha1},
     0,
     kBadSignature,
     kNobody,
     true,
     OCSP_NOSIGS,
     1,
     {}},
    {"bad signature",
     kCa,
     {kEe1Sha1},
     0,
     kBadSignature,
     kNobody,
     true,
     0,
     0,
     {{kLib, OCSP_F_OCSP_BASIC_VERIFY, OCSP_R_SIGNATURE_FAILURE}}},
    {"OCSP_TRUSTOTHER leaves the response's signer to its chain",
     kResponder,
     {kEe1Sha1},
     0,
     kNone,
     kNobody,
     false,
     OCSP_TRUSTOTHER,
     0,
     {{kLib, OCSP_F_OCSP_BASIC_VERIFY, OCSP_R_CERTIFICATE_VERIFY_ERROR,
       "Verify error:unable to get local issuer certificate"}}},
};

// The test name of a table row: its description with '_' for every
// character that is not a letter or digit.
template <class C>
std::string CaseName(const testing::TestParamInfo<C>& info) {
  std::string n;
  for (const char* s = info.param.name; *s; s++)
    n += isalnum(static_cast<unsigned char>(*s)) ? *s : '_';
  return n;
}

// A damaged RSA signature queues the decoder's errors first, which depend
// on the random key; only the last entry is ours.
void ExpectErrors(bool last_only, const std::vector<ErrEntry>& want) {
  if (!last_only || want.empty()) {
    EXPECT_TRUE(ErrorsAre(want));
    return;
  }
  ASSERT_EQ(1u, want.size());
  EXPECT_EQ(ERR_PACK(want[0].lib, want[0].func, want[0].reason), ERR_peek_last_error());
  ERR_clear_error();
}

// Runs verify with the row's caller certificate and store (both CAs, or
// none) and checks its result and errors.
template <class Row, class F>
void RunVerify(const Row& c, bool last_error_only, F verify) {
  const Pki& p = TestPki();
  X509_STORE* store = c.store ? NewStore({p.ca, p.other_ca}) : NewStore({});
  STACK* certs = c.caller_cert == kNobody ? nullptr : CertList({p.cert(c.caller_cert)});
  ERR_clear_error();
  EXPECT_EQ(c.want, verify(certs, store));
  ExpectErrors(last_error_only, c.errors);
  sk_free(certs);
  X509_STORE_free(store);
}

void PrintTo(const BasicCase& c, std::ostream* os) {
  *os << c.name;
}

class OcspBasicVerify : public testing::TestWithParam<BasicCase> {};

TEST_P(OcspBasicVerify, Case) {
  const BasicCase& c = GetParam();
  OCSP_BASICRESP* bs = SignedResponse(c.signer, c.ids, c.sign_flags, c.mutation);
  RunVerify(c, c.mutation == kBadSignature, [&](STACK* certs, X509_STORE* store) {
    return OCSP_basic_verify(bs, certs, store, c.flags);
  });
  OCSP_BASICRESP_free(bs);
}

INSTANTIATE_TEST_SUITE_P(Table, OcspBasicVerify, testing::ValuesIn(kBasicCases),
                         CaseName<BasicCase>);

// A root marked as trusted for OCSP signing entitles a signer that is
// neither the issuer nor delegated by it, unless OCSP_NOEXPLICIT.
TEST(OcspBasicVerifyTrust, ExplicitlyTrustedRoot) {
  const Pki& p = TestPki();
  X509* root = X509_dup(p.other_ca);
  ASSERT_EQ(1, X509_add1_trust_object(root, OBJ_nid2obj(kNidOcspSign)));
  X509_STORE* store = NewStore({p.ca, root});
  OCSP_BASICRESP* bs = SignedResponse(kOtherResponder, {kEe1Sha1}, 0, kNone);
  ERR_clear_error();
  EXPECT_EQ(1, OCSP_basic_verify(bs, nullptr, store, 0));
  EXPECT_EQ(0, OCSP_basic_verify(bs, nullptr, store, OCSP_NOEXPLICIT));
  EXPECT_TRUE(ErrorsAre({}));
  OCSP_BASICRESP_free(bs);
  X509_STORE_free(store);
  X509_free(root);
}

// Every certificate of the responder's name is tried: a response carrying
// the responder's old certificate (another key) and its new one verifies in
// both orders, and a stale certificate in the caller's list does not fail a
// response whose own certificate verifies.
TEST(OcspBasicVerifyTrust, EveryCertificateOfTheResponderIsTried) {
  const Pki& p = TestPki();
  CertSpec s;
  s.subject = "OCSP Responder";
  s.issuer = "OCSP Test CA";
  s.serial = 7;
  s.key = p.plain_key;
  s.issuer_key = p.ca_key;
  s.exts = {OcspSignExt()};
  X509* stale = morvane_test::MakeCert(s);
  X509_STORE* store = NewStore({p.ca});
  STACK* mine = CertList({stale});
  for (bool stale_first : {true, false}) {
    for (STACK* certs : {static_cast<STACK*>(nullptr), mine}) {
      SCOPED_TRACE(testing::Message() << stale_first << (certs != nullptr));
      OCSP_BASICRESP* bs = SignedResponse(kResponder, {kEe1Sha1}, OCSP_NOCERTS, kNone);
      for (X509* x : stale_first ? std::vector<X509*>{stale, p.responder}
                                 : std::vector<X509*>{p.responder, stale})
        ASSERT_EQ(1, OCSP_basic_add1_cert(bs, x));
      ERR_clear_error();
      EXPECT_EQ(1, OCSP_basic_verify(bs, certs, store, 0));
      EXPECT_TRUE(ErrorsAre({}));
      OCSP_BASICRESP_free(bs);
    }
  }
  // None of them verifies: the first one's reason.
  OCSP_BASICRESP* bs = SignedResponse(kResponder, {kEe1Sha1}, OCSP_NOCERTS, kNone);
  ASSERT_EQ(1, OCSP_basic_add1_cert(bs, stale));
  ERR_clear_error();
  EXPECT_EQ(0, OCSP_basic_verify(bs, mine, store, 0));
  EXPECT_EQ(ERR_PACK(kLib, OCSP_F_OCSP_BASIC_VERIFY, OCSP_R_SIGNATURE_FAILURE),
            ERR_peek_last_error());
  ERR_clear_error();
  OCSP_BASICRESP_free(bs);
  // Each candidate is tried once: with no anchor, the verify callback hears
  // the responder's chain fail as often as when it is the only candidate.
  static int heard;
  X509_STORE* empty = NewStore({});
  empty->verify_cb = [](int ok, X509_STORE_CTX*) { return heard++, ok; };
  int alone = 0;
  for (bool with_stale : {false, true}) {
    bs = SignedResponse(kResponder, {kEe1Sha1}, OCSP_NOCERTS, kNone);
    ASSERT_EQ(1, OCSP_basic_add1_cert(bs, p.responder));
    if (with_stale) {
      ASSERT_EQ(1, OCSP_basic_add1_cert(bs, stale));
    }
    heard = 0;
    EXPECT_EQ(0, OCSP_basic_verify(bs, nullptr, empty, 0));
    if (!with_stale) alone = heard;
    EXPECT_GT(heard, 0);
    EXPECT_EQ(alone, heard);
    ERR_clear_error();
    OCSP_BASICRESP_free(bs);
  }
  X509_STORE_free(empty);
  sk_free(mine);
  X509_STORE_free(store);
  X509_free(stale);
}

// A delegated responder whose DSA key takes its parameters from its CA's
// (its certificate's key algorithm has none): the response verifies, the
// signature checked with the parameters of the chain verified; without
// the chain it cannot be checked.
TEST(OcspBasicVerifyTrust, DsaResponderInheritingItsParameters) {
  MORVANE_add_all_algorithms_noconf();
  DSA* ca_dsa = DSA_new();
  ASSERT_EQ(1, DSA_generate_parameters_ex(ca_dsa, 1024, nullptr, 0, nullptr, nullptr, nullptr));
  DSA* resp_dsa = DSA_new();
  resp_dsa->p = BN_dup(ca_dsa->p);
  resp_dsa->q = BN_dup(ca_dsa->q);
  resp_dsa->g = BN_dup(ca_dsa->g);
  ASSERT_EQ(1, DSA_generate_key(ca_dsa));
  ASSERT_EQ(1, DSA_generate_key(resp_dsa));
  EVP_PKEY* ca_key = EVP_PKEY_new();
  EVP_PKEY_assign_DSA(ca_key, ca_dsa);
  EVP_PKEY* resp_key = EVP_PKEY_new();
  EVP_PKEY_assign_DSA(resp_key, resp_dsa);
  X509* ca = morvane_test::MakeCert({"DSA OCSP CA", "", 2, 1, {CaExt()}, ca_key, ca_key});
  // Signed with its parameters in hand (the signer must match its key), sent
  // without them.
  X509* signing = morvane_test::MakeCert(
      {"DSA Responder", "DSA OCSP CA", 2, 2, {OcspSignExt()}, resp_key, ca_key});
  X509* made = X509_dup(signing);
  ASN1_TYPE_free(made->cert_info->key->algor->parameter);
  made->cert_info->key->algor->parameter = nullptr;
  ASSERT_GT(X509_sign(made, ca_key, EVP_dss1()), 0);
  unsigned char* der = nullptr;
  const int len = i2d_X509(made, &der);
  const unsigned char* in = der;
  X509* responder = d2i_X509(nullptr, &in, len);
  CRYPTO_free(der);
  X509_free(made);
  X509* ee = morvane_test::MakeCert({"DSA End Entity", "DSA OCSP CA", 2, 3, {}, ca_key, ca_key});
  OCSP_BASICRESP* bs = OCSP_BASICRESP_new();
  OCSP_CERTID* id = OCSP_cert_to_id(EVP_sha1(), ee, ca);
  ASN1_TIME* now = X509_gmtime_adj(nullptr, 0);
  ASSERT_NE(nullptr,
            OCSP_basic_add1_status(bs, id, V_OCSP_CERTSTATUS_GOOD, -1, nullptr, now, nullptr));
  ASN1_TIME_free(now);
  OCSP_CERTID_free(id);
  ASSERT_EQ(1, OCSP_basic_sign(bs, signing, resp_key, EVP_dss1(), nullptr, OCSP_NOCERTS));
  ASSERT_EQ(1, OCSP_basic_add1_cert(bs, responder));
  X509_STORE* store = NewStore({ca});
  ERR_clear_error();
  EXPECT_EQ(1, OCSP_basic_verify(bs, nullptr, store, 0));
  EXPECT_TRUE(ErrorsAre({}));
  EXPECT_GE(0, OCSP_basic_verify(bs, nullptr, store, OCSP_NOVERIFY));
  ERR_clear_error();
  X509_STORE_free(store);
  OCSP_BASICRESP_free(bs);
  for (X509* x : {ca, signing, responder, ee}) X509_free(x);
  EVP_PKEY_free(ca_key);
  EVP_PKEY_free(resp_key);
}

// An identifier whose hash algorithm names no digest cannot be matched.
TEST(OcspBasicVerifyTrust, UnknownIdDigest) {
  const Pki& p = TestPki();
  OCSP_BASICRESP* bs = OCSP_BASICRESP_new();
  OCSP_CERTID* id = OCSP_cert_to_id(nullptr, p.ee1, p.ca);
  ASN1_OBJECT_free(id->hashAlgorithm->algorithm);
  id->hashAlgorithm->algorithm = OBJ_nid2obj(kNidOcspSign);
  ASN1_TIME* now = X509_gmtime_adj(nullptr, 0);
  ASSERT_NE(nullptr, OCSP_basic_add1_status(bs, id, 0, -1, nullptr, now, nullptr));
  ASSERT_EQ(1, OCSP_basic_sign(bs, p.ca, p.ca_key, EVP_sha1(), nullptr, 0));
  X509_STORE* store = NewStore({p.ca});
  ERR_clear_error();
  EXPECT_EQ(-1, OCSP_basic_verify(bs, nullptr, store, 0));
  EXPECT_TRUE(ErrorsAre({{kLib, OCSP_F_OCSP_MATCH_ISSUERID, OCSP_R_UNKNOWN_MESSAGE_DIGEST}}));
  X509_STORE_free(store);
  ASN1_TIME_free(now);
  OCSP_CERTID_free(id);
  OCSP_BASICRESP_free(bs);
}

// A null store verifies no chain; a null response is refused.
TEST(OcspBasicVerifyTrust, NullArguments) {
  OCSP_BASICRESP* bs = SignedResponse(kCa, {kEe1Sha1}, 0, kNone);
  ERR_clear_error();
  EXPECT_NE(1, OCSP_basic_verify(bs, nullptr, nullptr, 0));
  EXPECT_EQ(1, OCSP_basic_verify(bs, nullptr, nullptr, OCSP_NOVERIFY));
  EXPECT_EQ(0, OCSP_basic_verify(nullptr, nullptr, nullptr, 0));
  EXPECT_EQ(0, OCSP_request_verify(nullptr, nullptr, nullptr, 0));
  ERR_clear_error();
  OCSP_BASICRESP_free(bs);
}

// ---- requests ---------------------------------------------------------------

enum ReqShape {
  kUnsigned,
  kSigned,
  kSignedNoCerts,
  kUriRequestor,
  kSignedBadSignature,
  kSignedStaleFirst  // the requestor's stale certificate before its own
};

OCSP_REQUEST* MakeRequest(ReqShape shape, Who signer) {
  const Pki& p = TestPki();
  OCSP_REQUEST* req = OCSP_REQUEST_new();
  EXPECT_NE(nullptr, OCSP_request_add0_id(req, OCSP_cert_to_id(nullptr, p.ee1, p.ca)));
  if (shape == kUnsigned) return req;
  EXPECT_EQ(1, OCSP_request_sign(
                   req, p.cert(signer), p.key(signer), EVP_sha1(), nullptr,
                   shape == kSignedNoCerts || shape == kSignedStaleFirst ? OCSP_NOCERTS : 0));
  if (shape == kSignedStaleFirst) {
    EXPECT_EQ(1, OCSP_request_add1_cert(req, p.stale_plain));
    EXPECT_EQ(1, OCSP_request_add1_cert(req, p.cert(signer)));
  }
  if (shape == kSignedBadSignature) req->optionalSignature->signature->data[0] ^= 1;
  if (shape == kUriRequestor) {
    GENERAL_NAME* gen = GENERAL_NAME_new();
    gen->type = GEN_URI;
    gen->d.uniformResourceIdentifier = ASN1_IA5STRING_new();
    ASN1_STRING_set(gen->d.uniformResourceIdentifier, "http://client", -1);
    GENERAL_NAME_free(req->tbsRequest->requestorName);
    req->tbsRequest->requestorName = gen;
  }
  return req;
}

struct RequestCase {
  const char* name;
  ReqShape shape;
  Who signer;
  Who caller_cert;
  bool store;
  unsigned long flags;
  int want;
  std::vector<ErrEntry> errors;
};

const RequestCase kRequestCases[] = {
    {"not signed",
     kUnsigned,
     kNobody,
     kNobody,
     true,
     0,
     0,
     {{kLib, OCSP_F_OCSP_REQUEST_VERIFY, OCSP_R_REQUEST_NOT_SIGNED}}},
    {"requestor name not a directory name",
     kUriRequestor,
     kPlain,
     kNobody,
     true,
     0,
     0,
     {{kLib, OCSP_F_OCSP_REQUEST_VERIFY, OCSP_R_UNSUPPORTED_REQUESTORNAME_TYPE}}},
    {"signer among the request's certificates", kSigned, kPlain, kNobody, true, 0, 1, {}},
    {"signer only in the caller's certs",
     kSignedNoCerts,
     kPlain,
     kPlain,
     true,
     0,
     0,
     {{kLib, OCSP_F_OCSP_REQUEST_VERIFY, OCSP_R_SIGNER_CERTIFICATE_NOT_FOUND}}},
    {"signer in the caller's certs with OCSP_NOINTERN",
     kSignedNoCerts,
     kPlain,
     kPlain,
     true,
     OCSP_NOINTERN,
     1,
     {}},
    {"OCSP_NOINTERN and OCSP_TRUSTOTHER need no store",
     kSignedNoCerts,
     kPlain,
     kPlain,
     false,
     OCSP_NOINTERN | OCSP_TRUSTOTHER,
     1,
     {}},
    {"OCSP_NOINTERN ignores the request's certificates",
     kSigned,
     kPlain,
     kNobody,
     true,
     OCSP_NOINTERN,
     0,
     {{kLib, OCSP_F_OCSP_REQUEST_VERIFY, OCSP_R_SIGNER_CERTIFICATE_NOT_FOUND}}},
    {"bad signature",
     kSignedBadSignature,
     kPlain,
     kNobody,
     true,
     0,
     0,
     {{kLib, OCSP_F_OCSP_REQUEST_VERIFY, OCSP_R_SIGNATURE_FAILURE}}},
    {"chain to a CA outside the store",
     kSigned,
     kPlain,
     kNobody,
     false,
     0,
     0,
     {{kLib, OCSP_F_OCSP_REQUEST_VERIFY, OCSP_R_CERTIFICATE_VERIFY_ERROR,
       "Verify error:unable to get local issuer certificate"}}},
    {"self-signed signer in the store", kSigned, kOtherCa, kNobody, true, 0, 1, {}},
    {"every certificate of the requestor's name is tried",
     kSignedStaleFirst,
     kPlain,
     kNobody,
     true,
     0,
     1,
     {}},
};

void PrintTo(const RequestCase& c, std::ostream* os) {
  *os << c.name;
}

class OcspRequestVerify : public testing::TestWithParam<RequestCase> {};

TEST_P(OcspRequestVerify, Case) {
  const RequestCase& c = GetParam();
  OCSP_REQUEST* req = MakeRequest(c.shape, c.signer);
  RunVerify(c, c.shape == kSignedBadSignature, [&](STACK* certs, X509_STORE* store) {
    return OCSP_request_verify(req, certs, store, c.flags);
  });
  OCSP_REQUEST_free(req);
}

INSTANTIATE_TEST_SUITE_P(Table, OcspRequestVerify, testing::ValuesIn(kRequestCases),
                         CaseName<RequestCase>);

}  // namespace
