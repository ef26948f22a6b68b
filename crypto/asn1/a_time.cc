// Time values: UTCTime and GeneralizedTime texts (X.680, 46 and 47; RFC 5280,
// 4.1.2.5), their checks, setters from time_t, the conversion of a UTCTime to
// a GeneralizedTime, the comparison of a UTCTime with a time_t, and the
// ASN1_TIME item that holds either.
//
// Implementation notes: the two checks are one reader over a table of field
// limits (the UTCTime simply lacks the century field and fractions), which
// also gives the verifier's comparisons their fields and moments
// (internal/asn1_time.h), so that a time the checks refuse is never
// compared.  A day must be one its month has (no 30 February).  Every read
// is bounded by the text's length.

#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "internal/asn1_time.h"

// UTCTime or GeneralizedTime (ASN1_tag2bit 0x4000 and 0x8000).
ASN1_ITEM_MSTRING(ASN1_TIME, ASN1_MASK_UTCTIME | ASN1_MASK_GENERALIZEDTIME);

namespace {

struct Limit {
  int min, max;
};

// Century, year, month, day, hour, minute, second; then the offset's hours
// and minutes.  The UTCTime starts at the year.
constexpr Limit kFields[7] = {{0, 99}, {0, 99}, {1, 12}, {1, 31}, {0, 23}, {0, 59}, {0, 59}};
constexpr Limit kOffset[2] = {{0, 12}, {0, 59}};

bool digit(unsigned char c) {
  return c >= '0' && c <= '9';
}

// Reads two digits at a[*o] within the limit into *v; advances *o.
bool two_digits(const unsigned char* a, int l, int* o, Limit lim, int* v) {
  if (*o + 2 > l || !digit(a[*o]) || !digit(a[*o + 1])) return false;
  *v = (a[*o] - '0') * 10 + (a[*o + 1] - '0');
  *o += 2;
  return *v >= lim.min && *v <= lim.max;
}

bool leap_year(int y) {
  return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0);
}

int days_in_month(int year, int month) {
  if (month == 2) return leap_year(year) ? 29 : 28;
  return month == 4 || month == 6 || month == 9 || month == 11 ? 30 : 31;
}

// The reader of both types: `generalized` adds the century and fractions.
bool read_fields(const ASN1_STRING* d, bool generalized, morvane::internal::TimeFields* out) {
  if (d->data == nullptr || d->length < (generalized ? 13 : 11)) return false;
  const unsigned char* a = d->data;
  const int l = d->length;
  int o = 0;
  int v[7] = {0, 0, 0, 0, 0, 0, 0};
  for (int i = generalized ? 0 : 1; i < 7; i++) {
    // The seconds may be left out.
    if (i == 6 && o < l && (a[o] == 'Z' || a[o] == '+' || a[o] == '-')) break;
    if (!two_digits(a, l, &o, kFields[i], &v[i])) return false;
  }
  // RFC 5280, 4.1.2.5.1: a UTCTime's YY below 50 is 20YY, else 19YY.
  out->year = generalized ? v[0] * 100 + v[1] : (v[1] < 50 ? 2000 : 1900) + v[1];
  out->month = v[2];
  out->day = v[3];
  out->hour = v[4];
  out->minute = v[5];
  out->second = v[6];
  if (out->day > days_in_month(out->year, out->month)) return false;
  out->fraction = nullptr;
  out->fraction_len = 0;
  if (generalized && o < l && a[o] == '.') {  // fractions of a second
    if (++o >= l || !digit(a[o])) return false;
    out->fraction = a + o;
    while (o < l && digit(a[o])) o++;
    out->fraction_len = static_cast<int>(a + o - out->fraction);
  }
  out->zoned = o < l;
  out->offset = 0;
  if (o == l) return true;  // no zone
  if (a[o] == 'Z') return o + 1 == l;
  if (a[o] != '+' && a[o] != '-') return false;
  const bool west = a[o++] == '-';
  int hh, mm;
  if (!two_digits(a, l, &o, kOffset[0], &hh) || !two_digits(a, l, &o, kOffset[1], &mm) || o != l)
    return false;
  out->offset = west ? -(hh * 60 + mm) : hh * 60 + mm;
  return true;
}

// The check of one type.
bool check_time(const ASN1_STRING* d, bool generalized) {
  const int type = generalized ? ASN1_UT_GENERALIZEDTIME : ASN1_UT_UTCTIME;
  morvane::internal::TimeFields f;
  return d != nullptr && d->type == type && read_fields(d, generalized, &f);
}

int set_string(ASN1_STRING* s, const char* str, int type) {
  const size_t n = strlen(str);
  if (n > INT_MAX) return 0;
  ASN1_STRING t = {static_cast<int>(n), type,
                   reinterpret_cast<unsigned char*>(const_cast<char*>(str)), 0};
  if (!check_time(&t, type == ASN1_UT_GENERALIZEDTIME)) return 0;
  if (s == nullptr) return 1;
  if (!ASN1_STRING_set(s, str, t.length)) return 0;
  s->type = type;
  return 1;
}

