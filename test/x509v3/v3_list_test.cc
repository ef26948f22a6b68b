// Name/value lists and their text forms, name comparison and IP address text.

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/conf.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include <climits>
#include <string>
#include <utility>

#include "test_support.h"

namespace {

void FreeValue(void* v) {
  X509V3_conf_free(static_cast<CONF_VALUE*>(v));
}

// The pairs as "name=value;" ("-" for a missing part).
std::string Pairs(STACK* list) {
  std::string out;
  for (int i = 0; i < sk_num(list); i++) {
    auto* v = reinterpret_cast<CONF_VALUE*>(sk_value(list, i));
    out += v->name != nullptr ? v->name : "-";
    out += "=";
    out += v->value != nullptr ? v->value : "-";
    out += ";";
  }
  return out;
}

TEST(X509v3ParseList, PairsAndFailures) {
  struct Case {
    const char* line;
    const char* pairs;  // null: refused with `reason`
    int reason;
  };
  const Case cases[] = {
      {"DNS:a.b, DNS:c.d ,critical", "DNS=a.b;DNS=c.d;critical=-;", 0},
      {"URI:x:y", "URI=x:y;", 0},
      {"a   ,b", "a=-;b=-;", 0},
      {" k : v \t", "k=v;", 0},
      {"a,b\nc,d", "a=-;b=-;", 0},
      {"a:1,b:2\r", "a=1;b=2;", 0},
      {"a,", nullptr, X509V3_R_INVALID_NULL_NAME},
      {",a", nullptr, X509V3_R_INVALID_NULL_NAME},
      {"  :v", nullptr, X509V3_R_INVALID_NULL_NAME},
      {"", nullptr, X509V3_R_INVALID_NULL_NAME},
      {"a:", nullptr, X509V3_R_INVALID_NULL_VALUE},
      {"a: ,b", nullptr, X509V3_R_INVALID_NULL_VALUE},
      {"x,a:1,b:", nullptr, X509V3_R_INVALID_NULL_VALUE},  // the partial list is freed
  };
  for (const Case& c : cases) {
    STACK* list = X509V3_parse_list(c.line);
    if (c.pairs != nullptr) {
      EXPECT_EQ(c.pairs, Pairs(list)) << c.line;
      EXPECT_ERRORS({});
    } else {
      EXPECT_EQ(nullptr, list) << c.line;
      EXPECT_ERRORS({{ERR_LIB_X509V3, X509V3_F_X509V3_PARSE_LIST, c.reason}});
    }
    sk_pop_free(list, FreeValue);
  }
  EXPECT_EQ(nullptr, X509V3_parse_list(nullptr));
  ERR_clear_error();
}

TEST(X509v3Values, AddingPairs) {
  STACK* list = nullptr;
  ASN1_INTEGER* n = s2i_ASN1_INTEGER(nullptr, "-300");
  EXPECT_EQ(1, X509V3_add_value("a", nullptr, &list));
  EXPECT_EQ(1, X509V3_add_value(nullptr, "b", &list));
  EXPECT_EQ(1, X509V3_add_value_uchar("c", reinterpret_cast<const unsigned char*>("d"), &list));
  EXPECT_EQ(1, X509V3_add_value_bool("t", 7, &list));
  EXPECT_EQ(1, X509V3_add_value_bool("f", 0, &list));
  EXPECT_EQ(1, X509V3_add_value_bool_nf("t", 1, &list));
  EXPECT_EQ(1, X509V3_add_value_bool_nf("none", 0, &list));
  EXPECT_EQ(1, X509V3_add_value_int("n", n, &list));
  EXPECT_EQ(1, X509V3_add_value_int("none", nullptr, &list));
  EXPECT_EQ("a=-;-=b;c=d;t=TRUE;f=FALSE;t=TRUE;n=-300;", Pairs(list));
  EXPECT_EQ(nullptr, reinterpret_cast<CONF_VALUE*>(sk_value(list, 0))->section);
  sk_pop_free(list, FreeValue);
  ASN1_INTEGER_free(n);
  X509V3_conf_free(nullptr);
  EXPECT_ERRORS({});
}

TEST(X509v3Values, IntegerTexts) {
  for (const char* text : {"0", "-16", "123456789012345678901234567890", "-1"}) {
    ASN1_INTEGER* a = s2i_ASN1_INTEGER(nullptr, text);
    char* back = i2s_ASN1_INTEGER(nullptr, a);
    EXPECT_STREQ(text, back);
    MORVANE_free(back);
    ASN1_INTEGER_free(a);
  }
  EXPECT_EQ(nullptr, i2s_ASN1_INTEGER(nullptr, nullptr));
  EXPECT_EQ(nullptr, i2s_ASN1_ENUMERATED(nullptr, nullptr));
  EXPECT_ERRORS({});
}

TEST(X509v3Values, IntegerValueWithItsPlace) {
  char section[] = "sect", name[] = "n", good[] = "0x10", bad[] = "1x";
  CONF_VALUE v = {section, name, good};
  ASN1_INTEGER* a = nullptr;
  ASSERT_EQ(1, X509V3_get_value_int(&v, &a));
  EXPECT_EQ(16, ASN1_INTEGER_get(a));
  ASN1_INTEGER_free(a);
  a = nullptr;
  v.value = bad;
  EXPECT_EQ(0, X509V3_get_value_int(&v, &a));
  EXPECT_EQ(nullptr, a);
  EXPECT_ERRORS({{ERR_LIB_X509V3, X509V3_F_S2I_ASN1_INTEGER, X509V3_R_BN_DEC2BN_ERROR,
                  "section:sect,name:n,value:1x"}});
}

TEST(X509v3Hex, BytesToText) {
  const unsigned char bytes[] = {0x00, 0x0a, 0xff};
  struct Case {
    long len;
    const char* text;
  };
  for (const Case& c : {Case{1, "00"}, Case{3, "00:0A:FF"}, Case{0, nullptr}, Case{-1, nullptr}}) {
    char* text = hex_to_string(bytes, c.len);
    if (c.text == nullptr)
      EXPECT_EQ(nullptr, text);
    else
      EXPECT_STREQ(c.text, text);
    MORVANE_free(text);
  }
  EXPECT_EQ(nullptr, hex_to_string(nullptr, 3));
  EXPECT_ERRORS({});
}

// Three characters a byte must still fit an int: a length past that is
// refused before the buffer is read (once, 3 * len overflowed an int).
TEST(X509v3Hex, TextTooLongForAnIntIsRefused) {
  const unsigned char byte = 0;
  for (long len : {static_cast<long>(INT_MAX / 3 + 1), static_cast<long>(INT_MAX), LONG_MAX}) {
    EXPECT_EQ(nullptr, hex_to_string(&byte, len)) << len;
    EXPECT_ERRORS({{ERR_LIB_X509V3, X509V3_F_HEX_TO_STRING, ERR_R_MALLOC_FAILURE}});
  }
}

TEST(X509v3Names, NameCompare) {
  EXPECT_EQ(0, name_cmp("email", "email"));
  EXPECT_EQ(0, name_cmp("email.2", "email"));
  EXPECT_EQ(1, name_cmp("emailx", "email"));
  EXPECT_LT(name_cmp("emai", "email"), 0);
  EXPECT_GT(name_cmp("fmail", "email"), 0);
}

std::string Address(const char* text) {
  ASN1_OCTET_STRING* s = a2i_IPADDRESS(text);
  if (s == nullptr) return "-";
  std::string hex = morvane_test::ToHex(s->data, static_cast<size_t>(s->length));
  ASN1_OCTET_STRING_free(s);
  return hex;
}

TEST(X509v3Ip, AddressTexts) {
  struct Case {
    const char* text;
    const char* hex;  // "-": refused
  };
  const Case cases[] = {
      {"1.2.3.4", "01020304"},
      {"255.0.10.255", "ff000aff"},
      {"001.02.3.4", "01020304"},
      {"1.2.3.4 and more", "01020304"},
      {"1.2.3.256", "-"},
      {"1.2.3", "-"},
      {"1..3.4", "-"},
      {"-1.2.3.4", "-"},
      {"1.2.3.0004", "-"},
      // A long digit string once overflowed an int in sscanf's "%d" (and
      // 4294967297 wrapped to 1 on common systems).
      {"1.2.3.4294967297", "-"},
      {"1.2.3.99999999999999999999999999", "-"},
      {"::", "00000000000000000000000000000000"},
      {"1::", "00010000000000000000000000000000"},
      {"::1", "00000000000000000000000000000001"},
      {"1:2:3:4:5:6:7:8", "00010002000300040005000600070008"},
      {"fe80::aB:1", "fe800000000000000000000000ab0001"},
      {"::ffff:1.2.3.4", "00000000000000000000ffff01020304"},
      {"1:2:3:4:5:6:1.2.3.4", "00010002000300040005000601020304"},
      {"1::2::3", "-"},
      {":::", "-"},
      {"1:2:3:4:5:6:7:8::", "-"},
      {"::1:2:3:4:5:6:7:8", "-"},
      {"1:2:3:4:5:6:7", "-"},
      {"1:2:3:4:5:6:7:8:9", "-"},
      {":1", "-"},
      {"1:", "-"},
      {"12345::", "-"},
      {"g::", "-"},
      {"1.2.3.4::", "-"},
      {"1:2:3:4:5:6:7:1.2.3.4", "-"},
      {"", "-"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.hex, Address(c.text)) << c.text;
  EXPECT_EQ("-", Address(nullptr));
  EXPECT_ERRORS({});
}

TEST(X509v3Ip, AddressAndMask) {
  struct Case {
    const char* text;
    const char* hex;  // null: refused
  };
  const Case cases[] = {
      {"10.0.0.0/255.0.0.0", "0a000000ff000000"},
      {"fe80::/ffff::", "fe800000000000000000000000000000ffff0000000000000000000000000000"},
      {"10.0.0.0/ffff::", nullptr},
      {"::/255.0.0.0", nullptr},
      {"10.0.0.0", nullptr},
      {"10.0.0.0/", nullptr},
      {"/255.0.0.0", nullptr},
  };
  for (const Case& c : cases) {
    ASN1_OCTET_STRING* s = a2i_IPADDRESS_NC(c.text);
    if (c.hex == nullptr) {
      EXPECT_EQ(nullptr, s) << c.text;
    } else {
      ASSERT_NE(nullptr, s) << c.text;
      EXPECT_EQ(c.hex, morvane_test::ToHex(s->data, static_cast<size_t>(s->length))) << c.text;
    }
    ASN1_OCTET_STRING_free(s);
  }
  EXPECT_EQ(nullptr, a2i_IPADDRESS_NC(nullptr));
  unsigned char ip[16];
  EXPECT_EQ(4, a2i_ipadd(ip, "9.8.7.6"));
  EXPECT_EQ(16, a2i_ipadd(ip, "::"));
  EXPECT_EQ(0, a2i_ipadd(ip, "9.8.7"));
  EXPECT_ERRORS({});
}

}  // namespace

namespace {

TEST(X509v3Names, FromASection) {
  STACK* section = nullptr;
  X509V3_add_value("C", "US", &section);
  X509V3_add_value("1.OU", "Unit A", &section);
  X509V3_add_value("+2.OU", "Unit B", &section);  // joins the previous RDN
  // Nothing after '.': the whole name, which names no field and stops here.
  X509V3_add_value("CN.", "Trust", &section);
  X509V3_add_value("CN", "Never", &section);
  X509_NAME* name = X509_NAME_new();
  EXPECT_EQ(0, X509V3_NAME_from_section(name, section, ASN1_MB_ASCII));
  EXPECT_EQ(3, X509_NAME_entry_count(name));
  char* text = X509_NAME_oneline(name, nullptr, 0);
  EXPECT_STREQ("/C=US/OU=Unit A/OU=Unit B", text);
  MORVANE_free(text);
  ERR_clear_error();
  EXPECT_EQ(0, X509V3_NAME_from_section(nullptr, section, ASN1_MB_ASCII));
  X509_NAME_free(name);
  sk_pop_free(section, FreeValue);
}

TEST(X509v3Names, SubjectEmailAddresses) {
  X509* cert = X509_new();
  X509_NAME* subject = X509_get_subject_name(cert);
  EXPECT_EQ(nullptr, X509_get1_email(cert));
  const struct {
    int type;
    const char* text;
  } entries[] = {{ASN1_UT_IA5STRING, "b@x"},
                 {ASN1_UT_IA5STRING, "a@x"},
                 {ASN1_UT_UTF8STRING, "u@x"},  // not an IA5String: skipped
                 {ASN1_UT_IA5STRING, "b@x"}};
  for (const auto& e : entries)
    ASSERT_EQ(1, X509_NAME_add_entry_by_NID(subject, 48, e.type,
                                            reinterpret_cast<const unsigned char*>(e.text),
                                            -1, -1, 0));
  ASSERT_EQ(1, X509_NAME_add_entry_by_NID(subject, 13, ASN1_MB_ASCII,
                                          reinterpret_cast<const unsigned char*>("c@x"), -1,
                                          -1, 0));  // a description, not an address
  STACK* emails = X509_get1_email(cert);
  ASSERT_EQ(2, sk_num(emails));
  std::string got[2] = {sk_value(emails, 0), sk_value(emails, 1)};
  if (got[0] > got[1]) std::swap(got[0], got[1]);  // a set: order is not kept
  EXPECT_EQ("a@x", got[0]);
  EXPECT_EQ("b@x", got[1]);
  X509_email_free(emails);
  X509_email_free(nullptr);
  X509_free(cert);
  EXPECT_ERRORS({});
}

}  // namespace
