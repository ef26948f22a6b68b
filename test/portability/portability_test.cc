// String and byte comparisons, UTC conversion, the CPU-time stopwatch and the
// changed-identity test.

#include <morvane/crypto.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <limits>
#include <string>
#include <utility>

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

// year-mon-mday hour:min:sec wday yday isdst, as struct tm holds them.
std::string Fields(const struct tm& t) {
  char buf[80];
  snprintf(buf, sizeof buf, "%d-%d-%d %d:%d:%d %d %d %d", t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour,
           t.tm_min, t.tm_sec, t.tm_wday, t.tm_yday, t.tm_isdst);
  return buf;
}

TEST(Gmtime, ConvertsIntoTheCallersStructure) {
  const std::pair<time_t, const char*> cases[] = {
      {0, "70-0-1 0:0:0 4 0 0"},                  // 1 January 1970, a Thursday
      {1234567890, "109-1-13 23:31:30 5 43 0"},   // 2009-02-13 23:31:30 UTC, a Friday
      {978307199, "100-11-31 23:59:59 0 365 0"},  // the last second of leap year 2000
  };
  for (const auto& [t, want] : cases) {
    struct tm out {};
    ASSERT_EQ(MORVANE_gmtime(&t, &out), &out);
    EXPECT_EQ(Fields(out), want);
  }
  struct tm out {};
  const time_t huge = std::numeric_limits<time_t>::max();  // no representable year
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

// Differences and comparisons look at the user ticks only; a difference is
// never below a tenth of a microsecond, and an earlier b wraps as an
// unsigned 32-bit tick count.
TEST(MsTime, DiffAndCmpUseTheUserTicks) {
  Samples s;
  ASSERT_TRUE(s.a != nullptr && s.b != nullptr);
  EXPECT_EQ(s.a->ms_tms.tms_utime + s.a->ms_tms.tms_stime + s.a->ms_tms.tms_cutime +
                s.a->ms_tms.tms_cstime,
            0);           // zero-filled
  ms_time_free(nullptr);  // accepted
  EXPECT_EQ(ms_time_diff(s.a, s.a), 1e-7);
  EXPECT_EQ(ms_time_cmp(s.a, s.a), 0);
  s.a->ms_tms.tms_utime = 1000;
  s.b->ms_tms.tms_utime = 1100;
  s.b->ms_tms.tms_stime = 5000;
  s.b->ms_tms.tms_cutime = 7000;
  EXPECT_DOUBLE_EQ(ms_time_diff(s.a, s.b), 100 / Tps());
  EXPECT_DOUBLE_EQ(ms_time_diff(s.b, s.a), (4294967296.0 - 100) / Tps());
  EXPECT_EQ(ms_time_cmp(s.a, s.b), 1);
  EXPECT_EQ(ms_time_cmp(s.b, s.a), -1);
  s.b->ms_tms.tms_utime = 1000;
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
