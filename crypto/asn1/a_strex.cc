// Text output of strings and distinguished names under a word of flags:
// RFC 2253 escapes (2.4), control and high-bit escapes, quoting, conversion
// to UTF-8, the type name in front and '#' hex dumps of the content or of the
// DER; and the conversion of a string to a UTF-8 buffer.
//
// Implementation notes: every printer writes through one character sink,
// which succeeds without writing when it has no destination; that is how
// lengths are measured.  A value is walked twice, once to count and to learn
// whether it needs quotes, once to write.

#include <stdio.h>
#include <string.h>

#include <array>

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

#include "asn1/internal.h"

namespace {

// ---- the character sink ----------------------------------------------------

struct Sink {
  bool (*put)(void* dest, const void* data, int len);
  void* dest;  // null: count only

  bool write(const void* data, int len) const { return dest == nullptr || put(dest, data, len); }
  bool write(const char* text) const { return write(text, static_cast<int>(strlen(text))); }
};

bool bio_put(void* dest, const void* data, int len) {
  return BIO_write(static_cast<BIO*>(dest), data, len) == len;
}

bool file_put(void* dest, const void* data, int len) {
  return fwrite(data, 1, static_cast<size_t>(len), static_cast<FILE*>(dest)) ==
         static_cast<size_t>(len);
}

// ---- character classes (RFC 2253, 2.4) -------------------------------------

constexpr unsigned char kEsc2253 = 0x01;   // escaped anywhere
constexpr unsigned char kCtrl = 0x02;      // control character
constexpr unsigned char kMsb = 0x04;       // bit 7 set (a flag only)
constexpr unsigned char kQuotable = 0x08;  // may be quoted instead
constexpr unsigned char kPrintable = 0x10;
constexpr unsigned char kFirst = 0x20;  // escaped when first
constexpr unsigned char kLast = 0x40;   // escaped when last
constexpr unsigned long kEscFlags =
    ASN1_PF_ESC_2253 | ASN1_PF_ESC_CTRL | ASN1_PF_ESC_MSB | ASN1_PF_ESC_QUOTE;

constexpr std::array<unsigned char, 128> make_char_type() {
  std::array<unsigned char, 128> t{};
  for (int c = 0; c < 32; c++) t[c] = kCtrl;
  t[127] = kCtrl;
  for (int c = '0'; c <= '9'; c++) t[c] = kPrintable;
  for (int c = 'A'; c <= 'Z'; c++) t[c] = kPrintable;
  for (int c = 'a'; c <= 'z'; c++) t[c] = kPrintable;
  for (char c : {'\'', '(', ')', '-', '.', '/', ':', '=', '?'}) t[c] = kPrintable;
  t[' '] = kLast | kFirst | kPrintable | kQuotable;
  t['"'] = t['\\'] = kEsc2253;
  t['#'] = kFirst | kQuotable;
  t['+'] = t[','] = kPrintable | kQuotable | kEsc2253;
  t[';'] = t['<'] = t['>'] = kQuotable | kEsc2253;
  return t;
}
constexpr std::array<unsigned char, 128> kCharType = make_char_type();
static_assert(kCharType[' '] == 0x78 && kCharType['#'] == 0x28 && kCharType[','] == 0x19 &&
              kCharType['<'] == 0x09 && kCharType['='] == 0x10 && kCharType['@'] == 0);

// Octets per character of the universal types 0 to 30; -1: no width.
constexpr signed char kTag2Width[31] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                        -1, 0,  -1, -1, -1, -1, -1, -1, 1,  1,  -1,
                                        1,  1,  1,  -1, 1,  -1, 4,  -1, 2};

int width_of(int type) {
  return type >= 0 && type <= 30 ? kTag2Width[type] : -1;
}

