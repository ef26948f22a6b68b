// The verifier's time comparison: a certificate's or revocation list's time
// against the verification moment.
//
// Implementation notes: the time is read by the reader behind
// ASN1_TIME_check (internal/asn1_time.h), so that every time the check
// refuses compares as malformed, and turned into seconds since the epoch
// from its fields: the moment itself is never moved or broken into a
// calendar, so every time_t compares, down to the smallest, and a fraction
// of a second makes a time later than the whole second.  Every verification
// compares times of each candidate issuer; this costs a day count and a few
// comparisons, no allocation (a lack of memory never reads as a malformed
// time).

#include <time.h>

#include <morvane/asn1.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>

#include "internal/asn1_time.h"

/* see morvane/x509_vfy.h */
int X509_cmp_time(ASN1_TIME* ctm, time_t* cmp_time) {
  morvane::internal::TimeMoment t;
  if (!morvane::internal::time_moment(ctm, &t)) return 0;
  const morvane::internal::TimeMoment moment = {cmp_time != nullptr ? *cmp_time : time(nullptr),
                                                nullptr, 0};
  // Equal counts as earlier: a time is not later than the moment it names.
  return morvane::internal::compare_moments(t, moment) > 0 ? 1 : -1;
}

/* see morvane/x509_vfy.h */
int X509_cmp_current_time(ASN1_TIME* ctm) {
  return X509_cmp_time(ctm, nullptr);
}
