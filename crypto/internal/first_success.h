// Trying several candidates in turn (the certificates that carry one name,
// the key blocks of one recipient) until one serves.
//
// Implementation notes: what a later try queued is taken back before the
// next; when none serves, the queue holds what the first one queued, as when
// it was the only candidate.  Each candidate is tried once.
#ifndef MORVANE_INTERNAL_FIRST_SUCCESS_H
#define MORVANE_INTERNAL_FIRST_SUCCESS_H

#include "internal/err_mark.h"

namespace morvane::internal {

// The result of the first of attempt(0) .. attempt(n - 1) that is above 0,
// else that of attempt(0) (0 when n is 0).
template <typename Attempt>
int first_success(int n, Attempt&& attempt) {
  if (n <= 0) return 0;
  ErrorMark all;
  const int first = attempt(0);
  for (int i = 1; i < n && first <= 0; i++) {
    int r;
    {
      ErrorMark mark;
      r = attempt(i);
      if (r <= 0) mark.pop();
    }
    // The inner mark is gone, so the pop reaches back past the first try.
    if (r > 0) {
      all.pop();
      return r;
    }
  }
  return first;
}

}  // namespace morvane::internal

#endif  // MORVANE_INTERNAL_FIRST_SUCCESS_H
