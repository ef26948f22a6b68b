// Reading configuration values as booleans, integers and hexadecimal text,
// and the configuration database of the builders' context.

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/conf.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/stack.h>
#include <morvane/x509v3.h>

#include <cstring>
#include <vector>

#include "test_support.h"

namespace {

TEST(X509v3Bool, WordsAndTheirValues) {
  char section[] = "sect", name[] = "flag";
  for (const char* word :
       {"TRUE", "true", "Y", "y", "YES", "yes", "FALSE", "false", "N", "n", "NO", "no"}) {
    CONF_VALUE v = {section, name, const_cast<char*>(word)};
    int b = -1;
    EXPECT_EQ(X509V3_get_value_bool(&v, &b), 1) << word;
    EXPECT_EQ(b, strchr("TtYy", word[0]) != nullptr ? 255 : 0) << word;
  }
  EXPECT_ERRORS({});
}

TEST(X509v3Bool, OtherTextsAreRefusedWithTheirPlace) {
  char section[] = "sect", name[] = "flag", value[] = "Yes";
  CONF_VALUE v = {section, name, value};
  int b = -1;
  EXPECT_EQ(X509V3_get_value_bool(&v, &b), 0);
  EXPECT_EQ(b, -1);
  EXPECT_ERRORS({{ERR_LIB_X509V3, X509V3_F_X509V3_GET_VALUE_BOOL, X509V3_R_INVALID_BOOLEAN_STRING,
                  "section:sect,name:flag,value:Yes"}});
  CONF_VALUE none = {section, name, nullptr};
  EXPECT_EQ(X509V3_get_value_bool(&none, &b), 0);
  ERR_clear_error();
}

TEST(X509v3Hex, PairsToBytes) {
  struct Case {
    const char* text;
    const char* hex;  // null: refused with `reason`
    int reason;
  };
  const Case cases[] = {
      {"0a:FF", "0aff", 0},
      {"0aff", "0aff", 0},
      {":0a::ff:", "0aff", 0},
      {"::", "", 0},
      {"0A:ff:1", nullptr, X509V3_R_ODD_NUMBER_OF_DIGITS},
      {"0G", nullptr, X509V3_R_ILLEGAL_HEX_DIGIT},
      {"0:A0", nullptr, X509V3_R_ILLEGAL_HEX_DIGIT},
      {"1", nullptr, ERR_R_MALLOC_FAILURE},  // too short for one byte
      {"", nullptr, ERR_R_MALLOC_FAILURE},
  };
  for (const Case& c : cases) {
    long len = -1;
    unsigned char* out = string_to_hex(c.text, &len);
    if (c.hex != nullptr) {
      ASSERT_NE(nullptr, out) << c.text;
      EXPECT_EQ(c.hex, morvane_test::ToHex(out, static_cast<size_t>(len))) << c.text;
      EXPECT_ERRORS({});
    } else {
      EXPECT_EQ(nullptr, out) << c.text;
      EXPECT_ERRORS({{ERR_LIB_X509V3, X509V3_F_STRING_TO_HEX, c.reason}});
    }
    MORVANE_free(out);
  }
  unsigned char* out = string_to_hex("0102", nullptr);
  EXPECT_EQ("0102", morvane_test::ToHex(out, 2));
  MORVANE_free(out);
  EXPECT_EQ(nullptr, string_to_hex(nullptr, nullptr));
  EXPECT_ERRORS({{ERR_LIB_X509V3, X509V3_F_STRING_TO_HEX, X509V3_R_INVALID_NULL_ARGUMENT}});
}

TEST(X509v3Integer, TextToInteger) {
  struct Case {
    const char* text;
    const char* der;  // null: refused with "bn dec2bn error"
  };
  // X.690, 8.3: two's complement in the fewest octets.
  const Case cases[] = {
      {"-0x10", "0201f0"},   {"12345", "02023039"}, {"0X7f", "02017f"},
      {"-0", "020100"},      {"-128", "020180"},    {"0x", nullptr},
      {"12a", nullptr},      {"", nullptr},         {"0x1g", nullptr},
      {" 1", nullptr},
  };
  for (const Case& c : cases) {
    ASN1_INTEGER* a = s2i_ASN1_INTEGER(nullptr, c.text);
    if (c.der == nullptr) {
      EXPECT_EQ(nullptr, a) << c.text;
      EXPECT_ERRORS({{ERR_LIB_X509V3, X509V3_F_S2I_ASN1_INTEGER, X509V3_R_BN_DEC2BN_ERROR}});
      continue;
    }
    ASSERT_NE(nullptr, a) << c.text;
    unsigned char* der = nullptr;
    const int n = i2d_ASN1_INTEGER(a, &der);
    EXPECT_EQ(c.der, morvane_test::ToHex(der, n > 0 ? n : 0)) << c.text;
    MORVANE_free(der);
    ASN1_INTEGER_free(a);
  }
  EXPECT_EQ(nullptr, s2i_ASN1_INTEGER(nullptr, nullptr));
  EXPECT_ERRORS({{ERR_LIB_X509V3, X509V3_F_S2I_ASN1_INTEGER, X509V3_R_INVALID_NULL_VALUE}});
}

TEST(X509v3Context, SectionsOfAConfiguration) {
  const char text[] = "[s]\na = 1\nb = 2\n";
  CONF* conf = NCONF_new(nullptr);
  BIO* in = BIO_new_mem_buf(const_cast<char*>(text), -1);
  ASSERT_EQ(1, NCONF_load_bio(conf, in, nullptr));
  BIO_free(in);
  X509V3_CTX ctx = {};
  ctx.flags = 1;
  X509V3_set_nconf(&ctx, conf);
  EXPECT_EQ(1, ctx.flags);
  EXPECT_EQ(conf, ctx.db);
  STACK* s = X509V3_get_section(&ctx, "s");
  ASSERT_EQ(2, sk_num(s));
  EXPECT_STREQ("b", reinterpret_cast<CONF_VALUE*>(sk_value(s, 1))->name);
  X509V3_section_free(&ctx, s);  // the configuration's own: nothing is freed
  EXPECT_EQ(nullptr, X509V3_get_section(&ctx, "none"));
  EXPECT_ERRORS({});
  EXPECT_STREQ("2", ctx.db_meth->get_string(ctx.db, "s", "b"));
  NCONF_free(conf);

  X509V3_CTX empty = {};
  EXPECT_EQ(nullptr, X509V3_get_section(&empty, "s"));
  EXPECT_ERRORS({{ERR_LIB_X509V3, X509V3_F_X509V3_GET_SECTION, X509V3_R_OPERATION_NOT_DEFINED}});
  X509V3_section_free(&empty, nullptr);
}

}  // namespace
