// The text tables of the X.509 v3 library (34), generated from x509v3.errors,
// and their loader.

#include <stddef.h>

#include <iterator>

#include <morvane/err.h>
#include <morvane/x509v3.h>

#include "internal/err_load.h"

#include "x509v3_err_data.inc"

static_assert(std::size(X509V3_str_functs) == 62 + 1);
static_assert(std::size(X509V3_str_reasons) == 67 + 1);

/* see morvane/x509v3.h */
void ERR_load_X509V3_strings(void) {
  morvane::internal::load_error_strings(X509V3_str_functs, X509V3_str_reasons);
}
