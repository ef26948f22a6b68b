// The UTF-8 codec of the ASN.1 text paths: one character at a time, in the
// original six-octet form of UTF-8 (RFC 2279, 2), so that every value up to
// 0x7FFFFFFF round trips.  Overlong forms are refused; surrogates are not.

#include <morvane/asn1.h>

namespace {

// Smallest value of a sequence of n octets (n = 2 to 6); below it the form is
// overlong.
constexpr unsigned long kMinValue[7] = {0, 0, 0x80, 0x800, 0x10000, 0x200000, 0x4000000};

}  // namespace

/* see morvane/asn1.h */
int UTF8_getc(const unsigned char* str, int len, unsigned long* val) {
  if (len < 1) return 0;
  const unsigned char c = str[0];
  if (c < 0x80) {
    *val = c;
    return 1;
  }
  int n;            // octets of the sequence
  unsigned long v;  // the free bits of the first octet
  if ((c & 0xE0) == 0xC0) {
    n = 2, v = c & 0x1F;
  } else if ((c & 0xF0) == 0xE0) {
    n = 3, v = c & 0x0F;
  } else if ((c & 0xF8) == 0xF0) {
    n = 4, v = c & 0x07;
  } else if ((c & 0xFC) == 0xF8) {
    n = 5, v = c & 0x03;
  } else if ((c & 0xFE) == 0xFC) {
    n = 6, v = c & 0x01;
  } else {
    return -2;  // a continuation octet, 0xFE or 0xFF
  }
  if (len < n) return -1;
  for (int i = 1; i < n; i++) {
    if ((str[i] & 0xC0) != 0x80) return -3;
    v = (v << 6) | (str[i] & 0x3F);
  }
  if (v < kMinValue[n]) return -4;
  *val = v;
  return n;
}

/* see morvane/asn1.h */
int UTF8_putc(unsigned char* str, int len, unsigned long value) {
  int n;
  if (value < 0x80)
    n = 1;
  else if (value < 0x800)
    n = 2;
  else if (value < 0x10000)
    n = 3;
  else if (value < 0x200000)
    n = 4;
  else if (value < 0x4000000)
    n = 5;
  else
    n = 6;  // bit 30 at most: bit 31 and above are not represented
  if (str == nullptr) return n;
  if (len < n) return -1;
  if (n == 1) {
    str[0] = static_cast<unsigned char>(value);
    return 1;
  }
  // Lead octet: n one bits, a zero, then the value's top bits.
  for (int i = n - 1; i > 0; i--) {
    str[i] = static_cast<unsigned char>(0x80 | (value & 0x3F));
    value >>= 6;
  }
  const unsigned lead = (0xFF00u >> n) & 0xFF;
  str[0] = static_cast<unsigned char>(lead | (value & (0x7Fu >> n)));
  return n;
}
