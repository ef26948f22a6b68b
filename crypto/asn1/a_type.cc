// The ASN1_TYPE value (any type), the cipher parameter forms stored in one
// (an OCTET STRING, or SEQUENCE { INTEGER, OCTET STRING }), and a string
// written under a given tag.

#include <limits.h>
#include <stdint.h>
#include <string.h>

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/objects.h>

/* see morvane/asn1.h */
int ASN1_TYPE_get(ASN1_TYPE* a) {
  if (a->value.ptr != nullptr || a->type == ASN1_UT_NULL) return a->type;
  return 0;
}

/* see morvane/asn1.h */
void ASN1_TYPE_set(ASN1_TYPE* a, int type, void* value) {
  if (a->value.ptr != nullptr) {
    ASN1_VALUE* tmp = reinterpret_cast<ASN1_VALUE*>(a);
    ASN1_primitive_free(&tmp, nullptr);
  }
  a->type = type;
  a->value.ptr = nullptr;
  if (type == ASN1_UT_BOOLEAN)
    a->value.boolean = value != nullptr ? 0xFF : 0;
  else
    a->value.ptr = static_cast<char*>(value);
}

/* see morvane/asn1.h */
int ASN1_TYPE_set1(ASN1_TYPE* a, int type, const void* value) {
  void* copy = const_cast<void*>(value);
  if (value != nullptr && type != ASN1_UT_BOOLEAN) {
    if (type == ASN1_UT_OBJECT)
      copy = OBJ_dup(static_cast<const ASN1_OBJECT*>(value));
    else
      copy = ASN1_STRING_dup(static_cast<const ASN1_STRING*>(value));
    if (copy == nullptr) return 0;
  }
  ASN1_TYPE_set(a, type, copy);
  return 1;
}

/* see morvane/asn1.h */
int ASN1_TYPE_set_octetstring(ASN1_TYPE* a, unsigned char* data, int len) {
  if (len < 0) return 0;  // no "up to the zero" meaning here: the IV may hold zeros
  ASN1_STRING* os = ASN1_STRING_type_new(ASN1_UT_OCTET_STRING);
  if (os == nullptr) return 0;
  if (!ASN1_STRING_set(os, data, len)) {
    ASN1_STRING_free(os);
    return 0;
  }
  ASN1_TYPE_set(a, ASN1_UT_OCTET_STRING, os);
  return 1;
}

/* see morvane/asn1.h */
int ASN1_TYPE_get_octetstring(ASN1_TYPE* a, unsigned char* data, int max_len) {
  if (a->type != ASN1_UT_OCTET_STRING || a->value.octet_string == nullptr) {
    ASN1err(ASN1_F_ASN1_TYPE_GET_OCTETSTRING, ASN1_R_DATA_IS_WRONG);
    return -1;
  }
  const ASN1_STRING* os = a->value.octet_string;
  const int n = os->length < max_len ? os->length : max_len;
  if (n > 0) memcpy(data, os->data, n);
  return os->length;
}

/* see morvane/asn1.h */
int i2d_ASN1_bytes(ASN1_STRING* a, unsigned char** pp, int tag, int xclass) {
  if (a == nullptr) return 0;
  if (tag == ASN1_UT_BIT_STRING) return i2d_ASN1_BIT_STRING(a, pp);
  const int ret = ASN1_object_size(0, a->length, tag);
  if (pp == nullptr || ret < 0) return ret;
  const int constructed = (tag == ASN1_UT_SEQUENCE || tag == ASN1_UT_SET) ? 1 : 0;
  ASN1_put_object(pp, constructed, a->length, tag, xclass);
  if (a->length > 0) memcpy(*pp, a->data, a->length);
  *pp += a->length;
  return ret;
}

