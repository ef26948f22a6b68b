// The error component's own text tables, generated from err.errors: library
// names, system-call names (registered under library 2) and the reasons
// common to every library.  ERR_load_ERR_strings registers them.

#include <stddef.h>

#include <iterator>

#include <morvane/err.h>

#include "err_err_data.inc"

static_assert(std::size(ERR_str_libraries) == 27 + 1);
static_assert(std::size(ERR_str_functs) == 10 + 1);
static_assert(std::size(ERR_str_reasons) == 35 + 1);
