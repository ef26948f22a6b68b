// Time comparison and adjustment of the verifier, and the texts of the
// verification errors.  Times are UTCTime and GeneralizedTime as X.680
// writes them (local time with a +hhmm/-hhmm offset meaning UTC + offset);
// the moment is 2020-01-01 00:00:00 UTC, 1577836800 seconds after the epoch
// (a certificate renewed from now excepted).

#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <limits>
#include <string>
#include <utility>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>

#include "cert_builder.h"
#include "der_util.h"
#include "key_util.h"
#include "test_support.h"

namespace {

constexpr time_t kMoment = 1577836800;

ASN1_TIME* Time(int type, const char* text) {
  ASN1_TIME* t = ASN1_STRING_type_new(type);
  EXPECT_EQ(1, ASN1_STRING_set(t, text, static_cast<int>(strlen(text))));
  return t;
}

struct CmpCase {
  int type;
  const char* text;
  int sign;  // -1 earlier or equal, 1 later, 0 malformed
};

constexpr int U = 23;  // UTCTime
constexpr int G = 24;  // GeneralizedTime

const CmpCase kCmpCases[] = {
    {U, "200101000000Z", -1},  // equal counts as not later
    {U, "200101000001Z", 1},
    {U, "191231235959Z", -1},
    {U, "2001010000Z", -1},  // seconds omitted
    {U, "2001010001Z", 1},
    {U, "491231235959Z", 1},   // 2049
    {U, "500101000000Z", -1},  // 1950
    // Local time 01:30 at UTC+01:30 is midnight UTC.
    {U, "200101013000+0130", -1},
    {U, "200101012959+0130", -1},
    {U, "200101013001+0130", 1},
    {U, "191231230000-0100", -1},
    {U, "191231230001-0100", 1},
    {G, "20200101000000Z", -1},
    {G, "20200101000001Z", 1},
    // A fraction makes a time later than its whole second.
    {G, "20200101000000.999Z", 1},
    {G, "20200101000000.001Z", 1},
    {G, "20200101000000.0000000001Z", 1},
    {G, "20200101000000.0Z", -1},
    {G, "20200101000000.000Z", -1},
    {G, "20191231235959.5Z", -1},
    {G, "20191231235959.999999Z", -1},
    {G, "20200101013000.5+0130", 1},
    {G, "20191231225959.5-0100", -1},
    {G, "20500101000000Z", 1},
    {G, "19500101000000Z", -1},
    {G, "20200101013000+0130", -1},
    {G, "20200101013100+0130", 1},
    // Malformed.
    {U, "2001010000", 0},         // too short
    {U, "200101000000", 0},       // no zone
    {U, "20010100000aZ", 0},      // seconds not digits
    {U, "200101000000+01x0", 0},  // offset not digits
    {U, "200101000000+013", 0},   // offset cut short
    {U, "200101000000X", 0},
    {U, "2001010000000000000Z", 0},  // too long
    {G, "202001010000", 0},
    {G, "2020010100a0Z", 0},
    // Fields no calendar has, and what ASN1_TIME_check refuses besides.
    {U, "201301000000Z", 0},      // month 13
    {U, "200001000000Z", 0},      // month 0
    {U, "200132000000Z", 0},      // day 32
    {U, "200100000000Z", 0},      // day 0
    {U, "200230000000Z", 0},      // 30 February
    {U, "190229000000Z", 0},      // 29 February 2019
    {U, "000229000000Z", -1},     // 29 February 2000
    {G, "19000229000000Z", 0},    // 29 February 1900
    {G, "24000229000000Z", 1},    // 29 February 2400
    {U, "200431000000Z", 0},      // 31 April
    {U, "200101240000Z", 0},      // hour 24
    {U, "200101006000Z", 0},      // minute 60
    {U, "200101000060Z", 0},      // second 60
    {U, "200101000000+2400", 0},  // offset 24 hours
    {U, "200101000000+1300", 0},  // offset 13 hours
    {U, "200101000000-0060", 0},  // offset 60 minutes
    {U, "200101000000Zx", 0},     // bytes after the zone
    {U, "200101000000Z0", 0},
    {U, "200101000000+0100x", 0},
    {U, "200101000000.5Z", 0},   // a fraction in a UTCTime
    {G, "20200101000000.Z", 0},  // a fraction without digits
    {G, "202001010000.5Z", 0},   // a fraction without seconds
    {G, "20200101000000,5Z", 0},
    {G, "20200101000000+01", 0},
    {U, "2001010000+0100Z", 0},
};

TEST(CmpTime, Table) {
  time_t moment = kMoment;
  for (const CmpCase& c : kCmpCases) {
    SCOPED_TRACE(c.text);
    ASN1_TIME* t = Time(c.type, c.text);
    const int r = X509_cmp_time(t, &moment);
    if (c.sign < 0) {
      EXPECT_LT(r, 0);
    } else if (c.sign > 0) {
      EXPECT_GT(r, 0);
    } else {
      EXPECT_EQ(0, r);
    }
    ASN1_STRING_free(t);
  }
}

TEST(CmpTime, MomentsOutsideTheUtcTimeYears) {
  time_t late = 4102444800;  // 2100-01-01 00:00:00 UTC
  time_t early = -946771200;  // 1940-01-01 00:00:00 UTC
  ASN1_TIME* u49 = Time(U, "491231235959Z");
  ASN1_TIME* u50 = Time(U, "500101000000Z");
  ASN1_TIME* g = Time(G, "21000101000001Z");
  EXPECT_LT(X509_cmp_time(u49, &late), 0);
  EXPECT_GT(X509_cmp_time(u50, &early), 0);
  EXPECT_GT(X509_cmp_time(g, &late), 0);
  ASN1_STRING_free(u49);
  ASN1_STRING_free(u50);
  ASN1_STRING_free(g);
}

// A moment past 9999 (whose year has five digits) is later than any time
// text, one before year 0 earlier.
TEST(CmpTime, MomentsBeyondFourDigitYears) {
  time_t after_9999 = 253402300800;      // 10000-01-01 00:00:00 UTC
  time_t before_0000 = -62167219201;     // -0001-12-31 23:59:59 UTC
  ASN1_TIME* last = Time(G, "99991231235959Z");
  ASN1_TIME* first = Time(G, "00000101000000Z");
  EXPECT_LT(X509_cmp_time(last, &after_9999), 0);
  EXPECT_GT(X509_cmp_time(first, &before_0000), 0);
  ASN1_STRING_free(last);
  ASN1_STRING_free(first);
}

// The time of a type other than UTCTime and GeneralizedTime is none.
TEST(CmpTime, OtherTypesAreMalformed) {
  time_t moment = kMoment;
  for (int type : {ASN1_UT_IA5STRING, ASN1_UT_OCTET_STRING, ASN1_UT_PRINTABLESTRING}) {
    ASN1_TIME* t = Time(type, "20200101000000Z");
    EXPECT_EQ(0, ASN1_TIME_check(t));
    EXPECT_EQ(0, X509_cmp_time(t, &moment));
    ASN1_STRING_free(t);
  }
  EXPECT_EQ(0, X509_cmp_time(nullptr, &moment));
}

// Every time_t is a moment, down to the smallest and up to the largest:
// the earliest and latest times, with the widest offsets, against moments
// within a day of either end (the sanitizers find any overflow).
TEST(CmpTime, EveryTimeT) {
  constexpr time_t kMin = std::numeric_limits<time_t>::min();
  constexpr time_t kMax = std::numeric_limits<time_t>::max();
  const time_t low[] = {kMin, kMin + 1, kMin + 43200, kMin + 86399, kMin + 86400};
  const time_t high[] = {kMax, kMax - 1, kMax - 43200, kMax - 86399, kMax - 86400};
  const struct {
    int type;
    const char* text;
  } kTimes[] = {
      {G, "00000101000000Z"},   {G, "00000101000000+1259"}, {G, "00000101000000-1259"},
      {G, "99991231235959.9Z"}, {G, "99991231235959-1259"}, {G, "99991231235959+1259"},
      {U, "500101000000+1200"}, {U, "491231235959-1200"},   {G, "19700101000000Z"},
  };
  for (const auto& c : kTimes) {
    SCOPED_TRACE(c.text);
    ASN1_TIME* t = Time(c.type, c.text);
    for (time_t m : low) {
      time_t moment = m;
      EXPECT_EQ(1, X509_cmp_time(t, &moment)) << m;
    }
    for (time_t m : high) {
      time_t moment = m;
      EXPECT_EQ(-1, X509_cmp_time(t, &moment)) << m;
    }
    ASN1_STRING_free(t);
  }
}

// At the moments next to the earliest and latest a GeneralizedTime names,
// with the offsets that move them furthest.
TEST(CmpTime, OffsetsAtTheEndsOfTheYears) {
  const struct {
    const char* text;
    time_t moment;
    int sign;
  } kCases[] = {
      // 0000-01-01T00:00:00 local at UTC-12:59 is 12:59 later in UTC.
      {"00000101000000-1259", -62167219200 + 46740 - 1, 1},
      {"00000101000000-1259", -62167219200 + 46740, -1},
      {"00000101000000+1259", -62167219200 - 46740 - 1, 1},
      {"00000101000000+1259", -62167219200 - 46740, -1},
      {"99991231235959+1259", 253402300799 - 46740, -1},
      {"99991231235959+1259", 253402300799 - 46740 - 1, 1},
      {"99991231235959.5-1259", 253402300799 + 46740, 1},
      {"99991231235959.5-1259", 253402300799 + 46740 + 1, -1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    ASN1_TIME* t = Time(G, c.text);
    time_t moment = c.moment;
    EXPECT_EQ(c.sign, X509_cmp_time(t, &moment));
    ASN1_STRING_free(t);
  }
}

// Random texts against the plain-integer model of tools/time_model.py
// (test/data/x509/times.txt): the check gives the model's verdict; a text
// that names a moment s is later than s - 1, not later than s + 1, and
// later than s itself exactly when its fraction is above zero; any other
// compares as malformed.
TEST(CmpTime, AgreesWithTheModel) {
  const auto rows =
      morvane_test::ReadTableRows(morvane_test::TestDataFile("x509/times.txt"), "MOMENT");
  ASSERT_GT(rows.size(), 1000u);
  for (const auto& r : rows) {
    SCOPED_TRACE(r[0] + " " + r[2]);
    ASN1_TIME* t = Time(atoi(r[1].c_str()), r[2].c_str());
    EXPECT_EQ(atoi(r[3].c_str()), ASN1_TIME_check(t));
    if (r[4] == "-") {
      time_t moment = kMoment;
      EXPECT_EQ(0, X509_cmp_time(t, &moment));
    } else {
      const time_t s = static_cast<time_t>(strtoll(r[4].c_str(), nullptr, 10));
      time_t before = s - 1;
      time_t at = s;
      time_t after = s + 1;
      EXPECT_EQ(1, X509_cmp_time(t, &before));
      EXPECT_EQ(r[5] == "1" ? 1 : -1, X509_cmp_time(t, &at));
      EXPECT_EQ(-1, X509_cmp_time(t, &after));
    }
    ASN1_STRING_free(t);
  }
}

TEST(CmpTime, NowIsTheDefaultMoment) {
  ASN1_TIME* past = Time(U, "000101000000Z");
  ASN1_TIME* future = Time(G, "21000101000000Z");
  EXPECT_LT(X509_cmp_current_time(past), 0);
  EXPECT_GT(X509_cmp_time(future, nullptr), 0);
  ASN1_STRING_free(past);
  ASN1_STRING_free(future);
}

std::string Text(const ASN1_TIME* t) {
  return std::string(reinterpret_cast<const char*>(t->data), static_cast<size_t>(t->length));
}

TEST(TimeAdj, KeepsTheType) {
  time_t moment = kMoment;
  ASN1_TIME* u = Time(U, "000101000000Z");
  ASSERT_EQ(u, X509_time_adj(u, 61, &moment));
  EXPECT_EQ(U, u->type);
  EXPECT_EQ("200101000101Z", Text(u));
  ASN1_TIME* g = Time(G, "20000101000000Z");
  ASSERT_EQ(g, X509_time_adj(g, -1, &moment));
  EXPECT_EQ(G, g->type);
  EXPECT_EQ("20191231235959Z", Text(g));
  ASN1_TIME* fresh = X509_time_adj(nullptr, 0, &moment);
  ASSERT_NE(nullptr, fresh);
  EXPECT_EQ(U, fresh->type);
  EXPECT_EQ("200101000000Z", Text(fresh));
  ASN1_STRING_free(u);
  ASN1_STRING_free(g);
  ASN1_STRING_free(fresh);
}

// The moments on either side of the years a UTCTime names (RFC 5280,
// 4.1.2.5): a time that holds a UTCTime, as every decoded validity does,
// takes a GeneralizedTime outside 1950-2049 instead of a year of another
// century; a GeneralizedTime stays one; a new time takes the form
// ASN1_TIME_set chooses.
TEST(TimeAdj, FormAtTheUtcTimeBoundaries) {
  const struct {
    time_t moment;
    int from_utc_type;
    const char* from_utc;
    const char* from_generalized;
  } kCases[] = {
      {-631152001, G, "19491231235959Z", "19491231235959Z"},  // 1949-12-31T23:59:59Z
      {-631152000, U, "500101000000Z", "19500101000000Z"},    // 1950-01-01T00:00:00Z
      {2524607999, U, "491231235959Z", "20491231235959Z"},    // 2049-12-31T23:59:59Z
      {2524608000, G, "20500101000000Z", "20500101000000Z"},  // 2050-01-01T00:00:00Z
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.from_utc);
    // The moment reached both directly and as an adjustment of another.
    for (const auto& [base, adj] : {std::pair<time_t, long>{c.moment, 0},
                                    {kMoment, static_cast<long>(c.moment - kMoment)}}) {
      time_t moment = base;
      ASN1_TIME* u = Time(U, "200101000000Z");
      ASSERT_EQ(u, X509_time_adj(u, adj, &moment));
      EXPECT_EQ(c.from_utc_type, u->type);
      EXPECT_EQ(c.from_utc, Text(u));
      ASN1_TIME* g = Time(G, "20200101000000Z");
      ASSERT_EQ(g, X509_time_adj(g, adj, &moment));
      EXPECT_EQ(G, g->type);
      EXPECT_EQ(c.from_generalized, Text(g));
      ASN1_TIME* fresh = X509_time_adj(nullptr, adj, &moment);
      ASSERT_NE(nullptr, fresh);
      EXPECT_EQ(c.from_utc_type, fresh->type);
      EXPECT_EQ(c.from_utc, Text(fresh));
      for (ASN1_TIME* t : {u, g, fresh}) ASN1_STRING_free(t);
    }
  }
  EXPECT_ERRORS({});
}

// An adjustment that leaves the range of time_t fails.
TEST(TimeAdj, OverflowFails) {
  time_t moment = std::numeric_limits<time_t>::max() - 10;
  ASN1_TIME* u = Time(U, "200101000000Z");
  EXPECT_EQ(nullptr, X509_time_adj(u, 11, &moment));
  EXPECT_EQ("200101000000Z", Text(u));
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_ASN1_TIME_SET, ASN1_R_ERROR_GETTING_TIME}});
  ASN1_STRING_free(u);
}

