// The text tables of the PKCS#7 library (33), generated from pkcs7.errors, and
// their loader.

#include <stddef.h>

#include <iterator>

#include <morvane/err.h>
#include <morvane/pkcs7.h>

#include "internal/err_load.h"

#include "pkcs7_err_data.inc"

static_assert(std::size(PKCS7_str_functs) == 29 + 1);
static_assert(std::size(PKCS7_str_reasons) == 51 + 1);

/* see morvane/pkcs7.h */
void ERR_load_PKCS7_strings(void) {
  morvane::internal::load_error_strings(PKCS7_str_functs, PKCS7_str_reasons);
}
