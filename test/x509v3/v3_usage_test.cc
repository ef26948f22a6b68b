// The built-in methods of key usages, extended key usage, Netscape strings,
// the integer, enumerated, time and object extensions, Strong Extranet
// identifiers and the OCSP extensions: their values from DER printed, and
// built from text.  DER in the tables is written out by hand from X.690
// and the ASN.1 modules of RFC 5280 and RFC 6960.

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/ocsp.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include <string>
#include <vector>

#include "ext_util.h"
#include "test_support.h"

namespace {

using v3_test::DerOf;
using v3_test::FreeValue;
using v3_test::FromList;
using v3_test::PrintDer;

constexpr int kNsCertType = 71;
constexpr int kNsComment = 78;
constexpr int kKeyUsage = 83;
constexpr int kPkeyUsagePeriod = 84;
constexpr int kCrlNumber = 88;
constexpr int kExtKeyUsage = 126;
constexpr int kDeltaCrl = 140;
constexpr int kCrlReason = 141;
constexpr int kInvalidityDate = 142;
constexpr int kSxnet = 143;
constexpr int kNonce = 366;
constexpr int kCrlId = 367;
constexpr int kAcceptableResponses = 368;
constexpr int kNoCheck = 369;
constexpr int kArchiveCutoff = 370;
constexpr int kServiceLocator = 371;
constexpr int kHoldCode = 430;
constexpr int kInhibitAnyPolicy = 748;

TEST(StandardMethods, EachIsFoundUnderItsOwnNid) {
  const int nids[] = {71,  72,  73,  74,  75,  76,  77,  78,  82,  83,  84,  85,  86,
                      87,  88,  89,  90,  103, 126, 140, 141, 142, 143, 177, 366, 367,
                      368, 369, 370, 371, 398, 401, 430, 663, 666, 747, 748};
  for (int nid : nids) {
    const X509V3_EXT_METHOD* m = X509V3_EXT_get_nid(nid);
    ASSERT_NE(nullptr, m) << nid;
    EXPECT_EQ(nid, m->ext_nid);
    EXPECT_TRUE(m->i2s != nullptr || m->i2v != nullptr || m->i2r != nullptr) << nid;
  }
  // A record added for a built-in NID does not hide the built-in method.
  const X509V3_EXT_METHOD* builtin = X509V3_EXT_get_nid(kKeyUsage);
  X509V3_EXT_METHOD mine = {};
  mine.ext_nid = kKeyUsage;
  ASSERT_EQ(1, X509V3_EXT_add(&mine));
  EXPECT_EQ(builtin, X509V3_EXT_get_nid(kKeyUsage));
  X509V3_EXT_cleanup();
}

TEST(NamedBits, KeyUsageFromNamesAndPrinted) {
  void* ku = FromList(kKeyUsage, "digitalSignature, Key Encipherment");
  ASSERT_NE(nullptr, ku);
  EXPECT_EQ("030205A0", DerOf(kKeyUsage, ku));  // bits 0 and 2, five unused
  const X509V3_EXT_METHOD* m = X509V3_EXT_get_nid(kKeyUsage);
  STACK* list = m->i2v(m, ku, nullptr);
  ASSERT_EQ(2, sk_num(list));
  auto pair = [&](int i) { return reinterpret_cast<CONF_VALUE*>(sk_value(list, i)); };
  EXPECT_STREQ("Digital Signature", pair(0)->name);
  EXPECT_EQ(nullptr, pair(0)->value);
  EXPECT_STREQ("Key Encipherment", pair(1)->name);
  v3_test::FreeList(list);
  FreeValue(kKeyUsage, ku);
  EXPECT_EQ("Certificate Sign, CRL Sign", PrintDer(kKeyUsage, "03020106"));
  EXPECT_EQ("Decipher Only", PrintDer(kKeyUsage, "0303070080"));
  EXPECT_ERRORS({});
}

TEST(NamedBits, NetscapeCertTypeAndUnknownNames) {
  void* t = FromList(kNsCertType, "client, SSL Server, sslCA");
  EXPECT_EQ("030202C4", DerOf(kNsCertType, t));
  FreeValue(kNsCertType, t);
  EXPECT_EQ("SSL Client, SSL Server, SSL CA", PrintDer(kNsCertType, "030202C4"));

  EXPECT_EQ(nullptr, FromList(kKeyUsage, "digitalSignature, client"));
  EXPECT_ERRORS({{ERR_LIB_X509V3, X509V3_F_V2I_ASN1_BIT_STRING,
                  X509V3_R_UNKNOWN_BIT_STRING_ARGUMENT, "section:,name:client,value:"}});
}

TEST(ExtendedKeyUsage, ObjectsFromNamesOrValuesAndPrinted) {
  void* eku = FromList(kExtKeyUsage, "serverAuth, usage:1.3.6.1.5.5.7.3.2");
  ASSERT_NE(nullptr, eku);
  EXPECT_EQ("3014" "06082B06010505070301" "06082B06010505070302", DerOf(kExtKeyUsage, eku));
  FreeValue(kExtKeyUsage, eku);
  EXPECT_EQ("id-kp-serverAuth, id-kp-clientAuth",
            PrintDer(kExtKeyUsage, "3014" "06082B06010505070301" "06082B06010505070302"));
  // The OCSP acceptable-responses extension takes the same form.
  EXPECT_EQ("id-pkix-ocsp-basic", PrintDer(kAcceptableResponses, "300B06092B0601050507300101"));

  EXPECT_EQ(nullptr, FromList(kExtKeyUsage, "serverAuth, not an object"));
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_A2D_ASN1_OBJECT, ASN1_R_FIRST_NUM_TOO_LARGE},
                 {ERR_LIB_X509V3, X509V3_F_V2I_EXTENDED_KEY_USAGE,
                  X509V3_R_INVALID_OBJECT_IDENTIFIER, "section:,name:not an object,value:"}});
}

