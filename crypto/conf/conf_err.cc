// The text tables of the configuration library (14), generated from
// conf.errors, and their loader.

#include <stddef.h>

#include <iterator>

#include <morvane/conf.h>
#include <morvane/err.h>

#include "internal/err_load.h"

#include "conf_err_data.inc"

static_assert(std::size(CONF_str_functs) == 24 + 1);
static_assert(std::size(CONF_str_reasons) == 19 + 1);

/* see morvane/conf.h */
void ERR_load_CONF_strings(void) {
  morvane::internal::load_error_strings(CONF_str_functs, CONF_str_reasons);
}
