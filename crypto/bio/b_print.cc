// Formatted printing: the library's own printf engine behind BIO_printf,
// BIO_vprintf, BIO_snprintf and BIO_vsnprintf.  It does not depend on the
// locale and allocates only through CRYPTO_malloc/CRYPTO_realloc (a growable
// target moves to the heap once its 2048-byte frame buffer is full).
//
// Implementation notes: integers are formatted from 64-bit values (long and
// long long are 64 bits here), so the digit buffer holds the widest 64-bit
// octal number (22 digits).  Floating values whose integer part needs more
// than 64 bits are converted exactly through a small base-10^9 number.

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>

#include <morvane/bio.h>
#include <morvane/crypto.h>

namespace {

constexpr size_t kFrameSize = 2048;
constexpr size_t kGrowStep = 1024;

// Where the characters go: a caller's fixed buffer, or a growable buffer
// that starts in the caller's frame and moves to the heap when full.
class Target {
 public:
  Target(char* buf, size_t cap, bool growable) : buf_(buf), cap_(cap), growable_(growable) {}
  ~Target() {
    if (heap_) CRYPTO_free(buf_);
  }
  Target(const Target&) = delete;
  Target& operator=(const Target&) = delete;

  // Appends one character.  A fixed target drops what does not fit.
  void put(char c) {
    if (len_ >= cap_ && (!growable_ || !grow())) return;
    buf_[len_++] = c;
  }
  void put_n(char c, long long n) {
    for (; n > 0 && !stopped(); n--) put(c);
  }
  // True once nothing more can be stored: a full fixed target, or a
  // growable target whose growth failed.
  bool stopped() const { return failed_ || (!growable_ && len_ >= cap_); }
  bool failed() const { return failed_; }
  bool growable() const { return growable_; }
  size_t len() const { return len_; }
  size_t cap() const { return cap_; }
  char* data() { return buf_; }
  // Shortens the text (fixed target at its end).
  void truncate(size_t n) { len_ = n; }

 private:
  bool grow() {
    if (failed_) return false;
    // The heap buffer grows by 1024 bytes at a time; CRYPTO_malloc sizes are ints.
    size_t want = (cap_ == 0 ? kGrowStep : cap_ + kGrowStep);
    if (want > static_cast<size_t>(INT_MAX)) {
      failed_ = true;
      return false;
    }
    char* p;
    if (!heap_) {
      p = static_cast<char*>(MORVANE_malloc(want));
      if (p != nullptr && len_ > 0) memcpy(p, buf_, len_);
    } else {
      p = static_cast<char*>(MORVANE_realloc(buf_, want));
    }
    if (p == nullptr) {
      failed_ = true;
      return false;
    }
    buf_ = p;
    heap_ = true;
    cap_ = want;
    return true;
  }