constexpr int kTimeBuffer = 20;  // octets kept for a time's text

// Whether the broken-down time falls in 1950-2049, the years a UTCTime holds.
bool utc_year(const struct tm& tm) {
  return tm.tm_year >= 50 && tm.tm_year < 150;
}

// Writes t into s (or a new string) as a UTCTime or GeneralizedTime; a
// failure is queued under `func`.
ASN1_STRING* set_time(ASN1_STRING* s, time_t t, bool generalized, int func) {
  const int type = generalized ? ASN1_UT_GENERALIZEDTIME : ASN1_UT_UTCTIME;
  struct tm tm;
  if (MORVANE_gmtime(&t, &tm) == nullptr) {
    ASN1err(func, ASN1_R_ERROR_GETTING_TIME);
    return nullptr;
  }
  // A UTCTime's two digits name a year of 1950-2049 (RFC 5280, 4.1.2.5.1):
  // any other year would be read back in another century.  A
  // GeneralizedTime's four digits name the years 0 to 9999: a longer or
  // negative year would make a text that is no time.
  const long full_year = tm.tm_year + 1900L;
  if (generalized ? full_year < 0 || full_year > 9999 : !utc_year(tm)) {
    ASN1err(func, ASN1_R_ILLEGAL_TIME_VALUE);
    return nullptr;
  }
  ASN1_STRING* made = nullptr;
  if (s == nullptr) {
    s = made = ASN1_STRING_type_new(type);
    if (s == nullptr) return nullptr;
  }
  if (s->data == nullptr || s->length < kTimeBuffer) {
    auto* p = static_cast<unsigned char*>(MORVANE_malloc(kTimeBuffer));
    if (p == nullptr) {
      ASN1err(func, ERR_R_MALLOC_FAILURE);
      ASN1_STRING_free(made);
      return nullptr;
    }
    MORVANE_free(s->data);
    s->data = p;
  }
  char* text = reinterpret_cast<char*>(s->data);
  const long year = generalized ? full_year : tm.tm_year % 100;
  snprintf(text, kTimeBuffer,
           generalized ? "%04ld%02d%02d%02d%02d%02dZ" : "%02ld%02d%02d%02d%02d%02dZ", year,
           tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  s->length = static_cast<int>(strlen(text));
  s->type = type;
  return s;
}

}  // namespace

namespace morvane::internal {

// see internal/asn1_time.h
bool read_time(const ASN1_STRING* t, TimeFields* out) {
  if (t == nullptr) return false;
  if (t->type == ASN1_UT_GENERALIZEDTIME) return read_fields(t, true, out);
  if (t->type == ASN1_UT_UTCTIME) return read_fields(t, false, out);
  return false;
}

// see internal/asn1_time.h
bool time_moment(const ASN1_STRING* t, TimeMoment* out) {
  TimeFields f;
  if (!read_time(t, &f) || !f.zoned) return false;
  // The day count of H. Hinnant's days_from_civil; the year from March on,
  // so that a leap day ends it.
  const int64_t y = f.year - (f.month <= 2 ? 1 : 0);
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t year_of_era = y - era * 400;
  const int64_t day_of_year = (153 * (f.month > 2 ? f.month - 3 : f.month + 9) + 2) / 5 + f.day - 1;
  const int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  const int64_t days = era * 146097 + day_of_era - 719468;
  // The fields are local time, UTC + offset.
  out->seconds = days * 86400 + f.hour * 3600 + f.minute * 60 + f.second - f.offset * 60;
  out->fraction = f.fraction;
  out->fraction_len = f.fraction_len;
  return true;
}

// see internal/asn1_time.h
int compare_moments(const TimeMoment& a, const TimeMoment& b) {
  if (a.seconds != b.seconds) return a.seconds < b.seconds ? -1 : 1;
  // Digit by digit, a missing digit counting as 0.
  for (int i = 0; i < a.fraction_len || i < b.fraction_len; i++) {
    const int da = i < a.fraction_len ? a.fraction[i] : '0';
    const int db = i < b.fraction_len ? b.fraction[i] : '0';
    if (da != db) return da < db ? -1 : 1;
  }
  return 0;
}

}  // namespace morvane::internal

/* see morvane/asn1.h */
int ASN1_UTCTIME_check(const ASN1_UTCTIME* d) {
  return check_time(d, false);
}

/* see morvane/asn1.h */
int ASN1_GENERALIZEDTIME_check(const ASN1_GENERALIZEDTIME* d) {
  return check_time(d, true);
}

