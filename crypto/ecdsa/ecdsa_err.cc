// The text tables of the ECDSA library (42), generated from ecdsa.errors, and
// their loader.

#include <stddef.h>

#include <iterator>

#include <morvane/err.h>
#include <morvane/ecdsa.h>

#include "internal/err_load.h"

#include "ecdsa_err_data.inc"

static_assert(std::size(ECDSA_str_functs) == 4 + 1);
static_assert(std::size(ECDSA_str_reasons) == 10 + 1);

/* see morvane/ecdsa.h */
void ERR_load_ECDSA_strings(void) {
  morvane::internal::load_error_strings(ECDSA_str_functs, ECDSA_str_reasons);
}
