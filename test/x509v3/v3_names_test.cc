// The built-in methods of general names, key identifiers, constraints,
// distribution points and information access: building values from
// name/value text, their DER (RFC 5280, 4.2.1 and 4.2.2, encoded by hand
// from the ASN.1 module), their printed forms and their errors.

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

#include <dirent.h>

#include <algorithm>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using morvane_test::Bytes;

constexpr int kSubjectKeyId = 82;
constexpr int kSubjectAltName = 85;
constexpr int kIssuerAltName = 86;
constexpr int kBasicConstraints = 87;
constexpr int kAuthorityKeyId = 90;
constexpr int kCrlDistPoints = 103;
constexpr int kInfoAccess = 177;
constexpr int kSubjectInfoAccess = 398;
constexpr int kPolicyConstraints = 401;
constexpr int kNameConstraints = 666;
constexpr int kPolicyMappings = 747;

void FreePairs(STACK* list) {
  sk_pop_free(list, [](void* v) { X509V3_conf_free(static_cast<CONF_VALUE*>(v)); });
}

std::string Text(BIO* bio) {
  char* data = nullptr;
  const long n = BIO_get_mem_data(bio, &data);
  return std::string(data, static_cast<size_t>(n > 0 ? n : 0));
}

// The configuration of test/data/x509v3/names.cnf bound to ctx.
struct Config {
  CONF* conf = NCONF_new(nullptr);
  X509V3_CTX ctx = {};
  Config() {
    BIO* in = BIO_new_file(morvane_test::TestDataFile("x509v3/names.cnf").c_str(), "r");
    long line = 0;
    EXPECT_EQ(1, NCONF_load_bio(conf, in, &line));
    BIO_free(in);
    X509V3_set_nconf(&ctx, conf);
  }
  ~Config() { NCONF_free(conf); }
};

// Builds a value of nid from list text through its method's builder.
void* Build(int nid, const char* text, X509V3_CTX* ctx) {
  const X509V3_EXT_METHOD* m = X509V3_EXT_get_nid(nid);
  EXPECT_NE(nullptr, m);
  if (m == nullptr) return nullptr;
  if (m->s2i != nullptr) return m->s2i(m, ctx, text);
  STACK* pairs = X509V3_parse_list(text);
  EXPECT_NE(nullptr, pairs) << text;
  void* value = m->v2i(m, ctx, pairs);
  FreePairs(pairs);
  return value;
}

void FreeValue(int nid, void* value) {
  ASN1_item_free(static_cast<ASN1_VALUE*>(value), X509V3_EXT_get_nid(nid)->it);
}

// The DER of a value as its extension's octets, in hex.
std::string Der(int nid, void* value) {
  X509_EXTENSION* ex = X509V3_EXT_i2d(nid, 0, value);
  EXPECT_NE(nullptr, ex);
  if (ex == nullptr) return "";
  const ASN1_OCTET_STRING* d = X509_EXTENSION_get_data(ex);
  std::string hex = morvane_test::ToHex(d->data, static_cast<size_t>(d->length));
  X509_EXTENSION_free(ex);
  return hex;
}

// An extension's value printed through X509V3_EXT_print at indent 0.
std::string Printed(X509_EXTENSION* ex, unsigned long flag = 0) {
  BIO* out = BIO_new(BIO_s_mem());
  X509V3_EXT_print(out, ex, flag, 0);
  std::string s = Text(out);
  BIO_free(out);
  return s;
}

X509_EXTENSION* Extension(int nid, const std::string& der_hex) {
  const Bytes der = morvane_test::FromHex(der_hex);
  ASN1_OCTET_STRING* octets = ASN1_OCTET_STRING_new();
  ASN1_STRING_set(octets, der.data(), static_cast<int>(der.size()));
  X509_EXTENSION* ex = X509_EXTENSION_create_by_NID(nullptr, nid, 0, octets);
  ASN1_OCTET_STRING_free(octets);
  return ex;
}

struct BuildCase {
  int nid;
  const char* text;
  const char* der;
  const char* printed;
};

