// BIT STRING values (bit 0 is the top bit of the first octet) and the
// BOOLEAN element outside templates.

#include <string.h>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "asn1/internal.h"

namespace {

// The last octet keeps its top 8 - bits bits; a count of 8 or more clears it.
unsigned char keep_top(unsigned char octet, int bits) {
  return bits >= 8 ? 0 : static_cast<unsigned char>(octet & (0xFF << bits));
}

}  // namespace

/* see morvane/asn1.h */
int i2c_ASN1_BIT_STRING(ASN1_BIT_STRING* a, unsigned char** pp) {
  if (a == nullptr) return 0;
  int len = a->data != nullptr ? a->length : 0;
  int bits = 0;
  if (a->flags & ASN1_STRING_BITS_LEFT) {
    bits = len > 0 ? static_cast<int>(a->flags & 0x07) : 0;  // an empty string has none
  } else {
    while (len > 0 && a->data[len - 1] == 0) len--;  // trailing zero octets dropped
    if (len > 0)
      for (unsigned j = a->data[len - 1]; !(j & 1); j >>= 1) bits++;
  }
  const int ret = 1 + len;
  if (pp == nullptr) return ret;
  unsigned char* p = *pp;
  *p++ = static_cast<unsigned char>(bits);
  if (len > 0) {
    memcpy(p, a->data, len);
    p[len - 1] = keep_top(p[len - 1], bits);
  }
  *pp += ret;
  return ret;
}

/* see morvane/asn1.h */
ASN1_BIT_STRING* c2i_ASN1_BIT_STRING(ASN1_BIT_STRING** a, const unsigned char** pp, long len) {
  if (morvane::asn1::null_input(pp, len, ASN1_F_C2I_ASN1_BIT_STRING)) return nullptr;
  if (len < 1) {
    ASN1err(ASN1_F_C2I_ASN1_BIT_STRING, ASN1_R_STRING_TOO_SHORT);
    return nullptr;
  }
  if (len > 0x7FFFFFFE) {
    ASN1err(ASN1_F_C2I_ASN1_BIT_STRING, ASN1_R_TOO_LONG);
    return nullptr;
  }
  // A last octet has at most 7 unused bits, and an empty string none (X.690,
  // 8.6.2.2 and 8.6.2.3); a larger count would clear bits the value has and
  // read back as another value.
  if ((*pp)[0] > 7 || (len == 1 && (*pp)[0] != 0)) {
    ASN1err(ASN1_F_C2I_ASN1_BIT_STRING, ASN1_R_INVALID_BIT_STRING_BITS_LEFT);
    return nullptr;
  }
  ASN1_BIT_STRING* ret =
      (a != nullptr && *a != nullptr) ? *a : ASN1_STRING_type_new(ASN1_UT_BIT_STRING);
  if (ret == nullptr) return nullptr;
  const unsigned char* p = *pp;
  const int unused = p[0];
  unsigned char* s = nullptr;
  if (len > 1) {
    s = static_cast<unsigned char*>(MORVANE_malloc(len - 1));
    if (s == nullptr) {
      ASN1err(ASN1_F_C2I_ASN1_BIT_STRING, ERR_R_MALLOC_FAILURE);
      if (a == nullptr || ret != *a) ASN1_STRING_free(ret);
      return nullptr;
    }
    memcpy(s, p + 1, len - 1);
    s[len - 2] = keep_top(s[len - 2], unused);
  }
  ret->flags = (ret->flags & ~0x0FL) | ASN1_STRING_BITS_LEFT | (unused & 0x07);
  MORVANE_free(ret->data);
  ret->data = s;
  ret->length = static_cast<int>(len - 1);
  ret->type = ASN1_UT_BIT_STRING;
  if (a != nullptr) *a = ret;
  *pp += len;
  return ret;
}

/* see morvane/asn1.h */
int ASN1_BIT_STRING_set(ASN1_BIT_STRING* x, unsigned char* d, int len) {
  return ASN1_STRING_set(x, d, len);
}

/* see morvane/asn1.h */
int ASN1_BIT_STRING_set_bit(ASN1_BIT_STRING* a, int n, int value) {
  if (a == nullptr || n < 0) return 0;
  const int w = n / 8;
  const unsigned char v = static_cast<unsigned char>(0x80 >> (n & 7));
  a->flags &= ~0x0FL;  // the unused-bit count is derived again
  if (a->data == nullptr || a->length < w + 1) {
    if (!value) return 1;
    const int old = a->data != nullptr ? a->length : 0;
    auto* c = static_cast<unsigned char*>(
        a->data == nullptr ? MORVANE_malloc(w + 1) : MORVANE_realloc_clean(a->data, old, w + 1));
    if (c == nullptr) {
      ASN1err(ASN1_F_ASN1_BIT_STRING_SET_BIT, ERR_R_MALLOC_FAILURE);
      return 0;
    }
    memset(c + old, 0, w + 1 - old);
    a->data = c;
    a->length = w + 1;
  }
  a->data[w] = value ? (a->data[w] | v) : (a->data[w] & ~v);
  while (a->length > 0 && a->data[a->length - 1] == 0) a->length--;
  return 1;
}

/* see morvane/asn1.h */
int ASN1_BIT_STRING_get_bit(ASN1_BIT_STRING* a, int n) {
  if (a == nullptr || a->data == nullptr || n < 0) return 0;
  const int w = n / 8;
  if (a->length < w + 1) return 0;
  return (a->data[w] & (0x80 >> (n & 7))) != 0;
}

/* see morvane/asn1.h */
int i2d_ASN1_BOOLEAN(int a, unsigned char** pp) {
  if (pp != nullptr) {
    unsigned char* p = *pp;
    ASN1_put_object(&p, 0, 1, ASN1_UT_BOOLEAN, ASN1_CLASS_UNIVERSAL);
    *p++ = static_cast<unsigned char>(a);
    *pp = p;
  }
  return 3;
}

/* see morvane/asn1.h */
int d2i_ASN1_BOOLEAN(int* a, const unsigned char** pp, long length) {
  if (morvane::asn1::null_input(pp, length, ASN1_F_D2I_ASN1_BOOLEAN)) return -1;
  const unsigned char* p = *pp;
  long len;
  int tag, xclass;
  const int inf = ASN1_get_object(&p, &len, &tag, &xclass, length);
  int reason = 0;
  if (inf & ASN1_HDR_ERROR)
    reason = ASN1_R_BAD_OBJECT_HEADER;
  else if (tag != ASN1_UT_BOOLEAN)
    reason = ASN1_R_EXPECTING_A_BOOLEAN;
  else if (len != 1 || (inf & ASN1_HDR_INDEFINITE))
    reason = ASN1_R_BOOLEAN_IS_WRONG_LENGTH;
  if (reason != 0) {
    ASN1err(ASN1_F_D2I_ASN1_BOOLEAN, reason);
    return -1;
  }
  const int ret = *p++;
  if (a != nullptr) *a = ret;
  *pp = p;
  return ret;
}
