// Extensions from configuration text: prefixes, raw values, the method
// path and its errors, whole sections into a certificate, a request and a
// revocation list, and the builders' context.

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

#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

namespace {

constexpr int kBasicConstraints = 87;
constexpr int kSubjectAltName = 85;

struct Loaded {
  CONF* conf = NCONF_new(nullptr);
  Loaded() {
    BIO* in = BIO_new_file(morvane_test::TestDataFile("x509v3/conf.cnf").c_str(), "r");
    long line = 0;
    EXPECT_EQ(1, NCONF_load_bio(conf, in, &line));
    BIO_free(in);
  }
  ~Loaded() { NCONF_free(conf); }
};

std::string Value(const X509_EXTENSION* ex) {
  const ASN1_OCTET_STRING* d = ex->value;
  return morvane_test::ToHex(d->data, static_cast<size_t>(d->length));
}

void FreeExtension(void* p) {
  X509_EXTENSION_free(static_cast<X509_EXTENSION*>(p));
}

TEST(X509v3Conf, OneLine) {
  X509V3_CTX ctx = {};
  struct {
    const char* name;
    const char* value;
    int crit;
    const char* der;
  } cases[] = {
      {"basicConstraints", "critical, CA:TRUE", 1, "30030101ff"},
      {"basicConstraints", "critical,CA:TRUE", 1, "30030101ff"},
      {"basicConstraints", "CA:TRUE", 0, "30030101ff"},
      {"1.2.3.4", "DER:01:02:03", 0, "010203"},
      {"1.2.3.4", "DER:010203", 0, "010203"},
      {"1.2.3.4", "critical,DER: 0a0b", 1, "0a0b"},
      {"X509v3 Basic Constraints", "DER:3000", 0, "3000"},
      {"1.2.3.4", "ASN1:UTF8:hi", 0, "0c026869"},
      {"subjectAltName", "DNS:a.example", 0, "300b8209612e6578616d706c65"},
  };
  for (const auto& c : cases) {
    X509_EXTENSION* ex = X509V3_EXT_nconf(nullptr, &ctx, c.name, c.value);
    ASSERT_NE(nullptr, ex) << c.value;
    EXPECT_EQ(c.crit, X509_EXTENSION_get_critical(ex)) << c.value;
    EXPECT_EQ(c.der, Value(ex)) << c.value;
    X509_EXTENSION_free(ex);
  }
  X509_EXTENSION* ex = X509V3_EXT_nconf_nid(nullptr, &ctx, kBasicConstraints, "critical,CA:TRUE");
  ASSERT_NE(nullptr, ex);
  EXPECT_EQ("30030101ff", Value(ex));
  X509_EXTENSION_free(ex);
  ex = X509V3_EXT_nconf_nid(nullptr, &ctx, kBasicConstraints, "DER:3000");
  ASSERT_NE(nullptr, ex);
  EXPECT_EQ(kBasicConstraints, OBJ_obj2nid(ex->object));
  X509_EXTENSION_free(ex);
  EXPECT_ERRORS({});
}

TEST(X509v3Conf, OneLineErrors) {
  X509V3_CTX ctx = {};
  const int lib = ERR_LIB_X509V3;
  struct {
    const char* name;
    const char* value;
    std::vector<morvane_test::ErrEntry> errors;
  } cases[] = {
      {"basicConstraints", "CRITICAL,CA:TRUE",
       {{lib, X509V3_F_V2I_BASIC_CONSTRAINTS, X509V3_R_INVALID_NAME},
        {lib, X509V3_F_X509V3_EXT_NCONF, X509V3_R_ERROR_IN_EXTENSION}}},
      {"1.2.3.4", "DER:123",
       {{lib, X509V3_F_STRING_TO_HEX, X509V3_R_ODD_NUMBER_OF_DIGITS},
        {lib, X509V3_F_V3_GENERIC_EXTENSION, X509V3_R_EXTENSION_VALUE_ERROR}}},
      {"1.2.3.4", "DER:1",
       {{lib, X509V3_F_STRING_TO_HEX, ERR_R_MALLOC_FAILURE},
        {lib, X509V3_F_V3_GENERIC_EXTENSION, X509V3_R_EXTENSION_VALUE_ERROR}}},
      {"1.2.3.4", "DER:",
       {{lib, X509V3_F_STRING_TO_HEX, ERR_R_MALLOC_FAILURE},
        {lib, X509V3_F_V3_GENERIC_EXTENSION, X509V3_R_EXTENSION_VALUE_ERROR}}},
      {"X509v3 Basic Constraints", "CA:TRUE",
       {{lib, X509V3_F_DO_EXT_NCONF, X509V3_R_UNKNOWN_EXTENSION_NAME},
        {lib, X509V3_F_X509V3_EXT_NCONF, X509V3_R_ERROR_IN_EXTENSION}}},
      {"issuingDistributionPoint", "x",
       {{lib, X509V3_F_DO_EXT_NCONF, X509V3_R_UNKNOWN_EXTENSION},
        {lib, X509V3_F_X509V3_EXT_NCONF, X509V3_R_ERROR_IN_EXTENSION}}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(nullptr, X509V3_EXT_nconf(nullptr, &ctx, c.name, c.value)) << c.value;
    EXPECT_ERRORS(c.errors) << c.value;
  }
  // The context of a missing section repeats the whole value.
  Loaded cfg;
  EXPECT_EQ(nullptr, X509V3_EXT_nconf(cfg.conf, &ctx, "subjectAltName", "@nosuch"));
  EXPECT_ERRORS({{lib, X509V3_F_DO_EXT_NCONF, X509V3_R_INVALID_EXTENSION_STRING,
                  "name=subjectAltName,section=@nosuch"},
                 {lib, X509V3_F_X509V3_EXT_NCONF, X509V3_R_ERROR_IN_EXTENSION,
                  "name=subjectAltName, value=@nosuch"}});
  // A raw extension named by no object.
  EXPECT_EQ(nullptr, X509V3_EXT_nconf(nullptr, &ctx, "no such thing", "DER:00"));
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_A2D_ASN1_OBJECT, ASN1_R_FIRST_NUM_TOO_LARGE},
                 {lib, X509V3_F_V3_GENERIC_EXTENSION, X509V3_R_EXTENSION_NAME_ERROR,
                  "name=no such thing"}});
}