// An adjustment past the year 9999 fails too, whatever the time held: a
// GeneralizedTime has four digits for its year, and a five-digit one made a
// text that is no time (read back as year 1002 and day 81), which a
// certificate could then be signed over.
TEST(TimeAdj, PastTheYear9999Fails) {
  time_t moment = 253402300799;  // 9999-12-31T23:59:59Z
  ASN1_TIME* u = Time(U, "200101000000Z");
  ASN1_TIME* g = Time(G, "20200101000000Z");
  EXPECT_EQ(nullptr, X509_time_adj(u, 1, &moment));
  EXPECT_EQ(nullptr, X509_time_adj(g, 1, &moment));
  EXPECT_EQ(nullptr, X509_time_adj(nullptr, 1, &moment));
  EXPECT_EQ("200101000000Z", Text(u));
  EXPECT_EQ("20200101000000Z", Text(g));
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_ASN1_TIME_SET, ASN1_R_ILLEGAL_TIME_VALUE},
                 {ERR_LIB_ASN1, ASN1_F_ASN1_GENERALIZEDTIME_SET, ASN1_R_ILLEGAL_TIME_VALUE},
                 {ERR_LIB_ASN1, ASN1_F_ASN1_TIME_SET, ASN1_R_ILLEGAL_TIME_VALUE}});
  ASSERT_EQ(g, X509_time_adj(g, 0, &moment));
  EXPECT_EQ("99991231235959Z", Text(g));
  ASN1_STRING_free(u);
  ASN1_STRING_free(g);
}

