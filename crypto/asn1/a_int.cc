// INTEGER and ENUMERATED values held in ASN1_STRING records: the magnitude
// big-endian without sign, the sign in the type code (ASN1_UT_NEG).  Content
// conversions to and from two's complement, machine longs and big numbers.

#include <string.h>

#include <morvane/asn1.h>
#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "asn1/internal.h"

namespace {

// Two's complement of the n octets at src into dst (which may be src):
// trailing zero octets stay, the last non-zero octet is negated, earlier
// octets complemented.  Returns false when all n octets are zero.
bool twos_complement(unsigned char* dst, const unsigned char* src, size_t n) {
  size_t i = n;
  while (i > 0 && src[i - 1] == 0) dst[--i] = 0;
  if (i == 0) return false;
  dst[i - 1] = static_cast<unsigned char>((src[i - 1] ^ 0xFF) + 1);
  for (i--; i > 0; i--) dst[i - 1] = src[i - 1] ^ 0xFF;
  return true;
}

bool all_zero(const unsigned char* p, int n) {
  for (int i = 0; i < n; i++)
    if (p[i] != 0) return false;
  return true;
}

// ASN1_INTEGER_set and ASN1_ENUMERATED_set: the buffer holds a whole long.
int set_long(ASN1_STRING* a, long v, int type, int func) {
  constexpr int kSize = sizeof(long) + 1;
  a->type = type;
  if (a->length < kSize) {
    MORVANE_free(a->data);
    a->data = static_cast<unsigned char*>(MORVANE_malloc(kSize));
    if (a->data != nullptr) memset(a->data, 0, kSize);
  }
  if (a->data == nullptr) {
    a->length = 0;
    ASN1err(func, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  unsigned long d = static_cast<unsigned long>(v);
  if (v < 0) {
    d = 0 - d;
    a->type = type | ASN1_UT_NEG;
  }
  unsigned char buf[sizeof(long)];
  int n = 0;
  for (; d != 0; d >>= 8) buf[n++] = static_cast<unsigned char>(d);
  for (int i = 0; i < n; i++) a->data[i] = buf[n - 1 - i];
  a->length = n;
  return 1;
}

long get_long(const ASN1_STRING* a, int type) {
  if (a == nullptr) return 0;
  const bool neg = a->type == (type | ASN1_UT_NEG);
  if (!neg && a->type != type) return -1;
  if (a->length > 4) return -1;  // wider than the 32-bit values it serves
  if (a->data == nullptr) return 0;
  unsigned long r = 0;
  for (int i = 0; i < a->length; i++) r = (r << 8) | a->data[i];
  const long v = static_cast<long>(r);
  return neg ? -v : v;
}

ASN1_STRING* bn_to_string(const BIGNUM* bn, ASN1_STRING* ai, int type, int func) {
  ASN1_STRING* ret = ai != nullptr ? ai : ASN1_STRING_type_new(type);
  if (ret == nullptr) {
    ASN1err(func, ERR_R_NESTED_ASN1_ERROR);
    return nullptr;
  }
  ret->type = BN_is_negative(bn) ? (type | ASN1_UT_NEG) : type;
  const int bits = BN_num_bits(bn);
  const int len = bits == 0 ? 0 : bits / 8 + 1;
  if (ret->length < len + 4 || ret->data == nullptr) {
    auto* p = static_cast<unsigned char*>(MORVANE_realloc(ret->data, len + 4));
    if (p == nullptr) {
      ASN1err(func, ERR_R_MALLOC_FAILURE);
      if (ret != ai) ASN1_STRING_free(ret);
      return nullptr;
    }
    ret->data = p;
  }
  ret->length = BN_bn2bin(bn, ret->data);
  if (ret->length == 0 && type == ASN1_UT_INTEGER) {  // zero as one zero octet
    ret->data[0] = 0;
    ret->length = 1;
  }
  return ret;
}

BIGNUM* string_to_bn(const ASN1_STRING* ai, BIGNUM* bn, int func) {
  BIGNUM* ret = BN_bin2bn(ai->data, ai->length, bn);
  if (ret == nullptr) {
    ASN1err(func, ASN1_R_BN_LIB);
    return nullptr;
  }
  if (ai->type & ASN1_UT_NEG) BN_set_negative(ret, 1);
  return ret;
}

}  // namespace

/* see morvane/asn1.h */
int i2c_ASN1_INTEGER(ASN1_INTEGER* a, unsigned char** pp) {
  if (a == nullptr) return 0;
  const bool neg = (a->type & ASN1_UT_NEG) != 0;
  // Leading zero octets of the magnitude (kept by a lenient read) are not
  // written: DER takes the fewest octets (X.690 8.3.2).  A zero magnitude,
  // negative zero and a value never set (no octets) included, is written as
  // zero: X.690 8.3.1 asks for one content octet.
  const unsigned char* m = a->data;
  int n = m != nullptr ? a->length : 0;
  while (n > 0 && m[0] == 0) m++, n--;
  int pad = 0;
  unsigned char pb = 0;
  if (n == 0) {
    pad = 1;
  } else if (!neg) {
    pad = m[0] > 0x7F;
  } else {
    pb = 0xFF;
    if (m[0] > 0x80)
      pad = 1;
    else if (m[0] == 0x80)
      pad = !all_zero(m + 1, n - 1);
  }
  const int ret = n + pad;
  if (pp == nullptr) return ret;
  unsigned char* p = *pp;
  if (pad) *p++ = pb;
  if (n > 0) {
    if (neg)
      twos_complement(p, m, static_cast<size_t>(n));
    else
      memcpy(p, m, n);
  }
  *pp += ret;
  return ret;
}

/* see morvane/asn1.h */
ASN1_INTEGER* c2i_ASN1_INTEGER(ASN1_INTEGER** a, const unsigned char** pp, long len) {
  if (morvane::asn1::null_input(pp, len, ASN1_F_C2I_ASN1_INTEGER)) return nullptr;
  if (len < 0 || len > 0x7FFFFFFE) {
    ASN1err(ASN1_F_C2I_ASN1_INTEGER, ASN1_R_TOO_LONG);
    return nullptr;
  }
  if (!morvane::asn1::integer_content_ok(*pp, len)) {
    ASN1err(ASN1_F_C2I_ASN1_INTEGER, ASN1_R_ILLEGAL_INTEGER);
    return nullptr;
  }
  ASN1_INTEGER* ret = (a != nullptr && *a != nullptr) ? *a : ASN1_STRING_type_new(ASN1_UT_INTEGER);
  if (ret == nullptr) return nullptr;
  auto* s = static_cast<unsigned char*>(MORVANE_malloc(len + 1));
  if (s == nullptr) {
    ASN1err(ASN1_F_C2I_ASN1_INTEGER, ERR_R_MALLOC_FAILURE);
    if (a == nullptr || ret != *a) ASN1_STRING_free(ret);
    return nullptr;
  }
  const unsigned char* p = *pp;
  long n = len;
  int type = ASN1_UT_INTEGER;
  if (n > 0 && !(p[0] & 0x80)) {
    if (p[0] == 0 && n > 1) p++, n--;
    memcpy(s, p, n);
  } else if (n > 0) {
    type = ASN1_UT_NEG_INTEGER;
    if (p[0] == 0xFF && n > 1) p++, n--;
    if (!twos_complement(s, p, static_cast<size_t>(n))) {
      // FF 00..00: the magnitude is 1 followed by the zeros, one octet longer.
      s[0] = 1;
      memset(s + 1, 0, n);
      n++;
    }
  }
  MORVANE_free(ret->data);
  ret->data = s;
  ret->length = static_cast<int>(n);
  ret->type = type;
  if (a != nullptr) *a = ret;
  *pp += len;
  return ret;
}

/* see morvane/asn1.h */
ASN1_INTEGER* d2i_ASN1_UINTEGER(ASN1_INTEGER** a, const unsigned char** pp, long length) {
  if (morvane::asn1::null_input(pp, length, ASN1_F_D2I_ASN1_UINTEGER)) return nullptr;
  const unsigned char* p = *pp;
  long len;
  int tag, xclass;
  const int inf = ASN1_get_object(&p, &len, &tag, &xclass, length);
  if (inf & ASN1_HDR_ERROR) {
    ASN1err(ASN1_F_D2I_ASN1_UINTEGER, ASN1_R_BAD_OBJECT_HEADER);
    return nullptr;
  }
  if (tag != ASN1_UT_INTEGER) {
    ASN1err(ASN1_F_D2I_ASN1_UINTEGER, ASN1_R_EXPECTING_AN_INTEGER);
    return nullptr;
  }
  if (inf & ASN1_HDR_CONSTRUCTED) {  // X.690 8.3.1: always primitive
    ASN1err(ASN1_F_D2I_ASN1_UINTEGER, ASN1_R_TYPE_NOT_PRIMITIVE);
    return nullptr;
  }
  if (inf & ASN1_HDR_INDEFINITE) {  // a primitive has a definite length
    ASN1err(ASN1_F_D2I_ASN1_UINTEGER, ASN1_R_BAD_OBJECT_HEADER);
    return nullptr;
  }
  if (!morvane::asn1::integer_content_ok(p, len)) {
    ASN1err(ASN1_F_D2I_ASN1_UINTEGER, ASN1_R_ILLEGAL_INTEGER);
    return nullptr;
  }
  ASN1_INTEGER* ret = (a != nullptr && *a != nullptr) ? *a : ASN1_STRING_type_new(ASN1_UT_INTEGER);
  if (ret == nullptr) return nullptr;
  auto* s = static_cast<unsigned char*>(MORVANE_malloc(len + 1));
  if (s == nullptr) {
    ASN1err(ASN1_F_D2I_ASN1_UINTEGER, ERR_R_MALLOC_FAILURE);
    if (a == nullptr || ret != *a) ASN1_STRING_free(ret);
    return nullptr;
  }
  const unsigned char* c = p;
  long n = len;
  if (n > 1 && c[0] == 0) c++, n--;
  if (n > 0) memcpy(s, c, n);
  MORVANE_free(ret->data);
  ret->data = s;
  ret->length = static_cast<int>(n);
  ret->type = ASN1_UT_INTEGER;
  if (a != nullptr) *a = ret;
  *pp = p + len;
  return ret;
}

/* see morvane/asn1.h */
int ASN1_INTEGER_set(ASN1_INTEGER* a, long v) {
  return set_long(a, v, ASN1_UT_INTEGER, ASN1_F_ASN1_INTEGER_SET);
}

/* see morvane/asn1.h */
int ASN1_ENUMERATED_set(ASN1_ENUMERATED* a, long v) {
  return set_long(a, v, ASN1_UT_ENUMERATED, ASN1_F_ASN1_ENUMERATED_SET);
}

/* see morvane/asn1.h */
long ASN1_INTEGER_get(const ASN1_INTEGER* a) {
  return get_long(a, ASN1_UT_INTEGER);
}

/* see morvane/asn1.h */
long ASN1_ENUMERATED_get(const ASN1_ENUMERATED* a) {
  return get_long(a, ASN1_UT_ENUMERATED);
}

/* see morvane/asn1.h */
ASN1_INTEGER* BN_to_ASN1_INTEGER(const BIGNUM* bn, ASN1_INTEGER* ai) {
  return bn_to_string(bn, ai, ASN1_UT_INTEGER, ASN1_F_BN_TO_ASN1_INTEGER);
}

/* see morvane/asn1.h */
ASN1_ENUMERATED* BN_to_ASN1_ENUMERATED(const BIGNUM* bn, ASN1_ENUMERATED* ai) {
  return bn_to_string(bn, ai, ASN1_UT_ENUMERATED, ASN1_F_BN_TO_ASN1_ENUMERATED);
}

/* see morvane/asn1.h */
BIGNUM* ASN1_INTEGER_to_BN(const ASN1_INTEGER* ai, BIGNUM* bn) {
  return string_to_bn(ai, bn, ASN1_F_ASN1_INTEGER_TO_BN);
}

/* see morvane/asn1.h */
BIGNUM* ASN1_ENUMERATED_to_BN(const ASN1_ENUMERATED* ai, BIGNUM* bn) {
  return string_to_bn(ai, bn, ASN1_F_ASN1_ENUMERATED_TO_BN);
}

/* see morvane/asn1.h */
int ASN1_INTEGER_cmp(const ASN1_INTEGER* x, const ASN1_INTEGER* y) {
  const int neg = x->type & ASN1_UT_NEG;
  if (neg != (y->type & ASN1_UT_NEG)) return neg ? -1 : 1;
  const int ret = ASN1_STRING_cmp(x, y);
  return neg ? -ret : ret;
}

/* see morvane/asn1.h */
ASN1_INTEGER* ASN1_INTEGER_dup(const ASN1_INTEGER* x) {
  return ASN1_STRING_dup(x);
}
