// The hexadecimal text form of INTEGER, ENUMERATED and plain string values:
// upper-case digit pairs, 70 digits a line with a backslash continuing the
// value on the next line; writers and the line readers that take it back.

#include <string.h>

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "internal/line_read.h"

namespace {

constexpr int kBytesPerLine = 35;  // 70 digits

// Writes the content in hex, "-" first when `sign` and the value is
// negative; `empty` is written for an empty content.  The characters
// written, 0 for a null value, -1 on a failed write.
int write_hex(BIO* bp, const ASN1_STRING* a, bool sign, const char* empty) {
  if (a == nullptr) return 0;
  int n = 0;
  if (sign && (a->type & ASN1_UT_NEG)) {
    if (BIO_write(bp, "-", 1) != 1) return -1;
    n = 1;
  }
  if (a->length == 0) {
    const int len = static_cast<int>(strlen(empty));
    return BIO_write(bp, empty, len) == len ? n + len : -1;
  }
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (int i = 0; i < a->length; i++) {
    if (i != 0 && i % kBytesPerLine == 0) {
      if (BIO_write(bp, "\\\n", 2) != 2) return -1;
      n += 2;
    }
    const char pair[2] = {kDigits[a->data[i] >> 4], kDigits[a->data[i] & 0xF]};
    if (BIO_write(bp, pair, 2) != 2) return -1;
    n += 2;
  }
  return n;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// How the three readers differ.
struct Reader {
  int func;           // function code of the errors
  int type;           // type given to the value first, or -1 to leave it
  bool skip_00;       // a leading "00" on the first line is dropped
  bool clean_grow;    // grow with a wiping reallocation
  bool empty_is_ok;   // no first line at all: an empty value
  bool cut_from_end;  // cut at the last non-hex character seen from the end
};

// Reads whole lines into buf (each with its terminator within `size` octets)
// until one does not end with a backslash; the digit pairs go to bs.  1, or
// 0 with an error queued; a line too long for buf fails the value.
int read_hex(const Reader& r, BIO* bp, ASN1_STRING* bs, char* buf, int size) {
  if (size < 2) {  // no room for a character and the terminator: nothing could be read
    ASN1err(r.func, ASN1_R_LENGTH_ERROR);
    return 0;
  }
  if (r.type >= 0) bs->type = r.type;
  unsigned char* s = nullptr;  // the octets so far
  size_t num = 0, slen = 0;
  int reason = 0;
  for (bool first = true;; first = false) {
    // A read that fails is no end of the value, not even of an empty one.
    int i = morvane::internal::read_line(bp, buf, size);
    if (i < 1) {
      if (i == 0 && first && r.empty_is_ok) break;
      reason = i == morvane::internal::kLineTooLong ? ASN1_R_TOO_LONG
               : i < 0                              ? ERR_R_BIO_LIB
                                                    : ASN1_R_SHORT_LINE;
      goto err;
    }
    // Drop one '\n', then one '\r'.
    if (buf[i - 1] == '\n' && --i == 0) {
      reason = ASN1_R_SHORT_LINE;
      goto err;
    }
    if (buf[i - 1] == '\r' && --i == 0) {
      reason = ASN1_R_SHORT_LINE;
      goto err;
    }
    const bool more = buf[i - 1] == '\\';
    if (r.cut_from_end) {
      for (int j = i - 1; j > 0; j--) {
        if (hex_value(buf[j]) < 0) {
          i = j;
          break;
        }
      }
    } else {
      for (int j = 0; j < i; j++) {
        if (hex_value(buf[j]) < 0) {
          i = j;
          break;
        }
      }
    }
    buf[i] = '\0';
    if (i < 2) {
      reason = ASN1_R_SHORT_LINE;
      goto err;
    }
    const char* digits = buf;
    if (first && r.skip_00 && digits[0] == '0' && digits[1] == '0') {
      digits += 2;
      i -= 2;
    }
    if (i % 2 != 0) {
      reason = ASN1_R_ODD_NUMBER_OF_CHARS;
      goto err;
    }
    const size_t add = static_cast<size_t>(i) / 2;
    if (num + add > slen) {
      const size_t want = num + add * 2;
      auto* t = static_cast<unsigned char*>(r.clean_grow ? MORVANE_realloc_clean(s, slen, want)
                                                         : MORVANE_realloc(s, want));
      if (t == nullptr) {
        reason = ERR_R_MALLOC_FAILURE;
        goto err;
      }
      s = t;
      slen = want;
    }
    for (size_t k = 0; k < add; k++) {
      const int hi = hex_value(digits[2 * k]), lo = hex_value(digits[2 * k + 1]);
      if (hi < 0 || lo < 0) {
        reason = ASN1_R_NON_HEX_CHARACTERS;
        goto err;
      }
      s[num + k] = static_cast<unsigned char>(hi << 4 | lo);
    }
    num += add;  // at most INT_MAX: the allocator refuses larger blocks
    if (!more) break;
  }
  MORVANE_free(bs->data);
  bs->data = s;
  bs->length = static_cast<int>(num);
  return 1;
err:
  ASN1err(r.func, reason);
  MORVANE_free(s);
  return 0;
}

}  // namespace

/* see morvane/asn1.h */
int i2a_ASN1_INTEGER(BIO* bp, ASN1_INTEGER* a) {
  return write_hex(bp, a, true, "00");
}

/* see morvane/asn1.h */
int i2a_ASN1_ENUMERATED(BIO* bp, ASN1_ENUMERATED* a) {
  return write_hex(bp, a, false, "00");
}

/* see morvane/asn1.h */
int i2a_ASN1_STRING(BIO* bp, ASN1_STRING* a, int /*type*/) {
  return write_hex(bp, a, false, "0");
}

/* see morvane/asn1.h */
int a2i_ASN1_INTEGER(BIO* bp, ASN1_INTEGER* bs, char* buf, int size) {
  static constexpr Reader r = {ASN1_F_A2I_ASN1_INTEGER, ASN1_UT_INTEGER, true, true, false, false};
  return read_hex(r, bp, bs, buf, size);
}

/* see morvane/asn1.h */
int a2i_ASN1_ENUMERATED(BIO* bp, ASN1_ENUMERATED* bs, char* buf, int size) {
  static constexpr Reader r = {
      ASN1_F_A2I_ASN1_ENUMERATED, ASN1_UT_ENUMERATED, true, false, false, false};
  return read_hex(r, bp, bs, buf, size);
}

/* see morvane/asn1.h */
int a2i_ASN1_STRING(BIO* bp, ASN1_STRING* bs, char* buf, int size) {
  static constexpr Reader r = {ASN1_F_A2I_ASN1_STRING, -1, false, false, true, true};
  return read_hex(r, bp, bs, buf, size);
}