// A value that only a UTCTime may hold (the caller's own ASN1_UTCTIME, coded
// by its item) cannot take a moment past 2049: the adjustment makes it a
// GeneralizedTime, and its encoder then fails rather than write that text
// under the UTCTime tag (17 0f "20500101000000Z", read back as month 50).
// The GeneralizedTime item refuses a UTCTime alike; ASN1_TIME takes both.
TEST(TimeAdj, ATimeOnlyAUtcTimeMayHoldFailsToEncodePast2049) {
  time_t moment = 2524608000;  // 2050-01-01T00:00:00Z
  ASN1_TIME* u = Time(U, "200101000000Z");
  ASSERT_EQ(u, X509_time_adj(u, 0, &moment));
  EXPECT_EQ(G, u->type);
  EXPECT_LT(i2d_ASN1_UTCTIME(u, nullptr), 1);
  unsigned char* der = nullptr;
  EXPECT_LT(i2d_ASN1_UTCTIME(u, &der), 1);
  EXPECT_EQ(nullptr, der);
  EXPECT_EQ(17, i2d_ASN1_GENERALIZEDTIME(u, nullptr));
  EXPECT_EQ(17, i2d_ASN1_TIME(u, nullptr));
  moment = 2524607999;  // 2049-12-31T23:59:59Z
  ASN1_TIME* g = Time(G, "20200101000000Z");
  ASN1_TIME* back = Time(U, "200101000000Z");
  ASSERT_EQ(back, X509_time_adj(back, 0, &moment));
  EXPECT_EQ(15, i2d_ASN1_UTCTIME(back, nullptr));
  EXPECT_LT(i2d_ASN1_GENERALIZEDTIME(back, nullptr), 1);
  EXPECT_EQ(17, i2d_ASN1_GENERALIZEDTIME(g, nullptr));
  for (ASN1_TIME* t : {u, g, back}) ASN1_STRING_free(t);
  ERR_clear_error();
}

