// The text tables of the envelope interface library (6), generated from
// evp.errors, and their loader.

#include <stddef.h>

#include <iterator>

#include <morvane/err.h>
#include <morvane/evp.h>

#include "internal/err_load.h"

#include "evp_err_data.inc"

static_assert(std::size(EVP_str_functs) == 54 + 1);
static_assert(std::size(EVP_str_reasons) == 57 + 1);

/* see morvane/evp.h */
void ERR_load_EVP_strings(void) {
  morvane::internal::load_error_strings(EVP_str_functs, EVP_str_reasons);
}
