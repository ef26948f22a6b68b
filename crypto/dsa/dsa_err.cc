// The text tables of the DSA library (10), generated from dsa.errors, and their
// loader.

#include <stddef.h>

#include <iterator>

#include <morvane/err.h>
#include <morvane/dsa.h>

#include "internal/err_load.h"

#include "dsa_err_data.inc"

static_assert(std::size(DSA_str_functs) == 19 + 1);
static_assert(std::size(DSA_str_reasons) == 11 + 1);

/* see morvane/dsa.h */
void ERR_load_DSA_strings(void) {
  morvane::internal::load_error_strings(DSA_str_functs, DSA_str_reasons);
}