TEST(X509v3Names, BuildEncodeAndPrint) {
  Config cfg;
  const BuildCase cases[] = {
      {kBasicConstraints, "CA:TRUE,pathlen:3", "30060101ff020103", "CA:TRUE, pathlen:3"},
      {kBasicConstraints, "CA:FALSE", "3000", "CA:FALSE"},
      {kSubjectAltName, "DNS:a.example,email:x@y,URI:http://u,IP:10.0.0.1,RID:1.2.3",
       "3024820961" "2e6578616d706c65" "8103784079" "8608687474703a2f2f75" "87040a000001"
       "88022a03",
       "DNS:a.example, email:x@y, URI:http://u, IP Address:10.0.0.1, Registered ID:1.2.3"},
      {kSubjectAltName, "dirName:dn", "302ba4293027" "310b3009060355040613024155"
                                      "310c300a060355040a13034f7267" "310a30080603550403130178",
       "DirName:/C=AU/O=Org/CN=x"},
      {kSubjectAltName, "otherName:1.2.3;UTF8:hi", "300ca00a06022a03a0040c026869",
       "othername:<unsupported>"},
      {kSubjectAltName, "IP:::1", "30128710" "00000000000000000000000000000001",
       "IP Address:0:0:0:0:0:0:0:1"},
      {kIssuerAltName, "email:a@b", "3005810361" "4062", "email:a@b"},
      {kSubjectKeyId, "0A:FF", "04020aff", "0A:FF"},
      {kCrlDistPoints, "URI:http://c", "30103" "00ea00ca00a8608687474703a2f2f63",
       "URI:http://c\n"},
      {kInfoAccess, "OCSP;URI:http://o,caIssuers;URI:http://i",
       "302c3014" "06082b06010505073001" "8608687474703a2f2f6f"
       "3014" "06082b06010505073002" "8608687474703a2f2f69",
       "id-ad-ocsp - URI:http://o\nid-ad-caIssuers - URI:http://i\n"},
      {kSubjectInfoAccess, "1.2.3;DNS:d", "300930070602" "2a038201" "64", "1.2.3 - DNS:d\n"},
      {kPolicyConstraints, "requireExplicitPolicy:1,inhibitPolicyMapping:2", "3006800101810102",
       "Require Explicit Policy:1, Inhibit Policy Mapping:2"},
      {kPolicyMappings, "1.2.3:1.2.4", "300a300806022a0306022a04", "1.2.3:1.2.4"},
      {kNameConstraints, "permitted;IP:192.168.0.0/255.255.0.0,excluded;DNS:.bad",
       "3018a00c300a8708c0a80000ffff0000a1083006" "82042e626164",
       "Permitted:\n  IP:192.168.0.0/255.255.0.0\nExcluded:\n  DNS:.bad\n"},
  };
  for (const BuildCase& c : cases) {
    SCOPED_TRACE(c.text);
    void* value = Build(c.nid, c.text, &cfg.ctx);
    ASSERT_NE(nullptr, value);
    const std::string der = Der(c.nid, value);
    EXPECT_EQ(c.der, der);
    FreeValue(c.nid, value);
    X509_EXTENSION* ex = Extension(c.nid, der);
    EXPECT_EQ(c.printed, Printed(ex));
    X509_EXTENSION_free(ex);
  }
  EXPECT_ERRORS({});
}

struct ErrorCase {
  int nid;
  const char* text;
  int func;
  int reason;
};

TEST(X509v3Names, BuilderErrors) {
  Config cfg;
  const ErrorCase cases[] = {
      {kSubjectAltName, "IP:1::2::3", X509V3_F_V2I_GENERAL_NAME_EX, X509V3_R_BAD_IP_ADDRESS},
      {kSubjectAltName, "IP:1:2:3:4:5:6:7:8:9", X509V3_F_V2I_GENERAL_NAME_EX,
       X509V3_R_BAD_IP_ADDRESS},
      {kSubjectAltName, "IP:12345::", X509V3_F_V2I_GENERAL_NAME_EX, X509V3_R_BAD_IP_ADDRESS},
      {kSubjectAltName, "IP:256.1.1.1", X509V3_F_V2I_GENERAL_NAME_EX, X509V3_R_BAD_IP_ADDRESS},
      {kSubjectAltName, "foo:bar", X509V3_F_V2I_GENERAL_NAME_EX, X509V3_R_UNSUPPORTED_OPTION},
      {kSubjectAltName, "DNS", X509V3_F_V2I_GENERAL_NAME_EX, X509V3_R_MISSING_VALUE},
      {kSubjectAltName, "RID:not an object", X509V3_F_V2I_GENERAL_NAME_EX, X509V3_R_BAD_OBJECT},
      {kSubjectAltName, "otherName:1.2.3", X509V3_F_V2I_GENERAL_NAME_EX,
       X509V3_R_OTHERNAME_ERROR},
      {kIssuerAltName, "IP:1.2.3", X509V3_F_V2I_GENERAL_NAME_EX, X509V3_R_BAD_IP_ADDRESS},
      {kNameConstraints, "permitted:1.2.3.4", X509V3_F_V2I_NAME_CONSTRAINTS,
       X509V3_R_INVALID_SYNTAX},
      {kNameConstraints, "permitted;IP:10.0.0.0/ffff::", X509V3_F_V2I_GENERAL_NAME_EX,
       X509V3_R_BAD_IP_ADDRESS},
      {kNameConstraints, "excluded;DNS:a,permitted;IP:10.0.0.1", X509V3_F_V2I_GENERAL_NAME_EX,
       X509V3_R_BAD_IP_ADDRESS},
      {kInfoAccess, "OCSPURI:http://o", X509V3_F_V2I_AUTHORITY_INFO_ACCESS,
       X509V3_R_INVALID_SYNTAX},
      {kInfoAccess, "nosuchobject;URI:http://o", X509V3_F_V2I_AUTHORITY_INFO_ACCESS,
       X509V3_R_BAD_OBJECT},
      {kCrlDistPoints, "URI:http://c,DNS", X509V3_F_V2I_GENERAL_NAME_EX, X509V3_R_MISSING_VALUE},
      {kPolicyConstraints, "requireExplicitPolicy:1,other:2", X509V3_F_V2I_POLICY_CONSTRAINTS,
       X509V3_R_INVALID_NAME},
      {kPolicyMappings, "1.2.3", X509V3_F_V2I_POLICY_MAPPINGS,
       X509V3_R_INVALID_OBJECT_IDENTIFIER},
      {kPolicyMappings, "1.2.3:nonsense", X509V3_F_V2I_POLICY_MAPPINGS,
       X509V3_R_INVALID_OBJECT_IDENTIFIER},
      {kBasicConstraints, "CA:maybe", X509V3_F_X509V3_GET_VALUE_BOOL,
       X509V3_R_INVALID_BOOLEAN_STRING},
      {kBasicConstraints, "CRITICAL,CA:TRUE", X509V3_F_V2I_BASIC_CONSTRAINTS,
       X509V3_R_INVALID_NAME},
      {kSubjectKeyId, "0A:F", X509V3_F_STRING_TO_HEX, X509V3_R_ODD_NUMBER_OF_DIGITS},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(nullptr, Build(c.nid, c.text, &cfg.ctx));
    // The last entry is the builder's (an object lookup may queue its own).
    const unsigned long e = ERR_peek_last_error();
    EXPECT_EQ(ERR_LIB_X509V3, ERR_GET_LIB(e));
    EXPECT_EQ(c.func, ERR_GET_FUNC(e));
    EXPECT_EQ(c.reason, ERR_GET_REASON(e));
    ERR_clear_error();
  }
  // A dirName section that is missing, and one whose lines are no name.
  EXPECT_EQ(nullptr, Build(kSubjectAltName, "dirName:nosuch", &cfg.ctx));
  EXPECT_ERRORS({{ERR_LIB_X509V3, X509V3_F_DO_DIRNAME, X509V3_R_SECTION_NOT_FOUND},
                 {ERR_LIB_X509V3, X509V3_F_V2I_GENERAL_NAME_EX, X509V3_R_DIRNAME_ERROR}});
  EXPECT_EQ(nullptr, Build(kSubjectAltName, "dirName:bad_dn", &cfg.ctx));
  ERR_clear_error();
  // A policy-constraints value with neither field.
  const X509V3_EXT_METHOD* pcons = X509V3_EXT_get_nid(kPolicyConstraints);
  STACK* none = sk_new_null();
  EXPECT_EQ(nullptr, pcons->v2i(pcons, nullptr, none));
  EXPECT_ERRORS(
      {{ERR_LIB_X509V3, X509V3_F_V2I_POLICY_CONSTRAINTS, X509V3_R_ILLEGAL_EMPTY_EXTENSION}});
  sk_free(none);
}

