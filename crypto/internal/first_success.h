// Trying several candidates in turn (the certificates that carry one name,
// the key blocks of one recipient) until one serves.
//
// Implementation notes: what a failed try queued is taken back before the
// next.  When none serves, the first is tried once more, so that the queue
// then holds what it says, as when it was the only candidate.
#ifndef MORVANE_INTERNAL_FIRST_SUCCESS_H
#define MORVANE_INTERNAL_FIRST_SUCCESS_H

#include "internal/err_mark.h"

namespace morvane::internal {

// The result of the first of attempt(0) .. attempt(n - 1) that is above 0,
// else that of attempt(0) (0 when n is 0).  One candidate is tried once.
template <typename Attempt>
int first_success(int n, Attempt&& attempt) {
  if (n <= 1) return n == 1 ? attempt(0) : 0;
  for (int i = 0; i < n; i++) {
    ErrorMark mark;
    const int r = attempt(i);
    if (r > 0) return r;
    mark.pop();
  }
  return attempt(0);
}

}  // namespace morvane::internal

#endif  // MORVANE_INTERNAL_FIRST_SUCCESS_H