// A method with only a raw builder, and one with no builder.
void* RawBuilder(const X509V3_EXT_METHOD*, X509V3_CTX*, const char* str) {
  ASN1_OCTET_STRING* s = ASN1_OCTET_STRING_new();
  ASN1_STRING_set(s, str, static_cast<int>(strlen(str)));
  return s;
}

TEST(X509v3Conf, RawBuilderNeedsADatabase) {
  X509V3_EXT_METHOD raw = {};
  raw.ext_nid = 769;
  raw.it = &ASN1_OCTET_STRING_it;
  raw.r2i = RawBuilder;
  X509V3_EXT_METHOD none = {};
  none.ext_nid = 770;
  none.it = &ASN1_OCTET_STRING_it;
  ASSERT_EQ(1, X509V3_EXT_add(&raw));
  ASSERT_EQ(1, X509V3_EXT_add(&none));
  X509V3_CTX ctx = {};
  EXPECT_EQ(nullptr, X509V3_EXT_nconf_nid(nullptr, &ctx, 769, "v"));
  EXPECT_ERRORS({{ERR_LIB_X509V3, X509V3_F_DO_EXT_NCONF, X509V3_R_NO_CONFIG_DATABASE}});
  EXPECT_EQ(nullptr, X509V3_EXT_nconf_nid(nullptr, &ctx, 770, "v"));
  EXPECT_ERRORS(
      {{ERR_LIB_X509V3, X509V3_F_DO_EXT_NCONF, X509V3_R_EXTENSION_SETTING_NOT_SUPPORTED}});
  Loaded cfg;
  X509V3_set_nconf(&ctx, cfg.conf);
  X509_EXTENSION* ex = X509V3_EXT_nconf_nid(cfg.conf, &ctx, 769, "v");
  ASSERT_NE(nullptr, ex);
  EXPECT_EQ("040176", Value(ex));
  X509_EXTENSION_free(ex);
  X509V3_EXT_cleanup();
}

