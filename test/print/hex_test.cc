// The hexadecimal text form of INTEGER, ENUMERATED and string values and its
// readers, and the named bits of a BIT STRING.

#include <string>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "print_util.h"
#include "scripted_stream.h"
#include "test_support.h"

namespace {

using morvane_test::Bytes;
using morvane_test::FromHex;
using morvane_test::ToHex;
using print_test::MakeString;
using print_test::MemOut;

Bytes Counting(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; i++) b[i] = static_cast<uint8_t>(i + 1);
  return b;
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return s;
}

// 36 octets: 35 on the first line (70 digits), a backslash and a newline,
// then one octet.
TEST(HexText, LongIntegerRoundTrip) {
  const Bytes value = Counting(36);
  ASN1_INTEGER* a = MakeString(ASN1_UT_INTEGER, value);
  MemOut out;
  EXPECT_EQ(74, i2a_ASN1_INTEGER(out, a));
  const std::string hex = Upper(ToHex(value));
  EXPECT_EQ(hex.substr(0, 70) + "\\\n" + hex.substr(70), out.Text());

  ASN1_INTEGER* back = ASN1_INTEGER_new();
  char buf[100];
  ASSERT_EQ(1, a2i_ASN1_INTEGER(out, back, buf, sizeof buf));
  EXPECT_EQ(ASN1_UT_INTEGER, back->type);
  EXPECT_EQ(0, ASN1_STRING_cmp(a, back));
  ASN1_INTEGER_free(a);
  ASN1_INTEGER_free(back);
}

TEST(HexText, Writers) {
  struct Case {
    int type;
    const char* content;
    const char* integer;     // i2a_ASN1_INTEGER
    const char* enumerated;  // i2a_ASN1_ENUMERATED
    const char* string;      // i2a_ASN1_STRING
  } cases[] = {
      {ASN1_UT_INTEGER, "00FF", "00FF", "00FF", "00FF"},
      {ASN1_UT_NEG_INTEGER, "01", "-01", "01", "01"},
      {ASN1_UT_NEG_ENUMERATED, "0A", "-0A", "0A", "0A"},
      {ASN1_UT_INTEGER, "", "00", "00", "0"},
      {ASN1_UT_NEG_INTEGER, "", "-00", "00", "0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.integer);
    ASN1_STRING* a = MakeString(c.type, FromHex(c.content));
    MemOut i, e, s;
    EXPECT_EQ(static_cast<int>(strlen(c.integer)), i2a_ASN1_INTEGER(i, a));
    EXPECT_EQ(static_cast<int>(strlen(c.enumerated)), i2a_ASN1_ENUMERATED(e, a));
    EXPECT_EQ(static_cast<int>(strlen(c.string)), i2a_ASN1_STRING(s, a, 0));
    EXPECT_EQ(c.integer, i.Text());
    EXPECT_EQ(c.enumerated, e.Text());
    EXPECT_EQ(c.string, s.Text());
    ASN1_STRING_free(a);
  }
  MemOut out;
  EXPECT_EQ(0, i2a_ASN1_INTEGER(out, nullptr));
  EXPECT_EQ(0, i2a_ASN1_STRING(out, nullptr, 0));
  ASN1_STRING* a = MakeString(ASN1_UT_INTEGER, Counting(3));
  EXPECT_EQ(-1, i2a_ASN1_INTEGER(nullptr, a));
  ASN1_STRING_free(a);
  ERR_clear_error();
}

enum Reader { kInteger, kEnumerated, kString };

int Read(Reader r, const std::string& input, ASN1_STRING* bs, int size = 64) {
  BIO* in = BIO_new(BIO_s_mem());
  BIO_write(in, input.data(), static_cast<int>(input.size()));
  BIO_ctrl(in, BIO_C_SET_BUF_MEM_EOF_RETURN, 0, nullptr);
  std::string buf(static_cast<size_t>(size), '\0');
  const int n = r == kInteger      ? a2i_ASN1_INTEGER(in, bs, buf.data(), size)
                : r == kEnumerated ? a2i_ASN1_ENUMERATED(in, bs, buf.data(), size)
                                   : a2i_ASN1_STRING(in, bs, buf.data(), size);
  BIO_free(in);
  return n;
}

// The readers over the same inputs: the octets read, or the reason.
TEST(HexText, Readers) {
  struct Case {
    const char* input;
    const char* integer;  // octets in hex, or "!reason"
    const char* string;
  } cases[] = {
      {"", "!150", ""},
      {"\n", "!150", "!150"},
      {"\r\n", "!150", "!150"},
      {"ABCD\n", "abcd", "abcd"},
      {"abcd\r\n", "abcd", "abcd"},
      {"00ABCD\n", "abcd", "00abcd"},
      {"00\n", "", "00"},
      {"ABC\n", "!145", "!145"},
      {"A\n", "!150", "!150"},
      {"ABCD yz\n", "abcd", "!141"},
      {"ABCDz\n", "abcd", "abcd"},
      {"g000\n", "!150", "!141"},
      {"0102\\\n0304\n", "01020304", "01020304"},
      {"0102\\\n0304\\\n", "!150", "!150"},
      {"0102\\\n\n", "!150", "!150"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    for (Reader r : {kInteger, kString}) {
      const std::string want = r == kInteger ? c.integer : c.string;
      ASN1_STRING* bs = MakeString(ASN1_UT_OCTET_STRING, FromHex("EE"));
      const int n = Read(r, c.input, bs);
      if (want[0] == '!') {
        EXPECT_EQ(0, n);
        const int func = r == kInteger ? ASN1_F_A2I_ASN1_INTEGER : ASN1_F_A2I_ASN1_STRING;
        EXPECT_ERRORS({{ERR_LIB_ASN1, func, std::stoi(want.substr(1))}});
        EXPECT_EQ("ee", ToHex(bs->data, static_cast<size_t>(bs->length)));
      } else {
        EXPECT_EQ(1, n);
        EXPECT_EQ(want, ToHex(bs->data, static_cast<size_t>(bs->length)));
        EXPECT_ERRORS({});
      }
      EXPECT_EQ(r == kInteger ? ASN1_UT_INTEGER : ASN1_UT_OCTET_STRING, bs->type);
      ASN1_STRING_free(bs);
    }
  }
}

TEST(HexText, EnumeratedReader) {
  ASN1_STRING* bs = ASN1_STRING_new();
  EXPECT_EQ(1, Read(kEnumerated, "000A\n", bs));
  EXPECT_EQ(ASN1_UT_ENUMERATED, bs->type);
  EXPECT_EQ("0a", ToHex(bs->data, static_cast<size_t>(bs->length)));
  EXPECT_EQ(0, Read(kEnumerated, "0A0\n", bs));
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_A2I_ASN1_ENUMERATED, ASN1_R_ODD_NUMBER_OF_CHARS}});
  ASN1_STRING_free(bs);
}

