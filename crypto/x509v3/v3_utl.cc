// Utilities shared by the extension methods and the builder: name/value
// lists, booleans, integers and hexadecimal text, the comma-separated list
// parser, name comparison and IP address text.

#include <limits.h>
#include <string.h>

#include <iterator>

#include <morvane/asn1.h>
#include <morvane/bn.h>
#include <morvane/conf.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include "x509v3/ext_methods.h"

namespace {

constexpr const char* kTrue[] = {"TRUE", "true", "Y", "y", "YES", "yes"};
constexpr const char* kFalse[] = {"FALSE", "false", "N", "n", "NO", "no"};

bool one_of(const char* text, const char* const* list, size_t n) {
  for (size_t i = 0; i < n; i++)
    if (strcmp(text, list[i]) == 0) return true;
  return false;
}

// The value of one hexadecimal digit, or -1.
int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A new copy of the first n characters of text, zero-terminated.
char* copy_text(const char* text, size_t n) {
  auto* out = static_cast<char*>(MORVANE_malloc(n + 1));
  if (out == nullptr) return nullptr;
  memcpy(out, text, n);
  out[n] = '\0';
  return out;
}

}  // namespace

/* see morvane/x509v3.h */
int X509V3_add_value(const char* name, const char* value, STACK** extlist) {
  char* n = nullptr;
  char* v = nullptr;
  auto* conf = static_cast<CONF_VALUE*>(MORVANE_malloc(sizeof(CONF_VALUE)));
  STACK* created = nullptr;
  if (conf == nullptr) goto err;
  if (name != nullptr && (n = copy_text(name, strlen(name))) == nullptr) goto err;
  if (value != nullptr && (v = copy_text(value, strlen(value))) == nullptr) goto err;
  conf->section = nullptr;
  conf->name = n;
  conf->value = v;
  if (*extlist == nullptr && (created = *extlist = sk_new_null()) == nullptr) goto err;
  if (!sk_push(*extlist, reinterpret_cast<char*>(conf))) {
    if (created != nullptr) {
      sk_free(created);
      *extlist = nullptr;
    }
    goto err;
  }
  return 1;
err:
  X509V3err(X509V3_F_X509V3_ADD_VALUE, ERR_R_MALLOC_FAILURE);
  MORVANE_free(conf);
  MORVANE_free(n);
  MORVANE_free(v);
  return 0;
}

/* see morvane/x509v3.h */
int X509V3_add_value_uchar(const char* name, const unsigned char* value, STACK** extlist) {
  return X509V3_add_value(name, reinterpret_cast<const char*>(value), extlist);
}

/* see morvane/x509v3.h */
int X509V3_add_value_bool(const char* name, int asn1_bool, STACK** extlist) {
  return X509V3_add_value(name, asn1_bool ? "TRUE" : "FALSE", extlist);
}

/* see morvane/x509v3.h */
int X509V3_add_value_bool_nf(const char* name, int asn1_bool, STACK** extlist) {
  if (asn1_bool) return X509V3_add_value(name, "TRUE", extlist);
  return 1;
}

/* see morvane/x509v3.h */
int X509V3_add_value_int(const char* name, ASN1_INTEGER* aint, STACK** extlist) {
  if (aint == nullptr) return 1;
  char* text = i2s_ASN1_INTEGER(nullptr, aint);
  if (text == nullptr) return 0;
  const int ret = X509V3_add_value(name, text, extlist);
  MORVANE_free(text);
  return ret;
}

/* see morvane/x509v3.h */
void X509V3_conf_free(CONF_VALUE* conf) {
  if (conf == nullptr) return;
  MORVANE_free(conf->name);
  MORVANE_free(conf->value);
  MORVANE_free(conf->section);
  MORVANE_free(conf);
}

namespace {

char* integer_text(const ASN1_INTEGER* a, BIGNUM* (*to_bn)(const ASN1_INTEGER*, BIGNUM*),
                   int func) {
  if (a == nullptr) return nullptr;
  BIGNUM* bn = to_bn(a, nullptr);
  char* text = bn != nullptr ? BN_bn2dec(bn) : nullptr;
  BN_free(bn);
  if (text == nullptr) X509V3err(func, ERR_R_MALLOC_FAILURE);
  return text;
}

}  // namespace

/* see morvane/x509v3.h */
char* i2s_ASN1_INTEGER(const X509V3_EXT_METHOD* /*method*/, ASN1_INTEGER* a) {
  return integer_text(a, ASN1_INTEGER_to_BN, X509V3_F_I2S_ASN1_INTEGER);
}

