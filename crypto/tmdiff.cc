// CPU-time stopwatch over times(2): samples of the process times and the user
// time between two samples, in seconds.
//
// Only the user time takes part in the comparisons.  The tick difference is
// taken modulo 2^32 (an earlier b gives a large positive span in ms_time_diff)
// and as a signed 32-bit value in ms_time_cmp.

#include <stdint.h>
#include <string.h>
#include <sys/times.h>
#include <unistd.h>

#include <morvane/crypto.h>

namespace {

constexpr double kMinSpan = 1e-7;

uint32_t user_ticks(const MS_TM* t) {
  return static_cast<uint32_t>(t->ms_tms.tms_utime);
}

double ticks_per_second() {
  return static_cast<double>(sysconf(_SC_CLK_TCK));
}

}  // namespace

/* see morvane/crypto.h */
MS_TM* ms_time_new(void) {
  auto* ret = static_cast<MS_TM*>(MORVANE_malloc(sizeof(MS_TM)));
  if (ret != nullptr) memset(ret, 0, sizeof(*ret));
  return ret;
}

void ms_time_free(MS_TM* a) {
  if (a != nullptr) MORVANE_free(a);
}

void ms_time_get(MS_TM* tm) {
  times(&tm->ms_tms);
}

double ms_time_diff(const MS_TM* a, const MS_TM* b) {
  uint32_t d = user_ticks(b) - user_ticks(a);
  double ret = static_cast<double>(d) / ticks_per_second();
  return ret < kMinSpan ? kMinSpan : ret;
}

int ms_time_cmp(const MS_TM* a, const MS_TM* b) {
  auto d = static_cast<int32_t>(user_ticks(b) - user_ticks(a));
  double span = static_cast<double>(d) / ticks_per_second();
  if (span == 0) return 0;
  return span < 0 ? -1 : 1;
}
