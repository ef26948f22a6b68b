// The text-to-DER generator: "EXPLICIT:0,INTEGER:5" and the like become an
// ASN1_TYPE whose encoding is what the text describes; SEQUENCE and SET take
// their members from a configuration section, one generator text a line.
//
// Implementation notes: a text is a comma-separated list of modifiers ending
// in one type element, whose value is the whole rest of the text.  The value
// is converted first; outer layers (explicit tags and the wrappers) are then
// written around its DER from the outermost in, an implicit tag replacing
// the value's own identifier, and the result decoded again.  Nested sections
// are bounded, so a section that names itself fails instead of recursing
// without end; and since sections may name one another many times over
// (a few sections, each of two lines naming the next, double the work at
// each level), the SEQUENCE and SET encodings made for one text share a
// budget of octets, which bounds the time and memory one call takes.

#include <ctype.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/conf.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509v3.h>

#include "internal/err_mark.h"

namespace {

// Modifier codes carry this bit; type codes are universal tag numbers.
constexpr int kGenFlag = 0x10000;
constexpr int kImplicit = kGenFlag | 1;
constexpr int kExplicit = kGenFlag | 2;
constexpr int kBitWrap = kGenFlag | 4;
constexpr int kOctWrap = kGenFlag | 5;
constexpr int kSeqWrap = kGenFlag | 6;
constexpr int kSetWrap = kGenFlag | 7;
constexpr int kFormat = kGenFlag | 8;

enum Format { kAscii = 1, kUtf8 = 2, kHex = 3, kBitlist = 4 };

constexpr int kMaxLayers = 20;    // outer layers of one text
constexpr int kMaxSections = 50;  // sections nested inside one another
// The octets of all SEQUENCE and SET encodings made for one text, nested
// ones counted at every level.
constexpr size_t kMaxSectionOctets = size_t{1} << 22;
// The highest bit number of a BITLIST, so that a short text cannot ask for
// a BIT STRING of hundreds of megabytes: at most 4 MiB of bits.
constexpr unsigned long kMaxBitlistBit = (1ul << 25) - 1;

// One outer layer; the first one added is the outermost.
struct tag_exp_type {
  int exp_tag;
  int exp_class;
  int exp_constructed;
  int exp_pad;  // a zero octet (a BIT STRING's unused-bits count) before the inner DER
  int exp_len;  // content length, worked out while encoding
};

// The parse state of one text.
struct tag_exp_arg {
  int imp_tag;  // -1: none
  int imp_class;
  int utype;
  int format;
  const char* str;  // the value text, or null
  tag_exp_type exp_list[kMaxLayers];
  int exp_count;
};

struct tag_name_st {
  const char* strnam;
  int len;
  int tag;
};

template <size_t N>
constexpr tag_name_st kw(const char (&name)[N], int tag) {
  return {name, static_cast<int>(N - 1), tag};
}

// clang-format off
constexpr tag_name_st tnst[] = {
    kw("BOOL", 1), kw("BOOLEAN", 1), kw("NULL", 5), kw("INT", 2), kw("INTEGER", 2),
    kw("ENUM", 10), kw("ENUMERATED", 10), kw("OID", 6), kw("OBJECT", 6),
    kw("UTCTIME", 23), kw("UTC", 23), kw("GENERALIZEDTIME", 24), kw("GENTIME", 24),
    kw("OCT", 4), kw("OCTETSTRING", 4), kw("BITSTR", 3), kw("BITSTRING", 3),
    kw("UNIVERSALSTRING", 28), kw("UNIV", 28), kw("IA5", 22), kw("IA5STRING", 22),
    kw("UTF8", 12), kw("UTF8String", 12), kw("BMP", 30), kw("BMPSTRING", 30),
    kw("VISIBLESTRING", 26), kw("VISIBLE", 26), kw("PRINTABLESTRING", 19), kw("PRINTABLE", 19),
    kw("T61", 20), kw("T61STRING", 20), kw("TELETEXSTRING", 20),
    kw("GeneralString", 27), kw("GENSTR", 27),
    kw("SEQUENCE", 16), kw("SEQ", 16), kw("SET", 17),
    kw("EXP", kExplicit), kw("EXPLICIT", kExplicit), kw("IMP", kImplicit), kw("IMPLICIT", kImplicit),
    kw("OCTWRAP", kOctWrap), kw("SEQWRAP", kSeqWrap), kw("SETWRAP", kSetWrap),
    kw("BITWRAP", kBitWrap), kw("FORM", kFormat), kw("FORMAT", kFormat),
};
// clang-format on
static_assert(sizeof tnst / sizeof tnst[0] == 47);

// The code of a keyword (exact length and case), or -1.  The search keeps its
// place in a local, so concurrent calls share nothing.
int asn1_str2tag(const char* name, int len) {
  for (const tag_name_st& row : tnst)
    if (row.len == len && memcmp(row.strnam, name, len) == 0) return row.tag;
  return -1;
}

// A tag number and optional class letter: "3", "3U", "3A", "3C", "3P".
bool parse_tagging(const char* vstart, int vlen, int* ptag, int* pclass) {
  if (vstart == nullptr) {
    ASN1err(ASN1_F_PARSE_TAGGING, ASN1_R_MISSING_VALUE);
    return false;
  }
  char* eptr = nullptr;
  const unsigned long num = strtoul(vstart, &eptr, 10);
  if (num > INT_MAX) {  // also any text that parses as a negative number
    ASN1err(ASN1_F_PARSE_TAGGING, ASN1_R_INVALID_NUMBER);
    return false;
  }
  *ptag = static_cast<int>(num);
  vlen -= static_cast<int>(eptr - vstart);
  if (vlen <= 0) {
    *pclass = ASN1_CLASS_CONTEXT;
    return true;
  }
  switch (*eptr) {
    case 'U':
      *pclass = ASN1_CLASS_UNIVERSAL;
      break;
    case 'A':
      *pclass = ASN1_CLASS_APPLICATION;
      break;
    case 'P':
      *pclass = ASN1_CLASS_PRIVATE;
      break;
    case 'C':
      *pclass = ASN1_CLASS_CONTEXT;
      break;
    default: {
      const char bad[2] = {*eptr, '\0'};
      ASN1err(ASN1_F_PARSE_TAGGING, ASN1_R_INVALID_MODIFIER);
      ERR_add_error_data(2, "Char=", bad);
      return false;
    }
  }
  return true;
}

// Adds an outer layer; a pending implicit tag becomes its tag when the layer
// allows one.
bool append_exp(tag_exp_arg* arg, int tag, int xclass, int constructed, int pad, bool imp_ok) {
  if (arg->imp_tag != -1 && !imp_ok) {
    ASN1err(ASN1_F_APPEND_EXP, ASN1_R_ILLEGAL_IMPLICIT_TAG);
    return false;
  }
  if (arg->exp_count == kMaxLayers) {
    ASN1err(ASN1_F_APPEND_EXP, ASN1_R_DEPTH_EXCEEDED);
    return false;
  }
  tag_exp_type* e = &arg->exp_list[arg->exp_count++];
  if (arg->imp_tag != -1) {
    tag = arg->imp_tag;
    xclass = arg->imp_class;
    arg->imp_tag = arg->imp_class = -1;
  }
  *e = {tag, xclass, constructed, pad, 0};
  return true;
}

// Whether anything but white space follows.
bool more_text(const char* p) {
  for (; *p != '\0'; p++)
    if (!isspace(static_cast<unsigned char>(*p))) return true;
  return false;
}

// One element of the list: 1 to go on, -1 when the type ends the list, 0 on
// failure.
int asn1_cb(const char* elem, int len, void* parg) {
  auto* arg = static_cast<tag_exp_arg*>(parg);
  if (elem == nullptr) {
    ASN1err(ASN1_F_ASN1_CB, ASN1_R_UNKNOWN_TAG);
    ERR_add_error_data(1, "tag=");
    return 0;
  }
  const char* vstart = nullptr;
  int vlen = 0;
  if (const void* colon = memchr(elem, ':', len)) {
    vstart = static_cast<const char*>(colon) + 1;
    vlen = len - static_cast<int>(vstart - elem);
    len = static_cast<int>(vstart - 1 - elem);
  }
  const int code = asn1_str2tag(elem, len);
  if (code == -1) {
    ASN1err(ASN1_F_ASN1_CB, ASN1_R_UNKNOWN_TAG);
    ERR_add_error_data(2, "tag=", elem);
    return 0;
  }
  if (!(code & kGenFlag)) {
    arg->utype = code;
    arg->str = vstart;  // the rest of the text, commas included
    if (vstart == nullptr && more_text(elem + len)) {
      ASN1err(ASN1_F_ASN1_CB, ASN1_R_MISSING_VALUE);
      return 0;
    }
    return -1;
  }
  switch (code) {
    case kImplicit:
      if (arg->imp_tag != -1) {
        ASN1err(ASN1_F_ASN1_CB, ASN1_R_ILLEGAL_NESTED_TAGGING);
        return 0;
      }
      return parse_tagging(vstart, vlen, &arg->imp_tag, &arg->imp_class) ? 1 : 0;
    case kExplicit: {
      int tag, xclass;
      if (!parse_tagging(vstart, vlen, &tag, &xclass)) return 0;
      return append_exp(arg, tag, xclass, 1, 0, false) ? 1 : 0;
    }
    case kSeqWrap:
      return append_exp(arg, ASN1_UT_SEQUENCE, ASN1_CLASS_UNIVERSAL, 1, 0, true) ? 1 : 0;
    case kSetWrap:
      return append_exp(arg, ASN1_UT_SET, ASN1_CLASS_UNIVERSAL, 1, 0, true) ? 1 : 0;
    case kBitWrap:
      return append_exp(arg, ASN1_UT_BIT_STRING, ASN1_CLASS_UNIVERSAL, 0, 1, true) ? 1 : 0;
    case kOctWrap:
      return append_exp(arg, ASN1_UT_OCTET_STRING, ASN1_CLASS_UNIVERSAL, 0, 0, true) ? 1 : 0;
    case kFormat:
      // Each keyword is compared over its own length.
      if (vstart == nullptr) {
        // falls through to the refusal below
      } else if (strncmp(vstart, "ASCII", 5) == 0) {
        arg->format = kAscii;
        return 1;
      } else if (strncmp(vstart, "UTF8", 4) == 0) {
        arg->format = kUtf8;
        return 1;
      } else if (strncmp(vstart, "HEX", 3) == 0) {
        arg->format = kHex;
        return 1;
      } else if (strncmp(vstart, "BITLIST", 7) == 0) {
        arg->format = kBitlist;
        return 1;
      }
      ASN1err(ASN1_F_ASN1_CB, ASN1_R_UNKOWN_FORMAT);
      return 0;
    default:
      return 1;
  }
}

// One bit number of a BITLIST value; false when it is none or too high.
bool bit_number(const char* elem, int len, unsigned long* num) {
  if (elem == nullptr) return false;
  char* eptr = nullptr;
  *num = strtoul(elem, &eptr, 10);
  if (eptr != elem + len) return false;  // not a whole number
  if (*num > kMaxBitlistBit) {  // also any text that parses as a negative number
    ASN1err(ASN1_F_BITSTR_CB, ASN1_R_INVALID_NUMBER);
    return false;
  }
  return true;
}

// The highest bit number of a BITLIST value, into *(long*)max (-1: none).
int bitmax_cb(const char* elem, int len, void* max) {
  unsigned long num = 0;
  if (!bit_number(elem, len, &num)) return 0;
  auto* m = static_cast<long*>(max);
  if (static_cast<long>(num) > *m) *m = static_cast<long>(num);
  return 1;
}

// One bit number of a BITLIST value, set in the BIT STRING.
int bitstr_cb(const char* elem, int len, void* bitstr) {
  unsigned long num = 0;
  if (!bit_number(elem, len, &num)) return 0;
  if (!ASN1_BIT_STRING_set_bit(static_cast<ASN1_BIT_STRING*>(bitstr), static_cast<int>(num), 1)) {
    ASN1err(ASN1_F_BITSTR_CB, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  return 1;
}

// A failed conversion of `str`: the reason and "string=" with the text.
ASN1_TYPE* str2type_error(ASN1_TYPE* atmp, int reason, const char* str) {
  ASN1err(ASN1_F_ASN1_STR2TYPE, reason);
  ERR_add_error_data(2, "string=", str);
  ASN1_TYPE_free(atmp);
  return nullptr;
}

ASN1_TYPE* str2type_refuse(ASN1_TYPE* atmp, int reason) {
  ASN1err(ASN1_F_ASN1_STR2TYPE, reason);
  ASN1_TYPE_free(atmp);
  return nullptr;
}

// The value of a type element: `str` (null counts as empty) read in
// `format` as a value of universal type `utype`.
ASN1_TYPE* asn1_str2type(const char* str, int format, int utype) {
  if (str == nullptr) str = "";
  ASN1_TYPE* atmp = ASN1_TYPE_new();
  if (atmp == nullptr) {
    ASN1err(ASN1_F_ASN1_STR2TYPE, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  switch (utype) {
    case ASN1_UT_NULL:
      if (*str != '\0') return str2type_error(atmp, ASN1_R_ILLEGAL_NULL_VALUE, str);
      ASN1_TYPE_set(atmp, ASN1_UT_NULL, nullptr);
      return atmp;

    case ASN1_UT_BOOLEAN: {
      if (format != kAscii) return str2type_refuse(atmp, ASN1_R_NOT_ASCII_FORMAT);
      CONF_VALUE v = {nullptr, nullptr, const_cast<char*>(str)};
      int b = 0;
      if (!X509V3_get_value_bool(&v, &b)) return str2type_error(atmp, ASN1_R_ILLEGAL_BOOLEAN, str);
      atmp->type = ASN1_UT_BOOLEAN;
      atmp->value.boolean = b;
      return atmp;
    }

    case ASN1_UT_INTEGER:
    case ASN1_UT_ENUMERATED: {
      if (format != kAscii) return str2type_refuse(atmp, ASN1_R_INTEGER_NOT_ASCII_FORMAT);
      ASN1_INTEGER* num = s2i_ASN1_INTEGER(nullptr, str);
      if (num == nullptr) return str2type_error(atmp, ASN1_R_ILLEGAL_INTEGER, str);
      num->type = utype | (num->type & ASN1_UT_NEG);  // the sign stays
      ASN1_TYPE_set(atmp, utype, num);
      return atmp;
    }

    case ASN1_UT_OBJECT: {
      if (format != kAscii) return str2type_refuse(atmp, ASN1_R_OBJECT_NOT_ASCII_FORMAT);
      ASN1_OBJECT* obj = OBJ_txt2obj(str, 0);
      if (obj == nullptr) return str2type_error(atmp, ASN1_R_ILLEGAL_OBJECT, str);
      ASN1_TYPE_set(atmp, ASN1_UT_OBJECT, obj);
      return atmp;
    }

    case ASN1_UT_UTCTIME:
    case ASN1_UT_GENERALIZEDTIME: {
      if (format != kAscii) return str2type_refuse(atmp, ASN1_R_TIME_NOT_ASCII_FORMAT);
      ASN1_STRING* t = ASN1_STRING_type_new(utype);
      if (t == nullptr) return str2type_refuse(atmp, ERR_R_MALLOC_FAILURE);
      ASN1_TYPE_set(atmp, utype, t);
      if (!ASN1_STRING_set(t, str, -1)) return str2type_refuse(atmp, ERR_R_MALLOC_FAILURE);
      if (!ASN1_TIME_check(t)) return str2type_error(atmp, ASN1_R_ILLEGAL_TIME_VALUE, str);
      return atmp;
    }

    case ASN1_UT_UTF8STRING:
    case ASN1_UT_PRINTABLESTRING:
    case ASN1_UT_T61STRING:
    case ASN1_UT_IA5STRING:
    case ASN1_UT_VISIBLESTRING:
    case ASN1_UT_GENERALSTRING:
    case ASN1_UT_UNIVERSALSTRING:
    case ASN1_UT_BMPSTRING: {
      int inform;
      if (format == kAscii)
        inform = ASN1_MB_ASCII;
      else if (format == kUtf8)
        inform = ASN1_MB_UTF8;
      else
        return str2type_refuse(atmp, ASN1_R_ILLEGAL_FORMAT);
      // Exactly this type: a character it cannot hold fails the conversion.
      ASN1_STRING* s = nullptr;
      if (ASN1_mbstring_copy(&s, reinterpret_cast<const unsigned char*>(str), -1, inform,
                             ASN1_tag2bit(utype)) <= 0)
        return str2type_error(atmp, ERR_R_MALLOC_FAILURE, str);
      ASN1_TYPE_set(atmp, utype, s);
      return atmp;
    }

    case ASN1_UT_BIT_STRING:
    case ASN1_UT_OCTET_STRING: {
      ASN1_STRING* s = ASN1_STRING_type_new(utype);
      if (s == nullptr) return str2type_refuse(atmp, ERR_R_MALLOC_FAILURE);
      ASN1_TYPE_set(atmp, utype, s);
      if (format == kHex) {
        long len = 0;
        unsigned char* data = string_to_hex(str, &len);
        if (data == nullptr) return str2type_error(atmp, ASN1_R_ILLEGAL_HEX, str);
        ASN1_STRING_set0(s, data, static_cast<int>(len));
      } else if (format == kAscii) {
        if (!ASN1_STRING_set(s, str, -1)) return str2type_refuse(atmp, ERR_R_MALLOC_FAILURE);
      } else if (format == kBitlist && utype == ASN1_UT_BIT_STRING) {
        // The highest bit first, so the string is sized once and every
        // other bit lands inside it: linear in the text, whatever its order.
        long max = -1;
        if (CONF_parse_list(str, ',', 1, bitmax_cb, &max) <= 0 ||
            (max >= 0 && !ASN1_BIT_STRING_set_bit(s, static_cast<int>(max), 1)) ||
            CONF_parse_list(str, ',', 1, bitstr_cb, s) <= 0)
          return str2type_error(atmp, ASN1_R_LIST_ERROR, str);
        return atmp;  // trailing zero bits are dropped when written
      } else {
        return str2type_refuse(atmp, ASN1_R_ILLEGAL_BITSTRING_FORMAT);
      }
      if (utype == ASN1_UT_BIT_STRING) {  // every bit given is kept
        s->flags &= ~0x07;
        s->flags |= ASN1_STRING_BITS_LEFT;
      }
      return atmp;
    }

    default:
      return str2type_refuse(atmp, ASN1_R_UNSUPPORTED_TYPE);
  }
}

ASN1_TYPE* generate(const char* str, X509V3_CTX* cnf, int depth, size_t* budget);

int i2d_member(void* a, unsigned char** pp) {
  return i2d_ASN1_TYPE(static_cast<ASN1_TYPE*>(a), pp);
}

void free_member(void* a) {
  ASN1_TYPE_free(static_cast<ASN1_TYPE*>(a));
}

// A SEQUENCE or SET whose members are the generator texts of the lines of
// `section` (none: empty), at `depth` sections deep; its encoding is taken
// from `budget`.
ASN1_TYPE* asn1_multi(int utype, const char* section, X509V3_CTX* cnf, int depth,
                      size_t* budget) {
  STACK* members = sk_new_null();
  STACK* sect = nullptr;
  ASN1_TYPE* ret = nullptr;
  unsigned char* der = nullptr;
  int len = 0;
  if (members == nullptr) {
    ASN1err(ASN1_F_ASN1_GENERATE_V3, ERR_R_MALLOC_FAILURE);
    goto done;
  }
  if (section != nullptr) {
    if (depth >= kMaxSections) {
      ASN1err(ASN1_F_ASN1_GENERATE_V3, ASN1_R_DEPTH_EXCEEDED);
      goto done;
    }
    if ((sect = X509V3_get_section(cnf, section)) == nullptr) {
      ASN1err(ASN1_F_ASN1_GENERATE_V3, ASN1_R_ERROR_LOADING_SECTION);
      ERR_add_error_data(2, "section=", section);
      goto done;
    }
    // The encoding will hold every member: once the members made so far
    // pass the budget the section is refused, before the next one is made
    // (one member of 33 bytes of text may take 4 MiB).
    size_t made = 0;
    for (int i = 0; i < sk_num(sect); i++) {
      const auto* line = reinterpret_cast<const CONF_VALUE*>(sk_value(sect, i));
      ASN1_TYPE* member = generate(line->value, cnf, depth + 1, budget);
      if (member == nullptr) goto done;
      if (!sk_push(members, reinterpret_cast<char*>(member))) {
        ASN1_TYPE_free(member);
        ASN1err(ASN1_F_ASN1_GENERATE_V3, ERR_R_MALLOC_FAILURE);
        goto done;
      }
      const int size = i2d_ASN1_TYPE(member, nullptr);
      if (size <= 0) {  // a value just made encodes: memory failed
        ASN1err(ASN1_F_ASN1_GENERATE_V3, ERR_R_MALLOC_FAILURE);
        goto done;
      }
      made += static_cast<size_t>(size);
      if (made > *budget) {
        ASN1err(ASN1_F_ASN1_GENERATE_V3, ASN1_R_DEPTH_EXCEEDED);
        goto done;
      }
    }
  }
  // X.690, 11.6: the members of a SET in the order of their encodings.
  len = i2d_ASN1_SET(members, nullptr, i2d_member, utype, ASN1_CLASS_UNIVERSAL,
                     utype == ASN1_UT_SET);
  if (len <= 0) {  // members that add up past INT_MAX octets
    ASN1err(ASN1_F_ASN1_GENERATE_V3, ASN1_R_ENCODE_ERROR);
    goto done;
  }
  if (static_cast<size_t>(len) > *budget) {
    ASN1err(ASN1_F_ASN1_GENERATE_V3, ASN1_R_DEPTH_EXCEEDED);
    goto done;
  }
  *budget -= static_cast<size_t>(len);
  if ((der = static_cast<unsigned char*>(MORVANE_malloc(len))) == nullptr ||
      (ret = ASN1_TYPE_new()) == nullptr) {
    ASN1err(ASN1_F_ASN1_GENERATE_V3, ERR_R_MALLOC_FAILURE);
    goto done;
  }
  {
    // Sorting a SET takes memory of its own: a write that fails leaves the
    // octets unwritten or unsorted, and the value is not returned.
    unsigned char* p = der;
    ASN1_STRING* s = nullptr;
    const int written =
        i2d_ASN1_SET(members, &p, i2d_member, utype, ASN1_CLASS_UNIVERSAL, utype == ASN1_UT_SET);
    if (written != len || (s = ASN1_STRING_type_new(utype)) == nullptr) {
      ASN1err(ASN1_F_ASN1_GENERATE_V3, ERR_R_MALLOC_FAILURE);
      ASN1_TYPE_free(ret);
      ret = nullptr;
      goto done;
    }
    ASN1_STRING_set0(s, der, len);  // the whole encoding, header included
    der = nullptr;
    ASN1_TYPE_set(ret, utype, s);
  }
done:
  MORVANE_free(der);
  sk_pop_free(members, free_member);
  if (cnf != nullptr) X509V3_section_free(cnf, sect);
  return ret;
}

// Writes the outer layers and the implicit tag of `arg` around the DER of
// `value` (which is freed), and decodes the result.
ASN1_TYPE* wrap(ASN1_TYPE* value, tag_exp_arg* arg) {
  unsigned char* orig = nullptr;
  const int orig_len = i2d_ASN1_TYPE(value, &orig);
  ASN1_TYPE_free(value);
  if (orig_len <= 0) {  // a value just made encodes: memory failed
    ASN1err(ASN1_F_ASN1_GENERATE_V3, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  ASN1_TYPE* ret = nullptr;
  unsigned char* der = nullptr;
  const unsigned char* content = orig;
  int content_len = orig_len;
  int len = orig_len;  // the inner total
  int hdr_constructed = 0;
  long hdr_len = 0;
  if (arg->imp_tag != -1) {
    // X.690, 8.14: an implicit tag replaces the value's identifier.
    int hdr_tag, hdr_class;
    const int r = ASN1_get_object(&content, &hdr_len, &hdr_tag, &hdr_class, orig_len);
    if (r & ASN1_HDR_ERROR) goto done;
    hdr_constructed = (r & ASN1_HDR_CONSTRUCTED) ? 1 : 0;
    if (r & ASN1_HDR_INDEFINITE) {
      hdr_constructed = 2;
      hdr_len = 0;
    }
    content_len = orig_len - static_cast<int>(content - orig);
    len = ASN1_object_size(0, static_cast<int>(hdr_len), arg->imp_tag);
    if (len < 0 || len - hdr_len > INT_MAX - content_len) goto too_long;
    len = static_cast<int>(len - hdr_len) + content_len;
  }
  for (int i = arg->exp_count - 1; i >= 0; i--) {
    tag_exp_type* e = &arg->exp_list[i];
    if (e->exp_pad && len == INT_MAX) goto too_long;
    e->exp_len = len + e->exp_pad;
    if ((len = ASN1_object_size(0, e->exp_len, e->exp_tag)) < 0) goto too_long;
  }
  if ((der = static_cast<unsigned char*>(MORVANE_malloc(len))) == nullptr) {
    ASN1err(ASN1_F_ASN1_GENERATE_V3, ERR_R_MALLOC_FAILURE);
    goto done;
  }
  {
    unsigned char* p = der;
    for (int i = 0; i < arg->exp_count; i++) {
      const tag_exp_type& e = arg->exp_list[i];
      ASN1_put_object(&p, e.exp_constructed, e.exp_len, e.exp_tag, e.exp_class);
      if (e.exp_pad) *p++ = 0;
    }
    if (arg->imp_tag != -1)
      ASN1_put_object(&p, hdr_constructed, static_cast<int>(hdr_len), arg->imp_tag,
                      arg->imp_class);
    memcpy(p, content, content_len);
    // The decoder refuses what the tags made invalid with a reason of its
    // own; a failure it does not say is memory.
    morvane::internal::ErrorMark mark;
    const unsigned char* cp = der;
    ret = d2i_ASN1_TYPE(nullptr, &cp, len);
    if (ret == nullptr && !mark.queued()) ASN1err(ASN1_F_ASN1_GENERATE_V3, ERR_R_MALLOC_FAILURE);
  }
  goto done;
too_long:  // the layers would take more than INT_MAX octets
  ASN1err(ASN1_F_ASN1_GENERATE_V3, ASN1_R_LENGTH_ERROR);
done:
  MORVANE_free(orig);
  MORVANE_free(der);
  return ret;
}

ASN1_TYPE* generate(const char* str, X509V3_CTX* cnf, int depth, size_t* budget) {
  tag_exp_arg arg = {};
  arg.imp_tag = arg.imp_class = -1;
  arg.utype = -1;
  arg.format = kAscii;
  const int r = CONF_parse_list(str != nullptr ? str : "", ',', 1, asn1_cb, &arg);
  if (r == 0) return nullptr;
  if (r != -1) {  // modifiers without a type
    ASN1err(ASN1_F_ASN1_GENERATE_V3, ASN1_R_MISSING_VALUE);
    return nullptr;
  }
  ASN1_TYPE* ret;
  if (arg.utype == ASN1_UT_SEQUENCE || arg.utype == ASN1_UT_SET) {
    if (cnf == nullptr) {
      ASN1err(ASN1_F_ASN1_GENERATE_V3, ASN1_R_SEQUENCE_OR_SET_NEEDS_CONFIG);
      return nullptr;
    }
    ret = asn1_multi(arg.utype, arg.str, cnf, depth, budget);
  } else {
    ret = asn1_str2type(arg.str, arg.format, arg.utype);
  }
  if (ret == nullptr || (arg.imp_tag == -1 && arg.exp_count == 0)) return ret;
  return wrap(ret, &arg);
}

}  // namespace

/* see morvane/asn1.h */
ASN1_TYPE* ASN1_generate_nconf(const char* str, CONF* nconf) {
  if (nconf == nullptr) return ASN1_generate_v3(str, nullptr);
  X509V3_CTX cnf = {};
  X509V3_set_nconf(&cnf, nconf);
  return ASN1_generate_v3(str, &cnf);
}

/* see morvane/asn1.h */
ASN1_TYPE* ASN1_generate_v3(const char* str, X509V3_CTX* cnf) {
  size_t budget = kMaxSectionOctets;
  return generate(str, cnf, 0, &budget);
}