TEST(NetscapeStrings, TextInAndOut) {
  const X509V3_EXT_METHOD* m = X509V3_EXT_get_nid(kNsComment);
  void* s = m->s2i(m, nullptr, "hello");
  EXPECT_EQ("160568656C6C6F", DerOf(kNsComment, s));
  FreeValue(kNsComment, s);
  EXPECT_EQ("  hello", PrintDer(kNsComment, "160568656C6C6F", 2));
  // An empty string has no text, so the printer declines.
  EXPECT_EQ("<failed>", PrintDer(kNsComment, "1600"));
  EXPECT_EQ(nullptr, m->s2i(m, nullptr, nullptr));
  EXPECT_ERRORS({{ERR_LIB_X509V3, X509V3_F_S2I_ASN1_IA5STRING, X509V3_R_INVALID_NULL_ARGUMENT}});
}

struct PrintCase {
  const char* what;
  int nid;
  const char* der;
  const char* text;  // at indent 2
};

TEST(RevocationExtensions, PrintedForms) {
  const PrintCase cases[] = {
      {"CRL number", kCrlNumber, "02012A", "  42"},
      {"delta CRL", kDeltaCrl, "020200FF", "  255"},
      {"reason 1", kCrlReason, "0A0101", "  Key Compromise"},
      {"reason 7 has no name", kCrlReason, "0A0107", "  7"},
      {"reason 8", kCrlReason, "0A0108", "  Remove From CRL"},
      {"reason 9", kCrlReason, "0A0109", "  Privilege Withdrawn"},
      {"reason 10", kCrlReason, "0A010A", "  AA Compromise"},
      {"reason 11 has no name", kCrlReason, "0A010B", "  11"},
      {"invalidity date", kInvalidityDate, "180F32303130303130313030303030305A",
       "  Jan  1 00:00:00 2010 GMT"},
      {"archive cutoff", kArchiveCutoff, "180F32303230313233313233353935395A",
       "  Dec 31 23:59:59 2020 GMT"},
      {"hold code", kHoldCode, "06032A0304", "  1.2.3.4"},
      {"both usage period dates", kPkeyUsagePeriod,
       "3022800F32303130303130313030303030305A810F32303230313233313233353935395A",
       "  Not Before: Jan  1 00:00:00 2010 GMT, Not After: Dec 31 23:59:59 2020 GMT"},
      {"usage period end only", kPkeyUsagePeriod, "3011810F32303230313233313233353935395A",
       "  Not After: Dec 31 23:59:59 2020 GMT"},
      {"inhibit any policy", kInhibitAnyPolicy, "020100", "  0"},
  };
  for (const PrintCase& c : cases) EXPECT_EQ(c.text, PrintDer(c.nid, c.der, 2)) << c.what;
  EXPECT_ERRORS({});
}