/* see morvane/asn1.h */
int ASN1_TYPE_set_int_octetstring(ASN1_TYPE* a, long num, unsigned char* data, int len) {
  unsigned char buf[32];
  ASN1_INTEGER in = {0, ASN1_UT_INTEGER, buf, 0};
  in.length = sizeof buf;  // the local buffer is reused, not replaced
  ASN1_INTEGER_set(&in, num);
  if (len < 0 || (len > 0 && data == nullptr)) return 0;
  ASN1_STRING os = {len, ASN1_UT_OCTET_STRING, data, 0};
  // Each part's size is checked before the sum, which is taken wide: a
  // string near INT_MAX octets makes the SEQUENCE too long, never a wrap.
  const int ni = i2d_ASN1_INTEGER(&in, nullptr);
  const int no = i2d_ASN1_bytes(&os, nullptr, ASN1_UT_OCTET_STRING, ASN1_CLASS_UNIVERSAL);
  if (ni <= 0 || no <= 0 || static_cast<int64_t>(ni) + no > INT_MAX) return 0;
  const int n = ni + no;
  const int size = ASN1_object_size(1, n, ASN1_UT_SEQUENCE);
  if (size < 0) return 0;
  ASN1_STRING* seq = ASN1_STRING_type_new(ASN1_UT_SEQUENCE);
  if (seq == nullptr) return 0;
  auto* der = static_cast<unsigned char*>(MORVANE_malloc(size));
  if (der == nullptr) {
    ASN1_STRING_free(seq);
    return 0;
  }
  unsigned char* p = der;
  ASN1_put_object(&p, 1, n, ASN1_UT_SEQUENCE, ASN1_CLASS_UNIVERSAL);
  i2d_ASN1_INTEGER(&in, &p);
  i2d_ASN1_bytes(&os, &p, ASN1_UT_OCTET_STRING, ASN1_CLASS_UNIVERSAL);
  ASN1_STRING_set0(seq, der, size);
  ASN1_TYPE_set(a, ASN1_UT_SEQUENCE, seq);
  return 1;
}

/* see morvane/asn1.h */
int ASN1_TYPE_get_int_octetstring(ASN1_TYPE* a, long* num, unsigned char* data, int max_len) {
  int ret = -1;
  ASN1_INTEGER* ai = nullptr;
  ASN1_OCTET_STRING* os = nullptr;
  if (a->type == ASN1_UT_SEQUENCE && a->value.sequence != nullptr) {
    const ASN1_STRING* seq = a->value.sequence;
    ASN1_const_CTX c = {};
    c.pp = &c.p;
    c.p = seq->data;
    c.max = seq->data + seq->length;
    long length = seq->length;
    if (seq->data != nullptr && asn1_GetSequence(&c, &length)) {
      // The legacy parse: each element within what remains of the sequence.
      const unsigned char* end = c.inf & ASN1_HDR_INDEFINITE ? c.max : c.p + c.slen;
      bool ok = end <= c.max;
      if (ok) ok = d2i_ASN1_INTEGER(&ai, &c.p, end - c.p) != nullptr;
      if (ok) ok = d2i_ASN1_OCTET_STRING(&os, &c.p, end - c.p) != nullptr;
      if (ok) {
        if (c.inf & ASN1_HDR_INDEFINITE)
          ok = end - c.p >= 2 && c.p[0] == 0 && c.p[1] == 0;
        else
          ok = c.p == end;
      }
      if (ok) {
        if (num != nullptr) *num = ASN1_INTEGER_get(ai);
        const int n = os->length < max_len ? os->length : max_len;
        if (data != nullptr && n > 0) memcpy(data, os->data, n);
        ret = os->length;
      }
    }
  }
  ASN1_INTEGER_free(ai);
  ASN1_OCTET_STRING_free(os);
  if (ret == -1) ASN1err(ASN1_F_ASN1_TYPE_GET_INT_OCTETSTRING, ASN1_R_DATA_IS_WRONG);
  return ret;
}

/* see morvane/asn1.h */
ASN1_OCTET_STRING* ASN1_OCTET_STRING_dup(const ASN1_OCTET_STRING* a) {
  return ASN1_STRING_dup(a);
}

/* see morvane/asn1.h */
int ASN1_OCTET_STRING_cmp(const ASN1_OCTET_STRING* a, const ASN1_OCTET_STRING* b) {
  return ASN1_STRING_cmp(a, b);
}

/* see morvane/asn1.h */
int ASN1_OCTET_STRING_set(ASN1_OCTET_STRING* str, const unsigned char* data, int len) {
  return ASN1_STRING_set(str, data, len);
}