TEST(X509v3Conf, Context) {
  Loaded cfg;
  X509V3_CTX ctx = {};
  X509* a = X509_new();
  X509_REQ* r = X509_REQ_new();
  X509V3_set_ctx(&ctx, a, nullptr, r, nullptr, X509V3_CTX_TEST);
  EXPECT_EQ(a, ctx.issuer_cert);
  EXPECT_EQ(nullptr, ctx.subject_cert);
  EXPECT_EQ(r, ctx.subject_req);
  EXPECT_EQ(X509V3_CTX_TEST, ctx.flags);
  EXPECT_EQ(nullptr, X509V3_get_string(&ctx, "dn", "CN"));
  EXPECT_ERRORS({{ERR_LIB_X509V3, X509V3_F_X509V3_GET_STRING, X509V3_R_OPERATION_NOT_DEFINED}});
  X509V3_set_nconf(&ctx, cfg.conf);
  char* s = X509V3_get_string(&ctx, "dn", "CN");  // section first, then the name
  ASSERT_NE(nullptr, s);
  EXPECT_EQ("x", std::string(s));
  X509V3_string_free(&ctx, s);
  X509V3_string_free(&ctx, nullptr);
  X509V3_set_conf_lhash(&ctx, cfg.conf->data);
  s = X509V3_get_string(&ctx, "dn", "C");
  ASSERT_NE(nullptr, s);
  EXPECT_EQ("AU", std::string(s));
  STACK* sect = X509V3_get_section(&ctx, "alt");
  EXPECT_EQ(5, sk_num(sect));
  X509V3_section_free(&ctx, sect);
  X509_free(a);
  X509_REQ_free(r);
  ERR_clear_error();
}

X509* Issuer() {
  X509* issuer = X509_new();
  X509V3_CTX ctx = {};
  for (const auto& [name, value] :
       {std::pair{"subjectKeyIdentifier", "01:02"}, std::pair{"subjectAltName", "DNS:ca.example"}}) {
    X509_EXTENSION* ex = X509V3_EXT_nconf(nullptr, &ctx, name, value);
    X509_add_ext(issuer, ex, -1);
    X509_EXTENSION_free(ex);
  }
  return issuer;
}

std::string Nids(STACK* exts) {
  std::string out;
  for (int i = 0; i < sk_num(exts); i++) {
    auto* ex = reinterpret_cast<X509_EXTENSION*>(sk_value(exts, i));
    char buf[80];
    OBJ_obj2txt(buf, sizeof buf, ex->object, 1);
    out += std::string(buf) + (X509_EXTENSION_get_critical(ex) ? "* " : " ");
  }
  return out;
}

