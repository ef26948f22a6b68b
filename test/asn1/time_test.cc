// Time values over the cases of test/data/asn1/times.txt: the checks and the
// string setters, ASN1_TIME_set's choice of type, the conversion to
// GeneralizedTime and the comparison with a time_t; the reuse of buffers.

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "test_support.h"

namespace {

std::vector<std::vector<std::string>> Rows(const char* section) {
  return morvane_test::ReadTableRows(morvane_test::TestDataFile("asn1/times.txt"), section);
}

std::string Text(const ASN1_STRING* s) {
  return std::string(reinterpret_cast<const char*>(s->data), s->length);
}

ASN1_STRING* Make(int type, const std::string& text) {
  ASN1_STRING* s = ASN1_STRING_type_new(type);
  EXPECT_EQ(1, ASN1_STRING_set(s, text.data(), static_cast<int>(text.size())));
  return s;
}

TEST(Asn1Time, Checks) {
  for (const auto& r : Rows("CHECK")) {
    SCOPED_TRACE(r[0]);
    const int type = atoi(r[1].c_str()), valid = atoi(r[3].c_str());
    const char* text = r[2].c_str();
    ASN1_STRING* s = Make(type, text);
    EXPECT_EQ(valid, ASN1_TIME_check(s));
    EXPECT_EQ(type == 23 && valid, ASN1_UTCTIME_check(s));
    EXPECT_EQ(type == 24 && valid, ASN1_GENERALIZEDTIME_check(s));
    ASN1_STRING* t = ASN1_STRING_new();
    EXPECT_EQ(valid, type == 23 ? ASN1_UTCTIME_set_string(t, text)
                                : ASN1_GENERALIZEDTIME_set_string(t, text));
    EXPECT_EQ(valid ? type : ASN1_UT_OCTET_STRING, t->type);
    if (valid) {
      EXPECT_EQ(r[2], Text(t));
    }
    EXPECT_EQ(valid, type == 23 ? ASN1_UTCTIME_set_string(nullptr, text)
                                : ASN1_GENERALIZEDTIME_set_string(nullptr, text));
    ASN1_STRING_free(s);
    ASN1_STRING_free(t);
  }
  ASN1_STRING* other = Make(ASN1_UT_IA5STRING, "991231235959Z");
  EXPECT_EQ(0, ASN1_TIME_check(other));
  ASN1_STRING_free(other);
  EXPECT_ERRORS({});
}

TEST(Asn1Time, SetPicksTheTypeByYear) {
  for (const auto& r : Rows("SET")) {
    SCOPED_TRACE(r[0]);
    ASN1_TIME* s = ASN1_TIME_set(nullptr, strtoll(r[1].c_str(), nullptr, 10));
    ASSERT_NE(nullptr, s);
    EXPECT_EQ(atoi(r[2].c_str()), s->type);
    EXPECT_EQ(r[3], Text(s));
    ASN1_STRING_free(s);
  }
  // The GeneralizedTime setter on its own takes any year it can write.
  ASN1_STRING* g = ASN1_GENERALIZEDTIME_set(nullptr, 0);
  EXPECT_EQ("19700101000000Z", Text(g));
  ASN1_STRING_free(g);
}

// A UTCTime names the years 1950 to 2049 only (RFC 5280, 4.1.2.5.1): the
// setter refuses the moments on either side of that range, with a reason
// and leaving the time as it was, rather than write a year of another
// century.
TEST(Asn1Time, UtcTimeSetRefusesYearsOutside1950To2049) {
  const struct {
    time_t t;
    const char* text;  // null: refused
  } kCases[] = {
      {-631152001, nullptr},          // 1949-12-31T23:59:59Z
      {-631152000, "500101000000Z"},  // 1950-01-01T00:00:00Z
      {2524607999, "491231235959Z"},  // 2049-12-31T23:59:59Z
      {2524608000, nullptr},          // 2050-01-01T00:00:00Z
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.t);
    ASN1_UTCTIME* fresh = ASN1_UTCTIME_set(nullptr, c.t);
    ASN1_STRING* kept = Make(23, "200101000000Z");
    ASN1_UTCTIME* set = ASN1_UTCTIME_set(kept, c.t);
    if (c.text == nullptr) {
      EXPECT_EQ(nullptr, fresh);
      EXPECT_EQ(nullptr, set);
      EXPECT_EQ(23, kept->type);
      EXPECT_EQ("200101000000Z", Text(kept));
      EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_ASN1_UTCTIME_SET, ASN1_R_ILLEGAL_TIME_VALUE},
                     {ERR_LIB_ASN1, ASN1_F_ASN1_UTCTIME_SET, ASN1_R_ILLEGAL_TIME_VALUE}});
    } else {
      ASSERT_NE(nullptr, fresh);
      EXPECT_EQ(kept, set);
      EXPECT_EQ(c.text, Text(fresh));
      EXPECT_EQ(c.text, Text(kept));
      EXPECT_ERRORS({});
    }
    ASN1_STRING_free(fresh);
    ASN1_STRING_free(kept);
  }
}

