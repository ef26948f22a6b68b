// The text tables of the OCSP library (39), generated from ocsp.errors, and
// their loader.

#include <stddef.h>

#include <iterator>

#include <morvane/err.h>
#include <morvane/ocsp.h>

#include "internal/err_load.h"

#include "ocsp_err_data.inc"

static_assert(std::size(OCSP_str_functs) == 24 + 1);
static_assert(std::size(OCSP_str_reasons) == 33 + 1);

/* see morvane/ocsp.h */
void ERR_load_OCSP_strings(void) {
  morvane::internal::load_error_strings(OCSP_str_functs, OCSP_str_reasons);
}
