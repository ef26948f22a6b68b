// Fuzzes the multibyte conversion and the UTF-8 codec.  The input's first
// octets choose the input form, the type mask, the size limits and whether
// the result goes to a fresh or an existing string; the rest is the text.
// Checks: the type chosen without an output equals the one built; the string
// holds that type's encoding of the same characters (both convert to the
// same UTF-8, or both are refused); a failure leaves no string behind.  Then every UTF-8
// character of the text is written again to the same octets, and every
// 31-bit value read from it survives a write and a read.

#include <cstdint>
#include <cstring>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "fuzz_check.h"
#include "fuzz_input.h"

namespace {

constexpr int kForms[4] = {ASN1_MB_UTF8, ASN1_MB_ASCII, ASN1_MB_BMP, ASN1_MB_UNIV};

// The octet form of a string type.
int FormOf(int type) {
  switch (type) {
    case ASN1_UT_BMPSTRING:
      return ASN1_MB_BMP;
    case ASN1_UT_UNIVERSALSTRING:
      return ASN1_MB_UNIV;
    case ASN1_UT_UTF8STRING:
      return ASN1_MB_UTF8;
    default:
      return ASN1_MB_ASCII;
  }
}

// The UTF-8 of len octets in `form`, or null.
ASN1_STRING* ToUtf8(const unsigned char* in, int len, int form) {
  ASN1_STRING* s = nullptr;
  if (ASN1_mbstring_copy(&s, in, len, form, ASN1_MASK_UTF8STRING) != ASN1_UT_UTF8STRING) {
    Check(s == nullptr, "a refused conversion leaves no string");
    return nullptr;
  }
  return s;
}

void Codec(const unsigned char* p, int len) {
  for (int i = 0; i < len;) {
    unsigned long v;
    const int n = UTF8_getc(p + i, len - i, &v);
    if (n <= 0) {
      i++;
      continue;
    }
    unsigned char buf[6];
    Check(UTF8_putc(nullptr, 0, v) == n, "the length of a character read");
    Check(UTF8_putc(buf, sizeof buf, v) == n && memcmp(buf, p + i, n) == 0,
          "a character read is written to the same octets");
    i += n;
  }
  for (int i = 0; i + 4 <= len; i += 4) {
    const unsigned long v =
        ((unsigned long)p[i] << 24 | p[i + 1] << 16 | p[i + 2] << 8 | p[i + 3]) & 0x7FFFFFFF;
    unsigned char buf[6];
    const int n = UTF8_putc(buf, sizeof buf, v);
    unsigned long back;
    Check(n > 0 && UTF8_getc(buf, n, &back) == n && back == v, "a value survives write and read");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  const int form = kForms[input.ConsumeIntegral<uint8_t>() & 3];
  const unsigned long mask = input.ConsumeIntegral<uint32_t>() & 0x3FFFF;
  const long minsize = input.ConsumeIntegralInRange<long>(-1, 8);
  const long maxsize = input.ConsumeIntegralInRange<long>(-1, 64);
  const bool reuse = input.ConsumeBool();
  const std::string text = input.ConsumeBytesAsString(input.remaining_bytes());
  const auto* in = reinterpret_cast<const unsigned char*>(text.data());
  const int len = static_cast<int>(text.size());

  const int type = ASN1_mbstring_ncopy(nullptr, in, len, form, mask, minsize, maxsize);
  ASN1_STRING* out = reuse ? ASN1_STRING_new() : nullptr;
  ASN1_STRING* const given = out;
  Check(ASN1_mbstring_ncopy(&out, in, len, form, mask, minsize, maxsize) == type,
        "the type chosen without an output is the one built");
  if (type < 0) {
    Check(out == given, "a refused conversion keeps the caller's string and makes none");
  } else {
    Check(out != nullptr && out->type == type && out->data[out->length] == 0,
          "the result is typed and terminated");
    ASN1_STRING* a = ToUtf8(in, len, form);
    ASN1_STRING* b = ToUtf8(out->data, out->length, FormOf(type));
    // Both have a UTF-8 form, or neither (a character beyond 31 bits).
    Check(
        (a == nullptr) == (b == nullptr) &&
            (a == nullptr || (a->length == b->length && memcmp(a->data, b->data, a->length) == 0)),
        "the result holds the same characters");
    ASN1_STRING_free(a);
    ASN1_STRING_free(b);
  }
  ASN1_STRING_free(out);
  ERR_clear_error();
  Codec(in, len);
  return 0;
}
