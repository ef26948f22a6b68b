// Certificate lists and time comparison shared by the OCSP sources.

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

#include "ocsp/ocsp_local.h"

namespace morvane::ocsp {

int push_cert(STACK** certs, X509* cert) {
  if (*certs == nullptr) {
    *certs = sk_new_null();
    if (*certs == nullptr) return 0;
  }
  if (!sk_push(*certs, reinterpret_cast<char*>(cert))) return 0;
  CRYPTO_add(&cert->references, 1, CRYPTO_LOCK_X509);
  return 1;
}

namespace {

bool digits(const unsigned char* p, int n, int* out) {
  int v = 0;
  for (int i = 0; i < n; i++) {
    if (p[i] < '0' || p[i] > '9') return false;
    v = v * 10 + (p[i] - '0');
  }
  *out = v;
  return true;
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
long long days_from_civil(int y, int m, int d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long yoe = y - era * 400;
  const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

}  // namespace

// Reads YYYYMMDDHHMM[SS][.fff](Z|+hhmm|-hhmm), the forms
// ASN1_GENERALIZEDTIME_check accepts.
int cmp_time(const ASN1_GENERALIZEDTIME* gt, long long t) {
  if (gt == nullptr || gt->data == nullptr || gt->length < 13) return 0;
  const unsigned char* p = gt->data;
  const int n = gt->length;
  int y, mo, d, h, mi, s = 0;
  if (!digits(p, 4, &y) || !digits(p + 4, 2, &mo) || !digits(p + 6, 2, &d) ||
      !digits(p + 8, 2, &h) || !digits(p + 10, 2, &mi))
    return 0;
  int i = 12;
  if (i + 2 <= n && digits(p + i, 2, &s)) i += 2;
  if (i < n && (p[i] == '.' || p[i] == ',')) {
    i++;
    while (i < n && p[i] >= '0' && p[i] <= '9') i++;
  }
  long long off = 0;
  if (i < n && p[i] == 'Z') {
    i++;
  } else if (i + 5 <= n && (p[i] == '+' || p[i] == '-')) {
    int oh, om;
    if (!digits(p + i + 1, 2, &oh) || !digits(p + i + 3, 2, &om)) return 0;
    off = (oh * 60LL + om) * 60;
    if (p[i] == '-') off = -off;
    i += 5;
  }
  if (i != n || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60) return 0;
  const long long v = days_from_civil(y, mo, d) * 86400 + h * 3600LL + mi * 60LL + s - off;
  return v <= t ? -1 : 1;
}

}  // namespace morvane::ocsp
