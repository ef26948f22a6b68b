// Builders and decoders at their edges: an empty policy list, a policy
// read from a file, the generator's bit lists, strong-extranet zones, a BIT
// STRING's unused-bit count, a key of an unknown curve, an empty request
// section, and an e-mail address moved out of a decoded certificate.

#include <string>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/conf.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include "cert_builder.h"
#include "test_support.h"

namespace {

using morvane_test::Bytes;
using morvane_test::FromHex;

constexpr int kCertPolicies = 89, kProxyCertInfo = 663, kSxnet = 143, kSubjectAltName = 85;

// The DER of the extension built from `value`, "" with the last reason in
// *reason when building fails.
std::string Built(int nid, const std::string& value, int* reason) {
  ERR_clear_error();
  CONF* conf = NCONF_new(nullptr);
  X509V3_CTX ctx = {};
  X509V3_set_ctx(&ctx, nullptr, nullptr, nullptr, nullptr, 0);
  X509V3_set_nconf(&ctx, conf);
  X509_EXTENSION* ext = X509V3_EXT_nconf_nid(conf, &ctx, nid, const_cast<char*>(value.c_str()));
  NCONF_free(conf);
  *reason = 0;
  unsigned long e;
  while ((e = ERR_get_error()) != 0)
    if (*reason == 0) *reason = ERR_GET_REASON(e);  // the first: the cause
  if (ext == nullptr) return "";
  std::string hex = morvane_test::ToHex(ext->value->data, ext->value->length);
  X509_EXTENSION_free(ext);
  return hex;
}

TEST(V3Bounds, BuildersRefuseOrBuildLinearly) {
  morvane_test::TempPath big;
  morvane_test::WriteFile(big.path(), std::string(16 << 20, 'p'));
  const struct {
    int nid;
    std::string value;
    const char* der_prefix;  // null: refused
    int reason;
  } rows[] = {
      // certificatePolicies is SIZE (1..MAX): options alone name no policy.
      {kCertPolicies, "ia5org", nullptr, X509V3_R_INVALID_POLICY_IDENTIFIER},
      {kCertPolicies, "ia5org,1.2.3", "3006300406022a03", 0},
      // A policy file is read whole, and a source that never ends is refused.
      {kProxyCertInfo, "language:1.3.6.1.5.5.7.21.0,policy:file:" + big.path(), "3084", 0},
      {kProxyCertInfo, "language:1.3.6.1.5.5.7.21.0,policy:file:/dev/zero", nullptr,
       X509V3_R_INVALID_LENGTH},
      // Zones are compared once over the whole list.
      {kSxnet, "1:a,2:b,3:c", "301d0201003018", 0},
      {kSxnet, "1:a,2:b,01:c", nullptr, X509V3_R_DUPLICATE_ZONE_ID},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.value.substr(0, 60));
    int reason = 0;
    const std::string der = Built(row.nid, row.value, &reason);
    if (row.der_prefix == nullptr) {
      EXPECT_EQ("", der);
      EXPECT_EQ(row.reason, reason);
    } else {
      EXPECT_EQ(row.der_prefix, der.substr(0, strlen(row.der_prefix)));
    }
  }
}

// The generator's bit lists in any order; a BIT STRING of more than 7
// unused bits does not decode (it would read back as another value).
TEST(V3Bounds, BitStrings) {
  const struct {
    const char* text;
    const char* der;
  } lists[] = {
      {"FORMAT:BITLIST,BITSTRING:0,9,3", "0303069040"},
      {"FORMAT:BITLIST,BITSTRING:9,3,0", "0303069040"},
      {"FORMAT:BITLIST,BITSTRING:7", "03020001"},
  };
  for (const auto& row : lists) {
    ASN1_TYPE* t = ASN1_generate_v3(row.text, nullptr);
    ASSERT_NE(nullptr, t) << row.text;
    unsigned char* der = nullptr;
    const int n = i2d_ASN1_TYPE(t, &der);
    EXPECT_EQ(row.der, morvane_test::ToHex(der, n > 0 ? n : 0)) << row.text;
    MORVANE_free(der);
    ASN1_TYPE_free(t);
  }
  for (const char* hex : {"030208ff", "0302ff00"}) {
    const Bytes in = FromHex(hex);
    const unsigned char* p = in.data();
    EXPECT_EQ(nullptr, d2i_ASN1_BIT_STRING(nullptr, &p, static_cast<long>(in.size()))) << hex;
    EXPECT_EQ(ERR_PACK(ERR_LIB_ASN1, ASN1_F_C2I_ASN1_BIT_STRING,
                       ASN1_R_INVALID_BIT_STRING_BITS_LEFT),
              ERR_peek_error())
        << hex;
    ERR_clear_error();
  }
}

