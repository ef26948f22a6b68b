// Fuzzes the printf engine and the memory streams.
//
// Formatting: the input is turned into conversions with valid flags, widths,
// precisions, sizes and conversion characters, each called with an argument
// of the right type.  Checks: the fixed-buffer and growable results agree,
// a smaller buffer gives a prefix of the text and -1, and the result is the
// text's length.
// Memory streams: the rest of the input drives writes, reads, gets, puts and
// controls on a writable and a read-only stream, checked against a model.

#include "fuzz_check.h"
#include "fuzz_input.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <morvane/bio.h>
#include <morvane/err.h>

#pragma clang diagnostic ignored "-Wformat-nonliteral"
#pragma clang diagnostic ignored "-Wformat-security"

namespace {

struct Conversion {
  std::string format;
  bool star_width = false, star_precision = false;
  int width = 0, precision = 0;
  char conv = 'd';
  std::string size;
};

Conversion MakeConversion(FuzzInput& in) {
  Conversion c;
  std::string f = "%";
  uint8_t flags = in.ConsumeIntegral<uint8_t>();
  const char kFlags[] = "-+ #0";
  for (int i = 0; i < 5; i++)
    if (flags & (1 << i)) f += kFlags[i];
  switch (in.ConsumeIntegralInRange(0, 2)) {
    case 1:
      f += std::to_string(in.ConsumeIntegralInRange(0, 300));
      break;
    case 2:
      f += '*';
      c.star_width = true;
      c.width = in.ConsumeIntegralInRange(-300, 300);
      break;
  }
  switch (in.ConsumeIntegralInRange(0, 3)) {
    case 1:
      f += '.';
      break;
    case 2:
      f += '.' + std::to_string(in.ConsumeIntegralInRange(0, 300));
      break;
    case 3:
      f += ".*";
      c.star_precision = true;
      c.precision = in.ConsumeIntegralInRange(-300, 300);
      break;
  }
  const char kConvs[] = "diouxXcspfeEgGn%";
  c.conv = kConvs[in.ConsumeIntegralInRange<size_t>(0, sizeof(kConvs) - 2)];
  switch (c.conv) {
    case 'd':
    case 'i':
    case 'o':
    case 'u':
    case 'x':
    case 'X':
    case 'n': {
      const char* kSizes[] = {"", "h", "l", "ll", "q"};
      c.size = kSizes[in.ConsumeIntegralInRange(0, 4)];
      break;
    }
    case 'f':
    case 'e':
    case 'E':
    case 'g':
    case 'G':
      c.size = in.ConsumeBool() ? "L" : "";
      break;
    default:
      break;
  }
  c.format = f + c.size + c.conv;
  return c;
}

// Calls `fn(args...)` with the star arguments in front when the format asks.
template <typename Fn, typename T>
int WithStars(const Conversion& c, Fn fn, T value) {
  if (c.star_width && c.star_precision) return fn(c.width, c.precision, value);
  if (c.star_width) return fn(c.width, value);
  if (c.star_precision) return fn(c.precision, value);
  return fn(value);
}

// Formats one conversion with a fitting argument through `emit`, a callable
// taking the arguments after the format.
template <typename Emit>
int FormatOne(const Conversion& c, FuzzInput& in, const std::string& text, Emit emit) {
  const std::string& s = c.size;
  switch (c.conv) {
    case 'd':
    case 'i':
    case 'o':
    case 'u':
    case 'x':
    case 'X': {
      uint64_t v = in.ConsumeIntegral<uint64_t>();
      if (s == "l") return WithStars(c, emit, static_cast<long>(v));
      if (s == "ll" || s == "q") return WithStars(c, emit, static_cast<long long>(v));
      return WithStars(c, emit, static_cast<int>(v));
    }
    case 'c':
      return WithStars(c, emit, static_cast<int>(in.ConsumeIntegral<uint8_t>()));
    case 's':
      return WithStars(c, emit,
                       in.ConsumeBool() ? text.c_str() : static_cast<const char*>(nullptr));
    case 'p':
      return WithStars(c, emit, reinterpret_cast<void*>(in.ConsumeIntegral<uintptr_t>()));
    case 'f':
    case 'e':
    case 'E':
    case 'g':
    case 'G': {
      uint64_t bits = in.ConsumeIntegral<uint64_t>();
      double d;
      memcpy(&d, &bits, sizeof(d));
      if (s == "L") return WithStars(c, emit, static_cast<long double>(d));
      return WithStars(c, emit, d);
    }
    case 'n': {
      static short hn;
      static int n;
      static long ln;
      static long long lln;
      if (s == "h") return WithStars(c, emit, &hn);
      if (s == "l") return WithStars(c, emit, &ln);
      if (s == "ll" || s == "q") return WithStars(c, emit, &lln);
      return WithStars(c, emit, &n);
    }
    default:
      return WithStars(c, emit, 0);  // %%: the extra argument is ignored
  }
}

void FuzzPrint(FuzzInput& in) {
  std::string prefix = in.ConsumeRandomLengthString(64);
  prefix.erase(std::remove(prefix.begin(), prefix.end(), '%'), prefix.end());
  std::string text = in.ConsumeRandomLengthString(64);
  Conversion c = MakeConversion(in);
  std::string format = prefix + c.format;
  size_t small = in.ConsumeIntegralInRange<size_t>(0, 64);
  std::string args_seed = in.ConsumeBytesAsString(16);

  static char big[4096];
  auto fixed = [&](auto... args) {
    return BIO_snprintf(big, sizeof(big), format.c_str(), args...);
  };
  FuzzInput a1(reinterpret_cast<const uint8_t*>(args_seed.data()), args_seed.size());
  int n = FormatOne(c, a1, text, fixed);
  Check(n >= 0, "a large buffer holds the text");
  Check(static_cast<size_t>(n) == strlen(big) || c.conv == 'c', "result is the length");
  std::string want(big, static_cast<size_t>(n));

  BIO* mem = BIO_new(BIO_s_mem());
  Check(mem != nullptr, "memory stream");
  auto grow = [&](auto... args) { return BIO_printf(mem, format.c_str(), args...); };
  FuzzInput a2(reinterpret_cast<const uint8_t*>(args_seed.data()), args_seed.size());
  int m = FormatOne(c, a2, text, grow);
  Check(m == n || (n == 0 && m == 0), "both targets give one length");
  char* data = nullptr;
  long len = BIO_get_mem_data(mem, &data);
  Check(len == n && (n == 0 || memcmp(data, want.data(), want.size()) == 0),
        "both targets give one text");
  BIO_free(mem);

  char cut[65];
  memset(cut, 0x7f, sizeof(cut));
  auto truncated = [&](auto... args) { return BIO_snprintf(cut, small, format.c_str(), args...); };
  FuzzInput a3(reinterpret_cast<const uint8_t*>(args_seed.data()), args_seed.size());
  int k = FormatOne(c, a3, text, truncated);
  if (small == 0) {
    Check(k == -1 && cut[0] == 0x7f, "n = 0 writes nothing");
  } else if (static_cast<size_t>(n) < small) {
    Check(k == n && memcmp(cut, want.data(), want.size()) == 0 && cut[n] == 0, "fits");
  } else {
    Check(k == -1 && memcmp(cut, want.data(), small - 1) == 0 && cut[small - 1] == 0,
          "cut to n - 1");
  }
}

void FuzzMemory(FuzzInput& in) {
  BIO* b = BIO_new(BIO_s_mem());
  Check(b != nullptr, "memory stream");
  std::string model;
  std::string ro_bytes = in.ConsumeRandomLengthString(256);
  BIO* ro = BIO_new_mem_buf(ro_bytes.data(), static_cast<int>(ro_bytes.size()));
  Check(ro != nullptr, "read-only stream");
  size_t ro_pos = 0;
  char buf[300];
  while (in.remaining_bytes() > 0) {
    switch (in.ConsumeIntegralInRange(0, 7)) {
      case 0: {
        std::string chunk = in.ConsumeRandomLengthString(300);
        int len =
            in.ConsumeBool() ? static_cast<int>(chunk.size()) : -in.ConsumeIntegral<uint8_t>();
        int r = BIO_write(b, chunk.data(), len);
        if (len >= 0) {
          Check(r == len, "write takes everything");
          model += chunk.substr(0, static_cast<size_t>(len));
        } else {
          Check(r == -1, "negative write refused");
        }
        Check(BIO_write(ro, chunk.data(), len) == -1, "read-only refuses writes");
        ERR_clear_error();
        break;
      }
      case 1: {
        int want = in.ConsumeIntegralInRange(-5, 300);
        int r = BIO_read(b, buf, want);
        if (model.empty()) {
          Check(r == -1 && BIO_should_retry(b), "empty asks to retry");
        } else if (want <= 0) {
          Check(r == want, "non-positive read length returned");
        } else {
          size_t got = std::min(model.size(), static_cast<size_t>(want));
          Check(r == static_cast<int>(got) && memcmp(buf, model.data(), got) == 0, "read");
          model.erase(0, got);
        }
        break;
      }
      case 2: {
        int size = in.ConsumeIntegralInRange(0, 300);
        int r = BIO_gets(b, buf, size);
        size_t j = std::min(model.size(), static_cast<size_t>(size > 0 ? size - 1 : 0));
        size_t nl = model.find('\n');
        if (nl != std::string::npos && nl < j) j = nl + 1;
        Check(r == static_cast<int>(j), "gets length");
        if (size > 0) Check(strlen(buf) <= j && memcmp(buf, model.data(), j) == 0, "gets text");
        model.erase(0, j);
        break;
      }
      case 3: {
        std::string s = in.ConsumeRandomLengthString(64);
        Check(BIO_puts(b, s.c_str()) == static_cast<int>(strlen(s.c_str())), "puts");
        model += s.c_str();
        break;
      }
      case 4:
        Check(BIO_ctrl_pending(b) == model.size(), "pending");
        Check(BIO_eof(b) == (model.empty() ? 1 : 0), "eof");
        break;
      case 5:
        Check(BIO_reset(b) == 1, "reset");
        model.clear();
        if (in.ConsumeBool()) {
          BIO_reset(ro);
          ro_pos = 0;
        }
        break;
      case 6: {
        int want = in.ConsumeIntegralInRange(0, 300);
        int r = BIO_read(ro, buf, want);
        size_t got = std::min(ro_bytes.size() - ro_pos, static_cast<size_t>(want));
        if (got == 0) {
          Check(r == 0 && !BIO_should_retry(ro), "read-only end");
        } else {
          Check(r == static_cast<int>(got) && memcmp(buf, ro_bytes.data() + ro_pos, got) == 0,
                "read-only read");
          ro_pos += got;
        }
        break;
      }
      case 7: {
        int ret = in.ConsumeIntegralInRange(-2, 1);
        BIO_set_mem_eof_return(b, ret);
        if (model.empty()) {
          Check(BIO_read(b, buf, 10) == ret, "end value");
          Check((BIO_should_retry(b) != 0) == (ret != 0), "retry only for a non-zero end value");
        }
        BIO_set_mem_eof_return(b, -1);
        break;
      }
    }
  }
  BIO_free(ro);
  BIO_free(b);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  if (in.ConsumeBool()) {
    for (int i = 0; i < 4 && in.remaining_bytes() > 0; i++) FuzzPrint(in);
  } else {
    FuzzMemory(in);
  }
  ERR_clear_error();
  return 0;
}