/* see morvane/x509v3.h */
char* i2s_ASN1_ENUMERATED(const X509V3_EXT_METHOD* /*method*/, ASN1_ENUMERATED* a) {
  return integer_text(a, ASN1_ENUMERATED_to_BN, X509V3_F_I2S_ASN1_ENUMERATED);
}

/* see morvane/x509v3.h */
int X509V3_get_value_int(CONF_VALUE* value, ASN1_INTEGER** aint) {
  ASN1_INTEGER* got = s2i_ASN1_INTEGER(nullptr, value->value);
  if (got == nullptr) {
    morvane::v3::add_value_context(value);
    return 0;
  }
  *aint = got;
  return 1;
}

/* see morvane/x509v3.h */
int X509V3_get_value_bool(CONF_VALUE* value, int* asn1_bool) {
  const char* text = value->value;
  if (text != nullptr && one_of(text, kTrue, std::size(kTrue))) {
    *asn1_bool = 0xff;
    return 1;
  }
  if (text != nullptr && one_of(text, kFalse, std::size(kFalse))) {
    *asn1_bool = 0;
    return 1;
  }
  X509V3err(X509V3_F_X509V3_GET_VALUE_BOOL, X509V3_R_INVALID_BOOLEAN_STRING);
  morvane::v3::add_value_context(value);
  return 0;
}

/* see morvane/x509v3.h */
ASN1_INTEGER* s2i_ASN1_INTEGER(const X509V3_EXT_METHOD* /*method*/, const char* value) {
  if (value == nullptr) {
    X509V3err(X509V3_F_S2I_ASN1_INTEGER, X509V3_R_INVALID_NULL_VALUE);
    return nullptr;
  }
  bool negative = false;
  if (value[0] == '-') {
    negative = true;
    value++;
  }
  const bool hex = value[0] == '0' && (value[1] == 'x' || value[1] == 'X');
  if (hex) value += 2;
  BIGNUM* bn = nullptr;
  const int used = hex ? BN_hex2bn(&bn, value) : BN_dec2bn(&bn, value);
  if (used == 0 || value[used] != '\0') {
    BN_free(bn);
    X509V3err(X509V3_F_S2I_ASN1_INTEGER, X509V3_R_BN_DEC2BN_ERROR);
    return nullptr;
  }
  if (BN_is_zero(bn)) negative = false;
  ASN1_INTEGER* aint = BN_to_ASN1_INTEGER(bn, nullptr);
  BN_free(bn);
  if (aint == nullptr) {
    X509V3err(X509V3_F_S2I_ASN1_INTEGER, X509V3_R_BN_TO_ASN1_INTEGER_ERROR);
    return nullptr;
  }
  if (negative) aint->type |= ASN1_UT_NEG;
  return aint;
}

