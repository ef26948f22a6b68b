// Identifier-and-length headers (X.690, 8.1.2 and 8.1.3): the reader as a
// table of octets and results, the writer and sizer as a table of headers
// with round trips at the tag and length boundaries, end-of-contents checks
// and the legacy parse context.

#include <limits.h>
#include <stdint.h>

#include <string>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/err.h>

#include "test_support.h"

namespace {

using morvane_test::Bytes;
using morvane_test::FromHex;

constexpr int kTooLong = ASN1_R_TOO_LONG;
constexpr int kHeader = ASN1_R_HEADER_TOO_LONG;

struct ReadCase {
  const char* octets;
  long omax;     // -2: the size of `octets`
  int ret;       // result bits
  int tag;       // for results without "header too long"
  int xclass;
  long length;
  int consumed;  // octets the position moved
  int reason;    // the one error queued, or 0
};

// Tags and lengths that read back as written are in kWrites below.
// clang-format off
const ReadCase kReads[] = {
    {"3080",             -2, 0x21, 16, 0x00, 0, 2, 0},  // constructed, indefinite
    {"0480",             -2, 0x01,  4, 0x00, 0, 2, 0},  // primitive, indefinite: no error
    {"A003020100",       -2, 0x20,  0, 0x80, 3, 2, 0},
    {"C100",             -2, 0x00,  1, 0xC0, 0, 2, 0},
    {"1FFFFFFF7F00",     -2, 0x00, 0x0FFFFFFF, 0, 0, 6, 0},  // largest tag read
    {"1FFFFFFFFF7F00",   -2, 0x80, 0, 0, 0, 0, kHeader},    // tag past 0xFFFFFF early
    {"048100",           -2, 0x00,  4, 0x00, 0, 3, 0},  // long form at the very end
    {"04847FFFFFFF",     -2, 0x80,  4, 0x00, 0x7FFFFFFF, 6, kTooLong},
    {"048480000000",     -2, 0x80, 0, 0, 0, 0, kHeader},    // above 0x7FFFFFFF
    {"04850000000001",   -2, 0x80, 0, 0, 0, 0, kHeader},    // five length octets
    {"04050102",         -2, 0x80,  4, 0x00, 5, 2, kTooLong},  // past the input
    {"048201",           -2, 0x80, 0, 0, 0, 0, kHeader},    // length octets cut
    {"",                  0, 0x80, 0, 0, 0, 0, kHeader},    // empty input
    {"0400",             -1, 0x80, 0, 0, 0, 0, kHeader},    // negative count
    {"30",               -2, 0x80, 0, 0, 0, 0, kHeader},    // no length octet
    {"1F",               -2, 0x80, 0, 0, 0, 0, kHeader},
    {"1F81",             -2, 0x80, 0, 0, 0, 0, kHeader},    // tag cut
    {"1F1F",             -2, 0x80, 0, 0, 0, 0, kHeader},    // no length after the tag
};
// clang-format on

TEST(Asn1Header, ReadTable) {
  for (const ReadCase& c : kReads) {
    SCOPED_TRACE(c.octets);
    const Bytes in = FromHex(c.octets);
    const unsigned char* p = in.data();
    long length = -7;
    int tag = -7, xclass = -7;
    const int ret = ASN1_get_object(&p, &length, &tag, &xclass,
                                    c.omax == -2 ? static_cast<long>(in.size()) : c.omax);
    EXPECT_EQ(c.ret, ret);
    EXPECT_EQ(c.consumed, p - in.data());
    if (c.reason == kHeader) {
      EXPECT_EQ(-7, length);  // nothing reported
    } else {
      EXPECT_EQ(c.tag, tag);
      EXPECT_EQ(c.xclass, xclass);
      EXPECT_EQ(c.length, length);
    }
    if (c.reason != 0)
      EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_ASN1_GET_OBJECT, c.reason}});
    else
      EXPECT_ERRORS({});
  }
}

struct WriteCase {
  int constructed;
  int length;
  int tag;
  int xclass;
  const char* header;
};

// clang-format off
const WriteCase kWrites[] = {
    {0, 0, 4, 0x00, "0400"},
    {1, 3, 16, 0x00, "3003"},
    {2, 0, 16, 0x00, "3080"},
    {1, 0, 0, 0x80, "A000"},
    {0, 127, 4, 0x00, "047F"},
    {0, 128, 4, 0x00, "048180"},
    {0, 255, 4, 0x00, "0481FF"},
    {0, 256, 4, 0x00, "04820100"},
    {0, 65536, 4, 0x00, "0483010000"},
    {0, 0x7FFFFFFF, 4, 0x00, "04847FFFFFFF"},
    {0, 0, 30, 0x40, "5E00"},
    {0, 0, 31, 0x00, "1F1F00"},
    {0, 0, 127, 0x00, "1F7F00"},
    {0, 0, 128, 0x00, "1F810000"},
    {0, 0, 16383, 0xC0, "DFFF7F00"},
    {1, 5, 16384, 0x80, "BF81800005"},
    {2, 0, 31, 0x80, "BF1F80"},
};
// clang-format on