// Addresses as general names: the octets stored.
TEST(X509v3Names, IpAddresses) {
  const struct {
    const char* text;
    const char* octets;
  } cases[] = {
      {"10.0.0.1", "0a000001"},
      {"::1", "00000000000000000000000000000001"},
      {"::", "00000000000000000000000000000000"},
      {"::ffff:192.168.1.1", "00000000000000000000ffffc0a80101"},
  };
  for (const auto& c : cases) {
    CONF_VALUE cnf = {nullptr, const_cast<char*>("IP"), const_cast<char*>(c.text)};
    GENERAL_NAME* gen = v2i_GENERAL_NAME(nullptr, nullptr, &cnf);
    ASSERT_NE(nullptr, gen) << c.text;
    EXPECT_EQ(GEN_IPADD, gen->type);
    EXPECT_EQ(c.octets, morvane_test::ToHex(gen->d.ip->data, static_cast<size_t>(gen->d.ip->length)));
    GENERAL_NAME_free(gen);
  }
  // With is_nc the value is an address and a mask of one family.
  CONF_VALUE cnf = {nullptr, const_cast<char*>("IP"), const_cast<char*>("192.168.0.0/255.255.0.0")};
  GENERAL_NAME* gen = v2i_GENERAL_NAME_ex(nullptr, nullptr, nullptr, &cnf, 1);
  ASSERT_NE(nullptr, gen);
  EXPECT_EQ(8, gen->d.ip->length);
  GENERAL_NAME_free(gen);
  // A caller's name is filled, and left to the caller on failure.
  GENERAL_NAME* out = GENERAL_NAME_new();
  CONF_VALUE dns = {nullptr, const_cast<char*>("DNS.2"), const_cast<char*>("h")};
  EXPECT_EQ(out, v2i_GENERAL_NAME_ex(out, nullptr, nullptr, &dns, 0));
  EXPECT_EQ(GEN_DNS, out->type);
  GENERAL_NAME_free(out);
  out = GENERAL_NAME_new();
  CONF_VALUE bad = {nullptr, const_cast<char*>("IP"), const_cast<char*>("x")};
  EXPECT_EQ(nullptr, v2i_GENERAL_NAME_ex(out, nullptr, nullptr, &bad, 0));
  ERR_clear_error();
  GENERAL_NAME_free(out);
}