// Writes one character under `flags` (the escape flags and the position
// marks); returns the characters written or -1.
int esc_char(unsigned long c, unsigned char flags, bool* quotes, const Sink& out) {
  char tmp[16];
  if (c > 0xFFFF) {
    snprintf(tmp, sizeof tmp, "\\W%08lX", c & 0xFFFFFFFFUL);
    return out.write(tmp, 10) ? 10 : -1;
  }
  if (c > 0xFF) {
    snprintf(tmp, sizeof tmp, "\\U%04lX", c);
    return out.write(tmp, 6) ? 6 : -1;
  }
  const unsigned char ch = static_cast<unsigned char>(c);
  const unsigned char cls = ch > 0x7F ? (flags & kMsb) : (kCharType[ch] & flags);
  if (cls & (kEsc2253 | kFirst | kLast)) {
    if (cls & kQuotable) {
      *quotes = true;
      return out.write(&ch, 1) ? 1 : -1;
    }
    const char esc[2] = {'\\', static_cast<char>(ch)};
    return out.write(esc, 2) ? 2 : -1;
  }
  if (cls & (kCtrl | kMsb)) {
    snprintf(tmp, sizeof tmp, "\\%02X", ch);
    return out.write(tmp, 3) ? 3 : -1;
  }
  return out.write(&ch, 1) ? 1 : -1;
}

constexpr int kConvert = 8;  // added to a width: convert to UTF-8 first

// Walks `len` octets of characters `width` octets wide (0: UTF-8), escaping
// each; the characters written, or -1 for a malformed buffer or a failed
// write.
int do_buf(const unsigned char* buf, int len, int width, unsigned long flags, bool* quotes,
           const Sink& out) {
  const unsigned char esc = static_cast<unsigned char>(flags & kEscFlags);
  const bool rfc2253 = (flags & ASN1_PF_ESC_2253) != 0;
  const int w = width & ~kConvert;
  if (w != 0 && w != 1 && w != 2 && w != 4) return -1;
  const unsigned char* p = buf;
  const unsigned char* const end = buf + len;
  int total = 0;
  while (p != end) {
    unsigned char marks = esc;
    if (p == buf && rfc2253) marks |= kFirst;
    unsigned long c;
    const long left = end - p;
    if (w == 0) {
      const int n = UTF8_getc(p, static_cast<int>(left), &c);
      if (n <= 0) return -1;
      p += n;
    } else {
      if (left < w) return -1;
      c = 0;
      for (int i = 0; i < w; i++) c = (c << 8) | *p++;
    }
    if (p == end && rfc2253) marks = esc | kLast;
    if (width & kConvert) {
      unsigned char utf8[6];
      const int n = UTF8_putc(utf8, sizeof utf8, c);
      for (int i = 0; i < n; i++) {
        const int k = esc_char(utf8[i], marks, quotes, out);
        if (k < 0) return -1;
        total += k;
      }
    } else {
      const int k = esc_char(c, marks, quotes, out);
      if (k < 0) return -1;
      total += k;
    }
  }
  return total;
}

// Writes the octets as upper-case hex digit pairs; 2 * len or -1.
int hex_out(const unsigned char* p, int len, const Sink& out) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  char pair[2];
  for (int i = 0; i < len; i++) {
    pair[0] = kDigits[p[i] >> 4];
    pair[1] = kDigits[p[i] & 0xF];
    if (!out.write(pair, 2)) return -1;
  }
  return 2 * len;
}

// The DER of str as an any-type value of its own type, in a new buffer;
// its length, or -1.  BOOLEAN and OBJECT IDENTIFIER values of an any-type
// are no strings, so for those the element is made from the string's
// octets directly.
int der_of(const ASN1_STRING* str, unsigned char** der) {
  *der = nullptr;
  if (str->type == ASN1_UT_BOOLEAN || str->type == ASN1_UT_OBJECT) {
    const int n = ASN1_object_size(0, str->length, str->type);
    if (n <= 0) return -1;
    auto* p = static_cast<unsigned char*>(MORVANE_malloc(static_cast<size_t>(n)));
    if (p == nullptr) return -1;
    unsigned char* q = p;
    ASN1_put_object(&q, 0, str->length, str->type, ASN1_CLASS_UNIVERSAL);
    if (str->length > 0) memcpy(q, str->data, static_cast<size_t>(str->length));
    *der = p;
    return n;
  }
  ASN1_TYPE t;
  t.type = str->type;
  t.value.asn1_string = const_cast<ASN1_STRING*>(str);
  const int n = i2d_ASN1_TYPE(&t, nullptr);
  if (n <= 0) return -1;
  auto* p = static_cast<unsigned char*>(MORVANE_malloc(static_cast<size_t>(n)));
  if (p == nullptr) return -1;
  unsigned char* q = p;
  if (i2d_ASN1_TYPE(&t, &q) != n) {
    MORVANE_free(p);
    return -1;
  }
  *der = p;
  return n;
}

