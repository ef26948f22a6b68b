// Plain text output of a string's octets and of UTCTime and GeneralizedTime
// values ("Dec 31 23:59:59 2049 GMT").

#include <morvane/asn1.h>
#include <morvane/bio.h>

namespace {

constexpr const char* kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool digits(const unsigned char* v, int from, int to) {
  for (int i = from; i < to; i++)
    if (v[i] < '0' || v[i] > '9') return false;
  return true;
}

int two(const unsigned char* v) {
  return (v[0] - '0') * 10 + (v[1] - '0');
}

int bad_time(BIO* bp) {
  BIO_write(bp, "Bad time value", 14);
  return 0;
}

// Prints a time whose date and time fields start at `v` (after the
// century, for a GeneralizedTime) with the year and fraction given.
int print_time(BIO* bp, const ASN1_STRING* tm, const unsigned char* v, int year, int sec_at,
               int frac_len, const unsigned char* frac) {
  const int month = two(v + 2);
  const int i = tm->length;
  int sec = 0;
  if (i >= sec_at + 2 && digits(tm->data, sec_at, sec_at + 2)) sec = two(tm->data + sec_at);
  const bool gmt = tm->data[i - 1] == 'Z';
  return BIO_printf(bp, "%s %2d %02d:%02d:%02d%.*s %d%s", kMonths[month - 1], two(v + 4),
                    two(v + 6), two(v + 8), sec, frac_len,
                    frac != nullptr ? reinterpret_cast<const char*>(frac) : "", year,
                    gmt ? " GMT" : "") > 0
             ? 1
             : 0;
}

bool month_ok(const unsigned char* v) {
  const int m = two(v);
  return m >= 1 && m <= 12;
}

}  // namespace

/* see morvane/asn1.h */
int ASN1_STRING_print(BIO* bp, ASN1_STRING* v) {
  if (v == nullptr) return 0;
  char buf[80];
  int n = 0;
  for (int i = 0; i < v->length; i++) {
    const unsigned char c = v->data[i];
    buf[n++] = (c > '~' || (c < ' ' && c != '\n' && c != '\r')) ? '.' : static_cast<char>(c);
    if (n == static_cast<int>(sizeof buf)) {
      if (BIO_write(bp, buf, n) != n) return 0;
      n = 0;
    }
  }
  if (n > 0 && BIO_write(bp, buf, n) != n) return 0;
  return 1;
}

/* see morvane/asn1.h */
int ASN1_TIME_print(BIO* bp, const ASN1_TIME* tm) {
  if (tm != nullptr && tm->type == ASN1_UT_UTCTIME) return ASN1_UTCTIME_print(bp, tm);
  if (tm != nullptr && tm->type == ASN1_UT_GENERALIZEDTIME)
    return ASN1_GENERALIZEDTIME_print(bp, tm);
  return bad_time(bp);
}

/* see morvane/asn1.h */
int ASN1_UTCTIME_print(BIO* bp, const ASN1_UTCTIME* tm) {
  if (tm == nullptr || tm->length < 10 || !digits(tm->data, 0, 10) || !month_ok(tm->data + 2))
    return bad_time(bp);
  int year = two(tm->data);
  year += year < 50 ? 2000 : 1900;
  return print_time(bp, tm, tm->data, year, 10, 0, nullptr);
}

/* see morvane/asn1.h */
int ASN1_GENERALIZEDTIME_print(BIO* bp, const ASN1_GENERALIZEDTIME* tm) {
  if (tm == nullptr || tm->length < 12 || !digits(tm->data, 0, 12) || !month_ok(tm->data + 4))
    return bad_time(bp);
  const unsigned char* v = tm->data;
  const int year = two(v) * 100 + two(v + 2);
  // A fraction follows the seconds: '.' and the digits after it.
  const unsigned char* frac = nullptr;
  int frac_len = 0;
  if (tm->length >= 14 && digits(v, 12, 14) && tm->length > 14 && v[14] == '.') {
    frac = v + 14;
    frac_len = 1;
    while (14 + frac_len < tm->length && v[14 + frac_len] >= '0' && v[14 + frac_len] <= '9')
      frac_len++;
  }
  return print_time(bp, tm, v + 2, year, 12, frac_len, frac);
}
