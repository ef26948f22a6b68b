// The text tables of the object database library (8), generated from
// obj.errors, and their loader.

#include <stddef.h>

#include <iterator>

#include <morvane/err.h>
#include <morvane/objects.h>

#include "internal/err_load.h"

#include "obj_err_data.inc"

static_assert(std::size(OBJ_str_functs) == 11 + 1);
static_assert(std::size(OBJ_str_reasons) == 7 + 1);

/* see morvane/objects.h */
void ERR_load_OBJ_strings(void) {
  morvane::internal::load_error_strings(OBJ_str_functs, OBJ_str_reasons);
}