TEST(X509v3Names, PrintedForms) {
  Config cfg;
  GENERAL_NAMES* gens = static_cast<GENERAL_NAMES*>(
      Build(kSubjectAltName, "IP:::1,IP:10.0.0.1,dirName:dn,RID:1.2.3,email:e@x", &cfg.ctx));
  ASSERT_NE(nullptr, gens);
  const char* want[] = {"IP Address:0:0:0:0:0:0:0:1\n", "IP Address:10.0.0.1",
                        "DirName: C = AU, O = Org, CN = x", "Registered ID1.2.3", "email:e@x"};
  for (int i = 0; i < sk_num(gens); i++) {
    BIO* out = BIO_new(BIO_s_mem());
    EXPECT_EQ(1, GENERAL_NAME_print(out, reinterpret_cast<GENERAL_NAME*>(sk_value(gens, i))));
    EXPECT_EQ(want[i], Text(out));
    BIO_free(out);
  }
  // An address of another length, and a type outside the CHOICE.
  auto* ip = reinterpret_cast<GENERAL_NAME*>(sk_value(gens, 1));
  ip->d.ip->length = 3;
  BIO* out = BIO_new(BIO_s_mem());
  GENERAL_NAME_print(out, ip);
  STACK* pairs = i2v_GENERAL_NAME(nullptr, ip, nullptr);
  ip->d.ip->length = 4;
  ASSERT_NE(nullptr, pairs);
  EXPECT_EQ("<invalid>", std::string(reinterpret_cast<CONF_VALUE*>(sk_value(pairs, 0))->value));
  FreePairs(pairs);
  GENERAL_NAME odd = {};
  odd.type = 9;
  GENERAL_NAME_print(out, &odd);
  EXPECT_EQ(nullptr, i2v_GENERAL_NAME(nullptr, &odd, nullptr));
  EXPECT_EQ("IP Address:<invalid>", Text(out));
  BIO_free(out);
  // An empty list gives an empty list, never null.
  STACK* empty = sk_new_null();
  STACK* none = i2v_GENERAL_NAMES(nullptr, empty, nullptr);
  ASSERT_NE(nullptr, none);
  EXPECT_EQ(0, sk_num(none));
  sk_free(none);
  sk_free(empty);
  GENERAL_NAMES_free(gens);
  // The access description prints its method only.
  ACCESS_DESCRIPTION* ad = ACCESS_DESCRIPTION_new();
  ASN1_OBJECT_free(ad->method);
  ad->method = OBJ_txt2obj("1.2.3", 0);
  out = BIO_new(BIO_s_mem());
  EXPECT_EQ(2, i2a_ACCESS_DESCRIPTION(out, ad));
  EXPECT_EQ("1.2.3", Text(out));
  BIO_free(out);
  ACCESS_DESCRIPTION_free(ad);
}

// An EDIPartyName keeps the type of its strings: each sits inside its own
// context tag, and what decodes encodes back to the same octets.  A string
// standing where the tag belongs is refused.
TEST(X509v3Names, EdiPartyNameKeepsItsStrings) {
  const std::string der = "a50ca0050c03616263a1030c0178";  // [5] {[0] {"abc"}, [1] {"x"}}
  const Bytes in = morvane_test::FromHex(der);
  const unsigned char* p = in.data();
  GENERAL_NAME* gen = d2i_GENERAL_NAME(nullptr, &p, static_cast<long>(in.size()));
  ASSERT_NE(nullptr, gen);
  ASSERT_EQ(GEN_EDIPARTY, gen->type);
  EXPECT_EQ(ASN1_UT_UTF8STRING, gen->d.ediPartyName->nameAssigner->type);
  unsigned char* out = nullptr;
  const int len = i2d_GENERAL_NAME(gen, &out);
  EXPECT_EQ(der, morvane_test::ToHex(out, static_cast<size_t>(len > 0 ? len : 0)));
  CRYPTO_free(out);
  GENERAL_NAME_free(gen);
  const Bytes bare = morvane_test::FromHex("a5050c03616263");
  p = bare.data();
  EXPECT_EQ(nullptr, d2i_GENERAL_NAME(nullptr, &p, static_cast<long>(bare.size())));
  ERR_clear_error();
}

X509* CertWithSubjectEmails(const std::vector<const char*>& emails) {
  X509* x = X509_new();
  X509_NAME* nm = X509_get_subject_name(x);
  X509_NAME_add_entry_by_txt(nm, "CN", 0x1001, reinterpret_cast<const unsigned char*>("c"), -1,
                             -1, 0);
  for (const char* e : emails)
    X509_NAME_add_entry_by_txt(nm, "emailAddress", 0x1001,
                               reinterpret_cast<const unsigned char*>(e), -1, -1, 0);
  return x;
}