// A read that fails is no end of the value, not even of an empty one.
TEST(HexText, FailedReadsFailTheReaders) {
  for (int k : {1, 2}) {
    for (Reader r : {kInteger, kString}) {
      SCOPED_TRACE(testing::Message() << k << " " << r);
      BIO* in =
          morvane_test::NewScriptedSource("0102\\\n0304\n", morvane_test::ScriptStep::FailAt(k));
      ASN1_STRING* bs = ASN1_STRING_new();
      char buf[64];
      EXPECT_EQ(0, r == kInteger ? a2i_ASN1_INTEGER(in, bs, buf, sizeof buf)
                                 : a2i_ASN1_STRING(in, bs, buf, sizeof buf));
      const int func = r == kInteger ? ASN1_F_A2I_ASN1_INTEGER : ASN1_F_A2I_ASN1_STRING;
      EXPECT_ERRORS({{ERR_LIB_ASN1, func, ERR_R_BIO_LIB}});
      ASN1_STRING_free(bs);
      BIO_free(in);
    }
  }
}

// A line longer than the buffer is no shorter value: it fails, with a
// reason.
TEST(HexText, ShortBuffer) {
  ASN1_STRING* bs = ASN1_STRING_new();
  EXPECT_EQ(0, Read(kInteger, "0102\n", bs, 3));
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_A2I_ASN1_INTEGER, ASN1_R_TOO_LONG}});
  EXPECT_EQ("", ToHex(bs->data, static_cast<size_t>(bs->length)));
  ASN1_STRING_free(bs);
}

BIT_STRING_BITNAME kBits[] = {
    {0, "Digital Signature", "digitalSignature"},
    {1, "Non Repudiation", "nonRepudiation"},
    {5, "Certificate Sign", "keyCertSign"},
    {-1, nullptr, nullptr},
};

TEST(BitNames, PrintAndSet) {
  ASN1_BIT_STRING* bs = ASN1_BIT_STRING_new();
  char sig[] = "digitalSignature", cert[] = "Certificate Sign", none[] = "crlSign";
  EXPECT_EQ(0, ASN1_BIT_STRING_num_asc(sig, kBits));
  EXPECT_EQ(5, ASN1_BIT_STRING_num_asc(cert, kBits));
  EXPECT_EQ(-1, ASN1_BIT_STRING_num_asc(none, kBits));
  EXPECT_EQ(1, ASN1_BIT_STRING_set_asc(bs, sig, 1, kBits));
  EXPECT_EQ(1, ASN1_BIT_STRING_set_asc(bs, cert, 1, kBits));
  EXPECT_EQ(0, ASN1_BIT_STRING_set_asc(bs, none, 1, kBits));
  EXPECT_EQ(1, ASN1_BIT_STRING_set_asc(nullptr, sig, 1, kBits));
  MemOut out;
  EXPECT_EQ(1, ASN1_BIT_STRING_name_print(out, bs, kBits, 4));
  EXPECT_EQ(1, ASN1_BIT_STRING_set_asc(bs, sig, 0, kBits));
  EXPECT_EQ(1, ASN1_BIT_STRING_name_print(out, bs, kBits, 0));
  EXPECT_EQ("    Digital Signature, Certificate Sign\nCertificate Sign\n", out.Text());
  ASN1_BIT_STRING_free(bs);
}

}  // namespace