// '#' and the hex of the content, or of the DER with ASN1_PF_DUMP_DER.
int do_dump(unsigned long flags, const Sink& out, const ASN1_STRING* str) {
  if (!out.write("#", 1)) return -1;
  if (!(flags & ASN1_PF_DUMP_DER)) {
    const int n = hex_out(str->data, str->length, out);
    return n < 0 ? -1 : n + 1;
  }
  unsigned char* der;
  const int len = der_of(str, &der);
  if (len < 0) return -1;
  const int n = hex_out(der, len, out);
  MORVANE_free(der);
  return n < 0 ? -1 : n + 1;
}

int do_print_ex(const Sink& out, unsigned long flags, const ASN1_STRING* str) {
  if (str == nullptr) return -1;
  int total = 0;
  if (flags & ASN1_PF_SHOW_TYPE) {
    const char* name = ASN1_tag2str(str->type);
    if (!out.write(name) || !out.write(":", 1)) return -1;
    total += static_cast<int>(strlen(name)) + 1;
  }
  int width;
  bool dump = false;
  if (flags & ASN1_PF_DUMP_ALL) {
    dump = true;
  } else if (flags & ASN1_PF_IGNORE_TYPE) {
    width = 1;
  } else {
    width = str->type >= 1 ? width_of(str->type) : -1;
    if (width == -1) {
      if (flags & ASN1_PF_DUMP_UNKNOWN)
        dump = true;
      else
        width = 1;
    }
  }
  if (dump) {
    const int n = do_dump(flags, out, str);
    return n < 0 ? -1 : total + n;
  }
  if (flags & ASN1_PF_UTF8_CONVERT) width = width == 0 ? 1 : width | kConvert;
  bool quotes = false;
  const Sink counter = {out.put, nullptr};
  const int n = do_buf(str->data, str->length, width, flags, &quotes, counter);
  if (n < 0) return -1;
  total += n + (quotes ? 2 : 0);
  if (out.dest == nullptr) return total;
  if (quotes && !out.write("\"", 1)) return -1;
  if (do_buf(str->data, str->length, width, flags, &quotes, out) < 0) return -1;
  if (quotes && !out.write("\"", 1)) return -1;
  return total;
}

bool indent_out(const Sink& out, int n) {
  for (int i = 0; i < n; i++)
    if (!out.write(" ", 1)) return false;
  return true;
}

