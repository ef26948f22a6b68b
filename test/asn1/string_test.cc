// ASN1_STRING: setting contents (terminator, growth, buffers handed over with
// set0, overlapping sources, limits, allocation failure), duplication,
// ordering; and the library's texts.

#include <limits.h>
#include <string.h>

#include <string>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "test_support.h"

namespace {

std::string Contents(const ASN1_STRING* s) {
  return std::string(reinterpret_cast<const char*>(s->data), s->length);
}

TEST(Asn1String, SetTerminatesAndGrowsKeepingContents) {
  ASN1_STRING* s = ASN1_STRING_new();
  ASSERT_NE(nullptr, s);
  EXPECT_EQ(0, ASN1_STRING_set(s, nullptr, -1));  // no text to measure
  ASSERT_EQ(1, ASN1_STRING_set(s, "ab", -1));
  EXPECT_EQ("ab", Contents(s));
  EXPECT_EQ(0, s->data[2]);
  // Null data sizes the buffer (len + 1 octets) and keeps what was there.
  ASSERT_EQ(1, ASN1_STRING_set(s, nullptr, 40));
  EXPECT_EQ(40, s->length);
  EXPECT_EQ(0, memcmp(s->data, "ab", 2));
  s->data[40] = 'z';  // the reserved octet is writable (ASan checks)
  ASSERT_EQ(1, ASN1_STRING_set(s, "xyz", 3));  // shrinking
  EXPECT_EQ("xyz", Contents(s));
  EXPECT_EQ(0, s->data[3]);
  ASN1_STRING_free(s);
  ASN1_STRING_free(nullptr);
}

// A buffer handed over with set0 holds exactly `length` octets: setting the
// same length again must not write the terminator past it.
// A buffer handed over with set0 holds exactly `length` octets: setting the
// same length again must not write the terminator past it.  A source inside
// the string's own buffer survives the reallocation.
TEST(Asn1String, SetAfterSet0AndFromItsOwnContents) {
  ASN1_STRING* s = ASN1_STRING_type_new(ASN1_UT_IA5STRING);
  auto* buf = static_cast<unsigned char*>(CRYPTO_malloc(5, __FILE__, __LINE__));
  memcpy(buf, "abcde", 5);
  ASN1_STRING_set0(s, buf, 5);
  ASSERT_EQ(1, ASN1_STRING_set(s, "hello", 5));
  EXPECT_EQ("hello", Contents(s));
  EXPECT_EQ(0, s->data[5]);
  ASSERT_EQ(1, ASN1_STRING_set(s, s->data, s->length));
  ASSERT_EQ(1, ASN1_STRING_set(s, s->data + 1, 4));
  EXPECT_EQ("ello", Contents(s));
  ASN1_STRING_free(s);
}

TEST(Asn1String, FailuresKeepTheOldContents) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  ASN1_STRING* s = ASN1_STRING_new();
  ASSERT_EQ(1, ASN1_STRING_set(s, "keep", 4));
  EXPECT_EQ(0, ASN1_STRING_set(s, nullptr, INT_MAX));  // no room for the terminator
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_ASN1_STRING_SET, ASN1_R_STRING_TOO_LONG}});
  morvane_test::FailAllocationAfter(1);
  EXPECT_EQ(0, ASN1_STRING_set(s, "longer text", -1));
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_ASN1_STRING_SET, ERR_R_MALLOC_FAILURE}});
  EXPECT_EQ("keep", Contents(s));
  ASN1_STRING_free(s);
}

TEST(Asn1String, DupCopiesTypeFlagsAndContents) {
  ASN1_STRING* s = ASN1_STRING_type_new(ASN1_UT_BIT_STRING);
  ASSERT_EQ(1, ASN1_STRING_set(s, "\x0A\x00", 2));
  s->flags = ASN1_STRING_BITS_LEFT | 3;
  ASN1_STRING* d = ASN1_STRING_dup(s);
  ASSERT_NE(nullptr, d);
  EXPECT_NE(s->data, d->data);
  EXPECT_EQ(0, ASN1_STRING_cmp(s, d));
  EXPECT_EQ(s->flags, d->flags);
  ASN1_STRING_free(s);
  ASN1_STRING_free(d);
  EXPECT_EQ(nullptr, ASN1_STRING_dup(nullptr));
}

TEST(Asn1String, CompareByLengthThenContentsThenType) {
  struct Side {
    const char* text;
    int type;
  };
  struct {
    Side a, b;
    int sign;
  } const cases[] = {
      {{"z", 4}, {"ab", 4}, -1},   // shorter first, whatever the contents
      {{"ab", 4}, {"ac", 4}, -1},
      {{"ab", 22}, {"ab", 4}, 1},  // equal contents: by type code
      {{"ab", 4}, {"ab", 4}, 0},
      {{"", 4}, {"", 12}, -1},
  };
  for (const auto& c : cases) {
    ASN1_STRING* a = ASN1_STRING_type_new(c.a.type);
    ASN1_STRING* b = ASN1_STRING_type_new(c.b.type);
    if (*c.a.text) ASN1_STRING_set(a, c.a.text, -1);
    if (*c.b.text) ASN1_STRING_set(b, c.b.text, -1);
    const int r = ASN1_STRING_cmp(a, b);
    EXPECT_EQ(c.sign, (r > 0) - (r < 0)) << c.a.text << " vs " << c.b.text;
    ASN1_STRING_free(a);
    ASN1_STRING_free(b);
  }
}

TEST(Asn1Library, Texts) {
  ERR_load_ASN1_strings();
  EXPECT_STREQ("unkown format",
               ERR_reason_error_string(ERR_PACK(ERR_LIB_ASN1, 0, ASN1_R_UNKOWN_FORMAT)));
}

}  // namespace
