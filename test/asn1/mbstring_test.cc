// Multibyte conversion, the UTF-8 codec, the PrintableString classifier and
// the narrowing of UniversalStrings, over the cases of
// test/data/asn1/mbstring.txt; size limits, results beyond INT_MAX and
// failed allocations.

#include <stdlib.h>
#include <sys/mman.h>

#include <string>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "test_support.h"

namespace {

using morvane_test::Bytes;
using morvane_test::FromHex;
using morvane_test::ToHex;

constexpr int kF = ASN1_F_ASN1_MBSTRING_NCOPY;

std::vector<std::vector<std::string>> Rows(const char* section) {
  return morvane_test::ReadTableRows(morvane_test::TestDataFile("asn1/mbstring.txt"), section);
}

int Form(const std::string& f) {
  if (f == "ascii") return ASN1_MB_ASCII;
  if (f == "utf8") return ASN1_MB_UTF8;
  if (f == "bmp") return ASN1_MB_BMP;
  if (f == "univ") return ASN1_MB_UNIV;
  return atoi(f.c_str());
}

std::string Hex(const std::string& h) {
  return ToHex(FromHex(h));
}

TEST(Asn1Mbstring, Conversions) {
  for (const auto& r : Rows("CONVERT")) {
    SCOPED_TRACE(r[0]);
    const Bytes in = FromHex(r[1]);
    const int len = static_cast<int>(in.size()), type = atoi(r[4].c_str());
    const unsigned long mask = strtoul(r[3].c_str(), nullptr, 16);
    // Without an output only the type is chosen.
    EXPECT_EQ(type, ASN1_mbstring_copy(nullptr, in.data(), len, Form(r[2]), mask));
    ERR_clear_error();
    ASN1_STRING* out = nullptr;
    ASSERT_EQ(type, ASN1_mbstring_copy(&out, in.data(), len, Form(r[2]), mask));
    if (type < 0) {
      EXPECT_EQ(nullptr, out);
      EXPECT_ERRORS({{ERR_LIB_ASN1, kF, atoi(r[5].c_str())}});
      continue;
    }
    EXPECT_EQ(type, out->type);
    EXPECT_EQ(Hex(r[5]), ToHex(out->data, out->length));
    EXPECT_EQ(0, out->data[out->length]);
    ASN1_STRING_free(out);
  }
  EXPECT_ERRORS({});
}

// A string passed in is emptied, retyped and refilled, and left alone when
// the conversion is refused.
TEST(Asn1Mbstring, ReusesTheCallersString) {
  ASN1_STRING* s = ASN1_STRING_type_new(ASN1_UT_OCTET_STRING);
  ASN1_STRING* const was = s;
  const unsigned char text[] = "plain text";
  ASSERT_EQ(19, ASN1_mbstring_copy(&s, text, -1, ASN1_MB_ASCII, 0));
  EXPECT_EQ(was, s);
  EXPECT_EQ("plain text", std::string(reinterpret_cast<char*>(s->data), s->length));
  EXPECT_EQ(-1, ASN1_mbstring_copy(&s, text, 3, ASN1_MB_BMP, 0));
  EXPECT_EQ(was, s);
  EXPECT_EQ(19, s->type);
  ERR_clear_error();
  ASN1_STRING_free(s);
}

TEST(Asn1Mbstring, SizeLimitsCountCharacters) {
  const unsigned char euro[] = "\xE2\x82\xAC";  // one character, three octets
  ASN1_STRING* out = nullptr;
  EXPECT_EQ(-1, ASN1_mbstring_ncopy(&out, euro, 3, ASN1_MB_UTF8, 0, 2, 0));
  EXPECT_ERRORS({{ERR_LIB_ASN1, kF, ASN1_R_STRING_TOO_SHORT, "minsize=2"}});
  EXPECT_EQ(-1, ASN1_mbstring_ncopy(&out, euro, -1, ASN1_MB_ASCII, 0, 0, 2));
  EXPECT_ERRORS({{ERR_LIB_ASN1, kF, ASN1_R_STRING_TOO_LONG, "maxsize=2"}});
  EXPECT_EQ(nullptr, out);
  EXPECT_EQ(30, ASN1_mbstring_ncopy(nullptr, euro, 3, ASN1_MB_UTF8, 0, 1, 1));
  EXPECT_EQ(30, ASN1_mbstring_ncopy(nullptr, euro, 3, ASN1_MB_UTF8, 0, -5, -5));
  // A negative length other than -1, or missing text, is refused.
  EXPECT_EQ(-1, ASN1_mbstring_copy(nullptr, euro, -2, ASN1_MB_ASCII, 0));
  EXPECT_EQ(-1, ASN1_mbstring_copy(nullptr, nullptr, 3, ASN1_MB_ASCII, 0));
  EXPECT_ERRORS({{ERR_LIB_ASN1, kF, ASN1_R_LENGTH_ERROR}, {ERR_LIB_ASN1, kF, ASN1_R_LENGTH_ERROR}});
}

// 2^29 one-octet characters widen to 2^31 octets of UniversalString, one
// more than an int holds: refused before anything is allocated.  The input is
// a zero-filled mapping that costs no memory.
TEST(Asn1Mbstring, ResultBeyondIntMaxIsRefused) {
  const size_t n = size_t{1} << 29;
  void* zeros = mmap(nullptr, n, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(MAP_FAILED, zeros);
  const auto* in = static_cast<const unsigned char*>(zeros);
  ASN1_STRING* out = nullptr;
  EXPECT_EQ(-1, ASN1_mbstring_copy(&out, in, static_cast<int>(n), ASN1_MB_ASCII, 0x0100));
  EXPECT_EQ(nullptr, out);
  EXPECT_ERRORS({{ERR_LIB_ASN1, kF, ASN1_R_STRING_TOO_LONG}});
  EXPECT_EQ(28, ASN1_mbstring_copy(nullptr, in, static_cast<int>(n), ASN1_MB_ASCII, 0x0100));
  munmap(zeros, n);
}

// A failed allocation frees the string the call made and clears *out.
TEST(Asn1Mbstring, AllocationFailureLeavesNothing) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  const unsigned char text[] = "\xE2\x82\xAC";
  for (long n = 1; n <= 2; n++) {
    ASN1_STRING* out = nullptr;
    morvane_test::FailAllocationAfter(n);
    EXPECT_EQ(-1, ASN1_mbstring_copy(&out, text, 3, ASN1_MB_UTF8, 0));
    morvane_test::FailAllocationAfter(0);
    EXPECT_EQ(nullptr, out);
    ERR_clear_error();
  }
}

TEST(Asn1Utf8, Getc) {
  for (const auto& r : Rows("UTF8_GETC")) {
    SCOPED_TRACE(r[0]);
    const Bytes in = FromHex(r[1]);
    const int len = r[2] == "-" ? static_cast<int>(in.size()) : atoi(r[2].c_str());
    unsigned long v = 0xDEAD;
    EXPECT_EQ(atoi(r[3].c_str()), UTF8_getc(in.data(), len, &v));
    EXPECT_EQ(r[4].empty() ? 0xDEAD : strtoul(r[4].c_str(), nullptr, 16), v);
  }
}

// Each value is written only into room enough for it, and reads back.
TEST(Asn1Utf8, PutcRoundTrips) {
  for (const auto& r : Rows("UTF8_PUTC")) {
    SCOPED_TRACE(r[0]);
    const unsigned long value = strtoul(r[1].c_str(), nullptr, 16);
    const int n = static_cast<int>(r[2].size() / 2);
    unsigned char buf[8] = {};
    EXPECT_EQ(n, UTF8_putc(nullptr, 0, value));
    EXPECT_EQ(-1, UTF8_putc(buf, n - 1, value));
    EXPECT_EQ(0, buf[0]);
    ASSERT_EQ(n, UTF8_putc(buf, n, value));
    EXPECT_EQ(Hex(r[2]), ToHex(buf, n));
    unsigned long back = 0;
    EXPECT_EQ(n, UTF8_getc(buf, n, &back));
    EXPECT_EQ(value, back);
  }
}

TEST(Asn1Printable, TypeOfText) {
  for (const auto& r : Rows("PRINTABLE_TYPE")) {
    SCOPED_TRACE(r[0]);
    const auto* s = reinterpret_cast<const unsigned char*>(r[1].c_str());
    EXPECT_EQ(atoi(r[3].c_str()), ASN1_PRINTABLE_type(s, atoi(r[2].c_str())));
  }
  EXPECT_EQ(19, ASN1_PRINTABLE_type(nullptr, 5));
}

TEST(Asn1Printable, UniversalStringNarrows) {
  for (const auto& r : Rows("UNIVERSAL")) {
    SCOPED_TRACE(r[0]);
    ASN1_STRING* s = ASN1_STRING_type_new(atoi(r[1].c_str()));
    const Bytes b = FromHex(r[2]);
    ASSERT_EQ(1, ASN1_STRING_set(s, b.empty() ? static_cast<const void*>("") : b.data(),
                                 static_cast<int>(b.size())));
    EXPECT_EQ(atoi(r[3].c_str()), ASN1_UNIVERSALSTRING_to_string(s));
    EXPECT_EQ(atoi(r[4].c_str()), s->type);
    EXPECT_EQ(Hex(r[5]), ToHex(s->data, s->length));
    EXPECT_EQ(0, s->data[s->length]);
    ASN1_STRING_free(s);
  }
}

}  // namespace