  char* buf_;
  size_t cap_;
  size_t len_ = 0;
  bool growable_;
  bool heap_ = false;
  bool failed_ = false;
};

enum Flag : unsigned {
  kMinus = 1,
  kPlus = 2,
  kSpace = 4,
  kHash = 8,
  kZero = 16,
  kUpper = 32,
  kUnsigned = 64,
};

enum class Size { kNone, kShort, kLong, kLongLong, kLongDouble };

struct Spec {
  unsigned flags = 0;
  int min = 0;   // width; 0 when not given
  int max = -1;  // precision; -1 when not given
  Size size = Size::kNone;
};

// 10 * v + d, saturating at INT_MAX (widths that overflow an int are clamped).
int AddDigit(int v, int d) {
  if (v > (INT_MAX - d) / 10) return INT_MAX;
  return v * 10 + d;
}

char SignOf(bool negative, unsigned flags) {
  if (negative) return '-';
  if (flags & kPlus) return '+';
  if (flags & kSpace) return ' ';
  return 0;
}

// Integer rules: sign, prefix ("0" octal, "0x" hexadecimal with the hash
// flag), zero padding up to the precision, space padding up to the width.
void FmtInt(Target& t, uint64_t magnitude, bool negative, unsigned base, const Spec& s) {
  const char* digits = (s.flags & kUpper) ? "0123456789ABCDEF" : "0123456789abcdef";
  long long max = s.max < 0 ? 0 : s.max;
  char sign = (s.flags & kUnsigned) ? 0 : SignOf(negative, s.flags);
  const char* prefix = "";
  if (s.flags & kHash) prefix = base == 8 ? "0" : base == 16 ? "0x" : "";

  char conv[24];  // 22 octal digits hold any 64-bit value
  int place = 0;
  do {
    conv[place++] = digits[magnitude % base];
    magnitude /= base;
  } while (magnitude != 0 && place < static_cast<int>(sizeof(conv)));

  long long zpad = max - place;
  long long spad =
      s.min - (max > place ? max : place) - (sign ? 1 : 0) - static_cast<long long>(strlen(prefix));
  if (zpad < 0) zpad = 0;
  if (spad < 0) spad = 0;
  if (s.flags & kZero) {
    if (spad > zpad) zpad = spad;
    spad = 0;
  }
  if (!(s.flags & kMinus)) t.put_n(' ', spad);
  if (sign) t.put(sign);
  for (const char* p = prefix; *p; p++) t.put(*p);
  t.put_n('0', zpad);
  while (place > 0 && !t.stopped()) t.put(conv[--place]);
  if (s.flags & kMinus) t.put_n(' ', spad);
}

// String rules: the limit counts the padding too, and the padding is worked
// out from the full length of the string.
void FmtStr(Target& t, const char* value, const Spec& s) {
  if (value == nullptr) value = "<NULL>";
  long long limit = s.max;
  if (limit < 0) limit = t.growable() ? 0x7fffffff : static_cast<long long>(t.cap());
  long long pad = s.min - static_cast<long long>(strlen(value));
  if (pad < 0) pad = 0;
  long long count = 0;
  if (!(s.flags & kMinus))
    for (; pad > 0 && count < limit && !t.stopped(); pad--, count++) t.put(' ');
  for (; *value && count < limit && !t.stopped(); value++, count++) t.put(*value);
  for (; pad > 0 && count < limit && !t.stopped(); pad--, count++) t.put(' ');
}

// x truncated, plus one when the remainder is at least one half.
uint64_t RoundHalfUp(double x) {
  uint64_t i = static_cast<uint64_t>(x);
  if (x - static_cast<double>(i) >= 0.5) i++;
  return i;
}

// Writes the decimal digits of the integral value v (>= 2^63, finite) least
// significant first into out; returns their count.  v = m * 2^e exactly, so
// the digits come from m doubled e times in base 10^9.
int BigIntegerDigits(double v, char* out, int room) {
  int e;
  double frac = frexp(v, &e);  // v = frac * 2^e, 0.5 <= frac < 1
  uint64_t m = static_cast<uint64_t>(ldexp(frac, 53));
  e -= 53;
  uint32_t limb[40] = {static_cast<uint32_t>(m % 1000000000u),
                       static_cast<uint32_t>(m / 1000000000u % 1000000000u),
                       static_cast<uint32_t>(m / 1000000000u / 1000000000u)};
  int used = 3;
  for (; e > 0; e--) {
    uint32_t carry = 0;
    for (int i = 0; i < used; i++) {
      uint32_t d = limb[i] * 2 + carry;
      carry = d >= 1000000000u;
      limb[i] = carry ? d - 1000000000u : d;
    }
    if (carry) limb[used++] = 1;
  }
  while (used > 1 && limb[used - 1] == 0) used--;
  int n = 0;
  for (int i = 0; i < used && n < room; i++) {
    uint32_t d = limb[i];
    for (int k = 0; k < 9 && n < room; k++) {
      if (i == used - 1 && d == 0 && k > 0) break;
      out[n++] = static_cast<char>('0' + d % 10);
      d /= 10;
    }
  }
  return n;
}

// Floating rules for %f: at most 9 fraction digits (6 when no precision is
// given), half-up rounding of the scaled fraction.
void FmtFloat(Target& t, double value, Spec s) {
  if (s.max < 0) s.max = 6;
  if (s.max > 9) s.max = 9;
  char sign = SignOf(std::signbit(value) && !std::isnan(value) && value != 0.0, s.flags);
  double u = fabs(value);

  if (!std::isfinite(u)) {  // no digits to work out: print the name
    Spec str = s;
    str.max = -1;
    char text[5] = {};
    int k = 0;
    if (sign) text[k++] = sign;
    memcpy(text + k, std::isnan(u) ? "nan" : "inf", 3);
    FmtStr(t, text, str);
    return;
  }

  char iconv[320];  // the largest double has 309 integer digits
  char fconv[10];
  int iplace = 0, fplace = 0;
  uint64_t fraction = 0;
  if (u < 9223372036854775808.0) {  // 2^63
    uint64_t intpart = static_cast<uint64_t>(u);
    double pow10 = 1.0;
    for (int i = 0; i < s.max; i++) pow10 *= 10.0;
    uint64_t one = RoundHalfUp(pow10);
    fraction = RoundHalfUp(pow10 * (u - static_cast<double>(intpart)));
    if (fraction >= one) {
      intpart++;
      fraction -= one;
    }
    do {
      iconv[iplace++] = static_cast<char>('0' + intpart % 10);
      intpart /= 10;
    } while (intpart != 0);
  } else {
    iplace = BigIntegerDigits(u, iconv, sizeof(iconv));
  }
  do {
    fconv[fplace++] = static_cast<char>('0' + fraction % 10);
    fraction /= 10;
  } while (fplace < s.max);

  long long pad = static_cast<long long>(s.min) - iplace - s.max - 1 - (sign ? 1 : 0);
  if (pad < 0) pad = 0;
  if (!(s.flags & kMinus)) {
    if ((s.flags & kZero) && pad > 0) {
      if (sign) t.put(sign);
      sign = 0;
      t.put_n('0', pad);
    } else {
      t.put_n(' ', pad);
    }
  }
  if (sign) t.put(sign);
  while (iplace > 0 && !t.stopped()) t.put(iconv[--iplace]);
  if (s.max > 0 || (s.flags & kHash)) {
    t.put('.');
    while (fplace > 0 && !t.stopped()) t.put(fconv[--fplace]);
  }
  if (s.flags & kMinus) t.put_n(' ', pad);
}

double TakeDouble(va_list* ap, Size size) {
  if (size == Size::kLongDouble) return static_cast<double>(va_arg(*ap, long double));
  return va_arg(*ap, double);
}

int64_t TakeSigned(va_list* ap, Size size) {
  switch (size) {
    case Size::kShort:
      return static_cast<int16_t>(va_arg(*ap, int));
    case Size::kLong:
      return va_arg(*ap, long);
    case Size::kLongLong:
      return va_arg(*ap, long long);
    default:
      return va_arg(*ap, int);
  }
}

uint64_t TakeUnsigned(va_list* ap, Size size) {
  switch (size) {
    case Size::kShort:
      return static_cast<uint16_t>(va_arg(*ap, unsigned int));
    case Size::kLong:
      return va_arg(*ap, unsigned long);
    case Size::kLongLong:
      return va_arg(*ap, unsigned long long);
    default:
      return va_arg(*ap, unsigned int);
  }
}

// Runs one conversion whose character is c.  Returns the number of extra
// format characters consumed (1 for the character skipped by %w).
int Convert(Target& t, char c, const char* rest, Spec s, va_list* ap) {
  switch (c) {
    case 'd':
    case 'i': {
      int64_t v = TakeSigned(ap, s.size);
      uint64_t mag = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
      FmtInt(t, mag, v < 0, 10, s);
      return 0;
    }
    case 'X':
      s.flags |= kUpper;
      [[fallthrough]];
    case 'x':
    case 'o':
    case 'u':
      s.flags |= kUnsigned;
      FmtInt(t, TakeUnsigned(ap, s.size), false, c == 'o' ? 8 : c == 'u' ? 10 : 16, s);
      return 0;
    case 'f':
      FmtFloat(t, TakeDouble(ap, s.size), s);
      return 0;
    case 'E':
    case 'G':
      s.flags |= kUpper;
      [[fallthrough]];
    case 'e':
    case 'g':
      (void)TakeDouble(ap, s.size);  // no text of their own
      return 0;
    case 'c':
      t.put(static_cast<char>(va_arg(*ap, int)));
      return 0;
    case 's':
      FmtStr(t, va_arg(*ap, const char*), s);
      return 0;
    case 'p':
      s.flags |= kHash | kUnsigned;
      FmtInt(t, reinterpret_cast<uintptr_t>(va_arg(*ap, void*)), false, 16, s);
      return 0;
    case 'n':
      switch (s.size) {
        case Size::kShort:
          *va_arg(*ap, short*) = static_cast<short>(t.len());
          break;
        case Size::kLong:
          *va_arg(*ap, long*) = static_cast<long>(t.len());
          break;
        case Size::kLongLong:
          *va_arg(*ap, long long*) = static_cast<long long>(t.len());
          break;
        default:
          *va_arg(*ap, int*) = static_cast<int>(t.len());
          break;
      }
      return 0;
    case '%':
      t.put('%');
      return 0;
    case 'w':
      return *rest != '\0' ? 1 : 0;  // the character after the w is skipped
    default:
      return 0;  // unknown conversions print nothing
  }
}

// The scanner: text, then per conversion flags, width, precision, size and
// the conversion character.  Stops at the format's NUL, or once a fixed
// target is full.
void Format(Target& t, const char* f, va_list* ap) {
  while (*f != '\0' && !t.stopped()) {
    if (*f != '%') {
      t.put(*f++);
      continue;
    }
    f++;
    Spec s;
    for (;; f++) {  // flags
      if (*f == '-')
        s.flags |= kMinus;
      else if (*f == '+')
        s.flags |= kPlus;
      else if (*f == ' ')
        s.flags |= kSpace;
      else if (*f == '#')
        s.flags |= kHash;
      else if (*f == '0')
        s.flags |= kZero;
      else
        break;
    }
    if (*f == '*') {  // width; a negative one gives no padding
      s.min = va_arg(*ap, int);
      f++;
    } else {
      for (; *f >= '0' && *f <= '9'; f++) s.min = AddDigit(s.min, *f - '0');
    }
    if (*f == '.') {  // precision; a point without digits gives none
      f++;
      if (*f == '*') {
        s.max = va_arg(*ap, int);
        if (s.max < 0) s.max = -1;
        f++;
      } else {
        for (; *f >= '0' && *f <= '9'; f++) s.max = AddDigit(s.max < 0 ? 0 : s.max, *f - '0');
      }
    }
    switch (*f) {  // size
      case 'h':
        s.size = Size::kShort;
        f++;
        break;
      case 'l':
        s.size = Size::kLong;
        f++;
        if (*f == 'l') {
          s.size = Size::kLongLong;
          f++;
        }
        break;
      case 'q':
        s.size = Size::kLongLong;
        f++;
        break;
      case 'L':
        s.size = Size::kLongDouble;
        f++;
        break;
      default:
        break;
    }
    if (*f == '\0' || t.stopped()) break;  // an unfinished conversion prints nothing
    char c = *f++;
    f += Convert(t, c, f, s, ap);
  }
}

}  // namespace

