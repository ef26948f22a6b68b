// UTCTime and GeneralizedTime texts read into their fields and their moment,
// by the one reader behind ASN1_TIME_check, so that what the checks refuse
// no comparison reads.
//
// Implementation notes: a moment is whole seconds since 1970-01-01T00:00:00Z
// (proleptic Gregorian calendar) and the digits of its fraction, kept as
// text: a time of four-digit years lies within about 2^38 seconds of the
// epoch, so every moment and every time_t compare as 64-bit integers without
// any sum that could overflow, and fractions compare exactly.
#ifndef MORVANE_INTERNAL_ASN1_TIME_H
#define MORVANE_INTERNAL_ASN1_TIME_H

#include <stdint.h>

#include <morvane/asn1.h>

namespace morvane::internal {

// The fields of a time text.
struct TimeFields {
  int year;  // four digits; a UTCTime's 50-99 are 1950-1999, 00-49 2000-2049
  int month;
  int day;
  int hour;
  int minute;
  int second;                     // 0 when left out
  const unsigned char* fraction;  // the digits after '.' (a GeneralizedTime's)
  int fraction_len;               // 0: none
  bool zoned;                     // ends in 'Z' or an offset
  int offset;                     // minutes east of UTC (+hhmm), 0 for 'Z' or no zone
};

// Reads t, a UTCTime (type 23) or GeneralizedTime (type 24): true when
// ASN1_TIME_check accepts it (each field within its range, the day one its
// month has, a zone of 'Z' or +/-hhmm or none, nothing after it).
bool read_time(const ASN1_STRING* t, TimeFields* out);

// A moment: whole seconds since the epoch and the digits of a fraction.
struct TimeMoment {
  int64_t seconds;
  const unsigned char* fraction;
  int fraction_len;
};

// The moment of t: true when read_time accepts it and it has a zone (a time
// without one names no moment).
bool time_moment(const ASN1_STRING* t, TimeMoment* out);

// -1, 0 or 1 as a lies before, at or after b (fractions compared exactly).
int compare_moments(const TimeMoment& a, const TimeMoment& b);

}  // namespace morvane::internal

#endif  // MORVANE_INTERNAL_ASN1_TIME_H