TEST(Asn1Header, WriteSizeAndReadBack) {
  for (const WriteCase& c : kWrites) {
    SCOPED_TRACE(c.header);
    const Bytes want = FromHex(c.header);
    const int eoc = c.constructed == 2 ? 2 : 0;
    const long total = static_cast<long>(want.size()) + c.length + eoc;
    EXPECT_EQ(total > INT_MAX ? -1 : total, ASN1_object_size(c.constructed, c.length, c.tag));
    unsigned char buf[16];
    unsigned char* out = buf;
    ASN1_put_object(&out, c.constructed, c.length, c.tag, c.xclass);
    EXPECT_EQ(want, Bytes(buf, out));
    // The reader only looks at the header; the count covers the content.
    const unsigned char* in = buf;
    long length = -1;
    int tag = -1, xclass = -1;
    const int ret = ASN1_get_object(&in, &length, &tag, &xclass,
                                    static_cast<long>(want.size()) + c.length);
    EXPECT_EQ(c.constructed == 0 ? 0 : c.constructed == 2 ? 0x21 : 0x20, ret);
    EXPECT_EQ(out, in);
    EXPECT_TRUE(c.tag == tag && c.xclass == xclass && c.length == length);
  }
  EXPECT_ERRORS({});
}

TEST(Asn1Header, ObjectSize) {
  EXPECT_EQ(14, ASN1_object_size(2, 10, 4));
  EXPECT_EQ(203, ASN1_object_size(0, 200, 2));
  EXPECT_EQ(8, ASN1_object_size(0, 5, 31));
  EXPECT_EQ(-1, ASN1_object_size(0, -1, 4));
  EXPECT_EQ(-1, ASN1_object_size(0, INT_MAX - 5, 4));  // the total passes INT_MAX
  EXPECT_EQ(INT_MAX, ASN1_object_size(0, INT_MAX - 6, 4));
}

TEST(Asn1Header, EndOfContents) {
  struct {
    const char* octets;
    long len;
    int ret;
    int moved;
  } const cases[] = {
      {"", 0, 1, 0}, {"0000", -1, 1, 0}, {"00", 1, 0, 0},
      {"0000", 2, 1, 2}, {"0001", 2, 0, 0}, {"000005", 3, 1, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.octets);
    Bytes in = FromHex(c.octets);
    in.push_back(0xEE);  // never a valid position to stop at
    const unsigned char* cp = in.data();
    unsigned char* p = in.data();
    EXPECT_EQ(c.ret, ASN1_const_check_infinite_end(&cp, c.len));
    EXPECT_EQ(c.ret, ASN1_check_infinite_end(&p, c.len));
    EXPECT_EQ(c.moved, cp - in.data());
    EXPECT_EQ(c.moved, p - in.data());
  }
  unsigned char buf[2] = {0xFF, 0xFF};
  unsigned char* out = buf;
  EXPECT_EQ(2, ASN1_put_eoc(&out));
  EXPECT_EQ(0, buf[0] | buf[1]);
}

// The legacy parse context: open a sequence, consume its content as the
// legacy decoders do (position forward, slen down), close it.
struct SeqCase {
  const char* octets;
  int consume;  // content octets the caller reads before closing
  int get_ok;
  int finish_ok;
  int error;  // c.error after the failing step
};

// clang-format off
const SeqCase kSequences[] = {
    {"3003020100",         3, 1, 1, 0},
    {"3080020100" "0000",  3, 1, 1, 0},  // indefinite: EOC read by the close
    {"3080020100" "0102",  3, 1, 0, ERR_R_MISSING_ASN1_EOS},
    {"3003020100",         2, 1, 0, ERR_R_ASN1_LENGTH_MISMATCH},
    {"0403020100",         0, 0, 0, ERR_R_EXPECTING_AN_ASN1_SEQUENCE},
    {"3005020100",         0, 0, 0, ERR_R_BAD_GET_ASN1_OBJECT_CALL},
    {"",                   0, 0, 0, ERR_R_BAD_GET_ASN1_OBJECT_CALL},
};
// clang-format on

TEST(Asn1ParseContext, SequenceTable) {
  for (const SeqCase& s : kSequences) {
    SCOPED_TRACE(s.octets);
    const Bytes in = FromHex(s.octets);
    ASN1_const_CTX c = {};
    c.p = in.data();
    c.max = in.data() + in.size();
    long length = static_cast<long>(in.size());
    ASSERT_EQ(s.get_ok, asn1_GetSequence(&c, &length));
    ERR_clear_error();
    if (s.get_ok) {
      EXPECT_EQ(static_cast<long>(in.size()) - 2, length);
      EXPECT_EQ(length, c.slen);  // also for the indefinite form
      c.p += s.consume;
      c.slen -= s.consume;
      EXPECT_EQ(s.finish_ok, asn1_const_Finish(&c));
      if (s.finish_ok) {
        EXPECT_EQ(in.data() + in.size(), c.p);
      }
    }
    if (!s.finish_ok) {
      EXPECT_EQ(s.error, c.error);
    }
  }
}

TEST(Asn1ParseContext, AddErrorPrintsWholeAddress) {
  // The highest address has 20 decimal digits.
  const auto* addr = reinterpret_cast<const unsigned char*>(UINTPTR_MAX);
  ERR_put_error(ERR_LIB_ASN1, ASN1_F_D2I_ASN1_SET, ERR_R_NESTED_ASN1_ERROR, "f", 1);
  asn1_add_error(addr, -12);
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_D2I_ASN1_SET, ERR_R_NESTED_ASN1_ERROR,
                  "address=18446744073709551615 offset=-12"}});
}

}  // namespace