// Renewing a decoded certificate (its validity read as UTCTime) by 30 years
// from now: the new notAfter lies past 2049 and must be written as a
// GeneralizedTime, so that the signed certificate verifies now instead of
// having expired in the previous century.
TEST(TimeAdj, RenewingADecodedCertificateBy30Years) {
  x509_test::AddAlgorithms();
  EVP_PKEY* key = x509_test::RsaKey();
  X509* made = morvane_test::MakeCert({"Renewed", "", 2, 1, {}, key, key});
  ASSERT_NE(nullptr, ASN1_TIME_set(made->cert_info->validity->notAfter, 1893456000));  // 2030
  ASSERT_GT(X509_sign(made, key, EVP_sha256()), 0);
  X509* x = x509_test::Decode(d2i_X509, x509_test::Encode(i2d_X509, made));
  X509_free(made);
  ASSERT_NE(nullptr, x);
  ASN1_TIME* not_before = x->cert_info->validity->notBefore;
  ASN1_TIME* not_after = x->cert_info->validity->notAfter;
  ASSERT_EQ(U, not_before->type);
  ASSERT_EQ(U, not_after->type);

  const long thirty_years = 30L * 365 * 86400;
  const time_t start = time(nullptr);
  ASSERT_EQ(not_before, X509_gmtime_adj(not_before, 0));
  ASSERT_EQ(not_after, X509_gmtime_adj(not_after, thirty_years));
  const time_t end = time(nullptr);
  // The year 30 years on (the clock may have moved on a second meanwhile).
  auto year_after = [&](time_t t) {
    struct tm tm;
    t += thirty_years;
    EXPECT_NE(nullptr, MORVANE_gmtime(&t, &tm));
    return tm.tm_year + 1900;
  };
  const int year = atoi(std::string(Text(not_after), 0, 4).c_str());
  EXPECT_TRUE(year == year_after(start) || year == year_after(end)) << Text(not_after);
  EXPECT_EQ(year >= 2050 ? G : U, not_after->type) << Text(not_after);
  EXPECT_EQ(U, not_before->type);  // this year is a UTCTime's
  ASSERT_GT(X509_sign(x, key, EVP_sha256()), 0);

  // Signed and read back, the certificate holds the same text and verifies
  // now, from a store that holds it.
  X509* again = x509_test::Decode(d2i_X509, x509_test::Encode(i2d_X509, x));
  ASSERT_NE(nullptr, again);
  EXPECT_EQ(not_after->type, again->cert_info->validity->notAfter->type);
  EXPECT_EQ(Text(not_after), Text(again->cert_info->validity->notAfter));
  X509_STORE* store = X509_STORE_new();
  ASSERT_EQ(1, X509_STORE_add_cert(store, again));
  X509_STORE_CTX* ctx = X509_STORE_CTX_new();
  ASSERT_EQ(1, X509_STORE_CTX_init(ctx, store, again, nullptr));
  X509_STORE_CTX_set_flags(ctx, X509_V_FLAG_CHECK_SS_SIGNATURE);
  EXPECT_EQ(1, X509_verify_cert(ctx));
  EXPECT_EQ(X509_V_OK, X509_STORE_CTX_get_error(ctx));
  X509_STORE_CTX_free(ctx);
  X509_STORE_free(store);
  X509_free(again);
  X509_free(x);
  EXPECT_ERRORS({});
}

