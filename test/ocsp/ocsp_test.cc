// OCSP structures, client and responder calls, identifiers, URLs and texts.

#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/ocsp.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>
#include <morvane/x509v3.h>

#include "ocsp_util.h"
#include "test_support.h"

namespace {

using morvane_test::ErrorsAre;
using ocsp_test::CaCert;
using ocsp_test::CaKey;

constexpr int kLib = ERR_LIB_OCSP;

ASN1_GENERALIZEDTIME* TimeFromNow(long secs) {
  ASN1_GENERALIZEDTIME* t = ASN1_GENERALIZEDTIME_new();
  X509_gmtime_adj(t, secs);
  return t;
}

ASN1_GENERALIZEDTIME* TimeText(const char* text) {
  ASN1_GENERALIZEDTIME* t = ASN1_GENERALIZEDTIME_new();
  ASN1_STRING_set(t, text, -1);
  return t;
}

TEST(OcspValidity, Cases) {
  ERR_clear_error();
  {
    // thisUpdate exactly now + nsec is accepted.
    ASN1_GENERALIZEDTIME* th = TimeFromNow(300);
    EXPECT_EQ(1, OCSP_check_validity(th, nullptr, 300, -1));
    EXPECT_TRUE(ErrorsAre({}));
    ASN1_GENERALIZEDTIME_free(th);
  }
  {
    // maxsec 0 and thisUpdate now: too old.
    ASN1_GENERALIZEDTIME* th = TimeFromNow(0);
    EXPECT_EQ(0, OCSP_check_validity(th, nullptr, 0, 0));
    EXPECT_TRUE(ErrorsAre({{kLib, OCSP_F_OCSP_CHECK_VALIDITY, OCSP_R_STATUS_TOO_OLD}}));
    ASN1_GENERALIZEDTIME_free(th);
  }
  {
    // A malformed nextUpdate shorter than thisUpdate: both errors.
    ASN1_GENERALIZEDTIME* th = TimeFromNow(-60);
    ASN1_GENERALIZEDTIME* nx = TimeText("2030");
    EXPECT_EQ(0, OCSP_check_validity(th, nx, 300, -1));
    EXPECT_TRUE(ErrorsAre({{kLib, OCSP_F_OCSP_CHECK_VALIDITY, OCSP_R_ERROR_IN_NEXTUPDATE_FIELD},
                           {kLib, OCSP_F_OCSP_CHECK_VALIDITY,
                            OCSP_R_NEXTUPDATE_BEFORE_THISUPDATE}}));
    ASN1_GENERALIZEDTIME_free(th);
    ASN1_GENERALIZEDTIME_free(nx);
  }
  {
    // Not yet valid, expired, malformed thisUpdate.
    ASN1_GENERALIZEDTIME* future = TimeFromNow(3600);
    EXPECT_EQ(0, OCSP_check_validity(future, nullptr, 300, -1));
    EXPECT_TRUE(ErrorsAre({{kLib, OCSP_F_OCSP_CHECK_VALIDITY, OCSP_R_STATUS_NOT_YET_VALID}}));
    ASN1_GENERALIZEDTIME* past = TimeFromNow(-7200);
    ASN1_GENERALIZEDTIME* next = TimeFromNow(-3600);
    EXPECT_EQ(0, OCSP_check_validity(past, next, 300, -1));
    EXPECT_TRUE(ErrorsAre({{kLib, OCSP_F_OCSP_CHECK_VALIDITY, OCSP_R_STATUS_EXPIRED}}));
    ASN1_GENERALIZEDTIME* bad = TimeText("x");
    EXPECT_EQ(0, OCSP_check_validity(bad, nullptr, 300, -1));
    EXPECT_TRUE(ErrorsAre({{kLib, OCSP_F_OCSP_CHECK_VALIDITY, OCSP_R_ERROR_IN_THISUPDATE_FIELD}}));
    ASN1_GENERALIZEDTIME_free(future);
    ASN1_GENERALIZEDTIME_free(past);
    ASN1_GENERALIZEDTIME_free(next);
    ASN1_GENERALIZEDTIME_free(bad);
  }
}

// The text of a GeneralizedTime secs from now with its final 'Z' replaced
// by tail.
std::string TextFromNow(long secs, const char* tail) {
  ASN1_GENERALIZEDTIME* t = TimeFromNow(secs);
  std::string text(reinterpret_cast<const char*>(t->data), static_cast<size_t>(t->length) - 1);
  ASN1_GENERALIZEDTIME_free(t);
  return text + tail;
}

// Time forms the comparison reads: an offset (local time, UTC + offset),
// fractional seconds, and the last second a GeneralizedTime can name
// against a skew beyond it.
TEST(OcspValidity, TimeForms) {
  struct Case {
    std::string thisupd;
    long nsec;
    int want;
  };
  const Case cases[] = {
      {TextFromNow(3600 - 60, "+0100"), 0, 1},  // a minute ago
      {TextFromNow(3600 - 60, "Z"), 0, 0},      // 59 minutes ahead
      {TextFromNow(-3600 + 60, "-0100"), 0, 0},  // a minute ahead
      {TextFromNow(-60, ".5Z"), 0, 1},
      {TextFromNow(60, ".5Z"), 0, 0},
      {"99991231235959Z", LONG_MAX, 1},
      {"99991231235959Z", 0, 0},
  };
  for (const Case& c : cases) {
    ASN1_GENERALIZEDTIME* th = TimeText(c.thisupd.c_str());
    EXPECT_EQ(c.want, OCSP_check_validity(th, nullptr, c.nsec, -1)) << c.thisupd;
    EXPECT_TRUE(ErrorsAre(c.want ? std::vector<morvane_test::ErrEntry>{}
                                 : std::vector<morvane_test::ErrEntry>{
                                       {kLib, OCSP_F_OCSP_CHECK_VALIDITY,
                                        OCSP_R_STATUS_NOT_YET_VALID}}))
        << c.thisupd;
    ASN1_GENERALIZEDTIME_free(th);
  }
}

// nextUpdate against thisUpdate as times: a fraction or an offset on
// either side counts by the moment it names, and only a nextUpdate before
// thisUpdate is refused.  Both texts are written from one reading of the
// clock, with skews of 300 seconds.
TEST(OcspValidity, NextUpdateAgainstThisUpdate) {
  const struct {
    long this_secs;
    const char* this_tail;  // replaces the final 'Z'
    long next_secs;
    const char* next_tail;
    bool before;  // nextUpdate before thisUpdate
  } kCases[] = {
      {-60, ".5Z", 3600, "Z", false},  // a fractional thisUpdate within its period
      {-60, ".123456Z", -59, "Z", false},
      {-60, "Z", 3600, ".25Z", false},
      {-60, ".5Z", -60, ".5Z", false},   // equal
      {-60, ".5Z", -60, ".50Z", false},  // equal
      {-60, "Z", -60, ".0Z", false},     // equal
      {-60, ".5Z", -60, ".75Z", false},
      {-60, ".75Z", -60, ".5Z", true},
      {-60, ".5Z", -60, "Z", true},
      {-60, "Z", -120, ".5Z", true},  // earlier, though its text is longer
      {-60, "Z", -61, ".999Z", true},
      {-60, ".1Z", -60, ".09Z", true},
      {-60, "Z", -60 + 3600 - 1, "+0100", true},  // an offset: UTC + 1 hour
      {-60, "Z", -60 + 3600, "+0100", false},
      {-60 - 3600, "-0100", -60, "Z", false},  // UTC - 1 hour
      {-60 - 3600, "-0100", -61, ".9Z", true},
  };
  time_t now = time(nullptr);
  auto text = [&now](long secs, const char* tail) {
    ASN1_GENERALIZEDTIME* t = ASN1_GENERALIZEDTIME_new();
    EXPECT_NE(nullptr, X509_time_adj(t, secs, &now));
    std::string s(reinterpret_cast<const char*>(t->data), static_cast<size_t>(t->length) - 1);
    ASN1_GENERALIZEDTIME_free(t);
    return TimeText((s + tail).c_str());
  };
  ERR_clear_error();
  for (const auto& c : kCases) {
    ASN1_GENERALIZEDTIME* th = text(c.this_secs, c.this_tail);
    ASN1_GENERALIZEDTIME* nx = text(c.next_secs, c.next_tail);
    const std::string trace = std::string(reinterpret_cast<const char*>(th->data), th->length) +
                              " " +
                              std::string(reinterpret_cast<const char*>(nx->data), nx->length);
    EXPECT_EQ(c.before ? 0 : 1, OCSP_check_validity(th, nx, 300, -1)) << trace;
    EXPECT_TRUE(ErrorsAre(
        c.before ? std::vector<morvane_test::ErrEntry>{{kLib, OCSP_F_OCSP_CHECK_VALIDITY,
                                                        OCSP_R_NEXTUPDATE_BEFORE_THISUPDATE}}
                 : std::vector<morvane_test::ErrEntry>{}))
        << trace;
    ASN1_GENERALIZEDTIME_free(th);
    ASN1_GENERALIZEDTIME_free(nx);
  }
}

// A malformed time keeps its own error: a nextUpdate whose day its month
// lacks, or a thisUpdate so, gives the field's error and is not compared as
// a time.
TEST(OcspValidity, ImpossibleDatesAreFieldErrors) {
  ERR_clear_error();
  ASN1_GENERALIZEDTIME* th = TimeFromNow(-60);
  ASN1_GENERALIZEDTIME* bad_next = TimeText("20990230000000Z");
  EXPECT_EQ(0, OCSP_check_validity(th, bad_next, 300, -1));
  EXPECT_TRUE(ErrorsAre({{kLib, OCSP_F_OCSP_CHECK_VALIDITY, OCSP_R_ERROR_IN_NEXTUPDATE_FIELD}}));
  // In the future, so that a comparison would also have found it not yet
  // valid.
  ASN1_GENERALIZEDTIME* bad_this = TimeText("20990230000000Z");
  ASN1_GENERALIZEDTIME* next = TimeText("20991231000000Z");
  EXPECT_EQ(0, OCSP_check_validity(bad_this, next, 300, -1));
  EXPECT_TRUE(ErrorsAre({{kLib, OCSP_F_OCSP_CHECK_VALIDITY, OCSP_R_ERROR_IN_THISUPDATE_FIELD}}));
  ASN1_GENERALIZEDTIME_free(th);
  ASN1_GENERALIZEDTIME_free(bad_next);
  ASN1_GENERALIZEDTIME_free(bad_this);
  ASN1_GENERALIZEDTIME_free(next);
}

TEST(OcspNonce, RandomNonceEncodingAndReplacement) {
  OCSP_REQUEST* req = OCSP_REQUEST_new();
  ASSERT_EQ(1, OCSP_request_add1_nonce(req, nullptr, 0));
  ASSERT_EQ(1, OCSP_REQUEST_get_ext_count(req));
  X509_EXTENSION* ex = OCSP_REQUEST_get_ext(req, 0);
  EXPECT_EQ(366, OBJ_obj2nid(ex->object));
  ASSERT_EQ(18, ex->value->length);
  EXPECT_EQ(0x04, ex->value->data[0]);
  EXPECT_EQ(0x10, ex->value->data[1]);
  unsigned char* der = nullptr;
  const int n = i2d_ASN1_OCTET_STRING(ex->value, &der);
  ASSERT_EQ(20, n);
  EXPECT_EQ("04120410", morvane_test::ToHex(der, 4));
  CRYPTO_free(der);
  // A second nonce replaces the first.
  unsigned char val[4] = {1, 2, 3, 4};
  ASSERT_EQ(1, OCSP_request_add1_nonce(req, val, 4));
  ASSERT_EQ(1, OCSP_REQUEST_get_ext_count(req));
  EXPECT_EQ("040401020304", morvane_test::ToHex(OCSP_REQUEST_get_ext(req, 0)->value->data, 6));
  OCSP_REQUEST_free(req);
}

TEST(OcspNonce, CheckNonceTable) {
  unsigned char a[2] = {1, 2}, b[2] = {1, 3};
  struct Row {
    unsigned char* req;
    unsigned char* resp;
    int want;
  } rows[] = {{a, a, 1}, {a, b, 0}, {nullptr, nullptr, 2}, {a, nullptr, -1}, {nullptr, a, 3}};
  for (const Row& r : rows) {
    OCSP_REQUEST* req = OCSP_REQUEST_new();
    OCSP_BASICRESP* bs = OCSP_BASICRESP_new();
    if (r.req) OCSP_request_add1_nonce(req, r.req, 2);
    if (r.resp) OCSP_basic_add1_nonce(bs, r.resp, 2);
    EXPECT_EQ(r.want, OCSP_check_nonce(req, bs));
    OCSP_REQUEST_free(req);
    OCSP_BASICRESP_free(bs);
  }
  // Copying: 2 without a request nonce, then an equal nonce.
  OCSP_REQUEST* req = OCSP_REQUEST_new();
  OCSP_BASICRESP* bs = OCSP_BASICRESP_new();
  EXPECT_EQ(2, OCSP_copy_nonce(bs, req));
  OCSP_request_add1_nonce(req, nullptr, 0);
  EXPECT_EQ(1, OCSP_copy_nonce(bs, req));
  EXPECT_EQ(1, OCSP_check_nonce(req, bs));
  OCSP_REQUEST_free(req);
  OCSP_BASICRESP_free(bs);
}

TEST(OcspExtensions, Creators) {
  // id-pkix-ocsp-basic is 1.3.6.1.5.5.7.48.1.1 (RFC 6960, 4.2.1).
  char known[] = "1.3.6.1.5.5.7.48.1.1";
  char unknown[] = "no such object name";
  char* oids[] = {known, unknown, nullptr};
  X509_EXTENSION* ex = OCSP_accept_responses_new(oids);
  ASSERT_NE(nullptr, ex);
  EXPECT_EQ(368, OBJ_obj2nid(ex->object));
  EXPECT_EQ("300b06092b0601050507300101",
            morvane_test::ToHex(ex->value->data, static_cast<size_t>(ex->value->length)));
  X509_EXTENSION_free(ex);

  char tim[] = "20300101000000Z";
  ex = OCSP_archive_cutoff_new(tim);
  ASSERT_NE(nullptr, ex);
  EXPECT_EQ(370, OBJ_obj2nid(ex->object));
  EXPECT_EQ("180f" + morvane_test::ToHex(reinterpret_cast<const uint8_t*>(tim), 15),
            morvane_test::ToHex(ex->value->data, static_cast<size_t>(ex->value->length)));
  X509_EXTENSION_free(ex);

  char url[] = "http://crl.example/";
  long num = 5;
  ex = OCSP_crlID_new(url, &num, tim);
  ASSERT_NE(nullptr, ex);
  EXPECT_EQ(367, OBJ_obj2nid(ex->object));
  const unsigned char* p = ex->value->data;
  OCSP_CRLID* cid = d2i_OCSP_CRLID(nullptr, &p, ex->value->length);
  ASSERT_NE(nullptr, cid);
  EXPECT_EQ(5, ASN1_INTEGER_get(cid->crlNum));
  EXPECT_EQ(19, cid->crlUrl->length);
  OCSP_CRLID_free(cid);
  X509_EXTENSION_free(ex);

  char* urls[] = {url, nullptr};
  ex = OCSP_url_svcloc_new(X509_get_subject_name(CaCert()), urls);
  ASSERT_NE(nullptr, ex);
  EXPECT_EQ(371, OBJ_obj2nid(ex->object));
  p = ex->value->data;
  OCSP_SERVICELOC* sl = d2i_OCSP_SERVICELOC(nullptr, &p, ex->value->length);
  ASSERT_NE(nullptr, sl);
  ASSERT_EQ(1, sk_num(sl->locator));
  auto* ad = reinterpret_cast<ACCESS_DESCRIPTION*>(sk_value(sl->locator, 0));
  EXPECT_EQ(178, OBJ_obj2nid(ad->method));
  EXPECT_EQ(GEN_URI, ad->location->type);
  OCSP_SERVICELOC_free(sl);
  X509_EXTENSION_free(ex);

  ERR_clear_error();
  EXPECT_EQ(nullptr, ASN1_STRING_encode(nullptr, nullptr, nullptr, nullptr));
  EXPECT_TRUE(ErrorsAre({{kLib, OCSP_F_ASN1_STRING_ENCODE, OCSP_R_BAD_DATA}}));
}

TEST(OcspRequest, SignWithoutKeyAndWithKey) {
  OCSP_REQUEST* req = OCSP_REQUEST_new();
  ASSERT_EQ(1, OCSP_request_sign(req, CaCert(), nullptr, nullptr, nullptr, OCSP_NOCERTS));
  ASSERT_NE(nullptr, req->tbsRequest->requestorName);
  EXPECT_EQ(GEN_DIRNAME, req->tbsRequest->requestorName->type);
  ASSERT_NE(nullptr, req->optionalSignature);
  EXPECT_EQ(0, req->optionalSignature->signature->length);
  EXPECT_EQ(nullptr, req->optionalSignature->certs);
  EXPECT_EQ(1, OCSP_request_is_signed(req));
  // With the key the signer joins the list.
  ASSERT_EQ(1, OCSP_request_sign(req, CaCert(), CaKey(), EVP_sha256(), nullptr, 0));
  EXPECT_GT(req->optionalSignature->signature->length, 0);
  EXPECT_EQ(1, sk_num(req->optionalSignature->certs));
  // A key of another certificate: refused and the signature cleared.
  EVP_PKEY* other = ocsp_test::NewRsaKey();
  ERR_clear_error();
  EXPECT_EQ(0, OCSP_request_sign(req, CaCert(), other, nullptr, nullptr, 0));
  EXPECT_EQ(nullptr, req->optionalSignature);
  EXPECT_EQ(1, ERR_GET_REASON(ERR_peek_last_error()) ==
                   OCSP_R_PRIVATE_KEY_DOES_NOT_MATCH_CERTIFICATE);
  ERR_clear_error();
  EVP_PKEY_free(other);
  OCSP_REQUEST_free(req);
}

TEST(OcspIds, PkitsGoodCa) {
  MORVANE_VECTOR_PATH_OR_SKIP(ca_path, "pkits/certs/GoodCACert.crt");
  MORVANE_VECTOR_PATH_OR_SKIP(ta_path, "pkits/certs/TrustAnchorRootCertificate.crt");
  ocsp_test::AddAlgorithms();
  const morvane_test::Bytes a = morvane_test::ReadFileBytes(ca_path);
  const morvane_test::Bytes b = morvane_test::ReadFileBytes(ta_path);
  const unsigned char* p = a.data();
  X509* good = d2i_X509(nullptr, &p, static_cast<long>(a.size()));
  p = b.data();
  X509* ta = d2i_X509(nullptr, &p, static_cast<long>(b.size()));
  ASSERT_NE(nullptr, good);
  ASSERT_NE(nullptr, ta);
  OCSP_CERTID* id = OCSP_cert_to_id(nullptr, good, ta);
  ASSERT_NE(nullptr, id);
  ASN1_OCTET_STRING *nh, *kh;
  ASN1_OBJECT* md;
  ASN1_INTEGER* serial;
  ASSERT_EQ(1, OCSP_id_get0_info(&nh, &md, &kh, &serial, id));
  EXPECT_EQ(64, OBJ_obj2nid(md));
  EXPECT_EQ("7353f8c27e2a7273daa3e1507f1013c5ee1f41f1",
            morvane_test::ToHex(nh->data, static_cast<size_t>(nh->length)));
  EXPECT_EQ("e47d5fd15c9586082c05aebe75b665a7d95da866",
            morvane_test::ToHex(kh->data, static_cast<size_t>(kh->length)));
  EXPECT_EQ(2, ASN1_INTEGER_get(serial));
  OCSP_CERTID* issuer_only = OCSP_cert_to_id(nullptr, nullptr, ta);
  ASSERT_NE(nullptr, issuer_only);
  EXPECT_EQ(0, issuer_only->serialNumber->length);
  EXPECT_EQ(0, OCSP_id_issuer_cmp(id, issuer_only));
  EXPECT_NE(0, OCSP_id_cmp(id, issuer_only));
  OCSP_CERTID_free(id);
  OCSP_CERTID_free(issuer_only);
  X509_free(good);
  X509_free(ta);
}

TEST(OcspUrl, Table) {
  struct Row {
    const char* url;
    int ok;
    const char* host;
    const char* port;
    const char* path;
    int ssl;
  } rows[] = {
      {"http://host", 1, "host", "80", "/", 0},
      {"https://host:8443/a/b?x=1&y=2", 1, "host", "8443", "/a/b?x=1&y=2", 1},
      {"HTTP://host", 0, nullptr, nullptr, nullptr, 0},
      // An IPv6 address in brackets (RFC 3986, 3.2.2) comes back without them.
      {"http://[::1]:8080/ocsp", 1, "::1", "8080", "/ocsp", 0},
      {"https://[2001:db8::7]", 1, "2001:db8::7", "443", "/", 1},
      {"http://[::1", 0, nullptr, nullptr, nullptr, 0},
      {"http://[::1]x/", 0, nullptr, nullptr, nullptr, 0},
      {"http://[::g]/", 0, nullptr, nullptr, nullptr, 0},
      {"http://[]/", 0, nullptr, nullptr, nullptr, 0},
      {"http://a]b/", 0, nullptr, nullptr, nullptr, 0},
      // No host, a port that is not 1 to 65535, user information.
      {"http:///ocsp", 0, nullptr, nullptr, nullptr, 0},
      {"http://:80/", 0, nullptr, nullptr, nullptr, 0},
      {"http://host:/", 0, nullptr, nullptr, nullptr, 0},
      {"http://host:http/", 0, nullptr, nullptr, nullptr, 0},
      {"http://host:0/", 0, nullptr, nullptr, nullptr, 0},
      {"http://host:65536/", 0, nullptr, nullptr, nullptr, 0},
      {"http://host:99999999999999999999/", 0, nullptr, nullptr, nullptr, 0},
      {"http://host:80:81/", 0, nullptr, nullptr, nullptr, 0},
      {"http://host:65535", 1, "host", "65535", "/", 0},
      {"http://user@host/", 0, nullptr, nullptr, nullptr, 0},
      {"http://host/a:b", 1, "host", "80", "/a:b", 0},
      {"http:/host", 0, nullptr, nullptr, nullptr, 0},
      {"ftp://host", 0, nullptr, nullptr, nullptr, 0},
      {"nocolon", 0, nullptr, nullptr, nullptr, 0},
      // Control bytes, space and DEL could reach the request line.
      {"http://host/a\r\nX: y", 0, nullptr, nullptr, nullptr, 0},
      {"http://ho st/", 0, nullptr, nullptr, nullptr, 0},
      {"http://host/\x7f", 0, nullptr, nullptr, nullptr, 0},
      {"http://host\t/", 0, nullptr, nullptr, nullptr, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.url);
    ERR_clear_error();
    char *host = nullptr, *port = nullptr, *path = nullptr;
    int ssl = -1;
    ASSERT_EQ(r.ok, OCSP_parse_url(r.url, &host, &port, &path, &ssl));
    if (!r.ok) {
      EXPECT_EQ(nullptr, host);
      EXPECT_EQ(nullptr, port);
      EXPECT_EQ(nullptr, path);
      EXPECT_TRUE(ErrorsAre({{kLib, OCSP_F_OCSP_PARSE_URL, OCSP_R_ERROR_PARSING_URL}}));
      continue;
    }
    EXPECT_STREQ(r.host, host);
    EXPECT_STREQ(r.port, port);
    EXPECT_STREQ(r.path, path);
    EXPECT_EQ(r.ssl, ssl);
    CRYPTO_free(host);
    CRYPTO_free(port);
    CRYPTO_free(path);
  }
  // The error data says what is wrong.
  char *host, *port, *path;
  int ssl;
  EXPECT_EQ(0, OCSP_parse_url("http://host:0/", &host, &port, &path, &ssl));
  EXPECT_TRUE(ErrorsAre({{kLib, OCSP_F_OCSP_PARSE_URL, OCSP_R_ERROR_PARSING_URL,
                          "port not a number from 1 to 65535"}}));
}

TEST(OcspTexts, Table) {
  EXPECT_STREQ("successful", OCSP_response_status_str(0));
  EXPECT_STREQ("trylater", OCSP_response_status_str(3));
  EXPECT_STREQ("(UNKNOWN)", OCSP_response_status_str(4));
  EXPECT_STREQ("unauthorized", OCSP_response_status_str(6));
  EXPECT_STREQ("revoked", OCSP_cert_status_str(1));
  EXPECT_STREQ("(UNKNOWN)", OCSP_cert_status_str(3));
  EXPECT_STREQ("keyCompromise", OCSP_crl_reason_str(1));
  EXPECT_STREQ("(UNKNOWN)", OCSP_crl_reason_str(7));
  EXPECT_STREQ("removeFromCRL", OCSP_crl_reason_str(8));
  EXPECT_STREQ("privilegeWithdrawn", OCSP_crl_reason_str(9));  // RFC 5280, 5.3.1
  EXPECT_STREQ("aACompromise", OCSP_crl_reason_str(10));
  EXPECT_STREQ("(UNKNOWN)", OCSP_crl_reason_str(11));
}

// A basic response from the CA for three certificates: good, revoked
// (keyCompromise) and unknown.
struct Built {
  OCSP_CERTID* ids[3];
  OCSP_RESPONSE* resp;
};

Built BuildResponse(unsigned long flags) {
  Built b{};
  OCSP_BASICRESP* bs = OCSP_BASICRESP_new();
  ASN1_TIME* now = X509_gmtime_adj(nullptr, 0);
  ASN1_TIME* later = X509_gmtime_adj(nullptr, 3600);
  for (int i = 0; i < 3; i++) {
    X509* ee = ocsp_test::MakeCert("ee", 10 + i, CaKey(), CaKey());
    b.ids[i] = OCSP_cert_to_id(nullptr, ee, CaCert());
    X509_free(ee);
    EXPECT_NE(nullptr, OCSP_basic_add1_status(bs, b.ids[i], i, i == 1 ? 1 : -1,
                                              i == 1 ? now : nullptr, now, later));
  }
  EXPECT_EQ(1, OCSP_basic_sign(bs, CaCert(), CaKey(), EVP_sha256(), nullptr, flags));
  b.resp = OCSP_response_create(0, bs);
  OCSP_BASICRESP_free(bs);
  ASN1_TIME_free(now);
  ASN1_TIME_free(later);
  return b;
}

TEST(OcspResponse, BuildEncodeFindStatus) {
  Built b = BuildResponse(0);
  ASSERT_NE(nullptr, b.resp);
  const std::string der = ocsp_test::Der(b.resp);
  const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
  OCSP_RESPONSE* back = d2i_OCSP_RESPONSE(nullptr, &p, static_cast<long>(der.size()));
  ASSERT_NE(nullptr, back);
  EXPECT_EQ(0, OCSP_response_status(back));
  OCSP_BASICRESP* bs = OCSP_response_get1_basic(back);
  ASSERT_NE(nullptr, bs);
  EXPECT_EQ(3, OCSP_resp_count(bs));
  EXPECT_EQ(V_OCSP_RESPID_NAME, bs->tbsResponseData->responderId->type);
  EXPECT_EQ(1, sk_num(bs->certs));
  for (int i = 0; i < 3; i++) {
    int status = -5, reason = -5;
    ASN1_GENERALIZEDTIME *rev = nullptr, *th = nullptr, *nx = nullptr;
    ASSERT_EQ(1, OCSP_resp_find_status(bs, b.ids[i], &status, &reason, &rev, &th, &nx));
    EXPECT_EQ(i, status);
    EXPECT_EQ(i == 1 ? 1 : -5, reason);
    EXPECT_EQ(i == 1, rev != nullptr);
    EXPECT_EQ(1, OCSP_check_validity(th, nx, 300, -1));
  }
  EXPECT_EQ(-1, OCSP_resp_find(bs, b.ids[0], 0));

  BIO* mem = BIO_new(BIO_s_mem());
  ASSERT_EQ(1, OCSP_RESPONSE_print(mem, back, 0));
  char* text = nullptr;
  const long n = BIO_get_mem_data(mem, &text);
  const std::string printed(text, static_cast<size_t>(n));
  EXPECT_EQ(0u, printed.find("OCSP Response Data:\n    OCSP Response Status: successful (0x0)\n"
                             "    Response Type: "));
  EXPECT_NE(std::string::npos, printed.find("    Cert Status: revoked\n    Revocation Time: "));
  EXPECT_NE(std::string::npos,
            printed.find("\n    Revocation Reason: keyCompromise (0x1)\n    This Update: "));
  BIO_free(mem);

  OCSP_BASICRESP_free(bs);
  OCSP_RESPONSE_free(back);
  OCSP_RESPONSE_free(b.resp);
  for (OCSP_CERTID* id : b.ids) OCSP_CERTID_free(id);
}

TEST(OcspResponse, KeyHashResponderIdIs20Octets) {
  Built b = BuildResponse(OCSP_RESPID_KEY | OCSP_NOCERTS);
  OCSP_BASICRESP* bs = OCSP_response_get1_basic(b.resp);
  ASSERT_NE(nullptr, bs);
  ASSERT_EQ(V_OCSP_RESPID_KEY, bs->tbsResponseData->responderId->type);
  EXPECT_EQ(20, bs->tbsResponseData->responderId->value.byKey->length);
  EXPECT_EQ(nullptr, bs->certs);
  OCSP_BASICRESP_free(bs);
  OCSP_RESPONSE_free(b.resp);
  for (OCSP_CERTID* id : b.ids) OCSP_CERTID_free(id);
}

TEST(OcspResponse, RevokedWithoutTimeLeavesListUnchanged) {
  OCSP_BASICRESP* bs = OCSP_BASICRESP_new();
  OCSP_CERTID* id = OCSP_cert_to_id(nullptr, nullptr, CaCert());
  ASN1_TIME* now = X509_gmtime_adj(nullptr, 0);
  ASSERT_NE(nullptr, OCSP_basic_add1_status(bs, id, 0, -1, nullptr, now, nullptr));
  ERR_clear_error();
  EXPECT_EQ(nullptr, OCSP_basic_add1_status(bs, id, 1, -1, nullptr, now, nullptr));
  EXPECT_TRUE(ErrorsAre({{kLib, OCSP_F_OCSP_BASIC_ADD1_STATUS, OCSP_R_NO_REVOKED_TIME}}));
  EXPECT_EQ(1, OCSP_resp_count(bs));
  EXPECT_EQ(nullptr, OCSP_basic_add1_status(bs, id, 7, -1, nullptr, now, nullptr));
  EXPECT_EQ(1, OCSP_resp_count(bs));
  ASN1_TIME_free(now);
  OCSP_CERTID_free(id);
  OCSP_BASICRESP_free(bs);
}

TEST(OcspResponse, GetBasicErrorsAndBareStatus) {
  OCSP_RESPONSE* r = OCSP_response_create(3, nullptr);
  ERR_clear_error();
  EXPECT_EQ(nullptr, OCSP_response_get1_basic(r));
  EXPECT_TRUE(ErrorsAre({{kLib, OCSP_F_OCSP_RESPONSE_GET1_BASIC, OCSP_R_NO_RESPONSE_DATA}}));
  EXPECT_EQ("30030a0103", morvane_test::ToHex(reinterpret_cast<const uint8_t*>(
                                                  ocsp_test::Der(r).data()),
                                              5));
  BIO* mem = BIO_new(BIO_s_mem());
  EXPECT_EQ(1, OCSP_RESPONSE_print(mem, r, 0));
  char* text = nullptr;
  const long n = BIO_get_mem_data(mem, &text);
  EXPECT_EQ("OCSP Response Data:\n    OCSP Response Status: trylater (0x3)\n",
            std::string(text, static_cast<size_t>(n)));
  BIO_free(mem);
  r->responseBytes = OCSP_RESPBYTES_new();
  r->responseBytes->responseType = OBJ_nid2obj(366);
  EXPECT_EQ(nullptr, OCSP_response_get1_basic(r));
  EXPECT_TRUE(ErrorsAre({{kLib, OCSP_F_OCSP_RESPONSE_GET1_BASIC, OCSP_R_NOT_BASIC_RESPONSE}}));
  OCSP_RESPONSE_free(r);
}

TEST(OcspRequest, AddIdsAndPrint) {
  OCSP_REQUEST* req = OCSP_REQUEST_new();
  OCSP_CERTID* id = OCSP_cert_to_id(nullptr, nullptr, CaCert());
  OCSP_ONEREQ* one = OCSP_request_add0_id(req, id);
  ASSERT_NE(nullptr, one);
  EXPECT_EQ(1, OCSP_request_onereq_count(req));
  EXPECT_EQ(one, OCSP_request_onereq_get0(req, 0));
  EXPECT_EQ(id, OCSP_onereq_get0_id(one));
  EXPECT_EQ(0, OCSP_request_is_signed(req));
  BIO* mem = BIO_new(BIO_s_mem());
  ASSERT_EQ(1, OCSP_REQUEST_print(mem, req, 0));
  char* text = nullptr;
  const long n = BIO_get_mem_data(mem, &text);
  const std::string printed(text, static_cast<size_t>(n));
  EXPECT_EQ(0u, printed.find("OCSP Request Data:\n    Version: 1 (0x0)\n    Requestor List:\n"
                             "        Certificate ID:\n          Hash Algorithm: sha1\n"));
  BIO_free(mem);
  OCSP_REQUEST_free(req);
}

// Calls run with each of their allocations failing in turn; `run` gives
// whether the call succeeded and cleans up after it.
template <typename Run>
int FailEachAllocation(Run run) {
  const auto allocations = [] {
    const morvane_test::AllocCounts n = morvane_test::GetAllocCounts();
    return n.mallocs + n.reallocs;
  };
  const long before = allocations();
  EXPECT_TRUE(run());
  const long n = allocations() - before;
  int failures = 0;
  for (long k = 1; k <= n; k++) {
    morvane_test::FailAllocationAfter(k);
    if (!run()) failures++;
    morvane_test::FailAllocationAfter(0);
  }
  return failures;
}

// Without memory, OCSP_request_add0_id gives null with "malloc failure"
// and leaves the identifier the caller's (freed here: a second free would
// be caught) and the request without a one-request; a nonce that cannot be
// added says why.
TEST(OcspAlloc, FailuresAreQueuedAndTheIdStaysTheCallers) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  OCSP_REQUEST* req = OCSP_REQUEST_new();
  const int id_failures = FailEachAllocation([req] {
    OCSP_CERTID* id = OCSP_CERTID_new();
    if (id == nullptr) return true;  // not the call under test
    const int count = OCSP_request_onereq_count(req);
    if (OCSP_request_add0_id(req, id) != nullptr) return true;
    EXPECT_EQ(ERR_PACK(kLib, OCSP_F_OCSP_REQUEST_ADD0_ID, ERR_R_MALLOC_FAILURE),
              ERR_peek_last_error());
    EXPECT_EQ(count, OCSP_request_onereq_count(req));
    ERR_clear_error();
    OCSP_CERTID_free(id);
    return false;
  });
  EXPECT_GT(id_failures, 0);
  const int nonce_failures = FailEachAllocation([req] {
    if (OCSP_request_add1_nonce(req, nullptr, 0) == 1) return true;
    EXPECT_NE(0UL, ERR_peek_last_error());
    ERR_clear_error();
    return false;
  });
  EXPECT_GT(nonce_failures, 0);
  OCSP_REQUEST_free(req);
}

