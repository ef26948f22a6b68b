// The text form of certificate extensions: a list under its title, each
// extension's type and criticality, and its value.
//
// Implementation notes: no extension method is registered yet, so every
// value prints raw (ASN1_STRING_print of the extension's OCTET STRING);
// X509V3_EXT_print is where the methods' printers will answer.

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include "asn1/internal.h"

/* see morvane/x509v3.h */
int X509V3_EXT_print(BIO* /*out*/, X509_EXTENSION* /*ext*/, unsigned long /*flag*/,
                     int /*indent*/) {
  return 0;
}

/* see morvane/x509v3.h */
int X509V3_extensions_print(BIO* bp, const char* title, STACK* exts, unsigned long flag,
                            int indent) {
  if (sk_num(exts) <= 0) return 1;
  if (title != nullptr) {
    if (BIO_printf(bp, "%*s%s:\n", indent, "", title) <= 0) return 0;
    indent += 4;
  }
  for (int i = 0; i < sk_num(exts); i++) {
    auto* ex = reinterpret_cast<X509_EXTENSION*>(sk_value(exts, i));
    if (!BIO_indent(bp, indent, indent) || morvane::asn1::write_obj(bp, ex->object) <= 0 ||
        BIO_printf(bp, ": %s\n", ex->critical > 0 ? "critical" : "") <= 0)
      return 0;
    if (!X509V3_EXT_print(bp, ex, flag, indent + 4) &&
        (!BIO_indent(bp, indent + 4, indent + 4) || !ASN1_STRING_print(bp, ex->value)))
      return 0;
    if (BIO_write(bp, "\n", 1) != 1) return 0;
  }
  return 1;
}