// A certificate whose validity holds a time no calendar has (or one the
// time check refuses) is reported with error 13 or 14, a revocation list
// with 15 or 16, each decoded from its signed encoding as a verifier meets
// it; the same objects with well-formed times verify.
struct FieldCase {
  char field;  // 'b' notBefore, 'a' notAfter, 'l' lastUpdate, 'n' nextUpdate
  int type;
  const char* text;
  int error;  // 0: verifies
};

const FieldCase kFieldCases[] = {
    {'a', U, "491301000000Z", X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD},
    {'a', U, "490230000000Z", X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD},
    {'a', U, "491231240000Z", X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD},
    {'a', U, "491231235959+2400", X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD},
    {'a', G, "20491231235959Zx", X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD},
    {'a', G, "20491231235959.5Z", 0},
    {'a', U, "491231235959+1200", 0},
    {'b', U, "190132000000Z", X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD},
    {'b', U, "190101000000.5Z", X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD},
    {'b', U, "190101006000Z", X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD},
    {'b', G, "20190229000000Z", X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD},
    {'b', U, "1901010000-1259", 0},
    {'l', U, "191301000000Z", X509_V_ERR_ERROR_IN_CRL_LAST_UPDATE_FIELD},
    {'l', U, "190230000000Z", X509_V_ERR_ERROR_IN_CRL_LAST_UPDATE_FIELD},
    {'l', G, "20191231235959.5Z", 0},
    {'n', U, "491301000000Z", X509_V_ERR_ERROR_IN_CRL_NEXT_UPDATE_FIELD},
    {'n', U, "491231235960Z", X509_V_ERR_ERROR_IN_CRL_NEXT_UPDATE_FIELD},
    {'n', G, "20200101000000.5Z", 0},
};

