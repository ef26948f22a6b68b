// Certificate lists and compared moments shared by the OCSP sources.

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/ocsp.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

#include "ocsp/ocsp_local.h"

namespace morvane::ocsp {

int push_cert(STACK** certs, X509* cert, int func) {
  if (*certs == nullptr) *certs = sk_new_null();
  if (*certs == nullptr || !sk_push(*certs, reinterpret_cast<char*>(cert))) {
    OCSPerr(func, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  CRYPTO_add(&cert->references, 1, CRYPTO_LOCK_X509);
  return 1;
}

time_t moment(long long now, long long skew) {
  // 0000-01-01T00:00:00Z and 9999-12-31T23:59:59Z.
  constexpr long long kFirst = -62167219200LL;
  constexpr long long kLast = 253402300799LL;
  if (skew > kLast - kFirst) skew = kLast - kFirst;
  if (skew < kFirst - kLast) skew = kFirst - kLast;
  long long t = now + skew;
  if (t < kFirst) t = kFirst;
  if (t > kLast) t = kLast;
  return static_cast<time_t>(t);
}

}  // namespace morvane::ocsp
