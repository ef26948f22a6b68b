// Shared inside the error component: the storage functions in force and the
// release of a thread's queue.
#ifndef MORVANE_ERR_INTERNAL_H
#define MORVANE_ERR_INTERNAL_H

#include <morvane/err.h>

namespace morvane::err {

// The table in force, installing the built-in one (under lock 1) when none is.
const ERR_FNS* err_fns();

// Frees `es` and every text it owns.
void err_state_free(ERR_STATE* es);

}  // namespace morvane::err

#endif  // MORVANE_ERR_INTERNAL_H