TEST(X509v3Names, EmailCopyAndMove) {
  X509* x = CertWithSubjectEmails({"a@x", "b@x"});
  X509V3_CTX ctx = {};
  ctx.subject_cert = x;
  auto* gens = static_cast<GENERAL_NAMES*>(Build(kSubjectAltName, "DNS:d,email:copy", &ctx));
  ASSERT_NE(nullptr, gens);
  EXPECT_EQ(3, sk_num(gens));
  GENERAL_NAMES_free(gens);
  EXPECT_EQ(3, X509_NAME_entry_count(X509_get_subject_name(x)));

  gens = static_cast<GENERAL_NAMES*>(Build(kSubjectAltName, "email:move,URI:u", &ctx));
  ASSERT_NE(nullptr, gens);
  ASSERT_EQ(3, sk_num(gens));
  const char* want[] = {"a@x", "b@x"};
  for (int i = 0; i < 2; i++) {
    auto* gen = reinterpret_cast<GENERAL_NAME*>(sk_value(gens, i));
    EXPECT_EQ(GEN_EMAIL, gen->type);
    EXPECT_EQ(want[i], std::string(reinterpret_cast<char*>(gen->d.ia5->data)));
  }
  GENERAL_NAMES_free(gens);
  EXPECT_EQ(1, X509_NAME_entry_count(X509_get_subject_name(x)));  // only CN is left
  // Nothing left to copy: an empty GeneralNames (30 00) is refused.
  EXPECT_EQ(nullptr, Build(kSubjectAltName, "email:copy", &ctx));
  EXPECT_EQ(nullptr, Build(kSubjectAltName, "email:move", &ctx));
  const morvane_test::ErrEntry empty = {ERR_LIB_X509V3, X509V3_F_V2I_SUBJECT_ALT,
                                        X509V3_R_ILLEGAL_EMPTY_EXTENSION,
                                        "no name given or copied"};
  EXPECT_ERRORS({empty, empty});

  // Test mode adds nothing; no subject is an error.
  ctx.flags = X509V3_CTX_TEST;
  gens = static_cast<GENERAL_NAMES*>(Build(kSubjectAltName, "email:copy", &ctx));
  ASSERT_NE(nullptr, gens);
  EXPECT_EQ(0, sk_num(gens));
  GENERAL_NAMES_free(gens);
  X509V3_CTX bare = {};
  EXPECT_EQ(nullptr, Build(kSubjectAltName, "email:copy", &bare));
  EXPECT_ERRORS({{ERR_LIB_X509V3, X509V3_F_COPY_EMAIL, X509V3_R_NO_SUBJECT_DETAILS}});
  X509_free(x);
}

// Adds an extension of nid built from text to x.
void AddExt(X509* x, int nid, const char* text, X509V3_CTX* ctx) {
  void* value = Build(nid, text, ctx);
  ASSERT_NE(nullptr, value) << text;
  X509_EXTENSION* ex = X509V3_EXT_i2d(nid, 0, value);
  FreeValue(nid, value);
  ASSERT_EQ(1, X509_add_ext(x, ex, -1));
  X509_EXTENSION_free(ex);
}

TEST(X509v3Names, IssuerCopy) {
  X509* issuer = X509_new();
  AddExt(issuer, kSubjectAltName, "DNS:ca.example,email:ca@x", nullptr);
  X509V3_CTX ctx = {};
  ctx.issuer_cert = issuer;
  auto* gens =
      static_cast<GENERAL_NAMES*>(Build(kIssuerAltName, "URI:u,issuer:copy", &ctx));
  ASSERT_NE(nullptr, gens);
  EXPECT_EQ(3, sk_num(gens));
  GENERAL_NAMES_free(gens);
  // An issuer without alternative names gives nothing to copy.
  X509* plain = X509_new();
  ctx.issuer_cert = plain;
  EXPECT_EQ(nullptr, Build(kIssuerAltName, "issuer:copy", &ctx));
  EXPECT_ERRORS({{ERR_LIB_X509V3, X509V3_F_V2I_ISSUER_ALT, X509V3_R_ILLEGAL_EMPTY_EXTENSION}});
  X509_free(plain);
  X509V3_CTX bare = {};
  EXPECT_EQ(nullptr, Build(kIssuerAltName, "issuer:copy", &bare));
  EXPECT_ERRORS({{ERR_LIB_X509V3, X509V3_F_COPY_ISSUER, X509V3_R_NO_ISSUER_DETAILS}});
  X509_free(issuer);
}

