// The one-line text of a distinguished name: labels, escaped bytes, UCS-4
// GeneralString text, and the caller's buffer that holds only whole entries.

#include <string>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

#include "der_util.h"
#include "test_support.h"

namespace {

using morvane_test::FromHex;

struct Case {
  const char* name;  // DER of the Name, or null for a null name
  int room;          // the caller's buffer size, or 0 for a new text
  const char* want;
};

const Case kCases[] = {
    {"301d310c300a060355040a0c034f7267310d300b06035504030c044e616d65", 0, "/O=Org/CN=Name"},
    {"300e310c300a06035504030c03610a62", 0, "/CN=a\\x0Ab"},
    {"300c310a300806032a03040c0178", 0, "/1.2.3.4=x"},  // no short name: dotted
    {"3000", 0, ""},
    {"3000", 1, ""},
    {nullptr, 0, "NO X509_NAME"},
    {nullptr, 5, "NO X"},
    // 14 characters do not fit 10 bytes: nothing does.
    {"30153113301106035504030c0a6162636465666768696a", 10, ""},
    // Only the whole first entry fits.
    {"3022310b3009060355040313026162311330110603550403130a6162636465666768696a", 20, "/CN=ab"},
    {"3022310b3009060355040313026162311330110603550403130a6162636465666768696a", 21,
     "/CN=ab/CN=abcdefghij"},
};

TEST(X509NameOneline, Texts) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.name ? c.name : "(null)") + " in " + std::to_string(c.room));
    X509_NAME* name = c.name ? x509_test::Decode(d2i_X509_NAME, FromHex(c.name)) : nullptr;
    if (c.name != nullptr) {
      ASSERT_NE(nullptr, name);
    }
    if (c.room == 0) {
      char* text = X509_NAME_oneline(name, nullptr, 0);
      ASSERT_NE(nullptr, text);
      EXPECT_STREQ(c.want, text);
      MORVANE_free(text);
    } else {
      std::string buf(c.room, '#');
      ASSERT_EQ(&buf[0], X509_NAME_oneline(name, &buf[0], c.room));
      EXPECT_STREQ(c.want, buf.c_str());
    }
    X509_NAME_free(name);
  }
}

TEST(X509NameOneline, CallerBufferWithoutRoom) {
  char buf[4] = "abc";
  EXPECT_EQ(nullptr, X509_NAME_oneline(nullptr, buf, 0));
  EXPECT_EQ(nullptr, X509_NAME_oneline(nullptr, buf, -1));
  EXPECT_STREQ("abc", buf);
}

// A GeneralString of 4-byte units whose first three bytes are zero is UCS-4
// text with ASCII content: only every fourth byte is printed.
TEST(X509NameOneline, Ucs4GeneralString) {
  struct {
    const char* value;
    const char* want;
  } const cases[] = {
      {"0000004100000042", "/CN=AB"},
      {"0000004101000042", "/CN=\\x00\\x00\\x00A\\x01\\x00\\x00B"},
      {"000041", "/CN=\\x00\\x00A"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    X509_NAME* name = x509_test::Decode(d2i_X509_NAME, FromHex("300e310c300a06035504030c03610a62"));
    ASSERT_NE(nullptr, name);
    auto* entry = reinterpret_cast<X509_NAME_ENTRY*>(sk_value(name->entries, 0));
    const morvane_test::Bytes v = FromHex(c.value);
    ASSERT_EQ(1, ASN1_STRING_set(entry->value, v.data(), static_cast<int>(v.size())));
    entry->value->type = ASN1_UT_GENERALSTRING;
    char* text = X509_NAME_oneline(name, nullptr, 0);
    EXPECT_STREQ(c.want, text);
    MORVANE_free(text);
    X509_NAME_free(name);
  }
}

}  // namespace