/* see morvane/bio.h */
int BIO_vsnprintf(char* buf, size_t n, const char* format, va_list args) {
  if (n == 0) return -1;
  Target t(buf, n, false);
  va_list ap;
  va_copy(ap, args);
  Format(t, format, &ap);
  va_end(ap);
  bool truncated = false;
  if (t.len() > n - 1) {
    t.truncate(n - 1);
    truncated = true;
  }
  buf[t.len()] = '\0';
  if (truncated || t.len() > 0x7fffffff) return -1;
  return static_cast<int>(t.len());
}

/* see morvane/bio.h */
int BIO_snprintf(char* buf, size_t n, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int ret = BIO_vsnprintf(buf, n, format, args);
  va_end(args);
  return ret;
}

/* see morvane/bio.h */
int BIO_vprintf(BIO* bio, const char* format, va_list args) {
  char frame[kFrameSize];
  CRYPTO_push_info("doapr()");
  int ret;
  {
    Target t(frame, sizeof(frame), true);
    va_list ap;
    va_copy(ap, args);
    Format(t, format, &ap);
    va_end(ap);
    t.put('\0');  // kept behind the text, not written
    if (t.failed()) {
      ret = -1;
    } else {
      // The caller cannot write the rest of a text it never saw: a stream
      // that takes only part of it has lost the rest.
      const int len = static_cast<int>(t.len() - 1);
      ret = BIO_write(bio, t.data(), len);
      if (ret > 0 && ret < len) ret = -1;
    }
  }
  CRYPTO_pop_info();
  return ret;
}

/* see morvane/bio.h */
int BIO_printf(BIO* bio, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int ret = BIO_vprintf(bio, format, args);
  va_end(args);
  return ret;
}