void SetTime(ASN1_TIME* t, int type, const char* text) {
  ASSERT_EQ(1, ASN1_STRING_set(t, text, static_cast<int>(strlen(text))));
  t->type = type;
}

TEST(CmpTime, ImpossibleValidityIsAFormatError) {
  x509_test::AddAlgorithms();
  EVP_PKEY* key = x509_test::RsaKey();
  const morvane_test::Bytes ca_true = {0x30, 0x03, 0x01, 0x01, 0xFF};
  for (const FieldCase& c : kFieldCases) {
    SCOPED_TRACE(std::string(1, c.field) + " " + c.text);
    const bool on_cert = c.field == 'a' || c.field == 'b';
    X509* root = morvane_test::MakeCert({"Root", "", 2, 1, {{87, true, ca_true}}, key, key});
    X509* leaf = morvane_test::MakeCert({"Leaf", "Root", 2, 5, {}, key, key});
    X509_CRL* crl = nullptr;
    if (on_cert) {
      X509_VAL* v = root->cert_info->validity;
      SetTime(c.field == 'a' ? v->notAfter : v->notBefore, c.type, c.text);
      ASSERT_GT(X509_sign(root, key, EVP_sha256()), 0);
    } else {
      crl = morvane_test::MakeCrl("Root", {}, kMoment - 60, kMoment + 86400, {}, key);
      SetTime(c.field == 'l' ? crl->crl->lastUpdate : crl->crl->nextUpdate, c.type, c.text);
      ASSERT_GT(X509_CRL_sign(crl, key, EVP_sha256()), 0);
    }
    X509* anchor = x509_test::Decode(d2i_X509, x509_test::Encode(i2d_X509, root));
    ASSERT_NE(nullptr, anchor);
    X509_STORE* store = X509_STORE_new();
    ASSERT_EQ(1, X509_STORE_add_cert(store, anchor));
    if (crl != nullptr) {
      X509_CRL* list = x509_test::Decode(d2i_X509_CRL, x509_test::Encode(i2d_X509_CRL, crl));
      ASSERT_NE(nullptr, list);
      ASSERT_EQ(1, X509_STORE_add_crl(store, list));
      X509_CRL_free(list);
    }
    X509_STORE_CTX* ctx = X509_STORE_CTX_new();
    ASSERT_EQ(1, X509_STORE_CTX_init(ctx, store, on_cert ? anchor : leaf, nullptr));
    X509_STORE_CTX_set_time(ctx, 0, kMoment);
    X509_STORE_CTX_set_flags(ctx, on_cert ? X509_V_FLAG_CHECK_SS_SIGNATURE : X509_V_FLAG_CRL_CHECK);
    EXPECT_EQ(c.error == 0 ? 1 : 0, X509_verify_cert(ctx));
    EXPECT_EQ(c.error, X509_STORE_CTX_get_error(ctx));
    X509_STORE_CTX_free(ctx);
    X509_STORE_free(store);
    X509_free(anchor);
    X509_CRL_free(crl);
    X509_free(leaf);
    X509_free(root);
    ERR_clear_error();
  }
}

