// Strings and names printed under flags, over the cases of
// test/data/print/strings.txt and names.txt: escapes, quotes, widths, UTF-8
// conversion, dumps, separators and field names; counting without a stream,
// the FILE forms, failed writes; and the conversion to UTF-8.

#include <stdio.h>

#include <map>
#include <string>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

#include "print_util.h"
#include "scripted_stream.h"
#include "test_support.h"

namespace {

using morvane_test::Bytes;
using morvane_test::FromHex;
using print_test::Flags;
using print_test::MakeString;
using print_test::MemOut;
using print_test::Rows;
using print_test::ThroughFile;

TEST(StringPrint, Table) {
  for (const auto& r : Rows("strings.txt", "STRING")) {
    SCOPED_TRACE(r[0]);
    ASN1_STRING* s = MakeString(std::stoi(r[1]), FromHex(r[2]));
    const unsigned long flags = Flags(r[3]);
    const int result = std::stoi(r[5]);
    MemOut out;
    EXPECT_EQ(result, ASN1_STRING_print_ex(out, s, flags));
    if (result >= 0) {
      EXPECT_EQ(r[4], out.Text());
      EXPECT_EQ(result, static_cast<int>(out.Text().size()));
    }
    // Counting alone, and the FILE form.
    EXPECT_EQ(result, ASN1_STRING_print_ex(nullptr, s, flags));
    int fr;
    const std::string file =
        ThroughFile([&](FILE* fp) { return ASN1_STRING_print_ex_fp(fp, s, flags); }, &fr);
    EXPECT_EQ(result, fr);
    if (result >= 0) {
      EXPECT_EQ(r[4], file);
    }
    ASN1_STRING_free(s);
  }
  EXPECT_ERRORS({});
}

TEST(StringPrint, NullStringAndFailedWrites) {
  EXPECT_EQ(-1, ASN1_STRING_print_ex(nullptr, nullptr, 0));
  ASN1_STRING* s = MakeString(ASN1_UT_PRINTABLESTRING, {' ', 'a', ',', 'b'});
  // The opening quote, a character and the closing quote each fail once.
  for (int fail_at : {0, 1, 4}) {
    SCOPED_TRACE(fail_at);
    BIO* b = morvane_test::NewScriptedStream();
    auto& script = morvane_test::Script(b);
    for (int i = 0; i < fail_at; i++)
      script.write_script.push_back(morvane_test::ScriptStep::Move(0));
    script.write_script.push_back(morvane_test::ScriptStep::Fail());
    EXPECT_EQ(-1, ASN1_STRING_print_ex(b, s, ASN1_PF_ESC_2253 | ASN1_PF_ESC_QUOTE));
    BIO_free(b);
  }
  ASN1_STRING_free(s);
}

std::map<std::string, Bytes> NameDer() {
  std::map<std::string, Bytes> der;
  for (const auto& r : Rows("names.txt", "DER")) der[r[0]] = FromHex(r[1]);
  return der;
}

X509_NAME* Decode(const Bytes& der) {
  const unsigned char* p = der.data();
  X509_NAME* n = d2i_X509_NAME(nullptr, &p, static_cast<long>(der.size()));
  EXPECT_NE(nullptr, n);
  return n;
}

TEST(NamePrint, Table) {
  const auto der = NameDer();
  for (const auto& r : Rows("names.txt", "NAME")) {
    SCOPED_TRACE(r[0]);
    X509_NAME* name = Decode(der.at(r[1]));
    const int indent = std::stoi(r[2]);
    const unsigned long flags = Flags(r[3]);
    const int result = std::stoi(r[5]);
    MemOut out;
    EXPECT_EQ(result, X509_NAME_print_ex(out, name, indent, flags));
    if (result >= 0) {
      EXPECT_EQ(r[4], out.Text());
    }
    EXPECT_EQ(result, X509_NAME_print_ex(nullptr, name, indent, flags));
    int fr;
    const std::string file =
        ThroughFile([&](FILE* fp) { return X509_NAME_print_ex_fp(fp, name, indent, flags); }, &fr);
    EXPECT_EQ(result, fr);
    if (result >= 0) {
      EXPECT_EQ(r[4], file);
    }
    X509_NAME_free(name);
  }
  EXPECT_EQ(-1, X509_NAME_print_ex(nullptr, nullptr, 0, NAME_PF_SEP_CPLUS_SPC));
  EXPECT_ERRORS({});
}

// A value the string printer refuses (an odd-length BMPString) fails the
// whole name.
TEST(NamePrint, MalformedValue) {
  X509_NAME* name = Decode(FromHex("300F 310D 300B 060355040A 1E0400E90041"));
  X509_NAME_ENTRY* e = reinterpret_cast<X509_NAME_ENTRY*>(sk_value(name->entries, 0));
  e->value->length = 3;
  MemOut out;
  EXPECT_EQ(-1, X509_NAME_print_ex(out, name, 0, NAME_PF_SEP_CPLUS_SPC));
  e->value->length = 4;
  EXPECT_EQ(6, X509_NAME_print_ex(out, name, 0, NAME_PF_SEP_CPLUS_SPC | ASN1_PF_ESC_MSB));
  EXPECT_EQ("O=\\E9A", out.Text().substr(out.Text().size() - 6));
  X509_NAME_free(name);
}

TEST(StringToUtf8, Widths) {
  struct Case {
    int type;
    const char* content;
    const char* utf8;  // null: refused
  } cases[] = {
      {ASN1_UT_BMPSTRING, "4E2D0041", "e4b8ad41"},
      {ASN1_UT_UNIVERSALSTRING, "0001F600", "f09f9880"},
      {ASN1_UT_T61STRING, "E9", "c3a9"},
      {ASN1_UT_UTF8STRING, "C3A9", "c3a9"},
      {ASN1_UT_PRINTABLESTRING, "", ""},
      {ASN1_UT_BMPSTRING, "00E900", nullptr},
      {ASN1_UT_OCTET_STRING, "41", nullptr},
      {ASN1_UT_NEG_INTEGER, "01", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content);
    ASN1_STRING* s = MakeString(c.type, FromHex(c.content));
    unsigned char* out = nullptr;
    const int n = ASN1_STRING_to_UTF8(&out, s);
    if (c.utf8 == nullptr) {
      EXPECT_LT(n, 0);
      EXPECT_EQ(nullptr, out);
    } else {
      ASSERT_EQ(static_cast<int>(FromHex(c.utf8).size()), n);
      EXPECT_EQ(c.utf8, morvane_test::ToHex(out, static_cast<size_t>(n)));
      EXPECT_EQ(0, out[n]);
    }
    MORVANE_free(out);
    ASN1_STRING_free(s);
  }
  ERR_clear_error();
  unsigned char* out = nullptr;
  EXPECT_EQ(-1, ASN1_STRING_to_UTF8(&out, nullptr));
}

}  // namespace