TEST(X509v3Names, KeyIdentifiers) {
  X509* issuer = X509_new();
  ASN1_INTEGER_set(X509_get_serialNumber(issuer), 0x1234);
  X509_NAME_add_entry_by_txt(X509_get_issuer_name(issuer), "CN", 0x1001,
                             reinterpret_cast<const unsigned char*>("root"), -1, -1, 0);
  X509V3_CTX ctx = {};
  // The subject key identifier "hash" is the SHA-1 of the key's bits; with
  // the bits "abc" that is FIPS 180-2's first example.
  ctx.subject_cert = issuer;
  ASN1_STRING_set(issuer->cert_info->key->public_key, "abc", 3);
  void* skid = Build(kSubjectKeyId, "hash", &ctx);
  ASSERT_NE(nullptr, skid);
  EXPECT_EQ("0414a9993e364706816aba3e25717850c26c9cd0d89d", Der(kSubjectKeyId, skid));
  FreeValue(kSubjectKeyId, skid);
  AddExt(issuer, kSubjectKeyId, "01:02", nullptr);

  ctx.issuer_cert = issuer;
  struct {
    const char* text;
    const char* der;
  } cases[] = {
      {"keyid,issuer", "30048002" "0102"},
      {"keyid,issuer:always", "301d80020102" "a113a411300f310d300b06035504031304726f6f74" "82021234"},
      {"issuer", "3019" "a113a411300f310d300b06035504031304726f6f74" "82021234"},
  };
  for (const auto& c : cases) {
    void* akid = Build(kAuthorityKeyId, c.text, &ctx);
    ASSERT_NE(nullptr, akid) << c.text;
    EXPECT_EQ(c.der, Der(kAuthorityKeyId, akid)) << c.text;
    FreeValue(kAuthorityKeyId, akid);
  }
  EXPECT_ERRORS({});

  // A key identifier the issuer has but that cannot be decoded is not taken
  // for none: the extension fails, rather than naming the issuer instead.
  X509* broken = X509_new();
  ASN1_OCTET_STRING* bad = ASN1_OCTET_STRING_new();
  ASN1_OCTET_STRING_set(bad, reinterpret_cast<const unsigned char*>("\x04\x05\x01"), 3);
  X509_EXTENSION* bad_ext = X509_EXTENSION_create_by_NID(nullptr, kSubjectKeyId, 0, bad);
  ASSERT_EQ(1, X509_add_ext(broken, bad_ext, -1));
  ctx.issuer_cert = broken;
  EXPECT_EQ(nullptr, Build(kAuthorityKeyId, "keyid,issuer", &ctx));
  EXPECT_EQ(
      ERR_PACK(ERR_LIB_X509V3, X509V3_F_V2I_AUTHORITY_KEYID, X509V3_R_UNABLE_TO_GET_ISSUER_KEYID),
      ERR_peek_last_error());
  ERR_clear_error();
  X509_EXTENSION_free(bad_ext);
  ASN1_OCTET_STRING_free(bad);
  X509_free(broken);

  X509* plain = X509_new();
  ctx.issuer_cert = plain;
  EXPECT_EQ(nullptr, Build(kAuthorityKeyId, "keyid:always", &ctx));
  EXPECT_ERRORS({{ERR_LIB_X509V3, X509V3_F_V2I_AUTHORITY_KEYID,
                  X509V3_R_UNABLE_TO_GET_ISSUER_KEYID}});
  EXPECT_EQ(nullptr, Build(kAuthorityKeyId, "keyid,serial", &ctx));
  EXPECT_ERRORS({{ERR_LIB_X509V3, X509V3_F_V2I_AUTHORITY_KEYID, X509V3_R_UNKNOWN_OPTION}});
  ctx.issuer_cert = nullptr;
  EXPECT_EQ(nullptr, Build(kAuthorityKeyId, "keyid", &ctx));
  EXPECT_ERRORS({{ERR_LIB_X509V3, X509V3_F_V2I_AUTHORITY_KEYID, X509V3_R_NO_ISSUER_CERTIFICATE}});
  ctx.flags = X509V3_CTX_TEST;
  void* empty = Build(kAuthorityKeyId, "keyid", &ctx);
  ASSERT_NE(nullptr, empty);
  EXPECT_EQ("3000", Der(kAuthorityKeyId, empty));
  FreeValue(kAuthorityKeyId, empty);
  void* empty_skid = Build(kSubjectKeyId, "hash", &ctx);
  ASSERT_NE(nullptr, empty_skid);
  EXPECT_EQ("0400", Der(kSubjectKeyId, empty_skid));
  FreeValue(kSubjectKeyId, empty_skid);
  ctx.flags = 0;
  ctx.subject_cert = nullptr;
  EXPECT_EQ(nullptr, Build(kSubjectKeyId, "hash", &ctx));
  EXPECT_ERRORS({{ERR_LIB_X509V3, X509V3_F_S2I_SKEY_ID, X509V3_R_NO_PUBLIC_KEY}});
  // A certificate or request whose key is not set yet has none to hash.
  X509* keyless = X509_new();
  X509_REQ* keyless_req = X509_REQ_new();
  ctx.subject_cert = keyless;
  EXPECT_EQ(nullptr, Build(kSubjectKeyId, "hash", &ctx));
  EXPECT_ERRORS({{ERR_LIB_X509V3, X509V3_F_S2I_SKEY_ID, X509V3_R_NO_PUBLIC_KEY}});
  ctx.subject_req = keyless_req;
  EXPECT_EQ(nullptr, Build(kSubjectKeyId, "hash", &ctx));
  EXPECT_ERRORS({{ERR_LIB_X509V3, X509V3_F_S2I_SKEY_ID, X509V3_R_NO_PUBLIC_KEY}});
  ctx.subject_cert = nullptr;
  ctx.subject_req = nullptr;
  X509_REQ_free(keyless_req);
  X509_free(keyless);

  // The identifier prints as key identifier, issuer names and serial.
  X509_EXTENSION* ex = Extension(
      kAuthorityKeyId, "301d80020102" "a113a411300f310d300b06035504031304726f6f74" "82021234");
  EXPECT_EQ("keyid:01:02\nDirName:/CN=root\nserial:12:34\n", Printed(ex));
  X509_EXTENSION_free(ex);
  X509_free(plain);
  X509_free(issuer);
}

