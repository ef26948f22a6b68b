// The text tables of the CRYPTO library (15), generated from crypto.errors,
// and their loader.

#include <stddef.h>

#include <iterator>

#include <morvane/crypto.h>
#include <morvane/err.h>

#include "internal/err_load.h"

#include "crypto_err_data.inc"

static_assert(std::size(CRYPTO_str_functs) == 10 + 1);
static_assert(std::size(CRYPTO_str_reasons) == 2 + 1);

/* see morvane/crypto.h */
void ERR_load_CRYPTO_strings(void) {
  morvane::internal::load_error_strings(CRYPTO_str_functs, CRYPTO_str_reasons);
}
