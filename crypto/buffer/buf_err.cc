// The text tables of the buffer library (7), generated from buf.errors, and
// their loader.

#include <stddef.h>

#include <iterator>

#include <morvane/buffer.h>
#include <morvane/err.h>

#include "internal/err_load.h"

#include "buf_err_data.inc"

static_assert(std::size(BUF_str_functs) == 6 + 1);
static_assert(std::size(BUF_str_reasons) == 1 + 1);  // the size limit; the rest are common

/* see morvane/buffer.h */
void ERR_load_BUF_strings(void) { morvane::internal::load_error_strings(BUF_str_functs, BUF_str_reasons); }
