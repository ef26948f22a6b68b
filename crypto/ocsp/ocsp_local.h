// Helpers shared by the OCSP sources.
#ifndef MORVANE_CRYPTO_OCSP_OCSP_LOCAL_H
#define MORVANE_CRYPTO_OCSP_OCSP_LOCAL_H

#include <time.h>

#include <morvane/asn1.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

namespace morvane::ocsp {

// Object identifiers by number (RFC 6960, 4.2.1 and 4.4).
inline constexpr int kNidSha1 = 64;
inline constexpr int kNidAdOcsp = 178;
inline constexpr int kNidBasic = 365;
inline constexpr int kNidNonce = 366;
inline constexpr int kNidCrlId = 367;
inline constexpr int kNidAcceptResponses = 368;
inline constexpr int kNidArchiveCutoff = 370;
inline constexpr int kNidServiceLocator = 371;

// Appends cert to *certs (created when null) and takes a reference: 1, or
// 0 with "malloc failure" queued under func.
int push_cert(STACK** certs, X509* cert, int func);

// now + skew (seconds since 1970), held within the years 0000 to 9999 that
// a GeneralizedTime can name, for X509_cmp_time.
time_t moment(long long now, long long skew);

}  // namespace morvane::ocsp

#endif  // MORVANE_CRYPTO_OCSP_OCSP_LOCAL_H