// An EC key under a curve object this library does not know fails with a
// reason, and d2i_PUBKEY leaves the caller's input where it was.
TEST(V3Bounds, UnknownCurveKey) {
  // SubjectPublicKeyInfo { { id-ecPublicKey, 1.2.3.4 }, BIT STRING 04 01 02 }
  const Bytes spki = FromHex("3016" "3010" "06072a8648ce3d0201" "06052a03040506" "0302" "0004");
  const Bytes fixed = FromHex("3013" "300d" "06072a8648ce3d0201" "06022a03" "0302" "0004");
  for (const Bytes& in : {spki, fixed}) {
    const unsigned char* p = in.data();
    EXPECT_EQ(nullptr, d2i_PUBKEY(nullptr, &p, static_cast<long>(in.size())));
    EXPECT_EQ(in.data(), p);
    EXPECT_NE(0u, ERR_peek_error());
    ERR_clear_error();
    p = in.data();
    EXPECT_EQ(nullptr, d2i_EC_PUBKEY(nullptr, &p, static_cast<long>(in.size())));
    EXPECT_EQ(in.data(), p);
    EXPECT_NE(0u, ERR_peek_error());
    ERR_clear_error();
  }
}

// An empty section adds nothing to a request and succeeds, as for a
// certificate.
TEST(V3Bounds, EmptyRequestSection) {
  CONF* conf = NCONF_new(nullptr);
  BIO* in = BIO_new_mem_buf(const_cast<char*>("[empty]\n[other]\nx = y\n"), -1);
  long line = 0;
  ASSERT_EQ(1, NCONF_load_bio(conf, in, &line));
  BIO_free(in);
  X509V3_CTX ctx = {};
  X509V3_set_ctx(&ctx, nullptr, nullptr, nullptr, nullptr, 0);
  X509V3_set_nconf(&ctx, conf);
  X509_REQ* req = X509_REQ_new();
  X509* cert = X509_new();
  EXPECT_EQ(1, X509V3_EXT_add_nconf(conf, &ctx, "empty", cert));
  EXPECT_EQ(1, X509V3_EXT_REQ_add_nconf(conf, &ctx, "empty", req));
  EXPECT_EQ(0, X509_REQ_get_attr_count(req));
  EXPECT_ERRORS({});
  X509_free(cert);
  X509_REQ_free(req);
  NCONF_free(conf);
}

// email:move on a decoded certificate: its encoding shows the subject
// without the address.
TEST(V3Bounds, EmailMoveReachesTheEncoding) {
  morvane_test::CertSpec spec;
  spec.subject = "moved";
  X509* made = morvane_test::MakeCert(spec);
  ASSERT_NE(nullptr, made);
  X509_NAME_add_entry_by_txt(X509_get_subject_name(made), "emailAddress", 0x1001,
                             reinterpret_cast<const unsigned char*>("a@example.com"), -1, -1, 0);
  made->cert_info->enc.modified = 1;
  unsigned char* der = nullptr;
  int n = i2d_X509(made, &der);
  X509_free(made);
  const unsigned char* p = der;
  X509* cert = d2i_X509(nullptr, &p, n);
  MORVANE_free(der);
  ASSERT_NE(nullptr, cert);
  X509V3_CTX ctx = {};
  X509V3_set_ctx(&ctx, nullptr, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext =
      X509V3_EXT_conf_nid(nullptr, &ctx, kSubjectAltName, const_cast<char*>("email:move"));
  ASSERT_NE(nullptr, ext);
  X509_EXTENSION_free(ext);
  der = nullptr;
  n = i2d_X509(cert, &der);
  p = der;
  X509* again = d2i_X509(nullptr, &p, n);
  MORVANE_free(der);
  ASSERT_NE(nullptr, again);
  EXPECT_EQ(1, X509_NAME_entry_count(X509_get_subject_name(again)));
  X509_free(again);
  X509_free(cert);
}

}  // namespace