// A pair that cannot be added drops the whole list the conversion made:
// with each of its allocations failing in turn, it gives null and leaves no
// block behind.  The values (DER by hand) give at least two pairs each.
TEST(X509v3NamesAlloc, FailedPairLosesNoList) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  // The thread's error state is made once, before the counting starts.
  ERR_put_error(ERR_LIB_X509V3, 0, ERR_R_MALLOC_FAILURE, __FILE__, __LINE__);
  ERR_clear_error();
  struct {
    int nid;
    const char* der;
  } cases[] = {
      {kBasicConstraints, "30060101FF020101"},                   // CA:TRUE, pathlen:1
      {kPolicyConstraints, "3006800100810102"},                  // 0 and 2
      {kAuthorityKeyId, "300C800201 02A1038201618201 05"},       // keyid, DNS:a, serial
      {kPolicyMappings, "3014 30080602 2A0306022A04 30080602 2A0506022A06"},  // 1.2.3/4, 1.2.5/6
      {kCrlDistPoints, "3017 3007A005A003860175 300CA005A003860176A203860177"},  // u; v, issuer w
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.nid);
    const X509V3_EXT_METHOD* m = X509V3_EXT_get_nid(c.nid);
    ASSERT_NE(nullptr, m);
    X509_EXTENSION* ex = Extension(c.nid, c.der);
    void* value = X509V3_EXT_d2i(ex);
    ASSERT_NE(nullptr, value);
    const auto counts = [] {
      const morvane_test::AllocCounts n = morvane_test::GetAllocCounts();
      return n.mallocs + n.reallocs;
    };
    const long before = counts();
    STACK* whole = m->i2v(m, value, nullptr);
    ASSERT_NE(nullptr, whole);
    ASSERT_GE(sk_num(whole), 2);
    FreePairs(whole);
    const long allocations = counts() - before;
    for (long k = 1; k <= allocations; k++) {
      const long live = morvane_test::GetAllocCounts().live_blocks;
      morvane_test::FailAllocationAfter(k);
      STACK* list = m->i2v(m, value, nullptr);
      morvane_test::FailAllocationAfter(0);
      EXPECT_EQ(nullptr, list) << "allocation " << k;
      FreePairs(list);
      EXPECT_EQ(live, morvane_test::GetAllocCounts().live_blocks) << "allocation " << k;
      ERR_clear_error();
    }
    FreeValue(c.nid, value);
    X509_EXTENSION_free(ex);
  }
}

TEST(X509v3Names, Registry) {
  const X509V3_EXT_METHOD* san = X509V3_EXT_get_nid(kSubjectAltName);
  ASSERT_NE(nullptr, san);
  EXPECT_EQ(&GENERAL_NAMES_it, san->it);
  // A record added for a NID of the built-in table is never served.
  X509V3_EXT_METHOD mine = {};
  mine.ext_nid = kSubjectAltName;
  ASSERT_EQ(1, X509V3_EXT_add(&mine));
  EXPECT_EQ(san, X509V3_EXT_get_nid(kSubjectAltName));
  // An alias copies the built-in method under another NID.
  ASSERT_EQ(1, X509V3_EXT_add_alias(771, kSubjectAltName));
  const X509V3_EXT_METHOD* alias = X509V3_EXT_get_nid(771);
  ASSERT_NE(nullptr, alias);
  EXPECT_EQ(771, alias->ext_nid);
  EXPECT_EQ(san->v2i, alias->v2i);
  EXPECT_EQ(san->i2v, alias->i2v);
  X509V3_EXT_cleanup();
  const int nids[] = {kSubjectKeyId, kSubjectAltName, kIssuerAltName, kBasicConstraints,
                      kAuthorityKeyId, kCrlDistPoints, kInfoAccess, kSubjectInfoAccess,
                      kPolicyConstraints, kNameConstraints, kPolicyMappings};
  for (int nid : nids) {
    const X509V3_EXT_METHOD* m = X509V3_EXT_get_nid(nid);
    ASSERT_NE(nullptr, m) << nid;
    EXPECT_EQ(nid, m->ext_nid);
  }
}

TEST(X509v3Names, SearchEmailAndOcsp) {
  X509* x = CertWithSubjectEmails({"a@x"});
  X509V3_CTX ctx = {};
  AddExt(x, kSubjectAltName, "email:b@x,DNS:d,email:a@x", &ctx);
  AddExt(x, kInfoAccess,
         "OCSP;URI:http://o1,caIssuers;URI:http://i,OCSP;DNS:d,OCSP;URI:http://o2,"
         "OCSP;URI:http://o1",
         &ctx);
  STACK* emails = X509_get1_email(x);
  ASSERT_NE(nullptr, emails);
  std::vector<std::string> got;
  for (int i = 0; i < sk_num(emails); i++) got.push_back(sk_value(emails, i));
  std::sort(got.begin(), got.end());
  EXPECT_EQ((std::vector<std::string>{"a@x", "b@x"}), got);
  X509_email_free(emails);
  STACK* ocsp = X509_get1_ocsp(x);
  ASSERT_NE(nullptr, ocsp);
  got.clear();
  for (int i = 0; i < sk_num(ocsp); i++) got.push_back(sk_value(ocsp, i));
  std::sort(got.begin(), got.end());
  EXPECT_EQ((std::vector<std::string>{"http://o1", "http://o2"}), got);
  X509_email_free(ocsp);

  // Two subjectAltName extensions: without idx none is taken.
  AddExt(x, kSubjectAltName, "DNS:e", &ctx);
  int crit = 0;
  EXPECT_EQ(nullptr, X509V3_get_d2i(x->cert_info->extensions, kSubjectAltName, &crit, nullptr));
  EXPECT_EQ(-2, crit);
  int idx = -1;
  auto* first = static_cast<GENERAL_NAMES*>(
      X509V3_get_d2i(x->cert_info->extensions, kSubjectAltName, &crit, &idx));
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(3, sk_num(first));
  EXPECT_EQ(0, crit);
  GENERAL_NAMES_free(first);
  X509_free(x);
  X509* none = X509_new();
  EXPECT_EQ(nullptr, X509_get1_ocsp(none));
  X509_free(none);
  EXPECT_ERRORS({});
}

