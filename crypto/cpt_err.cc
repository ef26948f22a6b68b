// The text tables of the CRYPTO library (15), generated from crypto.errors;
// ERR_load_CRYPTO_strings registers them.

#include <stddef.h>

#include <iterator>

#include <morvane/err.h>

#include "crypto_err_data.inc"

static_assert(std::size(CRYPTO_str_functs) == 9 + 1);
static_assert(std::size(CRYPTO_str_reasons) == 1 + 1);
