// The text tables of the ASN.1 library (13), generated from asn1.errors, and
// their loader.

#include <stddef.h>

#include <iterator>

#include <morvane/err.h>
#include <morvane/asn1.h>

#include "internal/err_load.h"

#include "asn1_err_data.inc"

static_assert(std::size(ASN1_str_functs) == 117 + 1);
static_assert(std::size(ASN1_str_reasons) == 117 + 1);

/* see morvane/asn1.h */
void ERR_load_ASN1_strings(void) {
  morvane::internal::load_error_strings(ASN1_str_functs, ASN1_str_reasons);
}
