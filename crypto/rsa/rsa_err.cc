// The text tables of the RSA library (4), generated from rsa.errors, and their
// loader.

#include <stddef.h>

#include <iterator>

#include <morvane/err.h>
#include <morvane/rsa.h>

#include "internal/err_load.h"

#include "rsa_err_data.inc"

static_assert(std::size(RSA_str_functs) == 47 + 1);
static_assert(std::size(RSA_str_reasons) == 46 + 1);

/* see morvane/rsa.h */
void ERR_load_RSA_strings(void) {
  morvane::internal::load_error_strings(RSA_str_functs, RSA_str_reasons);
}
