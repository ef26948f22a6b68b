// The text tables of the big-number library (3), generated from
// bn.errors, and their loader.

#include <stddef.h>

#include <iterator>

#include <morvane/err.h>
#include <morvane/bn.h>

#include "internal/err_load.h"

#include "bn_err_data.inc"

static_assert(std::size(BN_str_functs) == 44 + 1);
static_assert(std::size(BN_str_reasons) == 18 + 1);

/* see morvane/bn.h */
void ERR_load_BN_strings(void) {
  morvane::internal::load_error_strings(BN_str_functs, BN_str_reasons);
}
