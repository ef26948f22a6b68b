// The text tables of the stream library (32), generated from bio.errors, and
// their loader.

#include <stddef.h>

#include <iterator>

#include <morvane/bio.h>
#include <morvane/err.h>

#include "internal/err_load.h"

#include "bio_err_data.inc"

static_assert(std::size(BIO_str_functs) == 32 + 1);
static_assert(std::size(BIO_str_reasons) == 31 + 1);

/* see morvane/bio.h */
void ERR_load_BIO_strings(void) { morvane::internal::load_error_strings(BIO_str_functs, BIO_str_reasons); }
