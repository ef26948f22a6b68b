// The text form of certificate revocation lists (RFC 5280, 5.1): every
// section is printed whatever its writes return, and the result is 1.

#include <stdio.h>

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include "asn1/internal.h"

/* see morvane/x509.h */
int X509_CRL_print(BIO* out, X509_CRL* x) {
  const X509_CRL_INFO* ci = x->crl;
  BIO_puts(out, "Certificate Revocation List (CRL):\n");
  const long v = ci->version != nullptr ? ASN1_INTEGER_get(ci->version) : 0;
  BIO_printf(out, "%8sVersion %lu (0x%lx)\n", "", v + 1, v);
  BIO_printf(out, "%8sSignature Algorithm: %s\n", "", morvane::asn1::algorithm_name(x->sig_alg, "NONE"));
  char* issuer = X509_NAME_oneline(ci->issuer, nullptr, 0);
  BIO_printf(out, "%8sIssuer: %s\n", "", issuer != nullptr ? issuer : "");
  MORVANE_free(issuer);
  BIO_printf(out, "%8sLast Update: ", "");
  ASN1_TIME_print(out, ci->lastUpdate);
  BIO_printf(out, "\n%8sNext Update: ", "");
  if (ci->nextUpdate != nullptr)
    ASN1_TIME_print(out, ci->nextUpdate);
  else
    BIO_puts(out, "NONE");
  BIO_puts(out, "\n");
  X509V3_extensions_print(out, "CRL extensions", ci->extensions, 0, 8);
  const STACK* rev = ci->revoked;
  BIO_puts(out, sk_num(rev) > 0 ? "Revoked Certificates:\n" : "No Revoked Certificates.\n");
  for (int i = 0; i < sk_num(rev); i++) {
    auto* r = reinterpret_cast<X509_REVOKED*>(sk_value(rev, i));
    BIO_puts(out, "    Serial Number: ");
    i2a_ASN1_INTEGER(out, r->serialNumber);
    BIO_puts(out, "\n        Revocation Date: ");
    ASN1_TIME_print(out, r->revocationDate);
    BIO_puts(out, "\n");
    X509V3_extensions_print(out, "CRL entry extensions", r->extensions, 0, 8);
  }
  X509_signature_print(out, x->sig_alg, x->signature);
  return 1;
}

/* see morvane/x509.h */
int X509_CRL_print_fp(FILE* fp, X509_CRL* x) {
  return morvane::asn1::print_to_file(fp, X509_F_X509_CRL_PRINT_FP,
                                      [&](BIO* b) { return X509_CRL_print(b, x); });
}
