// The text tables of the ECDH library (43), generated from ecdh.errors, and
// their loader.

#include <stddef.h>

#include <iterator>

#include <morvane/err.h>
#include <morvane/ecdh.h>

#include "internal/err_load.h"

#include "ecdh_err_data.inc"

static_assert(std::size(ECDH_str_functs) == 2 + 1);
static_assert(std::size(ECDH_str_reasons) == 4 + 1);

/* see morvane/ecdh.h */
void ERR_load_ECDH_strings(void) {
  morvane::internal::load_error_strings(ECDH_str_functs, ECDH_str_reasons);
}
