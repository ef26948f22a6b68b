// Helpers shared by the files of the X.509 library.
#ifndef MORVANE_CRYPTO_X509_LOCAL_H
#define MORVANE_CRYPTO_X509_LOCAL_H

#include <morvane/asn1.h>
#include <morvane/evp.h>

namespace morvane::x509 {

// The object named by field (a short or long name or a dotted number), new
// (free it); null with "invalid field name" under function code func, the
// text attached as "name=" field.
ASN1_OBJECT* field_object(const char* field, int func);

// 1 when k is the private key of xk (which is freed); else 0 with the
// reason under function code func ("unable to get certs public key" for a
// null xk).
int check_private_key(EVP_PKEY* xk, EVP_PKEY* k, int func);

}  // namespace morvane::x509

#endif  // MORVANE_CRYPTO_X509_LOCAL_H