TEST(RevocationExtensions, OnlyInhibitAnyPolicyIsBuiltFromText) {
  const X509V3_EXT_METHOD* m = X509V3_EXT_get_nid(kInhibitAnyPolicy);
  void* n = m->s2i(m, nullptr, "0x10");
  EXPECT_EQ("020110", DerOf(kInhibitAnyPolicy, n));
  FreeValue(kInhibitAnyPolicy, n);
  for (int nid : {kCrlNumber, kDeltaCrl, kCrlReason, kInvalidityDate, kHoldCode,
                  kPkeyUsagePeriod, kCrlId, kArchiveCutoff, kServiceLocator}) {
    m = X509V3_EXT_get_nid(nid);
    EXPECT_TRUE(m->s2i == nullptr && m->v2i == nullptr && m->r2i == nullptr) << nid;
  }
}

TEST(Sxnet, BuiltFromPairsAndPrinted) {
  void* sx = FromList(kSxnet, "1:fred, 0x100:joe");
  ASSERT_NE(nullptr, sx);
  // SEQUENCE { INTEGER 0, SEQUENCE OF { {1, "fred"}, {256, "joe"} } }
  const std::string der = "301B020100" "3016"
                          "3009020101" "040466726564"
                          "300902020100" "04036A6F65";
  EXPECT_EQ(der, DerOf(kSxnet, sx));
  auto* list = static_cast<SXNET*>(sx);
  ASN1_OCTET_STRING* user = SXNET_get_id_asc(list, "256");
  ASSERT_NE(nullptr, user);
  EXPECT_EQ("joe", std::string(reinterpret_cast<char*>(user->data), user->length));
  EXPECT_EQ(SXNET_get_id_asc(list, "1"), SXNET_get_id_ulong(list, 1));
  EXPECT_EQ(nullptr, SXNET_get_id_ulong(list, 2));
  FreeValue(kSxnet, sx);
  EXPECT_EQ("  Version: 1 (0x0)\n  Zone: 1, User: fred\n  Zone: 256, User: joe",
            PrintDer(kSxnet, der, 2));
  EXPECT_ERRORS({});
}

TEST(Sxnet, RefusedIdentifiers) {
  SXNET* sx = nullptr;
  ASSERT_EQ(1, SXNET_add_id_ulong(&sx, 7, "abc", 2));
  EXPECT_EQ(2, SXNET_get_id_ulong(sx, 7)->length);
  const std::string long_user(65, 'u');
  EXPECT_EQ(0, SXNET_add_id_asc(&sx, "8", long_user.c_str(), -1));
  EXPECT_ERRORS({{ERR_LIB_X509V3, X509V3_F_SXNET_ADD_ID_INTEGER, X509V3_R_USER_TOO_LONG}});
  EXPECT_EQ(1, SXNET_add_id_asc(&sx, "8", long_user.c_str(), 64));
  EXPECT_EQ(0, SXNET_add_id_asc(&sx, "7", "again", -1));
  EXPECT_ERRORS({{ERR_LIB_X509V3, X509V3_F_SXNET_ADD_ID_INTEGER, X509V3_R_DUPLICATE_ZONE_ID}});
  EXPECT_EQ(0, SXNET_add_id_asc(&sx, "seven", "x", -1));
  EXPECT_EQ(nullptr, SXNET_get_id_asc(sx, "seven"));
  EXPECT_ERRORS({{ERR_LIB_X509V3, X509V3_F_S2I_ASN1_INTEGER, X509V3_R_BN_DEC2BN_ERROR},
                 {ERR_LIB_X509V3, X509V3_F_SXNET_ADD_ID_ASC, X509V3_R_ERROR_CONVERTING_ZONE},
                 {ERR_LIB_X509V3, X509V3_F_S2I_ASN1_INTEGER, X509V3_R_BN_DEC2BN_ERROR},
                 {ERR_LIB_X509V3, X509V3_F_SXNET_GET_ID_ASC, X509V3_R_ERROR_CONVERTING_ZONE}});
  EXPECT_EQ(0, SXNET_add_id_INTEGER(&sx, nullptr, "x", -1));
  EXPECT_EQ(0, SXNET_add_id_ulong(nullptr, 9, "x", -1));
  EXPECT_ERRORS({{ERR_LIB_X509V3, X509V3_F_SXNET_ADD_ID_INTEGER, X509V3_R_INVALID_NULL_ARGUMENT},
                 {ERR_LIB_X509V3, X509V3_F_SXNET_ADD_ID_INTEGER, X509V3_R_INVALID_NULL_ARGUMENT}});
  EXPECT_EQ(2, sk_num(sx->ids));
  SXNET_free(sx);

  // The builder stops at the first refused pair and frees what it made.
  EXPECT_EQ(nullptr, FromList(kSxnet, "1:a, 1:b"));
  EXPECT_ERRORS({{ERR_LIB_X509V3, X509V3_F_SXNET_ADD_ID_INTEGER, X509V3_R_DUPLICATE_ZONE_ID}});
}

