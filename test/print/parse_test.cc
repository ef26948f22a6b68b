// The DER dump printer over the cases of test/data/print/dumps.txt, the
// nesting limit, failed writes and the type names.

#include <string>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/err.h>

#include "print_util.h"
#include "scripted_stream.h"
#include "test_support.h"

namespace {

using morvane_test::Bytes;
using morvane_test::FromHex;
using print_test::MemOut;

TEST(DerDump, Table) {
  for (const auto& r : print_test::Rows("dumps.txt", "DUMP")) {
    SCOPED_TRACE(r[0]);
    const Bytes der = FromHex(r[1]);
    const int indent = std::stoi(r[2]), dump = std::stoi(r[3]), result = std::stoi(r[4]);
    MemOut out;
    EXPECT_EQ(result,
              ASN1_parse_dump(out, der.data(), static_cast<long>(der.size()), indent, dump));
    EXPECT_EQ(r[5], out.Text());
    if (dump == 0) {
      MemOut plain;
      EXPECT_EQ(result, ASN1_parse(plain, der.data(), static_cast<long>(der.size()), indent));
      EXPECT_EQ(r[5], plain.Text());
    }
    ERR_clear_error();
  }
}

// n SEQUENCEs, each holding the next, around an empty one.
Bytes Nested(int n) {
  Bytes der = {0x30, 0x00};
  for (int i = 1; i < n; i++) {
    Bytes outer = {0x30};
    if (der.size() < 128) {
      outer.push_back(static_cast<uint8_t>(der.size()));
    } else {
      outer.push_back(0x82);
      outer.push_back(static_cast<uint8_t>(der.size() >> 8));
      outer.push_back(static_cast<uint8_t>(der.size()));
    }
    outer.insert(outer.end(), der.begin(), der.end());
    der = outer;
  }
  return der;
}

// Depths 0 to 127 print; an element at depth 128 stops the walk.
TEST(DerDump, NestingLimit) {
  for (int n : {128, 129, 5000}) {
    SCOPED_TRACE(n);
    const Bytes der = Nested(n);
    MemOut out;
    const int r = ASN1_parse(out, der.data(), static_cast<long>(der.size()), 1);
    const std::string text = out.Text();
    if (n <= 128) {
      EXPECT_EQ(1, r);
      EXPECT_EQ(std::string::npos, text.find("Error"));
      EXPECT_NE(std::string::npos, text.find("d=127"));
    } else {
      EXPECT_EQ(0, r);
      EXPECT_EQ(std::string::npos, text.find("d=128"));
      const std::string tail = "Error in encoding\n";
      EXPECT_EQ(tail, text.substr(text.size() - tail.size()));
    }
  }
}

TEST(DerDump, FailedWrite) {
  const Bytes der = FromHex("3003020105");
  for (int fail_at = 0; fail_at < 8; fail_at++) {
    BIO* b = morvane_test::NewScriptedStream();
    auto& script = morvane_test::Script(b);
    for (int i = 0; i < fail_at; i++)
      script.write_script.push_back(morvane_test::ScriptStep::Move(0));
    script.write_script.push_back(morvane_test::ScriptStep::Fail());
    EXPECT_EQ(0, ASN1_parse(b, der.data(), static_cast<long>(der.size()), 0)) << fail_at;
    BIO_free(b);
  }
  EXPECT_EQ(0, ASN1_parse(nullptr, der.data(), static_cast<long>(der.size()), 0));
  ERR_clear_error();
}

TEST(DerDump, TypeNames) {
  EXPECT_STREQ("INTEGER", ASN1_tag2str(258));
  EXPECT_STREQ("ENUMERATED", ASN1_tag2str(266));
  EXPECT_STREQ("EOC", ASN1_tag2str(0));
  EXPECT_STREQ("<ASN1 11>", ASN1_tag2str(11));
  EXPECT_STREQ("BMPSTRING", ASN1_tag2str(30));
  EXPECT_STREQ("<ASN1 29>", ASN1_tag2str(29));
  EXPECT_STREQ("(unknown)", ASN1_tag2str(31));
  EXPECT_STREQ("(unknown)", ASN1_tag2str(-1));
  EXPECT_STREQ("(unknown)", ASN1_tag2str(257));
}

}  // namespace