TEST(ErrorString, EveryCode) {
  const struct {
    long code;
    const char* text;
  } kTexts[] = {
      {0, "ok"},
      {2, "unable to get issuer certificate"},
      {3, "unable to get certificate CRL"},
      {4, "unable to decrypt certificate's signature"},
      {5, "unable to decrypt CRL's signature"},
      {6, "unable to decode issuer public key"},
      {7, "certificate signature failure"},
      {8, "CRL signature failure"},
      {9, "certificate is not yet valid"},
      {10, "certificate has expired"},
      {11, "CRL is not yet valid"},
      {12, "CRL has expired"},
      {13, "format error in certificate's notBefore field"},
      {14, "format error in certificate's notAfter field"},
      {15, "format error in CRL's lastUpdate field"},
      {16, "format error in CRL's nextUpdate field"},
      {17, "out of memory"},
      {18, "self signed certificate"},
      {19, "self signed certificate in certificate chain"},
      {20, "unable to get local issuer certificate"},
      {21, "unable to verify the first certificate"},
      {22, "certificate chain too long"},
      {23, "certificate revoked"},
      {24, "invalid CA certificate"},
      {25, "path length constraint exceeded"},
      {26, "unsupported certificate purpose"},
      {27, "certificate not trusted"},
      {28, "certificate rejected"},
      {29, "subject issuer mismatch"},
      {30, "authority and subject key identifier mismatch"},
      {31, "authority and issuer serial number mismatch"},
      {32, "key usage does not include certificate signing"},
      {33, "unable to get CRL issuer certificate"},
      {34, "unhandled critical extension"},
      {35, "key usage does not include CRL signing"},
      {36, "unhandled critical CRL extension"},
      {37, "invalid non-CA certificate (has CA markings)"},
      {38, "proxy path length constraint exceeded"},
      {39, "key usage does not include digital signature"},
      {40, "proxy certificates not allowed, please set the appropriate flag"},
      {41, "invalid or inconsistent certificate extension"},
      {42, "invalid or inconsistent certificate policy extension"},
      {43, "no explicit policy"},
      {44, "RFC 3779 resource not subset of parent's resources"},
      {50, "application verification failure"},
  };
  for (const auto& t : kTexts) EXPECT_STREQ(t.text, X509_verify_cert_error_string(t.code));
  EXPECT_STREQ("error number 45", X509_verify_cert_error_string(45));
  EXPECT_STREQ("error number 1", X509_verify_cert_error_string(1));
  EXPECT_STREQ("error number -3", X509_verify_cert_error_string(-3));
  EXPECT_STREQ("error number 51", X509_verify_cert_error_string(51));
}

}  // namespace
