// The text tables of the elliptic-curve library (16), generated from ec.errors,
// and their loader.

#include <stddef.h>

#include <iterator>

#include <morvane/err.h>
#include <morvane/ec.h>

#include "internal/err_load.h"

#include "ec_err_data.inc"

static_assert(std::size(EC_str_functs) == 109 + 1);
static_assert(std::size(EC_str_reasons) == 41 + 1);

/* see morvane/ec.h */
void ERR_load_EC_strings(void) {
  morvane::internal::load_error_strings(EC_str_functs, EC_str_reasons);
}
