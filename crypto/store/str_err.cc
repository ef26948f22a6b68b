// The text tables of the object store (library 44), generated from
// store.errors, and their loader.  The library has no name text, and only
// this loader registers its texts.

#include <stddef.h>

#include <iterator>

#include <morvane/err.h>
#include <morvane/store.h>

#include "internal/err_load.h"

#include "store_err_data.inc"

static_assert(std::size(STORE_str_functs) == 72 + 1);
static_assert(std::size(STORE_str_reasons) == 47 + 1);

/* see morvane/store.h */
void ERR_load_STORE_strings(void) {
  morvane::internal::load_error_strings(STORE_str_functs, STORE_str_reasons);
}
