// The current time shifted by a number of seconds, as certificates and
// revocation lists carry it.

#include <time.h>

#include <morvane/asn1.h>
#include <morvane/x509.h>

/* see morvane/x509.h */
ASN1_TIME* X509_gmtime_adj(ASN1_TIME* s, long adj) {
  const time_t t = time(nullptr) + static_cast<time_t>(adj);
  if (s != nullptr && s->type == ASN1_UT_UTCTIME) return ASN1_UTCTIME_set(s, t);
  if (s != nullptr && s->type == ASN1_UT_GENERALIZEDTIME) return ASN1_GENERALIZEDTIME_set(s, t);
  return ASN1_TIME_set(s, t);
}
