// The plain string printer and the time printers over the cases of
// test/data/print/times.txt.

#include <string>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/err.h>

#include "print_util.h"
#include "scripted_stream.h"
#include "test_support.h"

namespace {

using print_test::MakeString;
using print_test::MemOut;

TEST(TimePrint, Table) {
  for (const auto& r : print_test::Rows("times.txt", "TIME")) {
    SCOPED_TRACE(r[0]);
    const int type = std::stoi(r[1]), result = std::stoi(r[4]);
    ASN1_STRING* t = MakeString(type, morvane_test::Bytes(r[2].begin(), r[2].end()));
    MemOut out;
    EXPECT_EQ(result, ASN1_TIME_print(out, t));
    EXPECT_EQ(r[3], out.Text());
    if (type == ASN1_UT_UTCTIME || type == ASN1_UT_GENERALIZEDTIME) {
      MemOut typed;
      EXPECT_EQ(result, type == ASN1_UT_UTCTIME ? ASN1_UTCTIME_print(typed, t)
                                                : ASN1_GENERALIZEDTIME_print(typed, t));
      EXPECT_EQ(r[3], typed.Text());
    }
    ASN1_STRING_free(t);
  }
  MemOut out;
  EXPECT_EQ(0, ASN1_TIME_print(out, nullptr));
  EXPECT_EQ("Bad time value", out.Text());
  EXPECT_ERRORS({});
}

// 200 octets go out in pieces of 80, 80 and 40, with control octets (but
// newline and carriage return) and those from 0x7F up as '.'.
TEST(StringPrint, PlainInPieces) {
  morvane_test::Bytes v(200);
  std::string want(200, ' ');
  for (size_t i = 0; i < v.size(); i++) {
    v[i] = static_cast<uint8_t>('a' + i % 26);
    want[i] = static_cast<char>(v[i]);
  }
  for (size_t i : {0, 79, 80, 199}) v[i] = 0x00, want[i] = '.';
  v[5] = 0xE9, want[5] = '.';
  v[6] = 0x7F, want[6] = '.';
  v[7] = 0x1F, want[7] = '.';
  v[8] = '\n', want[8] = '\n';
  v[9] = '\r', want[9] = '\r';
  ASN1_STRING* s = MakeString(ASN1_UT_OCTET_STRING, v);
  BIO* b = morvane_test::NewScriptedStream();
  EXPECT_EQ(1, ASN1_STRING_print(b, s));
  EXPECT_EQ(want, morvane_test::Script(b).output);
  EXPECT_EQ(3, morvane_test::Script(b).writes);
  BIO_free(b);

  b = morvane_test::NewScriptedStream();
  morvane_test::Script(b).write_script = {morvane_test::ScriptStep::Move(0),
                                          morvane_test::ScriptStep::Fail()};
  EXPECT_EQ(0, ASN1_STRING_print(b, s));
  BIO_free(b);
  EXPECT_EQ(0, ASN1_STRING_print(nullptr, nullptr));
  ASN1_STRING_free(s);
}

}  // namespace
