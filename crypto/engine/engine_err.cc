// The text tables of the engine library (38), generated from engine.errors, and
// their loader.

#include <stddef.h>

#include <iterator>

#include <morvane/err.h>
#include <morvane/engine.h>

#include "internal/err_load.h"

#include "engine_err_data.inc"

static_assert(std::size(ENGINE_str_functs) == 37 + 1);
static_assert(std::size(ENGINE_str_reasons) == 40 + 1);

/* see morvane/engine.h */
void ERR_load_ENGINE_strings(void) {
  morvane::internal::load_error_strings(ENGINE_str_functs, ENGINE_str_reasons);
}
