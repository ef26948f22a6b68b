// The current time shifted by a number of seconds, as certificates and
// revocation lists carry it.

#include <morvane/asn1.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>

/* see morvane/x509.h */
ASN1_TIME* X509_gmtime_adj(ASN1_TIME* s, long adj) {
  return X509_time_adj(s, adj, nullptr);
}