// An allocation failure while adding keeps the identifiers the caller's list
// already held (and the caller's pointer to it).
TEST(Sxnet, AllocationFailureKeepsTheCallersList) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  SXNET* sx = nullptr;
  ASSERT_EQ(1, SXNET_add_id_ulong(&sx, 1, "first", -1));
  bool failed = false;
  for (long n = 1; n < 40 && !failed; n++) {
    SXNET* before = sx;
    morvane_test::FailAllocationAfter(n);
    const int ok = SXNET_add_id_ulong(&sx, 100 + static_cast<unsigned long>(n), "user", -1);
    morvane_test::FailAllocationAfter(0);
    ERR_clear_error();
    ASSERT_EQ(before, sx);
    if (!ok) {
      failed = true;
      EXPECT_NE(nullptr, SXNET_get_id_ulong(sx, 1));
    }
  }
  EXPECT_TRUE(failed);
  SXNET_free(sx);
}

TEST(OcspExtensions, NonceKeepsTheContentOctetsAsTheyStand) {
  // An OCTET STRING header and 16 octets: all 18 bytes are the nonce.
  const std::string content = "0410000102030405060708090A0B0C0D0E0F";
  X509_EXTENSION* ext = v3_test::ExtensionOf(kNonce, morvane_test::FromHex(content));
  auto* nonce = static_cast<ASN1_OCTET_STRING*>(X509V3_EXT_d2i(ext));
  ASSERT_NE(nullptr, nonce);
  EXPECT_EQ(18, nonce->length);
  EXPECT_EQ(morvane_test::FromHex(content),
            morvane_test::Bytes(nonce->data, nonce->data + nonce->length));
  EXPECT_EQ(content, DerOf(kNonce, nonce));
  EXPECT_EQ("    " + content, v3_test::Print(ext, 4));
  FreeValue(kNonce, nonce);
  X509_EXTENSION_free(ext);
  EXPECT_ERRORS({});
}

TEST(OcspExtensions, CrlReferenceNoCheckAndCutoff) {
  // crlUrl [0] "http://c.example", crlNum [1] 5, crlTime [2] 2010-01-01.
  const std::string der = "302C"
                          "A0121610687474703A2F2F632E6578616D706C65"
                          "A103020105"
                          "A211180F32303130303130313030303030305A";
  EXPECT_EQ(" crlUrl: http://c.example\n crlNum: 05\n crlTime: Jan  1 00:00:00 2010 GMT\n",
            PrintDer(kCrlId, der, 1));
  EXPECT_EQ("crlNum: 05\n", PrintDer(kCrlId, "3005A103020105"));
  OCSP_CRLID* id = OCSP_CRLID_new();
  ASSERT_NE(nullptr, id);
  EXPECT_EQ("3000", DerOf(kCrlId, id));
  OCSP_CRLID_free(id);

  // issuer C=GB, one locator: id-ad-ocsp, URI "http://o.example".
  const std::string locator = "302F" "300D310B3009060355040613024742"
                              "301E301C06082B06010505073001"
                              "8610687474703A2F2F6F2E6578616D706C65";
  EXPECT_EQ("  Issuer: C = GB\n    id-ad-ocsp - URI:http://o.example",
            PrintDer(kServiceLocator, locator, 2));
  EXPECT_EQ("Issuer: C = GB", PrintDer(kServiceLocator, "300F300D310B3009060355040613024742"));

  const X509V3_EXT_METHOD* m = X509V3_EXT_get_nid(kNoCheck);
  void* none = m->s2i(m, nullptr, "anything at all");
  EXPECT_EQ("0500", DerOf(kNoCheck, none));
  FreeValue(kNoCheck, none);
  EXPECT_EQ("", PrintDer(kNoCheck, "0500", 3));
  EXPECT_ERRORS({});
}

}  // namespace
