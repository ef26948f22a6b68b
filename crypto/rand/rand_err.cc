// The text tables of the random generator library (36), generated from
// rand.errors, and their loader.

#include <stddef.h>

#include <iterator>

#include <morvane/err.h>
#include <morvane/rand.h>

#include "internal/err_load.h"

#include "rand_err_data.inc"

static_assert(std::size(RAND_str_functs) == 12 + 1);
static_assert(std::size(RAND_str_reasons) == 12 + 1);

/* see morvane/rand.h */
void ERR_load_RAND_strings(void) {
  morvane::internal::load_error_strings(RAND_str_functs, RAND_str_reasons);
}
