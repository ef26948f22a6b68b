// The text tables of the PEM library (9), generated from pem.errors, and their
// loader.

#include <stddef.h>

#include <iterator>

#include <morvane/err.h>
#include <morvane/pem.h>

#include "internal/err_load.h"

#include "pem_err_data.inc"

static_assert(std::size(PEM_str_functs) == 26 + 1);
static_assert(std::size(PEM_str_reasons) == 17 + 1);

/* see morvane/pem.h */
void ERR_load_PEM_strings(void) {
  morvane::internal::load_error_strings(PEM_str_functs, PEM_str_reasons);
}