int do_name_ex(const Sink& out, const X509_NAME* nm, int indent, unsigned long flags) {
  if (nm == nullptr) return -1;
  if (indent < 0) indent = 0;
  if (!indent_out(out, indent)) return -1;
  int total = indent;
  const char* sep_dn;
  const char* sep_mv;
  switch (flags & NAME_PF_SEP_MASK) {
    case NAME_PF_SEP_MULTILINE:
      sep_dn = "\n";
      sep_mv = " + ";
      break;
    case NAME_PF_SEP_COMMA_PLUS:
      sep_dn = ",";
      sep_mv = "+";
      indent = 0;
      break;
    case NAME_PF_SEP_CPLUS_SPC:
      sep_dn = ", ";
      sep_mv = " + ";
      indent = 0;
      break;
    case NAME_PF_SEP_SPLUS_SPC:
      sep_dn = "; ";
      sep_mv = " + ";
      indent = 0;
      break;
    default:
      return -1;
  }
  const char* sep_eq = (flags & NAME_PF_SPC_EQ) ? " = " : "=";
  const unsigned long fn_opt = flags & NAME_PF_FN_MASK;
  const int count = sk_num(nm->entries);
  int prev = -1;
  for (int i = 0; i < count; i++) {
    const auto* ent = reinterpret_cast<const X509_NAME_ENTRY*>(
        sk_value(nm->entries, (flags & NAME_PF_DN_REV) ? count - 1 - i : i));
    if (ent == nullptr) return -1;
    if (i > 0) {
      if (ent->set == prev) {
        if (!out.write(sep_mv)) return -1;
        total += static_cast<int>(strlen(sep_mv));
      } else {
        if (!out.write(sep_dn) || !indent_out(out, indent)) return -1;
        total += static_cast<int>(strlen(sep_dn)) + indent;
      }
    }
    prev = ent->set;
    const int nid = OBJ_obj2nid(ent->object);
    if (fn_opt != NAME_PF_FN_NONE) {
      char oid[80];
      const char* field;
      int width;
      if (fn_opt == NAME_PF_FN_OID || nid == 0) {
        // A type whose text cannot be made (an arc over the bound) shows
        // as i2a_ASN1_OBJECT shows it, never as an empty field.
        field = ent->object != nullptr && OBJ_obj2txt(oid, sizeof oid, ent->object, 1) > 0
                    ? oid
                    : "<INVALID>";
        width = 0;
      } else if (fn_opt == NAME_PF_FN_SN) {
        field = OBJ_nid2sn(nid);
        width = 10;
      } else {
        field = OBJ_nid2ln(nid);
        width = 25;
      }
      if (field == nullptr) field = "";
      const int len = static_cast<int>(strlen(field));
      if (!out.write(field, len)) return -1;
      total += len;
      if (len < width && (flags & NAME_PF_FN_ALIGN)) {
        if (!indent_out(out, width - len)) return -1;
        total += width - len;
      }
      if (!out.write(sep_eq)) return -1;
      total += static_cast<int>(strlen(sep_eq));
    }
    const unsigned long extra =
        (nid == 0 && (flags & NAME_PF_DUMP_UNKNOWN_FIELDS)) ? ASN1_PF_DUMP_ALL : 0;
    const int n = do_print_ex(out, flags | extra, ent->value);
    if (n < 0) return -1;
    total += n;
  }
  return total;
}

}  // namespace

/* see morvane/asn1.h */
int ASN1_STRING_print_ex(BIO* out, ASN1_STRING* str, unsigned long flags) {
  return do_print_ex(Sink{bio_put, out}, flags, str);
}

/* see morvane/asn1.h */
int ASN1_STRING_print_ex_fp(FILE* fp, ASN1_STRING* str, unsigned long flags) {
  return do_print_ex(Sink{file_put, fp}, flags, str);
}

/* see morvane/x509.h */
int X509_NAME_print_ex(BIO* out, X509_NAME* nm, int indent, unsigned long flags) {
  if (flags == 0) return X509_NAME_print(out, nm, indent);  // the compatible form
  return do_name_ex(Sink{bio_put, out}, nm, indent, flags);
}

/* see morvane/x509.h */
int X509_NAME_print_ex_fp(FILE* fp, X509_NAME* nm, int indent, unsigned long flags) {
  if (flags == 0) {
    BIO* b = morvane::asn1::new_file_bio(fp);
    if (b == nullptr) return -1;
    const int r = X509_NAME_print(b, nm, indent);
    BIO_free(b);
    return r;
  }
  return do_name_ex(Sink{file_put, fp}, nm, indent, flags);
}

/* see morvane/asn1.h */
int ASN1_STRING_to_UTF8(unsigned char** out, ASN1_STRING* in) {
  if (in == nullptr) return -1;
  const int width = width_of(in->type);
  if (width < 0) return -1;
  static constexpr int kForms[5] = {ASN1_MB_UTF8, ASN1_MB_ASCII, ASN1_MB_BMP, -1, ASN1_MB_UNIV};
  ASN1_STRING tmp = {0, 0, nullptr, 0};
  ASN1_STRING* p = &tmp;
  const int r = ASN1_mbstring_copy(&p, in->data, in->length, kForms[width], ASN1_MASK_UTF8STRING);
  if (r < 0) return r;
  *out = tmp.data;
  return tmp.length;
}
