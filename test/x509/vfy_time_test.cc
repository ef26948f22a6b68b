// Time comparison and adjustment of the verifier, and the texts of the
// verification errors.  Times are UTCTime and GeneralizedTime as X.680
// writes them (local time with a +hhmm/-hhmm offset meaning UTC + offset);
// the moment is 2020-01-01 00:00:00 UTC, 1577836800 seconds after the epoch.

#include <string.h>
#include <time.h>

#include <string>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/x509_vfy.h>

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
    {G, "20200101000000.999Z", -1},  // fractions are ignored
    {G, "20191231235959.5Z", -1},
    {G, "20500101000000Z", 1},
    {G, "19500101000000Z", -1},
    {G, "20200101013000+0130", -1},
    {G, "20200101013100+0130", 1},
    // Malformed.
    {U, "2001010000", 0},          // too short
    {U, "200101000000", 0},        // no zone
    {U, "20010100000aZ", 0},       // seconds not digits
    {U, "200101000000+01x0", 0},   // offset not digits
    {U, "200101000000+013", 0},    // offset cut short
    {U, "200101000000X", 0},
    {U, "2001010000000000000Z", 0},  // too long
    {G, "202001010000", 0},
    {G, "2020010100a0Z", 0},
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