// A GeneralizedTime's four digits name the years 0 to 9999: the setters
// refuse a moment on either side of that range, with a reason and leaving
// the time as it was, rather than write a text that is no time (a five-digit
// year reads as a year of four digits and a month of its fifth).  A moment
// the system cannot break down is "error getting time" from all three.
TEST(Asn1Time, GeneralizedTimeSetRefusesYearsBeyondFourDigits) {
  const struct {
    time_t t;
    const char* text;  // null: refused
  } kCases[] = {
      {-62167219201, nullptr},            // -0001-12-31T23:59:59Z
      {-62167219200, "00000101000000Z"},  // 0000-01-01T00:00:00Z
      {253402300799, "99991231235959Z"},  // 9999-12-31T23:59:59Z
      {253402300800, nullptr},            // 10000-01-01T00:00:00Z
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.t);
    for (const int via : {ASN1_F_ASN1_GENERALIZEDTIME_SET, ASN1_F_ASN1_TIME_SET}) {
      auto set = [&](ASN1_STRING* s) {
        return via == ASN1_F_ASN1_TIME_SET ? ASN1_TIME_set(s, c.t)
                                           : ASN1_GENERALIZEDTIME_set(s, c.t);
      };
      ASN1_STRING* kept = Make(24, "20200101000000Z");
      ASN1_STRING* fresh = set(nullptr);
      ASN1_STRING* into = set(kept);
      if (c.text == nullptr) {
        EXPECT_EQ(nullptr, fresh);
        EXPECT_EQ(nullptr, into);
        EXPECT_EQ("20200101000000Z", Text(kept));
        EXPECT_ERRORS({{ERR_LIB_ASN1, via, ASN1_R_ILLEGAL_TIME_VALUE},
                       {ERR_LIB_ASN1, via, ASN1_R_ILLEGAL_TIME_VALUE}});
      } else {
        ASSERT_NE(nullptr, fresh);
        EXPECT_EQ(kept, into);
        EXPECT_EQ(c.text, Text(fresh));
        EXPECT_EQ(c.text, Text(kept));
        EXPECT_EQ(1, ASN1_TIME_check(kept));
        EXPECT_ERRORS({});
      }
      ASN1_STRING_free(fresh);
      ASN1_STRING_free(kept);
    }
  }
  if (sizeof(time_t) == 8) {
    const time_t far = static_cast<time_t>(INT64_MAX);  // beyond any int year
    EXPECT_EQ(nullptr, ASN1_UTCTIME_set(nullptr, far));
    EXPECT_EQ(nullptr, ASN1_GENERALIZEDTIME_set(nullptr, far));
    EXPECT_EQ(nullptr, ASN1_TIME_set(nullptr, far));
    EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_ASN1_UTCTIME_SET, ASN1_R_ERROR_GETTING_TIME},
                   {ERR_LIB_ASN1, ASN1_F_ASN1_GENERALIZEDTIME_SET, ASN1_R_ERROR_GETTING_TIME},
                   {ERR_LIB_ASN1, ASN1_F_ASN1_TIME_SET, ASN1_R_ERROR_GETTING_TIME}});
  }
}

// A buffer of 20 octets or more is rewritten in place; a smaller one is
// replaced.
TEST(Asn1Time, SettersReuseLargeBuffers) {
  ASN1_STRING* s = Make(ASN1_UT_OCTET_STRING, "0123456789abcdefghij");
  unsigned char* const big = s->data;
  ASSERT_EQ(s, ASN1_TIME_set(s, 2524608000));
  EXPECT_EQ(big, s->data);
  EXPECT_EQ("20500101000000Z", Text(s));
  ASSERT_EQ(s, ASN1_TIME_set(s, 2524607999));
  EXPECT_EQ(23, s->type);
  EXPECT_EQ("491231235959Z", Text(s));
  EXPECT_EQ(0, s->data[s->length]);
  ASN1_STRING_free(s);
}

TEST(Asn1Time, ToGeneralizedTime) {
  for (const auto& r : Rows("TO_GENERALIZED")) {
    SCOPED_TRACE(r[0]);
    ASN1_STRING* t = Make(atoi(r[1].c_str()), r[2]);
    ASN1_GENERALIZEDTIME* g = ASN1_TIME_to_generalizedtime(t, nullptr);
    ASN1_GENERALIZEDTIME* out = nullptr;
    ASN1_GENERALIZEDTIME* r2 = ASN1_TIME_to_generalizedtime(t, &out);
    EXPECT_EQ(r2, out);
    if (r[3] == "-") {
      EXPECT_EQ(nullptr, g);
      EXPECT_EQ(nullptr, out);
    } else {
      ASSERT_NE(nullptr, g);
      EXPECT_EQ(24, g->type);
      EXPECT_EQ(r[3], Text(g));
      EXPECT_EQ(0, g->data[g->length]);
      EXPECT_EQ(out, ASN1_TIME_to_generalizedtime(t, &out));  // reused
      EXPECT_EQ(r[3], Text(out));
    }
    for (ASN1_STRING* x : {g, out, t}) ASN1_STRING_free(x);
  }
  ASN1_STRING* t = Make(23, "491231235959Z");  // into the time itself
  ASSERT_EQ(t, ASN1_TIME_to_generalizedtime(t, &t));
  EXPECT_EQ("20491231235959Z", Text(t));
  ASN1_STRING_free(t);
  EXPECT_ERRORS({});
}

// The comparison reads only the text there is (each text sits in a buffer of
// exactly its length, where ASan sees any read beyond it).
TEST(Asn1Time, CompareWithTimeT) {
  for (const auto& r : Rows("COMPARE")) {
    SCOPED_TRACE(r[0]);
    ASN1_STRING* s = ASN1_STRING_type_new(ASN1_UT_UTCTIME);
    auto* data = static_cast<unsigned char*>(
        CRYPTO_malloc(r[1].empty() ? 1 : r[1].size(), __FILE__, __LINE__));
    memcpy(data, r[1].data(), r[1].size());
    ASN1_STRING_set0(s, data, static_cast<int>(r[1].size()));
    EXPECT_EQ(atoi(r[3].c_str()), ASN1_UTCTIME_cmp_time_t(s, strtoll(r[2].c_str(), nullptr, 10)));
    ASN1_STRING_free(s);
  }
}

}  // namespace
