// String and byte comparisons, UTC conversion, the CPU-time stopwatch and the
// changed-identity test.

#include <morvane/crypto.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <limits>

#include <unistd.h>

TEST(Memcmp, DifferenceOfTheFirstUnequalBytesAsUnsigned) {
  const unsigned char ab[] = {0x61, 0x62};
  const unsigned char ac[] = {0x61, 0x63};
  EXPECT_EQ(MORVANE_memcmp(ab, ac, 2), -1);
  EXPECT_EQ(MORVANE_memcmp(ac, ab, 2), 1);
  EXPECT_EQ(MORVANE_memcmp(ab, ac, 1), 0);
  EXPECT_EQ(MORVANE_memcmp(ab, ac, 0), 0);
  const unsigned char ff = 0xFF, one = 0x01;
  EXPECT_EQ(MORVANE_memcmp(&ff, &one, 1), 254);
  EXPECT_EQ(MORVANE_memcmp(&one, &ff, 1), -254);
  // Only the first difference counts.
  const unsigned char x[] = {1, 2, 3, 0xFF};
  const unsigned char y[] = {1, 2, 9, 0x00};
  EXPECT_EQ(MORVANE_memcmp(x, y, 4), 3 - 9);
}

TEST(CaseCompare, IgnoresCaseOnlyUpToN) {
  EXPECT_EQ(MORVANE_strcasecmp("Morvane", "mORVANE"), 0);
  EXPECT_LT(MORVANE_strcasecmp("abc", "ABD"), 0);
  EXPECT_GT(MORVANE_strcasecmp("abcd", "ABC"), 0);
  EXPECT_EQ(MORVANE_strncasecmp("HeLLo world", "hello WORLD", 11), 0);
  EXPECT_EQ(MORVANE_strncasecmp("abcX", "ABCY", 3), 0);
  EXPECT_NE(MORVANE_strncasecmp("abcX", "ABCY", 4), 0);
  EXPECT_EQ(MORVANE_strncasecmp("a", "b", 0), 0);
}

TEST(Gmtime, ConvertsIntoTheCallersStructure) {
  struct tm out {};
  const time_t epoch = 0;
  ASSERT_EQ(MORVANE_gmtime(&epoch, &out), &out);
  EXPECT_EQ(out.tm_year, 70);
  EXPECT_EQ(out.tm_mon, 0);
  EXPECT_EQ(out.tm_mday, 1);
  EXPECT_EQ(out.tm_hour, 0);
  EXPECT_EQ(out.tm_wday, 4);  // 1 January 1970 was a Thursday
  EXPECT_EQ(out.tm_yday, 0);

  // 1234567890 seconds after the epoch: 2009-02-13 23:31:30 UTC, a Friday.
  const time_t t = 1234567890;
  ASSERT_EQ(MORVANE_gmtime(&t, &out), &out);
  EXPECT_EQ(out.tm_year, 109);
  EXPECT_EQ(out.tm_mon, 1);
  EXPECT_EQ(out.tm_mday, 13);
  EXPECT_EQ(out.tm_hour, 23);
  EXPECT_EQ(out.tm_min, 31);
  EXPECT_EQ(out.tm_sec, 30);
  EXPECT_EQ(out.tm_wday, 5);
  EXPECT_EQ(out.tm_isdst, 0);

  // 31 December 2000 23:59:59 UTC, day 365 of a leap year.
  const time_t leap = 978307199;
  ASSERT_EQ(MORVANE_gmtime(&leap, &out), &out);
  EXPECT_EQ(out.tm_yday, 365);
  EXPECT_EQ(out.tm_mday, 31);
  EXPECT_EQ(out.tm_sec, 59);
}

TEST(Gmtime, UnrepresentableYearGivesNull) {
  struct tm out {};
  const time_t huge = std::numeric_limits<time_t>::max();
  EXPECT_EQ(MORVANE_gmtime(&huge, &out), nullptr);
}

namespace {

double Tps() {
  return static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Two zero-filled samples; the user times are set by hand.
struct Samples {
  Samples() : a(ms_time_new()), b(ms_time_new()) {}
  ~Samples() {
    ms_time_free(a);
    ms_time_free(b);
  }
  MS_TM* a;
  MS_TM* b;
};

}  // namespace

TEST(MsTime, NewSampleIsZeroFilled) {
  Samples s;
  ASSERT_NE(s.a, nullptr);
  EXPECT_EQ(s.a->ms_tms.tms_utime, 0);
  EXPECT_EQ(s.a->ms_tms.tms_stime, 0);
  EXPECT_EQ(s.a->ms_tms.tms_cutime, 0);
  EXPECT_EQ(s.a->ms_tms.tms_cstime, 0);
  ms_time_free(nullptr);  // accepted
}

TEST(MsTime, DiffIsUserTicksOverTicksPerSecondAndNeverBelowTenthOfMicro) {
  Samples s;
  ASSERT_NE(s.a, nullptr);
  ASSERT_NE(s.b, nullptr);
  EXPECT_EQ(ms_time_diff(s.a, s.a), 1e-7);
  s.a->ms_tms.tms_utime = 1000;
  s.b->ms_tms.tms_utime = 1100;
  EXPECT_DOUBLE_EQ(ms_time_diff(s.a, s.b), 100 / Tps());
  // System and children's times do not take part.
  s.b->ms_tms.tms_stime = 5000;
  s.b->ms_tms.tms_cutime = 7000;
  EXPECT_DOUBLE_EQ(ms_time_diff(s.a, s.b), 100 / Tps());
  // An earlier b wraps as an unsigned 32-bit tick count.
  EXPECT_DOUBLE_EQ(ms_time_diff(s.b, s.a), (4294967296.0 - 100) / Tps());
}

TEST(MsTime, CmpGivesTheSignOfTheUserTimeDifference) {
  Samples s;
  ASSERT_NE(s.a, nullptr);
  ASSERT_NE(s.b, nullptr);
  EXPECT_EQ(ms_time_cmp(s.a, s.a), 0);
  s.a->ms_tms.tms_utime = 500;
  s.b->ms_tms.tms_utime = 501;
  EXPECT_EQ(ms_time_cmp(s.a, s.b), 1);
  EXPECT_EQ(ms_time_cmp(s.b, s.a), -1);
  s.b->ms_tms.tms_utime = 500;
  s.b->ms_tms.tms_stime = 99;
  EXPECT_EQ(ms_time_cmp(s.a, s.b), 0);
}

TEST(MsTime, GetRecordsNonDecreasingUserTime) {
  Samples s;
  ASSERT_NE(s.a, nullptr);
  ASSERT_NE(s.b, nullptr);
  ms_time_get(s.a);
  volatile uint32_t sink = 0;
  for (uint32_t i = 0; i < 1000000; i++) sink = sink + i;
  ms_time_get(s.b);
  EXPECT_NE(ms_time_cmp(s.a, s.b), -1);
  EXPECT_GE(ms_time_diff(s.a, s.b), 1e-7);
}

TEST(Process, OrdinaryProcessHasNotChangedIdentity) {
  EXPECT_EQ(MORVANE_issetugid(), 0);
  MORVANE_init();
}
