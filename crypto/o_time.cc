// UTC time conversion into a caller-owned structure.
//
// gmtime_r fills the caller's structure directly, so the conversion does not
// pass through (or disturb) the system's shared gmtime buffer and is safe
// beside other threads' gmtime calls.

#include <time.h>

#include <morvane/crypto.h>

/* see morvane/crypto.h */
struct tm* MORVANE_gmtime(const time_t* timer, struct tm* result) {
  return gmtime_r(timer, result);
}
