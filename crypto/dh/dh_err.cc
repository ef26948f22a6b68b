// The text tables of the Diffie-Hellman library (5), generated from dh.errors,
// and their loader.

#include <stddef.h>

#include <iterator>

#include <morvane/err.h>
#include <morvane/dh.h>

#include "internal/err_load.h"

#include "dh_err_data.inc"

static_assert(std::size(DH_str_functs) == 11 + 1);
static_assert(std::size(DH_str_reasons) == 6 + 1);

/* see morvane/dh.h */
void ERR_load_DH_strings(void) {
  morvane::internal::load_error_strings(DH_str_functs, DH_str_reasons);
}
