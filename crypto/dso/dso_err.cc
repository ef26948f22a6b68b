// The text tables of the shared-object library (37), generated from dso.errors,
// and their loader.

#include <stddef.h>

#include <iterator>

#include <morvane/err.h>
#include <morvane/dso.h>

#include "internal/err_load.h"

#include "dso_err_data.inc"

static_assert(std::size(DSO_str_functs) == 37 + 1);
static_assert(std::size(DSO_str_reasons) == 17 + 1);

/* see morvane/dso.h */
void ERR_load_DSO_strings(void) {
  morvane::internal::load_error_strings(DSO_str_functs, DSO_str_reasons);
}
