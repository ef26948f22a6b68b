// The text tables of the compression library (41), generated from comp.errors,
// and their loader.

#include <stddef.h>

#include <iterator>

#include <morvane/err.h>
#include <morvane/comp.h>

#include "internal/err_load.h"

#include "comp_err_data.inc"

static_assert(std::size(COMP_str_functs) == 4 + 1);
static_assert(std::size(COMP_str_reasons) == 3 + 1);

/* see morvane/comp.h */
void ERR_load_COMP_strings(void) {
  morvane::internal::load_error_strings(COMP_str_functs, COMP_str_reasons);
}