TEST(X509v3Conf, WholeSections) {
  Loaded cfg;
  X509* issuer = Issuer();
  X509* subject = X509_new();
  X509_NAME_add_entry_by_txt(X509_get_subject_name(subject), "emailAddress", 0x1001,
                             reinterpret_cast<const unsigned char*>("e@x"), -1, -1, 0);
  ASN1_STRING_set(subject->cert_info->key->public_key, "abc", 3);
  X509V3_CTX ctx = {};
  X509V3_set_ctx(&ctx, issuer, subject, nullptr, nullptr, 0);
  X509V3_set_nconf(&ctx, cfg.conf);
  ASSERT_EQ(1, X509V3_EXT_add_nconf(cfg.conf, &ctx, "cert_ext", subject));
  EXPECT_ERRORS({});
  STACK* exts = subject->cert_info->extensions;
  EXPECT_EQ("2.5.29.19* 2.5.29.14 2.5.29.35 2.5.29.17 2.5.29.18 2.5.29.31 1.3.6.1.5.5.7.1.1 "
            "1.3.6.1.5.5.7.1.11 2.5.29.30 2.5.29.36 2.5.29.33 1.2.3.4 1.2.3.5* ",
            Nids(exts));
  const char* want[] = {
      "30060101ff020101",
      // SHA-1 of "abc" (FIPS 180-2, appendix A.1)
      "0414a9993e364706816aba3e25717850c26c9cd0d89d",
      "3004800201" "02",
      nullptr,
      "300c820a" "63612e6578616d706c65",
  };
  for (size_t i = 0; i < sizeof want / sizeof want[0]; i++) {
    if (want[i] == nullptr) continue;
    EXPECT_EQ(want[i], Value(reinterpret_cast<X509_EXTENSION*>(sk_value(exts, static_cast<int>(i)))))
        << i;
  }
  BIO* out = BIO_new(BIO_s_mem());
  X509V3_EXT_print(out, reinterpret_cast<X509_EXTENSION*>(sk_value(exts, 3)), 0, 0);
  char* text = nullptr;
  const long n = BIO_get_mem_data(out, &text);
  EXPECT_EQ("email:e@x, DNS:a.example, DNS:b.example, DirName:/C=AU/CN=x, othername:<unsupported>",
            std::string(text, static_cast<size_t>(n)));
  BIO_free(out);

  // A failing line stops the section; the lines before it stay.
  X509* other = X509_new();
  EXPECT_EQ(0, X509V3_EXT_add_nconf(cfg.conf, &ctx, "broken", other));
  EXPECT_EQ("2.5.29.19 ", Nids(other->cert_info->extensions));
  ERR_clear_error();
  EXPECT_EQ(0, X509V3_EXT_add_nconf(cfg.conf, &ctx, "nosuch", other));
  ERR_clear_error();
  // Without a target the lines are only built.
  EXPECT_EQ(1, X509V3_EXT_add_nconf(cfg.conf, &ctx, "req_ext", nullptr));

  // A request keeps them as its extension-request attribute.
  X509_REQ* req = X509_REQ_new();
  ASSERT_EQ(1, X509V3_EXT_REQ_add_nconf(cfg.conf, &ctx, "req_ext", req));
  STACK* asked = X509_REQ_get_extensions(req);
  EXPECT_EQ("2.5.29.19 2.5.29.17 ", Nids(asked));
  sk_pop_free(asked, FreeExtension);
  X509_REQ_free(req);

  // A revocation list, through the old interface's table.
  X509_CRL* crl = X509_CRL_new();
  ASSERT_EQ(1, X509V3_EXT_CRL_add_conf(cfg.conf->data, &ctx, "crl_ext", crl));
  EXPECT_EQ("2.5.29.35 2.5.29.18 ", Nids(crl->crl->extensions));
  X509_CRL_free(crl);
  X509* old = X509_new();
  ASSERT_EQ(1, X509V3_EXT_add_conf(cfg.conf->data, &ctx, "req_ext", old));
  EXPECT_EQ("2.5.29.19 2.5.29.17 ", Nids(old->cert_info->extensions));
  req = X509_REQ_new();
  ASSERT_EQ(1, X509V3_EXT_REQ_add_conf(cfg.conf->data, &ctx, "req_ext", req));
  X509_REQ_free(req);
  X509_EXTENSION* ex = X509V3_EXT_conf(cfg.conf->data, &ctx, "subjectAltName", "@alt");
  ASSERT_NE(nullptr, ex);
  X509_EXTENSION_free(ex);
  ex = X509V3_EXT_conf_nid(cfg.conf->data, &ctx, kSubjectAltName, "DNS:x");
  ASSERT_NE(nullptr, ex);
  X509_EXTENSION_free(ex);
  EXPECT_ERRORS({});
  X509_free(old);
  X509_free(other);
  X509_free(subject);
  X509_free(issuer);
}

}  // namespace