/* see morvane/asn1.h */
int ASN1_TIME_check(const ASN1_TIME* t) {
  morvane::internal::TimeFields f;
  return morvane::internal::read_time(t, &f);
}

/* see morvane/asn1.h */
int ASN1_UTCTIME_set_string(ASN1_UTCTIME* s, const char* str) {
  return set_string(s, str, ASN1_UT_UTCTIME);
}

/* see morvane/asn1.h */
int ASN1_GENERALIZEDTIME_set_string(ASN1_GENERALIZEDTIME* s, const char* str) {
  return set_string(s, str, ASN1_UT_GENERALIZEDTIME);
}

/* see morvane/asn1.h */
ASN1_UTCTIME* ASN1_UTCTIME_set(ASN1_UTCTIME* s, time_t t) {
  return set_time(s, t, false, ASN1_F_ASN1_UTCTIME_SET);
}

/* see morvane/asn1.h */
ASN1_GENERALIZEDTIME* ASN1_GENERALIZEDTIME_set(ASN1_GENERALIZEDTIME* s, time_t t) {
  return set_time(s, t, true, ASN1_F_ASN1_GENERALIZEDTIME_SET);
}

/* see morvane/asn1.h */
ASN1_TIME* ASN1_TIME_set(ASN1_TIME* s, time_t t) {
  struct tm tm;
  if (MORVANE_gmtime(&t, &tm) == nullptr) {
    ASN1err(ASN1_F_ASN1_TIME_SET, ASN1_R_ERROR_GETTING_TIME);
    return nullptr;
  }
  // RFC 5280, 4.1.2.5: UTCTime through 2049, GeneralizedTime from 2050.
  return set_time(s, t, !utc_year(tm), ASN1_F_ASN1_TIME_SET);
}

/* see morvane/asn1.h */
ASN1_GENERALIZEDTIME* ASN1_TIME_to_generalizedtime(ASN1_TIME* t, ASN1_GENERALIZEDTIME** out) {
  if (!ASN1_TIME_check(t)) return nullptr;
  ASN1_GENERALIZEDTIME* ret;
  ASN1_GENERALIZEDTIME* made = nullptr;
  if (out == nullptr || *out == nullptr) {
    ret = made = ASN1_STRING_type_new(ASN1_UT_GENERALIZEDTIME);
    if (ret == nullptr) return nullptr;
  } else {
    ret = *out;
  }
  bool ok;
  if (t->type == ASN1_UT_GENERALIZEDTIME) {
    ok = ASN1_STRING_set(ret, t->data, t->length) != 0;
  } else {
    // RFC 5280, 4.1.2.5.1: YY below 50 is 20YY, else 19YY.  The target may
    // be t itself.
    const int len = t->length;
    const char* century = t->data[0] < '5' ? "20" : "19";
    ok = ASN1_STRING_set(ret, nullptr, len + 2) != 0;
    if (ok) {
      memmove(ret->data + 2, t->data, len);
      memcpy(ret->data, century, 2);
      ret->data[len + 2] = 0;
    }
  }
  if (!ok) {
    ASN1_STRING_free(made);  // only what this call made
    return nullptr;
  }
  if (made != nullptr && out != nullptr) *out = made;
  return ret;
}

/* see morvane/asn1.h */
int ASN1_UTCTIME_cmp_time_t(const ASN1_UTCTIME* s, time_t t) {
  const unsigned char* a = s->data;
  const int l = s->length;
  // The pair of characters at i as a number, 0 where the text has ended.
  auto pair = [&](int i) { return i + 1 < l ? (a[i] - '0') * 10 + (a[i + 1] - '0') : 0; };
  // YYMMDDHHMM, then seconds when digits follow, then the zone if any.
  int zone = 10;
  int second = 0;
  if (l >= 12 && digit(a[10]) && digit(a[11])) {
    second = pair(10);
    zone = 12;
  }
  long offset = 0;  // minutes east of UTC
  if (zone + 4 < l && (a[zone] == '+' || a[zone] == '-')) {
    offset = pair(zone + 1) * 60L + pair(zone + 3);
    if (a[zone] == '-') offset = -offset;
  }
  // The fields of s are local to its zone: t is moved into that zone.
  time_t local;
  struct tm tm;
  if (__builtin_add_overflow(t, static_cast<time_t>(offset * 60), &local) ||
      MORVANE_gmtime(&local, &tm) == nullptr)
    return t < 0 ? 1 : -1;  // beyond any year a UTCTime holds
  int year = pair(0);
  if (year < 50) year += 100;  // years since 1900
  const int mine[6] = {year, pair(2) - 1, pair(4), pair(6), pair(8), second};
  const int theirs[6] = {tm.tm_year, tm.tm_mon, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
  for (int i = 0; i < 6; i++) {
    if (mine[i] < theirs[i]) return -1;
    if (mine[i] > theirs[i]) return 1;
  }
  return 0;
}
