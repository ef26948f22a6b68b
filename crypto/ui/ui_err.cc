// The text tables of the prompt library (40), generated from ui.errors, and
// their loader.

#include <stddef.h>

#include <iterator>

#include <morvane/err.h>
#include <morvane/ui.h>

#include "internal/err_load.h"

#include "ui_err_data.inc"

static_assert(std::size(UI_str_functs) == 12 + 1);
static_assert(std::size(UI_str_reasons) == 8 + 1);

/* see morvane/ui.h */
void ERR_load_UI_strings(void) {
  morvane::internal::load_error_strings(UI_str_functs, UI_str_reasons);
}
