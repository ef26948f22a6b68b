// Shared inside the error component: the storage functions in force, the
// release of a thread's queue and the checked registration of texts.
#ifndef MORVANE_ERR_INTERNAL_H
#define MORVANE_ERR_INTERNAL_H

#include <morvane/err.h>

namespace morvane::err {

// The table in force, installing the built-in one (under lock 1) when none is.
const ERR_FNS* err_fns();

// Frees `es` and every text it owns.
void err_state_free(ERR_STATE* es);

// Registers one text entry (ORing `lib` into its code, as ERR_load_strings
// does): true when the table holds it afterwards.
bool register_entry(int lib, ERR_STRING_DATA* str);

// ERR_load_strings over an array up to its terminator: true when every
// entry is in the table afterwards.
bool register_strings(int lib, ERR_STRING_DATA* str);

}  // namespace morvane::err

#endif  // MORVANE_ERR_INTERNAL_H
