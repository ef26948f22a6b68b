// The text tables of the X.509 library (11), generated from x509.errors, and
// their loader.

#include <stddef.h>

#include <iterator>

#include <morvane/err.h>
#include <morvane/x509.h>

#include "internal/err_load.h"

#include "x509_err_data.inc"

static_assert(std::size(X509_str_functs) == 51 + 1);
static_assert(std::size(X509_str_reasons) == 25 + 1);

/* see morvane/x509.h */
void ERR_load_X509_strings(void) {
  morvane::internal::load_error_strings(X509_str_functs, X509_str_reasons);
}
