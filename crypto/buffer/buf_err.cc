// The text tables of the buffer library (7), generated from buf.errors;
// ERR_load_BUF_strings registers them.

#include <stddef.h>

#include <iterator>

#include <morvane/buffer.h>
#include <morvane/err.h>

#include "buf_err_data.inc"

static_assert(std::size(BUF_str_functs) == 6 + 1);
static_assert(std::size(BUF_str_reasons) == 1);  // every failure is a common reason