/* see morvane/x509v3.h */
unsigned char* string_to_hex(const char* str, long* len) {
  if (str == nullptr) {
    X509V3err(X509V3_F_STRING_TO_HEX, X509V3_R_INVALID_NULL_ARGUMENT);
    return nullptr;
  }
  // At most one byte for every two characters; a text too short for a pair
  // asks for nothing, which the allocator refuses.
  auto* out = static_cast<unsigned char*>(MORVANE_malloc(strlen(str) / 2));
  if (out == nullptr) {
    X509V3err(X509V3_F_STRING_TO_HEX, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  unsigned char* q = out;
  for (const char* p = str; *p != '\0';) {
    const char hi = *p++;
    if (hi == ':') continue;
    const char lo = *p++;
    if (lo == '\0') {
      MORVANE_free(out);
      X509V3err(X509V3_F_STRING_TO_HEX, X509V3_R_ODD_NUMBER_OF_DIGITS);
      return nullptr;
    }
    const int h = hex_value(hi), l = hex_value(lo);
    if (h < 0 || l < 0) {
      MORVANE_free(out);
      X509V3err(X509V3_F_STRING_TO_HEX, X509V3_R_ILLEGAL_HEX_DIGIT);
      return nullptr;
    }
    *q++ = static_cast<unsigned char>(h << 4 | l);
  }
  if (len != nullptr) *len = q - out;
  return out;
}

/* see morvane/x509v3.h */
char* hex_to_string(const unsigned char* buffer, long len) {
  if (buffer == nullptr || len <= 0) return nullptr;
  // Two digits and a separator (or the final zero) per byte, counted in
  // size_t and kept within what the allocator takes.
  const size_t n = static_cast<size_t>(len);
  if (n > INT_MAX / 3) {
    X509V3err(X509V3_F_HEX_TO_STRING, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  auto* out = static_cast<char*>(MORVANE_malloc(n * 3));
  if (out == nullptr) {
    X509V3err(X509V3_F_HEX_TO_STRING, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  static constexpr char kDigits[] = "0123456789ABCDEF";
  char* q = out;
  for (size_t i = 0; i < n; i++) {
    *q++ = kDigits[buffer[i] >> 4];
    *q++ = kDigits[buffer[i] & 0xf];
    *q++ = ':';
  }
  q[-1] = '\0';
  return out;
}

/* see morvane/x509v3.h */
int name_cmp(const char* name, const char* cmp) {
  const size_t len = strlen(cmp);
  const int ret = strncmp(name, cmp, len);
  if (ret != 0) return ret;
  const char c = name[len];
  if (c == '\0' || c == '.') return 0;
  return 1;
}

namespace {

void free_conf_value(void* v) {
  X509V3_conf_free(static_cast<CONF_VALUE*>(v));
}

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Strips white space around [p, end) in place; null when nothing is left.
char* strip(char* p, char* end) {
  while (p < end && is_space(*p)) p++;
  while (end > p && is_space(end[-1])) end--;
  if (p == end) return nullptr;
  *end = '\0';
  return p;
}

}  // namespace

/* see morvane/x509v3.h */
STACK* X509V3_parse_list(const char* line) {
  if (line == nullptr) {
    X509V3err(X509V3_F_X509V3_PARSE_LIST, X509V3_R_INVALID_NULL_ARGUMENT);
    return nullptr;
  }
  char* copy = copy_text(line, strlen(line));
  if (copy == nullptr) {
    X509V3err(X509V3_F_X509V3_PARSE_LIST, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  STACK* values = nullptr;
  int reason = 0;
  bool in_value = false;
  char* start = copy;  // of the current name or value
  char* name = nullptr;
  char* p = copy;
  for (; *p != '\0' && *p != '\r' && *p != '\n'; p++) {
    if (!in_value && (*p == ':' || *p == ',')) {
      const bool has_value = *p == ':';
      name = strip(start, p);
      if (name == nullptr) {
        reason = X509V3_R_INVALID_NULL_NAME;
        goto err;
      }
      if (has_value) {
        in_value = true;
      } else if (!X509V3_add_value(name, nullptr, &values)) {
        goto err;
      }
      start = p + 1;
    } else if (in_value && *p == ',') {
      char* value = strip(start, p);
      if (value == nullptr) {
        reason = X509V3_R_INVALID_NULL_VALUE;
        goto err;
      }
      if (!X509V3_add_value(name, value, &values)) goto err;
      in_value = false;
      start = p + 1;
    }
  }
  if (in_value) {
    char* value = strip(start, p);
    if (value == nullptr) {
      reason = X509V3_R_INVALID_NULL_VALUE;
      goto err;
    }
    if (!X509V3_add_value(name, value, &values)) goto err;
  } else {
    name = strip(start, p);
    if (name == nullptr) {
      reason = X509V3_R_INVALID_NULL_NAME;
      goto err;
    }
    if (!X509V3_add_value(name, nullptr, &values)) goto err;
  }
  MORVANE_free(copy);
  return values;
err:
  if (reason != 0) X509V3err(X509V3_F_X509V3_PARSE_LIST, reason);
  MORVANE_free(copy);
  sk_pop_free(values, free_conf_value);
  return nullptr;
}

namespace {

// Dotted IPv4 text: four decimal numbers of one to three digits, each at
// most 255; text after the fourth number is ignored, but not a fourth digit.
bool ipv4_from_text(unsigned char out[4], const char* text) {
  for (int i = 0; i < 4; i++) {
    if (i > 0 && *text++ != '.') return false;
    int value = 0, digits = 0;
    while (*text >= '0' && *text <= '9') {
      if (++digits > 3) return false;
      value = value * 10 + (*text++ - '0');
    }
    if (digits == 0 || value > 255) return false;
    out[i] = static_cast<unsigned char>(value);
  }
  return true;
}

struct Ipv6State {
  unsigned char bytes[16];
  int total;      // bytes stored
  int zero_pos;   // where the run of zeros stands, or -1
  int zero_count; // empty elements seen
};

int ipv6_element(const char* elem, int len, void* arg) {
  auto* s = static_cast<Ipv6State*>(arg);
  if (s->total == 16) return 0;
  if (len == 0) {
    if (s->zero_pos == -1)
      s->zero_pos = s->total;
    else if (s->zero_pos != s->total)
      return 0;
    s->zero_count++;
    return 1;
  }
  if (len <= 4) {
    unsigned value = 0;
    for (int i = 0; i < len; i++) {
      const int d = hex_value(elem[i]);
      if (d < 0) return 0;
      value = value << 4 | static_cast<unsigned>(d);
    }
    s->bytes[s->total++] = static_cast<unsigned char>(value >> 8);
    s->bytes[s->total++] = static_cast<unsigned char>(value);
    return 1;
  }
  // An IPv4 tail: the last element, with room for its four bytes.
  if (s->total > 12 || elem[len] != '\0') return 0;
  if (!ipv4_from_text(s->bytes + s->total, elem)) return 0;
  s->total += 4;
  return 1;
}

bool ipv6_from_text(unsigned char out[16], const char* text) {
  Ipv6State s = {{0}, 0, -1, 0};
  if (CONF_parse_list(text, ':', 0, ipv6_element, &s) != 1) return false;
  if (s.zero_pos == -1) {
    if (s.total != 16) return false;
  } else {
    if (s.total == 16 || s.zero_count > 3) return false;
    if (s.zero_count == 3) {
      if (s.total > 0) return false;
    } else if (s.zero_count == 2) {
      if (s.zero_pos != 0 && s.zero_pos != s.total) return false;
    } else if (s.zero_pos == 0 || s.zero_pos == s.total) {
      return false;
    }
  }
  const int after = s.total - (s.zero_pos == -1 ? s.total : s.zero_pos);
  const int before = s.total - after;
  memcpy(out, s.bytes, static_cast<size_t>(before));
  memset(out + before, 0, static_cast<size_t>(16 - s.total));
  memcpy(out + 16 - after, s.bytes + before, static_cast<size_t>(after));
  return true;
}

ASN1_OCTET_STRING* octets(const unsigned char* data, int len) {
  ASN1_OCTET_STRING* ret = ASN1_OCTET_STRING_new();
  if (ret != nullptr && !ASN1_STRING_set(ret, data, len)) {
    ASN1_OCTET_STRING_free(ret);
    return nullptr;
  }
  return ret;
}

}  // namespace

/* see morvane/x509v3.h */
int a2i_ipadd(unsigned char* ipout, const char* ipasc) {
  if (ipasc == nullptr) return 0;
  if (strchr(ipasc, ':') != nullptr) return ipv6_from_text(ipout, ipasc) ? 16 : 0;
  return ipv4_from_text(ipout, ipasc) ? 4 : 0;
}

/* see morvane/x509v3.h */
ASN1_OCTET_STRING* a2i_IPADDRESS(const char* ipasc) {
  unsigned char ip[16];
  const int len = a2i_ipadd(ip, ipasc);
  if (len == 0) return nullptr;
  return octets(ip, len);
}

/* see morvane/x509v3.h */
ASN1_OCTET_STRING* a2i_IPADDRESS_NC(const char* ipasc) {
  if (ipasc == nullptr) return nullptr;
  const char* slash = strchr(ipasc, '/');
  if (slash == nullptr) return nullptr;
  char* address = copy_text(ipasc, static_cast<size_t>(slash - ipasc));
  if (address == nullptr) return nullptr;
  unsigned char ip[32];
  const int len1 = a2i_ipadd(ip, address);
  MORVANE_free(address);
  if (len1 == 0) return nullptr;
  const int len2 = a2i_ipadd(ip + len1, slash + 1);
  if (len2 != len1) return nullptr;
  return octets(ip, len1 + len2);
}

namespace {

int email_cmp(const char* const* a, const char* const* b) {
  return strcmp(*a, *b);
}

void free_string(void* s) {
  MORVANE_free(s);
}

// Adds the text of an IA5String to the set *list (made on first use); other
// types and empty strings are skipped, as is a text already there.  False
// when a copy or append fails: the whole list is freed then.
bool append_email(STACK** list, const ASN1_STRING* email) {
  if (email->type != ASN1_UT_IA5STRING || email->data == nullptr || email->length <= 0)
    return true;
  if (*list == nullptr && (*list = sk_new(email_cmp)) == nullptr) return false;
  if (sk_find(*list, reinterpret_cast<char*>(email->data)) != -1) return true;
  char* copy = copy_text(reinterpret_cast<const char*>(email->data),
                         static_cast<size_t>(email->length));
  if (copy == nullptr || !sk_push(*list, copy)) {
    MORVANE_free(copy);
    X509_email_free(*list);
    *list = nullptr;
    return false;
  }
  return true;
}

// The emailAddress entries (NID 48) of a name, in order, then the e-mail
// names among gens (which may be null).
STACK* get_email(X509_NAME* name, GENERAL_NAMES* gens) {
  STACK* list = nullptr;
  for (int i = -1; (i = X509_NAME_get_index_by_NID(name, 48, i)) >= 0;) {
    const ASN1_STRING* email = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, i));
    if (!append_email(&list, email)) return nullptr;
  }
  for (int i = 0; i < sk_num(gens); i++) {
    auto* gen = reinterpret_cast<GENERAL_NAME*>(sk_value(gens, i));
    if (gen->type == GEN_EMAIL && !append_email(&list, gen->d.ia5)) return nullptr;
  }
  return list;
}

void free_names(GENERAL_NAMES* gens) {
  sk_pop_free(gens, [](void* p) { GENERAL_NAME_free(static_cast<GENERAL_NAME*>(p)); });
}

constexpr int kNidSubjectAltName = 85;
constexpr int kNidInfoAccess = 177;
constexpr int kNidOcsp = 178;  // id-ad-ocsp, 1.3.6.1.5.5.7.48.1

}  // namespace

/* see morvane/x509v3.h */
STACK* X509_get1_email(X509* x) {
  auto* gens = static_cast<GENERAL_NAMES*>(
      X509V3_get_d2i(x->cert_info->extensions, kNidSubjectAltName, nullptr, nullptr));
  STACK* ret = get_email(X509_get_subject_name(x), gens);
  free_names(gens);
  return ret;
}

/* see morvane/x509v3.h */
STACK* X509_REQ_get1_email(X509_REQ* x) {
  STACK* exts = X509_REQ_get_extensions(x);
  auto* gens =
      static_cast<GENERAL_NAMES*>(X509V3_get_d2i(exts, kNidSubjectAltName, nullptr, nullptr));
  sk_pop_free(exts, [](void* p) { X509_EXTENSION_free(static_cast<X509_EXTENSION*>(p)); });
  STACK* ret = get_email(x->req_info->subject, gens);
  free_names(gens);
  return ret;
}

/* see morvane/x509v3.h */
STACK* X509_get1_ocsp(X509* x) {
  auto* info = static_cast<AUTHORITY_INFO_ACCESS*>(
      X509V3_get_d2i(x->cert_info->extensions, kNidInfoAccess, nullptr, nullptr));
  STACK* ret = nullptr;
  for (int i = 0; i < sk_num(info); i++) {
    auto* ad = reinterpret_cast<ACCESS_DESCRIPTION*>(sk_value(info, i));
    if (OBJ_obj2nid(ad->method) != kNidOcsp || ad->location->type != GEN_URI) continue;
    if (!append_email(&ret, ad->location->d.uniformResourceIdentifier)) break;
  }
  AUTHORITY_INFO_ACCESS_free(info);
  return ret;
}

/* see morvane/x509v3.h */
void X509_email_free(STACK* sk) {
  sk_pop_free(sk, free_string);
}

/* see morvane/x509v3.h */
int X509V3_NAME_from_section(X509_NAME* nm, STACK* dn_sk, unsigned long chtype) {
  if (nm == nullptr) return 0;
  for (int i = 0; i < sk_num(dn_sk); i++) {
    auto* v = reinterpret_cast<CONF_VALUE*>(sk_value(dn_sk, i));
    const char* type = v->name;
    // "1.OU" names the field OU: skip up to the first ':', ',' or '.' when
    // something follows it.
    for (const char* p = type; *p != '\0'; p++) {
      if (*p == ':' || *p == ',' || *p == '.') {
        if (p[1] != '\0') type = p + 1;
        break;
      }
    }
    int set = 0;
    if (*type == '+') {
      set = -1;
      type++;
    }
    if (!X509_NAME_add_entry_by_txt(nm, type, static_cast<int>(chtype),
                                    reinterpret_cast<const unsigned char*>(v->value), -1, -1,
                                    set))
      return 0;
  }
  return 1;
}
