// The text tables of the PKCS#12 library (35), generated from pkcs12.errors,
// and their loader.

#include <stddef.h>

#include <iterator>

#include <morvane/err.h>
#include <morvane/pkcs12.h>

#include "internal/err_load.h"

#include "pkcs12_err_data.inc"

static_assert(std::size(PKCS12_str_functs) == 33 + 1);
static_assert(std::size(PKCS12_str_reasons) == 26 + 1);

/* see morvane/pkcs12.h */
void ERR_load_PKCS12_strings(void) {
  morvane::internal::load_error_strings(PKCS12_str_functs, PKCS12_str_reasons);
}