// Null arguments the header allows and extreme skews give failures or
// plain answers, never a crash or an overflow.
TEST(OcspNulls, RefusedPlainly) {
  ERR_clear_error();
  OCSP_CERTID* id = OCSP_cert_to_id(nullptr, nullptr, CaCert());
  EXPECT_EQ(0, OCSP_id_cmp(nullptr, nullptr));
  EXPECT_NE(0, OCSP_id_cmp(id, nullptr));
  EXPECT_NE(0, OCSP_id_issuer_cmp(nullptr, id));
  EXPECT_EQ(-1, OCSP_resp_count(nullptr));
  EXPECT_EQ(-1, OCSP_resp_find(nullptr, id, -1));
  EXPECT_EQ(-1, OCSP_single_get0_status(nullptr, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(2, OCSP_check_nonce(nullptr, nullptr));
  EXPECT_EQ(nullptr, OCSP_request_add0_id(nullptr, nullptr));
  EXPECT_EQ(nullptr, ASN1_STRING_encode(nullptr, nullptr, id, nullptr));
  EXPECT_EQ(nullptr, OCSP_sendreq_new(nullptr, nullptr, nullptr, 0));
  EXPECT_EQ(0, OCSP_sendreq_nbio(nullptr, nullptr));
  OCSP_REQ_CTX_free(nullptr);
  ERR_clear_error();
  ASN1_GENERALIZEDTIME* th = TimeFromNow(0);
  EXPECT_EQ(1, OCSP_check_validity(th, nullptr, LONG_MAX, LONG_MAX));
  EXPECT_EQ(0, OCSP_check_validity(th, nullptr, LONG_MIN, -1));
  ERR_clear_error();
  ASN1_GENERALIZEDTIME_free(th);
  OCSP_CERTID_free(id);
}

// The whole printed form of a fixed response (one revoked status with a
// reason), against the text in test/data/ocsp.
TEST(OcspPrint, WholeResponseForm) {
  const morvane_test::Bytes der = morvane_test::FromHex(
      "3081da0a0100a081d43081d106092b06010505073001010481c33081c03081a8a119301731153013060355"
      "0403130c54657374204f435350204341180f32303230303130313030303030305a307a3078303a30090605"
      "2b0e03021a050004141111111111111111111111111111111111111111041422222222222222222222222222"
      "22222222222222020105a116180f32303230303130313030303030305aa0030a0101180f32303230303130"
      "313030303030305aa011180f32303330303130313030303030305a300d06092a864886f70d01010b050003"
      "0400aaaaaa");
  const unsigned char* p = der.data();
  OCSP_RESPONSE* r = d2i_OCSP_RESPONSE(nullptr, &p, static_cast<long>(der.size()));
  ASSERT_NE(nullptr, r);
  BIO* mem = BIO_new(BIO_s_mem());
  ASSERT_EQ(1, OCSP_RESPONSE_print(mem, r, 0));
  char* text = nullptr;
  const long n = BIO_get_mem_data(mem, &text);
  EXPECT_EQ(morvane_test::ReadFile(morvane_test::TestDataFile("ocsp/response-revoked.txt")),
            std::string(text, static_cast<size_t>(n)));
  BIO_free(mem);
  OCSP_RESPONSE_free(r);
}

// The whole printed form of a fixed signed request (a requestor name, two
// one-requests, the second with a service locator, a nonce), against the
// text in test/data/ocsp.
TEST(OcspPrint, WholeRequestForm) {
  const morvane_test::Bytes der = morvane_test::FromHex(
      "3082012e30820111a11aa41830163114301206035504030c0b5465737420436c69656e743081cd303c303a"
      "300906052b0e03021a05000414111111111111111111111111111111111111111104142222222222222222"
      "22222222222222222222222202010530818c303b300906052b0e03021a0500041433333333333333333333"
      "333333333333333333330414444444444444444444444444444444444444444402020100a04d304b304906"
      "092b0601050507300107043c303a3017311530130603550403130c54657374204f435350204341301f301d"
      "06082b060105050730018611687474703a2f2f6f6373702e746573742fa2233021301f06092b0601050507"
      "30010204120410a0a1a2a3a4a5a6a7a8a9aaabacadaeafa0173015300d06092a864886f70d010105050003"
      "0400010203");
  const unsigned char* p = der.data();
  OCSP_REQUEST* req = d2i_OCSP_REQUEST(nullptr, &p, static_cast<long>(der.size()));
  ASSERT_NE(nullptr, req);
  BIO* mem = BIO_new(BIO_s_mem());
  ASSERT_EQ(1, OCSP_REQUEST_print(mem, req, 0));
  char* text = nullptr;
  const long n = BIO_get_mem_data(mem, &text);
  EXPECT_EQ(morvane_test::ReadFile(morvane_test::TestDataFile("ocsp/request-signed.txt")),
            std::string(text, static_cast<size_t>(n)));
  BIO_free(mem);
  OCSP_REQUEST_free(req);
}

}  // namespace