// ---- PKITS ------------------------------------------------------------------

X509* PkitsCert(const std::string& dir, const std::string& name) {
  const Bytes der = morvane_test::ReadFileBytes(dir + "/certs/" + name + ".crt");
  const unsigned char* p = der.data();
  return d2i_X509(nullptr, &p, static_cast<long>(der.size()));
}

std::string PrintedNid(X509* x, int nid) {
  const int i = X509_get_ext_by_NID(x, nid, -1);
  if (i < 0) return "<absent>";
  return Printed(X509_get_ext(x, i));
}

TEST(X509v3NamesPkits, PrintedExtensions) {
  MORVANE_VECTOR_PATH_OR_SKIP(dir, "pkits");
  X509* ca = PkitsCert(dir, "GoodCACert");
  ASSERT_NE(nullptr, ca);
  EXPECT_EQ("keyid:E4:7D:5F:D1:5C:95:86:08:2C:05:AE:BE:75:B6:65:A7:D9:5D:A8:66\n",
            PrintedNid(ca, kAuthorityKeyId));
  EXPECT_EQ("58:01:84:24:1B:BC:2B:52:94:4A:3D:A5:10:72:14:51:F5:AF:3A:C9",
            PrintedNid(ca, kSubjectKeyId));
  EXPECT_EQ("CA:TRUE", PrintedNid(ca, kBasicConstraints));
  X509_free(ca);
  X509* ee = PkitsCert(dir, "ValidRFC822nameConstraintsTest21EE");
  ASSERT_NE(nullptr, ee);
  EXPECT_EQ("email:Test21EE@mailserver.testcertificates.gov", PrintedNid(ee, kSubjectAltName));
  X509_free(ee);
  ee = PkitsCert(dir, "ValidDNSnameConstraintsTest30EE");
  ASSERT_NE(nullptr, ee);
  EXPECT_EQ("DNS:testserver.testcertificates.gov", PrintedNid(ee, kSubjectAltName));
  X509_free(ee);
}

// Every extension of the PKITS certificates and CRLs with one of these
// methods decodes, encodes back to its octets and prints.
void CheckExtensions(STACK* exts, const std::string& where, int* seen) {
  for (int i = 0; i < sk_num(exts); i++) {
    auto* ex = reinterpret_cast<X509_EXTENSION*>(sk_value(exts, i));
    const X509V3_EXT_METHOD* m = X509V3_EXT_get(ex);
    if (m == nullptr) continue;
    void* value = X509V3_EXT_d2i(ex);
    ASSERT_NE(nullptr, value) << where << " " << m->ext_nid;
    unsigned char* der = nullptr;
    const int len = ASN1_item_i2d(static_cast<ASN1_VALUE*>(value), &der, m->it);
    const ASN1_OCTET_STRING* data = X509_EXTENSION_get_data(ex);
    EXPECT_EQ(morvane_test::ToHex(data->data, static_cast<size_t>(data->length)),
              morvane_test::ToHex(der, static_cast<size_t>(len > 0 ? len : 0)))
        << where << " " << m->ext_nid;
    CRYPTO_free(der);
    ASN1_item_free(static_cast<ASN1_VALUE*>(value), m->it);
    EXPECT_EQ(std::string::npos, Printed(ex, X509V3_EXT_ERROR_UNKNOWN).find("<Parse Error>"))
        << where;
    (*seen)++;
  }
}

TEST(X509v3NamesPkits, EveryExtensionRoundTrips) {
  MORVANE_VECTOR_PATH_OR_SKIP(dir, "pkits");
  int seen = 0;
  for (const char* kind : {"certs", "crls"}) {
    const std::string sub = dir + "/" + kind;
    DIR* d = opendir(sub.c_str());
    ASSERT_NE(nullptr, d);
    while (dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name[0] == '.') continue;
      const Bytes der = morvane_test::ReadFileBytes(sub + "/" + name);
      const unsigned char* p = der.data();
      if (kind[0] == 'c' && kind[1] == 'e') {
        X509* x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
        ASSERT_NE(nullptr, x) << name;
        CheckExtensions(x->cert_info->extensions, name, &seen);
        X509_free(x);
      } else {
        X509_CRL* crl = d2i_X509_CRL(nullptr, &p, static_cast<long>(der.size()));
        ASSERT_NE(nullptr, crl) << name;
        CheckExtensions(crl->crl->extensions, name, &seen);
        X509_CRL_free(crl);
      }
    }
    closedir(d);
  }
  EXPECT_GT(seen, 1000);
  ERR_clear_error();
}

}  // namespace
