// Attribute records, the attribute-list parser and the record comparisons.

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/bn.h>
#include <morvane/err.h>
#include <morvane/store.h>
#include <morvane/x509.h>

#include "test_support.h"

namespace {

MORVANE_ITEM Item(int code, const char* text) {
  return {code, const_cast<char*>(text), text ? strlen(text) : 0, nullptr};
}
MORVANE_ITEM Item(int code, void* value, size_t size = 0) {
  return {code, value, size, nullptr};
}
MORVANE_ITEM End() {
  return {STORE_ATTR_END, nullptr, 0, nullptr};
}
MORVANE_ITEM Or() {
  return {STORE_ATTR_OR, nullptr, 0, nullptr};
}

// A record with the given codes set (strings "v", SHA-1 strings of 20
// octets).
STORE_ATTR_INFO* Record(const std::vector<int>& codes) {
  static unsigned char sha[20] = {1};
  STORE_ATTR_INFO* a = STORE_ATTR_INFO_new();
  for (int code : codes) {
    const auto c = static_cast<STORE_ATTR_TYPES>(code);
    if (code == 1 || code == 10 || code == 11)
      EXPECT_EQ(STORE_ATTR_INFO_set_cstr(a, c, const_cast<char*>("v"), 1), 1);
    else
      EXPECT_EQ(STORE_ATTR_INFO_set_sha1str(a, c, sha, sizeof sha), 1);
  }
  return a;
}

TEST(StoreParse, OnlyEnd) {
  MORVANE_ITEM list[] = {End()};
  void* h = STORE_parse_attrs_start(list);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(STORE_parse_attrs_next(h), nullptr);
  EXPECT_EQ(STORE_parse_attrs_endp(h), 1);
  EXPECT_EQ(STORE_parse_attrs_end(h), 1);
  EXPECT_ERRORS({});
}

TEST(StoreParse, TwoGroups) {
  MORVANE_ITEM list[] = {Item(STORE_ATTR_FRIENDLYNAME, "x"), Or(), Item(STORE_ATTR_EMAIL, "y"),
                         End()};
  void* h = STORE_parse_attrs_start(list);
  STORE_ATTR_INFO* first = STORE_parse_attrs_next(h);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(STORE_parse_attrs_endp(h), 0);
  STORE_ATTR_INFO* second = STORE_parse_attrs_next(h);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(STORE_parse_attrs_endp(h), 1);  // the handle stands on END
  EXPECT_STREQ(STORE_ATTR_INFO_get0_cstr(first, STORE_ATTR_FRIENDLYNAME), "x");
  EXPECT_STREQ(STORE_ATTR_INFO_get0_cstr(second, STORE_ATTR_EMAIL), "y");
  EXPECT_EQ(STORE_parse_attrs_next(h), nullptr);
  STORE_ATTR_INFO_free(first);
  STORE_ATTR_INFO_free(second);
  STORE_parse_attrs_end(h);
  EXPECT_ERRORS({});
}

TEST(StoreParse, RepeatedCodes) {
  BIGNUM* one = BN_new();
  BIGNUM* two = BN_new();
  BN_set_word(one, 1);
  BN_set_word(two, 2);
  MORVANE_ITEM list[] = {Item(STORE_ATTR_FRIENDLYNAME, "first"),
                         Item(STORE_ATTR_SERIAL, one),
                         Item(99, "?"),  // unknown: skipped
                         Item(STORE_ATTR_FRIENDLYNAME, "second"),
                         Item(STORE_ATTR_SERIAL, two),
                         End()};
  void* h = STORE_parse_attrs_start(list);
  STORE_ATTR_INFO* a = STORE_parse_attrs_next(h);
  ASSERT_NE(a, nullptr);
  // A string keeps its first value, a number its last.
  EXPECT_STREQ(STORE_ATTR_INFO_get0_cstr(a, STORE_ATTR_FRIENDLYNAME), "first");
  EXPECT_EQ(BN_get_word(STORE_ATTR_INFO_get0_number(a, STORE_ATTR_SERIAL)), 2u);
  EXPECT_ERRORS({{ERR_LIB_STORE, STORE_F_STORE_ATTR_INFO_SET_CSTR, STORE_R_ALREADY_HAS_A_VALUE}});
  STORE_ATTR_INFO_free(a);
  STORE_parse_attrs_end(h);
  BN_free(one);
  BN_free(two);
}

TEST(StoreParse, NullArguments) {
  EXPECT_EQ(STORE_parse_attrs_start(nullptr), nullptr);
  EXPECT_EQ(STORE_parse_attrs_next(nullptr), nullptr);
  EXPECT_EQ(STORE_parse_attrs_endp(nullptr), 0);
  EXPECT_EQ(STORE_parse_attrs_end(nullptr), 0);
  EXPECT_ERRORS({{ERR_LIB_STORE, STORE_F_STORE_PARSE_ATTRS_START, ERR_R_PASSED_NULL_PARAMETER},
                 {ERR_LIB_STORE, STORE_F_STORE_PARSE_ATTRS_NEXT, ERR_R_PASSED_NULL_PARAMETER},
                 {ERR_LIB_STORE, STORE_F_STORE_PARSE_ATTRS_ENDP, ERR_R_PASSED_NULL_PARAMETER},
                 {ERR_LIB_STORE, STORE_F_STORE_PARSE_ATTRS_END, ERR_R_PASSED_NULL_PARAMETER}});
}

TEST(StoreAttrs, SetGetModify) {
  STORE_ATTR_INFO* a = STORE_ATTR_INFO_new();
  EXPECT_EQ(STORE_ATTR_INFO_get0_cstr(a, STORE_ATTR_EMAIL), nullptr);
  EXPECT_ERRORS({{ERR_LIB_STORE, STORE_F_STORE_ATTR_INFO_GET0_CSTR, STORE_R_NO_VALUE}});
  char mail[] = "a@example.org";
  EXPECT_EQ(STORE_ATTR_INFO_set_cstr(a, STORE_ATTR_EMAIL, mail, 1), 1);
  EXPECT_STREQ(STORE_ATTR_INFO_get0_cstr(a, STORE_ATTR_EMAIL), "a");  // a copy of the size given
  EXPECT_NE(STORE_ATTR_INFO_get0_cstr(a, STORE_ATTR_EMAIL), mail);
  EXPECT_EQ(STORE_ATTR_INFO_set_cstr(a, STORE_ATTR_EMAIL, mail, strlen(mail)), 0);
  EXPECT_ERRORS({{ERR_LIB_STORE, STORE_F_STORE_ATTR_INFO_SET_CSTR, STORE_R_ALREADY_HAS_A_VALUE}});
  EXPECT_EQ(STORE_ATTR_INFO_modify_cstr(a, STORE_ATTR_EMAIL, mail, strlen(mail)), 1);
  EXPECT_STREQ(STORE_ATTR_INFO_get0_cstr(a, STORE_ATTR_EMAIL), mail);

  unsigned char id[20] = {7};
  EXPECT_EQ(STORE_ATTR_INFO_modify_sha1str(a, STORE_ATTR_KEYID, id, sizeof id), 1);
  EXPECT_EQ(memcmp(STORE_ATTR_INFO_get0_sha1str(a, STORE_ATTR_KEYID), id, sizeof id), 0);
  EXPECT_EQ(STORE_ATTR_INFO_get0_dn(a, STORE_ATTR_ISSUER), nullptr);
  EXPECT_EQ(STORE_ATTR_INFO_get0_number(a, STORE_ATTR_SERIAL), nullptr);
  EXPECT_ERRORS({{ERR_LIB_STORE, STORE_F_STORE_ATTR_INFO_GET0_DN, STORE_R_NO_VALUE},
                 {ERR_LIB_STORE, STORE_F_STORE_ATTR_INFO_GET0_NUMBER, STORE_R_NO_VALUE}});
  EXPECT_EQ(STORE_ATTR_INFO_free(a), 1);
  EXPECT_EQ(STORE_ATTR_INFO_free(nullptr), 1);
}

// A code outside 1 to 11, or of another kind than the call's, would write
// past the record or be released as the wrong kind of value: refused.
TEST(StoreAttrs, CodesOfAnotherKindAreRefused) {
  STORE_ATTR_INFO* a = STORE_ATTR_INFO_new();
  char text[] = "t";
  struct {
    int code;
  } const cases[] = {{0}, {12}, {STORE_ATTR_OR}, {-1}, {STORE_ATTR_ISSUER}, {STORE_ATTR_KEYID}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(STORE_ATTR_INFO_set_cstr(a, static_cast<STORE_ATTR_TYPES>(c.code), text, 1), 0);
    EXPECT_ERRORS(
        {{ERR_LIB_STORE, STORE_F_STORE_ATTR_INFO_SET_CSTR, STORE_R_INVALID_ATTRIBUTE_CODE}});
    EXPECT_EQ(STORE_ATTR_INFO_get0_cstr(a, static_cast<STORE_ATTR_TYPES>(c.code)), nullptr);
    EXPECT_ERRORS({{ERR_LIB_STORE, STORE_F_STORE_ATTR_INFO_GET0_CSTR, STORE_R_NO_VALUE}});
  }
  EXPECT_EQ(STORE_ATTR_INFO_set_cstr(nullptr, STORE_ATTR_EMAIL, text, 1), 0);
  EXPECT_EQ(STORE_ATTR_INFO_set_dn(a, STORE_ATTR_ISSUER, nullptr), 0);
  EXPECT_ERRORS({{ERR_LIB_STORE, STORE_F_STORE_ATTR_INFO_SET_CSTR, ERR_R_PASSED_NULL_PARAMETER},
                 {ERR_LIB_STORE, STORE_F_STORE_ATTR_INFO_SET_DN, ERR_R_PASSED_NULL_PARAMETER}});
  STORE_ATTR_INFO_free(a);
}

// Record pairs (as sets of codes) and what the comparisons give.
struct PairCase {
  std::vector<int> a, b;
  int compare, in, in_range;
};

const PairCase kPairs[] = {
    // {FRIENDLYNAME} against {FRIENDLYNAME, KEYID}: the bytes order -1, the
    // spans (6 + 13 against 5 + 12) order 1.
    {{1}, {1, 2}, 1, 1, 0},
    {{1, 2}, {1}, -1, 0, 0},
    // {FRIENDLYNAME} against {KEYID}: equal spans, the byte order stands.
    {{1}, {2}, -1, 0, 1},
    {{}, {}, 0, 1, 1},
    {{2}, {2, 10}, -1, 1, 1},
    {{2, 10}, {2}, 1, 0, 0},
    {{10}, {10}, 0, 1, 1},
};

TEST(StoreAttrs, Comparisons) {
  for (const PairCase& c : kPairs) {
    SCOPED_TRACE(testing::PrintToString(c.a) + " vs " + testing::PrintToString(c.b));
    STORE_ATTR_INFO* a = Record(c.a);
    STORE_ATTR_INFO* b = Record(c.b);
    EXPECT_EQ(STORE_ATTR_INFO_compare(a, b), c.compare);
    EXPECT_EQ(STORE_ATTR_INFO_in(a, b), c.in);
    EXPECT_EQ(STORE_ATTR_INFO_in_range(a, b), c.in_range);
    EXPECT_EQ(STORE_ATTR_INFO_in_ex(a, b), c.in);  // equal values throughout
    STORE_ATTR_INFO_free(a);
    STORE_ATTR_INFO_free(b);
  }
  STORE_ATTR_INFO* a = Record({1});
  EXPECT_EQ(STORE_ATTR_INFO_compare(a, a), 0);
  EXPECT_EQ(STORE_ATTR_INFO_compare(nullptr, a), -1);
  EXPECT_EQ(STORE_ATTR_INFO_compare(a, nullptr), 1);
  EXPECT_EQ(STORE_ATTR_INFO_in(a, a), 1);
  EXPECT_EQ(STORE_ATTR_INFO_in(a, nullptr), 0);
  EXPECT_EQ(STORE_ATTR_INFO_in_range(nullptr, a), 0);
  EXPECT_EQ(STORE_ATTR_INFO_in_ex(nullptr, a), 0);
  STORE_ATTR_INFO_free(a);
  EXPECT_ERRORS({});
}

X509_NAME* Name(char letter) {
  // Name ::= SEQUENCE { SET { SEQUENCE { commonName, UTF8String "<letter>" } } }
  const unsigned char der[] = {
      0x30, 0x0c, 0x31, 0x0a, 0x30, 0x08, 0x06,
      0x03, 0x55, 0x04, 0x03, 0x0c, 0x01, static_cast<unsigned char>(letter)};
  const unsigned char* p = der;
  return d2i_X509_NAME(nullptr, &p, sizeof der);
}

TEST(StoreAttrs, ValueComparisons) {
  X509_NAME* na = Name('a');
  X509_NAME* nb = Name('b');
  ASSERT_NE(na, nullptr);
  BIGNUM* five = BN_new();
  BN_set_word(five, 5);
  BIGNUM* six = BN_new();
  BN_set_word(six, 6);
  STORE_ATTR_INFO* a = STORE_ATTR_INFO_new();
  STORE_ATTR_INFO* b = STORE_ATTR_INFO_new();
  STORE_ATTR_INFO_set_dn(a, STORE_ATTR_ISSUER, na);
  STORE_ATTR_INFO_set_dn(b, STORE_ATTR_ISSUER, na);
  STORE_ATTR_INFO_set_number(a, STORE_ATTR_SERIAL, five);
  STORE_ATTR_INFO_set_number(b, STORE_ATTR_SERIAL, five);
  STORE_ATTR_INFO_set_cstr(b, STORE_ATTR_EMAIL, const_cast<char*>("e"), 1);
  EXPECT_EQ(STORE_ATTR_INFO_in_ex(a, b), 1);
  STORE_ATTR_INFO_modify_number(b, STORE_ATTR_SERIAL, six);
  EXPECT_EQ(STORE_ATTR_INFO_in_ex(a, b), 0);
  STORE_ATTR_INFO_modify_number(b, STORE_ATTR_SERIAL, five);
  STORE_ATTR_INFO_modify_dn(b, STORE_ATTR_ISSUER, nb);
  EXPECT_EQ(STORE_ATTR_INFO_in_ex(a, b), 0);
  STORE_ATTR_INFO_set_cstr(a, STORE_ATTR_FILENAME, const_cast<char*>("f"), 1);
  EXPECT_EQ(STORE_ATTR_INFO_in_ex(a, b), 0);  // FILENAME is not set in b
  EXPECT_ERRORS({});
  STORE_ATTR_INFO_free(a);
  STORE_ATTR_INFO_free(b);
  X509_NAME_free(na);
  X509_NAME_free(nb);
  BN_free(five);
  BN_free(six);
}

// A commonName of one PrintableString.
X509_NAME* PrintableName(const std::string& text) {
  std::vector<unsigned char> der = {0x30, 0, 0x31, 0, 0x30, 0, 0x06, 0x03, 0x55, 0x04, 0x03,
                                    0x13, static_cast<unsigned char>(text.size())};
  der.insert(der.end(), text.begin(), text.end());
  der[5] = static_cast<unsigned char>(der.size() - 6);
  der[3] = static_cast<unsigned char>(der.size() - 4);
  der[1] = static_cast<unsigned char>(der.size() - 2);
  const unsigned char* p = der.data();
  return d2i_X509_NAME(nullptr, &p, static_cast<long>(der.size()));
}

// Names match as X509_NAME_cmp matches them: printable strings with case and
// runs of spaces folded.
TEST(StoreAttrs, NamesMatchUnderNameRules) {
  X509_NAME* spaced = PrintableName("  Foo   Bar ");
  X509_NAME* plain = PrintableName("foo bar");
  X509_NAME* joined = PrintableName("foobar");
  ASSERT_TRUE(spaced != nullptr && plain != nullptr && joined != nullptr);
  STORE_ATTR_INFO* a = STORE_ATTR_INFO_new();
  STORE_ATTR_INFO* b = STORE_ATTR_INFO_new();
  STORE_ATTR_INFO_set_dn(a, STORE_ATTR_ISSUER, spaced);
  STORE_ATTR_INFO_set_dn(b, STORE_ATTR_ISSUER, plain);
  EXPECT_EQ(STORE_ATTR_INFO_in_ex(a, b), 1);
  STORE_ATTR_INFO_modify_dn(b, STORE_ATTR_ISSUER, joined);
  EXPECT_EQ(STORE_ATTR_INFO_in_ex(a, b), 0);
  EXPECT_ERRORS({});
  STORE_ATTR_INFO_free(a);
  STORE_ATTR_INFO_free(b);
  X509_NAME_free(spaced);
  X509_NAME_free(plain);
  X509_NAME_free(joined);
}

// SHA-1 values of different sizes differ; before, the comparison ran over
// the first record's size and read past a shorter value in the second.
TEST(StoreAttrs, Sha1ValuesOfDifferentSizesDiffer) {
  unsigned char id[20];
  memset(id, 0x5a, sizeof id);
  struct {
    size_t a_size, b_size;
    int in_ex;
  } const cases[] = {{20, 20, 1}, {20, 4, 0}, {4, 20, 0}, {4, 4, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.a_size) + "/" + std::to_string(c.b_size));
    STORE_ATTR_INFO* a = STORE_ATTR_INFO_new();
    STORE_ATTR_INFO* b = STORE_ATTR_INFO_new();
    STORE_ATTR_INFO_set_sha1str(a, STORE_ATTR_CERTHASH, id, c.a_size);
    STORE_ATTR_INFO_set_sha1str(b, STORE_ATTR_CERTHASH, id, c.b_size);
    EXPECT_EQ(STORE_ATTR_INFO_in_ex(a, b), c.in_ex);
    STORE_ATTR_INFO_free(a);
    STORE_ATTR_INFO_free(b);
  }
  EXPECT_ERRORS({});
}

}  // namespace
