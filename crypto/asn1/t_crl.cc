// The text form of certificate revocation lists (RFC 5280, 5.1).
//
// Implementation notes: a time that does not parse prints "Bad time value"
// without failing the printer, so each time is printed into a buffer (see
// print_as_one_write) whose one write is what counts; every other write is
// checked, and the first that fails or is short ends the printer with 0.

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

using morvane::asn1::put_whole;

namespace {

// The time, or "Bad time value" for one that does not parse: false only
// when the text did not go out whole.
bool print_time(BIO* out, const ASN1_TIME* t) {
  return morvane::asn1::print_as_one_write(out, [t](BIO* b) { ASN1_TIME_print(b, t); });
}

bool print_revoked(BIO* out, const STACK* rev) {
  if (!put_whole(out, sk_num(rev) > 0 ? "Revoked Certificates:\n" : "No Revoked Certificates.\n"))
    return false;
  for (int i = 0; i < sk_num(rev); i++) {
    auto* r = reinterpret_cast<X509_REVOKED*>(sk_value(rev, i));
    if (!put_whole(out, "    Serial Number: ") || i2a_ASN1_INTEGER(out, r->serialNumber) <= 0 ||
        !put_whole(out, "\n        Revocation Date: ") || !print_time(out, r->revocationDate) ||
        !put_whole(out, "\n") ||
        !X509V3_extensions_print(out, "CRL entry extensions", r->extensions, 0, 8))
      return false;
  }
  return true;
}

}  // namespace

/* see morvane/x509.h */
int X509_CRL_print(BIO* out, X509_CRL* x) {
  const X509_CRL_INFO* ci = x->crl;
  const long v = ci->version != nullptr ? ASN1_INTEGER_get(ci->version) : 0;
  if (!put_whole(out, "Certificate Revocation List (CRL):\n") ||
      BIO_printf(out, "%8sVersion %lu (0x%lx)\n", "", v + 1, v) <= 0 ||
      BIO_printf(out, "%8sSignature Algorithm: %s\n", "",
                 morvane::asn1::algorithm_name(x->sig_alg, "NONE")) <= 0)
    return 0;
  char* issuer = X509_NAME_oneline(ci->issuer, nullptr, 0);  // queues its failure
  const bool issuer_ok = issuer != nullptr && BIO_printf(out, "%8sIssuer: %s\n", "", issuer) > 0;
  MORVANE_free(issuer);
  if (!issuer_ok || BIO_printf(out, "%8sLast Update: ", "") <= 0 ||
      !print_time(out, ci->lastUpdate) || BIO_printf(out, "\n%8sNext Update: ", "") <= 0 ||
      !(ci->nextUpdate != nullptr ? print_time(out, ci->nextUpdate) : put_whole(out, "NONE")) ||
      !put_whole(out, "\n") ||
      !X509V3_extensions_print(out, "CRL extensions", ci->extensions, 0, 8) ||
      !print_revoked(out, ci->revoked) || X509_signature_print(out, x->sig_alg, x->signature) <= 0)
    return 0;
  return 1;
}

/* see morvane/x509.h */
int X509_CRL_print_fp(FILE* fp, X509_CRL* x) {
  return morvane::asn1::print_to_file(fp, X509_F_X509_CRL_PRINT_FP,
                                      [&](BIO* b) { return X509_CRL_print(b, x); });
}
